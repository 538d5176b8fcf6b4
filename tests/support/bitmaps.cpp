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
