// Pixel patterns, encoding into memory and a minimal GIF around image data, for the writer's tests
// and its benchmark.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/streams.h"
#include "gifimage/encoders.h"

enum class Pattern { Flat, Noise, Runs, Gradient, Distinct };

// Deterministic pixel buffers: noise from a fixed generator, runs of random lengths and colours.
inline std::vector<uint8_t> MakePixels(Pattern pattern, int width, int height, int colours, uint32_t seed = 1) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
    uint32_t state = seed * 2654435761u + 12345u;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    size_t i = 0;
    switch (pattern) {
    case Pattern::Flat: std::memset(pixels.data(), colours - 1, pixels.size()); break;
    case Pattern::Noise:
        for (auto& p : pixels) p = static_cast<uint8_t>(next() % colours);
        break;
    case Pattern::Runs:
        while (i < pixels.size()) {
            const uint8_t colour = static_cast<uint8_t>(next() % colours);
            size_t length = 1 + next() % 40;
            if (next() % 8 == 0) length += next() % 5000;
            for (; length > 0 && i < pixels.size(); --length) pixels[i++] = colour;
        }
        break;
    case Pattern::Gradient:
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                pixels[i++] = static_cast<uint8_t>(((x + y) * colours / (width + height)) % colours);
        break;
    case Pattern::Distinct:
        for (auto& p : pixels) p = static_cast<uint8_t>(i++ % colours);
        break;
    }
    return pixels;
}

// The rows of an interlaced frame in the order they are coded: every eighth from row 0, every
// eighth from row 4, every fourth from row 2, every second from row 1.
inline std::vector<int> InterlacedRows(int height) {
    std::vector<int> rows;
    const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int row = start[pass]; row < height; row += step[pass]) rows.push_back(row);
    return rows;
}

inline std::vector<uint8_t> StreamBytes(TMemoryStream& stream) {
    const uint8_t* data = static_cast<const uint8_t*>(stream.Memory());
    return std::vector<uint8_t>(data, data + stream.Size());
}

// Image data of one frame (minimum code size, sub-blocks, terminator) as the encoder writes it.
inline std::vector<uint8_t> EncodeImageData(bool runLength, int bitsPerPixel, int width, int height, bool interlaced,
                                            const uint8_t* pixels, int maxColor) {
    TMemoryStream stream;
    WriteGIFPixelData(stream, runLength ? 1 : 0, static_cast<uint8_t>(bitsPerPixel), width, height, interlaced, pixels,
                      maxColor);
    return StreamBytes(stream);
}

// A whole GIF89a file: a global table of 2^tableBits grey entries (entry i is red = green = blue = i),
// one image descriptor, the given image data and the trailer.
inline std::vector<uint8_t> WrapInGIF(int width, int height, int tableBits, bool interlaced,
                                      const std::vector<uint8_t>& imageData) {
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a'};
    auto put16 = [&gif](int v) {
        gif.push_back(static_cast<uint8_t>(v));
        gif.push_back(static_cast<uint8_t>(v >> 8));
    };
    put16(width);
    put16(height);
    gif.push_back(static_cast<uint8_t>(0x80 | ((tableBits - 1) << 4) | (tableBits - 1)));
    gif.push_back(0);
    gif.push_back(0);
    for (int i = 0; i < (1 << tableBits); ++i) gif.insert(gif.end(), 3, static_cast<uint8_t>(i));
    gif.push_back(',');
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    gif.push_back(interlaced ? 0x40 : 0x00);
    gif.insert(gif.end(), imageData.begin(), imageData.end());
    gif.push_back(';');
    return gif;
}

// Smallest table depth (1 to 8) that holds the given number of colours.
inline int TableBits(int colours) {
    int bits = 1;
    while ((1 << bits) < colours) ++bits;
    return bits;
}
