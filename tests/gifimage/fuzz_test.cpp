// Damaged input: every truncation of small files, and a bounded mutation run with a fixed seed.
// Only the library's and the class library's exceptions may come out; no crash, no hang.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "gifbuilder.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "tests/support/wic.h"

namespace {

// Loads bytes; false when something other than a class-library exception escaped.
bool SurvivesLoad(const Bytes& bytes) {
    try {
        auto image = LoadGif(bytes);
        // Touch what a caller reads after a load.
        for (int i = 0; i < image->Frames->ItemCount(); ++i) {
            TGIFSubImage* frame = image->Frames->FrameAt(i);
            volatile uint8_t sink = 0;
            for (int32_t k = 0; k < frame->PixelsSize; k += 97) sink = sink + frame->Pixels[k];
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

std::vector<Bytes> Seeds() {
    std::vector<Bytes> seeds;
    for (const std::string& file : GifFilesIn(GIF_CORPUS_DIR)) {
        Bytes bytes = ReadWholeFile(file);
        if (bytes.size() <= 80000) seeds.push_back(std::move(bytes));
    }
    // Hand-made streams with every extension kind and an interlaced frame.
    seeds.push_back(GifBytes()
                        .Header(8, 8, 4)
                        .Gce(0x05, 10, 1)
                        .Raw({'!', 0xFE, 2, 'h', 'i', 0})
                        .Raw({'!', 0xFF, 11})
                        .Text("NETSCAPE2.0")
                        .Raw({3, 1, 0, 0, 5, 2, 1, 0, 0, 0, 0})
                        .Raw({'!', 0x01, 12})
                        .Raw(Bytes(12, 2))
                        .Raw({1, 'x', 0})
                        .Frame(0, 0, 8, 8, Bytes(64, 3), 2, 0x40)
                        .Trailer()
                        .b);
    return seeds;
}

TEST(GifFuzz, TruncationsAtManyOffsets) {
    const std::vector<Bytes> seeds = Seeds();
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
    const std::vector<Bytes> seeds = Seeds();
    std::mt19937 random(20261210);
    const DWORD start = GetTickCount();
    unsigned runs = 0;
    while (GetTickCount() - start < budgetMs) {
        Bytes bytes = seeds[random() % seeds.size()];
        const int mutations = 1 + random() % 8;
        for (int m = 0; m < mutations && !bytes.empty(); ++m) {
            const size_t at = random() % bytes.size();
            switch (random() % 6) {
            case 0: bytes[at] = static_cast<uint8_t>(random()); break;
            case 1: bytes[at] ^= static_cast<uint8_t>(1 << (random() % 8)); break;
            case 2: bytes[at] = (random() & 1) ? 0xFF : 0x00; break;
            case 3: bytes.resize(at); break;
            case 4: bytes.insert(bytes.begin() + at, 1 + random() % 16, static_cast<uint8_t>(random())); break;
            case 5: {
                const size_t n = std::min<size_t>(1 + random() % 32, bytes.size() - at);
                bytes.erase(bytes.begin() + at, bytes.begin() + at + n);
                break;
            }
            }
        }
        ASSERT_TRUE(SurvivesLoad(bytes)) << "run " << runs;
        ++runs;
    }
    std::printf("%u mutated streams loaded\n", runs);
    EXPECT_GT(runs, 0u);
}

}  // namespace
