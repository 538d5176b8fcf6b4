// What an operation on a frame holds across its handlers while the frame stays: the cached
// objects of a frame it imports into, which a handler's drawing of another frame could give
// back, and the colour table it renders from, which a handler could grow into new storage.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "gifimage/colormap.h"
#include "gifimage/subimage.h"
#include "tests/gifpaint/paintfixtures.h"
#include "tests/support/freedmemory.h"

namespace {
constexpr int kWidth = 4;
// Two running reports of the import (every 32 rows).
constexpr int kHeight = 34;

// Drawing a frame of an image of more than 64 frames gives back the cached objects of the
// frames far before it; a frame in work is not among them.
TEST(GifFramesInWork, AnImportKeepsItsBitmapWhileAHandlerDrawsAFrameFarAfterIt) {
    std::vector<uint8_t> colors;
    for (int i = 0; i < 70; ++i) colors.push_back(static_cast<uint8_t>(i % 3));
    std::unique_ptr<TGIFImage> image = Animation(kWidth, kHeight, SolidFrames(kWidth, kHeight, colors));
    for (int f = 0; f < image->Frames()->ItemCount(); ++f) image->Frames()->FrameAt(f)->RenderedBitmap();

    // An 8-bit source of four colours in stripes, taken over as it is.
    std::unique_ptr<TGIFImage> other = Animation(kWidth, kHeight, SolidFrames(kWidth, kHeight, {kBlue}));
    TGIFSubImage& otherFrame = *other->Frames()->FrameAt(0);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) otherFrame.SetPixelAt(x, y, static_cast<uint8_t>((x + y) % 4));
    otherFrame.ReleaseBitmap();
    TBitmap source;
    otherFrame.CopyTo(source);
    ASSERT_EQ(source.PixelFormat(), pf8bit);

    Surface surface(kWidth, kHeight, kYellow);
    int draws = 0;
    image->OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const RECT&, const std::string&) {
        ++draws;
        image->Frames()->FrameAt(0)->DrawFrame(surface.Canvas(), RECT{0, 0, kWidth, kHeight}, false, false);
    };
    TGIFSubImage& frame = *image->Frames()->FrameAt(1);
    frame.CopyFrom(source);
    EXPECT_GE(draws, 3);

    ASSERT_EQ(frame.Width(), kWidth);
    ASSERT_EQ(frame.Height(), kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t index = frame.PixelAt(x, y);
            ASSERT_LT(index, frame.LocalColorMap()->Count()) << x << "," << y;
            EXPECT_EQ(frame.LocalColorMap()->ColorAt(index), ColorOfIndex(static_cast<uint8_t>((x + y) % 4)))
                << x << "," << y;
        }
    EXPECT_EQ(FreedBlocksWritten(), 0u);
}

// Colours of each row of a bitmap as GDI reads them.
std::vector<COLORREF> PixelsOf(TBitmap& bitmap) {
    std::vector<COLORREF> pixels;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) pixels.push_back(GetPixel(bitmap.Canvas().Handle(), x, y));
    return pixels;
}

// A dithered render reads the frame's colours after each report: a handler that appends colours
// to the global table moves its entries to new storage and changes none that the frame uses.
TEST(GifRenderReadsTheTableAfterItsReports, AGlobalTableGrownByAHandler) {
    std::vector<FrameSetup> frames = SolidFrames(kWidth, kHeight, {kRed});
    frames[0].pixels.resize(kWidth * kHeight);
    for (size_t i = 0; i < frames[0].pixels.size(); ++i) frames[0].pixels[i] = static_cast<uint8_t>(i % 4);
    std::unique_ptr<TGIFImage> image = Animation(kWidth, kHeight, frames);
    image->SetDrawFlags(static_cast<uint16_t>((image->DrawFlags() | dfDither) & ~dfDitherPaletteOnly));
    TGIFSubImage& frame = *image->Frames()->FrameAt(0);
    TBitmap expected;
    frame.CopyTo(expected);

    frame.ReleaseBitmap();
    bool grown = false;
    image->OnProgress = [&](TObject*, TProgressStage stage, uint8_t, bool, const RECT&, const std::string&) {
        if (stage != psRunning || grown) return;
        grown = true;
        for (int i = 0; i < 100; ++i) image->GlobalColors()->AppendColor(RGB(i, 255 - i, 7));
    };
    TBitmap rendered;
    frame.CopyTo(rendered);
    ASSERT_TRUE(grown);
    EXPECT_EQ(PixelsOf(rendered), PixelsOf(expected));
    EXPECT_EQ(FreedBlocksWritten(), 0u);
}
}  // namespace
