// Every frame of a GIF as Windows' own imaging component renders it: 32-bit blue, green, red, alpha.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct WICPixels {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint32_t> bgra;  // rows from the top; alpha in the high byte
};

struct WICPixelsResult {
    std::vector<WICPixels> frames;
    std::string error;
};

WICPixelsResult DecodeToBGRA(const uint8_t* data, size_t size);
