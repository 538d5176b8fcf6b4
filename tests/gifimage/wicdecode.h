// Decoding GIF files with Windows' own imaging component, for comparison.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

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

class WICGifDecoder {
public:
    WICGifDecoder();
    ~WICGifDecoder();
    WICGifDecoder(const WICGifDecoder&) = delete;
    WICGifDecoder& operator=(const WICGifDecoder&) = delete;
    bool Available() const { return factory_ != nullptr; }
    WICResult Decode(const uint8_t* data, size_t size);

private:
    struct IWICImagingFactory* factory_ = nullptr;
};

std::vector<uint8_t> ReadWholeFile(const std::string& path);
// The .gif files of a folder, sorted by name.
std::vector<std::string> GifFilesIn(const std::string& folder);
