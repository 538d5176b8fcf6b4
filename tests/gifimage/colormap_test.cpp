// Colour tables: growth, search, append and remove, table I/O, palettes, sort by usage.
#include <gtest/gtest.h>

#include "classlib/stringlist.h"
#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/giferror.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"
#include "tests/support/gifbuilder.h"

namespace {

// A frame of the image with a local table of the given colours and pixels.
TGIFSubImage* AddFrame(TGIFImage& image, const std::vector<TColor>& colors, const Bytes& pixels) {
    auto* frame = new TGIFSubImage(&image);
    image.Frames()->Append(frame);
    frame->ApplyBounds(0, 0, static_cast<int>(pixels.size()), 1);
    frame->SetPixels(pixels.data(), pixels.size());
    for (TColor c : colors) frame->LocalColorMap()->AppendColor(c);
    return frame;
}

TEST(GifColorMap, CapacityGrowsInSteps) {
    TGIFImage image;
    TGIFColorMap& map = *image.GlobalColors();
    const std::pair<int, int> steps[] = {{1, 16}, {16, 16}, {17, 32}, {33, 64}, {65, 96}, {250, 256}, {256, 256}};
    int appended = 0;
    for (auto [count, capacity] : steps) {
        while (appended < count) map.AppendColor(appended++);
        EXPECT_EQ(map.Capacity(), capacity) << count;
    }
    EXPECT_EQ(GIFErrorOf([&] { map.AppendColor(0x123456); }), sColorTableOverflow);
    EXPECT_EQ(map.Count(), 256);
}

TEST(GifColorMap, ColorBytesAreRedGreenBlue) {
    TGIFImage image;
    TGIFColorMap& map = *image.GlobalColors();
    map.AppendColor(0x00123456);
    map.AppendColor(static_cast<TColor>(0x80000005));
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(map.Entries());
    EXPECT_EQ(bytes[0], 0x56);
    EXPECT_EQ(bytes[1], 0x34);
    EXPECT_EQ(bytes[2], 0x12);
    EXPECT_EQ(map.ColorAt(0), 0x00123456);
    EXPECT_EQ(map.ColorAt(1), 5) << "system colours are not resolved";
}

TEST(GifColorMap, SearchDirectionFollowsSortFlag) {
    TGIFImage image;
    AddFrame(image, {1, 2, 7, 3, 4, 7}, {2, 2, 5, 5, 5, 5, 0, 1});
    TGIFColorMap& map = *image.Frames()->FrameAt(0)->LocalColorMap();
    EXPECT_EQ(map.FindColor(7), 5) << "unsorted: the last occurrence";
    EXPECT_EQ(map.FindColor(99), -1);
    EXPECT_EQ(map.AppendIfMissing(7), 5);
    ASSERT_TRUE(map.SortByUsage());
    ASSERT_TRUE(map.SortFlag());
    // After sorting by usage both 7s remain (positions 0 and 1): the first is found.
    EXPECT_EQ(map.FindColor(7), 0);
}

TEST(GifColorMap, RemoveAtAndColorAtBounds) {
    TGIFImage image;
    WarningLog log;
    log.Attach(image);
    TGIFColorMap& map = *image.GlobalColors();
    for (TColor c : {0x10, 0x20, 0x30}) map.AppendColor(c);
    EXPECT_THROW(map.RemoveAt(3), GIFException);
    EXPECT_THROW(map.RemoveAt(-1), GIFException);
    EXPECT_EQ(map.ColorAt(5), 0x10);
    ASSERT_EQ(log.Messages(), std::vector<std::string>{sInvalidColorIndex});
    EXPECT_EQ(std::get<0>(log.entries[0]), &map);
    EXPECT_EQ(std::get<1>(log.entries[0]), 1);
    map.RemoveAt(0);
    ASSERT_EQ(map.Count(), 2);
    EXPECT_EQ(map.ColorAt(0), 0x20);
    EXPECT_EQ(map.ColorAt(1), 0x30);
    map.RemoveAll();
    EXPECT_EQ(GIFErrorOf([&] { map.ColorAt(0); }), sColorTableEmpty);
    EXPECT_EQ(log.entries.size(), 2u) << "the warning comes first";
}

TEST(GifColorMap, WriteTablePadsToPowerOfTwo) {
    const std::pair<int, int> cases[] = {{0, 0}, {1, 2}, {3, 4}, {5, 8}, {129, 256}};
    for (auto [count, written] : cases) {
        TGIFImage image;
        TGIFColorMap& map = *image.GlobalColors();
        for (int i = 0; i < count; ++i) map.AppendColor(0x010101 * (i + 1));
        TMemoryStream stream;
        map.WriteTable(stream);
        ASSERT_EQ(stream.Size(), 3 * written) << count;
        const uint8_t* bytes = static_cast<const uint8_t*>(stream.Memory());
        for (int i = 3 * count; i < 3 * written; ++i) EXPECT_EQ(bytes[i], 0);
    }
}

TEST(GifColorMap, ReadTableCutShortLeavesItEmpty) {
    TGIFImage image;
    TGIFColorMap& map = *image.GlobalColors();
    auto stream = StreamOf(Bytes(3 * 7, 1));
    EXPECT_THROW(map.ReadTable(*stream, 8), GIFException);
    EXPECT_EQ(map.Count(), 0);
    EXPECT_EQ(map.Capacity(), 16);
}

TEST(GifColorMap, PaletteExportAndImport) {
    TGIFImage image;
    TGIFColorMap& map = *image.GlobalColors();
    EXPECT_EQ(map.MakePaletteHandle(), nullptr);
    for (TColor c : {0x0000FF, 0x00FF00, 0xFF0000}) map.AppendColor(c);
    HPALETTE palette = map.MakePaletteHandle();
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY entries[4];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 4, entries), 3u);
    EXPECT_EQ(entries[0].peRed, 255);
    EXPECT_EQ(entries[2].peBlue, 255);
    EXPECT_EQ(entries[1].peFlags, PC_NOCOLLAPSE);
    TGIFImage other;
    other.GlobalColors()->LoadFromPaletteHandle(palette);
    EXPECT_EQ(other.GlobalColors()->Count(), 3);
    EXPECT_EQ(other.GlobalColors()->ColorAt(2), 0xFF0000);
    DeleteObject(palette);
    RGBQUAD quads[2] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
    other.GlobalColors()->LoadFromColorArray(quads, 2);
    EXPECT_EQ(other.GlobalColors()->ColorAt(0), 0x010203) << "quads are blue, green, red";
}

TEST(GifColorMap, SortByUsageOrdersAndDrops) {
    // Entries A, B, C, D with usage 5, 9, 0, 9: order D, B, A; C dropped.
    TGIFImage image;
    Bytes pixels;
    for (auto [index, uses] : {std::pair{0, 5}, {1, 9}, {3, 9}}) pixels.insert(pixels.end(), uses, index);
    TGIFSubImage* frame = AddFrame(image, {0xA, 0xB, 0xC, 0xD}, pixels);
    TGIFColorMap& map = *frame->LocalColorMap();
    ASSERT_TRUE(map.SortByUsage());
    ASSERT_EQ(map.Count(), 3);
    EXPECT_EQ(map.ColorAt(0), 0xD);
    EXPECT_EQ(map.ColorAt(1), 0xB);
    EXPECT_EQ(map.ColorAt(2), 0xA);
    EXPECT_EQ(map.Capacity(), 16);
    EXPECT_EQ(frame->Pixels()[0], 2) << "old 0 -> 2";
    EXPECT_EQ(frame->Pixels()[5], 1) << "old 1 -> 1";
    EXPECT_EQ(frame->Pixels()[14], 0) << "old 3 -> 0";
}

TEST(GifColorMap, SortByUsageTieOrder) {
    // Ties come out in the order of the quicksort's own steps (not stable).
    struct Case {
        std::vector<int> uses;
        std::vector<uint32_t> order;
    };
    const Case cases[] = {
        {{5, 9, 0, 9}, {3, 1, 0, 2}},
        {{1, 1, 1}, {2, 1, 0}},
        {{2, 2, 2, 2}, {2, 3, 0, 1}},
        {{3, 1, 3, 1, 3}, {2, 4, 0, 3, 1}},
    };
    for (const Case& c : cases) {
        ColorUsageTable usage{};
        for (size_t i = 0; i < c.uses.size(); ++i) usage[i] = ColorUsage{c.uses[i], static_cast<uint32_t>(i)};
        TGIFColorMap::SortEntries(usage, 0, static_cast<int>(c.uses.size()) - 1);
        std::vector<uint32_t> order;
        for (size_t i = 0; i < c.uses.size(); ++i) order.push_back(usage[i].Index);
        EXPECT_EQ(order, c.order);
    }
}

TEST(GifColorMap, SortByUsageInOrderChangesNothing) {
    TGIFImage image;
    TGIFSubImage* frame = AddFrame(image, {0xA, 0xB, 0xC}, Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1});
    int changes = 0;
    image.OnChange = [&](TObject*) { ++changes; };
    TGIFColorMap& map = *frame->LocalColorMap();
    EXPECT_TRUE(map.SortByUsage());
    EXPECT_TRUE(map.SortFlag());
    EXPECT_EQ(map.Count(), 3) << "the unused entry stays when nothing moves";
    TGIFImage single;
    TGIFSubImage* one = AddFrame(single, {0xA}, Bytes{0});
    EXPECT_FALSE(one->LocalColorMap()->SortByUsage());
    EXPECT_FALSE(one->LocalColorMap()->SortFlag());
}

TEST(GifColorMap, GlobalSortRemapsFramesAndTransparency) {
    Bytes gif = GifBytes().Header(4, 1, 4).Gce(1, 0, 0).Frame(0, 0, 4, 1, {0, 2, 2, 2}).Trailer().b;
    auto image = LoadGif(gif);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    ASSERT_TRUE(frame->Transparent());
    ASSERT_TRUE(image->GlobalColors()->Compact());
    EXPECT_EQ(image->GlobalColors()->Count(), 2);
    EXPECT_EQ(Bytes(frame->Pixels(), frame->Pixels() + 4), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(frame->GraphicControlExtension()->TransparentIndex(), 1) << "the transparent colour follows";
    TGIFImage empty;
    empty.GlobalColors()->AppendColor(1);
    empty.GlobalColors()->AppendColor(2);
    EXPECT_FALSE(empty.GlobalColors()->Compact()) << "no frames";
    EXPECT_FALSE(empty.GlobalColors()->SortFlag());
}

TEST(GifColorMap, CopyFromCopiesEntriesAndFlag) {
    TGIFImage image;
    TGIFSubImage* frame = AddFrame(image, {1, 2, 3}, Bytes{2, 2, 1});
    frame->LocalColorMap()->SortByUsage();
    TGIFImage other;
    other.GlobalColors()->CopyFrom(*frame->LocalColorMap());
    EXPECT_EQ(other.GlobalColors()->Count(), frame->LocalColorMap()->Count());
    EXPECT_TRUE(other.GlobalColors()->SortFlag());
    EXPECT_EQ(other.GlobalColors()->ColorAt(0), 3);
    TStringList notAMap;
    EXPECT_THROW(other.GlobalColors()->CopyFrom(notAMap), EConvertError);
}

TEST(GifRoutines, BitsForColors) {
    const std::pair<int, int> cases[] = {{0, 0},  {1, 1},  {2, 1},   {3, 2},   {4, 2},  {5, 3},
                                         {16, 4}, {17, 5}, {129, 8}, {256, 8}, {257, 9}};
    for (auto [colors, bits] : cases) EXPECT_EQ(BitsForColors(colors), bits) << colors;
}

}  // namespace
