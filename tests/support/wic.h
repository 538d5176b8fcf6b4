// Decoding GIF files with Windows' own imaging component, for comparison: every frame's colour
// indexes, or every frame as it renders it; and the corpus files to decode.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/files.h"

struct WICFrame {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint8_t> indexes;  // rows of width colour indexes
};

// Every frame's colour indexes; an empty list with error set when decoding fails.
struct WICResult {
    std::vector<WICFrame> frames;
    std::string error;
};

struct WICPixels {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint32_t> bgra;  // rows from the top; alpha in the high byte
};

struct WICPixelsResult {
    std::vector<WICPixels> frames;
    std::string error;
};

class WICGifDecoder {
public:
    WICGifDecoder();
    ~WICGifDecoder();
    WICGifDecoder(const WICGifDecoder&) = delete;
    WICGifDecoder& operator=(const WICGifDecoder&) = delete;
    bool Available() const { return factory_ != nullptr; }
    // Every frame's colour indexes, as stored.
    WICResult Decode(const uint8_t* data, size_t size);
    // Every frame as Windows renders it: 32-bit blue, green, red, alpha.
    WICPixelsResult DecodeToBGRA(const uint8_t* data, size_t size);

private:
    // Calls each(frame) for every frame of the stream until one fails; the first failure.
    template <class Each>
    long EachFrame(const uint8_t* data, size_t size, Each each);
    struct IWICImagingFactory* factory_ = nullptr;
};

// The same with a decoder of its own.
WICPixelsResult DecodeToBGRA(const uint8_t* data, size_t size);
