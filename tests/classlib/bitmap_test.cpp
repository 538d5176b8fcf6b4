// The class library's bitmap: pixel formats, BMP files, rows, palettes, masks, copies.
#include <gtest/gtest.h>

#include <cstring>

#include "classlib/bitmap.h"
#include "classlib/stringlist.h"
#include "tests/support/bitmaps.h"
#include "tests/support/surface.h"

namespace {

const COLORREF kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255), kWhite = RGB(255, 255, 255), kBlack = 0;

// A bitmap of the format with the colours painted in reading order (5 by 3, the rest white).
void Paint(TBitmap& bitmap, TPixelFormat format, const std::vector<COLORREF>& colors) {
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(5, 3);
    for (size_t i = 0; i < colors.size(); ++i) SetPixel(bitmap.Canvas().Handle(), int(i % 5), int(i / 5), colors[i]);
}

std::vector<COLORREF> PixelsOf(TBitmap& bitmap) {
    return ColorsOf(bitmap.Canvas().Handle(), bitmap.Width(), bitmap.Height());
}

Bytes Saved(TBitmap& bitmap) {
    TMemoryStream stream;
    bitmap.SaveToStream(stream);
    const auto* p = static_cast<const uint8_t*>(stream.Memory());
    return Bytes(p, p + stream.Size());
}

std::string LoadError(TBitmap& bitmap, const Bytes& bytes) {
    auto stream = StreamOf(bytes);
    try {
        bitmap.LoadFromStream(*stream);
    } catch (const EInvalidGraphic& e) {
        return e.Message();
    }
    return "";
}

template <class T>
void Put(Bytes& bytes, size_t offset, T value) {
    std::memcpy(&bytes[offset], &value, sizeof value);
}

TEST(Bitmap, FormatsSurviveABmpFile) {
    struct Case {
        TPixelFormat format;
        TPixelFormat loaded;
        int bitCount;
        int tableEntries;
        bool fields;
    };
    const Case cases[] = {
        {pf1bit, pf1bit, 1, 2, false},    {pf4bit, pf4bit, 4, 16, false},    {pf8bit, pf8bit, 8, 256, false},
        {pf15bit, pf15bit, 16, 0, false}, {pf16bit, pf16bit, 16, 0, true},   {pf24bit, pf24bit, 24, 0, false},
        {pf32bit, pf32bit, 32, 0, false}, {pfDevice, pf24bit, 24, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.format));
        const std::vector<COLORREF> colors = c.format == pf1bit
                                                 ? std::vector<COLORREF>{kBlack, kWhite, kBlack}
                                                 : std::vector<COLORREF>{kBlack, kRed, kBlue, kWhite, kRed};
        TBitmap bitmap;
        Paint(bitmap, c.format, colors);
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        EXPECT_EQ(bitmap.HandleType(), c.format == pfDevice ? bmDDB : bmDIB);
        const Bytes file = Saved(bitmap);
        ASSERT_GE(file.size(), 54u);
        const auto* fh = reinterpret_cast<const BITMAPFILEHEADER*>(file.data());
        const auto* ih = reinterpret_cast<const BITMAPINFOHEADER*>(file.data() + 14);
        EXPECT_EQ(fh->bfType, 0x4D42);
        EXPECT_EQ(fh->bfSize, file.size());
        EXPECT_EQ(ih->biBitCount, c.bitCount);
        EXPECT_EQ(ih->biWidth, 5);
        EXPECT_EQ(ih->biHeight, 3);
        EXPECT_EQ(fh->bfOffBits, 14u + 40 + (c.fields ? 12 : 0) + 4 * c.tableEntries);

        TBitmap loaded;
        auto stream = StreamOf(file);
        loaded.LoadFromStream(*stream);
        EXPECT_EQ(stream->Position(), stream->Size());
        EXPECT_EQ(loaded.PixelFormat(), c.loaded);
        EXPECT_EQ(loaded.Width(), 5);
        EXPECT_EQ(loaded.Height(), 3);
        EXPECT_EQ(PixelsOf(loaded), PixelsOf(bitmap));
        std::vector<COLORREF> want(15, kWhite);
        std::copy(colors.begin(), colors.end(), want.begin());
        EXPECT_EQ(PixelsOf(loaded), want);
    }
}

TEST(Bitmap, BadFilesRaiseAndKeepThePicture) {
    TBitmap source;
    Paint(source, pf8bit, {kRed});
    const Bytes good = Saved(source);
    struct Case {
        const char* name;
        std::function<Bytes()> make;
    };
    const Case cases[] = {
        {"empty", [] { return Bytes{}; }},
        {"wrong type",
         [&] {
             Bytes b = good;
             b[0] = 'X';
             return b;
         }},
        {"header cut", [&] { return Bytes(good.begin(), good.begin() + 30); }},
        {"odd info size",
         [&] {
             Bytes b = good;
             Put<DWORD>(b, 14, 20);
             return b;
         }},
        {"3 bits per pixel",
         [&] {
             Bytes b = good;
             Put<WORD>(b, 28, 3);
             return b;
         }},
        {"two planes",
         [&] {
             Bytes b = good;
             Put<WORD>(b, 26, 2);
             return b;
         }},
        {"run-length coded",
         [&] {
             Bytes b = good;
             Put<DWORD>(b, 30, BI_RLE8);
             return b;
         }},
        {"zero width",
         [&] {
             Bytes b = good;
             Put<LONG>(b, 18, 0);
             return b;
         }},
        {"zero height",
         [&] {
             Bytes b = good;
             Put<LONG>(b, 22, 0);
             return b;
         }},
        {"pixels cut", [&] { return Bytes(good.begin(), good.end() - 1); }},
        {"colour table cut", [&] { return Bytes(good.begin(), good.begin() + 300); }},
        {"huge",
         [&] {
             Bytes b = good;
             Put<LONG>(b, 18, 30000);
             Put<LONG>(b, 22, 30000);
             Put<WORD>(b, 28, 32);
             return b;
         }},
        {"pixels before the header's end",
         [&] {
             Bytes b = good;
             Put<DWORD>(b, 10, 20);
             return b;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap bitmap;
        Paint(bitmap, pf24bit, {kBlue});
        EXPECT_EQ(LoadError(bitmap, c.make()), sInvalidBitmap);
        EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
        EXPECT_EQ(bitmap.Width(), 5);
        EXPECT_EQ(GetPixel(bitmap.Canvas().Handle(), 0, 0), kBlue);
    }
    TBitmap bitmap;
    EXPECT_EQ(LoadError(bitmap, good), "");
    EXPECT_EQ(GetPixel(bitmap.Canvas().Handle(), 0, 0), kRed);
}

TEST(Bitmap, ReadsTopDownAndCoreHeaderFiles) {
    // 2 by 2, 24 bits, rows stored from the top: red, blue / white, black.
    Bytes topDown(14 + 40 + 16, 0);
    Put<WORD>(topDown, 0, 0x4D42);
    Put<DWORD>(topDown, 2, DWORD(topDown.size()));
    Put<DWORD>(topDown, 10, 54);
    Put<DWORD>(topDown, 14, 40);
    Put<LONG>(topDown, 18, 2);
    Put<LONG>(topDown, 22, -2);
    Put<WORD>(topDown, 26, 1);
    Put<WORD>(topDown, 28, 24);
    const uint8_t rows[16] = {0, 0, 255, 255, 0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0};
    std::memcpy(&topDown[54], rows, 16);
    TBitmap bitmap;
    ASSERT_EQ(LoadError(bitmap, topDown), "");
    EXPECT_EQ(PixelsOf(bitmap), (std::vector<COLORREF>{kRed, kBlue, kWhite, kBlack}));
    EXPECT_EQ(bitmap.ScanLine(0)[2], 255) << "row 0 is the top row";

    // A core header with a 2-entry table of 3-byte entries, 1 bit per pixel.
    Bytes core(14 + 12 + 6 + 4, 0);
    Put<WORD>(core, 0, 0x4D42);
    Put<DWORD>(core, 10, 32);
    Put<DWORD>(core, 14, 12);
    Put<WORD>(core, 18, 3);
    Put<WORD>(core, 20, 1);
    Put<WORD>(core, 22, 1);
    Put<WORD>(core, 24, 1);
    const uint8_t table[6] = {0, 0, 255, 0, 255, 0};  // red, green
    std::memcpy(&core[26], table, 6);
    core[32] = 0x40;  // 0, 1, 0
    ASSERT_EQ(LoadError(bitmap, core), "");
    EXPECT_EQ(bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(PixelsOf(bitmap), (std::vector<COLORREF>{kRed, RGB(0, 255, 0), kRed}));
}

TEST(Bitmap, ShortColourTablesStayShort) {
    for (int entries : {5, 2, 16}) {
        SCOPED_TRACE(entries);
        TBitmap source;
        Paint(source, pf8bit, {kRed});
        Bytes file = Saved(source);
        // The same file with only the first entries of its table.
        Put<DWORD>(file, 14 + 32, DWORD(entries));
        file.erase(file.begin() + 54 + 4 * entries, file.begin() + 54 + 1024);
        Put<DWORD>(file, 10, DWORD(54 + 4 * entries));
        TBitmap bitmap;
        ASSERT_EQ(LoadError(bitmap, file), "");
        EXPECT_EQ(ColorTableOf(bitmap).size(), size_t(entries));
        TBitmap copy;
        copy.Assign(bitmap);
        EXPECT_EQ(ColorTableOf(copy).size(), size_t(entries));
        EXPECT_EQ(GetPaletteEntries(bitmap.Palette(), 0, 0, nullptr), UINT(entries));
        EXPECT_EQ(Saved(bitmap).size(), file.size());
    }
}

TEST(Bitmap, PixelFormatConversionKeepsColours) {
    TBitmap bitmap;
    Paint(bitmap, pf24bit, {kRed, kBlue, kBlack, kWhite});
    const std::vector<COLORREF> painted = PixelsOf(bitmap);
    for (TPixelFormat format : {pf8bit, pf4bit, pf32bit, pf16bit, pf15bit, pfDevice, pf24bit}) {
        SCOPED_TRACE(int(format));
        bitmap.SetPixelFormat(format);
        EXPECT_EQ(bitmap.PixelFormat(), format);
        EXPECT_EQ(PixelsOf(bitmap), painted);
    }
    bitmap.SetPixelFormat(pf4bit);
    HPALETTE palette = bitmap.Palette();
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 16u);
    bitmap.SetPixelFormat(pf1bit);
    EXPECT_EQ(PixelsOf(bitmap)[3], kWhite);
    EXPECT_EQ(PixelsOf(bitmap)[2], kBlack);
    EXPECT_THROW(bitmap.SetPixelFormat(pfCustom), EInvalidGraphic);
    EXPECT_EQ(bitmap.PixelFormat(), pf1bit);

    TBitmap empty;
    empty.SetPixelFormat(pf8bit);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.PixelFormat(), pf8bit);
    empty.SetSize(2, 2);
    EXPECT_EQ(empty.PixelFormat(), pf8bit);
    EXPECT_EQ(empty.HandleType(), bmDIB);
}

TEST(Bitmap, ResizingKeepsTheOverlapAndPaintsTheRestWhite) {
    for (TPixelFormat format : {pf24bit, pf8bit, pfDevice}) {
        SCOPED_TRACE(int(format));
        TBitmap bitmap;
        bitmap.SetPixelFormat(format);
        bitmap.SetSize(2, 2);
        RECT all{0, 0, 2, 2};
        bitmap.Canvas().FillRect(all, clRed);
        bitmap.SetSize(3, 4);
        EXPECT_EQ(bitmap.Width(), 3);
        EXPECT_EQ(bitmap.Height(), 4);
        EXPECT_EQ(GetPixel(bitmap.Canvas().Handle(), 1, 1), kRed);
        EXPECT_EQ(GetPixel(bitmap.Canvas().Handle(), 2, 3), kWhite);
        bitmap.SetHeight(1);
        EXPECT_EQ(PixelsOf(bitmap), (std::vector<COLORREF>{kRed, kRed, kWhite}));
        bitmap.SetWidth(0);
        EXPECT_TRUE(bitmap.Empty());
        EXPECT_EQ(bitmap.Height(), 1) << "an empty bitmap keeps the other side";
        bitmap.SetWidth(2);
        EXPECT_FALSE(bitmap.Empty());
        EXPECT_EQ(bitmap.PixelFormat(), format);
    }
}

TEST(Bitmap, ScanLinesCountFromTheTop) {
    TBitmap bitmap;
    Paint(bitmap, pf24bit, {RGB(1, 2, 3)});
    const uint8_t* top = bitmap.ScanLine(0);
    EXPECT_EQ(top[0], 3);
    EXPECT_EQ(top[1], 2);
    EXPECT_EQ(top[2], 1);
    EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(2), 16) << "rows of 5 x 3 bytes padded to 16, stored bottom-up";
    for (int y : {-1, 3}) {
        try {
            bitmap.ScanLine(y);
            ADD_FAILURE() << y;
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_EQ(e.Message(), sScanLineOutOfRange);
        }
    }
    TBitmap device;
    Paint(device, pfDevice, {kRed});
    ASSERT_EQ(device.HandleType(), bmDDB);
    device.ScanLine(0);
    EXPECT_EQ(device.HandleType(), bmDIB) << "a device bitmap becomes device-independent";
    EXPECT_EQ(GetPixel(device.Canvas().Handle(), 0, 0), kRed);
}

// The 216 colours (51r, 51g, 51b), red slowest, as a palette the caller owns.
HPALETTE WebPalette() {
    std::vector<uint8_t> bytes(sizeof(LOGPALETTE) + 216 * sizeof(PALETTEENTRY));
    auto* palette = reinterpret_cast<LOGPALETTE*>(bytes.data());
    palette->palVersion = 0x300;
    palette->palNumEntries = 216;
    for (int i = 0; i < 216; ++i)
        palette->palPalEntry[i] = PALETTEENTRY{BYTE(51 * (i / 36)), BYTE(51 * (i / 6 % 6)), BYTE(51 * (i % 6)), 0};
    return CreatePalette(palette);
}

TEST(Bitmap, PalettesAndColourTables) {
    HPALETTE web = WebPalette();
    TBitmap bitmap;
    Paint(bitmap, pf8bit, {});
    bitmap.SetPalette(web);
    EXPECT_EQ(bitmap.Palette(), web) << "kept as given";
    const std::vector<RGBQUAD> table = ColorTableOf(bitmap);
    ASSERT_GE(table.size(), 216u);
    EXPECT_EQ(table[215].rgbRed, 255);
    EXPECT_EQ(table[1].rgbBlue, 51);
    EXPECT_EQ(table[1].rgbRed, 0);

    HPALETTE other = CopyPalette(web);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, web);
    EXPECT_EQ(GetPaletteEntries(other, 0, 0, nullptr), 216u);
    bitmap.SetPalette(other);
    EXPECT_EQ(GetObjectType(web), 0u) << "the replaced palette is deleted";
    EXPECT_EQ(CopyPalette(nullptr), nullptr);

    // A loaded palette picture offers a palette of its colour table.
    TBitmap loaded;
    auto stream = StreamOf(Saved(bitmap));
    loaded.LoadFromStream(*stream);
    HPALETTE derived = loaded.Palette();
    ASSERT_NE(derived, nullptr);
    PALETTEENTRY entry{};
    GetPaletteEntries(derived, 215, 1, &entry);
    EXPECT_EQ(entry.peRed, 255);
    EXPECT_EQ(loaded.Palette(), derived);

    TBitmap rgb;
    Paint(rgb, pf24bit, {});
    EXPECT_EQ(rgb.Palette(), nullptr);
}

TEST(Bitmap, MaskAndTransparentDrawing) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(3, 2);
    SetPixel(bitmap.Canvas().Handle(), 0, 0, kRed);
    SetPixel(bitmap.Canvas().Handle(), 1, 0, kBlue);
    SetPixel(bitmap.Canvas().Handle(), 1, 1, kRed);
    // Bottom-left is white: by default white is transparent.
    EXPECT_EQ(bitmap.TransparentColor(), kWhite);
    EXPECT_EQ(MaskBitsOf(bitmap.MaskHandle(), 3, 2), (Bytes{0, 0, 1, 1, 0, 1}));
    bitmap.SetTransparentColor(clRed);
    EXPECT_EQ(MaskBitsOf(bitmap.MaskHandle(), 3, 2), (Bytes{1, 0, 0, 0, 1, 0}));

    const COLORREF back = RGB(20, 40, 60);
    bitmap.SetTransparent(true);
    Surface surface(6, 4, back);
    TCanvas canvas(surface.Dc());
    bitmap.Draw(canvas, RECT{0, 0, 6, 4});
    const std::vector<COLORREF> seen = surface.All();
    // Each source pixel covers 2 by 2 target pixels.
    const COLORREF want[2][3] = {{back, kBlue, kWhite}, {kWhite, back, kWhite}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(seen[y * 6 + x], want[y / 2][x / 2]) << x << "," << y;

    bitmap.SetTransparent(false);
    Surface opaque(3, 2, back);
    TCanvas plain(opaque.Dc());
    bitmap.Draw(plain, RECT{0, 0, 3, 2});
    EXPECT_EQ(opaque.All(), (std::vector<COLORREF>{kRed, kBlue, kWhite, kWhite, kRed, kWhite}));
}

TEST(Bitmap, AssignCopiesEverything) {
    TBitmap source;
    Paint(source, pf8bit, {kRed, kBlue});
    source.SetTransparent(true);
    source.SetTransparentColor(clBlue);
    TBitmap copy;
    int changes = 0;
    copy.OnChange = [&](TObject*) { ++changes; };
    copy.Assign(source);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(copy.PixelFormat(), pf8bit);
    EXPECT_EQ(IndexesOf(copy), IndexesOf(source));
    EXPECT_EQ(PixelsOf(copy), PixelsOf(source));
    EXPECT_TRUE(copy.Transparent());
    EXPECT_EQ(copy.TransparentColor(), clBlue);
    EXPECT_NE(copy.Handle(), source.Handle());
    SetPixel(copy.Canvas().Handle(), 0, 0, kWhite);
    EXPECT_EQ(GetPixel(source.Canvas().Handle(), 0, 0), kRed) << "independent afterwards";

    TBitmap device;
    Paint(device, pfDevice, {kBlue});
    copy.Assign(device);
    EXPECT_EQ(copy.HandleType(), bmDDB);
    EXPECT_EQ(GetPixel(copy.Canvas().Handle(), 0, 0), kBlue);

    copy.Assign(copy);
    EXPECT_EQ(GetPixel(copy.Canvas().Handle(), 0, 0), kBlue);
    TBitmap empty;
    copy.Assign(empty);
    EXPECT_TRUE(copy.Empty());
    TStringList text;
    EXPECT_THROW(copy.Assign(text), EConvertError);
}

TEST(Bitmap, MonochromeDeviceBitmapsReadExactly) {
    const uint8_t rows[4] = {0xA0, 0, 0x40, 0};  // 3 by 2, word-aligned rows: 1 0 1 / 0 1 0
    TBitmap bitmap;
    bitmap.SetHandle(CreateBitmap(3, 2, 1, 1, rows));
    EXPECT_EQ(bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(bitmap.HandleType(), bmDDB);
    EXPECT_EQ(bitmap.Width(), 3);
    TBitmap asBytes;
    asBytes.Assign(bitmap);
    asBytes.SetPixelFormat(pf8bit);
    EXPECT_EQ(IndexesOf(asBytes), (Bytes{1, 0, 1, 0, 1, 0})) << "black and white keep indexes 0 and 1";
    EXPECT_EQ(bitmap.ScanLine(0)[0] & 0xE0, 0xA0);
    EXPECT_EQ(bitmap.ScanLine(1)[0] & 0xE0, 0x40);
    EXPECT_EQ(bitmap.HandleType(), bmDIB);

    HBITMAP released = bitmap.ReleaseHandle();
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(GetObjectType(released), DWORD(OBJ_BITMAP));
    DeleteObject(released);
}

TEST(Bitmap, ClipboardFormatCopiesTheBitmap) {
    TBitmap bitmap;
    Paint(bitmap, pf8bit, {kRed, kBlue});
    UINT format = 0;
    HANDLE data = nullptr;
    HPALETTE palette = nullptr;
    bitmap.SaveToClipboardFormat(format, data, palette);
    EXPECT_EQ(format, UINT(CF_BITMAP));
    ASSERT_NE(data, nullptr);
    EXPECT_NE(data, bitmap.Handle());
    ASSERT_NE(palette, nullptr);
    TBitmap pasted;
    pasted.LoadFromClipboardFormat(format, data, palette);
    EXPECT_EQ(PixelsOf(pasted), PixelsOf(bitmap));
    EXPECT_THROW(pasted.LoadFromClipboardFormat(CF_TEXT, data, nullptr), EInvalidGraphic);
    DeleteObject(data);
    DeleteObject(palette);
}

}  // namespace
