// Damaged input: every truncation of small files, and a bounded mutation run with a fixed seed.
// Only the library's and the class library's exceptions may come out; no crash, no hang.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "fuzzrun.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "gifseeds.h"
#include "tests/support/gifbuilder.h"

namespace {

// Loads bytes; false when something other than a class-library exception escaped.
bool SurvivesLoad(const Bytes& bytes) {
    try {
        auto image = LoadGif(bytes);
        // Touch what a caller reads after a load.
        for (int i = 0; i < image->Frames()->ItemCount(); ++i) {
            TGIFSubImage* frame = image->Frames()->FrameAt(i);
            volatile uint8_t sink = 0;
            for (int32_t k = 0; k < frame->PixelsSize(); k += 97) sink = sink + frame->Pixels()[k];
            frame->RequiredVersion();
        }
        image->RequiredVersion();
        image->BitDepth();
    } catch (const Exception&) {
    } catch (...) {
        return false;
    }
    return true;
}

TEST(GifFuzz, TruncationsAtManyOffsets) {
    const std::vector<Bytes> seeds = GifSeeds(GIF_CORPUS_DIR);
    ASSERT_FALSE(seeds.empty());
    for (const Bytes& seed : seeds) {
        // Small files at every offset; larger ones at 200 offsets spread over the file and its last 40 bytes.
        const size_t size = seed.size();
        const size_t step = size <= 1000 ? 1 : size / 200;
        for (size_t n = 0; n < size; n = (n + step < size - std::min<size_t>(size, 40)) ? n + step : n + 1)
            ASSERT_TRUE(SurvivesLoad(Bytes(seed.begin(), seed.begin() + n))) << "truncated at " << n;
    }
}

TEST(GifFuzz, DamagedLargeFrames) {
    // Oversized and odd descriptors over short data.
    for (auto [w, h] : {std::pair{65535, 65535}, {65535, 1}, {1, 65535}, {30000, 30000}, {0, 0}}) {
        Bytes gif =
            GifBytes().Header(1, 1).Gce(1, 0, 7).Descriptor(0, 0, w, h, 0x40).Data(8, Bytes(40, 0xFF)).Trailer().b;
        EXPECT_TRUE(SurvivesLoad(gif)) << w << "x" << h;
    }
}

TEST(GifFuzz, MutationsWithinTimeBudget) {
    const char* budgetText = std::getenv("GIF_FUZZ_SECONDS");
    const DWORD budgetMs = static_cast<DWORD>((budgetText ? std::atof(budgetText) : 3.0) * 1000);
    const std::vector<Bytes> seeds = GifSeeds(GIF_CORPUS_DIR);
    std::mt19937 random(20261210);
    const DWORD start = GetTickCount();
    unsigned runs = 0;
    while (GetTickCount() - start < budgetMs) {
        Bytes bytes = seeds[random() % seeds.size()];
        fuzz::Mutate(bytes, random, seeds);
        ASSERT_TRUE(SurvivesLoad(bytes)) << "run " << runs;
        ++runs;
    }
    std::printf("%u mutated streams loaded\n", runs);
    EXPECT_GT(runs, 0u);
}

}  // namespace
