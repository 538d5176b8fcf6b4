#include "gifimage/dib.h"

#include <cstdlib>
#include <cstring>
#include <exception>

#include "classlib/streams.h"
#include "gifimage/gdiutils.h"
#include "gifimage/giferror.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"

TPixelFormat BitmapPixelFormat(const TBitmap& bitmap) { return bitmap.PixelFormat(); }

void SetBitmapPixelFormat(TBitmap& bitmap, TPixelFormat format) { bitmap.SetPixelFormat(format); }

void SwapRedBlue(void* entries, int count) {
    auto* bytes = static_cast<uint8_t*>(entries);
    for (int i = 0; i < count; ++i, bytes += 4) {
        const uint8_t red = bytes[0];
        bytes[0] = bytes[2];
        bytes[2] = red;
        bytes[3] = 0;
    }
}

// --- TDIBReader ----------------------------------------------------------------

TDIBReader::TDIBReader(TBitmap& bitmap, TPixelFormat pixelFormat) : TDIB(bitmap, pixelFormat) {
    SetBitmapPixelFormat(bitmap, pixelFormat);
}

uint8_t* TDIBReader::RowPointer(int y) { return Bitmap().ScanLine(y); }

// --- TDIBWriter ----------------------------------------------------------------

TDIBWriter::TDIBWriter(TBitmap& bitmap, TPixelFormat pixelFormat, int width, int height, HPALETTE palette)
    : TDIB(bitmap, pixelFormat)
    , palette_(palette)
    , height_(height)
    , width_(width)
    , uncaught_(std::uncaught_exceptions()) {
    if (pixelFormat != pf8bit && pixelFormat != pf24bit) RaiseGIFError(sUnsupportedPixelFormat);
    if (width == 0 || height == 0) RaiseGIFError(sInvalidImageDimensions);
}

TDIBWriter::~TDIBWriter() noexcept(false) {
    // While an exception unwinds the writer its picture is dropped: the caller is failing anyway.
    if (std::uncaught_exceptions() > uncaught_) {
        ReleaseSection();
        return;
    }
    try {
        CommitToBitmap();
    } catch (...) {
        ReleaseSection();
        throw;
    }
    ReleaseSection();
}

void TDIBWriter::EnsureSection() {
    if (!bits_) AllocateSection();
}

uint8_t* TDIBWriter::RowPointer(int y) {
    EnsureSection();
    if (y < 0 || y >= height_) throw EInvalidGraphicOperation(sScanLineOutOfRange);
    GdiFlush();
    const auto* header = SectionHeader();
    const int row = header->biHeight > 0 ? header->biHeight - y - 1 : y;
    return bits_ + static_cast<size_t>(row) * AlignedRowBytes(header->biWidth, header->biBitCount, 32);
}

void TDIBWriter::AllocateSection() {
    ReleaseSection();
    try {
        const bool palettized = PixelFormat() == pf8bit;
        headerSize_ = palettized ? sizeof(BITMAPINFOHEADER) + 256 * 4 : sizeof(BITMAPINFOHEADER);
        header_ = static_cast<uint8_t*>(std::calloc(headerSize_, 1));
        if (!header_) throw EOutOfMemory(sDIBAllocationFailed);
        auto* header = reinterpret_cast<BITMAPINFOHEADER*>(header_);
        header->biSize = sizeof(BITMAPINFOHEADER);
        header->biWidth = width_;
        header->biHeight = height_;
        header->biPlanes = 1;
        header->biCompression = BI_RGB;
        header->biSizeImage = 0;
        if (palettized) {
            header->biBitCount = 8;
            uint8_t* table = header_ + sizeof(BITMAPINFOHEADER);
            WORD count = 0;
            int n = 0;
            if (palette_ && GetObjectA(palette_, sizeof count, &count) != 0 && count > 0) {
                n = static_cast<int>(
                    GetPaletteEntries(palette_, 0, count > 256 ? 256 : count, reinterpret_cast<PALETTEENTRY*>(table)));
                SwapRedBlue(table, n);
            }
            std::memset(table + n * 4, 0, (256 - n) * 4);
            header->biClrUsed = 256;
            header->biClrImportant = static_cast<DWORD>(n);
        } else {
            header->biBitCount = 24;
            header->biClrUsed = 0;
            header->biClrImportant = 0;
        }
        // Width and height are 32-bit: the product may not fit a 32-bit byte count.
        const int64_t rowBytes = (static_cast<int64_t>(std::abs(width_)) * header->biBitCount + 31) / 32 * 4;
        const int64_t size = rowBytes * std::abs(static_cast<int64_t>(height_));
        if (size <= 0 || size > 0x7FFFFFFF - headerSize_ - 14) throw EOutOfMemory(sDIBAllocationFailed);
        memory_ = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(size));
        if (memory_) bits_ = static_cast<uint8_t*>(GlobalLock(memory_));
        if (!bits_) throw EOutOfMemory(sDIBAllocationFailed);
        bitsSize_ = static_cast<int>(size);
    } catch (...) {
        ReleaseSection();
        throw;
    }
}

void TDIBWriter::ReleaseSection() {
    std::free(header_);
    header_ = nullptr;
    if (memory_) {
        if (bits_) GlobalUnlock(memory_);
        GlobalFree(memory_);
    }
    memory_ = nullptr;
    bits_ = nullptr;
}

void TDIBWriter::CommitToBitmap() {
    if (!bits_) return;
    TMemoryStream stream;
    stream.SetSize(14 + headerSize_ + bitsSize_);
    stream.SetPosition(0);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfSize = static_cast<DWORD>(14 + headerSize_ + bitsSize_);
    file.bfOffBits = static_cast<DWORD>(14 + headerSize_);
    stream.WriteBuffer(&file, sizeof file);
    stream.WriteBuffer(header_, headerSize_);
    GdiFlush();
    stream.WriteBuffer(bits_, bitsSize_);
    stream.SetPosition(0);
    Bitmap().LoadFromStream(stream);
    ReleaseSection();
}
