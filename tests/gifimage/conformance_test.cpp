// Every frame of files made by other encoders decodes to the colour indexes Windows' own decoder gives.
#include <gtest/gtest.h>

#include <cstdio>

#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "tests/support/gifbuilder.h"
#include "tests/support/wic.h"

namespace {

TEST(GifConformance, CorpusMatchesWindowsDecoder) {
    const std::vector<std::string> files = GifFilesIn(GIF_CORPUS_DIR);
    ASSERT_GE(files.size(), 15u) << "corpus missing in " << GIF_CORPUS_DIR;
    WICGifDecoder wic;
    ASSERT_TRUE(wic.Available());
    size_t framesCompared = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const Bytes bytes = ReadWholeFile(file);
        WICResult reference = wic.Decode(bytes.data(), bytes.size());
        ASSERT_EQ(reference.error, "");
        WarningLog log;
        auto image = LoadGif(bytes, &log);
        EXPECT_TRUE(log.entries.empty()) << std::get<2>(log.entries.front());
        ASSERT_EQ(static_cast<size_t>(image->Frames()->ItemCount()), reference.frames.size());
        for (size_t i = 0; i < reference.frames.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "frame " << i);
            const WICFrame& want = reference.frames[i];
            TGIFSubImage* frame = image->Frames()->FrameAt(static_cast<int>(i));
            ASSERT_EQ(static_cast<unsigned>(frame->Width()), want.width);
            ASSERT_EQ(static_cast<unsigned>(frame->Height()), want.height);
            const Bytes got(frame->Pixels(), frame->Pixels() + frame->PixelsSize());
            size_t differing = 0;
            for (size_t k = 0; k < got.size(); ++k) differing += got[k] != want.indexes[k];
            EXPECT_EQ(differing, 0u);
            ++framesCompared;
        }
    }
    EXPECT_GE(framesCompared, 150u);
    std::printf("compared %u frames of %u files\n", unsigned(framesCompared), unsigned(files.size()));
}

}  // namespace
