// A frame the GUI thread imports into keeps its cached objects while a handler of that import
// draws other frames of the image. Drawing a frame of an image of more than 64 frames gives back
// the cached objects of the frames far before it; a frame in work is not among them.
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

TEST(GifFramesInWork, AnImportKeepsItsBitmapWhileAHandlerDrawsAFrameFarAfterIt) {
    std::vector<uint8_t> colors;
    for (int i = 0; i < 70; ++i) colors.push_back(static_cast<uint8_t>(i % 3));
    std::unique_ptr<TGIFImage> image = Animation(kWidth, kHeight, SolidFrames(kWidth, kHeight, colors));
    for (int f = 0; f < image->Frames->ItemCount(); ++f) image->Frames->FrameAt(f)->RenderedBitmap();

    // An 8-bit source of four colours in stripes, taken over as it is.
    std::unique_ptr<TGIFImage> other = Animation(kWidth, kHeight, SolidFrames(kWidth, kHeight, {kBlue}));
    TGIFSubImage& otherFrame = *other->Frames->FrameAt(0);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) otherFrame.PixelAt(x, y) = static_cast<uint8_t>((x + y) % 4);
    otherFrame.ReleaseBitmap();
    TBitmap source;
    otherFrame.CopyTo(source);
    ASSERT_EQ(source.PixelFormat(), pf8bit);

    Surface surface(kWidth, kHeight, kYellow);
    int draws = 0;
    image->OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const RECT&, const std::string&) {
        ++draws;
        image->Frames->FrameAt(0)->DrawFrame(surface.Canvas(), RECT{0, 0, kWidth, kHeight}, false, false);
    };
    TGIFSubImage& frame = *image->Frames->FrameAt(1);
    frame.CopyFrom(source);
    EXPECT_GE(draws, 3);

    ASSERT_EQ(frame.Width(), kWidth);
    ASSERT_EQ(frame.Height(), kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t index = frame.PixelAt(x, y);
            ASSERT_LT(index, frame.LocalColorMap->Count()) << x << "," << y;
            EXPECT_EQ(frame.LocalColorMap->ColorAt(index), ColorOfIndex(static_cast<uint8_t>((x + y) % 4)))
                << x << "," << y;
        }
    EXPECT_EQ(FreedBlocksWritten(), 0u);
}
}  // namespace
