#include "gifimage/gdiutils.h"

#include <string>

#include "classlib/bitmap.h"
#include "classlib/sysutils.h"
#include "gifimage/messages.h"

int AlignedRowBytes(int width, int bitsPerPixel, int alignment) {
    return ((width * bitsPerPixel + alignment - 1) & ~(alignment - 1)) / 8;
}

HPALETTE CreateWebSafePalette() {
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[216];
    } palette;
    palette.version = 0x300;
    palette.count = 216;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) {
                PALETTEENTRY& e = palette.entries[r * 36 + g * 6 + b];
                e.peRed = static_cast<BYTE>(51 * r);
                e.peGreen = static_cast<BYTE>(51 * g);
                e.peBlue = static_cast<BYTE>(51 * b);
                e.peFlags = 0;
            }
    return CreatePalette(reinterpret_cast<LOGPALETTE*>(&palette));
}

bool ReplacePaletteHandle(HPALETTE& cached, HPALETTE handle, TBitmap* bitmap) {
    if (handle == cached) return false;
    if (cached) DeleteObject(cached);
    const bool affectsBitmap = bitmap && bitmap->Palette() != handle;
    cached = handle;
    return affectsBitmap;
}

void RaiseGdiFailure() {
    const DWORD code = GetLastError();
    if (code != 0) {
        char text[256];
        const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                            MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
        if (length > 0) throw EOutOfResources(std::string(text, length));
    }
    throw EOutOfResources(sOutOfResources);
}
