#include "gifimage/quantiser.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "gifimage/gifstream.h"
#include "gifimage/lookups.h"
#include "tests/gifquant/fixtures.h"

namespace {

// Colours on which the lookups of the methods answer differently: the web lookup's level
// steps, luminance against distance for gray and black-and-white, saturated primaries.
const std::vector<Rgb> Probes = {{0, 0, 0},     {255, 255, 255}, {255, 0, 0},   {0, 255, 255}, {200, 0, 200},
                                 {0, 0, 26},    {26, 0, 0},      {100, 150, 200}, {128, 128, 128}, {250, 5, 130},
                                 {60, 60, 61},  {10, 240, 20}};

// Two rows of the probes, the second one reversed, in a 32-bit bitmap.
void FillProbes(TBitmap& bitmap) {
    const int n = static_cast<int>(Probes.size());
    FillBitmap(bitmap, pf32bit, n, 2, [n](int x, int y) { return Probes[y == 0 ? x : n - 1 - x]; });
}

HPALETTE StockPalette() { return static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)); }

const std::vector<Rgb> CustomColors = {{0, 0, 0}, {255, 255, 255}, {240, 20, 20}, {20, 200, 40}, {30, 30, 160}};

struct MethodCase {
    TReductionMethod method;
    const char* name;
    // The palette the method should use, made from a 24-bit copy of the source.
    std::function<HPALETTE(TBitmap&)> palette;
    std::function<std::unique_ptr<TColorLookup>(HPALETTE)> lookup;
};

template <class Lookup> std::function<std::unique_ptr<TColorLookup>(HPALETTE)> Make() {
    return [](HPALETTE palette) { return std::make_unique<Lookup>(palette); };
}

std::vector<MethodCase> MethodCases(HPALETTE custom) {
    return {
        {crSystem20, "system 20", [](TBitmap&) { return CopyPalette(StockPalette()); }, Make<TSlowColorLookup>()},
        {crHalftone, "halftone", [](TBitmap&) { return CreateSystemHalftonePalette(); }, Make<TSlowColorLookup>()},
        {crFourGrays, "four grays", [](TBitmap&) { return CreateFourGrayPalette(); }, Make<TSlowColorLookup>()},
        {crMonochrome, "monochrome", [](TBitmap&) { return CreateMonoPalette(); }, Make<TMonochromeLookup>()},
        {crGrayScale, "gray scale", [](TBitmap&) { return CreateGrayPalette(); }, Make<TGrayScaleLookup>()},
        {crWebPalette, "web", [](TBitmap&) { return CreateWebSafePalette(); }, Make<TNetscapeColorLookup>()},
        {crOptimized, "optimized, 3 bits",
         [](TBitmap& copy) { return CreateOptimizedPaletteForBitmap(copy, 8, 8, false); }, Make<TFastColorLookup>()},
        {crOptimizedSystem, "optimized with system colours",
         [](TBitmap& copy) { return CreateOptimizedPaletteForBitmap(copy, 256, 8, true); }, Make<TSlowColorLookup>()},
        {crCustomPalette, "custom", [custom](TBitmap&) { return CopyPalette(custom); }, Make<TSlowColorLookup>()},
    };
}

std::vector<Rgb> TableOf(TBitmap& bitmap) { return ColorsOf(bitmap.Palette()); }

TEST(GifReduceColors, EachMethodMapsEveryPixelThroughItsPaletteAndLookup) {
    OwnedPalette custom(CustomColors);
    for (const MethodCase& c : MethodCases(custom.get())) {
        SCOPED_TRACE(c.name);
        TBitmap source, copy;
        FillProbes(source);
        FillProbes(copy);
        copy.SetPixelFormat(pf24bit);
        OwnedPalette expectedPalette(c.palette(copy));
        auto lookup = c.lookup(expectedPalette.get());

        auto result = ReduceBitmapColors(source, c.method, dkNone, 3, custom.get());
        ASSERT_TRUE(result && !result->Empty());
        EXPECT_EQ(source.PixelFormat(), pf24bit);
        EXPECT_EQ(result->PixelFormat(), pf8bit);
        ASSERT_EQ(result->Width(), source.Width());
        ASSERT_EQ(result->Height(), 2);

        const std::vector<Rgb> expectedColors = ColorsOf(expectedPalette.get());
        const std::vector<Rgb> table = TableOf(*result);
        ASSERT_EQ(table.size(), 256u);
        for (size_t i = 0; i < table.size(); ++i)
            EXPECT_EQ(table[i], (i < expectedColors.size() ? expectedColors[i] : Rgb{0, 0, 0})) << "entry " << i;

        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < source.Width(); ++x) {
                const Rgb c24 = Pixel24(source, x, y);
                uint8_t r, g, b;
                const int expected = lookup->MatchColor(c24.r, c24.g, c24.b, r, g, b);
                EXPECT_EQ(result->ScanLine(y)[x], expected) << Describe(c24) << " at " << x << "," << y;
            }
    }
    EXPECT_EQ(ColorsOf(custom.get()), CustomColors);
    EXPECT_EQ(EntriesOf(StockPalette()).size(), 20u);
}

// The rows as the ditherer sees them: top first, each started at the ditherer's column.
std::vector<std::vector<int>> DriveDitherer(TBitmap& source, TDitherKind kind, TColorLookup& lookup) {
    const int width = source.Width();
    auto ditherer = CreateDitherer(kind, width, &lookup);
    std::vector<std::vector<int>> rows(source.Height(), std::vector<int>(width, -1));
    for (int y = 0; y < source.Height(); ++y) {
        for (int x = ditherer->Column(); x >= 0 && x < width; x = ditherer->Column()) {
            const Rgb c = Pixel24(source, x, y);
            uint8_t r, g, b;
            rows[y][x] = ditherer->DitherPixel(c.r, c.g, c.b, r, g, b);
        }
        ditherer->NextRow();
    }
    return rows;
}

std::vector<std::vector<int>> PixelsOf(TBitmap& bitmap) {
    std::vector<std::vector<int>> rows(bitmap.Height(), std::vector<int>(bitmap.Width()));
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) rows[y][x] = bitmap.ScanLine(y)[x];
    return rows;
}

TEST(GifReduceColors, EachDitherModeSpreadsTheErrorInSerpentineOrder) {
    struct PaletteCase {
        TReductionMethod method;
        const char* name;
        HPALETTE (*palette)();
        std::function<std::unique_ptr<TColorLookup>(HPALETTE)> lookup;
    };
    const PaletteCase palettes[] = {
        {crWebPalette, "web", CreateWebSafePalette, Make<TNetscapeColorLookup>()},
        {crMonochrome, "monochrome", CreateMonoPalette, Make<TMonochromeLookup>()},
        {crFourGrays, "four grays", CreateFourGrayPalette, Make<TSlowColorLookup>()},
    };
    for (const PaletteCase& p : palettes) {
        for (int mode = dkNone; mode <= dkBurkes; ++mode) {
            SCOPED_TRACE(std::string(p.name) + ", dither mode " + std::to_string(mode));
            const auto kind = static_cast<TDitherKind>(mode);
            TBitmap source;
            FillBitmap(source, pf24bit, 37, 6, [](int x, int y) { return Rgb{x * 7, 40 + y * 30, 255 - x * 5}; });
            OwnedPalette palette(p.palette());
            auto lookup = p.lookup(palette.get());
            const auto expected = DriveDitherer(source, kind, *lookup);

            auto result = ReduceBitmapColors(source, p.method, kind, 8, nullptr);
            ASSERT_FALSE(result->Empty());
            EXPECT_EQ(PixelsOf(*result), expected);
            if (kind != dkNone) {
                auto plainLookup = p.lookup(palette.get());
                EXPECT_NE(DriveDitherer(source, dkNone, *plainLookup), expected) << "the kernel changed nothing";
            }
        }
    }
}

TEST(GifReduceColors, NoReductionGivesA24BitCopyAndLeavesTheSource) {
    TBitmap source;
    FillProbes(source);
    auto result = ReduceBitmapColors(source, crNone, dkFloydSteinberg, 8, nullptr);
    EXPECT_EQ(source.PixelFormat(), pf32bit);
    EXPECT_EQ(result->PixelFormat(), pf24bit);
    ASSERT_EQ(result->Width(), source.Width());
    ASSERT_EQ(result->Height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < result->Width(); ++x)
            EXPECT_EQ(Pixel24(*result, x, y), Probes[y == 0 ? x : Probes.size() - 1 - x]) << x << "," << y;

    TBitmap empty;
    auto copy = ReduceBitmapColors(empty, crNone, dkNone, 8, nullptr);
    EXPECT_TRUE(copy->Empty());
}

TEST(GifReduceColors, NothingToMapGivesAnEmptyBitmapWithoutAnError) {
    struct Case {
        const char* name;
        int method, mode;
        int width, height;
        bool oneBit;  // the result noted 1 bit per pixel before it was abandoned
    };
    const Case cases[] = {
        {"method above the custom palette", 10, dkNone, 12, 2, false},
        {"method 255", 255, dkFloydSteinberg, 12, 2, false},
        {"dither mode above Burkes", crWebPalette, 7, 12, 2, false},
        {"custom palette 0", crCustomPalette, dkNone, 12, 2, false},
        {"custom palette 0 and no pixels", crCustomPalette, dkNone, 0, 0, false},
        {"dither mode above Burkes, 1000 x 500", crWebPalette, 7, 1000, 500, false},
        {"dither mode above Burkes, 1001 x 500", crWebPalette, 7, 1001, 500, true},
        {"method above the custom palette, 1001 x 500", 10, dkNone, 1001, 500, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap source;
        FillBitmap(source, pf32bit, c.width, c.height, [](int x, int y) { return Rgb{x & 0xFF, y & 0xFF, 9}; });
        std::unique_ptr<TBitmap> result;
        ASSERT_NO_THROW(result = ReduceBitmapColors(source, static_cast<TReductionMethod>(c.method),
                                                    static_cast<TDitherKind>(c.mode), 8, nullptr));
        ASSERT_TRUE(result);
        EXPECT_TRUE(result->Empty());
        EXPECT_EQ(result->PixelFormat() == pf1bit, c.oneBit);
        if (c.width > 0) {
            EXPECT_EQ(source.PixelFormat(), pf24bit);
        }
    }
}

TEST(GifReduceColors, LargePicturesStillComeBackWith8Bits) {
    for (const int width : {1000, 1001}) {
        SCOPED_TRACE(width);
        TBitmap source;
        FillBitmap(source, pf24bit, width, 500, [](int x, int y) { return Rgb{x & 0xFF, y & 0xFF, (x + y) & 0xFF}; });
        auto result = ReduceBitmapColors(source, crWebPalette, dkNone, 8, nullptr);
        EXPECT_EQ(result->PixelFormat(), pf8bit);
        ASSERT_EQ(result->Width(), width);
        ASSERT_EQ(result->Height(), 500);
        TNetscapeColorLookup lookup(nullptr);
        for (const POINT p : {POINT{0, 0}, POINT{width - 1, 0}, POINT{500, 250}, POINT{width - 1, 499}}) {
            const Rgb c = Pixel24(source, p.x, p.y);
            uint8_t r, g, b;
            EXPECT_EQ(result->ScanLine(p.y)[p.x], lookup.MatchColor(c.r, c.g, c.b, r, g, b)) << p.x << "," << p.y;
        }
    }
}

TEST(GifReduceColors, ASourceWithoutPixelsIsRefusedByEveryMappingMethod) {
    OwnedPalette custom(CustomColors);
    for (int method = crSystem20; method <= crCustomPalette; ++method) {
        SCOPED_TRACE(method);
        TBitmap source;
        source.SetPixelFormat(pf32bit);
        try {
            ReduceBitmapColors(source, static_cast<TReductionMethod>(method), dkFloydSteinberg, 8, custom.get());
            ADD_FAILURE() << "no exception";
        } catch (const GIFException& e) {
            EXPECT_EQ(e.Message(), "Invalid image dimensions");
        }
    }
    EXPECT_EQ(ColorsOf(custom.get()), CustomColors);
}

TEST(GifReduceColors, OptimizedPaletteHasTwoToTheReductionBitsColours) {
    struct Case {
        int bits;
        int colors;  // as the palette is asked for
    };
    const Case cases[] = {{8, 256}, {4, 16}, {1, 2}, {0, 1}, {-3, 1}, {9, 256}, {40, 256}};
    const auto pixels = DistinctColors(300);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        TBitmap source, copy;
        FillBitmap(source, pf24bit, 30, 10, [&](int x, int y) { return pixels[y * 30 + x]; });
        FillBitmap(copy, pf24bit, 30, 10, [&](int x, int y) { return pixels[y * 30 + x]; });
        OwnedPalette expected(CreateOptimizedPaletteForBitmap(copy, c.colors, 8, false));
        ASSERT_EQ(EntriesOf(expected.get()).size(), static_cast<size_t>(c.colors));

        auto result = ReduceBitmapColors(source, crOptimized, dkNone, c.bits, nullptr);
        const std::vector<Rgb> table = TableOf(*result);
        const std::vector<Rgb> expectedColors = ColorsOf(expected.get());
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(table[i], (i < c.colors ? expectedColors[i] : Rgb{0, 0, 0})) << "entry " << i;
        std::set<int> used;
        for (const auto& row : PixelsOf(*result)) used.insert(row.begin(), row.end());
        EXPECT_LT(*used.rbegin(), c.colors);
        if (c.colors == 256) {
            EXPECT_GT(used.size(), 240u);
        }
    }
}

TEST(GifReduceColors, OptimizedWithSystemColoursKeepsTheTwentyStaticColours) {
    TBitmap source;
    FillBitmap(source, pf24bit, 40, 10, [](int x, int y) { return Rgb{x * 6, y * 25, 128}; });
    auto result = ReduceBitmapColors(source, crOptimizedSystem, dkNone, 1, nullptr);
    const std::vector<Rgb> table = TableOf(*result);
    const std::vector<Rgb> stock = ColorsOf(StockPalette());
    ASSERT_EQ(stock.size(), 20u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(table[i], stock[i]) << i;
        EXPECT_EQ(table[246 + i], stock[10 + i]) << 246 + i;
    }
    // The picture's colours have (x * 6, y * 25, 128): quantised entries carry blue 128.
    for (int i = 10; i < 246; ++i) {
        if (table[i] == Rgb{0, 0, 0}) continue;
        EXPECT_EQ(table[i].b, 128) << i;
    }
    EXPECT_EQ(table[10].b, 128);
}

}  // namespace
