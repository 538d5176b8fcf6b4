// Small pictures and palettes for the colour-reduction tests.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "classlib/bitmap.h"
#include "tests/giflookups/palettes.h"

inline std::string Describe(const Rgb& c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

// Every entry of a palette, flags included.
inline std::vector<PALETTEENTRY> EntriesOf(HPALETTE palette) {
    WORD count = 0;
    if (!palette || GetObjectA(palette, sizeof count, &count) == 0) return {};
    std::vector<PALETTEENTRY> entries(count);
    if (count) GetPaletteEntries(palette, 0, count, entries.data());
    return entries;
}

inline std::vector<Rgb> ColorsOf(HPALETTE palette) {
    std::vector<Rgb> colors;
    for (const PALETTEENTRY& e : EntriesOf(palette)) colors.push_back({e.peRed, e.peGreen, e.peBlue});
    return colors;
}

// A bitmap of the given format whose pixel (x, y) is color(x, y); 24 or 32 bits per pixel.
inline void FillBitmap(TBitmap& bitmap, TPixelFormat format, int width, int height,
                       const std::function<Rgb(int, int)>& color) {
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    const int bytes = format == pf32bit ? 4 : 3;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const Rgb c = color(x, y);
            row[x * bytes] = static_cast<uint8_t>(c.b);
            row[x * bytes + 1] = static_cast<uint8_t>(c.g);
            row[x * bytes + 2] = static_cast<uint8_t>(c.r);
            if (bytes == 4) row[x * bytes + 3] = 0;
        }
    }
}

// A one-row picture of the listed colours.
inline void FillRow(TBitmap& bitmap, TPixelFormat format, const std::vector<Rgb>& colors) {
    FillBitmap(bitmap, format, static_cast<int>(colors.size()), 1, [&](int x, int) { return colors[x]; });
}

inline Rgb Pixel24(TBitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
    return {p[2], p[1], p[0]};
}

// n distinct colours (n below 512), spread over the cube.
inline std::vector<Rgb> DistinctColors(int n) {
    std::vector<Rgb> colors;
    for (int i = 0; i < n; ++i) colors.push_back({(i * 7) & 0xFF, ((i >> 8) * 100 + i * 3) & 0xFF, (i * 11) & 0xFF});
    return colors;
}
