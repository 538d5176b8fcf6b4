#include "gifimage/gifimage.h"

#include <algorithm>
#include <cstring>

#include "classlib/guards.h"
#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/framelock.h"
#include "gifimage/gdiutils.h"
#include "gifimage/giferror.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/painter.h"
#include "gifimage/progress.h"
#include "gifimage/subimage.h"

int FrameDelayUnitMs = 12;
int DefaultFrameDelay = 10;
int MinFrameDelay = 3;
int MaxFrameDelay = 1000;
uint16_t DefaultDrawFlags = 0x068F;
TReductionMethod DefaultColorReduction = crWebPalette;
int DefaultReductionBits = 8;
TDitherKind DefaultDitherMode = dkNone;
uint8_t DefaultCompression = 0;
uint8_t DefaultThreadPriority = 3;
int DefaultAnimationSpeed = 100;
bool IsPaletteDisplay = false;
bool OptimizeOnStore = false;
bool RenderFramesWhileLoading = false;
uint16_t GIFClipboardFormat = 0;

TGraphicClass TGIFImage::ClassKey() {
    static const char key = 0;
    return &key;
}

bool TGIFImage::IsEmpty() const { return frames_->ItemCount() == 0; }
int TGIFImage::ScreenWidth() const { return header_->LogicalWidth(); }
int TGIFImage::ScreenHeight() const { return header_->LogicalHeight(); }
TColor TGIFImage::BackgroundColor() { return header_->BackgroundColor(); }
TGIFColorMap* TGIFImage::GlobalColors() const { return header_->ColorMap(); }

TGIFImage::TGIFImage()
    : frames_(std::make_unique<TGIFImageList>(this))
    , header_(std::make_unique<TGIFHeader>(this, frames_.get()))
    , painters_(std::make_shared<TThreadList<TGIFPainter*>>())
    , drawFlags_(DefaultDrawFlags)
    , reductionMethod_(DefaultColorReduction)
    , reductionBits_(DefaultReductionBits)
    , ditherMode_(DefaultDitherMode)
    , compression_(DefaultCompression)
    , painterPriority_(DefaultThreadPriority)
    , speedPercent_(DefaultAnimationSpeed) {
    ResetImage();
}

TGIFImage::~TGIFImage() {
    // The image is going anyway: what the stop's queue runs cannot end its destruction.
    static_cast<void>(StopAllPainters());
    {
        std::vector<TGIFPainter*>& painters = painters_->LockList();
        for (auto it = painters.rbegin(); it != painters.rend(); ++it) (*it)->ForgetImage();
        painters_->UnlockList();
    }
    ClearImage();
    painters_.reset();
    frames_.reset();
    header_.reset();
}

void TGIFImage::ClearImage() { ClearImage(nullptr); }

bool TGIFImage::FrameInWork(const TGIFSubImage* frame) const {
    return std::find(framesInWork_.begin(), framesInWork_.end(), frame) != framesInWork_.end();
}

void TGIFImage::UnmarkFrameInWork(const TGIFSubImage* frame) {
    if (const auto it = std::find(framesInWork_.begin(), framesInWork_.end(), frame); it != framesInWork_.end())
        framesInWork_.erase(it);
}

uint8_t* TGIFImage::TakeReservedPixels(uint32_t size) { return loadReserve_ ? loadReserve_->Take(size) : nullptr; }

void TGIFImage::SetDrawFlags(uint16_t flags) {
    const FrameLockHold hold(this);
    drawFlags_ = flags;
}

void TGIFImage::SetSpeedPercent(int percent) {
    const FrameLockHold hold(this);
    speedPercent_ = percent;
}

void TGIFImage::ClearImage(TPixelReserve* reserve) {
    EndIfImageFreed(StopAllPainters());
    const FrameLockHold hold(this);
    ReleaseBitmap();
    if (reserve) reserve->KeepPixelsOf(*frames_);
    frames_->RemoveAll();
    header_->ColorMap()->RemoveAll();
    header_->SetLogicalWidth(0);
    header_->SetLogicalHeight(0);
    header_->PackFlags();
    SetPalette(nullptr);
}

// Offers the reserve to the frames a load reads, and withdraws it when the load ends (unless a
// handler has freed the image meanwhile).
class TGIFImage::LoadReserveScope {
public:
    LoadReserveScope(TGIFImage& image, TPixelReserve& reserve)
        : image_(image)
        , life_(image.Life())
        , outer_(image.loadReserve_) {
        image.loadReserve_ = &reserve;
    }
    ~LoadReserveScope() {
        if (!life_.expired()) image_.loadReserve_ = outer_;
    }
    LoadReserveScope(const LoadReserveScope&) = delete;
    LoadReserveScope& operator=(const LoadReserveScope&) = delete;

private:
    TGIFImage& image_;
    std::weak_ptr<const char> life_;
    TPixelReserve* outer_;
};

void TGIFImage::LoadFromStream(TStream& stream) {
    TGIFProgress progress(this, this, sProgressLoading, TGIFProgress::Redraw);
    EndIfImageFreed(progress.Start());
    TPixelReserve reserve;
    ClearImage(&reserve);
    const int64_t start = stream.Position();
    try {
        const FrameLockHold hold(this);
        const LoadReserveScope scope(*this, reserve);
        header_->LoadFromStream(stream);
        frames_->LoadItems(stream, this);
        FitScreenToFrames();
        TGIFTrailer trailer(this);
        trailer.LoadFromStream(stream);
    } catch (...) {
        stream.SetPosition(start);
        throw;
    }
    EndIfImageFreed(progress.Finish());
}

void TGIFImage::SaveToStream(TStream& stream) {
    TGIFProgress progress(this, this, sProgressSaving, TGIFProgress::Redraw);
    EndIfImageFreed(progress.Start());
    header_->SaveToStream(stream);
    frames_->SaveItems(stream);
    TGIFTrailer trailer(this);
    trailer.SaveToStream(stream);
    EndIfImageFreed(progress.Finish());
}

void TGIFImage::LoadFromNamedResource(HMODULE module, const std::string& name) {
    TResourceStream stream(module, name, RT_RCDATA);
    LoadFromStream(stream);
}

// A frame of a file may reach past the largest screen: the screen then stops at its largest
// size, with a warning, rather than keeping the low 16 bits of the frame's edge.
void TGIFImage::FitScreenToFrames() {
    bool beyondLargest = false;
    for (int i = 0; i < frames_->ItemCount(); ++i) {
        const TGIFSubImage* frame = frames_->FrameAt(i);
        int right = frame->BoundsField(kBoundsLeft) + frame->BoundsField(kBoundsWidth);
        int bottom = frame->BoundsField(kBoundsTop) + frame->BoundsField(kBoundsHeight);
        if (right > kMaxSide || bottom > kMaxSide) beyondLargest = true;
        right = std::min(right, kMaxSide);
        bottom = std::min(bottom, kMaxSide);
        if (right > ScreenWidth()) header_->SetLogicalWidth(right);
        if (bottom > ScreenHeight()) header_->SetLogicalHeight(bottom);
    }
    if (beyondLargest) EndIfImageFreed(Warn(this, 1, sScreenSizeExceeded));
}

void TGIFImage::SetScreenWidth(int value) { SetScreenExtent(kBoundsLeft, value); }

void TGIFImage::SetScreenHeight(int value) { SetScreenExtent(kBoundsTop, value); }

// side kBoundsLeft is the width (frames' left + width), side kBoundsTop the height (top + height).
void TGIFImage::SetScreenExtent(int side, int value) {
    if (value < 0 || value > kMaxSide) RaiseGIFError(sInvalidImageDimensions);
    const int extentField = side == kBoundsLeft ? kBoundsWidth : kBoundsHeight;
    for (int i = 0; i < frames_->ItemCount(); ++i) {
        const TGIFSubImage* frame = frames_->FrameAt(i);
        if (frame->BoundsField(side) + frame->BoundsField(extentField) > value)
            RaiseGIFError(side == kBoundsLeft ? sWidthTooSmall : sHeightTooSmall);
    }
    const bool width = side == kBoundsLeft;
    if (value == (width ? header_->LogicalWidth() : header_->LogicalHeight())) return;
    if (width)
        header_->SetLogicalWidth(value);
    else
        header_->SetLogicalHeight(value);
    ReleaseBitmap();
    EndIfImageFreed(NotifyChanged(this));
}

GIFVersion TGIFImage::RequiredVersion() const { return frames_->RequiredVersion(); }

int TGIFImage::ColorDepth() const { return frames_->ColorDepth(header_->ColorDepth()); }

int TGIFImage::BitDepth() const { return frames_->BitDepth(header_->BitDepth()); }

HPALETTE TGIFImage::PaletteHandle() {
    const FrameLockHold hold(this);
    if (inPaletteQuery_) RaiseGIFError(sNoColorTable);
    FlagGuard guard(inPaletteQuery_);
    if (cachedBitmap_) {
        if (HPALETTE palette = cachedBitmap_->Palette()) return palette;
    }
    if (paletteCache_) return paletteCache_;
    if (NeedsDither()) {
        paletteCache_ = CreateWebSafePalette();
        return paletteCache_;
    }
    if (GlobalColors()->Count() > 0) {
        paletteCache_ = GlobalColors()->MakePaletteHandle();
        return paletteCache_;
    }
    if (frames_->ItemCount() > 0) return frames_->FrameAt(0)->PaletteHandle();
    return nullptr;
}

void TGIFImage::SetPaletteHandle(HPALETTE handle) {
    const FrameLockHold hold(this);
    if (!ReplacePaletteHandle(paletteCache_, handle, cachedBitmap_.get())) return;
    ReleaseBitmap();
    SetPaletteModified(true);
    EndIfImageFreed(NotifyChanged(this));
}

bool TGIFImage::NeedsDither() const {
    return (drawFlags_ & dfDither) && (!(drawFlags_ & dfDitherPaletteOnly) || IsPaletteDisplay);
}

int TGIFImage::AddFrameFrom(TPersistent* source) {
    TUnlistedFrame imported;
    TGIFSubImage* frame = nullptr;
    TGIFImage* previous = nullptr;
    if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
        imported = TUnlistedFrame(this);
        imported->CopyFrom(*graphic);
        frame = imported.get();
    } else if (auto* subImage = dynamic_cast<TGIFSubImage*>(source)) {
        if (subImage->OwnerImage() == this) {
            if (const int listed = frames_->IndexOf(subImage); listed >= 0) return listed;
        } else {
            // The frame leaves its image, whose painters may be drawing it, and is owned by this
            // one alone from now on: neither image's end frees it twice or reaches the other.
            // The stop serves the queue, where a handler may free either image (the frame goes
            // with its own).
            previous = subImage->OwnerImage();
            if (previous) {
                const std::weak_ptr<const char> life = lifetime_;
                const TFrameWatch frameWatch(*subImage);
                const bool previousLives = previous->StopAllPainters();
                EndIfImageFreed(!life.expired());
                EndIfImageFreed(previousLives);
                // Or emptied the old image, reloaded it, or taken the frame from it.
                EndIfImageFreed(frameWatch.Lives());
                previous->Frames()->RemoveItem(subImage);
            }
            subImage->SetOwnerImage(this);
        }
        frame = subImage;
    } else {
        RaiseGIFError(sUnsupportedObject);
    }
    const int index = frames_->Append(frame);
    imported.Release();
    ReleaseBitmap();
    // The frame is listed here before the old image hears of its change, whose handler may free
    // the old image or this one.
    if (previous) EndIfImageFreed(RunHandler([previous] { static_cast<void>(previous->NotifyChanged(previous)); }));
    EndIfImageFreed(NotifyChanged(this));
    return index;
}

void TGIFImage::ReleaseBitmap() {
    if (ownPainter_) ownPainter_->StopPainting();
    const FrameLockHold hold(this);
    cachedBitmap_.reset();
}

// Clearing the image frees its frames, their bitmaps and its whole-image bitmap, and its stop of
// the painters serves the queue, where a handler may free another image with its frames and
// bitmaps. A frame or a bitmap source is therefore answered by a copy held by the caller: a frame
// by the same frame in an image of its own with its image's header, a bitmap by a bitmap.
TPersistent* TGIFImage::SourceThatOutlivesClearing(TPersistent* source, std::unique_ptr<TGIFImage>& heldImage,
                                                   std::unique_ptr<TBitmap>& heldBitmap) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
        heldBitmap = std::make_unique<TBitmap>();
        heldBitmap->Assign(*bitmap);
        return heldBitmap.get();
    }
    auto* frame = dynamic_cast<TGIFSubImage*>(source);
    if (!frame) return source;
    heldImage = std::make_unique<TGIFImage>();
    if (frame->OwnerImage()) heldImage->Header()->CopyFrom(*frame->OwnerImage()->Header());
    auto held = std::make_unique<TGIFSubImage>(heldImage.get());
    held->CopyFrom(*frame);
    heldImage->Frames()->Append(held.get());
    return held.release();
}

void TGIFImage::CopyFrom(TPersistent* source) {
    if (source == this) return;
    if (!source) {
        ClearImage();
        return;
    }
    if (auto* other = dynamic_cast<TGIFImage*>(source)) {
        CopyImage(*other);
        return;
    }
    std::unique_ptr<TGIFImage> heldImage;
    std::unique_ptr<TBitmap> heldBitmap;
    source = SourceThatOutlivesClearing(source, heldImage, heldBitmap);
    ClearImage();
    TUnlistedFrame frame(this);
    try {
        frame->CopyFrom(*source);
    } catch (const EConvertError&) {
        frame = TUnlistedFrame();
        TGraphic::Assign(*source);
        return;
    }
    AddNewFrame(frame);
}

// AddFrameFrom lists a frame of this image before any handler runs, and a handler may free the
// image and the frame with it: the frame is handed over first, with room made for it in the
// list, so that nothing can fail between the hand-over and the listing.
int TGIFImage::AddNewFrame(TUnlistedFrame& frame) {
    frames_->ReserveOneMore();
    return AddFrameFrom(frame.Release());
}

// The copy of another image reports to that image's handlers. Any handler may free this image
// or the source: the copy ends there with the library's abort, touching neither again.
void TGIFImage::CopyImage(TGIFImage& other) {
    const std::weak_ptr<const char> life = lifetime_;
    const std::weak_ptr<const char> sourceLife = other.Life();
    const auto bothLive = [&] { return !life.expired() && !sourceLife.expired(); };
    ClearImage();
    EndIfImageFreed(bothLive());
    const FrameLockHold hold(this);
    OnProgress = other.OnProgress;
    OnWarningMessage = other.OnWarningMessage;
    try {
        TGIFProgress progress(this, this, sProgressCopying, TGIFProgress::NoRedraw);
        EndIfImageFreed(progress.Start() && bothLive());
        header_->CopyFrom(*other.Header());
        painterPriority_ = other.PainterPriority();
        backgroundOverride_ = other.BackgroundOverride();
        drawFlags_ = other.DrawFlags();
        reductionMethod_ = other.ReductionMethod();
        ditherMode_ = other.DitherMode();
        currentFrameIndex_ = other.CurrentFrameIndex();
        OnAnimationStart = other.OnAnimationStart;
        OnFrameBegin = other.OnFrameBegin;
        OnAnimationEnd = other.OnAnimationEnd;
        OnFrameDone = other.OnFrameDone;
        OnLoopPass = other.OnLoopPass;
        // A handler may also empty or reload the source or change its frames: the copy ends then.
        const TFrameListWatch sources(*other.Frames());
        const auto sourcesKept = [&] { return bothLive() && sources.Unchanged(); };
        const int count = sources.Count();
        for (int i = 0; i < count; ++i) {
            TUnlistedFrame frame(this);
            EndIfImageFreed(RunHandler([&] { frame->CopyFrom(*sources.FrameAt(i)); }) && sourcesKept());
            EndIfImageFreed(RunHandler([&] { AddNewFrame(frame); }) && sourcesKept());
            EndIfImageFreed(progress.Report(MulDiv(i + 1, 100, count)) && sourcesKept());
        }
        FitScreenToFrames();
        EndIfImageFreed(progress.Finish() && bothLive());
    } catch (...) {
        if (!life.expired()) {
            OnProgress = nullptr;
            OnWarningMessage = nullptr;
        }
        throw;
    }
    OnProgress = nullptr;
    OnWarningMessage = nullptr;
}

void TGIFImage::ReadClipboard(uint16_t format, HANDLE data, HPALETTE palette) {
    if (!data) data = GetClipboardData(format);
    if (data && format == GIFClipboardFormat) {
        const SIZE_T size = GlobalSize(data);
        const void* bytes = GlobalLock(data);
        try {
            TMemoryStream stream;
            stream.SetSize(static_cast<int64_t>(size));
            if (size > 0 && bytes) std::memcpy(stream.Memory(), bytes, size);
            stream.SetPosition(0);
            LoadFromStream(stream);
        } catch (...) {
            GlobalUnlock(data);
            throw;
        }
        GlobalUnlock(data);
        return;
    }
    if (data && format == CF_BITMAP) {
        TBitmap bitmap;
        bitmap.LoadFromClipboardFormat(format, data, palette);
        CopyFrom(&bitmap);
        return;
    }
    RaiseGIFError(sUnsupportedClipboardFormat);
}

void TGIFImage::LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) {
    ReadClipboard(static_cast<uint16_t>(format), data, palette);
}

void TGIFImage::SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette) {
    uint16_t shortFormat = static_cast<uint16_t>(format);
    WriteClipboard(shortFormat, data, palette);
    format = shortFormat;
}

// The whole-image bitmap goes out through the out parameters (placed by the caller); the GIF
// stream itself is put on the open clipboard in the "GIF Image" format.
void TGIFImage::WriteClipboard(uint16_t& format, HANDLE& data, HPALETTE& palette) {
    if (IsEmpty()) return;
    UINT bitmapFormat = format;
    CurrentBitmap()->SaveToClipboardFormat(bitmapFormat, data, palette);
    format = static_cast<uint16_t>(bitmapFormat);
    TMemoryStream stream;
    SaveToStream(stream);
    stream.SetPosition(0);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(stream.Size()));
    if (!block) return;
    try {
        void* bytes = GlobalLock(block);
        if (!bytes) RaiseGIFError(sClipboardStoreFailed);
        std::memcpy(bytes, stream.Memory(), static_cast<size_t>(stream.Size()));
        GlobalUnlock(block);
        if (!SetClipboardData(GIFClipboardFormat, block)) RaiseGIFError(sClipboardStoreFailed);
    } catch (...) {
        GlobalFree(block);
        throw;
    }
}

// Handlers run from copies: one that frees the image frees the image's own copy with it.
void TGIFImage::ReportWarning(TObject* sender, uint8_t severity, const std::string& message) {
    if (const TGIFWarning handler = OnWarningMessage) handler(sender, severity, message);
}

bool TGIFImage::ReportProgress(TObject* sender, TProgressStage stage, int percent, bool redraw,
                               const std::string& message) {
    return RunHandler([&] {
        if (const TProgressEvent handler = OnProgress)
            handler(sender, stage, static_cast<uint8_t>(percent), redraw, kNoRect, message);
    });
}

bool TGIFImage::Warn(TObject* sender, uint8_t severity, const std::string& message) {
    return RunHandler([&] { ReportWarning(sender, severity, message); });
}

bool TGIFImage::NotifyChanged(TObject* sender) {
    return RunHandler([&] {
        if (const TNotifyEvent handler = OnChange) handler(sender);
    });
}

// --- Unit start and exit -----------------------------------------------------

namespace {
bool unitStarted = false;

std::unique_ptr<TGraphic> NewGIFImage() { return std::make_unique<TGIFImage>(); }
}  // namespace

void GIFImageInitialization() {
    if (unitStarted) return;
    unitStarted = true;
    TPicture::RegisterFileFormat("GIF", sGIFImage, TGIFImage::ClassKey(), &NewGIFImage);
    GIFClipboardFormat = static_cast<uint16_t>(RegisterClipboardFormatA(sGIFImage));
    TPicture::RegisterClipboardFormat(GIFClipboardFormat, TGIFImage::ClassKey(), &NewGIFImage);
    HDC screen = GetDC(nullptr);
    IsPaletteDisplay = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES) <= 8;
    ReleaseDC(nullptr, screen);
}

void GIFImageFinalization() {
    if (!unitStarted) return;
    unitStarted = false;
    FreeExtensionRegistries();
    TPicture::UnregisterGraphicClass(TGIFImage::ClassKey());
}

namespace {
// Runs the library's start when a program that uses the picture class starts, and its exit at the end.
struct GIFImageUnit {
    GIFImageUnit() { GIFImageInitialization(); }
    ~GIFImageUnit() { GIFImageFinalization(); }
} gifImageUnit;
}  // namespace
