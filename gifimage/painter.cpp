#include "gifimage/painter.h"

#include <mmsystem.h>

#include <algorithm>

#include "classlib/sysutils.h"
#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/framelock.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"

namespace {
const TColor kUnsetBackground = 0x1FFFFFFF;

int WidthOf(const RECT& r) { return r.right - r.left; }
int HeightOf(const RECT& r) { return r.bottom - r.top; }

// A bitmap of the given size, holding a copy of source's rectangle when source is given.
std::unique_ptr<TBitmap> AreaBitmap(int width, int height, TCanvas* source, const RECT* from) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetSize(width, height);
    if (source && from && !bitmap->Empty())
        BitBlt(bitmap->Canvas().Handle(), 0, 0, width, height, source->Handle(), from->left, from->top, SRCCOPY);
    return bitmap;
}

bool IsDeviceContext(HDC dc) {
    const DWORD type = GetObjectType(dc);
    return type == OBJ_DC || type == OBJ_MEMDC;
}

// Calls visit(rect) for every copy of the frame's rectangle on a grid of screen-sized steps
// that starts at origin plus the frame's offset and covers area.
template <typename Visit>
void ForEachTile(const TGIFSubImage& frame, const RECT& area, int stepX, int stepY, Visit visit) {
    stepX = std::max(stepX, 1);
    stepY = std::max(stepY, 1);
    for (int x = area.left + frame.Left(); x < area.right; x += stepX)
        for (int y = area.top + frame.Top(); y < area.bottom; y += stepY)
            visit(RECT{x, y, x + frame.Width(), y + frame.Height()});
}

// Unlocks a thread list on every way out; holds a share of the list, so that it can still
// unlock when the image that owned the list has been freed meanwhile.
class ListLock {
public:
    explicit ListLock(std::shared_ptr<TThreadList<TGIFPainter*>> list) : list_(std::move(list)) { list_->LockList(); }
    ~ListLock() { list_->UnlockList(); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    std::shared_ptr<TThreadList<TGIFPainter*>> list_;
};

// Clears a re-entry guard of the image on every way out, unless the image has been freed.
class DrawingGuard {
public:
    DrawingGuard(bool& flag, std::weak_ptr<const char> imageLife) : flag_(flag), imageLife_(std::move(imageLife)) {
        flag_ = true;
    }
    ~DrawingGuard() {
        if (!imageLife_.expired()) flag_ = false;
    }
    DrawingGuard(const DrawingGuard&) = delete;
    DrawingGuard& operator=(const DrawingGuard&) = delete;

private:
    bool& flag_;
    std::weak_ptr<const char> imageLife_;
};

// A threaded painter that the stop can wait for: not the one whose thread calls the stop, nor
// one whose paint or handler the calling thread is running right now.
bool AwaitedPainter(const TGIFPainter& painter) {
    return (painter.DrawFlags & dfThreaded) && painter.ThreadID() != GetCurrentThreadId() &&
           !(painter.InPaintContext() && GetCurrentThreadId() == MainThreadID());
}

// Lets the GUI thread run what painters handed to it, then gives up the time slice. What the
// queue runs may free any image; callers run it through TGIFImage::RunHandler.
void ServiceDetaches() {
    if (GetCurrentThreadId() == MainThreadID())
        while (CheckSynchronize()) {
        }
    Sleep(0);
}

// Copies the cached bitmap onto the caller's canvas: stretched, or tiled at the screen size.
void BlitBitmap(TGIFImage& image, TCanvas& canvas, const RECT& rect, TBitmap* bitmap) {
    if (!bitmap) return;
    if (!(image.DrawFlags & dfTile)) {
        canvas.StretchDraw(rect, *bitmap);
        return;
    }
    const int width = image.ScreenWidth(), height = image.ScreenHeight();
    if (width <= 0 || height <= 0) return;
    for (int x = rect.left; x < rect.right; x += width)
        for (int y = rect.top; y < rect.bottom; y += height)
            canvas.StretchDraw(RECT{x, y, x + width, y + height}, *bitmap);
}
}  // namespace

int PainterThreadPriority(int priority) {
    static const int kPriorities[] = {
        THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
        THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_TIME_CRITICAL};
    return kPriorities[std::clamp(priority, 0, 6)];
}

// --- TGIFPainter -------------------------------------------------------------------

TGIFPainter::TGIFPainter(TGIFImage* image, uint16_t drawFlags, const RECT& rect, TCanvas* canvas,
                         TGIFPainter** ownerSlot)
    : TThread(true)
    , OwnerImage(image)
    , TargetCanvas(canvas)
    , TargetRect(rect)
    , DrawFlags(drawFlags)
    , SpeedPercent(image->SpeedPercent)
    , frameLock_(image->FrameLock()) {
    FreeOnTerminate = true;
    OnTerminate = [this] { Detach(); };
    if ((DrawFlags & dfThreaded) && (DrawFlags & dfAnimate) && image->Frames->ItemCount() > 1 && SpeedPercent >= 0)
        WakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    try {
        if (image->BackgroundOverride != kUnsetBackground)
            BackgroundColor = static_cast<TColor>(ColorToRGB(image->BackgroundOverride));
        else if (image->GlobalColors()->Count() == 0)
            BackgroundColor = static_cast<TColor>(ColorToRGB(clWindow));
        else
            BackgroundColor = image->BackgroundColor();

        bool restoresBackground = (DrawFlags & dfClearFirstFrame) != 0;
        bool restoresPrevious = false;
        for (int i = 0; i < image->Frames->ItemCount(); ++i) {
            if (const TGIFGraphicControlExtension* control = image->Frames->FrameAt(i)->GraphicControlExtension) {
                restoresBackground |= control->DisposalMethod() == kDisposalRestoreBackground;
                restoresPrevious |= control->DisposalMethod() == kDisposalRestorePrevious;
            }
        }
        const int width = WidthOf(rect), height = HeightOf(rect);
        if (restoresBackground && (DrawFlags & dfTransparent))
            UnderlayBitmap = AreaBitmap(width, height, canvas, &rect);
        if (restoresBackground || restoresPrevious) {
            CompositeBitmap = AreaBitmap(width, height, canvas, &rect);
            ScratchBitmap = AreaBitmap(width, height, nullptr, nullptr);
        }
    } catch (...) {
        ReleaseResources();
        throw;
    }
    OwnerSlot = ownerSlot;
    if (OwnerSlot) *OwnerSlot = this;
}

TGIFPainter::~TGIFPainter() {
    if (!Threaded()) Detach();
    ReleaseResources();
}

void TGIFPainter::ReleaseResources() {
    CompositeBitmap.reset();
    ScratchBitmap.reset();
    UnderlayBitmap.reset();
    if (WakeEvent) CloseHandle(WakeEvent);
    WakeEvent = nullptr;
}

void TGIFPainter::StartPainting() {
    if (Threaded()) Start();
}

void TGIFPainter::StopPainting() {
    Terminate();
    if (!Threaded()) return;
    if (WakeEvent) SetEvent(WakeEvent);
    SetPriority(THREAD_PRIORITY_NORMAL);
    if (Suspended()) Start();
}

void TGIFPainter::RunInPaintContext(void (TGIFPainter::*method)()) {
    if (Terminated()) return;
    if (!Threaded()) {
        (this->*method)();
        return;
    }
    // Checked again on the GUI thread: a stop (and the release of the target) may come
    // between the request and its turn in the queue.
    Synchronize([this, method] {
        if (Terminated() || !OwnerImage) return;
        inPaintContext_ = true;
        try {
            (this->*method)();
        } catch (...) {
            inPaintContext_ = false;
            throw;
        }
        inPaintContext_ = false;
    });
}

void TGIFPainter::FireAnimationEvent(const TNotifyEvent& handler) {
    if (!handler) return;
    PendingHandler = handler;
    try {
        RunInPaintContext(&TGIFPainter::CallPendingEvent);
    } catch (...) {
        PendingHandler = nullptr;
        throw;
    }
    PendingHandler = nullptr;
}

void TGIFPainter::CallPendingEvent() {
    if (PendingHandler) PendingHandler(this);
}

TGIFSubImage* TGIFPainter::FrameAt(int index) const {
    if (!OwnerImage || index < 0 || index >= OwnerImage->Frames->ItemCount()) return nullptr;
    return OwnerImage->Frames->FrameAt(index);
}

void TGIFPainter::RunAnimation() {
    try {
        Animate();
    } catch (const Exception&) {
        Terminate();
        FailedException = std::current_exception();
    }
    if (Threaded()) return;
    // A painter on the calling thread frees itself; what ended its body reaches the caller.
    const std::exception_ptr failed = FailedException;
    FailedException = nullptr;
    delete this;
    if (failed) std::rethrow_exception(failed);
}

void TGIFPainter::Animate() {
    if (DrawFlags & dfValidateTarget) TargetDC = TargetCanvas->Handle();
    CurrentFrame = 0;
    FireAnimationEvent(OnAnimationStart);
    firstFramePainted_ = false;

    TLoopState loop;
    int delay = Threaded() ? 0 : 1;
    PreviousDisposal = kDisposalKeep;
    stamp_ = timeGetTime();
    lastWait_ = 0;
    const bool animate = (DrawFlags & dfAnimate) != 0;
    while ((loop.left != 0 || (DrawFlags & dfLoopEndlessly)) && !Terminated()) {
        CurrentFrame = loop.startFrame;
        if (firstFramePainted_) FireAnimationEvent(OnLoopPass);
        bool painted = false;
        if (!PlayPass(delay, loop, painted)) break;
        if (loop.left > 0) --loop.left;
        if (!(animate && (DrawFlags & dfLoop))) break;
        // A pass that shows nothing would repeat without painting or waiting.
        if (!painted) break;
    }
    CurrentFrame = -1;
    FireAnimationEvent(OnAnimationEnd);
}

bool TGIFPainter::PlayPass(int& delay, TLoopState& loop, bool& painted) {
    while (!Terminated()) {
        switch (PlayFrame(delay, loop)) {
        case TFrameStep::Stopped: return false;
        case TFrameStep::PassEnds: return true;
        case TFrameStep::Shown: painted = true; break;
        }
        if (!(DrawFlags & dfAnimate)) return true;
    }
    return true;
}

// Waits for the current frame's turn, shows it and moves on, firing the frame handlers; a
// handler may stop the painter, change the frames or choose the next frame.
TGIFPainter::TFrameStep TGIFPainter::PlayFrame(int& delay, TLoopState& loop) {
    if (!PrepareFrame(delay > 0)) return TFrameStep::PassEnds;
    WaitForFrame(delay);
    if (Terminated()) return TFrameStep::Stopped;
    FireAnimationEvent(OnFrameBegin);
    if (Terminated()) return TFrameStep::Stopped;
    const TFrameControls controls = ReadFrameControls();
    if (!controls.present) return TFrameStep::PassEnds;
    ApplyLoop(controls, loop);
    ShowFrame(controls.disposal);
    if (Terminated()) return TFrameStep::Stopped;
    delay = controls.delay;
    const int noted = CurrentFrame;
    FireAnimationEvent(OnFrameDone);
    if (Terminated()) return TFrameStep::Stopped;
    if (CurrentFrame == noted) ++CurrentFrame;
    return TFrameStep::Shown;
}

// Whether the current frame is there to be shown in this pass. When a wait comes first, its
// bitmap is rendered now, so that the paint on the GUI thread only draws: on a painter's own
// thread under the frame lock and without reports, on the GUI thread as any render.
bool TGIFPainter::PrepareFrame(bool renderAhead) {
    TGIFSubImage* frame;
    {
        const TSharedLockHold hold(frameLock_);
        frame = FrameAt(CurrentFrame);
        if (!frame || frame->IsEmpty()) return false;
        if (renderAhead && Threaded()) frame->RenderAhead();
    }
    if (renderAhead && !Threaded()) frame->RenderedBitmap();
    return true;
}

// The current frame's disposal method (the last graphic control extension's), its first loop
// extension and the delay after it (that of the frame's graphic control extension).
TFrameControls TGIFPainter::ReadFrameControls() {
    const TSharedLockHold hold(frameLock_);
    TFrameControls controls;
    const TGIFSubImage* frame = FrameAt(CurrentFrame);
    if (!frame) return controls;
    controls.present = true;
    for (int i = 0; i < frame->Extensions->ItemCount(); ++i) {
        TGIFExtension* extension = frame->Extensions->ExtensionAt(i);
        if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(extension)) {
            if (controls.hasLoop) continue;
            controls.hasLoop = true;
            controls.loopCount = loop->LoopCount();
        } else if (auto* control = dynamic_cast<TGIFGraphicControlExtension*>(extension)) {
            controls.disposal = control->DisposalMethod();
        }
    }
    controls.delay = ShownDelayUnits(frame->GraphicControlExtension, Threaded());
    return controls;
}

// The first loop extension of the run sets the passes left and where later passes start.
void TGIFPainter::ApplyLoop(const TFrameControls& controls, TLoopState& loop) const {
    if (!controls.hasLoop || loop.seen) return;
    loop.seen = true;
    loop.left = controls.loopCount;
    if (Threaded() && (controls.loopCount == 0 || (DrawFlags & dfLoopEndlessly))) loop.left = -1;
    loop.startFrame = CurrentFrame;
}

void TGIFPainter::ShowFrame(uint8_t disposal) {
    CurrentDisposal = disposal;
    RunInPaintContext(CompositeBitmap ? &TGIFPainter::PaintFrameBuffered : &TGIFPainter::PaintFrameDirect);
    PreviousDisposal = CurrentDisposal;
}

void TGIFPainter::WaitForFrame(int delay) {
    if (delay <= 0) {
        Sleep(0);
        return;
    }
    const DWORD now = timeGetTime();
    int wait;
    if (SpeedPercent <= 0) {
        wait = Threaded() ? -1 : MaxFrameDelay * FrameDelayUnitMs;
    } else {
        const int overrun = static_cast<int>(now - stamp_ - static_cast<DWORD>(lastWait_));
        wait = MulDiv(delay * FrameDelayUnitMs - overrun / 2, 100, SpeedPercent);
        lastWait_ = wait;
    }
    stamp_ = now;

    if (Threaded()) {
        if (wait > 0 || SpeedPercent == 0) {
            const DWORD result = WakeEvent
                                     ? WaitForSingleObject(WakeEvent, wait < 0 ? INFINITE : static_cast<DWORD>(wait))
                                     : WAIT_FAILED;
            if (result != WAIT_TIMEOUT) {
                lastWait_ = 0;
                stamp_ = timeGetTime();
            }
        }
        return;
    }
    if (wait < 1) wait = 1;
    while (wait > 0 && !Terminated()) {
        const DWORD before = timeGetTime();
        Sleep(static_cast<DWORD>(std::min(wait, 100)));
        wait -= static_cast<int>(timeGetTime() - before);
        PumpMessages();
    }
}

// The waits of a painter on the calling thread keep its messages flowing; a quit message
// ends the painter and is posted again for the application's loop.
void TGIFPainter::PumpMessages() {
    MSG msg;
    while (!Terminated() && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            Terminate();
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void TGIFPainter::PaintFrameDirect() {
    // The frames may have changed since the body read the frame's controls.
    TGIFSubImage* frame = FrameAt(CurrentFrame);
    if (!frame) return;
    frame->DrawFrame(*TargetCanvas, TargetRect, (DrawFlags & dfTransparent) != 0, (DrawFlags & dfTile) != 0);
    firstFramePainted_ = true;
    // A transparent drawing notifies the target itself; what that ran may have stopped the
    // painter and freed the target (the image's cached bitmap), or the whole image.
    if (!Terminated()) TargetCanvas->Changed();
}

void TGIFPainter::PaintFrameBuffered() {
    if ((DrawFlags & dfValidateTarget) && !IsDeviceContext(TargetDC)) {
        Terminate();
        return;
    }
    TGIFSubImage* frame = FrameAt(CurrentFrame);
    if (!frame) return;
    const bool clearFirst = (DrawFlags & dfClearFirstFrame) && CurrentFrame == 0;
    const RECT whole{0, 0, WidthOf(TargetRect), HeightOf(TargetRect)};

    TCanvas* surface = nullptr;
    RECT area = whole;
    bool copyToTarget = false;
    bool overPrevious = false;
    if (CurrentDisposal <= kDisposalRestoreBackground) {
        surface = &CompositeBitmap->Canvas();
        copyToTarget = true;
    } else if (CurrentDisposal == kDisposalRestorePrevious) {
        if (PreviousDisposal <= kDisposalKeep) {
            surface = TargetCanvas;
            area = TargetRect;
        } else if (PreviousDisposal <= kDisposalRestorePrevious) {
            surface = &ScratchBitmap->Canvas();
            copyToTarget = true;
            overPrevious = true;
        }
    }
    if (surface) {
        HDC dc = surface->Handle();
        HPALETTE palette = frame->PaletteHandle();
        if (!palette) palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
        HPALETTE earlier = SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
        bool stopped = false;
        try {
            if (clearFirst) EraseDisposedArea();
            if (overPrevious)
                BitBlt(dc, 0, 0, whole.right, whole.bottom, CompositeBitmap->Canvas().Handle(), 0, 0, SRCCOPY);
            frame->DrawFrame(*surface, area, (DrawFlags & dfTransparent) != 0, (DrawFlags & dfTile) != 0);
            // Drawn transparently on the target itself, the frame notifies it; what that ran
            // may have stopped the painter and freed the frames, the target or the image.
            stopped = Terminated();
            if (copyToTarget && !stopped)
                BitBlt(TargetCanvas->Handle(), TargetRect.left, TargetRect.top, whole.right, whole.bottom, dc, 0, 0,
                       SRCCOPY);
        } catch (...) {
            if (earlier) SelectPalette(dc, earlier, FALSE);
            throw;
        }
        if (earlier && !(stopped && surface == TargetCanvas)) SelectPalette(dc, earlier, FALSE);
        if (stopped) return;
        if (CurrentDisposal == kDisposalRestoreBackground) EraseDisposedArea();
    }
    firstFramePainted_ = true;
    // Last: the notification may reach code that stops the painter or frees the image.
    if (surface) TargetCanvas->Changed();
}

// Restores the current frame's area of the composite picture to what lay under the image,
// or to the background colour. Works in the composite's own coordinates.
void TGIFPainter::EraseDisposedArea() {
    const TGIFSubImage* current = FrameAt(CurrentFrame);
    if (!current) return;
    const TGIFSubImage& frame = *current;
    HDC composite = CompositeBitmap->Canvas().Handle();
    const RECT whole{0, 0, WidthOf(TargetRect), HeightOf(TargetRect)};
    const int screenWidth = OwnerImage->ScreenWidth(), screenHeight = OwnerImage->ScreenHeight();
    const bool transparent = (DrawFlags & dfTransparent) != 0 && UnderlayBitmap;
    const bool tile = (DrawFlags & dfTile) != 0;
    if (transparent) {
        HDC underlay = UnderlayBitmap->Canvas().Handle();
        auto restore = [&](const RECT& r) {
            BitBlt(composite, r.left, r.top, WidthOf(r), HeightOf(r), underlay, r.left, r.top, SRCCOPY);
        };
        if (tile)
            ForEachTile(frame, whole, screenWidth, screenHeight, restore);
        else
            restore(frame.ScaleFrameRect(whole));
    } else if (tile && frame.Width() != screenWidth && frame.Height() != screenHeight) {
        const TColor fill = OwnerImage->BackgroundOverride != kUnsetBackground ? OwnerImage->BackgroundOverride
                                                                               : BackgroundColor;
        ForEachTile(frame, whole, screenWidth, screenHeight,
                    [&](const RECT& r) { CompositeBitmap->Canvas().FillRect(r, fill); });
    } else {
        CompositeBitmap->Canvas().FillRect(frame.ScaleFrameRect(whole), BackgroundColor);
    }
}

void TGIFPainter::Detach() {
    if (TGIFImage* image = OwnerImage) {
        {
            ListLock lock(image->Painters);
            if (OwnerSlot && *OwnerSlot == this) *OwnerSlot = nullptr;
        }
        image->Painters->Remove(this);
        OwnerImage = nullptr;
    }
    ReleaseResources();
}

// --- TGIFImage: drawing and painters -------------------------------------------------

TGIFPainter* TGIFImage::StartPainter(TGIFPainter** ownerSlot, TCanvas* canvas, uint16_t flags, const RECT& rect) {
    if (IsEmpty() || rect.left >= rect.right || rect.top >= rect.bottom) {
        if (ownerSlot) *ownerSlot = nullptr;
        return nullptr;
    }
    if (Frames->ItemCount() == 1) flags &= static_cast<uint16_t>(~(dfThreaded | dfAnimate));
    auto* painter = new TGIFPainter(this, flags, rect, canvas, ownerSlot);
    Painters->Add(painter);
    painter->OnAnimationStart = OnAnimationStart;
    painter->OnFrameBegin = OnFrameBegin;
    painter->OnFrameDone = OnFrameDone;
    painter->OnLoopPass = OnLoopPass;
    painter->OnAnimationEnd = OnAnimationEnd;
    if (!(flags & dfThreaded)) {
        // The body runs handlers and dispatches messages, and any of them may free the image.
        const bool slotInImage = ownerSlot == &OwnPainter;
        const bool lives = RunHandler([painter] { painter->RunAnimation(); });
        if (ownerSlot && !(slotInImage && !lives)) *ownerSlot = nullptr;
        return nullptr;
    }
    painter->SetPriority(PainterThreadPriority(PainterPriority));
    return painter;
}

bool TGIFImage::StopOwnPainter() {
    // The painters waited for take the frame lock on their way out.
    const TSharedLockRelease released(frameLock_);
    for (;;) {
        Painters->LockList();
        if (!OwnPainter) {
            Painters->UnlockList();
            break;
        }
        OwnPainter->StopPainting();
        if (!AwaitedPainter(*OwnPainter)) {
            Painters->UnlockList();
            break;
        }
        Painters->UnlockList();
        // The queue may run a handler of another painter that frees the image.
        if (!RunHandler(&ServiceDetaches)) return false;
    }
    ReleaseBitmap();
    return true;
}

bool TGIFImage::StopAllPainters() {
    const TSharedLockRelease released(frameLock_);
    for (;;) {
        std::vector<TGIFPainter*>& painters = Painters->LockList();
        if (painters.empty()) {
            Painters->UnlockList();
            break;
        }
        int threaded = 0;
        for (auto it = painters.rbegin(); it != painters.rend(); ++it) {
            if (AwaitedPainter(**it)) ++threaded;
            (*it)->StopPainting();
        }
        Painters->UnlockList();
        if (threaded == 0) break;
        if (!RunHandler(&ServiceDetaches)) return false;
    }
    ReleaseBitmap();
    return true;
}

void TGIFImage::DrawImage(TCanvas& canvas, const RECT& rect) {
    if (DrawingNow || Frames->ItemCount() == 0) return;
    // The handlers and paints of the painters, and the messages that a painter on this thread
    // dispatches, run from here on; any of them may free the image, which is then left alone.
    const std::weak_ptr<const char> life = Lifetime;
    DrawingGuard guard(DrawingNow, life);
    const bool transparent = (DrawFlags & dfTransparent) != 0, tile = (DrawFlags & dfTile) != 0;

    if (Frames->ItemCount() == 1 || !(DrawFlags & dfAnimate)) {
        const int index = CurrentFrameIndex >= 0 && CurrentFrameIndex < Frames->ItemCount() ? CurrentFrameIndex : 0;
        Frames->FrameAt(index)->DrawFrame(canvas, rect, transparent, tile);
        return;
    }
    const bool onTarget = (DrawFlags & dfPaintOnTarget) != 0;
    if (CachedBitmap && !onTarget) {
        BlitBitmap(*this, canvas, rect, CurrentBitmap());
        return;
    }

    ListLock lock(Painters);
    if (OwnPainter && !OwnPainter->Terminated() && OwnPainter->TargetCanvas == &canvas &&
        EqualRect(&OwnPainter->TargetRect, &rect))
        return;
    if (!StopOwnPainter()) return;

    TCanvas* target = &canvas;
    RECT targetRect = rect;
    if (!onTarget) {
        TBitmap* cached = AllocBitmap();
        target = &cached->Canvas();
        targetRect = RECT{0, 0, ScreenWidth(), ScreenHeight()};
        StretchBlt(target->Handle(), 0, 0, targetRect.right, targetRect.bottom, canvas.Handle(), rect.left, rect.top,
                   rect.right - rect.left, rect.bottom - rect.top, SRCCOPY);
    }
    TGIFPainter* painter = nullptr;
    if (!RunHandler([&] { painter = StartPainter(&OwnPainter, target, DrawFlags, targetRect); })) return;
    if (!painter) {
        // A painter on this thread has already played its animation into the cached bitmap.
        if (!onTarget && CachedBitmap) BlitBitmap(*this, canvas, rect, CachedBitmap.get());
        return;
    }
    painter->StartPainting();
    if (onTarget) return;
    while (OwnPainter && !OwnPainter->Terminated() && !OwnPainter->FirstFramePainted()) {
        const bool lives = RunHandler([] {
            if (!CheckSynchronize()) Sleep(0);
        });
        if (!lives) return;
    }
    BlitBitmap(*this, canvas, rect, CurrentBitmap());
}
