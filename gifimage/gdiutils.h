// What the library needs of GDI beyond the class library: the check of a GDI result, the row
// size of a bitmap, and the 216-colour web palette.
#pragma once
#include <windows.h>

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
