// Images built in memory, saving them, and a walk over the grammar of what was saved.
#pragma once
#include <cstring>
#include <fstream>
#include <string>

#include "gifimage/colormap.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "tests/gifwriter/gifwriter_fixtures.h"
#include "tests/support/gifbuilder.h"

inline Bytes SaveBytes(TGIFImage& image) {
    TMemoryStream stream;
    image.SaveToStream(stream);
    return StreamBytes(stream);
}

template <class Item>
Bytes ItemBytes(Item& item) {
    TMemoryStream stream;
    item.SaveToStream(stream);
    return StreamBytes(stream);
}

inline void WriteWholeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline TColor Grey(int i) { return static_cast<TColor>(i | i << 8 | i << 16); }

inline void AddGlobalColors(TGIFImage& image, int count) {
    for (int i = 0; i < count; ++i) image.GlobalColors()->AppendColor(Grey(i));
}

// A frame appended to image: its bounds, a local table of localColors grey entries (none for 0)
// and, when given, its pixels.
inline TGIFSubImage* AddFrame(TGIFImage& image, int left, int top, int width, int height, int localColors,
                              const Bytes& pixels = {}) {
    auto* frame = new TGIFSubImage(&image);
    image.Frames()->Append(frame);
    frame->ApplyBounds(left, top, width, height);
    for (int i = 0; i < localColors; ++i) frame->LocalColorMap()->AppendColor(Grey(i));
    if (!pixels.empty()) frame->SetPixels(pixels.data(), pixels.size());
    return frame;
}

// Walks a saved stream block by block; "" when it keeps to the grammar the library writes:
// signature, screen, tables of the sizes the packed fields give, extensions as sub-blocks, image
// data with a minimum code size of 2 to 8 in sub-blocks of 255 bytes but the last, and the
// trailer as the very last byte.
inline std::string GrammarProblem(const Bytes& gif) {
    size_t at = 0;
    auto need = [&](size_t n) { return at + n <= gif.size(); };
    auto subBlocks = [&](bool imageData) -> std::string {
        bool shortSeen = false;
        while (true) {
            if (!need(1)) return "sub-blocks cut short at " + std::to_string(at);
            const size_t length = gif[at++];
            if (length == 0) return "";
            if (imageData && shortSeen) return "a short data sub-block before the last at " + std::to_string(at);
            shortSeen = length < 255;
            if (!need(length)) return "sub-block cut short at " + std::to_string(at);
            at += length;
        }
    };
    if (!need(13) || std::memcmp(gif.data(), "GIF8", 4) != 0 || (gif[4] != '7' && gif[4] != '9') || gif[5] != 'a')
        return "no signature";
    at = 13;
    if (gif[10] & 0x80) at += 3u * (2u << (gif[10] & 7));
    while (true) {
        if (!need(1)) return "no trailer";
        const uint8_t introducer = gif[at++];
        if (introducer == ';') return at == gif.size() ? "" : "bytes after the trailer";
        if (introducer == '!') {
            if (!need(1)) return "extension without label";
            ++at;
            if (std::string p = subBlocks(false); !p.empty()) return p;
        } else if (introducer == ',') {
            if (!need(10)) return "descriptor cut short";
            const uint8_t packed = gif[at + 8];
            at += 9;
            if (packed & 0x80) at += 3u * (2u << (packed & 7));
            if (!need(1)) return "no minimum code size";
            const uint8_t minCodeSize = gif[at++];
            if (minCodeSize < 2 || minCodeSize > 8) return "minimum code size " + std::to_string(minCodeSize);
            if (std::string p = subBlocks(true); !p.empty()) return p;
        } else {
            return "block introducer " + std::to_string(introducer) + " at " + std::to_string(at - 1);
        }
    }
}
