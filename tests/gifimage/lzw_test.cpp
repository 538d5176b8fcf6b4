// LZW decoding: resets, code widths, the full table, sub-block boundaries, early ends, damaged tables.
#include <gtest/gtest.h>

#include <random>

#include "gifbuilder.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"

namespace {

// A one-frame GIF whose frame has the given size, flags and LZW data.
Bytes FrameGif(int width, int height, int minCodeSize, const Bytes& packed, int blockSize = 255, int packedFlags = 0,
               int transparentIndex = -1) {
    GifBytes gif = GifBytes().Header(width, height, 256);
    if (transparentIndex >= 0) gif.Gce(1, 0, transparentIndex);
    return gif.Descriptor(0, 0, width, height, packedFlags).Data(minCodeSize, packed, blockSize).Trailer().b;
}

Bytes FramePixels(const TGIFImage& image, int index = 0) {
    TGIFSubImage* frame = image.Frames->FrameAt(index);
    return Bytes(frame->Pixels, frame->Pixels + frame->PixelsSize);
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
                          {33, 17, 3, 8, 1},  {33, 17, 3, 8, 2},  {120, 90, 8, 256, 7}, {500, 400, 8, 256, 255}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " min " << c.minCodeSize << " blocks "
                                        << c.blockSize);
        Bytes pixels = NoisePixels(c.width * c.height, c.colors, c.width);
        WarningLog log;
        auto image = LoadGif(FrameGif(c.width, c.height, c.minCodeSize, EncodeLZW(pixels, c.minCodeSize),
                                      c.blockSize),
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
    image.Header->LoadFromStream(*stream);
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
            EXPECT_EQ(image->Frames->ItemCount(), 1);
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

} // namespace
