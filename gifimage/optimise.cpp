// Rewriting an image in place so that it holds fewer colours, settings, extensions and frames
// while it shows the same animation.
#include "gifimage/optimise.h"

#include <windows.h>

#include <algorithm>

#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/framelock.h"
#include "gifimage/giferror.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/painter.h"
#include "gifimage/progress.h"
#include "gifimage/subimage.h"

namespace {
uint8_t DisposalOf(const TGIFSubImage& frame) {
    return frame.GraphicControlExtension() ? frame.GraphicControlExtension()->DisposalMethod() : kDisposalNone;
}

bool IsKeyed(const TGIFSubImage& frame) { return frame.Transparent() && frame.GraphicControlExtension(); }

// Whether the restore of frame `current` after its display can be left out: the opaque frame
// drawn next covers all of it, and does not itself go back to what was there before it.
bool RestoreIsHidden(const TGIFSubImage& current, const TGIFSubImage& next, const RECT& overlap) {
    const RECT own = current.FrameRect();
    return EqualRect(&overlap, &own) && DisposalOf(next) != kDisposalRestorePrevious;
}

// The time a dropped frame was shown (`shown` units, as the painter waits it) is kept only by a
// transparent predecessor, which holds a graphic control extension to carry it: it is then shown
// for its own time and that one, and the sum stops at the largest delay a frame can hold. With
// any other predecessor the time goes with the dropped frame: none is made up for it.
void PassDelayTo(TGIFSubImage& before, int shown) {
    if (!IsKeyed(before)) return;
    TGIFGraphicControlExtension* control = before.GraphicControlExtension();
    const int own = ShownDelayUnits(control, true);
    control->SetDelayUnits(static_cast<uint16_t>(std::min<int>(0xFFFF, own + shown)));
}

// Whether trimming transparent frame b, or dropping it when nothing is left, shows the same
// animation: a frame that restores the background erases its whole rectangle, and the time a
// wholly transparent frame waits after a restoring predecessor shows the restored screen (a
// delay of 0 is waited as the painter's default).
bool TrimKeepsDisplay(const TGIFImage& image, int b) {
    const TGIFSubImage& frame = *image.Frames()->FrameAt(b);
    if (DisposalOf(frame) == kDisposalRestoreBackground) return false;
    if (b == 0 || ShownDelayUnits(frame.GraphicControlExtension(), true) == 0) return true;
    const uint8_t before = DisposalOf(*image.Frames()->FrameAt(b - 1));
    if (before != kDisposalRestoreBackground && before != kDisposalRestorePrevious) return true;
    const uint8_t key = frame.GraphicControlExtension()->TransparentIndex();
    for (int32_t i = 0; i < frame.PixelsSize(); ++i)
        if (frame.Pixels()[i] != key) return true;
    return false;
}

bool CarriesNothingForDisplay(TGIFExtension* extension, bool keepLoop) {
    if (dynamic_cast<TGIFCommentExtension*>(extension) || dynamic_cast<TGIFTextExtension*>(extension) ||
        dynamic_cast<TGIFUnknownAppExtension*>(extension))
        return true;
    return dynamic_cast<TGIFAppExtNSLoop*>(extension) && !keepLoop;
}

// A graphic control extension that changes nothing about how its frame is shown.
bool IsNeedless(const TGIFGraphicControlExtension& control, bool singleFrame) {
    return (control.DelayUnits() == 0 || singleFrame) && !control.IsTransparent() && !control.WaitsForInput() &&
           (control.DisposalMethod() < kDisposalRestoreBackground || singleFrame);
}

// Keeps the image's painter list locked, so that no painter registers while frames change or
// go, except while a handler runs: that may start a painter, or free the image and the list's
// last share but this one.
class PainterListHold {
public:
    explicit PainterListHold(TGIFImage& image) : list_(image.Painters()) { list_->LockList(); }
    ~PainterListHold() {
        if (locked_) list_->UnlockList();
    }
    PainterListHold(const PainterListHold&) = delete;
    PainterListHold& operator=(const PainterListHold&) = delete;
    // Runs report (which answers whether the image lives) with the list unlocked.
    template <typename Report>
    [[nodiscard]] bool Unlocked(Report report) {
        list_->UnlockList();
        locked_ = false;
        const bool lives = report();
        if (lives) {
            list_->LockList();
            locked_ = true;
        }
        return lives;
    }

private:
    std::shared_ptr<TThreadList<TGIFPainter*>> list_;
    bool locked_ = true;
};

// Counts the steps of the optimisation passes (six for each frame the image had at the start)
// and reports progress with the painter list unlocked. The passes go through the frames by
// index: a progress handler that frees the image, empties or reloads it or takes a frame from it
// ends them with the library's abort.
class OptimizationSteps {
public:
    OptimizationSteps(TGIFImage& image, TGIFProgress& progress, PainterListHold& hold)
        : image_(image)
        , progress_(progress)
        , hold_(hold)
        , total_(6 * image.Frames()->ItemCount()) {}
    void Step() { ++done_; }
    void Skip(int count) { done_ += count; }
    void Report() {
        const TFrameListWatch frames(*image_.Frames());
        EndIfImageFreed(hold_.Unlocked([&] { return progress_.Report(MulDiv(done_, 100, total_)); }));
        EndIfImageFreed(frames.Unchanged());
    }

private:
    TGIFImage& image_;
    TGIFProgress& progress_;
    PainterListHold& hold_;
    const int total_;
    int done_ = 0;
};

// Colour tables lose the entries no pixel uses. Counts no step when not asked for.
void CompactColorMaps(TGIFImage& image, OptimizationSteps& steps) {
    if (image.GlobalColors()->Count() > 0) image.GlobalColors()->Compact();
    for (int i = 0; i < image.Frames()->ItemCount(); ++i) {
        steps.Step();
        TGIFSubImage* frame = image.Frames()->FrameAt(i);
        if (frame->LocalColorMap()->Count() > 0) {
            frame->LocalColorMap()->Compact();
            steps.Report();
        }
    }
}

// Transparency no pixel uses goes, and so do restores that the next frame hides.
void DropUnusedTransparencyAndHiddenRestores(TGIFImage& image, OptimizationSteps& steps) {
    for (int i = 0; i < image.Frames()->ItemCount(); ++i) {
        steps.Step();
        TGIFSubImage* frame = image.Frames()->FrameAt(i);
        if (IsKeyed(*frame) &&
            !ContainsByte(frame->Pixels(), frame->GraphicControlExtension()->TransparentIndex(), frame->PixelsSize())) {
            frame->GraphicControlExtension()->SetIsTransparent(false);
            steps.Report();
        }
    }
    for (int i = 0; i + 1 < image.Frames()->ItemCount(); ++i) {
        steps.Step();
        TGIFSubImage* frame = image.Frames()->FrameAt(i);
        TGIFSubImage* next = image.Frames()->FrameAt(i + 1);
        const uint8_t disposal = DisposalOf(*frame);
        if (!frame->GraphicControlExtension() ||
            (disposal != kDisposalRestoreBackground && disposal != kDisposalRestorePrevious) || next->Transparent())
            continue;
        RECT overlap;
        const RECT own = frame->FrameRect(), other = next->FrameRect();
        if (!IntersectRect(&overlap, &own, &other)) continue;
        if (RestoreIsHidden(*frame, *next, overlap)) frame->GraphicControlExtension()->SetDisposalMethod(kDisposalNone);
        steps.Report();
    }
}

// Each frame loses what the frame it is drawn over already shows; the last goes first so that
// every frame is compared with its predecessor as it was.
void MergeFrames(TGIFImage& image, OptimizationSteps& steps) {
    for (int b = image.Frames()->ItemCount() - 1; b >= 1; --b) {
        steps.Step();
        int p = b - 1;
        while (p > 0 && DisposalOf(*image.Frames()->FrameAt(p)) == kDisposalRestorePrevious) --p;
        image.Frames()->FrameAt(b)->MergeFrom(image.Frames()->FrameAt(p));
        steps.Report();
    }
}

// Transparent borders go; a frame left with nothing to show is dropped.
void TrimFrameBorders(TGIFImage& image, OptimizationSteps& steps) {
    for (int b = image.Frames()->ItemCount() - 1; b >= 0; --b) {
        steps.Step();
        TGIFSubImage* frame = image.Frames()->FrameAt(b);
        if (frame->IsEmpty() || !IsKeyed(*frame)) continue;
        if (!TrimKeepsDisplay(image, b)) continue;
        const int shown = ShownDelayUnits(frame->GraphicControlExtension(), true);
        frame->TrimBorders();
        if (frame->IsEmpty()) {
            if (b > 0) PassDelayTo(*image.Frames()->FrameAt(b - 1), shown);
            image.Frames()->RemoveAt(b);
        }
        steps.Report();
    }
}

// Extensions that change nothing on the screen go, and frames left with nothing at all.
void DropNeedlessExtensions(TGIFImage& image, OptimizationSteps& steps) {
    for (int b = image.Frames()->ItemCount() - 1; b >= 0; --b) {
        TGIFSubImage* frame = image.Frames()->FrameAt(b);
        const bool keepLoop = b == 0 && image.Frames()->ItemCount() > 1;
        for (int e = frame->Extensions()->ItemCount() - 1; e >= 0; --e)
            if (CarriesNothingForDisplay(frame->Extensions()->ExtensionAt(e), keepLoop)) frame->Extensions()->RemoveAt(e);
        if (TGIFGraphicControlExtension* control = frame->GraphicControlExtension())
            if (IsNeedless(*control, image.Frames()->ItemCount() == 1)) delete control;
        if (frame->IsEmpty() && frame->Extensions()->ItemCount() == 0) image.Frames()->RemoveAt(b);
    }
    steps.Report();
}

// The passes of TGIFImage::OptimizeFrames in their order. A pass not asked for still counts
// its steps (the colour tables' excepted), so that the reports of the others stay where they are.
void OptimizeWithListLocked(TGIFImage& image, TOptimizeSet options, TReductionMethod method) {
    TGIFProgress progress(&image, &image, sProgressOptimizing, TGIFProgress::NoRedraw);
    PainterListHold hold(image);
    EndIfImageFreed(hold.Unlocked([&] { return progress.Start(); }));
    OptimizationSteps steps(image, progress, hold);
    const auto frameCount = [&] { return image.Frames()->ItemCount(); };

    if (options & osCompactColorMaps) CompactColorMaps(image, steps);
    if (options & osDropRedundant)
        DropUnusedTransparencyAndHiddenRestores(image, steps);
    else
        steps.Skip(2 * frameCount());
    if (options & osMergeFrames)
        MergeFrames(image, steps);
    else
        steps.Skip(frameCount());
    if (options & osTrimBorders)
        TrimFrameBorders(image, steps);
    else
        steps.Skip(frameCount());
    steps.Skip(frameCount());
    if (options & osDropRedundant)
        DropNeedlessExtensions(image, steps);
    else if ((options & osColorReduction) && method == crCustomPalette)
        RaiseGIFError(sInvalidReductionMethod);

    EndIfImageFreed(hold.Unlocked([&] { return progress.Finish(); }));
}
}  // namespace

bool ContainsByte(const uint8_t* buffer, uint8_t value, int32_t length) {
    if (!buffer) return false;
    for (int32_t i = 0; i < length; ++i)
        if (buffer[i] == value) return true;
    return false;
}

void TGIFImage::OptimizeFrames(TOptimizeSet options, TReductionMethod method) {
    if (IsEmpty()) return;
    // The stop serves the queue, where a handler may free the image.
    EndIfImageFreed(StopAllPainters());
    // A painter that a handler starts meanwhile reads the frames only while a report lets go of
    // the frame lock.
    const FrameLockHold hold(this);
    OptimizeWithListLocked(*this, options, method);
}

void TGIFImage::WriteEmbedded(TStream& stream) {
    if (OptimizeOnStore) OptimizeFrames(osAllOptimizations, crNone);
    SaveToStream(stream);
}
