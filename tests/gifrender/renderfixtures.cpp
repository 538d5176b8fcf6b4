#include "gifimage/colormap.h"
#include "renderfixtures.h"

#include <cstring>

GifBytes& FrameWithTable(GifBytes& gif, int width, int height, const Colors& colors, const Bytes& pixels,
                         bool interlaced) {
    int field = 0;
    while ((2 << field) < static_cast<int>(colors.size())) ++field;
    gif.Descriptor(0, 0, width, height, 0x80 | (interlaced ? 0x40 : 0) | field);
    for (int i = 0; i < (2 << field); ++i) {
        const TGIFColor c = i < static_cast<int>(colors.size()) ? colors[i] : TGIFColor{0, 0, 0};
        gif.Raw({c.Red, c.Green, c.Blue});
    }
    const int minCodeSize = field + 1 < 2 ? 2 : field + 1;
    return gif.Data(minCodeSize, EncodeLZW(interlaced ? Interlace(pixels, width, height) : pixels, minCodeSize));
}

Bytes IndexesOf(TBitmap& bitmap) {
    Bytes out;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        out.insert(out.end(), row, row + bitmap.Width());
    }
    return out;
}

std::vector<RGBQUAD> ColorTableOf(TBitmap& bitmap) {
    std::vector<RGBQUAD> table;
    bitmap.GetColorTable(table);
    return table;
}

std::vector<COLORREF> ColorsOf(HDC dc, int width, int height) {
    std::vector<COLORREF> out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.push_back(GetPixel(dc, x, y));
    return out;
}

Bytes MaskBitsOf(HBITMAP mask, int width, int height) {
    BITMAP info{};
    GetObjectA(mask, sizeof info, &info);
    std::vector<uint8_t> rows(static_cast<size_t>(info.bmWidthBytes) * height);
    GetBitmapBits(mask, static_cast<LONG>(rows.size()), rows.data());
    Bytes out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.push_back((rows[y * info.bmWidthBytes + x / 8] >> (7 - x % 8)) & 1);
    return out;
}

Bytes Where(const Bytes& pixels, uint8_t index) {
    Bytes out;
    for (uint8_t p : pixels) out.push_back(p == index ? 1 : 0);
    return out;
}

Surface::Surface(int width, int height, COLORREF fill) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    dc_ = CreateCompatibleDC(nullptr);
    old_ = SelectObject(dc_, bitmap_);
    HBRUSH brush = CreateSolidBrush(fill);
    RECT all{0, 0, width, height};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
}

Surface::~Surface() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
}

void ProgressLog::Attach(TGraphic& graphic) {
    graphic.OnProgress = [this](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const RECT&,
                                const std::string& message) {
        entries.push_back(ProgressEntry{sender, stage, percent, redraw, message});
    };
}
