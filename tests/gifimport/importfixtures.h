// Small sources for the import tests: BMP pictures with exact colour tables, 24-bit pictures
// from a colour function, metafiles and icons made with GDI.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/bitmap.h"
#include "classlib/icon.h"
#include "classlib/metafile.h"
#include "gifimage/colormap.h"
#include "gifimage/gifimage.h"
#include "gifimage/subimage.h"
#include "tests/gifquant/fixtures.h"
#include "tests/support/frames.h"
#include "tests/support/gifbuilder.h"

// A device-independent picture of bitCount 1, 4 or 8 bits with exactly the colours of table;
// rows holds each row's bytes as stored (top row first, without padding).
void LoadPalettized(TBitmap& bitmap, int bitCount, int width, const Rgbs& table, const std::vector<Bytes>& rows);
// A 24- or 32-bit picture whose pixel (x, y) is color(x, y).
void FillTrueColor(TBitmap& bitmap, TPixelFormat format, int width, int height,
                   const std::function<COLORREF(int, int)>& color);
// A one-row 24-bit picture of the listed colours.
void FillRow24(TBitmap& bitmap, const Rgbs& colors);

// A logical screen with a global table of these colours (a power of two of them).
GifBytes& ScreenWithColors(GifBytes& gif, int width, int height, const Rgbs& colors);

// The frame's local table as RGB() values.
Rgbs TableOf(const TGIFColorMap& map);
// The colour each pixel of the frame shows through its local table.
Rgbs ColorsOfFrame(const TGIFSubImage& frame);

// A colour icon of width x height: color(x, y) where mask(x, y) is false, transparent elsewhere.
HICON MakeIcon(int width, int height, const std::function<COLORREF(int, int)>& color,
               const std::function<bool(int, int)>& transparent);

// The bits of a monochrome bitmap, 1 or 0 per pixel, rows from the top (read with GetDIBits).
Bytes MonoBits(HBITMAP bitmap, int width, int height);
