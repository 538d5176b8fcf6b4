// Row-by-row access to bitmaps: the reader converts a bitmap to a pixel format and hands out
// its rows; the writer builds an 8-bit or 24-bit bottom-up picture in movable global memory
// and loads it into its bitmap when it is destroyed.
#pragma once
#include <windows.h>

#include <cstdint>

#include "classlib/bitmap.h"

// Pictures with more pixels are switched to 1 bit per pixel before they are built.
inline constexpr int LargeBitmapPixels = 500000;

TPixelFormat BitmapPixelFormat(const TBitmap& bitmap);
void SetBitmapPixelFormat(TBitmap& bitmap, TPixelFormat format);
// Rewrites count palette entries (red, green, blue, flags) in place as colour-table entries
// (blue, green, red, 0).
void SwapRedBlue(void* entries, int count);

// The bitmap worked on (not owned) and the pixel format of its rows.
class TDIB {
public:
    TDIB(TBitmap& bitmap, TPixelFormat pixelFormat) : bitmap_(bitmap), pixelFormat_(pixelFormat) {}
    virtual ~TDIB() noexcept(false) = default;
    TDIB(const TDIB&) = delete;
    TDIB& operator=(const TDIB&) = delete;

    // Row y counted from the top.
    virtual uint8_t* RowPointer(int y) = 0;

    TBitmap& Bitmap() const { return bitmap_; }
    TPixelFormat PixelFormat() const { return pixelFormat_; }

private:
    TBitmap& bitmap_;
    TPixelFormat pixelFormat_;
};

// Converts the bitmap itself to the pixel format, then answers its own scan lines.
class TDIBReader : public TDIB {
public:
    TDIBReader(TBitmap& bitmap, TPixelFormat pixelFormat);
    uint8_t* RowPointer(int y) override;
};

// Builds a picture of pf8bit (colour table from the palette, not owned; may be 0) or pf24bit
// in its own memory, made on the first row request. Destroying the writer loads the picture
// into the bitmap (not while an exception unwinds it); a writer never asked for a row leaves
// the bitmap alone. As the load can raise, keep writers on the stack, not in smart pointers.
class TDIBWriter : public TDIB {
public:
    // Raises GIFException "Unsupported PixelFormat" or "Invalid image dimensions".
    TDIBWriter(TBitmap& bitmap, TPixelFormat pixelFormat, int width, int height, HPALETTE palette);
    ~TDIBWriter() noexcept(false) override;

    // Raises EInvalidGraphicOperation "Scan line index out of range" outside 0 to height - 1.
    uint8_t* RowPointer(int y) override;
    void EnsureSection();
    // Raises EOutOfMemory "Failed to allocate memory for GIF DIB" when the pixels cannot be had.
    void AllocateSection();
    void ReleaseSection();
    // Loads the picture into the bitmap (when there is one) and releases it.
    void CommitToBitmap();

    // The section as the bitmap will receive it (for inspection): nullptr until it exists.
    const BITMAPINFOHEADER* SectionHeader() const { return reinterpret_cast<const BITMAPINFOHEADER*>(header_); }
    const uint8_t* SectionBits() const { return bits_; }
    int HeaderSize() const { return headerSize_; }
    int BitsSize() const { return bitsSize_; }

private:
    uint8_t* header_ = nullptr;
    uint8_t* bits_ = nullptr;
    int headerSize_ = 0;
    int bitsSize_ = 0;
    HPALETTE palette_;
    int32_t height_;
    int32_t width_;
    HGLOBAL memory_ = nullptr;
    int uncaught_;
};
