// LZW decoding: resets, code widths, the full table, sub-block boundaries, early ends, damaged tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"
#include "tests/support/gifbuilder.h"

namespace {

// A one-frame GIF whose frame has the given size, flags and LZW data.
Bytes FrameGif(int width, int height, int minCodeSize, const Bytes& packed, int blockSize = 255, int packedFlags = 0,
               int transparentIndex = -1) {
    GifBytes gif = GifBytes().Header(width, height, 256);
    if (transparentIndex >= 0) gif.Gce(1, 0, transparentIndex);
    return gif.Descriptor(0, 0, width, height, packedFlags).Data(minCodeSize, packed, blockSize).Trailer().b;
}

Bytes FramePixels(const TGIFImage& image, int index = 0) {
    TGIFSubImage* frame = image.Frames()->FrameAt(index);
    return Bytes(frame->Pixels(), frame->Pixels() + frame->PixelsSize());
}

Bytes NoisePixels(size_t count, int colors, unsigned seed) {
    std::mt19937 random(seed);
    Bytes pixels(count);
    for (auto& p : pixels) p = static_cast<uint8_t>(random() % colors);
    return pixels;
}

TEST(GifLzw, RoundTripsAcrossSizesAndWidths) {
    struct Case {
        int width, height, minCodeSize, colors, blockSize;
    };
    const Case cases[] = {{1, 1, 2, 2, 255}, {7, 5, 2, 4, 255}, {64, 64, 8, 256, 255}, {300, 200, 5, 32, 255},
                          {33, 17, 3, 8, 1}, {33, 17, 3, 8, 2}, {120, 90, 8, 256, 7},  {500, 400, 8, 256, 255}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " min " << c.minCodeSize << " blocks "
                                        << c.blockSize);
        Bytes pixels = NoisePixels(c.width * c.height, c.colors, c.width);
        WarningLog log;
        auto image = LoadGif(FrameGif(c.width, c.height, c.minCodeSize, EncodeLZW(pixels, c.minCodeSize), c.blockSize),
                             &log);
        EXPECT_EQ(FramePixels(*image), pixels);
        EXPECT_TRUE(log.entries.empty());
    }
}

TEST(GifLzw, StreamStandsAfterTheTerminator) {
    Bytes pixels = NoisePixels(40 * 30, 16, 3);
    Bytes gif = GifBytes().Header(40, 30, 16).Frame(0, 0, 40, 30, pixels, 4).b;
    const size_t end = gif.size();
    gif.push_back(0x3B);
    TGIFImage image;
    auto stream = StreamOf(gif);
    image.Header()->LoadFromStream(*stream);
    TGIFSubImage frame(&image);
    frame.LoadFromStream(*stream);
    EXPECT_EQ(stream->Position(), static_cast<int64_t>(end));
}

TEST(GifLzw, MissingLeadingClearAndRepeatedClears) {
    const Bytes pixels = {1, 2, 3, 1, 2, 3, 1, 2};
    for (bool leadingClear : {false, true}) {
        std::vector<int> codes = EncodeCodes(pixels, 2, {leadingClear, true, true});
        if (leadingClear) codes.insert(codes.begin(), {4, 4, 4});
        auto image = LoadGif(FrameGif(8, 1, 2, PackCodes(WithDecoderWidths(codes, 2))));
        EXPECT_EQ(FramePixels(*image), pixels) << leadingClear;
    }
}

TEST(GifLzw, MinimumCodeSizeAboveEightDecodesAsEight) {
    const Bytes pixels = NoisePixels(50, 256, 9);
    auto image = LoadGif(FrameGif(10, 5, 11, EncodeLZW(pixels, 8)));
    EXPECT_EQ(FramePixels(*image), pixels);
}

TEST(GifLzw, CodeWidthGrowsToTwelveAndFullTableKeepsIt) {
    // Enough distinct pairs to fill the table; without a clear the decoder keeps 12-bit codes.
    const Bytes pixels = NoisePixels(200 * 200, 256, 11);
    for (bool clearWhenFull : {true, false}) {
        SCOPED_TRACE(clearWhenFull);
        std::vector<int> codes = EncodeCodes(pixels, 8, {true, clearWhenFull, true});
        auto widths = WithDecoderWidths(codes, 8);
        int widest = 0;
        for (auto [code, width] : widths) widest = std::max(widest, width);
        ASSERT_EQ(widest, 12);
        EXPECT_EQ(widths[1].second, 9);
        EXPECT_EQ(widths[512 - 258 + 1].second, 9);
        EXPECT_EQ(widths[512 - 258 + 2].second, 10) << "10 bits once the next code reaches 512";
        auto image = LoadGif(FrameGif(200, 200, 8, PackCodes(widths)));
        EXPECT_EQ(FramePixels(*image), pixels);
    }
}

TEST(GifLzw, CodeEqualToNextCode) {
    // 0 0 0: codes 0 then 6 (= next code) give "0" and "0 0".
    auto image = LoadGif(FrameGif(3, 1, 2, PackCodes(WithDecoderWidths({4, 0, 6, 5}, 2))));
    EXPECT_EQ(FramePixels(*image), (Bytes{0, 0, 0}));
}

TEST(GifLzw, InterlacedRowOrder) {
    for (int height : {1, 2, 3, 5, 8, 10, 17}) {
        SCOPED_TRACE(height);
        const int width = 3;
        Bytes pixels(width * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) pixels[y * width + x] = static_cast<uint8_t>(y * 3 + x);
        auto image = LoadGif(FrameGif(width, height, 8, EncodeLZW(Interlace(pixels, width, height), 8), 255, 0x40));
        EXPECT_EQ(FramePixels(*image), pixels);
    }
    // The pass order of a height of 10.
    Bytes rows(10);
    for (int y = 0; y < 10; ++y) rows[y] = static_cast<uint8_t>(y);
    EXPECT_EQ(Interlace(rows, 1, 10), (Bytes{0, 8, 4, 2, 6, 1, 3, 5, 7, 9}));
}

TEST(GifLzw, CodeStraddlingSubBlocks) {
    // Sub-blocks of 1 byte: every 9-bit code spans two or three of them.
    const Bytes pixels = NoisePixels(64, 256, 5);
    for (int blockSize : {1, 2, 3}) {
        WarningLog log;
        auto image = LoadGif(FrameGif(8, 8, 8, EncodeLZW(pixels, 8), blockSize), &log);
        EXPECT_EQ(FramePixels(*image), pixels) << blockSize;
        EXPECT_TRUE(log.entries.empty());
    }
}

TEST(GifLzw, EarlyEndsKeepTheFillValue) {
    const Bytes pixels = NoisePixels(100, 4, 2);
    const std::vector<int> codes = EncodeCodes(pixels, 2);
    struct Case {
        const char* name;
        Bytes packed;
        std::vector<std::string> warnings;
    };
    // End code after a few pixels; data that simply stops; the terminator right after part of the data.
    std::vector<int> shortCodes(codes.begin(), codes.begin() + 10);
    shortCodes.push_back(5);
    std::vector<int> cutCodes(codes.begin(), codes.begin() + 10);
    const Case cases[] = {
        {"end code", PackCodes(WithDecoderWidths(shortCodes, 2)), {}},
        {"terminator", PackCodes(WithDecoderWidths(cutCodes, 2)), {sBitBufferUnderrun}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int fill : {-1, 3}) {
            WarningLog log;
            auto image = LoadGif(FrameGif(10, 10, 2, c.packed, 255, 0, fill), &log);
            Bytes got = FramePixels(*image);
            const uint8_t expectedFill = fill < 0 ? 0 : static_cast<uint8_t>(fill);
            EXPECT_EQ(got.back(), expectedFill);
            EXPECT_EQ(got[0], pixels[0]);
            EXPECT_EQ(log.Messages(), c.warnings);
            EXPECT_EQ(image->Frames()->ItemCount(), 1);
        }
    }
}

TEST(GifLzw, NoMinimumCodeSizeByte) {
    Bytes gif = GifBytes().Header(4, 4).Gce(1, 0, 5).Descriptor(0, 0, 4, 4).b;
    WarningLog log;
    auto image = LoadGif(gif, &log);
    EXPECT_EQ(FramePixels(*image), Bytes(16, 5));
    EXPECT_TRUE(log.entries.empty());
}

TEST(GifLzw, SubBlockLongerThanTheStream) {
    // A sub-block announcing 200 bytes with 50 left: one warning, the 50 bytes are used.
    const Bytes pixels = NoisePixels(400, 256, 8);
    Bytes packed = EncodeLZW(pixels, 8);
    Bytes gif = GifBytes().Header(20, 20, 256).Descriptor(0, 0, 20, 20).Raw({8, 200}).b;
    gif.insert(gif.end(), packed.begin(), packed.begin() + 50);
    WarningLog log;
    auto image = LoadGif(gif, &log);
    EXPECT_EQ(log.Messages(), std::vector<std::string>{sPrematureEndOfData});
    Bytes got = FramePixels(*image);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 30, pixels.begin()));
}

TEST(GifLzw, SelfReferencingEntryIsCircular) {
    // 0, then 7 (beyond next), then 0 defines entry 7 with prefix 7; 7 again walks into it.
    int64_t position = -1;
    EXPECT_EQ(LoadError(FrameGif(8, 8, 2, PackCodes(WithDecoderWidths({4, 0, 7, 0, 7, 5}, 2))), &position),
              sCircularTable);
    EXPECT_EQ(position, 0);
}

TEST(GifLzw, LoopOverSeveralEntriesStopsWithinTheStack) {
    // Entry 6 gets prefix 7 and entry 7 prefix 6: the chain never reaches a character.
    EXPECT_EQ(LoadError(FrameGif(8, 8, 2, PackCodes(WithDecoderWidths({4, 7, 6, 0, 6, 5}, 2)))), sCircularTable);
}

TEST(GifLzw, DataAfterTheLastPixelIsLeftInPlace) {
    // The extra step after the last pixel meets another code: nothing is skipped.
    std::vector<int> codes = EncodeCodes({1, 1}, 2, {true, true, false});
    codes.push_back(4);
    codes.push_back(1);
    codes.push_back(5);
    auto image = LoadGif(FrameGif(2, 1, 2, PackCodes(WithDecoderWidths(codes, 2))));
    EXPECT_EQ(FramePixels(*image), (Bytes{1, 1}));
}

// A plain decoder of one frame's image data, written from the rules and nothing else: 32-bit
// tables, a stack of characters, one sub-block at a time behind the last two bytes of the one
// before. It yields what a caller can see: the pixels, the warnings in order, the error, and where
// the stream stands afterwards.
struct ReferenceResult {
    Bytes pixels;
    std::vector<std::string> warnings;
    std::string error;
    size_t position = 0;
};

ReferenceResult ReferenceDecode(const Bytes& file, size_t pos, int width, int height, bool interlaced, uint8_t fill) {
    struct Circular {};
    ReferenceResult r;
    r.pixels.assign(static_cast<size_t>(width) * height, fill);
    auto readByte = [&](int& value) {
        if (pos >= file.size()) return false;
        value = file[pos++];
        return true;
    };
    int minCodeSize = 0;
    if (!readByte(minCodeSize)) {
        r.position = pos;
        return r;
    }
    minCodeSize = std::min(minCodeSize, 8);
    const int clear = 1 << minCodeSize, end = clear + 1;
    int codeSize = minCodeSize + 1, limit = 2 * clear, next = clear + 2;
    std::vector<int> prefix(4096, 0), suffix(4096, 0), stack;
    for (int i = 0; i < clear; ++i) suffix[i] = i;
    int firstCode = 0, oldCode = 0;
    uint8_t buffer[260] = {};
    int bitPos = 0, lastBit = 0, lastByteCount = 2;
    bool firstCall = true, done = false, zeroBlock = false;

    auto refill = [&] {
        buffer[0] = buffer[lastByteCount - 2];
        buffer[1] = buffer[lastByteCount - 1];
        int length = 0;
        if (!readByte(length)) return false;
        if (length == 0) {
            zeroBlock = done = true;
        } else {
            const int left = static_cast<int>(file.size() - pos);
            if (length > left) {
                r.warnings.push_back(sPrematureEndOfData);
                length = left;
            }
            std::copy(file.begin() + pos, file.begin() + pos + length, buffer + 2);
            pos += length;
        }
        lastByteCount = length + 2;
        bitPos = bitPos - lastBit + 16;
        lastBit = (length + 2) * 8;
        return true;
    };
    auto readCode = [&](int size) {
        if (firstCall) {
            firstCall = false;
            return clear;
        }
        if (bitPos + size >= lastBit) {
            if (done) {
                if (bitPos >= lastBit) r.warnings.push_back(sBitBufferUnderrun);
                return -1;
            }
            // A sub-block too short to finish the code is followed by the next one.
            do {
                if (!refill()) return -1;
            } while (!done && bitPos + size > lastBit);
        }
        const int start = bitPos / 8, last = (bitPos + size) / 8;
        int raw = buffer[start];
        if (last > start) raw += 256 * buffer[start + 1];
        if (last > start + 1) raw += 65536 * buffer[start + 2];
        bitPos += size;
        return (raw >> ((bitPos - size) % 8)) & ((1 << size) - 1);
    };
    auto decodeNextCode = [&]() -> int {
        int code = readCode(codeSize);
        if (code < 0) return code;
        if (code == clear) {
            std::fill(prefix.begin(), prefix.end(), 0);
            for (int i = 0; i < 4096; ++i) suffix[i] = i < clear ? i : 0;
            codeSize = minCodeSize + 1;
            limit = 2 * clear;
            next = clear + 2;
            stack.clear();
            do code = readCode(codeSize);
            while (code == clear);
            if (code < 0) return code;
            firstCode = oldCode = code;
            return code;
        }
        if (code == end) {
            int length = 0;
            if (!zeroBlock)
                while (readByte(length) && length != 0) pos += length;
            return -2;
        }
        const int inCode = code;
        if (code >= next) {
            stack.push_back(firstCode);
            code = oldCode;
        }
        while (code >= clear) {
            // A loop over several entries would grow the stack past any real string.
            if (stack.size() >= 4096) throw Circular{};
            stack.push_back(suffix[code]);
            if (prefix[code] == code) throw Circular{};
            code = prefix[code];
        }
        firstCode = suffix[code];
        stack.push_back(firstCode);
        if (next <= 4095) {
            prefix[next] = oldCode;
            suffix[next] = firstCode;
            ++next;
            if (next >= limit && limit <= 4095) {
                limit *= 2;
                ++codeSize;
            }
        }
        oldCode = inCode;
        const int top = stack.back();
        stack.pop_back();
        return top;
    };
    auto nextPixel = [&] {
        if (stack.empty()) return decodeNextCode();
        const int top = stack.back();
        stack.pop_back();
        return top;
    };
    try {
        bool complete = true;
        std::vector<int> rows;
        if (interlaced) {
            for (int start : {0, 4, 2, 1})
                for (int y = start; y < height; y += start == 0 ? 8 : 2 * start) rows.push_back(y);
        } else {
            for (int y = 0; y < height; ++y) rows.push_back(y);
        }
        for (int y : rows) {
            for (int x = 0; x < width && complete; ++x) {
                const int value = nextPixel();
                if (value < 0)
                    complete = false;
                else
                    r.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(value);
            }
            if (!complete) break;
        }
        if (complete) nextPixel();
    } catch (Circular) {
        r.error = sCircularTable;
    }
    r.position = pos;
    return r;
}

// What loading one frame from file leaves: pixels, warnings, error and the stream position.
ReferenceResult LoadFrame(const Bytes& file) {
    ReferenceResult r;
    TGIFImage image;
    WarningLog log;
    log.Attach(image);
    auto stream = StreamOf(file);
    image.Header()->LoadFromStream(*stream);
    TGIFSubImage frame(&image);
    r.error = GIFErrorOf([&] { frame.LoadFromStream(*stream); });
    r.position = static_cast<size_t>(stream->Position());
    r.pixels.assign(frame.Pixels(), frame.Pixels() + frame.PixelsSize());
    r.warnings = log.Messages();
    return r;
}

struct DecodeCase {
    std::string name;
    int width, height;
    bool interlaced;
    Bytes data;  // from the minimum code size byte on, sub-blocks and all
};

// Minimum code size, then the bytes in sub-blocks of the given sizes (cycled), then a terminator.
Bytes InBlocks(int minCodeSize, const Bytes& packed, const std::vector<int>& sizes, bool terminator = true) {
    Bytes out{static_cast<uint8_t>(minCodeSize)};
    size_t i = 0, n = 0;
    while (i < packed.size()) {
        const size_t take = std::min<size_t>(sizes[n++ % sizes.size()], packed.size() - i);
        out.push_back(static_cast<uint8_t>(take));
        out.insert(out.end(), packed.begin() + i, packed.begin() + i + take);
        i += take;
    }
    if (terminator) out.push_back(0);
    return out;
}

Bytes FlatPixels(int width, int height, int colors, unsigned seed) {
    std::mt19937 random(seed);
    Bytes pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(((x / 13) + (y / 7) * 3) % colors);
    for (int i = 0; i < width * height / 50; ++i)
        pixels[random() % pixels.size()] = static_cast<uint8_t>(random() % colors);
    return pixels;
}

// Where a decoder that reads codes ahead in runs must stop and take up again: the codes at which
// the width changes and the first code that ends in each sub-block, with their neighbours.
std::vector<size_t> EdgePositions(const std::vector<std::pair<int, int>>& widths, int blockSize) {
    std::vector<size_t> edges;
    auto addAround = [&](size_t i) {
        for (size_t p = i > 0 ? i - 1 : 0; p <= i + 1 && p < widths.size(); ++p)
            if (edges.empty() || edges.back() < p) edges.push_back(p);
    };
    size_t bits = 0;
    for (size_t i = 0; i < widths.size(); ++i) {
        const size_t before = bits;
        bits += widths[i].second;
        if ((i > 0 && widths[i].second != widths[i - 1].second) ||
            before / (8 * blockSize) != bits / (8 * blockSize))
            addAround(i);
    }
    return edges;
}

// Streams with a clear code, a code beyond the next entry, the end code or the end of the data
// put at each edge position of a valid stream.
void AddEdgeCases(std::vector<DecodeCase>& cases, const std::string& name, int width, int height, int minCodeSize,
                  const std::vector<int>& codes, int blockSize) {
    const int clear = 1 << minCodeSize;
    for (size_t p : EdgePositions(WithDecoderWidths(codes, minCodeSize), blockSize)) {
        const int widthAt = WithDecoderWidths(std::vector<int>(codes.begin(), codes.begin() + p + 1), minCodeSize)
                                .back()
                                .second;
        const std::pair<const char*, int> inserts[] = {{"clear", clear}, {"beyond", (1 << widthAt) - 1},
                                                       {"end", clear + 1}};
        for (const auto& [what, code] : inserts) {
            std::vector<int> changed = codes;
            changed.insert(changed.begin() + p, code);
            cases.push_back({name + " " + what + " at " + std::to_string(p), width, height, false,
                             InBlocks(minCodeSize, PackCodes(WithDecoderWidths(changed, minCodeSize)), {blockSize})});
        }
        const std::vector<int> cut(codes.begin(), codes.begin() + p);
        cases.push_back({name + " cut at " + std::to_string(p), width, height, false,
                         InBlocks(minCodeSize, PackCodes(WithDecoderWidths(cut, minCodeSize)), {blockSize})});
    }
}

std::vector<DecodeCase> DecodeCases() {
    std::vector<DecodeCase> cases;
    std::mt19937 random(1234);
    // Well-formed streams: every width rule, sub-blocks of every awkward size, rows that strings cross.
    struct Shape {
        int width, height, minCodeSize, colors;
        bool flat;
    };
    const Shape shapes[] = {{1, 1, 2, 2, false},       {5, 3, 2, 4, false},    {97, 61, 8, 256, false},
                            {64, 64, 1, 2, true},      {150, 90, 3, 8, true},  {333, 200, 8, 256, true},
                            {200, 150, 8, 256, false}, {17, 40, 4, 16, false}, {1000, 7, 5, 32, true}};
    const std::vector<std::vector<int>> blockings = {{255}, {1}, {2}, {3, 1, 254}, {7}};
    for (const Shape& s : shapes)
        for (bool interlaced : {false, true})
            for (const auto& blocks : blockings) {
                Bytes pixels = s.flat ? FlatPixels(s.width, s.height, s.colors, s.width)
                                      : NoisePixels(static_cast<size_t>(s.width) * s.height, s.colors, s.height);
                if (interlaced) pixels = Interlace(pixels, s.width, s.height);
                cases.push_back({"valid " + std::to_string(s.width) + "x" + std::to_string(s.height) + " min " +
                                     std::to_string(s.minCodeSize) + " block " + std::to_string(blocks[0]),
                                 s.width, s.height, interlaced,
                                 InBlocks(s.minCodeSize, EncodeLZW(pixels, s.minCodeSize), blocks)});
            }
    // A full table kept without a clear, with and without the end code, and with no leading clear.
    for (bool endCode : {true, false}) {
        const Bytes pixels = NoisePixels(300 * 300, 256, 77);
        cases.push_back(
            {"full table", 300, 300, false, InBlocks(8, EncodeLZW(pixels, 8, {false, false, endCode}), {255})});
        const Bytes flat = FlatPixels(400, 300, 200, 5);
        cases.push_back(
            {"full table flat", 400, 300, true, InBlocks(8, EncodeLZW(flat, 8, {true, false, endCode}), {5})});
    }
    // A full table, then the same early entry again and again: a string longer than a piece at
    // every position of the runs of codes a decoder may read ahead. Alternating colours first
    // make entry 21 "0 1 0 1 0 1 0 1 0 1".
    {
        Bytes pixels(400);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i % 2);
        const Bytes noise = NoisePixels(20000, 4, 21);
        pixels.insert(pixels.end(), noise.begin(), noise.end());
        std::vector<int> codes = EncodeCodes(pixels, 2, {true, false, false});
        codes.insert(codes.end(), 300, 21);
        codes.push_back(5);
        cases.push_back({"full table, early entry repeated", 100, 240, false,
                         InBlocks(2, PackCodes(WithDecoderWidths(codes, 2)), {255})});
    }
    // Early ends: a valid stream cut anywhere, with the terminator, without it, or mid sub-block.
    {
        const Bytes pixels = FlatPixels(120, 80, 16, 3);
        const Bytes packed = EncodeLZW(pixels, 4);
        for (int k = 0; k < 25; ++k) {
            const size_t cut = 1 + random() % (packed.size() - 1);
            const Bytes part(packed.begin(), packed.begin() + cut);
            cases.push_back({"cut at " + std::to_string(cut), 120, 80, k % 2 == 1, InBlocks(4, part, {255, 9}, true)});
            Bytes open = InBlocks(4, part, {255, 9}, false);
            cases.push_back({"open at " + std::to_string(cut), 120, 80, k % 2 == 0, open});
            Bytes whole = InBlocks(4, packed, {60});
            whole.resize(std::min(whole.size(), cut + cut / 60 + 1));
            cases.push_back({"mid block at " + std::to_string(cut), 120, 80, false, whole});
        }
        // An end code before the last pixel, more data after it, and codes beyond the last pixel.
        std::vector<int> codes = EncodeCodes(pixels, 4);
        std::vector<int> early(codes.begin(), codes.begin() + codes.size() / 2);
        early.push_back(17);
        cases.push_back({"early end code", 120, 80, true, InBlocks(4, PackCodes(WithDecoderWidths(early, 4)), {200})});
        std::vector<int> extra(codes.begin(), codes.end() - 1);
        extra.insert(extra.end(), {16, 3, 3, 17});
        cases.push_back(
            {"codes after the last pixel", 120, 80, false, InBlocks(4, PackCodes(WithDecoderWidths(extra, 4)), {255})});
        extra = std::vector<int>(codes.begin(), codes.end() - 1);
        extra.insert(extra.end(), {3, 20});
        cases.push_back(
            {"string past the last pixel", 120, 80, true, InBlocks(4, PackCodes(WithDecoderWidths(extra, 4)), {255})});
    }
    // Edges of the runs of codes a decoder may read ahead: narrow codes that widen often, long
    // strings and strings of the next entry (flat runs), sub-blocks of several sizes; wide codes
    // in whole sub-blocks.
    for (int blockSize : {5, 31})
        AddEdgeCases(cases, "flat block " + std::to_string(blockSize), 48, 32, 2,
                     EncodeCodes(FlatPixels(48, 32, 4, 11), 2), blockSize);
    AddEdgeCases(cases, "noise", 40, 30, 8, EncodeCodes(NoisePixels(40 * 30, 256, 12), 8), 255);
    // The last string reaches or runs past the last pixel by every amount: runs of one colour
    // (each string the next entry's, one longer than the one before) and of two.
    for (int count = 1; count <= 40; ++count)
        for (int colors : {1, 2}) {
            Bytes pixels(2 * count);
            for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i / 9 % colors);
            cases.push_back({"last string " + std::to_string(count) + " colors " + std::to_string(colors), count,
                             1, false, InBlocks(2, EncodeLZW(pixels, 2), {255})});
        }
    // Damaged and hostile streams: first codes at or above the clear code, codes beyond the next
    // entry, chains through entries defined later, self-references, random bits.
    const std::vector<std::vector<int>> hostile = {
        {4, 6, 0, 1, 7, 9, 8, 5},    {4, 5},
        {4, 7, 6, 0, 6, 5},          {4, 0, 7, 0, 7, 5},
        {4, 4, 4, 1, 6, 6, 6, 6, 6}, {4, 7, 0, 9, 9, 4, 2, 6, 7, 8, 5},
        {6, 6, 6, 4, 3, 7},          {4, 0, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 14, 13, 12},
        // Entries written in place, then a code beyond the next entry: later strings chain
        // through both kinds.
        {4, 1, 2, 3, 9, 6, 7, 9, 10, 8, 11, 5}};
    for (size_t i = 0; i < hostile.size(); ++i)
        for (int w : {4, 9})
            cases.push_back({"hostile " + std::to_string(i) + " width " + std::to_string(w), w, 3, w == 9,
                             InBlocks(2, PackCodes(WithDecoderWidths(hostile[i], 2)), {1, 2})});
    for (int k = 0; k < 60; ++k) {
        const int minCodeSize = k % 10;  // 9 decodes as 8
        Bytes bits(1 + random() % 600);
        for (auto& b : bits) b = static_cast<uint8_t>(random());
        const int w = 1 + random() % 70, h = 1 + random() % 30;
        cases.push_back({"random bits " + std::to_string(k), w, h, k % 3 == 0,
                         InBlocks(minCodeSize, bits, {1 + static_cast<int>(random() % 255)}, k % 4 != 0)});
    }
    // A valid stream with a few bytes spoilt.
    for (int k = 0; k < 30; ++k) {
        const Bytes pixels = FlatPixels(90, 70, 64, k);
        Bytes packed = EncodeLZW(pixels, 6);
        for (int n = 0; n < 1 + k % 3; ++n)
            packed[random() % packed.size()] ^= static_cast<uint8_t>(1 + random() % 255);
        cases.push_back({"spoilt " + std::to_string(k), 90, 70, k % 2 == 1, InBlocks(6, packed, {255, 31})});
    }
    // Spoilt early in a stream with many clear codes: decoding goes on past the damage and
    // through the resets that follow it.
    for (int k = 0; k < 12; ++k) {
        const Bytes pixels = NoisePixels(200 * 150, 256, 40 + k);
        Bytes packed = EncodeLZW(pixels, 8);
        for (int n = 0; n < 1 + k % 3; ++n)
            packed[random() % (packed.size() / 4)] ^= static_cast<uint8_t>(1 + random() % 255);
        cases.push_back({"spoilt with clears " + std::to_string(k), 200, 150, k % 2 == 0, InBlocks(8, packed, {255})});
    }
    return cases;
}

TEST(GifLzw, MatchesAPlainReferenceDecoder) {
    for (const DecodeCase& c : DecodeCases())
        for (int fill : {-1, 7}) {
            SCOPED_TRACE(c.name + (fill < 0 ? "" : ", transparent fill"));
            GifBytes gif = GifBytes().Header(c.width, c.height, 256);
            if (fill >= 0) gif.Gce(1, 0, fill);
            gif.Descriptor(0, 0, c.width, c.height, c.interlaced ? 0x40 : 0);
            const size_t dataStart = gif.b.size();
            gif.Raw(c.data).Raw({'!', 0xFE, 1, 'x', 0}).Trailer();
            Bytes file = gif.b;
            ReferenceResult expected = ReferenceDecode(file, dataStart, c.width, c.height, c.interlaced,
                                                       static_cast<uint8_t>(fill < 0 ? 0 : fill));
            ReferenceResult got = LoadFrame(file);
            EXPECT_EQ(got.error, expected.error);
            if (expected.error.empty()) {
                EXPECT_EQ(got.warnings, expected.warnings);
                EXPECT_EQ(got.position, expected.position);
                ASSERT_EQ(got.pixels.size(), expected.pixels.size());
                const auto mismatch = std::mismatch(got.pixels.begin(), got.pixels.end(), expected.pixels.begin());
                EXPECT_TRUE(mismatch.first == got.pixels.end())
                    << "first differing pixel " << (mismatch.first - got.pixels.begin());
            }
        }
}

}  // namespace
