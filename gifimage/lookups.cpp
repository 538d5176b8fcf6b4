#include "gifimage/lookups.h"

#include <cstdlib>

namespace {

// Weighted luminance times 256 (the weights sum to 256).
int LuminanceTimes256(uint8_t red, uint8_t green, uint8_t blue) { return 77 * red + 150 * green + 29 * blue; }

void SetOutputs(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen, uint8_t& outBlue) {
    outRed = red;
    outGreen = green;
    outBlue = blue;
}

}  // namespace

// --- Fast lookup ---------------------------------------------------------------

// Every palette entry seeds the cache cell of its own key; the first entry of a key wins.
TFastColorLookup::TFastColorLookup(HPALETTE palette)
    : TColorLookup(palette)
    , paletteEntries_(new PALETTEENTRY[256]())
    , cache_(new int16_t[CacheSize]) {
    SetColorCount(palette ? static_cast<int32_t>(GetPaletteEntries(palette, 0, 256, paletteEntries_.get())) : 0);
    for (int key = 0; key < CacheSize; ++key) cache_[key] = -1;
    for (int i = 0; i < ColorCount(); ++i) {
        const PALETTEENTRY& e = paletteEntries_[i];
        const int key = ColorKey(e.peRed, e.peGreen, e.peBlue);
        if (cache_[key] == -1) cache_[key] = static_cast<int16_t>(i);
    }
}

// A miss searches the palette once; the answer then stands for every colour of that key.
uint8_t TFastColorLookup::MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                     uint8_t& outBlue) {
    // Without colours there is nothing to answer: index 0, outputs left as they were.
    if (ColorCount() <= 0) return 0;
    const int key = ColorKey(red, green, blue);
    int index = cache_[key];
    if (index < 0) {
        int bestDistance = 0x30000;
        index = 0;
        for (int i = 0; i < ColorCount(); ++i) {
            const PALETTEENTRY& e = paletteEntries_[i];
            const int distance = std::abs(e.peRed - red) + std::abs(e.peGreen - green) + std::abs(e.peBlue - blue);
            if (distance < bestDistance) {
                bestDistance = distance;
                index = i;
            }
        }
        cache_[key] = static_cast<int16_t>(index);
    }
    index &= 0xFF;
    const PALETTEENTRY& chosen = paletteEntries_[index];
    SetOutputs(chosen.peRed, chosen.peGreen, chosen.peBlue, outRed, outGreen, outBlue);
    return static_cast<uint8_t>(index);
}

// --- Slow lookup ---------------------------------------------------------------

TSlowColorLookup::TSlowColorLookup(HPALETTE palette) : TColorLookup(palette), palette_(palette) {
    SetColorCount(palette ? static_cast<int32_t>(GetPaletteEntries(palette, 0, 256, nullptr)) : 0);
    if (ColorCount() > 0) {
        paletteEntries_.reset(new PALETTEENTRY[ColorCount()]());
        SetColorCount(static_cast<int32_t>(GetPaletteEntries(palette, 0, 256, paletteEntries_.get())));
    }
}

// The system's answer; its colour only when the index lies among the entries read, so a
// failed search (CLR_INVALID) or an entry past the first 256 never reads outside the copy.
uint8_t TSlowColorLookup::MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                     uint8_t& outBlue) {
    const UINT index = GetNearestPaletteIndex(palette_, static_cast<COLORREF>(red + green * 256 + blue * 65536));
    if (paletteEntries_ && index < static_cast<UINT>(ColorCount())) {
        const PALETTEENTRY& chosen = paletteEntries_[index];
        SetOutputs(chosen.peRed, chosen.peGreen, chosen.peBlue, outRed, outGreen, outBlue);
    }
    return static_cast<uint8_t>(index);
}

// --- Computed lookups ----------------------------------------------------------

TNetscapeColorLookup::TNetscapeColorLookup(HPALETTE palette) : TColorLookup(palette) { SetColorCount(216); }

// Levels change at 48, 99, 150, 201 and 252, which is not always the nearest of the six.
uint8_t TNetscapeColorLookup::MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                         uint8_t& outBlue) {
    const int r = (red + 3) / 51, g = (green + 3) / 51, b = (blue + 3) / 51;
    SetOutputs(static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51), static_cast<uint8_t>(b * 51), outRed,
               outGreen, outBlue);
    return static_cast<uint8_t>(r * 36 + g * 6 + b);
}

TGrayScaleLookup::TGrayScaleLookup(HPALETTE palette) : TColorLookup(palette) { SetColorCount(256); }

uint8_t TGrayScaleLookup::MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                     uint8_t& outBlue) {
    const auto gray = static_cast<uint8_t>(LuminanceTimes256(red, green, blue) >> 8);
    SetOutputs(gray, gray, gray, outRed, outGreen, outBlue);
    return gray;
}

TMonochromeLookup::TMonochromeLookup(HPALETTE palette) : TColorLookup(palette) { SetColorCount(2); }

uint8_t TMonochromeLookup::MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                      uint8_t& outBlue) {
    if (LuminanceTimes256(red, green, blue) > 127 * 256) {
        SetOutputs(255, 255, 255, outRed, outGreen, outBlue);
        return 1;
    }
    SetOutputs(0, 0, 0, outRed, outGreen, outBlue);
    return 0;
}
