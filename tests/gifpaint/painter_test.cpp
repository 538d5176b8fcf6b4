// TGIFPainter: construction, passes and loop counts, frame timing, disposal methods,
// stopping, failing handlers and the message pumping of a painter on the calling thread.
#include "gifimage/giferror.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "paintfixtures.h"
#include "tests/support/testseam.h"

#include <gtest/gtest.h>
#include <mmsystem.h>

namespace {
const uint16_t kThreadedFlags = dfThreaded | dfAnimate | dfLoop;
const uint16_t kCallingThreadFlags = dfAnimate | dfLoop;

// Starts a painter with no owner slot on the surface and pumps until it has left the image.
bool PlayOn(TGIFImage& image, Surface& surface, uint16_t flags, const RECT& rect, int timeoutMs = 5000) {
    if (TGIFPainter* painter = image.StartPainter(nullptr, &surface.Canvas(), flags, rect)) painter->StartPainting();
    return PumpUntil([&] { return NoPainters(image); }, timeoutMs);
}

// Starts a threaded painter with no owner slot on the surface's 4 x 2 rectangle.
TGIFPainter* Started(TGIFImage& image, Surface& surface, uint16_t flags) {
    TGIFPainter* painter = image.StartPainter(nullptr, &surface.Canvas(), flags, RECT{0, 0, 4, 2});
    if (painter) painter->StartPainting();
    return painter;
}

// --- Construction ---------------------------------------------------------------------

struct ConstructionCase {
    const char* name;
    int frames;
    uint16_t flags;
    int speed;
    int disposal;
    bool wakeEvent, composite, underlay;
};
void PrintTo(const ConstructionCase& c, std::ostream* os) { *os << c.name; }

class GifPainterConstruction : public testing::TestWithParam<ConstructionCase> {};

TEST_P(GifPainterConstruction, CreatesEventAndBitmapsAsNeeded) {
    const ConstructionCase& c = GetParam();
    const std::vector<uint8_t> colors = {kRed, kGreen, kBlue};
    auto image = Animation(
        4, 2, SolidFrames(4, 2, std::vector<uint8_t>(colors.begin(), colors.begin() + c.frames), 3, c.disposal));
    image->SetSpeedPercent(c.speed);
    image->SetPainterPriority(1);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    TGIFPainter* slot = nullptr;
    TGIFPainter* painter = image->StartPainter(&slot, &surface.Canvas(), c.flags, RECT{0, 0, 4, 2});
    ASSERT_NE(painter, nullptr);
    EXPECT_EQ(slot, painter);
    EXPECT_TRUE(painter->Suspended());
    EXPECT_EQ(painter->CurrentFrame(), -1);
    EXPECT_FALSE(painter->FirstFramePainted());
    EXPECT_EQ(painter->WakeEvent() != nullptr, c.wakeEvent);
    EXPECT_EQ(painter->CompositeBitmap() != nullptr, c.composite);
    EXPECT_EQ(painter->ScratchBitmap() != nullptr, c.composite);
    EXPECT_EQ(painter->UnderlayBitmap() != nullptr, c.underlay);
    if (painter->CompositeBitmap()) {
        EXPECT_EQ(painter->CompositeBitmap()->Width(), 4);
        EXPECT_EQ(GetPixel(painter->CompositeBitmap()->Canvas().Handle(), 3, 1), kYellow);
    }
    EXPECT_EQ(painter->Priority(), THREAD_PRIORITY_LOWEST);
    painter->StopPainting();
    EXPECT_EQ(painter->Priority(), THREAD_PRIORITY_NORMAL);
    // A stopped suspended painter still runs its body (without painting) and detaches.
    ASSERT_TRUE(PumpUntil([&] { return NoPainters(*image); }));
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(surface.At(0, 0), kYellow);
}

const uint16_t kDefault = 0x068F;
INSTANTIATE_TEST_SUITE_P(
    Gif, GifPainterConstruction,
    testing::Values(ConstructionCase{"Defaults", 3, kDefault, 100, 1, true, true, true},
                    ConstructionCase{"SpeedZero", 3, kDefault, 0, 1, true, true, true},
                    ConstructionCase{"NegativeSpeed", 3, kDefault, -1, 1, false, true, true},
                    ConstructionCase{"NotAnimated", 3, kDefault & ~dfAnimate, 100, 1, false, true, true},
                    ConstructionCase{"KeepFramesUnbuffered", 3, kThreadedFlags | dfTransparent, 100, 1, true, false,
                                     false},
                    ConstructionCase{"RestorePrevious", 3, kThreadedFlags | dfTransparent, 100, 3, true, true, false},
                    ConstructionCase{"RestoreBackgroundOpaque", 3, kThreadedFlags, 100, 2, true, true, false},
                    ConstructionCase{"NoControlExtension", 2, kDefault, 100, -1, true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GifStartPainter, OneFrameRunsAtOnceOnCallingThread) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kGreen}));
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    TGIFPainter* slot = reinterpret_cast<TGIFPainter*>(1);
    EXPECT_EQ(image->StartPainter(&slot, &surface.Canvas(), kDefault, RECT{0, 0, 4, 2}), nullptr);
    EXPECT_EQ(slot, nullptr);
    EXPECT_TRUE(NoPainters(*image));
    EXPECT_EQ(surface.At(3, 1), ColorOfIndex(kGreen));
    EXPECT_EQ(log.entries, (std::vector<std::string>{"start", "begin 0", "done 0", "end -1"}));
}

TEST(GifStartPainter, EmptyImageOrRectangleGivesNoPainter) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}));
    TGIFImage empty;
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    const RECT rects[] = {{0, 0, 0, 2}, {0, 0, 4, 0}, {4, 0, 2, 2}};
    for (const RECT& rect : rects) {
        TGIFPainter* slot = reinterpret_cast<TGIFPainter*>(1);
        EXPECT_EQ(image->StartPainter(&slot, &surface.Canvas(), kDefault, rect), nullptr);
        EXPECT_EQ(slot, nullptr);
    }
    TGIFPainter* slot = reinterpret_cast<TGIFPainter*>(1);
    EXPECT_EQ(empty.StartPainter(&slot, &surface.Canvas(), kDefault, RECT{0, 0, 4, 2}), nullptr);
    EXPECT_EQ(slot, nullptr);
    EXPECT_TRUE(NoPainters(*image));
    EXPECT_EQ(surface.At(0, 0), kYellow);
}

// --- Passes and loop counts -------------------------------------------------------------

struct PassCase {
    const char* name;
    LoopSetup loop;
    uint16_t flags;
    int speed;
    std::vector<std::string> begun;  // empty: plays until stopped
    int loopPasses;
};
void PrintTo(const PassCase& c, std::ostream* os) { *os << c.name; }

class GifPainterPasses : public testing::TestWithParam<PassCase> {};

TEST_P(GifPainterPasses, PlayFramesAsLoopCountAndFlagsSay) {
    const PassCase& c = GetParam();
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3), c.loop);
    image->SetSpeedPercent(c.speed);
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    if (c.begun.empty()) {
        TGIFPainter* painter = Started(*image, surface, c.flags);
        ASSERT_NE(painter, nullptr);
        ASSERT_TRUE(PumpUntil([&] { return log.Begun().size() >= 12; }));
        EXPECT_TRUE(PainterCount(*image) == 1);
        EXPECT_TRUE(image->StopAllPainters());
        EXPECT_TRUE(NoPainters(*image));
        EXPECT_FALSE(log.Has("end -1"));
        return;
    }
    ASSERT_TRUE(PlayOn(*image, surface, c.flags, RECT{0, 0, 4, 2}));
    EXPECT_EQ(log.Begun(), c.begun);
    int loops = 0;
    for (const std::string& e : log.entries) loops += e.rfind("loop", 0) == 0;
    EXPECT_EQ(loops, c.loopPasses);
    ASSERT_FALSE(log.entries.empty());
    EXPECT_EQ(log.entries.back(), "end -1");
    // The picture stays on the last frame shown.
    const std::string last = c.begun.back();
    EXPECT_EQ(surface.At(2, 1), ColorOfIndex(static_cast<uint8_t>(std::stoi(last))));
}

const std::vector<std::string> kOnce = {"0", "1", "2"};
INSTANTIATE_TEST_SUITE_P(
    Gif, GifPainterPasses,
    testing::Values(
        PassCase{"NoLoopExtensionOnce", {-1, 0}, kThreadedFlags, -1, kOnce, 0},
        PassCase{"CountThreeThreaded", {3, 0}, kThreadedFlags, -1, {"0", "1", "2", "0", "1", "2", "0", "1", "2"}, 2},
        PassCase{"LaterPassesStartAtLoopFrame", {2, 1}, kThreadedFlags, -1, {"0", "1", "2", "1", "2"}, 1},
        PassCase{"WithoutLoopFlagOnce", {3, 0}, dfThreaded | dfAnimate, -1, kOnce, 0},
        PassCase{"NotAnimatedFirstFrameOnly", {3, 0}, kThreadedFlags & ~dfAnimate, -1, {"0"}, 0},
        PassCase{"CountZeroThreadedEndless", {0, 0}, kThreadedFlags, -1, {}, 0},
        PassCase{"LoopEndlesslyWithoutExtension", {-1, 0}, kThreadedFlags | dfLoopEndlessly, -1, {}, 0},
        PassCase{"CountZeroCallingThreadOnce", {0, 0}, kCallingThreadFlags, 2000, kOnce, 0},
        PassCase{"CountTwoCallingThread", {2, 0}, kCallingThreadFlags, 2000, {"0", "1", "2", "0", "1", "2"}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GifPainterPasses, EmptyFrameEndsThePass) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3), LoopSetup{2, 0});
    image->Frames()->FrameAt(1)->ResetFrame();
    image->SetSpeedPercent(-1);
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    ASSERT_TRUE(PlayOn(*image, surface, kThreadedFlags, RECT{0, 0, 4, 2}));
    EXPECT_EQ(log.Begun(), (std::vector<std::string>{"0", "0"}));
}

TEST(GifPainterPasses, PassWithoutPaintIsNotRepeatedEndlessly) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 3));
    image->Frames()->FrameAt(0)->ResetFrame();
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    ASSERT_TRUE(PlayOn(*image, surface, kThreadedFlags | dfLoopEndlessly, RECT{0, 0, 4, 2}));
    EXPECT_TRUE(log.Begun().empty());
    EXPECT_EQ(surface.At(0, 0), kYellow);
}

TEST(GifPainterPasses, FrameDoneHandlerMayJumpToAnotherFrame) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3));
    image->SetSpeedPercent(-1);
    EventLog log;
    log.action = [](TGIFPainter& painter, const std::string& entry) {
        if (entry == "done 0") painter.SetCurrentFrame(2);
    };
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    ASSERT_TRUE(PlayOn(*image, surface, kThreadedFlags, RECT{0, 0, 4, 2}));
    EXPECT_EQ(log.Begun(), (std::vector<std::string>{"0", "2"}));
}

// --- Timing -------------------------------------------------------------------------------

struct TimingCase {
    const char* name;
    int disposal;  // -1: frame 0 has no graphic control extension
    int delay;
    int speed;
    int expectedMs;
};
void PrintTo(const TimingCase& c, std::ostream* os) { *os << c.name; }

class GifPainterTiming : public testing::TestWithParam<TimingCase> {};

// The first frame is painted at once; the second waits the first frame's delay.
TEST_P(GifPainterTiming, SecondFrameWaitsFirstFramesDelay) {
    const TimingCase& c = GetParam();
    std::vector<FrameSetup> frames = SolidFrames(4, 2, {kRed, kGreen}, c.delay);
    frames[0].disposal = c.disposal;
    auto image = Animation(4, 2, frames);
    image->SetSpeedPercent(c.speed);
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    ASSERT_TRUE(PlayOn(*image, surface, kThreadedFlags, RECT{0, 0, 4, 2}));
    ASSERT_EQ(log.beginTimes.size(), 2u);
    const int waited = static_cast<int>(log.beginTimes[1] - log.beginTimes[0]);
    EXPECT_GE(waited, c.expectedMs * 3 / 4);
    EXPECT_LE(waited, c.expectedMs * 3 / 2 + 20);
}

INSTANTIATE_TEST_SUITE_P(Gif, GifPainterTiming,
                         testing::Values(TimingCase{"Delay10", 1, 10, 100, 120},
                                         TimingCase{"TwiceAsFast", 1, 10, 200, 60},
                                         TimingCase{"HalfSpeed", 1, 10, 50, 240},
                                         TimingCase{"DelayZeroIsDefault", 1, 0, 100, 120},
                                         TimingCase{"NoControlExtensionIsDefault", -1, 1, 100, 120},
                                         TimingCase{"DelayOneRaisedToMinimum", 1, 1, 100, 36}),
                         [](const auto& info) { return std::string(info.param.name); });

// 5000 units: lowered to 1000 on the calling thread only (measured at 100 times the speed).
TEST(GifPainterTiming, LongDelayLoweredOnlyOnCallingThread) {
    for (const auto& [flags, expectedMs] :
         {std::pair<uint16_t, int>{kThreadedFlags, 600}, {kCallingThreadFlags, 120}}) {
        SCOPED_TRACE(expectedMs);
        auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 5000));
        image->SetSpeedPercent(10000);
        EventLog log;
        log.Attach(*image);
        Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
        ASSERT_TRUE(PlayOn(*image, surface, flags, RECT{0, 0, 4, 2}));
        ASSERT_EQ(log.beginTimes.size(), 2u);
        const int waited = static_cast<int>(log.beginTimes[1] - log.beginTimes[0]);
        EXPECT_GE(waited, expectedMs * 3 / 4);
        EXPECT_LE(waited, expectedMs * 3 / 2 + 20);
    }
}

TEST(GifPainterTiming, SpeedZeroPaintsFirstFrameAndWaitsUntilStopped) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 1));
    image->SetSpeedPercent(0);
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    TGIFPainter* painter = Started(*image, surface, kThreadedFlags);
    ASSERT_NE(painter, nullptr);
    PumpUntil([] { return false; }, 400);
    EXPECT_EQ(log.Begun(), std::vector<std::string>{"0"});
    EXPECT_EQ(surface.At(0, 0), ColorOfIndex(kRed));
    EXPECT_TRUE(image->StopAllPainters());
    EXPECT_TRUE(NoPainters(*image));
}

// A stop wakes a painter from a long frame delay (5000 units are a minute when threaded).
TEST(GifPainterTiming, StopDoesNotWaitForFrameDelay) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 5000));
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    TGIFPainter* painter = Started(*image, surface, kThreadedFlags);
    ASSERT_NE(painter, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return log.Has("done 0"); }));
    PumpUntil([] { return false; }, 200);
    const DWORD before = GetTickCount();
    EXPECT_TRUE(image->StopAllPainters());
    EXPECT_LT(GetTickCount() - before, 5000u);
    EXPECT_EQ(log.Begun(), std::vector<std::string>{"0"});
}

// --- Disposal methods ---------------------------------------------------------------------

struct DisposalCase {
    const char* name;
    std::vector<FrameSetup> frames;
    uint16_t flags;
    // Row 0 of the target after each frame's paint (read in its OnFrameDone).
    std::vector<std::vector<uint8_t>> rows;
};
void PrintTo(const DisposalCase& c, std::ostream* os) { *os << c.name; }

FrameSetup Full(uint8_t color, int disposal) {
    FrameSetup f;
    f.width = 4;
    f.height = 1;
    f.color = color;
    f.disposal = disposal;
    f.delay = 3;
    return f;
}

FrameSetup Dot(int left, uint8_t color, int disposal) {
    FrameSetup f;
    f.left = left;
    f.color = color;
    f.disposal = disposal;
    f.delay = 3;
    return f;
}

const uint16_t kBuffered = kThreadedFlags | dfClearFirstFrame;
const uint8_t W = kWhite, R = kRed, G = kGreen, B = kBlue;

class GifPainterDisposal : public testing::TestWithParam<std::tuple<DisposalCase, int>> {};

// Played on a rectangle at the surface's origin and on one offset into a larger surface.
TEST_P(GifPainterDisposal, ComposesFramesAsTheirDisposalSays) {
    const DisposalCase& c = std::get<0>(GetParam());
    const int offset = std::get<1>(GetParam());
    auto image = Animation(4, 1, c.frames);
    image->SetSpeedPercent(-1);
    Surface surface(4 + 2 * offset, 1 + 2 * offset, RGB(255, 255, 255), SurfaceKind::ScreenCompatible);
    const RECT rect{offset, offset, offset + 4, offset + 1};
    std::vector<std::vector<COLORREF>> rows;
    EventLog log;
    log.action = [&](TGIFPainter&, const std::string& entry) {
        if (entry.rfind("done", 0) == 0) rows.push_back(surface.Row(offset, offset, 4));
    };
    log.Attach(*image);
    ASSERT_TRUE(PlayOn(*image, surface, c.flags, rect));
    std::vector<std::vector<COLORREF>> expected;
    for (const auto& row : c.rows) expected.push_back(Colors(row));
    EXPECT_EQ(rows, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Gif, GifPainterDisposal,
    testing::Combine(testing::Values(DisposalCase{"KeepDirect",
                                                  {Full(R, 1), Dot(1, G, 1), Dot(2, B, 0)},
                                                  kThreadedFlags,
                                                  {{R, R, R, R}, {R, G, R, R}, {R, G, B, R}}},
                                     DisposalCase{"KeepBuffered",
                                                  {Full(R, 1), Dot(1, G, 1), Dot(2, B, 0)},
                                                  kBuffered,
                                                  {{R, R, R, R}, {R, G, R, R}, {R, G, B, R}}},
                                     DisposalCase{"RestoreBackground",
                                                  {Full(R, 1), Dot(1, G, 2), Dot(2, B, 1)},
                                                  kBuffered,
                                                  {{R, R, R, R}, {R, G, R, R}, {R, W, B, R}}},
                                     DisposalCase{"RestorePreviousAfterKeep",
                                                  {Full(R, 1), Dot(1, G, 3), Dot(2, B, 1)},
                                                  kBuffered,
                                                  {{R, R, R, R}, {R, G, R, R}, {R, R, B, R}}},
                                     DisposalCase{"RestorePreviousAfterBackground",
                                                  {Full(R, 2), Dot(1, G, 3), Dot(2, B, 1)},
                                                  kBuffered,
                                                  {{R, R, R, R}, {W, G, W, W}, {W, W, B, W}}},
                                     DisposalCase{"ReservedNotPainted",
                                                  {Full(R, 1), Dot(1, G, 4), Dot(2, B, 1)},
                                                  kBuffered,
                                                  {{R, R, R, R}, {R, R, R, R}, {R, R, B, R}}},
                                     DisposalCase{"RestorePreviousAfterReservedNotPainted",
                                                  {Full(R, 1), Dot(1, G, 5), Dot(2, B, 3), Dot(3, G, 1)},
                                                  kBuffered,
                                                  {{R, R, R, R}, {R, R, R, R}, {R, R, R, R}, {R, R, R, G}}}),
                     testing::Values(0, 2)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "Offset" : "");
    });

// Transparent frames: a restored area shows what lay under the image when the painter began.
TEST(GifPainterDisposal, RestoreBackgroundTransparentShowsUnderlay) {
    FrameSetup first = Full(R, 1);
    first.pixels = {R, W, W, R};
    first.transparentIndex = W;
    std::vector<FrameSetup> frames = {first, Dot(1, G, 2), Dot(3, B, 1)};
    auto image = Animation(4, 1, frames);
    image->SetSpeedPercent(-1);
    Surface surface(4, 1, kYellow, SurfaceKind::ScreenCompatible);
    std::vector<std::vector<COLORREF>> rows;
    EventLog log;
    log.action = [&](TGIFPainter&, const std::string& entry) {
        if (entry.rfind("done", 0) == 0) rows.push_back(surface.Row(0, 0, 4));
    };
    log.Attach(*image);
    ASSERT_TRUE(PlayOn(*image, surface, kBuffered | dfTransparent, RECT{0, 0, 4, 1}));
    const COLORREF Y = kYellow;
    const COLORREF r = ColorOfIndex(R), g = ColorOfIndex(G), b = ColorOfIndex(B);
    EXPECT_EQ(rows, (std::vector<std::vector<COLORREF>>{{r, Y, Y, r}, {r, g, Y, r}, {r, Y, Y, b}}));
}

struct TileCase {
    const char* name;
    uint16_t flags;
    std::vector<COLORREF> lastRow;
};
void PrintTo(const TileCase& c, std::ostream* os) { *os << c.name; }

class GifPainterTiledDisposal : public testing::TestWithParam<TileCase> {};

// A tiled frame restored to the background is erased at every tile of a 2 x 2 screen drawn
// twice across: from the underlay when transparent, with the background colour when opaque.
TEST_P(GifPainterTiledDisposal, ErasesEveryTile) {
    FrameSetup first;
    first.width = 2;
    first.height = 2;
    first.pixels = {R, G, G, R};
    first.disposal = 1;
    first.delay = 3;
    FrameSetup dot = Dot(1, B, 2);
    FrameSetup last = Dot(0, B, 1);
    last.top = 1;
    auto image = Animation(2, 2, {first, dot, last});
    image->SetSpeedPercent(-1);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    std::vector<std::vector<COLORREF>> rows;
    EventLog log;
    log.action = [&](TGIFPainter&, const std::string& entry) {
        if (entry.rfind("done", 0) == 0) rows.push_back(surface.Row(0, 0, 4));
    };
    log.Attach(*image);
    ASSERT_TRUE(PlayOn(*image, surface, GetParam().flags, RECT{0, 0, 4, 2}));
    const COLORREF r = ColorOfIndex(R), g = ColorOfIndex(G), b = ColorOfIndex(B);
    EXPECT_EQ(rows, (std::vector<std::vector<COLORREF>>{{r, g, r, g}, {r, b, r, b}, GetParam().lastRow}));
    EXPECT_EQ(surface.At(2, 1), b);
}

INSTANTIATE_TEST_SUITE_P(
    Gif, GifPainterTiledDisposal,
    testing::Values(
        TileCase{
            "Transparent", kBuffered | dfTile | dfTransparent, {ColorOfIndex(R), kYellow, ColorOfIndex(R), kYellow}},
        TileCase{"Opaque", kBuffered | dfTile, {ColorOfIndex(R), ColorOfIndex(W), ColorOfIndex(R), ColorOfIndex(W)}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GifPainterDisposal, BackgroundOverrideColoursRestoredArea) {
    auto image = Animation(4, 1, {Full(R, 1), Dot(1, G, 2), Dot(2, B, 1)});
    image->SetSpeedPercent(-1);
    image->SetBackgroundOverride(static_cast<TColor>(RGB(10, 20, 30)));
    Surface surface(4, 1, kYellow, SurfaceKind::ScreenCompatible);
    ASSERT_TRUE(PlayOn(*image, surface, kBuffered, RECT{0, 0, 4, 1}));
    EXPECT_EQ(surface.Row(0, 0, 4),
              (std::vector<COLORREF>{ColorOfIndex(R), RGB(10, 20, 30), ColorOfIndex(B), ColorOfIndex(R)}));
}

// --- Stopping and failures ---------------------------------------------------------------

TEST(GifPainterStopping, StopAllWaitsForEveryThreadedPainter) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 3), LoopSetup{0, 0});
    std::vector<std::unique_ptr<Surface>> surfaces;
    for (int i = 0; i < 3; ++i) {
        surfaces.push_back(std::make_unique<Surface>(4, 2, kYellow));
        TGIFPainter* painter = image->StartPainter(nullptr, &surfaces.back()->Canvas(), kThreadedFlags,
                                                   RECT{0, 0, 4, 2});
        ASSERT_NE(painter, nullptr);
        if (i < 2) painter->StartPainting();  // the third stays suspended until stopped
    }
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(image->StopAllPainters());
    EXPECT_TRUE(NoPainters(*image));
}

struct StopFromThread {
    TGIFImage* image;
    volatile bool finished = false;
    size_t paintersAfterStop = 99;
    bool imageLivesAfterStop = false;
    static DWORD WINAPI Run(void* self) {
        auto* s = static_cast<StopFromThread*>(self);
        s->imageLivesAfterStop = s->image->StopAllPainters();
        s->paintersAfterStop = PainterCount(*s->image);
        s->finished = true;
        return 0;
    }
};

TEST(GifPainterStopping, FromAnotherThreadWaitsForGuiThreadToServiceDetaches) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 3), LoopSetup{0, 0});
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    TGIFPainter* painter = Started(*image, surface, kThreadedFlags);
    ASSERT_NE(painter, nullptr);
    PumpUntil([] { return false; }, 50);
    StopFromThread stop{image.get()};
    HANDLE thread = CreateThread(nullptr, 0, &StopFromThread::Run, &stop, 0, nullptr);
    // Without the GUI thread serving its queue the stop cannot finish.
    Sleep(200);
    EXPECT_FALSE(stop.finished);
    ASSERT_TRUE(PumpUntil([&] { return stop.finished; }));
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(stop.paintersAfterStop, 0u);
    EXPECT_TRUE(stop.imageLivesAfterStop);
}

TEST(GifPainterStopping, TargetThatStopsBeingDeviceContextEndsPainterSilently) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3), LoopSetup{0, 0});
    image->SetSpeedPercent(0);
    EventLog log;
    log.Attach(*image);
    auto surface = std::make_unique<Surface>(4, 2, kYellow);
    TGIFPainter* painter = Started(*image, *surface, kBuffered | dfValidateTarget);
    ASSERT_NE(painter, nullptr);
    // A memory device context is a device context: the first frame is painted.
    ASSERT_TRUE(PumpUntil([&] { return log.Has("done 0"); }));
    EXPECT_EQ(surface->At(0, 0), ColorOfIndex(kRed));
    surface->DeleteContext();
    SetEvent(painter->WakeEvent());
    ASSERT_TRUE(PumpUntil([&] { return NoPainters(*image); }));
    EXPECT_EQ(log.entries, (std::vector<std::string>{"start", "begin 0", "done 0", "begin 1"}));
}

// A handler (run on the GUI thread while its painter waits for it) that clears or frees the
// image cannot wait for that painter; the stop returns and the painter ends afterwards.
TEST(GifPainterStopping, HandlerMayClearOrFreeTheImage) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroy" : "clear");
        auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3), LoopSetup{0, 0});
        image->SetSpeedPercent(-1);
        bool handled = false;
        EventLog log;
        log.action = [&](TGIFPainter&, const std::string& entry) {
            if (entry != "done 1" || handled) return;
            handled = true;
            if (destroy)
                image.reset();
            else
                image->ClearImage();
        };
        log.Attach(*image);
        Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
        image->DrawImage(surface.Canvas(), RECT{0, 0, 4, 2});
        ASSERT_TRUE(PumpUntil([&] { return handled; }));
        if (!destroy) {
            ASSERT_TRUE(PumpUntil([&] { return NoPainters(*image); }));
            EXPECT_TRUE(image->IsEmpty());
            EXPECT_EQ(image->OwnPainter(), nullptr);
        } else {
            PumpUntil([] { return false; }, 100);
        }
        EXPECT_EQ(log.Begun(), (std::vector<std::string>{"0", "1"}));
    }
}

struct FailureCase {
    const char* name;
    uint16_t flags;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class GifPainterFailure : public testing::TestWithParam<FailureCase> {};

// A handler's exception ends the body at once: no further frames, no end notification.
TEST_P(GifPainterFailure, ExceptionInBodyEndsPainter) {
    const bool threaded = (GetParam().flags & dfThreaded) != 0;
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3));
    image->SetSpeedPercent(2000);
    EventLog log;
    log.action = [](TGIFPainter&, const std::string& entry) {
        if (entry == "begin 1") throw EConvertError("handler failed");
    };
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    TGIFPainter* slot = nullptr;
    if (threaded) {
        TGIFPainter* painter = image->StartPainter(&slot, &surface.Canvas(), GetParam().flags, RECT{0, 0, 4, 2});
        ASSERT_NE(painter, nullptr);
        painter->StartPainting();
        ASSERT_TRUE(PumpUntil([&] { return NoPainters(*image); }));
    } else {
        try {
            image->StartPainter(&slot, &surface.Canvas(), GetParam().flags, RECT{0, 0, 4, 2});
            ADD_FAILURE() << "no exception";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "handler failed");
        }
        EXPECT_TRUE(NoPainters(*image));
    }
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(log.entries, (std::vector<std::string>{"start", "begin 0", "done 0", "begin 1"}));
    EXPECT_EQ(surface.At(0, 0), ColorOfIndex(kRed));
}

INSTANTIATE_TEST_SUITE_P(Gif, GifPainterFailure,
                         testing::Values(FailureCase{"Threaded", kThreadedFlags},
                                         FailureCase{"CallingThread", kCallingThreadFlags}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GifPainterFailure, DrawImageOnCallingThreadPassesExceptionOn) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 3));
    image->SetDrawFlags(image->DrawFlags() & static_cast<uint16_t>(~dfThreaded));
    image->SetSpeedPercent(2000);
    image->OnFrameDone = [](TObject*) { throw GIFException("stop here"); };
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    EXPECT_EQ(GIFErrorOf([&] { image->DrawImage(surface.Canvas(), RECT{0, 0, 4, 2}); }), "stop here");
    EXPECT_FALSE(TGIFTestSeam::DrawingNow(*image));
    EXPECT_EQ(image->OwnPainter(), nullptr);
    EXPECT_TRUE(NoPainters(*image));
    EXPECT_EQ(PainterCount(*image), 0u);
}

// --- Painters on the calling thread -------------------------------------------------------

TEST(GifPainterCallingThread, PaintsEveryFrameAndReturnsLastPicture) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3));
    image->SetDrawFlags(image->DrawFlags() & static_cast<uint16_t>(~dfThreaded));
    image->SetSpeedPercent(1000);
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(surface.Canvas(), RECT{0, 0, 4, 2});
    EXPECT_EQ(log.Begun(), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(surface.At(1, 1), ColorOfIndex(kBlue));
    EXPECT_EQ(image->OwnPainter(), nullptr);
    EXPECT_TRUE(NoPainters(*image));
}

TEST(GifPainterCallingThread, QuitMessageEndsPainterAndIsPostedAgain) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3), LoopSetup{0, 0});
    image->SetSpeedPercent(1000);
    EventLog log;
    log.action = [](TGIFPainter&, const std::string& entry) {
        if (entry == "done 0") PostQuitMessage(7);
    };
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    EXPECT_EQ(image->StartPainter(nullptr, &surface.Canvas(), kCallingThreadFlags | dfLoopEndlessly, RECT{0, 0, 4, 2}),
              nullptr);
    EXPECT_EQ(log.Begun(), std::vector<std::string>{"0"});
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
}

int timerCalls = 0;
void CALLBACK CountTimer(HWND, UINT, UINT_PTR, DWORD) { ++timerCalls; }

TEST(GifPainterCallingThread, DispatchesMessagesWhileWaiting) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 10));
    image->SetSpeedPercent(100);
    timerCalls = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 10, &CountTimer);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->StartPainter(nullptr, &surface.Canvas(), kCallingThreadFlags, RECT{0, 0, 4, 2});
    KillTimer(nullptr, timer);
    EXPECT_GE(timerCalls, 1);
    EXPECT_EQ(surface.At(0, 0), ColorOfIndex(kGreen));
}
}  // namespace
