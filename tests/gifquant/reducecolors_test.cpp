#include "gifimage/giferror.h"
#include "gifimage/quantiser.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gifimage/gifstream.h"
#include "tests/gifquant/fixtures.h"
#include "tests/gifquant/models.h"

namespace {

// Colours on which the lookups of the methods answer differently: the web lookup's level
// steps, luminance against distance for gray and black-and-white, saturated primaries.
const std::vector<Rgb> Probes = {{0, 0, 0},       {255, 255, 255}, {255, 0, 0},  {0, 255, 255},
                                 {200, 0, 200},   {0, 0, 26},      {26, 0, 0},   {100, 150, 200},
                                 {128, 128, 128}, {250, 5, 130},   {60, 60, 61}, {10, 240, 20}};

// Two rows of the probes, the second one reversed, in a 32-bit bitmap.
void FillProbes(TBitmap& bitmap) {
    const int n = static_cast<int>(Probes.size());
    FillBitmap(bitmap, pf32bit, n, 2, [n](int x, int y) { return Probes[y == 0 ? x : n - 1 - x]; });
}

HPALETTE StockPalette() { return static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)); }

const std::vector<Rgb> CustomColors = {{0, 0, 0}, {255, 255, 255}, {240, 20, 20}, {20, 200, 40}, {30, 30, 160}};

std::vector<Rgb> TableOf(TBitmap& bitmap) { return ColorsOf(bitmap.Palette()); }

std::vector<std::vector<int>> PixelsOf(TBitmap& bitmap) {
    std::vector<std::vector<int>> rows(bitmap.Height(), std::vector<int>(bitmap.Width()));
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) rows[y][x] = bitmap.ScanLine(y)[x];
    return rows;
}

model::Picture PictureOf(int width, int height, const std::function<Rgb(int, int)>& color) {
    model::Picture picture(height, std::vector<Rgb>(width));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) picture[y][x] = color(x, y);
    return picture;
}

void FillPicture(TBitmap& bitmap, TPixelFormat format, const model::Picture& picture) {
    FillBitmap(bitmap, format, static_cast<int>(picture[0].size()), static_cast<int>(picture.size()),
               [&](int x, int y) { return picture[y][x]; });
}

// The reduction of picture as the library does it, in the model's terms: the colour table cut
// to the expected palette's length (the rest must be black) and the pixels.
model::Reduced LibraryReduction(const model::Picture& picture, TReductionMethod method, TDitherKind kind, int bits,
                                HPALETTE custom, size_t paletteSize) {
    TBitmap source;
    FillPicture(source, pf32bit, picture);
    auto result = ReduceBitmapColors(source, method, kind, bits, custom);
    model::Reduced out;
    if (!result || result->Empty()) return out;
    EXPECT_EQ(source.PixelFormat(), pf24bit);
    EXPECT_EQ(result->PixelFormat(), pf8bit);
    const std::vector<Rgb> table = TableOf(*result);
    EXPECT_EQ(table.size(), 256u);
    for (size_t i = 0; i < table.size(); ++i) {
        if (i < paletteSize) {
            out.palette.push_back(table[i]);
        } else {
            EXPECT_EQ(table[i], (Rgb{0, 0, 0})) << "entry " << i << " past the palette";
        }
    }
    out.pixels = PixelsOf(*result);
    return out;
}

// Names the first difference, so that a failure says where the library left the rule.
std::string FirstDifference(const model::Reduced& got, const model::Reduced& want) {
    if (got.palette.size() != want.palette.size())
        return std::to_string(got.palette.size()) + " palette entries, expected " + std::to_string(want.palette.size());
    for (size_t i = 0; i < want.palette.size(); ++i)
        if (!(got.palette[i] == want.palette[i]))
            return "palette entry " + std::to_string(i) + " is " + Describe(got.palette[i]) + ", expected " +
                   Describe(want.palette[i]);
    if (got.pixels.size() != want.pixels.size()) return "other height";
    for (size_t y = 0; y < want.pixels.size(); ++y)
        for (size_t x = 0; x < want.pixels[y].size(); ++x)
            if (x >= got.pixels[y].size() || got.pixels[y][x] != want.pixels[y][x])
                return "pixel " + std::to_string(x) + "," + std::to_string(y) + " is " +
                       (x < got.pixels[y].size() ? std::to_string(got.pixels[y][x]) : "missing") + ", expected " +
                       std::to_string(want.pixels[y][x]);
    return "";
}

TEST(GifReduceColors, EachMethodMapsEveryPixelThroughItsPaletteAndLookup) {
    struct Case {
        TReductionMethod method;
        const char* name;
    };
    const Case cases[] = {
        {crSystem20, "system 20"},          {crHalftone, "halftone"},
        {crFourGrays, "four grays"},        {crMonochrome, "monochrome"},
        {crGrayScale, "gray scale"},        {crWebPalette, "web"},
        {crOptimized, "optimized, 3 bits"}, {crOptimizedSystem, "optimized with system colours"},
        {crCustomPalette, "custom"},
    };
    OwnedPalette custom(CustomColors);
    const int n = static_cast<int>(Probes.size());
    const model::Picture probes = PictureOf(n, 2, [n](int x, int y) { return Probes[y == 0 ? x : n - 1 - x]; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const model::Reduced expected = model::Reduce(probes, c.method, dkNone, 3, CustomColors);
        const model::Reduced got = LibraryReduction(probes, c.method, dkNone, 3, custom.get(), expected.palette.size());
        EXPECT_EQ(FirstDifference(got, expected), "");
    }
    EXPECT_EQ(ColorsOf(custom.get()), CustomColors);
    EXPECT_EQ(EntriesOf(StockPalette()).size(), 20u);
}

// Pictures on which the optimised methods part from plausible wrong readings: the system's
// search in place of the cached one, a tree 7 levels deep, merging only at the end of a row.
struct OptimizedCase {
    const char* name;
    TReductionMethod method;
    TDitherKind kind;
    int bits;
    model::Picture picture;
};

std::vector<OptimizedCase> OptimizedCases() {
    // Twins one step apart in the low bit, and colours sharing a 15-bit key with a palette
    // entry while another entry is nearer.
    const model::Picture twins = {{{0, 0, 0},
                                   {0, 0, 1},
                                   {6, 6, 6},
                                   {100, 100, 100},
                                   {101, 100, 100},
                                   {103, 100, 100},
                                   {255, 255, 255},
                                   {255, 254, 255},
                                   {40, 200, 9},
                                   {41, 200, 8}}};
    // Many colours into few leaves over several rows.
    const model::Picture spread = PictureOf(16, 5, [](int x, int y) {
        return Rgb{(x * 16 + y * 3) & 0xFF, (y * 60 + x * 5) & 0xFF, (200 - x * 9 + (x & 1) + y * 7) & 0xFF};
    });
    // Colours near the corners and the middle of the cube: merged after every pixel the tree
    // keeps eight leaves, merged at the end of each row it loses one more.
    const model::Picture corners = {{{128, 128, 128}, {0, 254, 0}, {2, 255, 0}, {1, 1, 1}, {254, 129, 128}},
                                    {{128, 2, 254}, {2, 0, 1}, {1, 254, 2}, {2, 254, 128}, {128, 129, 255}},
                                    {{254, 255, 254}, {254, 128, 2}, {128, 1, 1}, {0, 255, 254}, {128, 0, 0}}};
    const model::Picture ramp = PictureOf(20, 6, [](int x, int y) {
        return Rgb{x * 12 + y, 255 - y * 40, x * 6 + 30};
    });
    return {
        {"twins, 8 bits", crOptimized, dkNone, 8, twins},
        {"twins, 2 bits", crOptimized, dkNone, 2, twins},
        {"spread, 3 bits", crOptimized, dkNone, 3, spread},
        {"spread, 1 bit", crOptimized, dkNone, 1, spread},
        {"corners, 3 bits", crOptimized, dkNone, 3, corners},
        {"corners, 3 bits, Sierra", crOptimized, dkSierra, 3, corners},
        {"ramp, 4 bits, Floyd-Steinberg", crOptimized, dkFloydSteinberg, 4, ramp},
        {"ramp, 3 bits, Stucki", crOptimized, dkStucki, 3, ramp},
        {"twins with the system colours", crOptimizedSystem, dkNone, 8, twins},
        {"spread with the system colours, Burkes", crOptimizedSystem, dkBurkes, 8, spread},
    };
}

TEST(GifReduceColors, OptimizedMethodsFollowTheOctreeAndTheirLookup) {
    struct Alternative {
        const char* what;
        model::Variant variant;
        int cases = 0;  // cases on which it gives another answer
    };
    Alternative alternatives[] = {
        {"the system's search for the optimized palette", {true, 8, true}},
        {"a tree of 7 colour bits", {false, 7, true}},
        {"merging once per row", {false, 8, false}},
    };
    for (const OptimizedCase& c : OptimizedCases()) {
        SCOPED_TRACE(c.name);
        const model::Reduced expected = model::Reduce(c.picture, c.method, c.kind, c.bits, {});
        const model::Reduced got = LibraryReduction(c.picture, c.method, c.kind, c.bits, nullptr,
                                                    expected.palette.size());
        EXPECT_EQ(FirstDifference(got, expected), "");
        for (Alternative& a : alternatives)
            a.cases += !(model::Reduce(c.picture, c.method, c.kind, c.bits, {}, a.variant) == expected);
    }
    for (const Alternative& a : alternatives) EXPECT_GT(a.cases, 0) << "no case tells apart " << a.what;
}

TEST(GifReduceColors, EachDitherModeSpreadsTheErrorInSerpentineOrder) {
    struct PaletteCase {
        TReductionMethod method;
        const char* name;
    };
    const PaletteCase palettes[] = {
        {crWebPalette, "web"},       {crMonochrome, "monochrome"},       {crFourGrays, "four grays"},
        {crGrayScale, "gray scale"}, {crOptimized, "optimized, 8 bits"},
    };
    const model::Picture picture = PictureOf(37, 6, [](int x, int y) { return Rgb{x * 7, 40 + y * 30, 255 - x * 5}; });
    for (const PaletteCase& p : palettes) {
        for (int mode = dkNone; mode <= dkBurkes; ++mode) {
            SCOPED_TRACE(std::string(p.name) + ", dither mode " + std::to_string(mode));
            const auto kind = static_cast<TDitherKind>(mode);
            const model::Reduced expected = model::Reduce(picture, p.method, kind, 8, {});
            const model::Reduced got = LibraryReduction(picture, p.method, kind, 8, nullptr, expected.palette.size());
            EXPECT_EQ(FirstDifference(got, expected), "");
            if (kind != dkNone) {
                EXPECT_NE(model::Reduce(picture, p.method, dkNone, 8, {}).pixels, expected.pixels)
                    << "the kernel changed nothing";
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
        model::WebLookup lookup;
        for (const POINT p : {POINT{0, 0}, POINT{width - 1, 0}, POINT{500, 250}, POINT{width - 1, 499}}) {
            Rgb answered;
            const int expected = lookup.Match(Pixel24(source, p.x, p.y), answered);
            EXPECT_EQ(result->ScanLine(p.y)[p.x], expected) << p.x << "," << p.y;
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
    const model::Picture picture = PictureOf(30, 10, [&](int x, int y) { return pixels[y * 30 + x]; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        TBitmap source;
        FillPicture(source, pf24bit, picture);
        const std::vector<Rgb> expectedColors = model::OptimizedPalette(picture, c.colors);

        auto result = ReduceBitmapColors(source, crOptimized, dkNone, c.bits, nullptr);
        const std::vector<Rgb> table = TableOf(*result);
        ASSERT_EQ(table.size(), 256u);
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
