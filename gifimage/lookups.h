// Colour lookups: for one RGB colour, the index of the palette entry that stands for it and
// that entry's own colour. The ditherers ask one for every pixel.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>

class TColorLookup {
public:
    explicit TColorLookup(HPALETTE palette) {}
    virtual ~TColorLookup() = default;
    TColorLookup(const TColorLookup&) = delete;
    TColorLookup& operator=(const TColorLookup&) = delete;

    // Answers the palette index for (red, green, blue) and writes that entry's colour.
    virtual uint8_t MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                               uint8_t& outBlue) = 0;

    // Palette colours the lookup can answer; 0 when it has no usable palette.
    int32_t ColorCount() const { return colorCount_; }

protected:
    void SetColorCount(int32_t count) { colorCount_ = count; }

private:
    int32_t colorCount_ = 0;
};

// Nearest colour by the sum of channel differences, remembered per 15-bit colour key.
class TFastColorLookup : public TColorLookup {
public:
    explicit TFastColorLookup(HPALETTE palette);
    uint8_t MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                       uint8_t& outBlue) override;

    static constexpr int CacheSize = 32768;
    static int ColorKey(uint8_t red, uint8_t green, uint8_t blue) {
        return (red >> 3) | ((green & 0xF8) << 2) | ((blue & 0xF8) << 7);
    }

private:
    std::unique_ptr<PALETTEENTRY[]> paletteEntries_;
    std::unique_ptr<int16_t[]> cache_;
};

// The system's nearest-colour search on the palette, which must outlive the lookup.
class TSlowColorLookup : public TColorLookup {
public:
    explicit TSlowColorLookup(HPALETTE palette);
    uint8_t MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                       uint8_t& outBlue) override;

private:
    std::unique_ptr<PALETTEENTRY[]> paletteEntries_;
    HPALETTE palette_;
};

// The 216-colour web palette: entry r * 36 + g * 6 + b holds (51r, 51g, 51b).
class TNetscapeColorLookup : public TColorLookup {
public:
    explicit TNetscapeColorLookup(HPALETTE palette);
    uint8_t MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                       uint8_t& outBlue) override;
};

// 256 grays: entry i holds (i, i, i).
class TGrayScaleLookup : public TColorLookup {
public:
    explicit TGrayScaleLookup(HPALETTE palette);
    uint8_t MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                       uint8_t& outBlue) override;
};

// Black at entry 0, white at entry 1.
class TMonochromeLookup : public TColorLookup {
public:
    explicit TMonochromeLookup(HPALETTE palette);
    uint8_t MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                       uint8_t& outBlue) override;
};
