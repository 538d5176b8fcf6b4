#include "gifseeds.h"

#include "tests/support/files.h"
#include "tests/support/gifbuilder.h"

std::vector<fuzz::Bytes> GifSeeds(const std::string& corpusDir) {
    std::vector<fuzz::Bytes> seeds;
    for (const std::string& file : GifFilesIn(corpusDir)) {
        fuzz::Bytes bytes = ReadWholeFile(file);
        if (bytes.size() <= 80000) seeds.push_back(std::move(bytes));
    }
    // Hand-made: every extension kind, an interlaced frame, a local table, transparency,
    // restore-to-background and restore-to-previous disposal, a frame off the screen.
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
    Bytes pattern(6 * 5);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i % 4);
    seeds.push_back(GifBytes()
                        .Header(10, 8, 4)
                        .Gce(0x09, 2, 0)
                        .Frame(1, 1, 6, 5, pattern)
                        .Gce(0x0D, 3, 2)
                        .Raw({',', 2, 0, 2, 0, 4, 0, 3, 0, 0x81})
                        .Raw(Bytes(12, 0x40))
                        .Data(2, EncodeLZW(Bytes(12, 1), 2))
                        .Gce(0x04, 1, 0)
                        .Frame(8, 6, 4, 4, Bytes(16, 2))
                        .Trailer()
                        .b);
    return seeds;
}
