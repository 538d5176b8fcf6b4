// The DIB writer's section and its hand-over to a bitmap, and the DIB reader.
#include <gtest/gtest.h>

#include <cstring>

#include "gifimage/dib.h"
#include "gifimage/gdiutils.h"
#include "gifimage/messages.h"
#include "renderfixtures.h"

namespace {

std::string ExceptionText(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

// A palette of count entries (i, 2i, 3i).
HPALETTE Ramp(int count) {
    std::vector<uint8_t> block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * count);
    auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(count);
    for (int i = 0; i < count; ++i)
        lp->palPalEntry[i] = PALETTEENTRY{uint8_t(i), uint8_t(2 * i), uint8_t(3 * i), PC_NOCOLLAPSE};
    return CreatePalette(lp);
}

TEST(DIBWriter, RefusesFormatsAndEmptySizes) {
    struct Case {
        TPixelFormat format;
        int width, height;
        const char* message;
    };
    const Case cases[] = {
        {pf1bit, 2, 2, sUnsupportedPixelFormat},
        {pf4bit, 2, 2, sUnsupportedPixelFormat},
        {pf15bit, 2, 2, sUnsupportedPixelFormat},
        {pf32bit, 2, 2, sUnsupportedPixelFormat},
        {pfDevice, 2, 2, sUnsupportedPixelFormat},
        {pf8bit, 0, 2, sInvalidImageDimensions},
        {pf24bit, 2, 0, sInvalidImageDimensions},
        {pf8bit, 2, 2, ""},
        {pf24bit, 2, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.format) << " " << c.width << "x" << c.height);
        TBitmap bitmap;
        EXPECT_EQ(GIFErrorOf([&] { TDIBWriter writer(bitmap, c.format, c.width, c.height, nullptr); }), c.message);
        EXPECT_TRUE(bitmap.Empty()) << "a writer never asked for a row leaves the bitmap alone";
    }
}

TEST(DIBWriter, ColourTableFromThePalette) {
    struct Case {
        int entries;
        int important;
    };
    for (Case c : {Case{216, 216}, Case{2, 2}, Case{256, 256}, Case{0, 0}}) {
        SCOPED_TRACE(c.entries);
        HPALETTE palette = c.entries == 216 ? CreateWebSafePalette() : c.entries ? Ramp(c.entries) : nullptr;
        TBitmap bitmap;
        {
            TDIBWriter writer(bitmap, pf8bit, 3, 2, palette);
            EXPECT_EQ(writer.SectionHeader(), nullptr) << "nothing is made before the first row";
            writer.RowPointer(0);
            const BITMAPINFOHEADER* header = writer.SectionHeader();
            ASSERT_NE(header, nullptr);
            EXPECT_EQ(writer.HeaderSize(), 1064);
            EXPECT_EQ(header->biSize, 40u);
            EXPECT_EQ(header->biWidth, 3);
            EXPECT_EQ(header->biHeight, 2);
            EXPECT_EQ(header->biBitCount, 8);
            EXPECT_EQ(header->biCompression, DWORD(BI_RGB));
            EXPECT_EQ(header->biClrUsed, 256u);
            EXPECT_EQ(header->biClrImportant, DWORD(c.important));
            const auto* table = reinterpret_cast<const RGBQUAD*>(header + 1);
            for (int i = 0; i < 256; ++i) {
                RGBQUAD want{0, 0, 0, 0};
                if (i < c.entries && c.entries == 216)
                    want = RGBQUAD{uint8_t(i % 6 * 51), uint8_t(i / 6 % 6 * 51), uint8_t(i / 36 * 51), 0};
                else if (i < c.entries)
                    want = RGBQUAD{uint8_t(3 * i), uint8_t(2 * i), uint8_t(i), 0};
                EXPECT_EQ(std::memcmp(&table[i], &want, 4), 0) << "entry " << i;
            }
        }
        EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
        EXPECT_EQ(ColorTableOf(bitmap).size(), 256u);
        if (palette) DeleteObject(palette);
    }
}

TEST(DIBWriter, RowsAreStoredBottomUp) {
    struct Case {
        TPixelFormat format;
        int width, height, rowBytes;
    };
    for (Case c : {Case{pf8bit, 3, 5, 4}, Case{pf24bit, 3, 5, 12}, Case{pf8bit, 8, 1, 8}, Case{pf24bit, 1, 2, 4}}) {
        SCOPED_TRACE(testing::Message() << int(c.format) << " " << c.width);
        TBitmap bitmap;
        TDIBWriter writer(bitmap, c.format, c.width, c.height, nullptr);
        const uint8_t* last = writer.RowPointer(0);
        EXPECT_EQ(writer.BitsSize(), c.rowBytes * c.height);
        EXPECT_EQ(writer.HeaderSize(), c.format == pf8bit ? 1064 : 40);
        EXPECT_EQ(last, writer.SectionBits() + (c.height - 1) * c.rowBytes);
        EXPECT_EQ(writer.RowPointer(c.height - 1), writer.SectionBits());
        const uint8_t* bits = writer.SectionBits();
        for (int y : {-1, c.height}) {
            EXPECT_EQ(ExceptionText([&] { writer.RowPointer(y); }), sScanLineOutOfRange);
            EXPECT_THROW(writer.RowPointer(y), EInvalidGraphicOperation);
        }
        EXPECT_EQ(writer.SectionBits(), bits) << "the section is unchanged";
    }
}

TEST(DIBWriter, FreeingHandsThePictureToTheBitmap) {
    HPALETTE palette = CreateWebSafePalette();
    TBitmap eight;
    {
        TDIBWriter writer(eight, pf8bit, 3, 2, palette);
        uint8_t* top = writer.RowPointer(0);
        top[0] = 1, top[1] = 2, top[2] = 215;
        uint8_t* bottom = writer.RowPointer(1);
        bottom[0] = 40, bottom[1] = 41, bottom[2] = 42;
        EXPECT_TRUE(eight.Empty()) << "nothing reaches the bitmap before the writer is freed";
    }
    DeleteObject(palette);
    EXPECT_EQ(eight.PixelFormat(), pf8bit);
    EXPECT_EQ(eight.HandleType(), bmDIB);
    EXPECT_EQ(IndexesOf(eight), (Bytes{1, 2, 215, 40, 41, 42}));
    EXPECT_EQ(GetPixel(eight.Canvas().Handle(), 2, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(eight.Canvas().Handle(), 0, 0), RGB(0, 0, 51));

    TBitmap rgb;
    {
        TDIBWriter writer(rgb, pf24bit, 2, 1, nullptr);
        uint8_t* row = writer.RowPointer(0);
        const uint8_t pixels[6] = {10, 20, 30, 200, 100, 0};  // blue, green, red
        std::memcpy(row, pixels, 6);
    }
    EXPECT_EQ(rgb.PixelFormat(), pf24bit);
    EXPECT_EQ(GetPixel(rgb.Canvas().Handle(), 0, 0), RGB(30, 20, 10));
    EXPECT_EQ(GetPixel(rgb.Canvas().Handle(), 1, 0), RGB(0, 100, 200));
}

TEST(DIBWriter, ExplicitCommitAndUntouchedBitmaps) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(4, 4);
    { TDIBWriter idle(bitmap, pf8bit, 2, 2, nullptr); }
    EXPECT_EQ(bitmap.Width(), 4) << "no row asked, no change";
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    HPALETTE web = CreateWebSafePalette();
    {
        TDIBWriter writer(bitmap, pf8bit, 2, 2, web);
        writer.RowPointer(0)[1] = 9;
        writer.CommitToBitmap();
        EXPECT_EQ(writer.SectionBits(), nullptr) << "committing releases the section";
        EXPECT_EQ(bitmap.Width(), 2);
        bitmap.SetWidth(3);
    }
    EXPECT_EQ(bitmap.Width(), 3) << "freeing after a commit loads nothing again";
    EXPECT_EQ(bitmap.ScanLine(0)[1], 9);
    DeleteObject(web);

    // A writer unwound by an exception drops its picture.
    TBitmap kept;
    try {
        TDIBWriter writer(kept, pf8bit, 2, 2, nullptr);
        writer.RowPointer(0);
        throw EAbort("stop");
    } catch (const EAbort&) {
    }
    EXPECT_TRUE(kept.Empty());
}

TEST(DIBWriter, PicturesTooLargeForMemory) {
    TBitmap bitmap;
    TDIBWriter writer(bitmap, pf24bit, 40000, 40000, nullptr);
    EXPECT_EQ(ExceptionText([&] { writer.RowPointer(0); }), sDIBAllocationFailed);
    EXPECT_THROW(writer.AllocateSection(), EOutOfMemory);
    EXPECT_EQ(writer.SectionBits(), nullptr);
    EXPECT_EQ(writer.SectionHeader(), nullptr);
}

TEST(DIBReader, ConvertsTheCallersBitmap) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(3, 2);
    SetPixel(bitmap.Canvas().Handle(), 1, 0, RGB(255, 0, 0));
    SetPixel(bitmap.Canvas().Handle(), 2, 1, RGB(0, 0, 0));
    {
        TDIBReader reader(bitmap, pf1bit);
        EXPECT_EQ(bitmap.PixelFormat(), pf1bit) << "the reader changes the bitmap itself";
        EXPECT_EQ(reader.RowPointer(1), bitmap.ScanLine(1));
        EXPECT_EQ(reader.RowPointer(1)[0] & 0xE0, 0xC0) << "white, white, black";
    }
    TDIBReader rgb(bitmap, pf24bit);
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    const uint8_t* top = rgb.RowPointer(0);
    EXPECT_EQ(top[3], 0) << "red is nearer black than white";
    EXPECT_EQ(top[0], 255);
    EXPECT_THROW(rgb.RowPointer(2), EInvalidGraphicOperation);
}

TEST(DIBRoutines, SwapRedBlueAndPixelFormats) {
    PALETTEENTRY entries[2] = {{1, 2, 3, PC_RESERVED}, {200, 100, 50, 0}};
    SwapRedBlue(entries, 2);
    const auto* quads = reinterpret_cast<const RGBQUAD*>(entries);
    EXPECT_EQ(quads[0].rgbBlue, 3);
    EXPECT_EQ(quads[0].rgbGreen, 2);
    EXPECT_EQ(quads[0].rgbRed, 1);
    EXPECT_EQ(quads[0].rgbReserved, 0);
    EXPECT_EQ(quads[1].rgbBlue, 50);
    EXPECT_EQ(quads[1].rgbRed, 200);

    TBitmap bitmap;
    EXPECT_EQ(BitmapPixelFormat(bitmap), pfDevice);
    SetBitmapPixelFormat(bitmap, pf4bit);
    EXPECT_EQ(BitmapPixelFormat(bitmap), pf4bit);
}

}  // namespace
