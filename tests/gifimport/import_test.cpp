#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/quantiser.h"
#include "gifimage/subimage.h"
#include "importfixtures.h"
#include "tests/gifrender/renderfixtures.h"
#include "tests/support/testseam.h"

namespace {

const COLORREF Red = RGB(255, 0, 0), Green = RGB(0, 255, 0), Blue = RGB(0, 0, 255), White = RGB(255, 255, 255),
               Black = RGB(0, 0, 0);

// An image holding one frame to import into.
struct Target {
    TGIFImage image;
    TGIFSubImage* frame;
    explicit Target(TReductionMethod method = DefaultColorReduction) {
        image.SetReductionMethod(method);
        frame = new TGIFSubImage(&image);
        image.Frames()->Append(frame);
    }
};

Rgbs ColorsOfQuads(const std::vector<RGBQUAD>& quads) {
    Rgbs out;
    for (const RGBQUAD& q : quads) out.push_back(RGB(q.rgbRed, q.rgbGreen, q.rgbBlue));
    return out;
}

// The first n entries of a frame's table: an 8-bit picture's table may report unused entries
// after those it was made with.
Rgbs FirstColors(const TGIFSubImage& frame, size_t n) {
    Rgbs table = TableOf(*frame.LocalColorMap());
    if (table.size() > n) table.resize(n);
    return table;
}

Bytes SavedExtensions(TGIFSubImage& frame) {
    TMemoryStream stream;
    frame.Extensions()->SaveItems(stream);
    const auto* p = static_cast<const uint8_t*>(stream.Memory());
    return Bytes(p, p + stream.Size());
}

Bytes SavedImage(TGIFImage& image) {
    TMemoryStream stream;
    image.SaveToStream(stream);
    const auto* p = static_cast<const uint8_t*>(stream.Memory());
    return Bytes(p, p + stream.Size());
}

// A picture of the test's own kind: copying into a bitmap fills it blue (or fails), drawing
// paints green.
class FakeGraphic : public TGraphic {
public:
    FakeGraphic(int width, int height, bool copyWorks) : width_(width), height_(height), copyWorks_(copyWorks) {}
    bool Empty() const override { return width_ == 0; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}
    void Draw(TCanvas& canvas, const RECT& rect) override {
        ++draws;
        canvas.FillRect(rect, static_cast<TColor>(Green));
    }
    std::unique_ptr<TGraphic> CreateNew() const override { return std::make_unique<FakeGraphic>(0, 0, true); }
    void AssignTo(TPersistent& target) const override {
        ++copies;
        auto* bitmap = dynamic_cast<TBitmap*>(&target);
        if (!copyWorks_ || !bitmap) throw EConvertError("Cannot assign a FakeGraphic");
        FillTrueColor(*bitmap, pf24bit, width_, height_, [](int, int) { return Blue; });
    }
    mutable int copies = 0;
    int draws = 0;

private:
    int width_, height_;
    bool copyWorks_;
};

// Neither a frame nor a picture.
class Stranger : public TPersistent {};

// --- Bitmaps taken over with their own colours ----------------------------------

TEST(GifImportBitmap, PalettizedBitmapsKeepTheirTableAndIndexes) {
    Rgbs sixteen;
    for (int i = 0; i < 16; ++i) sixteen.push_back(RGB(i * 16, 255 - i * 8, i * 3));
    const struct {
        const char* name;
        int bitCount, width;
        Rgbs table;
        std::vector<Bytes> rows;
        Bytes pixels;
    } cases[] = {
        {"8 bits", 8, 3, {Red, RGB(1, 2, 3), White, RGB(9, 8, 7), Blue}, {{0, 1, 4}, {2, 3, 0}}, {0, 1, 4, 2, 3, 0}},
        {"8 bits, full table", 8, 2, Rgbs(256, RGB(5, 6, 7)), {{255, 128}}, {255, 128}},
        {"4 bits, high nibble first", 4, 2, sixteen, {{0x3A}}, {3, 10}},
        {"4 bits, odd width", 4, 3, sixteen, {{0x3A, 0x5F}, {0xF0, 0x1C}}, {3, 10, 5, 15, 0, 1}},
        {"1 bit, leftmost in the top bit",
         1,
         8,
         {RGB(10, 20, 30), RGB(200, 100, 50)},
         {{0xA0}},
         {1, 0, 1, 0, 0, 0, 0, 0}},
        {"1 bit, across a byte", 1, 10, {Black, White}, {{0x01, 0x40}}, {0, 0, 0, 0, 0, 0, 0, 1, 0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap source;
        LoadPalettized(source, c.bitCount, c.width, c.table, c.rows);
        const TPixelFormat format = source.PixelFormat();
        Target t;
        t.frame->CopyFrom(source);
        EXPECT_EQ(t.frame->Width(), c.width);
        EXPECT_EQ(t.frame->Height(), static_cast<int>(c.rows.size()));
        const Rgbs table = TableOf(*t.frame->LocalColorMap());
        EXPECT_EQ(table, ColorsOfQuads(ColorTableOf(source)));
        ASSERT_GE(table.size(), c.table.size());
        EXPECT_EQ(Rgbs(table.begin(), table.begin() + c.table.size()), c.table);
        EXPECT_EQ(PixelsOf(*t.frame), c.pixels);
        EXPECT_EQ(t.frame->Extensions()->ItemCount(), 0);
        EXPECT_FALSE(t.frame->Transparent());
        ASSERT_TRUE(t.frame->HasRenderedBitmap());
        EXPECT_EQ(t.frame->FrameBitmap()->PixelFormat(), format);
        EXPECT_EQ(t.frame->Mask(), nullptr);
        EXPECT_EQ(source.PixelFormat(), format);
        EXPECT_EQ(t.image.ScreenWidth(), c.width);
        EXPECT_EQ(t.image.ScreenHeight(), static_cast<int>(c.rows.size()));
    }
}

// A monochrome device bitmap has no palette until its rows are device-independent.
TEST(GifImportBitmap, MonochromeDeviceBitmapGetsBlackAndWhite) {
    const WORD rows[2] = {0x00A0, 0x00FF};  // one 16-bit word per row, low byte first
    HBITMAP mono = CreateBitmap(8, 2, 1, 1, rows);
    TBitmap source;
    source.SetHandle(mono);
    ASSERT_EQ(source.HandleType(), bmDDB);
    Target t;
    t.frame->CopyFrom(source);
    EXPECT_EQ(TableOf(*t.frame->LocalColorMap()), (Rgbs{Black, White}));
    EXPECT_EQ(PixelsOf(*t.frame), (Bytes{1, 0, 1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}));
}

// --- True-colour bitmaps ------------------------------------------------------------

TEST(GifImportBitmap, TrueColourWithoutReductionListsColoursInOrderOfFirstUse) {
    Rgbs twelve, nine;
    for (int i = 0; i < 12; ++i) twelve.push_back(RGB(i * 20, 7, 255 - i));
    for (int i = 0; i < 9; ++i) nine.push_back(RGB(3, i * 25, 9));
    auto repeat = [](const Rgbs& colors, int times) {
        Rgbs out;
        for (int i = 0; i < times; ++i) out.insert(out.end(), colors.begin(), colors.end());
        return out;
    };
    auto indexes = [](int count, int times) {
        Bytes out;
        for (int i = 0; i < times; ++i)
            for (int k = 0; k < count; ++k) out.push_back(static_cast<uint8_t>(k));
        return out;
    };
    const struct {
        const char* name;
        TPixelFormat format;
        int width, height;
        Rgbs colors;  // row by row
        Rgbs table;
        Bytes pixels;
    } cases[] = {
        {"24 bits", pf24bit, 4, 1, {Red, White, Red, Blue}, {Red, White, Blue}, {0, 1, 0, 2}},
        {"32 bits", pf32bit, 2, 2, {Red, White, Red, Blue}, {Red, White, Blue}, {0, 1, 0, 2}},
        {"more colours than cache slots, twice", pf24bit, 12, 2, repeat(twelve, 2), twelve, indexes(12, 2)},
        {"nine colours cycling over rows", pf24bit, 9, 3, repeat(nine, 3), nine, indexes(9, 3)},
        {"runs and returns",
         pf24bit,
         5,
         2,
         {Blue, Blue, Green, Blue, Green, Red, Red, Blue, Green, Red},
         {Blue, Green, Red},
         {0, 0, 1, 0, 1, 2, 2, 0, 1, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap source;
        FillTrueColor(source, c.format, c.width, c.height, [&](int x, int y) { return c.colors[y * c.width + x]; });
        Target t(crNone);
        t.frame->CopyFrom(source);
        EXPECT_EQ(TableOf(*t.frame->LocalColorMap()), c.table);
        EXPECT_EQ(PixelsOf(*t.frame), c.pixels);
        EXPECT_EQ(source.PixelFormat(), c.format);
    }
}

TEST(GifImportBitmap, MoreThan256ColoursOverflowTheTable) {
    TBitmap source;
    FillTrueColor(source, pf24bit, 300, 1, [](int x, int) { return RGB(x & 0xFF, x >> 8, 0); });
    Target t(crNone);
    ProgressLog log;
    log.Attach(t.image);
    EXPECT_EQ(GIFErrorOf([&] { t.frame->CopyFrom(source); }), sColorTableOverflow);
    ASSERT_FALSE(log.entries.empty());
    EXPECT_EQ(log.entries.front(), (ProgressEntry{t.frame, psStarting, 0, false, "Converting..."}));
    EXPECT_EQ(log.entries.back(), (ProgressEntry{t.frame, psEnding, 0, false, "Converting..."}));
}

TEST(GifImportBitmap, TrueColourIsReducedWithTheImageSettings) {
    const struct {
        const char* name;
        TReductionMethod method;
        TDitherKind dither;
        int bits;
        TPixelFormat format;
    } cases[] = {
        {"web palette (default)", crWebPalette, dkNone, 8, pf24bit},
        {"web palette from 32 bits", crWebPalette, dkNone, 8, pf32bit},
        {"optimized 3 bits, Floyd-Steinberg", crOptimized, dkFloydSteinberg, 3, pf24bit},
        {"gray scale, Stucki", crGrayScale, dkStucki, 8, pf32bit},
        {"monochrome", crMonochrome, dkNone, 8, pf24bit},
    };
    auto gradient = [](int x, int y) { return RGB(x * 15, y * 60, 255 - x * 10); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap source;
        FillTrueColor(source, c.format, 16, 4, gradient);
        TBitmap reference;
        FillTrueColor(reference, c.format, 16, 4, gradient);
        std::unique_ptr<TBitmap> expected = ReduceBitmapColors(reference, c.method, c.dither, c.bits, nullptr);

        Target t(c.method);
        t.image.SetDitherMode(c.dither);
        t.image.SetReductionBits(c.bits);
        t.frame->CopyFrom(source);
        EXPECT_EQ(TableOf(*t.frame->LocalColorMap()), ColorsOfQuads(ColorTableOf(*expected)));
        EXPECT_EQ(PixelsOf(*t.frame), IndexesOf(*expected));
        // The caller's bitmap is not converted.
        EXPECT_EQ(source.PixelFormat(), c.format);
    }
}

// The quantiser gives an empty bitmap for a custom palette without colours: the import fails.
TEST(GifImportBitmap, ReductionWithoutPaletteFails) {
    TBitmap source;
    FillTrueColor(source, pf24bit, 4, 4, [](int x, int) { return RGB(x * 60, 0, 0); });
    TGIFImage image;
    image.SetReductionMethod(crCustomPalette);
    EXPECT_THROW(image.CopyFrom(&source), Exception);
    EXPECT_EQ(image.Frames()->ItemCount(), 0);
}

TEST(GifImportBitmap, ProgressEvery32RowsBetweenStartAndEnd) {
    for (const bool paletteModified : {false, true}) {
        SCOPED_TRACE(paletteModified ? "palette modified" : "palette unchanged");
        TBitmap source;
        LoadPalettized(source, 8, 1, {Red, Blue}, std::vector<Bytes>(100, Bytes{1}));
        Target t;
        t.image.SetPaletteModified(paletteModified);
        ProgressLog log;
        log.Attach(t.image);
        t.frame->CopyFrom(source);
        auto entry = [&](TProgressStage stage, int percent, bool redraw) {
            return ProgressEntry{t.frame, stage, percent, redraw, "Converting..."};
        };
        EXPECT_EQ(log.entries,
                  (std::vector<ProgressEntry>{entry(psStarting, 0, false), entry(psRunning, 0, false),
                                              entry(psRunning, 32, false), entry(psRunning, 64, false),
                                              entry(psRunning, 96, false), entry(psEnding, 100, paletteModified)}));
    }
}

TEST(GifImportBitmap, ImportReplacesContentButKeepsThePosition) {
    auto gif = LoadGif(
        GifBytes().Header(10, 10).Gce(1, 5, 0).Raw({'!', 0xFE, 1, 'x', 0}).Frame(3, 2, 2, 2, {0, 1, 1, 0}).Trailer().b);
    TGIFSubImage* frame = gif->Frames()->FrameAt(0);
    ASSERT_EQ(frame->Extensions()->ItemCount(), 2);
    TBitmap source;
    LoadPalettized(source, 8, 3, {Red, Green}, {{1, 0, 1}});
    frame->CopyFrom(source);
    EXPECT_EQ(frame->Left(), 3);
    EXPECT_EQ(frame->Top(), 2);
    EXPECT_EQ(frame->Width(), 3);
    EXPECT_EQ(frame->Height(), 1);
    EXPECT_EQ(frame->Extensions()->ItemCount(), 0);
    EXPECT_EQ(frame->GraphicControlExtension(), nullptr);
    EXPECT_FALSE(frame->Transparent());
    EXPECT_EQ(FirstColors(*frame, 2), (Rgbs{Red, Green}));
    // Only the local table is filled.
    EXPECT_EQ(gif->GlobalColors()->Count(), 2);
}

// A frame that rendered before (and so made a palette of its own) imports safely again.
TEST(GifImportBitmap, RenderedFrameImportsAgain) {
    Target t;
    TBitmap first;
    LoadPalettized(first, 8, 2, {Red, Green}, {{0, 1}});
    t.frame->CopyFrom(first);
    t.frame->ReleaseBitmap();
    ASSERT_NE(t.frame->RenderedBitmap(), nullptr);
    ASSERT_NE(t.frame->PaletteHandle(), nullptr);
    TBitmap second;
    LoadPalettized(second, 8, 3, {Blue, White, Black}, {{2, 1, 0}});
    t.frame->CopyFrom(second);
    EXPECT_EQ(FirstColors(*t.frame, 3), (Rgbs{Blue, White, Black}));
    EXPECT_EQ(PixelsOf(*t.frame), (Bytes{2, 1, 0}));
    ASSERT_TRUE(t.frame->HasRenderedBitmap());
    EXPECT_EQ(IndexesOf(*t.frame->FrameBitmap()), (Bytes{2, 1, 0}));
}

TEST(GifImportBitmap, SourcesTooLargeForAFrameAreRefused) {
    TBitmap source;
    source.SetPixelFormat(pf1bit);
    source.SetSize(70000, 1);
    Target t;
    TBitmap small;
    LoadPalettized(small, 8, 2, {Red, Green}, {{0, 1}});
    t.frame->CopyFrom(small);
    EXPECT_EQ(GIFErrorOf([&] { t.frame->CopyFrom(source); }), sImageTooLarge);
    EXPECT_EQ(t.frame->Width(), 2);
    EXPECT_EQ(PixelsOf(*t.frame), (Bytes{0, 1}));
    // Placed near the end of the largest screen, a bitmap that would reach past it is refused too.
    t.frame->SetBoundsField(kBoundsLeft, 65533);
    TBitmap wide;
    LoadPalettized(wide, 8, 3, {Red, Green}, {{1, 0, 1}});
    EXPECT_EQ(GIFErrorOf([&] { t.frame->CopyFrom(wide); }), sImageTooLarge);
    EXPECT_EQ(t.frame->Width(), 2);
    EXPECT_EQ(PixelsOf(*t.frame), (Bytes{0, 1}));
}

// --- Transparency masks ----------------------------------------------------------------

TEST(GifImportMask, TransparentBitmapGetsATransparentColour) {
    const Rgbs colors = {Red, Green, Red, Blue, Green, Green, Red, Blue};
    TBitmap source;
    FillTrueColor(source, pf24bit, 4, 2, [&](int x, int y) { return colors[y * 4 + x]; });
    source.SetTransparentColor(static_cast<TColor>(Green));
    source.SetTransparent(true);
    HBITMAP sourceMask = source.MaskHandle();
    Target t(crNone);
    t.frame->CopyFrom(source);

    ASSERT_EQ(t.frame->LocalColorMap()->Count(), 4);
    EXPECT_EQ(TableOf(*t.frame->LocalColorMap())[3], Black);
    const Rgbs table = TableOf(*t.frame->LocalColorMap());
    for (size_t i = 0; i < colors.size(); ++i) {
        const uint8_t pixel = t.frame->Pixels()[i];
        if (colors[i] == Green) {
            EXPECT_EQ(pixel, 3) << i;
        } else {
            EXPECT_EQ(table[pixel], colors[i]) << i;
        }
    }
    ASSERT_EQ(t.frame->Extensions()->ItemCount(), 1);
    auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(t.frame->Extensions()->ExtensionAt(0));
    ASSERT_NE(gce, nullptr);
    EXPECT_EQ(t.frame->GraphicControlExtension(), gce);
    EXPECT_TRUE(gce->IsTransparent());
    EXPECT_EQ(gce->TransparentIndex(), 3);
    EXPECT_EQ(gce->DisposalMethod(), 0);
    EXPECT_EQ(gce->DelayUnits(), 0);
    EXPECT_TRUE(t.frame->Transparent());

    // The source keeps its own mask.
    EXPECT_EQ(source.MaskHandle(), sourceMask);
    EXPECT_EQ(MonoBits(sourceMask, 4, 2), (Bytes{0, 1, 0, 0, 1, 1, 0, 0}));
    // A transparent draw masks exactly the transparent pixels.
    EXPECT_TRUE(t.frame->IsMasked());
    EXPECT_EQ(MonoBits(t.frame->Mask(), 4, 2), (Bytes{0, 1, 0, 0, 1, 1, 0, 0}));
}

TEST(GifImportMask, MaskWithoutTransparentPixelsOnlyCompacts) {
    TBitmap source;
    LoadPalettized(source, 8, 3, {Red, Green, Blue, White, RGB(1, 1, 1)}, {{3, 3, 1}});
    source.SetTransparentColor(static_cast<TColor>(RGB(9, 9, 9)));
    source.SetTransparent(true);
    Target t;
    t.frame->CopyFrom(source);
    EXPECT_EQ(TableOf(*t.frame->LocalColorMap()), (Rgbs{White, Green}));
    EXPECT_EQ(PixelsOf(*t.frame), (Bytes{0, 0, 1}));
    EXPECT_EQ(t.frame->Extensions()->ItemCount(), 0);
    EXPECT_FALSE(t.frame->Transparent());
}

TEST(GifImportMask, FullTableStaysOpaque) {
    Rgbs table;
    Bytes row;
    for (int i = 0; i < 256; ++i) {
        table.push_back(RGB(i, 255 - i, i / 2));
        row.push_back(static_cast<uint8_t>(i));
    }
    TBitmap source;
    LoadPalettized(source, 8, 256, table, {row});
    source.SetTransparentColor(static_cast<TColor>(table[0]));
    source.SetTransparent(true);
    Target t;
    t.frame->CopyFrom(source);
    EXPECT_EQ(t.frame->LocalColorMap()->Count(), 256);
    EXPECT_EQ(ColorsOfFrame(*t.frame), table);
    EXPECT_EQ(t.frame->Extensions()->ItemCount(), 0);
    EXPECT_FALSE(t.frame->Transparent());
}

TEST(GifImportMask, IconMaskBecomesTheTransparentColour) {
    HICON handle = MakeIcon(
        16, 16, [](int, int) { return Red; }, [](int x, int) { return x >= 8; });
    ASSERT_NE(handle, nullptr);
    {
        TIcon icon(handle);
        Target t(crNone);
        t.frame->CopyFrom(icon);
        ASSERT_EQ(t.frame->Width(), 16);
        ASSERT_EQ(t.frame->Height(), 16);
        ASSERT_NE(t.frame->GraphicControlExtension(), nullptr);
        const int transparent = t.frame->GraphicControlExtension()->TransparentIndex();
        EXPECT_TRUE(t.frame->Transparent());
        const Rgbs table = TableOf(*t.frame->LocalColorMap());
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const uint8_t pixel = t.frame->PixelAt(x, y);
                if (x >= 8) {
                    EXPECT_EQ(pixel, transparent) << x << "," << y;
                } else {
                    EXPECT_EQ(table[pixel], Red) << x << "," << y;
                }
            }
    }
    DestroyIcon(handle);
}

// A monochrome icon's mask holds the AND half above the XOR half: only the top half is the mask.
// Black is appended as the transparent colour also when the picture has black of its own.
TEST(GifImportMask, MonochromeIconUsesTheUpperHalfOfItsMask) {
    const int size = 16, rowBytes = 2;
    Bytes bits(static_cast<size_t>(rowBytes) * size * 2, 0);
    for (int y = 0; y < size; ++y) bits[y * rowBytes + 1] = 0xFF;  // AND: right half transparent
    HBITMAP mask = CreateBitmap(size, size * 2, 1, 1, bits.data());
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask;
    HICON handle = CreateIconIndirect(&info);
    DeleteObject(mask);
    ASSERT_NE(handle, nullptr);
    {
        TIcon icon(handle);
        ASSERT_EQ(icon.Height(), size);
        Target t(crNone);
        t.frame->CopyFrom(icon);
        ASSERT_EQ(t.frame->Height(), size);
        ASSERT_NE(t.frame->GraphicControlExtension(), nullptr);
        const Rgbs table = TableOf(*t.frame->LocalColorMap());
        const int transparent = t.frame->GraphicControlExtension()->TransparentIndex();
        EXPECT_EQ(transparent, static_cast<int>(table.size()) - 1);
        // White under the transparent half stays in the table: it is compacted before masking.
        ASSERT_EQ(table.size(), 3u);
        EXPECT_EQ(table.back(), Black);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const int pixel = t.frame->PixelAt(x, y);
                EXPECT_EQ(pixel == transparent, x >= 8) << x << "," << y;
                EXPECT_EQ(table[pixel], Black) << x << "," << y;
            }
    }
    DestroyIcon(handle);
}

TEST(GifImportMask, MetafileLeavesItsUnpaintedPartsTransparent) {
    const struct {
        const char* name;
        int paintedWidth;  // columns from the left that the metafile paints
    } cases[] = {{"left half", 10}, {"everything", 20}, {"one column", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMetafile metafile;
        metafile.SetHandle(MetafileFilling(20, 10, RECT{0, 0, c.paintedWidth, 10}, Blue));
        Target t(crNone);
        t.frame->CopyFrom(metafile);
        ASSERT_EQ(t.frame->Width(), 20);
        ASSERT_EQ(t.frame->Height(), 10);
        const bool anyUnpainted = c.paintedWidth < 20;
        ASSERT_EQ(t.frame->Extensions()->ItemCount(), anyUnpainted ? 1 : 0);
        EXPECT_EQ(t.frame->Transparent(), anyUnpainted);
        const int transparent = anyUnpainted ? t.frame->GraphicControlExtension()->TransparentIndex() : -1;
        const Rgbs table = TableOf(*t.frame->LocalColorMap());
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x) {
                const uint8_t pixel = t.frame->PixelAt(x, y);
                if (x >= c.paintedWidth) {
                    EXPECT_EQ(pixel, transparent) << x << "," << y;
                } else {
                    EXPECT_EQ(table[pixel], Blue) << x << "," << y;
                }
            }
    }
}

// --- Other pictures --------------------------------------------------------------------

TEST(GifImportGraphic, OtherPicturesAreCopiedFirstAndDrawnWhenTheCopyFails) {
    for (const bool copyWorks : {true, false}) {
        SCOPED_TRACE(copyWorks ? "copy works" : "copy fails");
        FakeGraphic graphic(3, 2, copyWorks);
        Target t(crNone);
        t.frame->CopyFrom(graphic);
        EXPECT_EQ(graphic.copies, 1);
        EXPECT_EQ(graphic.draws, copyWorks ? 0 : 1);
        EXPECT_EQ(ColorsOfFrame(*t.frame), Rgbs(6, copyWorks ? Blue : Green));
        EXPECT_EQ(t.frame->Extensions()->ItemCount(), 0);
    }
}

TEST(GifImportGraphic, IconsAndMetafilesAreDrawnNotCopied) {
    // A metafile of the class library cannot be copied into a bitmap: the drawing is the way.
    TMetafile metafile;
    metafile.SetHandle(MetafileFilling(4, 4, RECT{0, 0, 4, 4}, Red));
    Target t(crNone);
    t.frame->CopyFrom(metafile);
    EXPECT_EQ(ColorsOfFrame(*t.frame), Rgbs(16, Red));
}

TEST(GifImportGraphic, GIFImageArrivesThroughItsWholeImageBitmap) {
    GifBytes gif;
    ScreenWithColors(gif, 3, 2, {Red, Green, Blue, RGB(1, 2, 3)}).Frame(0, 0, 3, 2, {0, 1, 2, 2, 1, 0}).Trailer();
    auto source = LoadGif(gif.b);
    source->SetDrawFlags(0);
    Target t;
    const int index = t.image.AddFrameFrom(source.get());
    EXPECT_EQ(index, 1);
    TGIFSubImage* frame = t.image.Frames()->FrameAt(1);
    EXPECT_EQ(frame->Width(), 3);
    EXPECT_EQ(ColorsOfFrame(*frame), (Rgbs{Red, Green, Blue, Blue, Green, Red}));
}

TEST(GifImportDispatch, SourcesThatEmptyOrKeepTheFrame) {
    auto filled = [](Target& t) {
        TBitmap source;
        LoadPalettized(source, 8, 2, {Red, Green}, {{0, 1}});
        t.frame->CopyFrom(source);
    };
    {
        Target t;
        filled(t);
        t.frame->CopyFrom(*t.frame);
        EXPECT_EQ(PixelsOf(*t.frame), (Bytes{0, 1}));
        EXPECT_EQ(FirstColors(*t.frame, 2), (Rgbs{Red, Green}));
    }
    {
        Target t;
        filled(t);
        t.frame->CopyFrom(static_cast<const TPersistent*>(nullptr));
        EXPECT_TRUE(t.frame->IsEmpty());
        EXPECT_EQ(t.frame->LocalColorMap()->Count(), 0);
    }
    {
        Target t;
        filled(t);
        TPicture empty;
        t.frame->CopyFrom(empty);
        EXPECT_TRUE(t.frame->IsEmpty());
        EXPECT_FALSE(t.frame->HasRenderedBitmap());
    }
    {
        Target t;
        filled(t);
        TBitmap empty;
        t.frame->CopyFrom(empty);
        EXPECT_TRUE(t.frame->IsEmpty());
    }
    {
        Target t;
        filled(t);
        EXPECT_THROW(t.frame->CopyFrom(Stranger()), EConvertError);
        EXPECT_EQ(PixelsOf(*t.frame), (Bytes{0, 1}));
    }
}

TEST(GifImportDispatch, PictureAndAssignImportTheirGraphic) {
    TPicture picture;
    auto bitmap = std::make_unique<TBitmap>();
    LoadPalettized(*bitmap, 8, 3, {Red, Green, Blue}, {{2, 1, 0}});
    picture.SetGraphic(std::move(bitmap));
    Target t;
    t.frame->CopyFrom(picture);
    EXPECT_EQ(PixelsOf(*t.frame), (Bytes{2, 1, 0}));

    TBitmap other;
    LoadPalettized(other, 8, 1, {White}, {{0}});
    t.frame->Assign(other);
    EXPECT_EQ(ColorsOfFrame(*t.frame), Rgbs{White});
}

// --- Frame copies -----------------------------------------------------------------

Bytes TransparentFrameGif() {
    GifBytes gif;
    gif.Header(10, 8);
    gif.Gce(0x09, 7, 1).Raw({'!', 0xFE, 2, 'h', 'i', 0});
    FrameWithTable(gif, 4, 3, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}}, {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 1, 1},
                   true);
    return gif.Trailer().b;
}

TEST(GifImportFrame, CopyTakesDescriptorPixelsTableAndExtensions) {
    for (const bool rendered : {false, true}) {
        SCOPED_TRACE(rendered ? "source rendered" : "source not rendered");
        auto gif = LoadGif(TransparentFrameGif());
        TGIFSubImage* source = gif->Frames()->FrameAt(0);
        // Place it off the origin directly, past the target image's screen.
        TGIFTestSeam::Descriptor(*source).Left = 6;
        TGIFTestSeam::Descriptor(*source).Top = 5;
        if (rendered) {
            ASSERT_NE(source->RenderedBitmap(), nullptr);
        }

        TGIFImage targetImage;
        targetImage.SetScreenWidth(5);
        targetImage.SetScreenHeight(5);
        WarningLog warnings;
        warnings.Attach(targetImage);
        auto target = std::make_unique<TGIFSubImage>(&targetImage);
        target->CopyFrom(*source);

        EXPECT_EQ(std::memcmp(&target->Descriptor(), &source->Descriptor(), sizeof source->Descriptor()), 0);
        EXPECT_TRUE(target->IsInterlaced());
        EXPECT_TRUE(target->Transparent());
        EXPECT_EQ(PixelsOf(*target), PixelsOf(*source));
        EXPECT_EQ(TableOf(*target->LocalColorMap()), TableOf(*source->LocalColorMap()));
        ASSERT_EQ(target->Extensions()->ItemCount(), 2);
        EXPECT_NE(target->Extensions()->ExtensionAt(0), source->Extensions()->ExtensionAt(0));
        EXPECT_EQ(SavedExtensions(*target), SavedExtensions(*source));
        ASSERT_NE(target->GraphicControlExtension(), nullptr);
        EXPECT_EQ(target->GraphicControlExtension(), target->Extensions()->ExtensionAt(0));
        EXPECT_EQ(target->GraphicControlExtension()->Frame(), target.get());
        EXPECT_EQ(target->GraphicControlExtension()->TransparentIndex(), 1);
        EXPECT_EQ(target->GraphicControlExtension()->DelayUnits(), 7);
        EXPECT_EQ(target->HasRenderedBitmap(), rendered);
        if (rendered) {
            EXPECT_EQ(IndexesOf(*target->FrameBitmap()), IndexesOf(*source->FrameBitmap()));
        }
        EXPECT_EQ(target->Mask(), nullptr);
        // The descriptor is written directly: the screen stays and nothing is reported.
        EXPECT_EQ(targetImage.ScreenWidth(), 5);
        EXPECT_EQ(targetImage.ScreenHeight(), 5);
        EXPECT_TRUE(warnings.entries.empty());
        // The copy stands on its own.
        gif.reset();
        EXPECT_EQ(target->GraphicControlExtension()->TransparentIndex(), 1);
    }
}

TEST(GifImportFrame, CopyOfAnEmptyFrameEmpties) {
    auto gif = LoadGif(TransparentFrameGif());
    TGIFSubImage* target = gif->Frames()->FrameAt(0);
    TGIFSubImage empty(gif.get());
    target->CopyFrom(empty);
    EXPECT_TRUE(target->IsEmpty());
    EXPECT_EQ(target->Extensions()->ItemCount(), 0);
    EXPECT_EQ(target->LocalColorMap()->Count(), 0);
    EXPECT_FALSE(target->Transparent());
}

// --- Whole images -----------------------------------------------------------------------

Bytes AnimatedGif() {
    GifBytes gif;
    ScreenWithColors(gif, 6, 4, {Red, Green, Blue, White});
    gif.Raw({'!', 0xFF, 11}).Text("NETSCAPE2.0").Raw({3, 1, 0, 0, 0});
    gif.Gce(0x04, 10, 0).Frame(0, 0, 6, 4, Bytes(24, 1));
    gif.Gce(0x09, 20, 3).Frame(1, 1, 3, 2, {0, 1, 2, 3, 2, 1});
    FrameWithTable(gif.Gce(0x00, 30, 0), 2, 2, {{1, 2, 3}, {4, 5, 6}}, {0, 1, 1, 0});
    return gif.Trailer().b;
}

TEST(GifImageCopy, PictureHolderCopiesTheWholeImage) {
    auto owned = LoadGif(AnimatedGif());
    TGIFImage* source = owned.get();
    ASSERT_EQ(source->Frames()->ItemCount(), 3);
    source->SetDrawFlags(0x0123);
    source->SetReductionMethod(crGrayScale);
    source->SetDitherMode(dkStucki);
    source->SetPainterPriority(5);
    source->SetBackgroundOverride(0x123456);
    source->SetCurrentFrameIndex(2);
    source->SetSpeedPercent(250);
    source->SetReductionBits(4);
    source->SetCompression(1);
    std::vector<std::string> calls;
    auto handler = [&](const char* name) { return [&calls, name](TObject*) { calls.push_back(name); }; };
    source->OnAnimationStart = handler("start");
    source->OnFrameBegin = handler("begin");
    source->OnFrameDone = handler("done");
    source->OnLoopPass = handler("loop");
    source->OnAnimationEnd = handler("end");
    int warnings = 0;
    source->OnWarningMessage = [&](TObject*, uint8_t, const std::string&) { ++warnings; };

    TPicture holder;
    holder.SetGraphic(std::move(owned));
    std::vector<ProgressEntry> progress;
    source->OnProgress = [&](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const RECT&,
                             const std::string& message) {
        progress.push_back(ProgressEntry{sender, stage, percent, redraw, message});
    };
    TPicture copyHolder;
    copyHolder.Assign(holder);
    auto* copy = dynamic_cast<TGIFImage*>(copyHolder.Graphic());
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy, source);

    EXPECT_EQ(copy->Frames()->ItemCount(), 3);
    EXPECT_EQ(copy->DrawFlags(), 0x0123);
    EXPECT_EQ(copy->ReductionMethod(), crGrayScale);
    EXPECT_EQ(copy->DitherMode(), dkStucki);
    EXPECT_EQ(copy->PainterPriority(), 5);
    EXPECT_EQ(copy->BackgroundOverride(), 0x123456);
    EXPECT_EQ(copy->CurrentFrameIndex(), 2);
    EXPECT_EQ(copy->SpeedPercent(), DefaultAnimationSpeed);
    EXPECT_EQ(copy->ReductionBits(), DefaultReductionBits);
    EXPECT_EQ(copy->Compression(), DefaultCompression);
    EXPECT_FALSE(copy->OnWarningMessage);
    for (TNotifyEvent TGIFImage::*event :
         {&TGIFImage::OnAnimationStart, &TGIFImage::OnFrameBegin, &TGIFImage::OnFrameDone, &TGIFImage::OnLoopPass,
          &TGIFImage::OnAnimationEnd}) {
        ASSERT_TRUE(copy->*event);
        (copy->*event)(copy);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"start", "begin", "done", "loop", "end"}));

    const auto copying = [&](TProgressStage stage, int percent) {
        return ProgressEntry{copy, stage, percent, false, "Copying..."};
    };
    EXPECT_EQ(progress,
              (std::vector<ProgressEntry>{copying(psStarting, 0), copying(psRunning, 33), copying(psRunning, 67),
                                          copying(psRunning, 100), copying(psEnding, 100)}));
    // Frames and header byte for byte, as written with the same encoder.
    source->SetCompression(DefaultCompression);
    EXPECT_EQ(SavedImage(*copy), SavedImage(*source));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(copy->Frames()->FrameAt(i)->OwnerImage(), copy);
        EXPECT_EQ(copy->Frames()->FrameAt(i)->Transparent(), source->Frames()->FrameAt(i)->Transparent()) << i;
    }
    EXPECT_EQ(warnings, 0);
}

TEST(GifImageCopy, CopyFromAnImageLeavesNoWarningOrProgressHandler) {
    auto source = LoadGif(AnimatedGif());
    source->OnWarningMessage = [](TObject*, uint8_t, const std::string&) {};
    source->OnProgress = [](TObject*, TProgressStage, uint8_t, bool, const RECT&, const std::string&) {};
    TGIFImage copy;
    copy.OnWarningMessage = [](TObject*, uint8_t, const std::string&) {};
    copy.OnProgress = [](TObject*, TProgressStage, uint8_t, bool, const RECT&, const std::string&) {};
    copy.CopyFrom(source.get());
    EXPECT_EQ(copy.Frames()->ItemCount(), 3);
    EXPECT_FALSE(copy.OnWarningMessage);
    EXPECT_FALSE(copy.OnProgress);
    EXPECT_TRUE(source->OnWarningMessage);
}

TEST(GifImageCopy, OtherPicturesBecomeOneFrame) {
    TBitmap bitmap;
    LoadPalettized(bitmap, 8, 5, {Red, Green}, {{0, 1, 0, 1, 0}, {1, 1, 1, 1, 1}, {0, 0, 0, 0, 0}});
    auto gif = LoadGif(AnimatedGif());
    gif->CopyFrom(&bitmap);
    ASSERT_EQ(gif->Frames()->ItemCount(), 1);
    EXPECT_EQ(gif->ScreenWidth(), 5);
    EXPECT_EQ(gif->ScreenHeight(), 3);
    EXPECT_EQ(gif->GlobalColors()->Count(), 0);
    EXPECT_EQ(FirstColors(*gif->Frames()->FrameAt(0), 2), (Rgbs{Red, Green}));

    TMetafile metafile;
    metafile.SetHandle(MetafileFilling(8, 8, RECT{0, 0, 4, 4}, Red));
    gif->CopyFrom(&metafile);
    ASSERT_EQ(gif->Frames()->ItemCount(), 1);
    EXPECT_EQ(gif->Frames()->FrameAt(0)->Width(), 8);
    EXPECT_TRUE(gif->Frames()->FrameAt(0)->Transparent());
}

TEST(GifImageCopy, FailedImportsLeaveNoFrame) {
    TBitmap tooMany;
    FillTrueColor(tooMany, pf24bit, 300, 1, [](int x, int) { return RGB(x & 0xFF, x >> 8, 7); });
    auto gif = LoadGif(AnimatedGif());
    gif->SetReductionMethod(crNone);
    EXPECT_EQ(GIFErrorOf([&] { gif->AddFrameFrom(&tooMany); }), sColorTableOverflow);
    EXPECT_EQ(gif->Frames()->ItemCount(), 3);
    EXPECT_EQ(GIFErrorOf([&] { gif->CopyFrom(&tooMany); }), sColorTableOverflow);
    EXPECT_EQ(gif->Frames()->ItemCount(), 0);

    Stranger stranger;
    EXPECT_EQ(GIFErrorOf([&] { gif->AddFrameFrom(&stranger); }), sUnsupportedObject);
    EXPECT_THROW(gif->CopyFrom(&stranger), EConvertError);
}

// --- Clipboard bitmaps ---------------------------------------------------------------

TEST(GifImageClipboard, BitmapDataBecomesOneFrame) {
    HDC screen = GetDC(nullptr);
    HBITMAP data = CreateCompatibleBitmap(screen, 6, 3);
    ReleaseDC(nullptr, screen);
    {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, data);
        FillArea(dc, RECT{0, 0, 6, 3}, Red);
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    auto gif = LoadGif(AnimatedGif());
    gif->SetReductionMethod(crNone);
    gif->ReadClipboard(CF_BITMAP, data, nullptr);
    ASSERT_EQ(gif->Frames()->ItemCount(), 1);
    EXPECT_EQ(gif->ScreenWidth(), 6);
    EXPECT_EQ(gif->ScreenHeight(), 3);
    EXPECT_EQ(ColorsOfFrame(*gif->Frames()->FrameAt(0)), Rgbs(18, Red));
    // The clipboard's bitmap stays as it was.
    BITMAP info{};
    EXPECT_NE(GetObjectA(data, sizeof info, &info), 0);
    EXPECT_EQ(info.bmWidth, 6);
    DeleteObject(data);
}

TEST(GifImageClipboard, OtherFormatsAreUnsupported) {
    HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, 4);
    auto gif = LoadGif(AnimatedGif());
    EXPECT_EQ(GIFErrorOf([&] { gif->ReadClipboard(CF_TEXT, text, nullptr); }), sUnsupportedClipboardFormat);
    EXPECT_EQ(gif->Frames()->ItemCount(), 3);
    GlobalFree(text);
}

}  // namespace
