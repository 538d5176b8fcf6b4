#include "gifimage/quantiser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "tests/gifquant/fixtures.h"
#include "tests/gifquant/models.h"

namespace {

struct Quantised {
    int leafCount;
    std::vector<Rgb> table;  // the entries FillColorTable wrote
};

// Quantises a one-row picture of the given pixels; entries past the leaves are read up to the
// first untouched sentinel so that an over-long write shows.
Quantised Quantise(const std::vector<Rgb>& pixels, int maximumColors, int colorBits) {
    TBitmap bitmap;
    FillRow(bitmap, pf24bit, pixels);
    TDIBReader reader(bitmap, pf24bit);
    TColorQuantizer quantizer(maximumColors, colorBits);
    EXPECT_TRUE(quantizer.AddBitmap(reader));
    TQuantizedColorTable table;
    for (TQuantizedColor& entry : table) entry = {1, 2, 3, 99};
    quantizer.FillColorTable(table);
    Quantised result{quantizer.LeafCount(), {}};
    for (const TQuantizedColor& entry : table) {
        if (entry.Reserved == 99) break;
        EXPECT_EQ(entry.Reserved, 0);
        result.table.push_back({entry.Red, entry.Green, entry.Blue});
    }
    return result;
}

int CountLeaves(const TOctreeNode* node) {
    if (!node) return 0;
    if (node->IsLeaf()) return 1;
    int leaves = 0;
    for (int i = 0; i < 8; ++i) leaves += CountLeaves(node->Child(i));
    return leaves;
}

std::vector<Rgb> Repeat(const Rgb& c, int times) { return std::vector<Rgb>(times, c); }

std::vector<Rgb> Join(std::initializer_list<std::vector<Rgb>> parts) {
    std::vector<Rgb> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(GifQuantizer, LeafColoursAndTheirOrder) {
    const Rgb black{0, 0, 0}, white{255, 255, 255};
    struct Case {
        const char* name;
        std::vector<Rgb> pixels;
        int maximumColors, colorBits;
        std::vector<Rgb> expected;
    };
    const Case cases[] = {
        {"depth-first, child 0 first: black before white whatever the pixel order",
         {white, {255, 0, 0}, black, {0, 0, 255}, {0, 255, 0}, {128, 128, 128}, {127, 127, 127}},
         256,
         8,
         {black, {127, 127, 127}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {128, 128, 128}, white}},
        {"repeated colours share one leaf",
         Join({Repeat(white, 5), Repeat(black, 3), Repeat(white, 2)}),
         256,
         8,
         {black, white}},
        {"one colour allowed: integer mean of all pixels, later colours join the merged leaf",
         Join({Repeat({10, 20, 30}, 3), {{20, 40, 60}}, {{31, 61, 91}}}),
         1,
         8,
         {{16, 32, 48}}},
        {"the newest branch of the deepest level is merged first",
         {{0, 0, 0}, {0, 0, 1}, {255, 255, 254}, {255, 255, 255}},
         3,
         8,
         {{0, 0, 0}, {0, 0, 1}, {255, 255, 254}}},
        {"one-child branches merge without freeing a leaf; then the older deepest branch goes",
         {{0, 0, 0}, {0, 0, 1}, {255, 255, 252}, {255, 255, 254}},
         3,
         8,
         {{0, 0, 0}, {255, 255, 252}, {255, 255, 254}}},
        {"merged leaves average by pixel count",
         Join({{black}, Repeat({0, 0, 3}, 3), {white}}),
         2,
         8,
         {{0, 0, 2}, white}},
        {"1 colour bit: colours sharing their top bits sum in one leaf",
         {{0, 0, 0}, {127, 127, 127}, {128, 0, 0}},
         256,
         1,
         {{63, 63, 63}, {128, 0, 0}}},
        {"0 colour bits are taken as 1",
         {{0, 0, 0}, {127, 127, 127}, {128, 0, 0}},
         256,
         0,
         {{63, 63, 63}, {128, 0, 0}}},
        {"colour bits above 8 are taken as 8", {{0, 0, 1}, {0, 0, 0}}, 256, 12, {{0, 0, 0}, {0, 0, 1}}},
        {"no colours allowed is taken as one", {{0, 0, 0}, {0, 0, 2}}, 0, 8, {{0, 0, 1}}},
        {"a negative maximum is taken as one", {{0, 0, 0}, {0, 0, 2}}, -5, 8, {{0, 0, 1}}},
        {"an empty picture leaves no leaves", {}, 256, 8, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap probe;
        if (c.pixels.empty()) {
            probe.SetPixelFormat(pf24bit);
            TDIBReader reader(probe, pf24bit);
            TColorQuantizer quantizer(c.maximumColors, c.colorBits);
            EXPECT_TRUE(quantizer.AddBitmap(reader));
            EXPECT_EQ(quantizer.Root(), nullptr);
            EXPECT_EQ(quantizer.LeafCount(), 0);
            continue;
        }
        const Quantised result = Quantise(c.pixels, c.maximumColors, c.colorBits);
        ASSERT_EQ(result.table.size(), c.expected.size());
        EXPECT_EQ(result.leafCount, static_cast<int>(c.expected.size()));
        for (size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(result.table[i], c.expected[i]) << "entry " << i << " is " << Describe(result.table[i]);
    }
}

// Pictures of several rows against the reference tree: merging must follow every pixel, not
// every row, and the tree must be as deep as it is asked to be.
TEST(GifQuantizer, LeavesOfPicturesOfSeveralRowsMatchTheReferenceTree) {
    const model::Picture corners = {{{128, 128, 128}, {0, 254, 0}, {2, 255, 0}, {1, 1, 1}, {254, 129, 128}},
                                    {{128, 2, 254}, {2, 0, 1}, {1, 254, 2}, {2, 254, 128}, {128, 129, 255}},
                                    {{254, 255, 254}, {254, 128, 2}, {128, 1, 1}, {0, 255, 254}, {128, 0, 0}}};
    model::Picture gradient(12, std::vector<Rgb>(24));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 24; ++x) gradient[y][x] = {x * 11, (y * 23 + x) & 0xFF, (x * y * 3 + 7) & 0xFF};
    struct Case {
        const char* name;
        const model::Picture& picture;
        int maximumColors, colorBits;
    };
    const Case cases[] = {
        {"corners into 8", corners, 8, 8},
        {"corners into 4", corners, 4, 8},
        {"corners, 7 bits", corners, 8, 7},
        {"gradient into 16", gradient, 16, 8},
        {"gradient into 5", gradient, 5, 8},
        {"gradient, 3 bits", gradient, 256, 3},
        {"gradient, 6 bits, into 40", gradient, 40, 6},
    };
    int rowMergeDiffers = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap bitmap;
        FillBitmap(bitmap, pf24bit, static_cast<int>(c.picture[0].size()), static_cast<int>(c.picture.size()),
                   [&](int x, int y) { return c.picture[y][x]; });
        TDIBReader reader(bitmap, pf24bit);
        TColorQuantizer quantizer(c.maximumColors, c.colorBits);
        quantizer.AddBitmap(reader);
        TQuantizedColorTable table = {};
        quantizer.FillColorTable(table);
        std::vector<Rgb> got;
        for (int i = 0; i < quantizer.LeafCount(); ++i) got.push_back({table[i].Red, table[i].Green, table[i].Blue});

        model::Octree reference(c.maximumColors, c.colorBits);
        reference.Add(c.picture);
        EXPECT_EQ(got, reference.Colors());
        model::Octree perRow(c.maximumColors, c.colorBits, false);
        perRow.Add(c.picture);
        rowMergeDiffers += !(perRow.Colors() == reference.Colors());
    }
    EXPECT_GT(rowMergeDiffers, 0) << "no case tells merging per row from merging per pixel";
}

TEST(GifQuantizer, NeverKeepsMoreLeavesThanAllowedAndWritesOneEntryPerLeaf) {
    TBitmap bitmap;
    FillBitmap(bitmap, pf24bit, 64, 48, [](int x, int y) { return Rgb{x * 4, y * 5, (x * y) & 0xFF}; });
    for (const int maximum : {1, 2, 3, 7, 8, 9, 16, 100, 255, 256}) {
        SCOPED_TRACE(maximum);
        TDIBReader reader(bitmap, pf24bit);
        TColorQuantizer quantizer(maximum, 8);
        quantizer.AddBitmap(reader);
        EXPECT_GE(quantizer.LeafCount(), 1);
        EXPECT_LE(quantizer.LeafCount(), maximum);
        EXPECT_EQ(CountLeaves(quantizer.Root()), quantizer.LeafCount());
        TQuantizedColorTable table;
        for (TQuantizedColor& entry : table) entry = {0, 0, 0, 99};
        quantizer.FillColorTable(table);
        for (int i = 0; i < 256; ++i) EXPECT_EQ(table[i].Reserved, i < quantizer.LeafCount() ? 0 : 99) << i;
    }
}

TEST(GifQuantizer, NodesJoinTheirLevelListNewestFirstAndLeavesAreCounted) {
    int32_t leaves = 0;
    TReducibleNodes lists = {};
    TOctreeNode first(3, 8, leaves, lists);
    TOctreeNode second(3, 8, leaves, lists);
    TOctreeNode leaf(8, 8, leaves, lists);
    EXPECT_EQ(lists[3], &second);
    EXPECT_EQ(second.NextReducible(), &first);
    EXPECT_EQ(first.NextReducible(), nullptr);
    EXPECT_FALSE(first.IsLeaf());
    EXPECT_TRUE(leaf.IsLeaf());
    EXPECT_EQ(leaf.NextReducible(), nullptr);
    EXPECT_EQ(leaves, 1);
    for (int level = 0; level < 8; ++level)
        if (level != 3) {
            EXPECT_EQ(lists[level], nullptr) << level;
        }
}

TEST(GifQuantizer, MergingARootLeafAgainChangesNothing) {
    TBitmap bitmap;
    FillRow(bitmap, pf24bit, {{0, 0, 0}, {255, 255, 255}});
    TDIBReader reader(bitmap, pf24bit);
    TColorQuantizer quantizer(1, 8);
    quantizer.AddBitmap(reader);
    ASSERT_TRUE(quantizer.Root() && quantizer.Root()->IsLeaf());
    quantizer.MergeDeepestNode();
    EXPECT_EQ(quantizer.LeafCount(), 1);
    EXPECT_EQ(quantizer.Root()->PixelCount(), 2);
    quantizer.FreeTree();
    EXPECT_EQ(quantizer.Root(), nullptr);
}

// --- Palettes ----------------------------------------------------------------------

std::vector<PALETTEENTRY> StockEntries() { return EntriesOf(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE))); }

bool SameEntry(const PALETTEENTRY& a, const PALETTEENTRY& b) {
    return a.peRed == b.peRed && a.peGreen == b.peGreen && a.peBlue == b.peBlue && a.peFlags == b.peFlags;
}

TEST(GifPalettes, FixedPalettesHoldTheirLevelsMarkedNoCollapse) {
    struct Case {
        const char* name;
        HPALETTE (*create)();
        std::vector<int> grays;
    };
    std::vector<int> all;
    for (int i = 0; i < 256; ++i) all.push_back(i);
    const Case cases[] = {
        {"gray", CreateGrayPalette, all},
        {"mono", CreateMonoPalette, {0, 255}},
        {"four grays", CreateFourGrayPalette, {0, 128, 192, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedPalette palette(c.create());
        const auto entries = EntriesOf(palette.get());
        ASSERT_EQ(entries.size(), c.grays.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            const int v = c.grays[i];
            EXPECT_TRUE(SameEntry(entries[i],
                                  {static_cast<BYTE>(v), static_cast<BYTE>(v), static_cast<BYTE>(v), PC_NOCOLLAPSE}))
                << i;
        }
    }
}

TEST(GifPalettes, HalftonePaletteIsTheScreensAndEachCallMakesANewHandle) {
    HDC screen = GetDC(nullptr);
    OwnedPalette expected(CreateHalftonePalette(screen));
    ReleaseDC(nullptr, screen);
    OwnedPalette first(CreateSystemHalftonePalette()), second(CreateSystemHalftonePalette());
    EXPECT_NE(first.get(), second.get());
    EXPECT_FALSE(ColorsOf(first.get()).empty());
    EXPECT_EQ(ColorsOf(first.get()), ColorsOf(expected.get()));
}

TEST(GifPalettes, OptimizedPaletteSizeOrderAndSystemColours) {
    const std::vector<Rgb> three = {{255, 255, 255}, {200, 10, 10}, {0, 0, 0}};
    const std::vector<Rgb> threeInTreeOrder = {{0, 0, 0}, {200, 10, 10}, {255, 255, 255}};
    struct Case {
        const char* name;
        std::vector<Rgb> pixels;
        int colors;
        bool keepSystem;
        size_t entries;
        int first;                 // first quantised entry
        std::vector<Rgb> leading;  // the quantised entries expected first; the rest up to colors black
    };
    const Case cases[] = {
        {"300 colours into 256", DistinctColors(300), 256, false, 256, 0, {}},
        {"300 colours into 2", DistinctColors(300), 2, false, 2, 0, {}},
        {"fewer colours than asked: the rest is black", three, 16, false, 16, 0, threeInTreeOrder},
        {"exactly as many colours as asked", three, 3, false, 3, 0, threeInTreeOrder},
        {"no colours asked is taken as one", three, 0, false, 1, 0, {}},
        {"more than 256 asked is taken as 256", three, 1000, false, 256, 0, threeInTreeOrder},
        {"system colours around 236 quantised ones, whatever was asked", three, 2, true, 256, 10, threeInTreeOrder},
        {"system colours with many colours", DistinctColors(300), 256, true, 256, 10, {}},
    };
    const auto stock = StockEntries();
    ASSERT_EQ(stock.size(), 20u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap bitmap;
        FillRow(bitmap, pf24bit, c.pixels);
        TDIBReader reader(bitmap, pf24bit);
        OwnedPalette palette(CreateOptimizedPalette(reader, c.colors, 8, c.keepSystem));
        const auto entries = EntriesOf(palette.get());
        ASSERT_EQ(entries.size(), c.entries);
        const int quantised = c.keepSystem ? 236 : static_cast<int>(c.entries);
        if (c.keepSystem) {
            for (int i = 0; i < 10; ++i) EXPECT_TRUE(SameEntry(entries[i], stock[i])) << i;
            for (int i = 0; i < 10; ++i) EXPECT_TRUE(SameEntry(entries[246 + i], stock[10 + i])) << 246 + i;
        }
        std::set<int> distinct;
        for (int i = 0; i < quantised; ++i) {
            const PALETTEENTRY& e = entries[c.first + i];
            EXPECT_EQ(e.peFlags, 0) << c.first + i;
            const Rgb color{e.peRed, e.peGreen, e.peBlue};
            distinct.insert(color.r << 16 | color.g << 8 | color.b);
            if (c.leading.empty()) continue;
            const Rgb expected = i < static_cast<int>(c.leading.size()) ? c.leading[i] : Rgb{0, 0, 0};
            EXPECT_EQ(color, expected) << "entry " << c.first + i << " is " << Describe(color);
        }
        // With more picture colours than entries every entry is a leaf of its own.
        if (c.leading.empty() && c.pixels.size() > static_cast<size_t>(quantised)) {
            EXPECT_GE(static_cast<int>(distinct.size()), std::max(1, quantised - 7));
        }
    }
}

TEST(GifPalettes, OptimizedPaletteForBitmapConvertsItTo24Bits) {
    TBitmap bitmap;
    FillRow(bitmap, pf32bit, {{10, 20, 30}, {200, 100, 50}});
    OwnedPalette palette(CreateOptimizedPaletteForBitmap(bitmap, 4, 8, false));
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(ColorsOf(palette.get()), std::vector<Rgb>({{10, 20, 30}, {200, 100, 50}, {0, 0, 0}, {0, 0, 0}}));
}

// 9 million white pixels in one leaf: the sums pass 2^31.
TEST(GifPalettes, OptimizedPaletteOfAHugeFlatPictureKeepsItsColour) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(3000, 3000);
    for (int y = 0; y < 3000; ++y) memset(bitmap.ScanLine(y), 0xFF, 3 * 3000);
    OwnedPalette palette(CreateOptimizedPaletteForBitmap(bitmap, 2, 8, false));
    EXPECT_EQ(ColorsOf(palette.get()), std::vector<Rgb>({{255, 255, 255}, {0, 0, 0}}));
}

}  // namespace
