// Small palettes for the lookup and ditherer tests, and brute-force nearest-colour searches.
#pragma once
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "gifimage/gifstream.h"

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

// A palette handle deleted with its holder.
class OwnedPalette {
public:
    explicit OwnedPalette(HPALETTE handle) : handle_(handle) {}
    explicit OwnedPalette(const std::vector<Rgb>& colors) : handle_(Make(colors)) {}
    ~OwnedPalette() {
        if (handle_) DeleteObject(handle_);
    }
    OwnedPalette(const OwnedPalette&) = delete;
    OwnedPalette& operator=(const OwnedPalette&) = delete;
    HPALETTE get() const { return handle_; }

private:
    static HPALETTE Make(const std::vector<Rgb>& colors) {
        std::vector<BYTE> buffer(sizeof(LOGPALETTE) + colors.size() * sizeof(PALETTEENTRY));
        auto* log = reinterpret_cast<LOGPALETTE*>(buffer.data());
        log->palVersion = 0x300;
        log->palNumEntries = static_cast<WORD>(colors.size());
        for (size_t i = 0; i < colors.size(); ++i)
            log->palPalEntry[i] = {static_cast<BYTE>(colors[i].r), static_cast<BYTE>(colors[i].g),
                                   static_cast<BYTE>(colors[i].b), 0};
        return CreatePalette(log);
    }
    HPALETTE handle_;
};

inline std::vector<Rgb> WebColors() {
    std::vector<Rgb> colors;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) colors.push_back({51 * r, 51 * g, 51 * b});
    return colors;
}

// Grays from black to white in evenly spaced steps.
inline std::vector<Rgb> GrayRamp(int steps) {
    std::vector<Rgb> colors;
    for (int i = 0; i < steps; ++i) {
        const int v = i * 255 / (steps - 1);
        colors.push_back({v, v, v});
    }
    return colors;
}

// Equal distances everywhere: the tie order decides most answers.
inline std::vector<Rgb> TiePalette() {
    return {{100, 0, 0}, {0, 100, 0}, {0, 0, 100}, {100, 0, 0}, {200, 200, 200}, {0, 100, 0}, {50, 50, 50}};
}

inline int CityBlock(const Rgb& a, const Rgb& b) {
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}
inline int SquaredDistance(const Rgb& a, const Rgb& b) {
    return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
}

// The lowest index among the entries nearest to c by the given distance.
template <class Distance>
int NearestIndex(const std::vector<Rgb>& palette, const Rgb& c, Distance distance) {
    int best = 0;
    for (int i = 1; i < static_cast<int>(palette.size()); ++i)
        if (distance(palette[i], c) < distance(palette[best], c)) best = i;
    return best;
}
