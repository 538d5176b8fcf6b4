#include "tests/support/bitmaps.h"

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

std::unique_ptr<TMemoryStream> StreamOf(const Bytes& bytes) {
    auto stream = std::make_unique<TMemoryStream>();
    if (!bytes.empty()) stream->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    stream->SetPosition(0);
    return stream;
}

HENHMETAFILE MakeMetafile(int width, int height, const std::function<void(HDC)>& paint) {
    HDC screen = GetDC(nullptr);
    // The picture frame in hundredths of a millimetre of the reference device.
    const int horzSize = GetDeviceCaps(screen, HORZSIZE), vertSize = GetDeviceCaps(screen, VERTSIZE);
    const int horzRes = GetDeviceCaps(screen, HORZRES), vertRes = GetDeviceCaps(screen, VERTRES);
    RECT frame{0, 0, MulDiv(width, horzSize * 100, horzRes), MulDiv(height, vertSize * 100, vertRes)};
    HDC dc = CreateEnhMetaFileA(screen, nullptr, &frame, nullptr);
    paint(dc);
    HENHMETAFILE metafile = CloseEnhMetaFile(dc);
    // The reference context stays valid until the metafile is closed.
    ReleaseDC(nullptr, screen);
    return metafile;
}

HENHMETAFILE MetafileFilling(int width, int height, const RECT& painted, COLORREF color) {
    return MakeMetafile(width, height, [&](HDC dc) { FillArea(dc, painted, color); });
}

void FillArea(HDC dc, const RECT& rect, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}
