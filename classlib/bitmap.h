// Bitmaps as pictures: a GDI bitmap, device-dependent or device-independent in one of the
// standard pixel formats, with its palette, a canvas on a memory device context, row access,
// BMP file streaming and a monochrome transparency mask.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/graphics.h"

enum TPixelFormat : uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
enum TBitmapHandleType : uint8_t { bmDIB, bmDDB };

inline constexpr const char* sScanLineOutOfRange = "Scan line index out of range";
inline constexpr const char* sInvalidBitmap = "Bitmap image is not valid";
inline constexpr const char* sInvalidPixelFormat = "Invalid pixel format";

// A new palette with the entries of palette (0 for 0); the caller owns it.
HPALETTE CopyPalette(HPALETTE palette);

class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    bool Empty() const override { return handle_ == nullptr; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // Resizing keeps the overlapping part of the picture; new areas are white.
    void SetWidth(int width) override { SetSize(width, height_); }
    void SetHeight(int height) override { SetSize(width_, height); }
    void SetSize(int width, int height);

    // pf1bit for a monochrome device bitmap, pfDevice for any other device bitmap.
    TPixelFormat PixelFormat() const { return format_; }
    // Converts the picture; colours a palette format cannot hold map to its nearest entry. An
    // empty bitmap only notes the format. pfCustom raises EInvalidGraphic.
    void SetPixelFormat(TPixelFormat format);
    TBitmapHandleType HandleType() const { return ddb_ ? bmDDB : bmDIB; }

    // The palette: the one set, else for a palette format one made from its colour table;
    // it stays the bitmap's.
    HPALETTE Palette() override;
    // Takes ownership of palette; a palette format takes its entries into the colour table.
    void SetPalette(HPALETTE palette) override;

    // The colour table of a palette format, with as many entries as it was made with
    // (empty for other formats and device bitmaps).
    void GetColorTable(std::vector<RGBQUAD>& table) const;

    HBITMAP Handle() const { return handle_; }
    // Takes ownership of bitmap (a device bitmap or a DIB section; nullptr empties).
    void SetHandle(HBITMAP bitmap);
    // Hands the bitmap to the caller; the picture becomes empty.
    HBITMAP ReleaseHandle();

    // A canvas on a memory device context holding the bitmap (and its palette).
    TCanvas& Canvas();
    // Row y from the top of a device-independent picture (a device bitmap is converted first).
    // Raises EInvalidGraphicOperation "Scan line index out of range".
    uint8_t* ScanLine(int y);

    // The colour drawn transparent; clDefault means the bottom-left pixel's colour.
    TColor TransparentColor();
    void SetTransparentColor(TColor color);
    // A monochrome bitmap of the picture's size: 1 where the transparent colour is, 0 elsewhere.
    // It stays the bitmap's and is remade after a change.
    HBITMAP MaskHandle();

    // A BMP file: file header, info header, colour table, pixels. Anything else raises
    // EInvalidGraphic "Bitmap image is not valid" and leaves the picture as it was.
    void LoadFromStream(TStream& stream) override;
    // Writes the picture as a BMP file (a device bitmap as 24 bits per pixel); nothing when empty.
    void SaveToStream(TStream& stream) override;
    // CF_BITMAP with an optional palette; both are copied.
    void LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) override;
    void SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette) override;

    // Stretched into rect; through the mask when Transparent() is set.
    void Draw(TCanvas& canvas, const RECT& rect) override;
    std::unique_ptr<TGraphic> CreateNew() const override { return std::make_unique<TBitmap>(); }
    // A copy of another bitmap (its format, pixels, palette and transparency); other sources
    // are asked to copy themselves into the bitmap.
    void Assign(const TPersistent& source) override;

    static TGraphicClass ClassKey();

private:
    HDC Context() const;
    void Replace(HBITMAP handle, TPixelFormat format, bool ddb, int width, int height);
    void ReleaseMask();
    void TakePalette(HPALETTE palette);
    void EnsureDIB();
    void DefaultTable(TPixelFormat format, std::vector<RGBQUAD>& table) const;
    void Convert(TPixelFormat format, int width, int height);

    HBITMAP handle_ = nullptr;
    TPixelFormat format_ = pfDevice;
    bool ddb_ = false;
    int width_ = 0;
    int height_ = 0;
    uint8_t* bits_ = nullptr;  // of a DIB section, bottom-up rows
    int rowBytes_ = 0;
    int tableSize_ = 0;  // colour-table entries of a palette section
    HPALETTE palette_ = nullptr;
    TColor transparentColor_ = clDefault;
    HBITMAP mask_ = nullptr;
    mutable HDC dc_ = nullptr;
    mutable HGDIOBJ dcFirstBitmap_ = nullptr;
    mutable HPALETTE dcFirstPalette_ = nullptr;
    mutable HPALETTE dcPalette_ = nullptr;
    std::unique_ptr<TCanvas> canvas_;
};
