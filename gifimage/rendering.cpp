// Frame rendering: a frame's colour indexes become an 8-bit bitmap (with the frame's own
// colours, or dithered into the web palette) and a monochrome transparency mask; and the
// image's whole-image bitmap made from frame 0.
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "gifimage/colormap.h"
#include "gifimage/dib.h"
#include "gifimage/ditherers.h"
#include "gifimage/extensions.h"
#include "gifimage/gdiutils.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/lookups.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"

namespace {

// Mask rows as CreateBitmap takes them: top to bottom, whole 16-bit words, the leftmost pixel
// in the most significant bit; a set bit is a transparent pixel.
class MaskRows {
public:
    MaskRows(int width, int height)
        : width_(width)
        , height_(height)
        , rowBytes_(((width + 15) >> 4) * 2)
        , rows_(static_cast<size_t>(rowBytes_) * height) {}
    void Set(int x, int y) {
        rows_[static_cast<size_t>(y) * rowBytes_ + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
        used_ = true;
    }
    bool Used() const { return used_; }
    HBITMAP CreateMask() const { return CheckGdiResult(CreateBitmap(width_, height_, 1, 1, rows_.data())); }

private:
    int width_;
    int height_;
    int rowBytes_;
    std::vector<uint8_t> rows_;
    bool used_ = false;
};

// A handler that frees the image (and so the frame) ends the rendering at once.
void ReportRendering(TGIFSubImage& frame, TProgressStage stage, int percent, bool redraw) {
    TGIFImage* image = frame.OwnerImage;
    if (!image) return;
    const std::weak_ptr<const char> life = image->Lifetime;
    image->Progress(&frame, stage, static_cast<uint8_t>(percent), redraw, kNoRect, sProgressRendering);
    if (life.expired()) throw EImageFreed("");
}

// The running report of row y, every 32 rows.
void ReportRow(TGIFSubImage& frame, int y, int height) {
    if (y % 32 == 0) ReportRendering(frame, psRunning, MulDiv(y, 100, height), false);
}

}  // namespace

// --- Rendering -------------------------------------------------------------------

TBitmap* TGIFSubImage::RenderedBitmap() {
    if (FrameBitmap || IsEmpty()) return FrameBitmap.get();
    try {
        ReportRendering(*this, psStarting, 0, false);
        try {
            FrameBitmap = OwnerImage && OwnerImage->NeedsDither() ? RenderDithered() : RenderDirect();
        } catch (const EImageFreed&) {
            throw;
        } catch (...) {
            ReportRendering(*this, psEnding, 0, OwnerImage && OwnerImage->PaletteModified());
            if (OwnerImage && OwnerImage->PaletteModified()) OwnerImage->NotifyChanged(this);
            throw;
        }
        ReportRendering(*this, psEnding, 100, OwnerImage && OwnerImage->PaletteModified());
        if (OwnerImage && OwnerImage->PaletteModified()) OwnerImage->NotifyChanged(this);
    } catch (const EImageFreed&) {
        throw;  // this frame is gone with its image
    } catch (const EAbort&) {
    }
    return FrameBitmap.get();
}

std::unique_ptr<TBitmap> TGIFSubImage::RenderDirect() {
    auto bitmap = std::make_unique<TBitmap>();
    const int width = Width(), height = Height();
    if (static_cast<int64_t>(width) * height > LargeBitmapPixels) SetBitmapPixelFormat(*bitmap, pf1bit);
    bool masking = false;
    try {
        TDIBWriter writer(*bitmap, pf8bit, width, height, PaletteHandle());
        masking = NeedMask && Transparent && GraphicControlExtension;
        NeedMask = false;
        std::optional<MaskRows> mask;
        uint8_t transparentIndex = 0;
        if (masking) {
            transparentIndex = GraphicControlExtension->TransparentIndex();
            mask.emplace(width, height);
        }
        for (int y = 0; y < height; ++y) {
            uint8_t* target = writer.RowPointer(y);
            ReportRow(*this, y, height);
            const uint8_t* source = RowAt(y);
            std::memcpy(target, source, width);
            if (!masking) continue;
            for (int x = 0; x < width; ++x)
                if (source[x] == transparentIndex) mask->Set(x, y);
        }
        if (masking && mask->Used()) {
            if (Mask) DeleteObject(Mask);
            Mask = mask->CreateMask();
        }
    } catch (...) {
        // A render that does not finish leaves the mask due, so the next one makes it.
        if (masking) ReleaseMask();
        throw;
    }
    return bitmap;
}

std::unique_ptr<TBitmap> TGIFSubImage::RenderDithered() {
    auto bitmap = std::make_unique<TBitmap>();
    const int width = Width(), height = Height();
    if (static_cast<int64_t>(width) * height > LargeBitmapPixels) SetBitmapPixelFormat(*bitmap, pf1bit);
    bool masking = false;
    try {
        const HPALETTE palette = PaletteHandle();
        TNetscapeColorLookup lookup(palette);
        TFloydSteinbergDitherer ditherer(width, &lookup);
        TDIBWriter writer(*bitmap, pf8bit, width, height, palette);
        const TGIFColorMap* colorMap = EffectiveColorMap();
        const TGIFColor* colors = colorMap->Entries();
        const int colorCount = colorMap->Count();
        // Indexes beyond the table (only in damaged frames) are dithered as black.
        auto colorOf = [&](uint8_t index) { return index < colorCount ? colors[index] : TGIFColor{0, 0, 0}; };

        masking = NeedMask && Transparent && GraphicControlExtension;
        NeedMask = false;
        std::optional<MaskRows> mask;
        uint8_t transparentIndex = 0;
        uint8_t fillIndex = 0;
        if (masking) {
            transparentIndex = GraphicControlExtension->TransparentIndex();
            // Transparent pixels keep the web entry of the transparent colour.
            const TGIFColor key = colorOf(transparentIndex);
            uint8_t r, g, b;
            fillIndex = lookup.MatchColor(key.Red, key.Green, key.Blue, r, g, b);
            mask.emplace(width, height);
        }
        for (int y = 0; y < height; ++y) {
            ReportRow(*this, y, height);
            uint8_t* target = writer.RowPointer(y);
            const uint8_t* source = RowAt(y);
            if (masking) std::memset(target, fillIndex, width);
            for (int x = ditherer.Column(); x >= 0 && x < width; x = ditherer.Column()) {
                const uint8_t pixel = source[x];
                if (masking && pixel == transparentIndex) {
                    mask->Set(x, y);
                    ditherer.StepColumn();
                    continue;
                }
                const TGIFColor color = colorOf(pixel);
                uint8_t r, g, b;
                target[x] = ditherer.DitherPixel(color.Red, color.Green, color.Blue, r, g, b);
            }
            ditherer.NextRow();
        }
        if (masking && mask->Used()) {
            if (Mask) DeleteObject(Mask);
            Mask = mask->CreateMask();
        }
    } catch (...) {
        if (masking) ReleaseMask();
        throw;
    }
    return bitmap;
}

void TGIFSubImage::AllocBitmap() {
    ReleaseBitmap();
    FrameBitmap = std::make_unique<TBitmap>();
}

bool TGIFSubImage::IsMasked() {
    if (NeedMask && Transparent) {
        ReleaseBitmap();
        RenderedBitmap();
    }
    return Mask != nullptr;
}

void TGIFSubImage::AssignTo(TPersistent& target) const { const_cast<TGIFSubImage*>(this)->CopyTo(target); }

void TGIFSubImage::CopyTo(TPersistent& target) {
    auto* bitmap = dynamic_cast<TBitmap*>(&target);
    if (!bitmap) {
        TGIFItem::AssignTo(target);
        return;
    }
    if (TBitmap* rendered = RenderedBitmap()) {
        bitmap->Assign(*rendered);
    } else {
        // An empty frame copies as an empty bitmap.
        TBitmap empty;
        bitmap->Assign(empty);
    }
}

// --- The image's whole-image bitmap ---------------------------------------------

TBitmap* TGIFImage::CurrentBitmap() {
    if (IsEmpty()) return nullptr;
    if (CachedBitmap) return CachedBitmap.get();
    TGIFSubImage* first = Frames->FrameAt(0);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->OnChange = [this](TObject*) { Changed(); };
    if (first->Width() == ScreenWidth() && first->Height() == ScreenHeight()) {
        if (TBitmap* rendered = first->RenderedBitmap()) bitmap->Assign(*rendered);
    } else {
        // A frame smaller than the screen (or placed off its origin) is drawn at its place.
        bitmap->SetPalette(CopyPalette(PaletteHandle()));
        bitmap->SetHeight(ScreenHeight());
        bitmap->SetWidth(ScreenWidth());
        RECT clip{0, 0, 0, 0};
        GetClipBox(bitmap->Canvas().Handle(), &clip);
        first->DrawFrame(bitmap->Canvas(), clip, false, false);
    }
    CachedBitmap = std::move(bitmap);
    return CachedBitmap.get();
}

TBitmap* TGIFImage::AllocBitmap() {
    if (CachedBitmap) return CachedBitmap.get();
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->OnChange = [this](TObject*) { Changed(); };
    bitmap->SetPalette(CopyPalette(PaletteHandle()));
    bitmap->SetHeight(ScreenHeight());
    bitmap->SetWidth(ScreenWidth());
    CachedBitmap = std::move(bitmap);
    return CachedBitmap.get();
}

void TGIFImage::AssignTo(TPersistent& target) const { const_cast<TGIFImage*>(this)->CopyTo(target); }

void TGIFImage::CopyTo(TPersistent& target) {
    auto* bitmap = dynamic_cast<TBitmap*>(&target);
    if (!bitmap) {
        TGraphic::AssignTo(target);
        return;
    }
    if (TBitmap* current = CurrentBitmap()) {
        bitmap->Assign(*current);
    } else {
        TBitmap empty;
        bitmap->Assign(empty);
    }
}
