// Images freed by what their painters run: an animation handler, the change notification of a
// paint, or a message that a painter on the calling thread dispatches while it waits. The
// program's allocator poisons freed memory (freedmemory.h), so that any use of the freed image
// after its destructor faults or is counted.
#include <gtest/gtest.h>

#include <set>

#include "gifimage/messages.h"
#include "paintfixtures.h"
#include "tests/support/freedmemory.h"
#include "tests/support/messagesink.h"

namespace {
const RECT kRect4x2{0, 0, 4, 2};

enum class Player { DrawImage, StartPainter };
enum class FreedBy { Handler, Message };

struct PlaySetup {
    Player player;
    bool threaded;
    // With restore frames the painter composes on a bitmap of its own; without, it paints
    // straight on its target.
    bool buffered;
    FreedBy freedBy;
};

std::string NameOf(const PlaySetup& s) {
    return std::string(s.player == Player::DrawImage ? "DrawImage" : "StartPainter") +
           (s.threaded ? "Threaded" : "CallingThread") + (s.buffered ? "Buffered" : "Direct") +
           (s.freedBy == FreedBy::Handler ? "InHandler" : "ByMessage");
}
void PrintTo(const PlaySetup& s, std::ostream* os) { *os << NameOf(s); }

FrameSetup Transparent(int left, int width, const Bytes& pixels, int disposal) {
    FrameSetup f;
    f.left = left;
    f.width = width;
    f.height = 2;
    f.pixels = pixels;
    f.transparentIndex = kWhite;
    f.disposal = disposal;
    f.delay = 1;
    return f;
}

// Three frames played twice (loop count 2), each with a transparent pixel, so that drawing it
// transparently notifies the canvas as well as the paint. Buffered: a restore-previous frame
// after a kept one (drawn on the target itself), then a restore-background one.
std::unique_ptr<TGIFImage> ShortAnimation(const PlaySetup& s) {
    const uint8_t R = kRed, G = kGreen, B = kBlue, W = kWhite;
    std::vector<FrameSetup> frames = {Transparent(0, 4, {R, W, R, R, R, R, R, R}, 1),
                                      Transparent(1, 2, {G, W, G, G}, s.buffered ? 3 : 1),
                                      Transparent(2, 2, {B, B, W, B}, s.buffered ? 2 : 1)};
    auto image = Animation(4, 2, frames, LoopSetup{2, 0});
    image->SetSpeedPercent(10000);
    image->SetDrawFlags(static_cast<uint16_t>(dfAnimate | dfLoop | dfTransparent | (s.threaded ? dfThreaded : 0)));
    return image;
}

struct Outcome {
    // "start", "begin N", "done N", "loop N", "end N" from the painter's handlers, "change"
    // from the change notifications of its paints.
    std::vector<std::string> entries;
    // Entries noted when the play freed the image; -1: the play did not free it.
    int freedAt = -1;
    bool painterEnded = false;
};

// Plays the short animation and frees the image when freeAt(index, entry) holds for an entry
// just noted: in that handler, or through a message posted there and dispatched later.
Outcome PlayAndFree(const PlaySetup& s, const std::function<bool(size_t, const std::string&)>& freeAt) {
    Outcome out;
    std::unique_ptr<TGIFImage> image = ShortAnimation(s);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    MessageSink sink;
    EXPECT_TRUE(sink.Valid());
    HANDLE painterThread = nullptr;
    bool triggered = false;
    auto freeImage = [&] {
        out.freedAt = static_cast<int>(out.entries.size());
        image.reset();
    };
    // Returns at once after the free: the image's change handler, which may be the caller,
    // goes with the image.
    auto note = [&](const std::string& entry) {
        out.entries.push_back(entry);
        if (triggered || !freeAt(out.entries.size() - 1, entry)) return;
        triggered = true;
        if (s.freedBy == FreedBy::Handler)
            freeImage();
        else
            sink.Post(freeImage);
    };
    auto painterEntry = [&](const std::string& name) {
        return [&, name](TObject* sender) {
            auto* painter = dynamic_cast<TGIFPainter*>(sender);
            if (!painter) {
                note("no painter");
                return;
            }
            if (name == "start")
                DuplicateHandle(GetCurrentProcess(), painter->Handle(), GetCurrentProcess(), &painterThread,
                                SYNCHRONIZE, FALSE, 0);
            note(name == "start" ? name : name + " " + std::to_string(painter->CurrentFrame()));
        };
    };
    image->OnAnimationStart = painterEntry("start");
    image->OnFrameBegin = painterEntry("begin");
    image->OnFrameDone = painterEntry("done");
    image->OnLoopPass = painterEntry("loop");
    image->OnAnimationEnd = painterEntry("end");
    // The notifications of the painter's paints: through the image for its cached bitmap, or
    // from the caller's canvas. DrawImage's own set-up of the cached bitmap notifies too,
    // before the painter starts.
    image->OnChange = [&](TObject*) {
        if (painterThread) note("change");
    };
    surface.Canvas().OnChange = image->OnChange;

    if (s.player == Player::DrawImage) {
        image->DrawImage(surface.Canvas(), kRect4x2);
    } else {
        TGIFPainter* slot = nullptr;
        if (TGIFPainter* painter = image->StartPainter(&slot, &surface.Canvas(), image->DrawFlags(), kRect4x2))
            painter->StartPainting();
    }
    out.painterEnded = PumpUntil(
        [&] { return painterThread && WaitForSingleObject(painterThread, 0) == WAIT_OBJECT_0; });
    if (painterThread) CloseHandle(painterThread);
    image.reset();
    return out;
}

// The image was freed by the play, nothing of the painter ran after that, the painter ended
// and the freed memory stayed untouched.
void ExpectFreedAndEnded(const Outcome& out) {
    EXPECT_GE(out.freedAt, 0) << "the play did not free the image";
    EXPECT_EQ(static_cast<int>(out.entries.size()), out.freedAt) << "the painter ran on after the free";
    EXPECT_TRUE(out.painterEnded);
    EXPECT_EQ(FreedBlocksWritten(), 0u);
}

std::string Joined(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& e : entries) text += (text.empty() ? "" : ", ") + e;
    return text;
}

// --- One free at a chosen point --------------------------------------------------------------

struct FreeCase {
    const char* name;
    PlaySetup setup;
    const char* trigger;                // the first entry of this text frees the image
    std::vector<std::string> expected;  // the entries of the play
};
void PrintTo(const FreeCase& c, std::ostream* os) { *os << c.name; }

class GifImageFreedByItsPainter : public testing::TestWithParam<FreeCase> {};

TEST_P(GifImageFreedByItsPainter, PainterEndsAndCallerReturns) {
    const FreeCase& c = GetParam();
    const Outcome out = PlayAndFree(c.setup, [&](size_t, const std::string& entry) { return entry == c.trigger; });
    ExpectFreedAndEnded(out);
    EXPECT_EQ(out.entries, c.expected) << Joined(out.entries);
}

// Frame 0 is drawn transparently: the drawing notifies the canvas, then the paint does.
INSTANTIATE_TEST_SUITE_P(Gif, GifImageFreedByItsPainter,
                         testing::Values(
                             // The painter on the calling thread dispatches the message in its wait before frame 1,
                             // with DrawImage and StartPainter below it on the stack.
                             FreeCase{"MessageWhileCallingThreadPainterWaits",
                                      {Player::DrawImage, false, false, FreedBy::Message},
                                      "done 0",
                                      {"start", "begin 0", "change", "change", "done 0"}},
                             FreeCase{"HandlerOfCallingThreadPainter",
                                      {Player::DrawImage, false, false, FreedBy::Handler},
                                      "begin 1",
                                      {"start", "begin 0", "change", "change", "done 0", "begin 1"}},
                             // DrawImage waits for the first frame of its threaded painter and serves its handlers.
                             FreeCase{"FirstFrameBeginDuringDrawImagesWait",
                                      {Player::DrawImage, true, false, FreedBy::Handler},
                                      "begin 0",
                                      {"start", "begin 0"}},
                             FreeCase{"AnimationStartDuringDrawImagesWait",
                                      {Player::DrawImage, true, false, FreedBy::Handler},
                                      "start",
                                      {"start"}},
                             FreeCase{"FirstPaintsChangeDuringDrawImagesWait",
                                      {Player::DrawImage, true, false, FreedBy::Handler},
                                      "change",
                                      {"start", "begin 0", "change"}},
                             FreeCase{"FirstPaintsChangeOnCallingThread",
                                      {Player::DrawImage, false, true, FreedBy::Handler},
                                      "change",
                                      {"start", "begin 0", "change"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A handler that frees the image and then fails: on the calling thread the failure reaches
// DrawImage's caller; a threaded painter keeps it, and DrawImage returns after its wait.
TEST(GifImageFreedByItsPainter, HandlerThatFreesAndFails) {
    for (const bool threaded : {false, true}) {
        SCOPED_TRACE(threaded ? "threaded" : "calling thread");
        std::unique_ptr<TGIFImage> image = ShortAnimation({Player::DrawImage, threaded, false, FreedBy::Handler});
        TGIFImage* const drawn = image.get();
        HANDLE painterThread = nullptr;
        image->OnFrameBegin = [&](TObject* sender) {
            DuplicateHandle(GetCurrentProcess(), dynamic_cast<TGIFPainter&>(*sender).Handle(), GetCurrentProcess(),
                            &painterThread, SYNCHRONIZE, FALSE, 0);
            image.reset();
            throw EConvertError("freed, then failed");
        };
        Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
        std::string failure = "none";
        try {
            drawn->DrawImage(surface.Canvas(), kRect4x2);
        } catch (const EConvertError& e) {
            failure = e.Message();
        }
        EXPECT_EQ(failure, threaded ? "none" : "freed, then failed");
        EXPECT_EQ(image, nullptr);
        EXPECT_TRUE(PumpUntil([&] { return painterThread && WaitForSingleObject(painterThread, 0) == WAIT_OBJECT_0; }));
        if (painterThread) CloseHandle(painterThread);
        EXPECT_EQ(FreedBlocksWritten(), 0u);
    }
}

// A progress handler frees the image while one of its frames renders for a drawing: the
// rendering ends there, and nothing up to DrawImage's caller touches the image or the frame;
// the caller sees the abort at most.
TEST(GifImageFreedByItsPainter, ProgressHandlerWhileAFrameRendersForTheDrawing) {
    struct Case {
        const char* name;
        int frames;
        uint16_t flags;
    } cases[] = {
        {"a still image", 1, 0},
        {"an animation on the target", 3, dfAnimate | dfPaintOnTarget},
        {"an animation through the cached bitmap", 3, dfAnimate},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> colors{kRed, kGreen, kBlue};
        std::unique_ptr<TGIFImage> image = Animation(
            4, 2, SolidFrames(4, 2, std::vector<uint8_t>(colors.begin(), colors.begin() + c.frames), 3),
            LoopSetup{0, 0});
        image->SetDrawFlags(c.flags);
        TGIFImage* const drawn = image.get();
        int reports = 0;
        image->OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const RECT&, const std::string& message) {
            ++reports;
            if (message == sProgressRendering) image.reset();
        };
        Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
        try {
            drawn->DrawImage(surface.Canvas(), kRect4x2);
        } catch (const EAbort&) {
        }
        EXPECT_EQ(image, nullptr);
        EXPECT_GE(reports, 1);
        PumpUntil([] { return false; }, 50);  // what the painters queued runs without the image
        EXPECT_EQ(FreedBlocksWritten(), 0u);
    }
}

// The same for a frame with a transparent colour, freed at each report of its rendering in turn:
// a rendering that ends so leaves its mask alone, since the frame is gone with the image.
TEST(GifImageFreedByItsPainter, ProgressHandlerAtEachRenderingReportOfATransparentFrame) {
    struct Case {
        const char* name;
        uint16_t flags;
    } cases[] = {
        {"own colours", dfTransparent},
        {"dithered", dfTransparent | dfDither},
    };
    for (const Case& c : cases) {
        int reportsFreedAt = 0;
        for (int k = 1;; ++k) {
            SCOPED_TRACE(std::string(c.name) + ", freed at rendering report " + std::to_string(k));
            ASSERT_LT(k, 100);
            FrameSetup frame = Transparent(0, 4, {kRed, kWhite, kRed, kRed, kRed, kRed, kWhite, kRed}, 1);
            std::unique_ptr<TGIFImage> image = Animation(4, 2, {frame});
            image->SetDrawFlags(c.flags);
            TGIFImage* const drawn = image.get();
            int reports = 0;
            image->OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const RECT&, const std::string& message) {
                if (message == sProgressRendering && ++reports == k) image.reset();
            };
            Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
            try {
                drawn->DrawImage(surface.Canvas(), kRect4x2);
            } catch (const EAbort&) {
            }
            EXPECT_EQ(FreedBlocksWritten(), 0u);
            if (image) break;  // the rendering had fewer reports
            ++reportsFreedAt;
        }
        // The start, the running report of row 0 and the end.
        EXPECT_EQ(reportsFreedAt, 3) << c.name;
    }
}

// DrawImage on another rectangle stops its own painter first and serves the queue until that
// painter has gone; a handler of another painter of the image, already waiting in the queue,
// frees the image there.
TEST(GifImageFreedByItsPainter, OtherPainterWhileDrawImageStopsItsOwn) {
    std::unique_ptr<TGIFImage> image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3), LoopSetup{0, 0});
    image->SetDrawFlags(dfThreaded | dfAnimate | dfLoop | dfPaintOnTarget);
    image->SetSpeedPercent(0);  // the own painter shows frame 0 and waits until stopped
    Surface surface(8, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(surface.Canvas(), kRect4x2);
    TGIFPainter* const own = image->OwnPainter();
    ASSERT_NE(own, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return own->FirstFramePainted(); }));
    PumpUntil([] { return false; }, 50);

    std::vector<std::string> entries;
    bool drawing = false;
    image->OnAnimationStart = [&](TObject*) {
        entries.push_back(drawing ? "start while drawing" : "start");
        if (drawing) image.reset();
    };
    Surface other(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    TGIFPainter* const painter = image->StartPainter(nullptr, &other.Canvas(), dfThreaded | dfAnimate, kRect4x2);
    ASSERT_NE(painter, nullptr);
    HANDLE painterThread = nullptr;
    DuplicateHandle(GetCurrentProcess(), painter->Handle(), GetCurrentProcess(), &painterThread, SYNCHRONIZE, FALSE, 0);
    painter->StartPainting();
    Sleep(100);  // its start handler waits in the queue, which nothing serves meanwhile

    drawing = true;
    TGIFImage* const drawn = image.get();
    drawn->DrawImage(surface.Canvas(), RECT{4, 0, 8, 2});
    drawing = false;
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(entries, std::vector<std::string>{"start while drawing"});
    EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(painterThread, 0) == WAIT_OBJECT_0; }));
    CloseHandle(painterThread);
    EXPECT_EQ(surface.At(5, 0), kYellow);
    EXPECT_EQ(FreedBlocksWritten(), 0u);
}

// Optimisation stops every painter of the image first and serves the queue until they have
// gone; a handler of another image's painter, waiting there, frees the image, and the
// optimisation must not go on with it.
TEST(GifImageFreedByItsPainter, OtherImagesHandlerWhileOptimisationStopsThePainters) {
    std::unique_ptr<TGIFImage> image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3), LoopSetup{0, 0});
    image->SetSpeedPercent(0);  // its painter shows frame 0 and waits until stopped
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    TGIFPainter* const own = image->StartPainter(nullptr, &surface.Canvas(), dfThreaded | dfAnimate, kRect4x2);
    ASSERT_NE(own, nullptr);
    own->StartPainting();
    ASSERT_TRUE(PumpUntil([&] { return own->FirstFramePainted(); }));

    std::unique_ptr<TGIFImage> other = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 3), LoopSetup{0, 0});
    std::vector<std::string> entries;
    bool optimising = false;
    other->OnAnimationStart = [&](TObject*) {
        entries.push_back(optimising ? "start while optimising" : "start");
        if (optimising) image.reset();
    };
    Surface otherSurface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    TGIFPainter* const painter = other->StartPainter(nullptr, &otherSurface.Canvas(), dfThreaded | dfAnimate, kRect4x2);
    ASSERT_NE(painter, nullptr);
    painter->StartPainting();
    Sleep(100);  // its start handler waits in the queue, which nothing serves meanwhile

    optimising = true;
    TGIFImage* const optimised = image.get();
    EXPECT_THROW(optimised->OptimizeFrames(osAllOptimizations, crNone), EImageFreed);
    optimising = false;
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(entries, std::vector<std::string>{"start while optimising"});
    other.reset();
    EXPECT_EQ(FreedBlocksWritten(), 0u);
}

// --- A free at every point of the play ------------------------------------------------------

// "begin 2" and the like without the frame.
std::string KindOf(const std::string& entry) { return entry.substr(0, entry.find(' ')); }

class GifImageFreedAtEveryPoint : public testing::TestWithParam<PlaySetup> {};

// The image is freed at each entry of the play in turn, until a play ends before it reaches
// the entry; in several rounds, since a threaded painter's timing differs from run to run.
TEST_P(GifImageFreedAtEveryPoint, PainterEndsAndCallerReturns) {
    const PlaySetup& s = GetParam();
    const int kRounds = 3;
    std::set<std::string> freedAtKinds;
    int freedByPlay = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (size_t at = 0;; ++at) {
            ASSERT_LT(at, 100u) << "the play does not end";
            const Outcome out = PlayAndFree(s, [&](size_t index, const std::string&) { return index == at; });
            SCOPED_TRACE("round " + std::to_string(round) + ", freed at entry " + std::to_string(at) + " of " +
                         Joined(out.entries));
            if (out.entries.size() <= at) {
                // The whole play came before this point: every point has been tried.
                EXPECT_EQ(out.freedAt, -1);
                EXPECT_TRUE(out.painterEnded);
                break;
            }
            if (s.freedBy == FreedBy::Handler) {
                ExpectFreedAndEnded(out);
                EXPECT_EQ(out.freedAt, static_cast<int>(at) + 1);
                freedAtKinds.insert(KindOf(out.entries[at]));
            } else if (out.freedAt >= 0) {
                // Dispatched in the painter's next wait; none follows the last frame.
                ExpectFreedAndEnded(out);
                EXPECT_GT(out.freedAt, static_cast<int>(at));
            } else {
                EXPECT_TRUE(out.painterEnded);
                EXPECT_EQ(FreedBlocksWritten(), 0u);
            }
            freedByPlay += out.freedAt >= 0;
            if (HasFailure()) return;
        }
    }
    if (s.freedBy == FreedBy::Handler) {
        EXPECT_EQ(freedAtKinds, (std::set<std::string>{"begin", "change", "done", "end", "loop", "start"}));
    }
    EXPECT_GT(freedByPlay, 0);
}

std::vector<PlaySetup> EveryPlay() {
    std::vector<PlaySetup> plays;
    for (Player player : {Player::DrawImage, Player::StartPainter})
        for (bool buffered : {false, true}) {
            for (bool threaded : {true, false}) plays.push_back({player, threaded, buffered, FreedBy::Handler});
            // Only a painter on the calling thread dispatches messages.
            plays.push_back({player, false, buffered, FreedBy::Message});
        }
    return plays;
}

INSTANTIATE_TEST_SUITE_P(Gif, GifImageFreedAtEveryPoint, testing::ValuesIn(EveryPlay()),
                         [](const auto& info) { return NameOf(info.param); });
}  // namespace
