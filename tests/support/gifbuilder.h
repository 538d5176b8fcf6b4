// Builders of GIF streams for the tests: raw blocks, packed LZW codes and a reference encoder.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "classlib/streams.h"
#include "gifimage/giferror.h"
#include "gifimage/gifimage.h"
#include "tests/support/bitmaps.h"

// A GIF stream put together block by block.
struct GifBytes {
    Bytes b;
    GifBytes& Raw(std::initializer_list<int> bytes);
    GifBytes& Raw(const Bytes& bytes);
    GifBytes& Text(const std::string& text);
    GifBytes& Word(int value);
    // "GIF89a" (or signature), logical screen; a global table of colors entries when colors > 0.
    GifBytes& Header(int width, int height, int colors = 2, const char* signature = "GIF89a");
    GifBytes& Gce(int packed, int delay, int transparentIndex);
    GifBytes& Descriptor(int left, int top, int width, int height, int packed = 0);
    // Minimum code size, the data cut into sub-blocks of blockSize bytes, terminator.
    GifBytes& Data(int minCodeSize, const Bytes& packed, int blockSize = 255);
    // A whole frame: descriptor and LZW data of pixels.
    GifBytes& Frame(int left, int top, int width, int height, const Bytes& pixels, int minCodeSize = 2, int packed = 0);
    GifBytes& Trailer() { return Raw({';'}); }
};

// Codes packed least significant bit first, each with its own width.
Bytes PackCodes(const std::vector<std::pair<int, int>>& codesAndWidths);
// The code widths a decoder uses for a sequence of codes (clear codes reset them).
std::vector<std::pair<int, int>> WithDecoderWidths(const std::vector<int>& codes, int minCodeSize);

struct EncodeOptions {
    bool leadingClear = true;
    // Emit a clear code when the table is full; otherwise keep coding with a full table.
    bool clearWhenFull = true;
    bool endCode = true;
};
// LZW codes of pixels as a decoder expects them (without packing).
std::vector<int> EncodeCodes(const Bytes& pixels, int minCodeSize, const EncodeOptions& options = {});
Bytes EncodeLZW(const Bytes& pixels, int minCodeSize, const EncodeOptions& options = {});

// Rows in GIF interlace order.
Bytes Interlace(const Bytes& pixels, int width, int height);

// Warnings an image reported: (sender, severity, message).
struct WarningLog {
    std::vector<std::tuple<TObject*, int, std::string>> entries;
    void Attach(TGIFImage& image);
    std::vector<std::string> Messages() const;
};

// Loads bytes into a new image that logs its warnings into log (when given).
std::unique_ptr<TGIFImage> LoadGif(const Bytes& bytes, WarningLog* log = nullptr);

// The message of the GIFException that loading bytes raises ("" when it loads); the stream's
// position after the attempt goes to position when given.
std::string LoadError(const Bytes& bytes, int64_t* position = nullptr);
// The message of the GIFException that action raises ("" when it raises none).
std::string GIFErrorOf(const std::function<void()>& action);
