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
#include "gifimage/framelock.h"
#include "gifimage/gdiutils.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/lookups.h"
#include "gifimage/messages.h"
#include "gifimage/progress.h"
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

bool OnGUIThread() { return GetCurrentThreadId() == MainThreadID(); }

// The running report of row y, every 32 rows. A handler that takes the frame away (with its
// image or without) ends the rendering at once. Handlers run on the GUI thread only: a render on
// a painter's thread reports nothing.
void ReportRow(TGIFSubImage& frame, int y, int height) {
    if (y % 32 == 0 && OnGUIThread())
        EndIfImageFreed(frame.ReportProgress(psRunning, MulDiv(y, 100, height), false, sProgressRendering));
}

// A new bitmap of the frame, with its own colours or dithered as the image asks.
std::unique_ptr<TBitmap> RenderNewBitmap(TGIFSubImage& frame) {
    if (RenderTrace) RenderTrace(frame, true);
    try {
        auto bitmap = frame.OwnerImage() && frame.OwnerImage()->NeedsDither() ? frame.RenderDithered()
                                                                          : frame.RenderDirect();
        if (RenderTrace) RenderTrace(frame, false);
        return bitmap;
    } catch (...) {
        if (RenderTrace) RenderTrace(frame, false);
        throw;
    }
}

}  // namespace

void (*RenderTrace)(const TGIFSubImage& frame, bool begins) = nullptr;

// --- Rendering -------------------------------------------------------------------

// One thread renders a frame at a time: the frame lock is held throughout, and the frame is
// marked as in work, so that painter threads leave it alone while a report lets go of the lock.
TBitmap* TGIFSubImage::RenderedBitmap() {
    const FrameWorkHold work(*this);
    if (frameBitmap_ || IsEmpty()) return frameBitmap_.get();
    TGIFImage* const image = OwnerImage();
    const TFrameWatch watch(*this);
    // After the end of the report a changed palette is announced, whether the rendering
    // finished or failed.
    const auto announcePalette = [&] {
        if (image && OnGUIThread() && watch.Lives() && image->PaletteModified()) EndIfImageFreed(NotifyChanged());
    };
    try {
        bool ended = false;
        try {
            TGIFProgress progress(OnGUIThread() ? image : nullptr, this, sProgressRendering,
                                  TGIFProgress::RedrawIfPaletteModified, this);
            EndIfImageFreed(progress.Start());
            frameBitmap_ = RenderNewBitmap(*this);
            ended = true;
            EndIfImageFreed(progress.Finish());
        } catch (const EImageFreed&) {
            throw;
        } catch (...) {
            // A failed report of the end leaves the rendering done.
            if (!ended) announcePalette();
            throw;
        }
        announcePalette();
    } catch (const EImageFreed&) {
        throw;  // this frame is gone
    } catch (const EAbort&) {
        // A handler's abort ends the rendering quietly, unless that handler took the frame away.
        EndIfImageFreed(watch.Lives());
    }
    return frameBitmap_.get();
}

void TGIFSubImage::RenderAhead() {
    if (frameBitmap_ || IsEmpty() || (OwnerImage() && OwnerImage()->FrameInWork(this))) return;
    frameBitmap_ = RenderNewBitmap(*this);
}

std::unique_ptr<TBitmap> TGIFSubImage::RenderDirect() {
    auto bitmap = std::make_unique<TBitmap>();
    const int width = Width(), height = Height();
    if (static_cast<int64_t>(width) * height > LargeBitmapPixels) SetBitmapPixelFormat(*bitmap, pf1bit);
    bool masking = false;
    try {
        TDIBWriter writer(*bitmap, pf8bit, width, height, PaletteHandle());
        masking = needMask_ && transparent_ && graphicControlExtension_;
        needMask_ = false;
        std::optional<MaskRows> mask;
        uint8_t transparentIndex = 0;
        if (masking) {
            transparentIndex = graphicControlExtension_->TransparentIndex();
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
            if (mask_) DeleteObject(mask_);
            mask_ = mask->CreateMask();
        }
    } catch (const EImageFreed&) {
        throw;  // the frame is gone with its image: nothing of it is cleaned up
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
        // Read again after each report, whose handler may change the table (the global one in
        // particular, which other frames change too).
        const TGIFColor* colors = nullptr;
        int colorCount = 0;
        const auto readTable = [&] {
            const TGIFColorMap* colorMap = EffectiveColorMap();
            colors = colorMap->Entries();
            colorCount = colorMap->Count();
        };
        readTable();
        // Indexes beyond the table (only in damaged frames) are dithered as black.
        auto colorOf = [&](uint8_t index) { return index < colorCount ? colors[index] : TGIFColor{0, 0, 0}; };

        masking = needMask_ && transparent_ && graphicControlExtension_;
        needMask_ = false;
        std::optional<MaskRows> mask;
        uint8_t transparentIndex = 0;
        uint8_t fillIndex = 0;
        if (masking) {
            transparentIndex = graphicControlExtension_->TransparentIndex();
            // Transparent pixels keep the web entry of the transparent colour.
            const TGIFColor key = colorOf(transparentIndex);
            uint8_t r, g, b;
            fillIndex = lookup.MatchColor(key.Red, key.Green, key.Blue, r, g, b);
            mask.emplace(width, height);
        }
        for (int y = 0; y < height; ++y) {
            ReportRow(*this, y, height);
            readTable();
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
            if (mask_) DeleteObject(mask_);
            mask_ = mask->CreateMask();
        }
    } catch (const EImageFreed&) {
        throw;
    } catch (...) {
        if (masking) ReleaseMask();
        throw;
    }
    return bitmap;
}

void TGIFSubImage::AllocBitmap() {
    ReleaseBitmap();
    frameBitmap_ = std::make_unique<TBitmap>();
}

bool TGIFSubImage::IsMasked() {
    const FrameWorkHold work(*this);
    if (needMask_ && transparent_) {
        ReleaseBitmap();
        RenderedBitmap();
    }
    return mask_ != nullptr;
}

namespace {
// The copy of a frame or an image into a bitmap: what it shows, or an empty bitmap when it
// shows nothing.
void AssignOrEmpty(TBitmap& target, TBitmap* shown) {
    if (shown) {
        target.Assign(*shown);
    } else {
        TBitmap empty;
        target.Assign(empty);
    }
}
}  // namespace

void TGIFSubImage::AssignTo(TPersistent& target) const { const_cast<TGIFSubImage*>(this)->CopyTo(target); }

void TGIFSubImage::CopyTo(TPersistent& target) {
    auto* bitmap = dynamic_cast<TBitmap*>(&target);
    if (!bitmap) {
        TGIFItem::AssignTo(target);
        return;
    }
    AssignOrEmpty(*bitmap, RenderedBitmap());
}

// --- The image's whole-image bitmap ---------------------------------------------

namespace {
// The whole-image bitmap notifies the image's change handler; whoever changes the bitmap checks
// that the image still lives (a painter drawing on it checks its own stop).
std::unique_ptr<TBitmap> NewImageBitmap(TGIFImage& image) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->OnChange = [&image](TObject*) { static_cast<void>(image.NotifyChanged(&image)); };
    return bitmap;
}

// Gives the whole-image bitmap the image's palette and the screen's size, each change a step
// that may run the change handler.
template <typename Step>
void ShapeToScreen(TGIFImage& image, TBitmap& bitmap, const Step& step) {
    step([&] { bitmap.SetPalette(CopyPalette(image.PaletteHandle())); });
    step([&] { bitmap.SetHeight(image.ScreenHeight()); });
    step([&] { bitmap.SetWidth(image.ScreenWidth()); });
}
}  // namespace

// Every step that changes the new bitmap runs its change notification.
TBitmap* TGIFImage::CurrentBitmap() {
    if (IsEmpty()) return nullptr;
    if (cachedBitmap_) return cachedBitmap_.get();
    TGIFSubImage* first = frames_->FrameAt(0);
    const TFrameWatch firstWatch(*first);
    std::unique_ptr<TBitmap> bitmap = NewImageBitmap(*this);
    // A step's handler may also empty or reload the image, or take the first frame from it.
    const auto step = [&](auto call) { EndIfImageFreed(RunHandler(call) && firstWatch.Lives()); };
    const FrameLockHold hold(this);
    if (first->Width() == ScreenWidth() && first->Height() == ScreenHeight()) {
        if (TBitmap* rendered = first->RenderedBitmap()) step([&] { bitmap->Assign(*rendered); });
    } else {
        // A frame smaller than the screen (or placed off its origin) is drawn at its place.
        ShapeToScreen(*this, *bitmap, step);
        RECT clip{0, 0, 0, 0};
        GetClipBox(bitmap->Canvas().Handle(), &clip);
        step([&] { first->DrawFrame(bitmap->Canvas(), clip, false, false); });
    }
    cachedBitmap_ = std::move(bitmap);
    return cachedBitmap_.get();
}

TBitmap* TGIFImage::AllocBitmap() {
    if (cachedBitmap_) return cachedBitmap_.get();
    std::unique_ptr<TBitmap> bitmap = NewImageBitmap(*this);
    const auto step = [this](auto call) { EndIfImageFreed(RunHandler(call)); };
    ShapeToScreen(*this, *bitmap, step);
    const FrameLockHold hold(this);
    cachedBitmap_ = std::move(bitmap);
    return cachedBitmap_.get();
}

void TGIFImage::AssignTo(TPersistent& target) const { const_cast<TGIFImage*>(this)->CopyTo(target); }

void TGIFImage::CopyTo(TPersistent& target) {
    auto* bitmap = dynamic_cast<TBitmap*>(&target);
    if (!bitmap) {
        TGraphic::AssignTo(target);
        return;
    }
    AssignOrEmpty(*bitmap, CurrentBitmap());
}
