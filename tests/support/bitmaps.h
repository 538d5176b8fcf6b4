// Reading back what a class-library bitmap holds, and streams made from bytes.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/bitmap.h"
#include "classlib/streams.h"

using Bytes = std::vector<uint8_t>;

// The colour indexes of an 8-bit bitmap, rows from the top.
Bytes IndexesOf(TBitmap& bitmap);
// The colour table of a device-independent bitmap.
std::vector<RGBQUAD> ColorTableOf(TBitmap& bitmap);
// The bits of a monochrome bitmap: 1 or 0 per pixel, rows from the top.
Bytes MaskBitsOf(HBITMAP mask, int width, int height);
// A memory stream holding bytes, positioned at 0.
std::unique_ptr<TMemoryStream> StreamOf(const Bytes& bytes);
