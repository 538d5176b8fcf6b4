// The GDI helpers: result checks, row sizes, the web palette.
#include <gtest/gtest.h>

#include "classlib/sysutils.h"
#include "gifimage/gdiutils.h"
#include "gifimage/messages.h"

namespace {

TEST(GifRoutines, AlignedRowBytes) {
    struct Case {
        int width, bits, alignment, bytes;
    };
    for (Case c : {Case{3, 8, 32, 4}, Case{3, 1, 32, 4}, Case{3, 24, 32, 12}, Case{17, 1, 16, 4}, Case{8, 8, 8, 8}})
        EXPECT_EQ(AlignedRowBytes(c.width, c.bits, c.alignment), c.bytes) << c.width << "x" << c.bits;
}

TEST(GifRoutines, WebSafePalette) {
    HPALETTE palette = CreateWebSafePalette();
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY entries[256];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 256, entries), 216u);
    EXPECT_EQ(entries[0].peRed | entries[0].peGreen | entries[0].peBlue, 0);
    EXPECT_EQ(entries[215].peRed & entries[215].peGreen & entries[215].peBlue, 255);
    EXPECT_EQ(entries[1 * 36 + 2 * 6 + 3].peRed, 51);
    EXPECT_EQ(entries[1 * 36 + 2 * 6 + 3].peGreen, 102);
    EXPECT_EQ(entries[1 * 36 + 2 * 6 + 3].peBlue, 153);
    DeleteObject(palette);
}

TEST(GifRoutines, CheckGdiResult) {
    EXPECT_EQ(CheckGdiResult(5), 5);
    SetLastError(0);
    try {
        CheckGdiResult(0);
        FAIL();
    } catch (const EOutOfResources& e) {
        EXPECT_STREQ(e.what(), sOutOfResources);
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    try {
        CheckGdiResult(static_cast<HGDIOBJ>(nullptr));
        FAIL();
    } catch (const EOutOfResources& e) {
        EXPECT_STRNE(e.what(), sOutOfResources) << "the system's text for the error";
    }
}

}  // namespace
