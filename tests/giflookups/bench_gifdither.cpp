// Throughput of each colour lookup and each ditherer on a 1024 x 768 photo-like picture,
// in megapixels per second (best of several runs).
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "gifimage/ditherers.h"
#include "gifimage/gdiutils.h"
#include "gifimage/gifstream.h"
#include "gifimage/lookups.h"
#include "tests/support/bench.h"

namespace {

constexpr int Width = 1024, Height = 768, Runs = 3;

struct Picture {
    std::vector<uint8_t> rgb;  // red, green, blue per pixel, rows top to bottom
    const uint8_t* Pixel(int x, int y) const { return &rgb[(static_cast<size_t>(y) * Width + x) * 3]; }
};

// Smooth sky and ground gradients, a few soft-edged discs and fine grain, as in a photograph.
Picture MakePhotoLike() {
    Picture p;
    p.rgb.resize(static_cast<size_t>(Width) * Height * 3);
    uint32_t seed = 12345;
    const struct {
        double x, y, r;
        int red, green, blue;
    } discs[] = {{300, 250, 120, 230, 180, 60}, {700, 400, 200, 40, 120, 60}, {850, 150, 80, 250, 250, 240}};
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            double r, g, b;
            if (y < Height / 2) {
                r = 90 + 60.0 * y / Height;
                g = 140 + 50.0 * y / Height;
                b = 230 - 40.0 * x / Width;
            } else {
                r = 110 + 40 * std::sin(x / 37.0);
                g = 90 + 30 * std::cos(y / 23.0);
                b = 50 + 20.0 * x / Width;
            }
            for (const auto& d : discs) {
                const double dist = std::hypot(x - d.x, y - d.y);
                const double w = std::clamp((d.r - dist) / 20.0, 0.0, 1.0);
                r = r * (1 - w) + d.red * w;
                g = g * (1 - w) + d.green * w;
                b = b * (1 - w) + d.blue * w;
            }
            seed = seed * 1664525u + 1013904223u;
            const int grain = static_cast<int>(seed >> 28) - 8;
            uint8_t* px = &p.rgb[(static_cast<size_t>(y) * Width + x) * 3];
            px[0] = static_cast<uint8_t>(std::clamp(static_cast<int>(r) + grain, 0, 255));
            px[1] = static_cast<uint8_t>(std::clamp(static_cast<int>(g) + grain, 0, 255));
            px[2] = static_cast<uint8_t>(std::clamp(static_cast<int>(b) + grain, 0, 255));
        }
    return p;
}

// 6 x 7 x 6 levels and 4 extra grays: a full 256-entry palette of no fixed layout.
HPALETTE MakeMixedPalette() {
    std::vector<BYTE> buffer(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
    auto* log = reinterpret_cast<LOGPALETTE*>(buffer.data());
    log->palVersion = 0x300;
    log->palNumEntries = 256;
    int n = 0;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 7; ++g)
            for (int b = 0; b < 6; ++b)
                log->palPalEntry[n++] = {static_cast<BYTE>(r * 51), static_cast<BYTE>(g * 42),
                                         static_cast<BYTE>(b * 51), 0};
    for (int v : {64, 96, 160, 192})
        log->palPalEntry[n++] = {static_cast<BYTE>(v), static_cast<BYTE>(v), static_cast<BYTE>(v), 0};
    return CreatePalette(log);
}

double BestMegapixelsPerSecond(const std::function<unsigned()>& run) {
    double best = 1e30;
    unsigned checksum = 0;
    for (int i = 0; i < Runs; ++i) {
        const double start = Seconds();
        checksum += run();
        best = std::min(best, Seconds() - start);
    }
    if (checksum == 0xFFFFFFFFu) std::printf(" ");  // keeps the work from being optimised away
    return Width * Height / 1e6 / best;
}

using LookupFactory = std::function<std::unique_ptr<TColorLookup>()>;

struct NamedLookup {
    const char* name;
    LookupFactory make;
};

unsigned LookUpAll(const Picture& p, TColorLookup& lookup) {
    unsigned sum = 0;
    uint8_t r, g, b;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const uint8_t* px = p.Pixel(x, y);
            sum += lookup.MatchColor(px[0], px[1], px[2], r, g, b);
        }
    return sum;
}

// The colour reduction's driving loop.
unsigned DitherAll(const Picture& p, TDitherEngine& ditherer) {
    unsigned sum = 0;
    uint8_t r, g, b;
    for (int y = 0; y < Height; ++y) {
        for (int x = ditherer.Column(); x >= 0 && x < Width; x = ditherer.Column()) {
            const uint8_t* px = p.Pixel(x, y);
            sum += ditherer.DitherPixel(px[0], px[1], px[2], r, g, b);
        }
        ditherer.NextRow();
    }
    return sum;
}

}  // namespace

int main() {
    const Picture picture = MakePhotoLike();
    HPALETTE mixed = MakeMixedPalette(), web = CreateWebSafePalette();
    const NamedLookup lookups[] = {
        {"fast (256 mixed colours)", [&] { return std::make_unique<TFastColorLookup>(mixed); }},
        {"slow (256 mixed colours)", [&] { return std::make_unique<TSlowColorLookup>(mixed); }},
        {"slow (web palette)", [&] { return std::make_unique<TSlowColorLookup>(web); }},
        {"web", [&] { return std::make_unique<TNetscapeColorLookup>(web); }},
        {"gray", [] { return std::make_unique<TGrayScaleLookup>(nullptr); }},
        {"black and white", [] { return std::make_unique<TMonochromeLookup>(nullptr); }},
    };
    std::printf("Picture %d x %d, best of %d runs, megapixels per second\n\n", Width, Height, Runs);
    std::printf("Lookups (a new lookup per run, so the fast cache starts empty)\n");
    for (const auto& l : lookups)
        std::printf("  %-28s %8.1f\n", l.name, BestMegapixelsPerSecond([&] {
                        auto lookup = l.make();
                        return LookUpAll(picture, *lookup);
                    }));

    const char* kindNames[] = {"none",           "Floyd-Steinberg", "Stucki", "Sierra", "Jarvis-Judice-Ninke",
                               "Stevenson-Arce", "Burkes"};
    std::printf("\nDitherers          %12s %12s %12s\n", "web", "fast", "slow");
    for (int k = dkNone; k <= dkBurkes; ++k) {
        std::printf("  %-20s", kindNames[k]);
        for (int l : {3, 0, 1}) {
            std::printf(" %12.1f", BestMegapixelsPerSecond([&] {
                            auto lookup = lookups[l].make();
                            auto ditherer = CreateDitherer(static_cast<TDitherKind>(k), Width, lookup.get());
                            return DitherAll(picture, *ditherer);
                        }));
        }
        std::printf("\n");
    }
    DeleteObject(mixed);
    DeleteObject(web);
    return 0;
}
