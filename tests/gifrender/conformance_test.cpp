// Every frame of files made by other encoders renders to the colours and transparency that
// Windows' own decoder gives (the frame's own colours, no dithering).
#include <gtest/gtest.h>

#include <cstdio>

#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "renderfixtures.h"
#include "tests/support/wic.h"

namespace {

TEST(GifRenderConformance, CorpusRendersAsWindowsDecodes) {
    const bool savedDisplay = IsPaletteDisplay;
    IsPaletteDisplay = false;
    const std::vector<std::string> files = GifFilesIn(GIF_CORPUS_DIR);
    ASSERT_GE(files.size(), 15u) << "corpus missing in " << GIF_CORPUS_DIR;
    size_t framesCompared = 0, transparentPixels = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const Bytes bytes = ReadWholeFile(file);
        const WICPixelsResult reference = DecodeToBGRA(bytes.data(), bytes.size());
        ASSERT_EQ(reference.error, "");
        auto image = LoadGif(bytes);
        ASSERT_EQ(static_cast<size_t>(image->Frames()->ItemCount()), reference.frames.size());
        for (size_t i = 0; i < reference.frames.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "frame " << i);
            const WICPixels& want = reference.frames[i];
            TGIFSubImage* frame = image->Frames()->FrameAt(static_cast<int>(i));
            TBitmap* bitmap = frame->RenderedBitmap();
            ASSERT_NE(bitmap, nullptr);
            ASSERT_EQ(static_cast<unsigned>(bitmap->Width()), want.width);
            ASSERT_EQ(static_cast<unsigned>(bitmap->Height()), want.height);
            const Bytes indexes = IndexesOf(*bitmap);
            const std::vector<RGBQUAD> table = ColorTableOf(*bitmap);
            ASSERT_EQ(table.size(), 256u);
            const Bytes mask = frame->IsMasked() ? MaskBitsOf(frame->Mask(), bitmap->Width(), bitmap->Height())
                                                 : Bytes(indexes.size(), 0);
            size_t wrongColour = 0, wrongMask = 0;
            for (size_t k = 0; k < indexes.size(); ++k) {
                const uint32_t pixel = want.bgra[k];
                const bool transparent = (pixel >> 24) == 0;
                transparentPixels += transparent;
                wrongMask += mask[k] != (transparent ? 1 : 0);
                if (transparent) continue;
                const RGBQUAD& q = table[indexes[k]];
                wrongColour += uint32_t(q.rgbBlue | q.rgbGreen << 8 | q.rgbRed << 16) != (pixel & 0xFFFFFF);
            }
            EXPECT_EQ(wrongColour, 0u);
            EXPECT_EQ(wrongMask, 0u);
            ++framesCompared;
        }
    }
    IsPaletteDisplay = savedDisplay;
    EXPECT_GE(framesCompared, 150u);
    EXPECT_GT(transparentPixels, 0u);
    std::printf("rendered %u frames of %u files; %u transparent pixels\n", unsigned(framesCompared),
                unsigned(files.size()), unsigned(transparentPixels));
}

}  // namespace
