// Pictures made for tests and read back: what a class-library bitmap holds, metafiles painted
// to order, and streams made from bytes.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "classlib/bitmap.h"
#include "classlib/streams.h"

using Bytes = std::vector<uint8_t>;
using Rgbs = std::vector<COLORREF>;  // RGB() values: red in the low byte

// The colour indexes of an 8-bit bitmap, rows from the top.
Bytes IndexesOf(TBitmap& bitmap);
// The colour table of a device-independent bitmap.
std::vector<RGBQUAD> ColorTableOf(TBitmap& bitmap);
// The bits of a monochrome bitmap: 1 or 0 per pixel, rows from the top.
Bytes MaskBitsOf(HBITMAP mask, int width, int height);
// A memory stream holding bytes, positioned at 0.
std::unique_ptr<TMemoryStream> StreamOf(const Bytes& bytes);
// A metafile of width x height pixels of the screen painted by paint; the caller owns it.
HENHMETAFILE MakeMetafile(int width, int height, const std::function<void(HDC)>& paint);
// A metafile of width x height pixels that fills only the rectangle painted with color.
HENHMETAFILE MetafileFilling(int width, int height, const RECT& painted, COLORREF color);
void FillArea(HDC dc, const RECT& rect, COLORREF color);
