#include "gifimage/encoders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/gifwriter/codestream.h"
#include "tests/gifwriter/gifwriter_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* EncoderName(bool runLength) { return runLength ? "RLE" : "LZW"; }

// Pixels in coding order from their frame rows, for comparing with what a decoder reads.
Bytes InCodingOrder(const Bytes& pixels, int width, const std::vector<int>& rows) {
    Bytes out;
    for (int row : rows) out.insert(out.end(), pixels.begin() + row * width, pixels.begin() + (row + 1) * width);
    return out;
}

// --- Exact bytes ---------------------------------------------------------------

struct ExactCase {
    const char* what;
    int bitsPerPixel, width, height;
    Bytes pixels;
    Bytes expected;
};

TEST(GifWriterBytes, BothEncodersWriteTheseExactBytes) {
    const ExactCase cases[] = {
        {"4x1 of colour 0", 2, 4, 1, {0, 0, 0, 0}, {0x02, 0x02, 0x84, 0x51, 0x00}},
        {"1 bit per pixel codes as 2", 1, 4, 1, {0, 0, 0, 0}, {0x02, 0x02, 0x84, 0x51, 0x00}},
        {"1, 2, 3 at 8 bits", 8, 3, 1, {1, 2, 3}, {0x08, 0x06, 0x00, 0x03, 0x08, 0x18, 0x10, 0x10, 0x00}},
        {"no pixels at 2 bits", 2, 0, 0, {}, {0x02, 0x01, 0x05, 0x00}},
        {"no pixels at 8 bits", 8, 0, 0, {}, {0x08, 0x02, 0x01, 0x01, 0x00}},
        {"zero width, rows given", 2, 0, 5, {0}, {0x02, 0x01, 0x05, 0x00}},
    };
    for (const auto& c : cases)
        for (bool rle : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + " " + EncoderName(rle));
            const uint8_t* pixels = c.pixels.empty() ? nullptr : c.pixels.data();
            EXPECT_EQ(EncodeImageData(rle, c.bitsPerPixel, c.width, c.height, false, pixels, 256), c.expected);
        }
}

TEST(GifWriterBytes, MissingPixelBufferWritesOnlyTheEndCode) {
    for (bool rle : {false, true})
        EXPECT_EQ(EncodeImageData(rle, 2, 4, 4, false, nullptr, 4), (Bytes{0x02, 0x01, 0x05, 0x00}))
            << EncoderName(rle);
}

TEST(GifWriterBytes, CodeStreamOfExactly255BytesIsOneFullSubBlock) {
    // 224 distinct pixels at 8 bits: clear, 224 codes and the end code, all 9 bits wide = 255 bytes.
    const Bytes pixels = MakePixels(Pattern::Distinct, 224, 1, 256);
    for (bool rle : {false, true}) {
        SCOPED_TRACE(EncoderName(rle));
        const Bytes data = EncodeImageData(rle, 8, 224, 1, false, pixels.data(), 256);
        ASSERT_EQ(data.size(), 1u + 1 + 255 + 1);
        EXPECT_EQ(data[1], 0xFF);
        EXPECT_EQ(data.back(), 0x00);
        const CodeStream s = ReadCodeStream(data);
        EXPECT_EQ(s.error, "");
        EXPECT_EQ(s.pixels, pixels);
    }
}

TEST(GifWriterBytes, MinimumCodeSizeFollowsBitsPerPixel) {
    const int cases[][2] = {{0, 2}, {1, 2}, {2, 2}, {3, 3}, {5, 5}, {8, 8}, {12, 8}};
    const Bytes pixels = {1, 0, 1};
    for (const auto& c : cases)
        for (bool rle : {false, true}) {
            const Bytes data = EncodeImageData(rle, c[0], 3, 1, false, pixels.data(), 2);
            EXPECT_EQ(data[0], c[1]) << c[0] << " bits " << EncoderName(rle);
            const CodeStream s = ReadCodeStream(data);
            EXPECT_EQ(s.error, "");
            EXPECT_EQ(s.pixels, pixels);
        }
}

// --- Run-length code sequences ---------------------------------------------------

struct CodeCase {
    const char* what;
    int bitsPerPixel;
    Bytes pixels;
    std::vector<int> codes;
};

Bytes Repeat(uint8_t value, int count) { return Bytes(count, value); }
Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(GifWriterRLE, WritesTheseCodes) {
    const CodeCase cases[] = {
        {"5 then ten 0", 8, Join({{5}, Repeat(0, 10)}), {256, 5, 256, 0, 258, 259, 260, 257}},
        {"ten 0, 5, ten 0",
         8,
         Join({Repeat(0, 10), {5}, Repeat(0, 10)}),
         {256, 0, 258, 259, 260, 5, 260, 260, 258, 257}},
        {"short runs stay plain", 8, {7, 7, 3, 3, 3}, {256, 7, 7, 3, 3, 3, 257}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes data = EncodeImageData(true, c.bitsPerPixel, static_cast<int>(c.pixels.size()), 1, false,
                                           c.pixels.data(), 256);
        const CodeStream s = ReadCodeStream(data);
        EXPECT_EQ(s.error, "");
        EXPECT_EQ(s.codes, c.codes);
        EXPECT_EQ(s.pixels, c.pixels);
    }
}

TEST(GifWriterRLE, ClearsAfterEveryClearIntervalOfPlainCodes) {
    // No two equal neighbours: every pixel is a plain code.
    struct {
        int bits, interval;
    } cases[] = {{2, 9}, {3, 9}, {4, 14}, {8, 254}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        const int colours = 1 << c.bits;
        const int count = c.interval * 5 + 3;
        const Bytes pixels = MakePixels(Pattern::Distinct, count, 1, colours);
        const CodeStream s = ReadCodeStream(EncodeImageData(true, c.bits, count, 1, false, pixels.data(), colours));
        ASSERT_EQ(s.error, "");
        EXPECT_EQ(s.pixels, pixels);
        const int clear = colours;
        int sinceClear = -1;
        for (int code : s.codes) {
            if (code == clear) {
                if (sinceClear >= 0) {
                    EXPECT_EQ(sinceClear, c.interval);
                }
                sinceClear = 0;
            } else if (code != clear + 1) {
                ++sinceClear;
            }
        }
        EXPECT_EQ(sinceClear, 3);
    }
}

TEST(GifWriterRLE, LongRunsStayWithinTwelveBitsAndDecode) {
    // One run longer than a whole table of growing repeats, and long runs of several pixels.
    const Bytes single = Repeat(3, 9000000);
    const Bytes mixed = Join({Repeat(1, 70000), {2}, Repeat(1, 123457), Repeat(0, 3), Repeat(1, 5000000)});
    for (const Bytes* pixels : {&single, &mixed}) {
        const CodeStream s = ReadCodeStream(
            EncodeImageData(true, 2, static_cast<int>(pixels->size()), 1, false, pixels->data(), 4));
        ASSERT_EQ(s.error, "");
        EXPECT_TRUE(s.pixels == *pixels);
        EXPECT_LE(*std::max_element(s.widths.begin(), s.widths.end()), 12);
        EXPECT_LT(*std::max_element(s.codes.begin(), s.codes.end()), 4095);
        // Far fewer codes than pixels: runs are coded as run codes.
        EXPECT_LT(s.codes.size(), pixels->size() / 50);
    }
}

// --- LZW table growth and clears --------------------------------------------------

TEST(GifWriterLZW, GrowsToTwelveBitsAndClearsBeforeCode4095) {
    struct {
        int bits;
        Pattern pattern;
        int width, height;
    } cases[] = {{8, Pattern::Noise, 300, 200},
                 {2, Pattern::Noise, 400, 400},
                 {4, Pattern::Noise, 500, 300},
                 {8, Pattern::Runs, 700, 500}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        const int colours = 1 << c.bits;
        const Bytes pixels = MakePixels(c.pattern, c.width, c.height, colours, 7);
        const CodeStream s = ReadCodeStream(
            EncodeImageData(false, c.bits, c.width, c.height, false, pixels.data(), colours));
        ASSERT_EQ(s.error, "");
        EXPECT_TRUE(s.pixels == pixels);
        EXPECT_EQ(*std::max_element(s.widths.begin(), s.widths.end()), 12);
        EXPECT_EQ(std::count(s.codes.begin(), s.codes.end(), 4095), 0);
        ASSERT_GE(s.nextAtClear.size(), 2u);
        EXPECT_EQ(s.nextAtClear[0], colours + 2);  // the opening clear
        for (size_t i = 1; i < s.nextAtClear.size(); ++i) EXPECT_EQ(s.nextAtClear[i], 4095) << i;
        EXPECT_EQ(s.widths[0], c.bits + 1);
    }
}

TEST(GifWriterLZW, FlatImageBuildsLongStrings) {
    const Bytes pixels = MakePixels(Pattern::Flat, 1000, 1000, 16);
    const CodeStream s = ReadCodeStream(EncodeImageData(false, 4, 1000, 1000, false, pixels.data(), 16));
    ASSERT_EQ(s.error, "");
    EXPECT_TRUE(s.pixels == pixels);
    EXPECT_LT(s.codes.size(), 1500u);  // strings of 1, 2, 3, ... pixels: about sqrt(2n) codes
}

// --- Both encoders on many images through the reference reader ---------------------

TEST(GifWriterEncoders, RandomImagesDecodeToTheirPixels) {
    const Pattern patterns[] = {Pattern::Noise, Pattern::Runs, Pattern::Gradient, Pattern::Flat};
    for (int bits = 1; bits <= 8; ++bits)
        for (Pattern pattern : patterns)
            for (bool rle : {false, true})
                for (uint32_t seed = 1; seed <= 3; ++seed) {
                    const int colours = 1 << bits;
                    const int width = 37 + static_cast<int>(seed) * 50, height = 29 * static_cast<int>(seed);
                    const Bytes pixels = MakePixels(pattern, width, height, colours, seed + bits);
                    const Bytes data = EncodeImageData(rle, bits, width, height, false, pixels.data(), colours);
                    const CodeStream s = ReadCodeStream(data);
                    ASSERT_EQ(s.error, "") << bits << " bits, pattern " << int(pattern) << " " << EncoderName(rle);
                    ASSERT_TRUE(s.pixels == pixels)
                        << bits << " bits, pattern " << int(pattern) << " " << EncoderName(rle) << " seed " << seed;
                    ASSERT_TRUE(s.terminated);
                    EXPECT_EQ(s.consumed, data.size());
                    for (size_t i = 0; i + 1 < s.blockLengths.size(); ++i) ASSERT_EQ(s.blockLengths[i], 255);
                }
}

// --- Interlaced row order -----------------------------------------------------------

TEST(GifWriterEncoders, InterlacedFramesAreCodedInPassOrder) {
    const std::vector<std::pair<int, std::vector<int>>> cases = {{1, {0}},
                                                                 {2, {0, 1}},
                                                                 {3, {0, 2, 1}},
                                                                 {5, {0, 4, 2, 1, 3}},
                                                                 {8, {0, 4, 2, 6, 1, 3, 5, 7}},
                                                                 {9, {0, 8, 4, 2, 6, 1, 3, 5, 7}},
                                                                 {17, InterlacedRows(17)}};
    for (const auto& [height, rows] : cases)
        for (bool rle : {false, true})
            for (int width : {1, 5}) {
                SCOPED_TRACE(std::to_string(height) + " rows of " + std::to_string(width) + " " + EncoderName(rle));
                Bytes pixels;
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x) pixels.push_back(static_cast<uint8_t>(y * 7 + x));
                const CodeStream s = ReadCodeStream(EncodeImageData(rle, 8, width, height, true, pixels.data(), 256));
                ASSERT_EQ(s.error, "");
                EXPECT_EQ(s.pixels, InCodingOrder(pixels, width, rows));
            }
}

// --- Colours outside the table --------------------------------------------------------

struct ThrowingRoute : std::runtime_error {
    using std::runtime_error::runtime_error;
};

TEST(GifWriterEncoders, PixelOutsideTheTableRaisesAndKeepsWhatWasCoded) {
    for (bool rle : {false, true})
        for (int at : {0, 1, 1500}) {
            SCOPED_TRACE(std::string(EncoderName(rle)) + " bad pixel at " + std::to_string(at));
            Bytes pixels = MakePixels(Pattern::Noise, 2000, 1, 16, 3);
            pixels[at] = 16;
            TMemoryStream stream;
            try {
                WriteGIFPixelData(stream, rle ? 1 : 0, 4, 2000, 1, false, pixels.data(), 16);
                FAIL() << "no error";
            } catch (const EInvalidGraphic& e) {
                EXPECT_EQ(e.Message(), "Color not in color table");
            }
            // The minimum code size and every full or partial sub-block coded so far, no terminator.
            const Bytes data = StreamBytes(stream);
            ASSERT_GE(data.size(), 1u);
            EXPECT_EQ(data[0], 4);
            size_t pos = 1;
            while (pos < data.size()) {
                ASSERT_NE(data[pos], 0) << "terminator written";
                pos += 1 + data[pos];
            }
            EXPECT_EQ(pos, data.size());
            if (at == 1500) {
                EXPECT_GT(data.size(), 255u);
            }
        }
}

TEST(GifWriterEncoders, ErrorRouteRaisesTheLibraryError) {
    const Bytes pixels = {0, 1, 2, 16};
    for (bool rle : {false, true}) {
        TMemoryStream stream;
        std::string routed;
        auto route = [&routed](const std::string& message) {
            routed = message;
            throw ThrowingRoute(message);
        };
        EXPECT_THROW(WriteGIFPixelData(stream, rle ? 1 : 0, 4, 4, 1, false, pixels.data(), 16, {}, route),
                     ThrowingRoute);
        EXPECT_EQ(routed, "Color not in color table");
    }
}

TEST(GifWriterEncoders, LastEntryOfTheTableIsAccepted) {
    const Bytes pixels = {15, 0, 15, 15};
    for (bool rle : {false, true}) {
        const CodeStream s = ReadCodeStream(EncodeImageData(rle, 4, 4, 1, false, pixels.data(), 16));
        EXPECT_EQ(s.error, "");
        EXPECT_EQ(s.pixels, pixels);
    }
}

// --- String table ---------------------------------------------------------------------

TEST(GifWriterHashTable, BucketsAndProbeSteps) {
    const std::pair<uint32_t, int> hashes[] = {{0, 0}, {1, 1}, {16, 17}, {0xFFEFF, (0xFFEFF ^ 0xFFEF) % 8009}};
    for (const auto& [key, bucket] : hashes) EXPECT_EQ(THashTable::HashBucket(key), bucket) << key;
    const std::pair<int, int> steps[] = {{0, 8008}, {1, 2}, {4004, 8008}, {4005, 1}, {8008, 8007}};
    for (const auto& [from, to] : steps) EXPECT_EQ(THashTable::NextHashBucket(from), to) << from;
}

TEST(GifWriterHashTable, StoresFindsAndResets) {
    auto table = std::make_unique<THashTable>();
    EXPECT_EQ(table->Find(0), -1);
    // Five keys of one bucket, so that Store and Find probe, and a few others.
    std::vector<uint32_t> keys = {1, 0xFFEFF, 0x12345};
    for (uint32_t key = 0; keys.size() < 8; ++key)
        if (THashTable::HashBucket(key) == 100) keys.push_back(key);
    int16_t code = 258;
    for (uint32_t key : keys) table->Store(key, code++);
    code = 258;
    for (uint32_t key : keys) EXPECT_EQ(table->Find(key), code++) << key;
    EXPECT_EQ(table->Find(0x54321), -1);
    // Lookup and StoreAt, as the encoder uses them, keep the keys just as Store does.
    auto other = std::make_unique<THashTable>();
    code = 258;
    for (uint32_t key : keys) {
        int bucket = -1;
        EXPECT_EQ(other->Lookup(key, bucket), -1);
        EXPECT_GE(bucket, 0);
        other->StoreAt(bucket, key, code++);
    }
    code = 258;
    for (uint32_t key : keys) {
        int bucket = -1;
        EXPECT_EQ(other->Lookup(key, bucket), code++) << key;
    }
    table->Reset();
    for (uint32_t key : keys) EXPECT_EQ(table->Find(key), -1) << key;
}

TEST(GifWriterHashTable, FullProbePathEndsTheSearch) {
    // Every bucket reached from bucket 1 (the powers of 2 modulo 8009) taken: searches and stores
    // that start there meet no empty bucket and must still end.
    std::set<int> cycle;
    for (int h = 1; cycle.insert(h).second;) h = THashTable::NextHashBucket(h);
    auto table = std::make_unique<THashTable>();
    uint32_t key = 0;
    std::vector<uint32_t> stored;
    while (stored.size() < cycle.size()) {
        if (cycle.count(THashTable::HashBucket(key))) {
            table->Store(key, static_cast<int16_t>(stored.size() & 0xFFF));
            stored.push_back(key);
        }
        ++key;
    }
    while (!cycle.count(THashTable::HashBucket(key))) ++key;
    EXPECT_EQ(table->Find(key), -1);
    int bucket = 0;
    EXPECT_EQ(table->Lookup(key, bucket), -1);
    EXPECT_EQ(bucket, -1);
    table->StoreAt(bucket, key, 1);
    table->Store(key, 1);
    EXPECT_EQ(table->Find(key), -1);
    EXPECT_EQ(table->Find(stored.back()), static_cast<int16_t>((stored.size() - 1) & 0xFFF));
    // Bucket 0 leads into the same full path.
    table->Store(0, 7);
    EXPECT_EQ(table->Find(0), 7);
    uint32_t other = 1;
    while (THashTable::HashBucket(other) != 0) ++other;
    EXPECT_EQ(table->Find(other), -1);
}

// --- Run-length arithmetic -----------------------------------------------------------

TEST(GifWriterRLE, IntSqrtAndTriangleCount) {
    const std::pair<int32_t, int32_t> roots[] = {{0, 0},  {1, 1},  {2, 1},  {3, 1},          {4, 2},
                                                 {15, 3}, {16, 4}, {17, 4}, {1000000, 1000}, {2147483647, 46340}};
    for (const auto& [a, r] : roots) EXPECT_EQ(TRLEEncoder::IntSqrt(a), r) << a;
    struct {
        int32_t n, m, codes;
    } counts[] = {{0, 3837, 0},  {1, 3837, 1}, {2, 3837, 2}, {3, 3837, 2}, {4, 3837, 3}, {10, 3837, 4},
                  {11, 3837, 5}, {6, 3, 3},    {7, 3, 4},    {12, 3, 6},   {13, 3, 7},   {2147483647, 3837, 1119663}};
    for (const auto& c : counts) EXPECT_EQ(TRLEEncoder::TriangleCount(c.n, c.m), c.codes) << c.n << " " << c.m;
}

}  // namespace
