#include "tests/support/surface.h"

namespace {

HBITMAP MakeBitmap(int width, int height, SurfaceKind kind) {
    if (kind == SurfaceKind::ScreenCompatible) {
        HDC screen = GetDC(nullptr);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
        return bitmap;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

}  // namespace

Surface::Surface(int width, int height, COLORREF fill, SurfaceKind kind)
    : width_(width)
    , height_(height)
    , bitmap_(MakeBitmap(width, height, kind)) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(kind == SurfaceKind::ScreenCompatible ? screen : nullptr);
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bitmap_);
    RECT all{0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
    canvas_.SetHandle(dc_);
}

Surface::~Surface() {
    if (dc_) {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
    }
    DeleteObject(bitmap_);
}

void Surface::DeleteContext() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    dc_ = nullptr;
}

COLORREF Surface::At(int x, int y) const {
    GdiFlush();
    return GetPixel(dc_, x, y);
}

std::vector<COLORREF> Surface::All() const { return ColorsOf(dc_, width_, height_); }

std::vector<COLORREF> Surface::Row(int y, int from, int count) const { return RowOf(dc_, y, from, count); }

std::vector<COLORREF> RowOf(HDC dc, int y, int from, int count) {
    GdiFlush();
    std::vector<COLORREF> row;
    for (int x = from; x < from + count; ++x) row.push_back(GetPixel(dc, x, y));
    return row;
}

std::vector<COLORREF> ColorsOf(HDC dc, int width, int height) {
    GdiFlush();
    std::vector<COLORREF> out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.push_back(GetPixel(dc, x, y));
    return out;
}
