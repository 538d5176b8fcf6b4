#include "classlib/bitmap.h"

#include "classlib/guards.h"

#include <algorithm>
#include <cstring>

namespace {

int BitCount(TPixelFormat format) {
    switch (format) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
    default: return 0;
    }
}

int64_t RowBytesOf(int64_t width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }

// Bytes a picture of these dimensions may take; larger ones are refused as invalid.
constexpr int64_t kMaxImageBytes = 0x40000000;

TPixelFormat FormatOf(int bitCount, DWORD compression, const DWORD masks[3]) {
    const bool fields = compression == BI_BITFIELDS;
    auto masksAre = [&](DWORD r, DWORD g, DWORD b) { return masks[0] == r && masks[1] == g && masks[2] == b; };
    switch (bitCount) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 16:
        if (!fields || masksAre(0x7C00, 0x03E0, 0x001F)) return pf15bit;
        return masksAre(0xF800, 0x07E0, 0x001F) ? pf16bit : pfCustom;
    case 24: return pf24bit;
    case 32: return !fields || masksAre(0xFF0000, 0x00FF00, 0x0000FF) ? pf32bit : pfCustom;
    default: return pfCustom;
    }
}

// A BITMAPINFO with room for 256 colours (or three bit-field masks).
struct DibInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

HBITMAP CreateSection(const BITMAPINFOHEADER& header, const RGBQUAD* colors, int colorCount, uint8_t** bits) {
    auto info = std::make_unique<DibInfo>();
    info->header = header;
    info->header.biSize = sizeof(BITMAPINFOHEADER);
    if (colorCount > 0) std::memcpy(info->colors, colors, sizeof(RGBQUAD) * colorCount);
    void* memory = nullptr;
    HBITMAP handle = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info.get()), DIB_RGB_COLORS, &memory,
                                      nullptr, 0);
    if (!handle) throw EOutOfResources("Out of system resources");
    *bits = static_cast<uint8_t*>(memory);
    return handle;
}

// A bottom-up section of a standard format with the colour table given.
HBITMAP CreateStandardSection(TPixelFormat format, int width, int height, const std::vector<RGBQUAD>& table,
                              uint8_t** bits) {
    BITMAPINFOHEADER header{};
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(BitCount(format));
    header.biCompression = BI_RGB;
    if (format == pf16bit) {
        static const DWORD masks565[4] = {0xF800, 0x07E0, 0x001F, 0};
        header.biCompression = BI_BITFIELDS;
        return CreateSection(header, reinterpret_cast<const RGBQUAD*>(masks565), 3, bits);
    }
    header.biClrUsed = static_cast<DWORD>(table.size());
    return CreateSection(header, table.data(), static_cast<int>(table.size()), bits);
}

HBITMAP CreateDeviceBitmap(bool monochrome, int width, int height) {
    if (monochrome) return CreateBitmap(width, height, 1, 1, nullptr);
    HDC screen = GetDC(nullptr);
    HBITMAP handle = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    return handle;
}

std::vector<RGBQUAD> PaletteQuads(HPALETTE palette, int maxCount) {
    std::vector<RGBQUAD> quads;
    if (!palette) return quads;
    PALETTEENTRY entries[256];
    const int n = static_cast<int>(GetPaletteEntries(palette, 0, 256, entries));
    if (n <= 0 || n > maxCount) return quads;
    quads.resize(n);
    for (int i = 0; i < n; ++i) quads[i] = RGBQUAD{entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
    return quads;
}

HPALETTE PaletteFromQuads(const std::vector<RGBQUAD>& quads) {
    if (quads.empty()) return nullptr;
    std::vector<uint8_t> block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * quads.size());
    auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(quads.size());
    for (size_t i = 0; i < quads.size(); ++i)
        lp->palPalEntry[i] = PALETTEENTRY{quads[i].rgbRed, quads[i].rgbGreen, quads[i].rgbBlue, 0};
    return CreatePalette(lp);
}

// Reads exactly count bytes or raises the invalid-bitmap error.
void ReadOrFail(TStream& stream, void* buffer, int64_t count) {
    if (count > 0 && stream.Read(buffer, static_cast<int32_t>(count)) != count) throw EInvalidGraphic(sInvalidBitmap);
}

// Every pixel as 0x00RRGGBB-ordered blue, green, red, 0 bytes, rows from the top.
std::vector<uint32_t> Pixels32(HDC source, int width, int height) {
    BITMAPINFOHEADER header{};
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    uint8_t* bits = nullptr;
    HBITMAP section = CreateSection(header, nullptr, 0, &bits);
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    {
        MemoryDC dc;
        Selection selected(dc, section);
        BitBlt(dc, 0, 0, width, height, source, 0, 0, SRCCOPY);
        GdiFlush();
        std::memcpy(pixels.data(), bits, pixels.size() * 4);
    }
    DeleteObject(section);
    return pixels;
}

TColor ColorOfPixel(uint32_t pixel) {
    return static_cast<TColor>(((pixel >> 16) & 0xFF) | (pixel & 0xFF00) | ((pixel & 0xFF) << 16));
}

}  // namespace

HPALETTE CopyPalette(HPALETTE palette) {
    if (!palette) return nullptr;
    return PaletteFromQuads(PaletteQuads(palette, 256));
}

TGraphicClass TBitmap::ClassKey() {
    static const char key = 0;
    return &key;
}

TBitmap::TBitmap() : ddb_(true) {}

TBitmap::~TBitmap() {
    ReleaseMask();
    if (dc_) {
        SelectObject(dc_, dcFirstBitmap_);
        SelectPalette(dc_, dcFirstPalette_, FALSE);
        DeleteDC(dc_);
    }
    if (handle_) DeleteObject(handle_);
    if (palette_) DeleteObject(palette_);
}

HDC TBitmap::Context() const {
    if (!dc_) {
        dc_ = CreateCompatibleDC(nullptr);
        if (!dc_) throw EOutOfResources("Out of system resources");
        dcFirstBitmap_ = GetCurrentObject(dc_, OBJ_BITMAP);
        dcFirstPalette_ = static_cast<HPALETTE>(GetCurrentObject(dc_, OBJ_PAL));
        dcPalette_ = nullptr;
    }
    if (handle_ && GetCurrentObject(dc_, OBJ_BITMAP) != handle_) SelectObject(dc_, handle_);
    if (dcPalette_ != palette_) {
        SelectPalette(dc_, palette_ ? palette_ : dcFirstPalette_, FALSE);
        if (palette_) RealizePalette(dc_);
        dcPalette_ = palette_;
    }
    return dc_;
}

TCanvas& TBitmap::Canvas() {
    if (!canvas_) {
        canvas_ = std::make_unique<TCanvas>();
        canvas_->OnChange = [this](TObject*) { Changed(); };
    }
    canvas_->SetHandle(Context());
    return *canvas_;
}

// The bitmap owns palette from now on; the one it had is deselected from its context and deleted.
void TBitmap::TakePalette(HPALETTE palette) {
    if (dc_) SelectPalette(dc_, dcFirstPalette_, FALSE);
    dcPalette_ = nullptr;
    if (palette_ && palette_ != palette) DeleteObject(palette_);
    palette_ = palette;
}

void TBitmap::ReleaseMask() {
    if (mask_) DeleteObject(mask_);
    mask_ = nullptr;
}

// Takes handle as the picture, deleting the previous one.
void TBitmap::Replace(HBITMAP handle, TPixelFormat format, bool ddb, int width, int height) {
    ReleaseMask();
    if (dc_) SelectObject(dc_, handle ? static_cast<HGDIOBJ>(handle) : dcFirstBitmap_);
    if (handle_ && handle_ != handle) DeleteObject(handle_);
    handle_ = handle;
    format_ = format;
    ddb_ = ddb;
    width_ = width;
    height_ = height;
    bits_ = nullptr;
    rowBytes_ = 0;
    tableSize_ = 0;
    if (handle && !ddb) {
        DIBSECTION ds{};
        GetObjectA(handle, sizeof ds, &ds);
        bits_ = static_cast<uint8_t*>(ds.dsBm.bmBits);
        rowBytes_ = ds.dsBm.bmWidthBytes;
        const int most = BitCount(format) <= 8 ? 1 << BitCount(format) : 0;
        tableSize_ = ds.dsBmih.biClrUsed > 0 && int(ds.dsBmih.biClrUsed) < most ? int(ds.dsBmih.biClrUsed) : most;
        // Rows run from the top in a top-down section.
        if (ds.dsBmih.biHeight < 0) rowBytes_ = -rowBytes_;
    }
}

void TBitmap::GetColorTable(std::vector<RGBQUAD>& table) const {
    table.clear();
    if (!handle_ || ddb_ || BitCount(format_) > 8) return;
    RGBQUAD quads[256];
    // The system may report a full table for a section made with fewer entries.
    const UINT n = std::min<UINT>(GetDIBColorTable(Context(), 0, 256, quads), UINT(tableSize_));
    table.assign(quads, quads + n);
}

void TBitmap::DefaultTable(TPixelFormat format, std::vector<RGBQUAD>& table) const {
    table.clear();
    if (format == pf1bit) {
        table = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    } else if (format == pf4bit) {
        static const COLORREF vga[16] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                                         0x808000, 0xC0C0C0, 0x808080, 0x0000FF, 0x00FF00, 0x00FFFF,
                                         0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
        for (COLORREF c : vga) table.push_back(RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0});
    } else if (format == pf8bit) {
        HDC screen = GetDC(nullptr);
        HPALETTE halftone = CreateHalftonePalette(screen);
        ReleaseDC(nullptr, screen);
        table = PaletteQuads(halftone, 256);
        if (halftone) DeleteObject(halftone);
    }
}

// Makes a new picture of format and size holding the old one at the top left; the rest is white.
void TBitmap::Convert(TPixelFormat format, int width, int height) {
    const bool toDevice = format == pfDevice || (ddb_ && format == pf1bit && format_ == pf1bit);
    std::vector<RGBQUAD> table;
    bool tableFromPalette = false;
    const int bitCount = BitCount(format);
    if (!toDevice && bitCount <= 8) {
        table = PaletteQuads(palette_, 1 << bitCount);
        tableFromPalette = !table.empty();
        if (!tableFromPalette) {
            GetColorTable(table);
            if (table.empty() || table.size() > (1u << bitCount)) DefaultTable(format, table);
        }
    }
    uint8_t* bits = nullptr;
    HBITMAP handle = toDevice ? CreateDeviceBitmap(format == pf1bit, width, height)
                              : CreateStandardSection(format, width, height, table, &bits);
    if (!handle) throw EOutOfResources("Out of system resources");
    try {
        MemoryDC dc;
        Selection selected(dc, handle);
        RECT all{0, 0, width, height};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        if (handle_) BitBlt(dc, 0, 0, std::min(width, width_), std::min(height, height_), Context(), 0, 0, SRCCOPY);
        GdiFlush();
    } catch (...) {
        DeleteObject(handle);
        throw;
    }
    if (!toDevice && bitCount <= 8 && !tableFromPalette && palette_) TakePalette(nullptr);
    Replace(handle, format, toDevice, width, height);
    if (!toDevice && bitCount <= 8) tableSize_ = static_cast<int>(table.size());
}

// A device bitmap becomes a section of the same depth (a monochrome one exactly, through GetDIBits).
void TBitmap::EnsureDIB() {
    if (!ddb_ || !handle_) return;
    if (format_ != pf1bit) {
        HDC screen = GetDC(nullptr);
        const int depth = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
        ReleaseDC(nullptr, screen);
        const TPixelFormat format = depth == 32   ? pf32bit
                                    : depth == 16 ? pf16bit
                                    : depth == 15 ? pf15bit
                                    : depth == 8  ? pf8bit
                                                  : pf24bit;
        Convert(format, width_, height_);
        return;
    }
    std::vector<RGBQUAD> table{RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    uint8_t* bits = nullptr;
    HBITMAP section = CreateStandardSection(pf1bit, width_, height_, table, &bits);
    DibInfo info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width_;
    info.header.biHeight = height_;
    info.header.biPlanes = 1;
    info.header.biBitCount = 1;
    if (dc_) SelectObject(dc_, dcFirstBitmap_);
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, handle_, 0, height_, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    Replace(section, pf1bit, false, width_, height_);
}

void TBitmap::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_) return;
    if (width == 0 || height == 0) {
        // An empty picture still keeps the size it was given.
        Replace(nullptr, format_, ddb_, width, height);
    } else {
        if (RowBytesOf(width, 32) * height > kMaxImageBytes) throw EOutOfResources("Out of system resources");
        Convert(ddb_ && format_ != pf1bit ? pfDevice : format_, width, height);
    }
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == pfCustom) throw EInvalidGraphic(sInvalidPixelFormat);
    if (format == format_) return;
    if (Empty()) {
        format_ = format;
        ddb_ = format == pfDevice;
    } else {
        if (ddb_ && format_ == pf1bit) EnsureDIB();
        if (format != format_) Convert(format, width_, height_);
    }
    Changed();
}

HPALETTE TBitmap::Palette() {
    if (palette_ || !handle_ || ddb_ || BitCount(format_) > 8) return palette_;
    std::vector<RGBQUAD> table;
    GetColorTable(table);
    palette_ = PaletteFromQuads(table);
    return palette_;
}

void TBitmap::SetPalette(HPALETTE palette) {
    if (palette == palette_) return;
    TakePalette(palette);
    if (palette && handle_ && !ddb_ && BitCount(format_) <= 8) {
        const std::vector<RGBQUAD> quads = PaletteQuads(palette, 256);
        const UINT n = static_cast<UINT>(std::min<size_t>(quads.size(), size_t(1) << BitCount(format_)));
        if (n > 0) SetDIBColorTable(Context(), 0, n, quads.data());
        tableSize_ = std::max(tableSize_, static_cast<int>(n));
    }
    ReleaseMask();
    Changed();
}

void TBitmap::SetHandle(HBITMAP bitmap) {
    if (bitmap == handle_) return;
    TakePalette(nullptr);
    if (!bitmap) {
        Replace(nullptr, format_, ddb_, 0, 0);
    } else {
        DIBSECTION ds{};
        if (GetObjectA(bitmap, sizeof ds, &ds) == sizeof ds) {
            Replace(bitmap, FormatOf(ds.dsBmih.biBitCount, ds.dsBmih.biCompression, ds.dsBitfields), false,
                    ds.dsBm.bmWidth, ds.dsBm.bmHeight);
        } else {
            BITMAP bm{};
            if (!GetObjectA(bitmap, sizeof bm, &bm)) throw EInvalidGraphic(sInvalidBitmap);
            Replace(bitmap, bm.bmBitsPixel == 1 ? pf1bit : pfDevice, true, bm.bmWidth, bm.bmHeight);
        }
    }
    Changed();
}

HBITMAP TBitmap::ReleaseHandle() {
    HBITMAP handle = handle_;
    if (dc_) SelectObject(dc_, dcFirstBitmap_);
    handle_ = nullptr;
    Replace(nullptr, format_, ddb_, 0, 0);
    return handle;
}

uint8_t* TBitmap::ScanLine(int y) {
    EnsureDIB();
    if (!bits_ || y < 0 || y >= height_) throw EInvalidGraphicOperation(sScanLineOutOfRange);
    GdiFlush();
    ReleaseMask();
    // rowBytes_ is negative for a top-down section.
    const int row = rowBytes_ > 0 ? height_ - 1 - y : y;
    return bits_ + static_cast<ptrdiff_t>(row) * std::abs(rowBytes_);
}

TColor TBitmap::TransparentColor() {
    if (transparentColor_ != clDefault || Empty()) return transparentColor_;
    return static_cast<TColor>(GetPixel(Context(), 0, height_ - 1) & 0xFFFFFF);
}

void TBitmap::SetTransparentColor(TColor color) {
    if (color == transparentColor_) return;
    transparentColor_ = color;
    ReleaseMask();
    Changed();
}

HBITMAP TBitmap::MaskHandle() {
    if (mask_ || Empty()) return mask_;
    const TColor transparent = ColorToRGB(TransparentColor());
    const std::vector<uint32_t> pixels = Pixels32(Context(), width_, height_);
    const size_t rowBytes = ((static_cast<size_t>(width_) + 15) >> 4) * 2;
    std::vector<uint8_t> rows(rowBytes * height_);
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            if (ColorOfPixel(pixels[static_cast<size_t>(y) * width_ + x]) == transparent)
                rows[y * rowBytes + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
    mask_ = CreateBitmap(width_, height_, 1, 1, rows.data());
    if (!mask_) throw EOutOfResources("Out of system resources");
    return mask_;
}

void TBitmap::Draw(TCanvas& canvas, const RECT& rect) {
    if (Empty()) return;
    HDC target = canvas.Handle();
    HDC source = Context();
    const int dx = rect.left, dy = rect.top, dw = rect.right - rect.left, dh = rect.bottom - rect.top;
    HPALETTE palette = Palette();
    HPALETTE oldPalette = nullptr;
    if (palette) {
        oldPalette = SelectPalette(target, palette, TRUE);
        RealizePalette(target);
    }
    const int oldMode = SetStretchBltMode(target, STRETCH_DELETESCANS);
    if (Transparent()) {
        // target ^= picture; target &= mask (white where transparent); target ^= picture.
        HBITMAP mask = MaskHandle();
        MemoryDC maskDC;
        Selection selected(maskDC, mask);
        const COLORREF oldText = SetTextColor(target, RGB(0, 0, 0));
        const COLORREF oldBack = SetBkColor(target, RGB(255, 255, 255));
        StretchBlt(target, dx, dy, dw, dh, source, 0, 0, width_, height_, SRCINVERT);
        StretchBlt(target, dx, dy, dw, dh, maskDC, 0, 0, width_, height_, SRCAND);
        StretchBlt(target, dx, dy, dw, dh, source, 0, 0, width_, height_, SRCINVERT);
        SetTextColor(target, oldText);
        SetBkColor(target, oldBack);
    } else {
        StretchBlt(target, dx, dy, dw, dh, source, 0, 0, width_, height_, SRCCOPY);
    }
    SetStretchBltMode(target, oldMode);
    if (palette) SelectPalette(target, oldPalette, TRUE);
}

void TBitmap::Assign(const TPersistent& source) {
    const auto* other = dynamic_cast<const TBitmap*>(&source);
    if (!other) {
        TGraphic::Assign(source);
        return;
    }
    if (other == this) return;
    HBITMAP handle = nullptr;
    if (other->handle_) {
        if (other->ddb_) {
            handle = CreateDeviceBitmap(other->format_ == pf1bit, other->width_, other->height_);
            if (!handle) throw EOutOfResources("Out of system resources");
            MemoryDC dc;
            Selection selected(dc, handle);
            BitBlt(dc, 0, 0, other->width_, other->height_, other->Context(), 0, 0, SRCCOPY);
        } else {
            DIBSECTION ds{};
            GetObjectA(other->handle_, sizeof ds, &ds);
            std::vector<RGBQUAD> table;
            other->GetColorTable(table);
            const bool fields = ds.dsBmih.biCompression == BI_BITFIELDS;
            BITMAPINFOHEADER header = ds.dsBmih;
            header.biClrUsed = static_cast<DWORD>(table.size());
            uint8_t* bits = nullptr;
            handle = fields ? CreateSection(header, reinterpret_cast<const RGBQUAD*>(ds.dsBitfields), 3, &bits)
                            : CreateSection(header, table.data(), static_cast<int>(table.size()), &bits);
            GdiFlush();
            std::memcpy(bits, other->bits_, static_cast<size_t>(std::abs(other->rowBytes_)) * other->height_);
        }
    }
    TakePalette(CopyPalette(other->palette_));
    Replace(handle, other->format_, other->ddb_, other->width_, other->height_);
    if (handle && !other->ddb_) tableSize_ = other->tableSize_;
    transparent_ = other->transparent_;
    transparentColor_ = other->transparentColor_;
    Changed();
}

// --- BMP files ---------------------------------------------------------------

namespace {

// What a BMP file's headers say: the bitmap's header in its long form, the masks of a bit-field
// picture, and the size of one colour-table entry (3 bytes in the old OS/2 form, else 4).
struct BmpLayout {
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER header{};
    DWORD masks[3] = {0, 0, 0};
    int entryBytes = 4;
    int64_t width = 0;
    int64_t height = 0;  // rows, whatever the direction
    int64_t rowBytes = 0;
};

constexpr WORD kBmpSignature = 0x4D42;  // "BM"

// Reads the file header and either kind of bitmap header, with the masks that follow a short one.
BmpLayout ReadBmpHeaders(TStream& stream) {
    BmpLayout bmp;
    ReadOrFail(stream, &bmp.file, sizeof bmp.file);
    if (bmp.file.bfType != kBmpSignature) throw EInvalidGraphic(sInvalidBitmap);
    DWORD infoSize = 0;
    ReadOrFail(stream, &infoSize, 4);
    BITMAPINFOHEADER& header = bmp.header;
    if (infoSize == sizeof(BITMAPCOREHEADER)) {
        BITMAPCOREHEADER core{};
        ReadOrFail(stream, reinterpret_cast<uint8_t*>(&core) + 4, sizeof core - 4);
        header.biWidth = core.bcWidth;
        header.biHeight = core.bcHeight;
        header.biPlanes = core.bcPlanes;
        header.biBitCount = core.bcBitCount;
        header.biCompression = BI_RGB;
        bmp.entryBytes = 3;
    } else if (infoSize >= sizeof(BITMAPINFOHEADER) && infoSize <= sizeof(BITMAPV5HEADER)) {
        BITMAPV5HEADER v5{};
        ReadOrFail(stream, reinterpret_cast<uint8_t*>(&v5) + 4, infoSize - 4);
        std::memcpy(&header, &v5, sizeof header);
        if (header.biCompression == BI_BITFIELDS) {
            // Headers from version 2 on (52 bytes and more) hold the masks; a plain one is followed by them.
            if (infoSize >= 52) {
                bmp.masks[0] = v5.bV5RedMask;
                bmp.masks[1] = v5.bV5GreenMask;
                bmp.masks[2] = v5.bV5BlueMask;
            } else {
                ReadOrFail(stream, bmp.masks, sizeof bmp.masks);
            }
        }
    } else {
        throw EInvalidGraphic(sInvalidBitmap);
    }
    return bmp;
}

// Refuses what this reader cannot make a section of: compressed pixels, odd depths, empty or
// huge pictures; works out the row size.
void CheckBmpLayout(BmpLayout& bmp) {
    const BITMAPINFOHEADER& header = bmp.header;
    const int bitCount = header.biBitCount;
    const bool knownDepth = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 ||
                            bitCount == 32;
    const bool knownCoding = header.biCompression == BI_RGB ||
                             (header.biCompression == BI_BITFIELDS && (bitCount == 16 || bitCount == 32));
    bmp.width = header.biWidth;
    bmp.height = header.biHeight < 0 ? -int64_t(header.biHeight) : int64_t(header.biHeight);
    if (header.biPlanes != 1 || !knownDepth || !knownCoding || bmp.width <= 0 || bmp.height <= 0 ||
        bmp.width > 0x7FFFFFF || bmp.height > 0x7FFFFFF)
        throw EInvalidGraphic(sInvalidBitmap);
    bmp.rowBytes = RowBytesOf(bmp.width, bitCount);
    if (bmp.rowBytes * bmp.height > kMaxImageBytes) throw EInvalidGraphic(sInvalidBitmap);
}

// The colour table of a palette picture: as many entries as it says it uses, at most 2^depth.
std::vector<RGBQUAD> ReadBmpColorTable(TStream& stream, const BmpLayout& bmp) {
    std::vector<RGBQUAD> table;
    const int bitCount = bmp.header.biBitCount;
    if (bitCount > 8) return table;
    const int64_t most = int64_t(1) << bitCount;
    const int64_t count = bmp.header.biClrUsed == 0 ? most : std::min<int64_t>(bmp.header.biClrUsed, most);
    std::vector<uint8_t> raw(static_cast<size_t>(count * bmp.entryBytes));
    ReadOrFail(stream, raw.data(), static_cast<int64_t>(raw.size()));
    table.resize(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* e = &raw[static_cast<size_t>(i * bmp.entryBytes)];
        table[static_cast<size_t>(i)] = RGBQUAD{e[0], e[1], e[2], 0};
    }
    return table;
}

// Makes a bottom-up section and reads the pixels into it, turning top-down files over row by row.
// The pixels start where the file header says (start is the file's first byte), or right here.
HBITMAP ReadBmpPixels(TStream& stream, int64_t start, const BmpLayout& bmp, const std::vector<RGBQUAD>& table) {
    if (bmp.file.bfOffBits != 0) {
        if (start + bmp.file.bfOffBits < stream.Position()) throw EInvalidGraphic(sInvalidBitmap);
        stream.SetPosition(start + bmp.file.bfOffBits);
    }
    if (stream.Size() - stream.Position() < bmp.rowBytes * bmp.height) throw EInvalidGraphic(sInvalidBitmap);

    BITMAPINFOHEADER made = bmp.header;
    made.biHeight = static_cast<LONG>(bmp.height);
    made.biSizeImage = 0;
    made.biClrUsed = static_cast<DWORD>(table.size());
    uint8_t* bits = nullptr;
    HBITMAP handle = made.biCompression == BI_BITFIELDS
                         ? CreateSection(made, reinterpret_cast<const RGBQUAD*>(bmp.masks), 3, &bits)
                         : CreateSection(made, table.data(), static_cast<int>(table.size()), &bits);
    try {
        if (bmp.header.biHeight > 0) {
            ReadOrFail(stream, bits, bmp.rowBytes * bmp.height);
        } else {
            for (int64_t y = 0; y < bmp.height; ++y)
                ReadOrFail(stream, bits + (bmp.height - 1 - y) * bmp.rowBytes, bmp.rowBytes);
        }
    } catch (...) {
        DeleteObject(handle);
        throw;
    }
    return handle;
}

}  // namespace

void TBitmap::LoadFromStream(TStream& stream) {
    const int64_t start = stream.Position();
    BmpLayout bmp = ReadBmpHeaders(stream);
    CheckBmpLayout(bmp);
    const std::vector<RGBQUAD> table = ReadBmpColorTable(stream, bmp);
    HBITMAP handle = ReadBmpPixels(stream, start, bmp, table);
    const int bitCount = bmp.header.biBitCount;
    TakePalette(nullptr);
    Replace(handle, FormatOf(bitCount, bmp.header.biCompression, bmp.masks), false, static_cast<int>(bmp.width),
            static_cast<int>(bmp.height));
    if (bitCount <= 8) tableSize_ = static_cast<int>(table.size());
    Changed();
}

void TBitmap::SaveToStream(TStream& stream) {
    if (Empty()) return;
    if (ddb_) {
        TBitmap copy;
        copy.Assign(*this);
        copy.SetPixelFormat(format_ == pf1bit ? pf1bit : pf24bit);
        copy.SaveToStream(stream);
        return;
    }
    DIBSECTION ds{};
    GetObjectA(handle_, sizeof ds, &ds);
    std::vector<RGBQUAD> table;
    GetColorTable(table);
    // Standard 15- and 32-bit layouts are written without masks.
    const bool fields = ds.dsBmih.biCompression == BI_BITFIELDS && (format_ == pf16bit || format_ == pfCustom);
    BITMAPINFOHEADER header = ds.dsBmih;
    header.biSize = sizeof header;
    if (!fields) header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(std::abs(rowBytes_)) * height_;
    header.biClrUsed = static_cast<DWORD>(table.size());
    header.biClrImportant = 0;
    const DWORD headerBytes = sizeof header + (fields ? 12 : 0) + static_cast<DWORD>(table.size() * 4);
    BITMAPFILEHEADER file{};
    file.bfType = kBmpSignature;
    file.bfOffBits = sizeof file + headerBytes;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    stream.WriteBuffer(&file, sizeof file);
    stream.WriteBuffer(&header, sizeof header);
    if (fields) stream.WriteBuffer(ds.dsBitfields, 12);
    if (!table.empty()) stream.WriteBuffer(table.data(), static_cast<int32_t>(table.size() * 4));
    GdiFlush();
    stream.WriteBuffer(bits_, static_cast<int32_t>(header.biSizeImage));
}

void TBitmap::LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) {
    if (format != CF_BITMAP || !data) throw EInvalidGraphic("Unsupported clipboard format");
    HBITMAP copy = static_cast<HBITMAP>(CopyImage(data, IMAGE_BITMAP, 0, 0, 0));
    if (!copy) throw EInvalidGraphic(sInvalidBitmap);
    SetHandle(copy);
    if (palette) SetPalette(CopyPalette(palette));
}

void TBitmap::SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette) {
    format = CF_BITMAP;
    data = handle_ ? CopyImage(handle_, IMAGE_BITMAP, 0, 0, 0) : nullptr;
    palette = CopyPalette(Palette());
}
