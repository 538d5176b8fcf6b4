// What the library needs of GDI beyond the class library: the check of a GDI result, the row
// size of a bitmap, the 216-colour web palette, and the change of a cached palette handle.
#pragma once
#include <windows.h>

class TBitmap;

[[noreturn]] void RaiseGdiFailure();
// Passes a non-zero GDI result through; zero raises EOutOfResources with the system's text.
template <typename T>
T CheckGdiResult(T value) {
    if (!value) RaiseGdiFailure();
    return value;
}

// Bytes of a row of width pixels, padded to a multiple of alignment bits.
int AlignedRowBytes(int width, int bitsPerPixel, int alignment);
// The 216 colours (51r, 51g, 51b), red slowest; the caller owns the handle.
HPALETTE CreateWebSafePalette();

// Makes handle the palette that cached holds, deleting the one it held (nothing changes when it
// is the same). True when bitmap, the cached bitmap made beside it (may be none), has another
// palette: its owner then drops that bitmap and reports the change.
bool ReplacePaletteHandle(HPALETTE& cached, HPALETTE handle, TBitmap* bitmap);
