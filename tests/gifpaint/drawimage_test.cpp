// TGIFImage::DrawImage: still pictures, the own painter on the cached bitmap, painting on
// the target, re-entry and tiling; results read back from the surfaces.
#include <gtest/gtest.h>

#include "classlib/extctrls.h"
#include "classlib/forms.h"
#include "paintfixtures.h"
#include "tests/support/testseam.h"

namespace {
const RECT kRect4x2{0, 0, 4, 2};

struct StillCase {
    const char* name;
    int frames;
    uint16_t clearedFlags;
    int currentFrameIndex;
    uint8_t expected;
};
void PrintTo(const StillCase& c, std::ostream* os) { *os << c.name; }

class GifStillPicture : public testing::TestWithParam<StillCase> {};

TEST_P(GifStillPicture, DrawsOneFrameDirectlyWithoutPainter) {
    const StillCase& c = GetParam();
    const std::vector<uint8_t> colors = {kRed, kGreen, kBlue};
    auto image = Animation(4, 2, SolidFrames(4, 2, std::vector<uint8_t>(colors.begin(), colors.begin() + c.frames)));
    image->SetDrawFlags(image->DrawFlags() & static_cast<uint16_t>(~c.clearedFlags));
    image->SetCurrentFrameIndex(c.currentFrameIndex);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(surface.Canvas(), kRect4x2);
    EXPECT_EQ(surface.Row(1, 0, 4), Colors({c.expected, c.expected, c.expected, c.expected}));
    EXPECT_TRUE(NoPainters(*image));
    EXPECT_EQ(image->OwnPainter(), nullptr);
    EXPECT_EQ(image->CachedBitmap(), nullptr);
    // Every draw of a still picture draws the frame again.
    Surface again(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(again.Canvas(), kRect4x2);
    EXPECT_EQ(again.At(0, 0), ColorOfIndex(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Gif, GifStillPicture,
                         testing::Values(StillCase{"OneFrame", 1, 0, -1, kRed},
                                         StillCase{"OneFrameIndexIgnoredWhenInvalid", 1, 0, 3, kRed},
                                         StillCase{"NotAnimatedFirst", 3, dfAnimate, -1, kRed},
                                         StillCase{"NotAnimatedChosen", 3, dfAnimate, 2, kBlue},
                                         StillCase{"NotAnimatedBeyondLast", 3, dfAnimate, 3, kRed}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GifDrawImage, EmptyImageDrawsNothing) {
    TGIFImage image;
    Surface surface(2, 2, kYellow, SurfaceKind::ScreenCompatible);
    image.DrawImage(surface.Canvas(), RECT{0, 0, 2, 2});
    EXPECT_EQ(surface.At(0, 0), kYellow);
    EXPECT_TRUE(NoPainters(image));
}

TEST(GifDrawImage, ReentryDrawsNothing) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed}));
    TGIFTestSeam::DrawingNow(*image) = true;
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(surface.Canvas(), kRect4x2);
    EXPECT_EQ(surface.At(0, 0), kYellow);
    EXPECT_TRUE(TGIFTestSeam::DrawingNow(*image));
}

// The first draw waits for the first frame; the painter then plays into the cached bitmap,
// which later draws only copy.
TEST(GifDrawImage, AnimatesThroughOwnPainterAndCachedBitmap) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3));
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(surface.Canvas(), kRect4x2);
    EXPECT_FALSE(TGIFTestSeam::DrawingNow(*image));
    EXPECT_EQ(surface.Row(0, 0, 4), Colors({kRed, kRed, kRed, kRed}));
    ASSERT_NE(image->CachedBitmap(), nullptr);
    EXPECT_NE(image->OwnPainter(), nullptr);
    EXPECT_EQ(PainterCount(*image), 1u);

    ASSERT_TRUE(PumpUntil([&] { return log.Has("end -1") && NoPainters(*image); }));
    EXPECT_EQ(log.entries, (std::vector<std::string>{"start", "begin 0", "done 0", "begin 1", "done 1", "begin 2",
                                                     "done 2", "end -1"}));
    EXPECT_EQ(image->OwnPainter(), nullptr);
    EXPECT_EQ(GetPixel(image->CachedBitmap()->Canvas().Handle(), 3, 1), ColorOfIndex(kBlue));

    // The picture stays on the last frame; drawing again copies it, stretched into the rectangle.
    Surface later(8, 4, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(later.Canvas(), RECT{0, 0, 8, 4});
    EXPECT_EQ(later.Row(3, 0, 8), Colors(std::vector<uint8_t>(8, kBlue)));
    EXPECT_TRUE(NoPainters(*image));
}

TEST(GifDrawImage, CachedBitmapChangesNotifyTheImage) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 3));
    int changes = 0;
    image->OnChange = [&](TObject*) { ++changes; };
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(surface.Canvas(), kRect4x2);
    ASSERT_TRUE(PumpUntil([&] { return NoPainters(*image); }));
    EXPECT_GE(changes, 2);
}

TEST(GifDrawImage, PaintOnTargetKeepsPainterForSameCanvasAndRect) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 3));
    image->SetDrawFlags(image->DrawFlags() | dfPaintOnTarget);
    image->SetSpeedPercent(0);  // stays on the first frame until stopped
    Surface surface(8, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(surface.Canvas(), kRect4x2);
    EXPECT_EQ(image->CachedBitmap(), nullptr);
    TGIFPainter* first = image->OwnPainter();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return first->FirstFramePainted(); }));
    EXPECT_EQ(surface.Row(0, 0, 4), Colors({kRed, kRed, kRed, kRed}));
    EXPECT_EQ(surface.At(4, 0), kYellow);

    image->DrawImage(surface.Canvas(), kRect4x2);
    EXPECT_EQ(image->OwnPainter(), first);
    EXPECT_EQ(PainterCount(*image), 1u);

    // Another rectangle: the old painter is stopped and has gone before the new one starts.
    image->DrawImage(surface.Canvas(), RECT{4, 0, 8, 2});
    ASSERT_NE(image->OwnPainter(), nullptr);
    EXPECT_EQ(PainterCount(*image), 1u);
    EXPECT_EQ(image->OwnPainter()->TargetRect().left, 4);
    EXPECT_TRUE(image->StopAllPainters());
    EXPECT_TRUE(NoPainters(*image));
    EXPECT_EQ(image->OwnPainter(), nullptr);
}

TEST(GifDrawImage, TiledCopiesAtScreenSize) {
    FrameSetup frame;
    frame.width = 2;
    frame.disposal = 1;
    frame.delay = 3;
    frame.pixels = {kRed, kGreen};
    FrameSetup second = frame;
    second.pixels = {kBlue, kGreen};
    auto image = Animation(2, 1, {frame, second});
    image->SetDrawFlags(image->DrawFlags() | dfTile);
    image->SetSpeedPercent(0);
    Surface surface(6, 1, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(surface.Canvas(), RECT{0, 0, 5, 1});
    EXPECT_EQ(surface.Row(0, 0, 6), Colors({kRed, kGreen, kRed, kGreen, kRed, kGreen}));
    EXPECT_TRUE(image->StopAllPainters());
}

TEST(GifDrawImage, StopOwnPainterEndsAnimationAndReleasesBitmap) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 3), LoopSetup{0, 0});
    EventLog log;
    log.Attach(*image);
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(surface.Canvas(), kRect4x2);
    ASSERT_TRUE(PumpUntil([&] { return log.Begun().size() >= 5; }));
    EXPECT_TRUE(image->StopOwnPainter());
    EXPECT_EQ(image->OwnPainter(), nullptr);
    EXPECT_EQ(image->CachedBitmap(), nullptr);
    EXPECT_TRUE(NoPainters(*image));
    EXPECT_FALSE(log.Has("end -1"));
}

TEST(GifDrawImage, ClearingAnImageStopsItsPainters) {
    auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen}, 3), LoopSetup{0, 0});
    Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
    image->DrawImage(surface.Canvas(), kRect4x2);
    ASSERT_NE(image->OwnPainter(), nullptr);
    image->ClearImage();
    EXPECT_TRUE(NoPainters(*image));
    EXPECT_EQ(image->OwnPainter(), nullptr);
    EXPECT_TRUE(image->IsEmpty());
}

TEST(GifDrawImage, DestroyingAnAnimatingImageIsSafe) {
    for (int round = 0; round < 5; ++round) {
        auto image = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3), LoopSetup{0, 0});
        image->SetSpeedPercent(-1);  // paints as fast as the GUI thread lets it
        Surface surface(4, 2, kYellow, SurfaceKind::ScreenCompatible);
        image->DrawImage(surface.Canvas(), kRect4x2);
        PumpUntil([] { return false; }, round * 5);
        image.reset();
        PumpUntil([] { return false; }, 20);
    }
}
}  // namespace

namespace {
// A picture control on a shown form animates its GIF image through the application's message
// loop alone, and freeing the form stops the painter.
TEST(GifDrawImage, AnimatesInPictureControlThroughMessageLoop) {
    Application->Initialize();
    auto* form = new TForm(nullptr, "TGifPaintTestForm", bsDialog);
    form->SetClientSize(100, 50);
    auto* control = new TImage(form, form);
    control->SetBounds(0, 0, 40, 20);
    std::unique_ptr<TGIFImage> owned = Animation(4, 2, SolidFrames(4, 2, {kRed, kGreen, kBlue}, 3), LoopSetup{0, 0});
    TGIFImage* image = owned.get();
    EventLog log;
    log.Attach(*image);
    control->Picture().SetGraphic(std::move(owned));
    form->Show();
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 600) {
        Application->ProcessMessages();
        Sleep(5);
    }
    EXPECT_GE(log.Begun().size(), 6u);
    ASSERT_NE(image->CachedBitmap(), nullptr);
    const COLORREF shown = GetPixel(image->CachedBitmap()->Canvas().Handle(), 1, 1);
    EXPECT_TRUE(shown == ColorOfIndex(kRed) || shown == ColorOfIndex(kGreen) || shown == ColorOfIndex(kBlue));
    // The painter's changes repaint the control, which copies the cached bitmap.
    UpdateWindow(control->Handle());
    HDC dc = GetDC(control->Handle());
    const COLORREF onScreen = GetPixel(dc, 3, 1);
    ReleaseDC(control->Handle(), dc);
    EXPECT_TRUE(onScreen == ColorOfIndex(kRed) || onScreen == ColorOfIndex(kGreen) || onScreen == ColorOfIndex(kBlue))
        << std::hex << onScreen;
    delete form;
    const size_t begun = log.Begun().size();
    Application->ProcessMessages();
    Sleep(100);
    Application->ProcessMessages();
    EXPECT_EQ(log.Begun().size(), begun);
}
}  // namespace
