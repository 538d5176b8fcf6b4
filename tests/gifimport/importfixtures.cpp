#include "importfixtures.h"
#include "gifimage/colormap.h"
#include "gifimage/subimage.h"

#include <cstring>

#include "classlib/streams.h"

void LoadPalettized(TBitmap& bitmap, int bitCount, int width, const Rgbs& table, const std::vector<Bytes>& rows) {
    const int height = static_cast<int>(rows.size());
    const int rowBytes = ((width * bitCount + 31) / 32) * 4;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bitCount);
    header.biCompression = BI_RGB;
    header.biClrUsed = static_cast<DWORD>(table.size());
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = static_cast<DWORD>(sizeof file + sizeof header + 4 * table.size());
    file.bfSize = file.bfOffBits + rowBytes * height;
    TMemoryStream stream;
    stream.WriteBuffer(&file, sizeof file);
    stream.WriteBuffer(&header, sizeof header);
    for (COLORREF c : table) {
        const RGBQUAD q{GetBValue(c), GetGValue(c), GetRValue(c), 0};
        stream.WriteBuffer(&q, sizeof q);
    }
    for (int y = height - 1; y >= 0; --y) {
        Bytes row(rowBytes, 0);
        std::memcpy(row.data(), rows[y].data(), std::min<size_t>(rows[y].size(), rowBytes));
        stream.WriteBuffer(row.data(), rowBytes);
    }
    stream.SetPosition(0);
    bitmap.LoadFromStream(stream);
}

void FillTrueColor(TBitmap& bitmap, TPixelFormat format, int width, int height,
                   const std::function<COLORREF(int, int)>& color) {
    FillBitmap(bitmap, format, width, height, [&](int x, int y) {
        const COLORREF c = color(x, y);
        return Rgb{GetRValue(c), GetGValue(c), GetBValue(c)};
    });
}

void FillRow24(TBitmap& bitmap, const Rgbs& colors) {
    FillTrueColor(bitmap, pf24bit, static_cast<int>(colors.size()), 1, [&](int x, int) { return colors[x]; });
}

GifBytes& ScreenWithColors(GifBytes& gif, int width, int height, const Rgbs& colors) {
    int bits = 0;
    while ((2 << bits) < static_cast<int>(colors.size())) ++bits;
    gif.Text("GIF89a").Word(width).Word(height).Raw({0xF0 | bits, 0, 0});
    for (COLORREF c : colors) gif.Raw({GetRValue(c), GetGValue(c), GetBValue(c)});
    return gif;
}

Rgbs TableOf(const TGIFColorMap& map) {
    Rgbs out;
    for (int i = 0; i < map.Count(); ++i) {
        const TGIFColor& e = map.Entries()[i];
        out.push_back(RGB(e.Red, e.Green, e.Blue));
    }
    return out;
}

Rgbs ColorsOfFrame(const TGIFSubImage& frame) {
    const Rgbs table = TableOf(*frame.LocalColorMap());
    Rgbs out;
    for (uint8_t p : PixelsOf(frame)) out.push_back(p < table.size() ? table[p] : 0xFFFFFFFF);
    return out;
}

HICON MakeIcon(int width, int height, const std::function<COLORREF(int, int)>& color,
               const std::function<bool(int, int)>& transparent) {
    TBitmap colors;
    FillTrueColor(colors, pf24bit, width, height, [&](int x, int y) { return transparent(x, y) ? 0 : color(x, y); });
    const int maskRowBytes = ((width + 15) / 16) * 2;
    Bytes maskRows(static_cast<size_t>(maskRowBytes) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (transparent(x, y)) maskRows[y * maskRowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    HBITMAP mask = CreateBitmap(width, height, 1, 1, maskRows.data());
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask;
    info.hbmColor = colors.Handle();
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    return icon;
}

Bytes MonoBits(HBITMAP bitmap, int width, int height) {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[2];
    } info{};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = width;
    info.header.biHeight = -height;
    info.header.biPlanes = 1;
    info.header.biBitCount = 1;
    const int rowBytes = ((width + 31) / 32) * 4;
    Bytes rows(static_cast<size_t>(rowBytes) * height);
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, bitmap, 0, height, rows.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    Bytes out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.push_back((rows[y * rowBytes + x / 8] >> (7 - x % 8)) & 1);
    return out;
}
