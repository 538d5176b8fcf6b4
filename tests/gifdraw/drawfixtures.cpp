#include "drawfixtures.h"
#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"

#include <cstring>

std::unique_ptr<TGIFImage> MakeImage(int screenWidth, int screenHeight, const Colors& global) {
    auto image = std::make_unique<TGIFImage>();
    image->SetScreenWidth(screenWidth);
    image->SetScreenHeight(screenHeight);
    for (const TGIFColor& c : global) image->GlobalColors()->AppendColor(TGIFColorMap::TripleToColor(c));
    return image;
}

TGIFSubImage* AddFrame(TGIFImage& image, const FrameSetup& setup) {
    auto* frame = new TGIFSubImage(&image);
    image.Frames->Append(frame);
    for (const TGIFColor& c : setup.local) frame->LocalColorMap->AppendColor(TGIFColorMap::TripleToColor(c));
    frame->ApplyBounds(setup.left, setup.top, setup.width, setup.height);
    if (!setup.pixels.empty()) std::memcpy(frame->Pixels, setup.pixels.data(), setup.pixels.size());
    if (setup.transparent >= 0 || setup.disposal >= 0) {
        auto* control = new TGIFGraphicControlExtension(frame);
        frame->Extensions->Append(control);
        if (setup.disposal >= 0) control->SetDisposalMethod(static_cast<uint8_t>(setup.disposal));
        if (setup.transparent >= 0) {
            control->SetIsTransparent(true);
            control->SetTransparentIndex(setup.transparent);
        }
    }
    return frame;
}

Bytes PixelsOf(TGIFSubImage& frame) {
    if (frame.IsEmpty()) return {};
    return Bytes(frame.Pixels, frame.Pixels + frame.PixelsSize);
}

Colors EntriesOf(const TGIFColorMap& map) { return Colors(map.Entries(), map.Entries() + map.Count()); }

Colors Ramp(int n) {
    Colors out;
    for (int i = 0; i < n; ++i)
        out.push_back(TGIFColor{static_cast<uint8_t>(i), 100, static_cast<uint8_t>(200 - i)});
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

COLORREF Surface::At(int x, int y) const {
    GdiFlush();
    return GetPixel(dc_, x, y);
}

std::vector<COLORREF> Surface::All() const {
    GdiFlush();
    std::vector<COLORREF> out;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) out.push_back(GetPixel(dc_, x, y));
    return out;
}
