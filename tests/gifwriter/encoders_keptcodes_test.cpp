// What the LZW encoder has written when a pixel outside the colour table stops it: exactly the
// whole bytes of the codes of every string that ended before that pixel, against a plain encoder
// written here from the rules. The stop falls where codes of one width have piled up, just before
// and after a widening, after a clear, and at the start of an interlaced row.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "gifimage/encoders.h"
#include "classlib/sysutils.h"
#include "tests/gifwriter/gifwriter_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The codes a plain LZW encoder writes for 8-bit pixels in coding order, before the last prefix
// and the end code, each with its width; where the string that adds each entry of the first table
// ends, and where the clears come. At 8 bits the table never comes near refusing a store.
struct PlainCodes {
    std::vector<int> codes, widths;
    std::map<int, size_t> endOfEntry;  // entry of the first table -> position of the pixel
    std::vector<size_t> clearAt;       // position of the pixel whose string end brings a clear
};

PlainCodes PlainLZW(const Bytes& pixels) {
    PlainCodes out;
    const int clear = 256;
    int width = 9, nextFree = clear + 2;
    std::map<uint32_t, int> strings;
    auto emit = [&](int code) {
        out.codes.push_back(code);
        out.widths.push_back(width);
        if (code == clear) {
            width = 9;
        } else if (nextFree > (width == 12 ? 4096 : (1 << width) - 1)) {
            ++width;
        }
    };
    emit(clear);
    int prefix = pixels[0];
    for (size_t i = 1; i < pixels.size(); ++i) {
        const uint32_t key = (static_cast<uint32_t>(prefix) << 8) | pixels[i];
        const auto it = strings.find(key);
        if (it != strings.end()) {
            prefix = it->second;
            continue;
        }
        emit(prefix);
        prefix = pixels[i];
        if (nextFree >= 4095) {
            out.clearAt.push_back(i);
            emit(clear);
            strings.clear();
            nextFree = clear + 2;
            continue;
        }
        if (out.clearAt.empty()) out.endOfEntry[nextFree] = i;
        strings[key] = nextFree++;
    }
    return out;
}

// Minimum code size and the whole bytes of the first count codes in 255-byte sub-blocks, with no
// terminator: what a stopped encoder leaves.
Bytes KeptImageData(const PlainCodes& plain, size_t count) {
    Bytes packed;
    uint32_t bucket = 0;
    int bits = 0;
    for (size_t k = 0; k < count; ++k) {
        bucket |= static_cast<uint32_t>(plain.codes[k]) << bits;
        bits += plain.widths[k];
        for (; bits >= 8; bits -= 8, bucket >>= 8) packed.push_back(static_cast<uint8_t>(bucket));
    }
    Bytes data = {8};
    for (size_t i = 0; i < packed.size(); i += 255) {
        const size_t n = std::min<size_t>(255, packed.size() - i);
        data.push_back(static_cast<uint8_t>(n));
        data.insert(data.end(), packed.begin() + i, packed.begin() + i + n);
    }
    return data;
}

TEST(GifWriterLZW, PixelOutsideTheTableKeepsTheCodesOfEveryStringEndedBeforeIt) {
    constexpr int kWidth = 160, kHeight = 120;
    // 200 colours, so that colour 200 stops the encoder. Mostly noise, with stretches of runs, so
    // that strings of several lengths end.
    const Bytes noise = MakePixels(Pattern::Noise, kWidth, kHeight, 200, 7);
    const Bytes runs = MakePixels(Pattern::Runs, kWidth, kHeight, 200, 8);
    Bytes frame(noise.size());
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = (i / 700) % 3 == 2 ? runs[i] : noise[i];

    for (bool interlaced : {false, true}) {
        std::vector<int> rows(kHeight);
        for (int y = 0; y < kHeight; ++y) rows[y] = y;
        if (interlaced) rows = InterlacedRows(kHeight);
        Bytes order;
        for (int row : rows) order.insert(order.end(), frame.begin() + row * kWidth, frame.begin() + (row + 1) * kWidth);
        const PlainCodes plain = PlainLZW(order);
        ASSERT_FALSE(plain.clearAt.empty()) << "the frame no longer fills the table";

        struct Stop {
            std::string what;
            size_t at;  // position in coding order
        };
        std::vector<Stop> stops = {
            {"long after the last widening", plain.endOfEntry.at(1900)},
            {"at the string end that adds entry 511", plain.endOfEntry.at(511)},
            {"just after the widening to 10 bits", plain.endOfEntry.at(512) + 1},
            {"at the string end that fills the table", plain.endOfEntry.at(4094)},
            {"among the first strings after a clear", plain.clearAt[0] + 40},
        };
        if (interlaced) {
            // The first pixel of the third pass, the row after the one that ends the second.
            const size_t rowsBefore = static_cast<size_t>((kHeight + 7) / 8 + (kHeight + 3) / 8);
            stops.push_back({"at the start of an interlaced row", rowsBefore * kWidth});
        }
        for (const Stop& stop : stops) {
            SCOPED_TRACE(std::string(interlaced ? "interlaced, " : "") + "stop " + stop.what + " (pixel " +
                         std::to_string(stop.at) + ")");
            ASSERT_LT(stop.at, order.size());
            const int row = rows[stop.at / kWidth];
            Bytes pixels = frame;
            pixels[static_cast<size_t>(row) * kWidth + stop.at % kWidth] = 200;
            // The codes written before the stop: the clear codes and those of the strings that
            // ended before it, which the plain encoder lists in the same order.
            size_t count = 0;
            Bytes before(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(stop.at));
            if (!before.empty()) count = PlainLZW(before).codes.size();
            TMemoryStream stream;
            EXPECT_THROW(WriteGIFPixelData(stream, 0, 8, kWidth, kHeight, interlaced, pixels.data(), 200),
                         EInvalidGraphic);
            EXPECT_TRUE(StreamBytes(stream) == KeptImageData(plain, count));
        }
    }
}

}  // namespace
