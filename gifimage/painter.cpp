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
    return (painter.DrawFlags() & dfThreaded) && painter.ThreadID() != GetCurrentThreadId() &&
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
    if (!(image.DrawFlags() & dfTile)) {
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
    , ownerImage_(image)
    , targetCanvas_(canvas)
    , targetRect_(rect)
    , drawFlags_(drawFlags)
    , speedPercent_(image->SpeedPercent())
    , frameLock_(image->FrameLock()) {
    FreeOnTerminate = true;
    OnTerminate = [this] { Detach(); };
    if ((drawFlags_ & dfThreaded) && (drawFlags_ & dfAnimate) && image->Frames()->ItemCount() > 1 && speedPercent_ >= 0)
        wakeEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    try {
        if (image->BackgroundOverride() != kUnsetBackground)
            backgroundColor_ = static_cast<TColor>(ColorToRGB(image->BackgroundOverride()));
        else if (image->GlobalColors()->Count() == 0)
            backgroundColor_ = static_cast<TColor>(ColorToRGB(clWindow));
        else
            backgroundColor_ = image->BackgroundColor();

        bool restoresBackground = (drawFlags_ & dfClearFirstFrame) != 0;
        bool restoresPrevious = false;
        for (int i = 0; i < image->Frames()->ItemCount(); ++i) {
            if (const TGIFGraphicControlExtension* control = image->Frames()->FrameAt(i)->GraphicControlExtension()) {
                restoresBackground |= control->DisposalMethod() == kDisposalRestoreBackground;
                restoresPrevious |= control->DisposalMethod() == kDisposalRestorePrevious;
            }
        }
        const int width = WidthOf(rect), height = HeightOf(rect);
        if (restoresBackground && (drawFlags_ & dfTransparent))
            underlayBitmap_ = AreaBitmap(width, height, canvas, &rect);
        if (restoresBackground || restoresPrevious) {
            compositeBitmap_ = AreaBitmap(width, height, canvas, &rect);
            scratchBitmap_ = AreaBitmap(width, height, nullptr, nullptr);
        }
    } catch (...) {
        ReleaseResources();
        throw;
    }
    ownerSlot_ = ownerSlot;
    if (ownerSlot_) *ownerSlot_ = this;
}

TGIFPainter::~TGIFPainter() {
    if (!Threaded()) Detach();
    ReleaseResources();
}

void TGIFPainter::ReleaseResources() {
    compositeBitmap_.reset();
    scratchBitmap_.reset();
    underlayBitmap_.reset();
    if (wakeEvent_) CloseHandle(wakeEvent_);
    wakeEvent_ = nullptr;
}

void TGIFPainter::StartPainting() {
    if (Threaded()) Start();
}

void TGIFPainter::StopPainting() {
    Terminate();
    if (!Threaded()) return;
    if (wakeEvent_) SetEvent(wakeEvent_);
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
        if (Terminated() || !ownerImage_) return;
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
    pendingHandler_ = handler;
    try {
        RunInPaintContext(&TGIFPainter::CallPendingEvent);
    } catch (...) {
        pendingHandler_ = nullptr;
        throw;
    }
    pendingHandler_ = nullptr;
}

void TGIFPainter::CallPendingEvent() {
    if (pendingHandler_) pendingHandler_(this);
}

TGIFSubImage* TGIFPainter::FrameAt(int index) const {
    if (!ownerImage_ || index < 0 || index >= ownerImage_->Frames()->ItemCount()) return nullptr;
    return ownerImage_->Frames()->FrameAt(index);
}

void TGIFPainter::RunAnimation() {
    try {
        Animate();
    } catch (const Exception&) {
        Terminate();
        failedException_ = std::current_exception();
    }
    if (Threaded()) return;
    // A painter on the calling thread frees itself; what ended its body reaches the caller.
    const std::exception_ptr failed = failedException_;
    failedException_ = nullptr;
    delete this;
    if (failed) std::rethrow_exception(failed);
}

void TGIFPainter::Animate() {
    if (drawFlags_ & dfValidateTarget) targetDC_ = targetCanvas_->Handle();
    currentFrame_ = 0;
    FireAnimationEvent(OnAnimationStart);
    firstFramePainted_ = false;

    TLoopState loop;
    int delay = Threaded() ? 0 : 1;
    previousDisposal_ = kDisposalKeep;
    stamp_ = timeGetTime();
    lastWait_ = 0;
    const bool animate = (drawFlags_ & dfAnimate) != 0;
    while ((loop.left != 0 || (drawFlags_ & dfLoopEndlessly)) && !Terminated()) {
        currentFrame_ = loop.startFrame;
        if (firstFramePainted_) FireAnimationEvent(OnLoopPass);
        bool painted = false;
        if (!PlayPass(delay, loop, painted)) break;
        if (loop.left > 0) --loop.left;
        if (!(animate && (drawFlags_ & dfLoop))) break;
        // A pass that shows nothing would repeat without painting or waiting.
        if (!painted) break;
    }
    currentFrame_ = -1;
    FireAnimationEvent(OnAnimationEnd);
}

bool TGIFPainter::PlayPass(int& delay, TLoopState& loop, bool& painted) {
    while (!Terminated()) {
        switch (PlayFrame(delay, loop)) {
        case TFrameStep::Stopped: return false;
        case TFrameStep::PassEnds: return true;
        case TFrameStep::Shown: painted = true; break;
        }
        if (!(drawFlags_ & dfAnimate)) return true;
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
    const int noted = currentFrame_;
    FireAnimationEvent(OnFrameDone);
    if (Terminated()) return TFrameStep::Stopped;
    if (currentFrame_ == noted) ++currentFrame_;
    return TFrameStep::Shown;
}

// Whether the current frame is there to be shown in this pass. When a wait comes first, its
// bitmap is rendered now, so that the paint on the GUI thread only draws: on a painter's own
// thread under the frame lock and without reports, on the GUI thread as any render.
bool TGIFPainter::PrepareFrame(bool renderAhead) {
    TGIFSubImage* frame;
    {
        const TSharedLockHold hold(frameLock_);
        frame = FrameAt(currentFrame_);
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
    const TGIFSubImage* frame = FrameAt(currentFrame_);
    if (!frame) return controls;
    controls.present = true;
    for (int i = 0; i < frame->Extensions()->ItemCount(); ++i) {
        TGIFExtension* extension = frame->Extensions()->ExtensionAt(i);
        if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(extension)) {
            if (controls.hasLoop) continue;
            controls.hasLoop = true;
            controls.loopCount = loop->LoopCount();
        } else if (auto* control = dynamic_cast<TGIFGraphicControlExtension*>(extension)) {
            controls.disposal = control->DisposalMethod();
        }
    }
    controls.delay = ShownDelayUnits(frame->GraphicControlExtension(), Threaded());
    return controls;
}

// The first loop extension of the run sets the passes left and where later passes start.
void TGIFPainter::ApplyLoop(const TFrameControls& controls, TLoopState& loop) const {
    if (!controls.hasLoop || loop.seen) return;
    loop.seen = true;
    loop.left = controls.loopCount;
    if (Threaded() && (controls.loopCount == 0 || (drawFlags_ & dfLoopEndlessly))) loop.left = -1;
    loop.startFrame = currentFrame_;
}

void TGIFPainter::ShowFrame(uint8_t disposal) {
    currentDisposal_ = disposal;
    RunInPaintContext(compositeBitmap_ ? &TGIFPainter::PaintFrameBuffered : &TGIFPainter::PaintFrameDirect);
    previousDisposal_ = currentDisposal_;
}

void TGIFPainter::WaitForFrame(int delay) {
    if (delay <= 0) {
        Sleep(0);
        return;
    }
    const DWORD now = timeGetTime();
    int wait;
    if (speedPercent_ <= 0) {
        wait = Threaded() ? -1 : MaxFrameDelay * FrameDelayUnitMs;
    } else {
        const int overrun = static_cast<int>(now - stamp_ - static_cast<DWORD>(lastWait_));
        wait = MulDiv(delay * FrameDelayUnitMs - overrun / 2, 100, speedPercent_);
        lastWait_ = wait;
    }
    stamp_ = now;

    if (Threaded()) {
        if (wait > 0 || speedPercent_ == 0) {
            const DWORD result = wakeEvent_
                                     ? WaitForSingleObject(wakeEvent_, wait < 0 ? INFINITE : static_cast<DWORD>(wait))
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
    TGIFSubImage* frame = FrameAt(currentFrame_);
    if (!frame) return;
    frame->DrawFrame(*targetCanvas_, targetRect_, (drawFlags_ & dfTransparent) != 0, (drawFlags_ & dfTile) != 0);
    firstFramePainted_ = true;
    // A transparent drawing notifies the target itself; what that ran may have stopped the
    // painter and freed the target (the image's cached bitmap), or the whole image.
    if (!Terminated()) targetCanvas_->Changed();
}

void TGIFPainter::PaintFrameBuffered() {
    if ((drawFlags_ & dfValidateTarget) && !IsDeviceContext(targetDC_)) {
        Terminate();
        return;
    }
    TGIFSubImage* frame = FrameAt(currentFrame_);
    if (!frame) return;
    const bool clearFirst = (drawFlags_ & dfClearFirstFrame) && currentFrame_ == 0;
    const RECT whole{0, 0, WidthOf(targetRect_), HeightOf(targetRect_)};

    TCanvas* surface = nullptr;
    RECT area = whole;
    bool copyToTarget = false;
    bool overPrevious = false;
    if (currentDisposal_ <= kDisposalRestoreBackground) {
        surface = &compositeBitmap_->Canvas();
        copyToTarget = true;
    } else if (currentDisposal_ == kDisposalRestorePrevious) {
        if (previousDisposal_ <= kDisposalKeep) {
            surface = targetCanvas_;
            area = targetRect_;
        } else if (previousDisposal_ <= kDisposalRestorePrevious) {
            surface = &scratchBitmap_->Canvas();
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
                BitBlt(dc, 0, 0, whole.right, whole.bottom, compositeBitmap_->Canvas().Handle(), 0, 0, SRCCOPY);
            frame->DrawFrame(*surface, area, (drawFlags_ & dfTransparent) != 0, (drawFlags_ & dfTile) != 0);
            // Drawn transparently on the target itself, the frame notifies it; what that ran
            // may have stopped the painter and freed the frames, the target or the image.
            stopped = Terminated();
            if (copyToTarget && !stopped)
                BitBlt(targetCanvas_->Handle(), targetRect_.left, targetRect_.top, whole.right, whole.bottom, dc, 0, 0,
                       SRCCOPY);
        } catch (...) {
            if (earlier) SelectPalette(dc, earlier, FALSE);
            throw;
        }
        if (earlier && !(stopped && surface == targetCanvas_)) SelectPalette(dc, earlier, FALSE);
        if (stopped) return;
        if (currentDisposal_ == kDisposalRestoreBackground) EraseDisposedArea();
    }
    firstFramePainted_ = true;
    // Last: the notification may reach code that stops the painter or frees the image.
    if (surface) targetCanvas_->Changed();
}

// Restores the current frame's area of the composite picture to what lay under the image,
// or to the background colour. Works in the composite's own coordinates.
void TGIFPainter::EraseDisposedArea() {
    const TGIFSubImage* current = FrameAt(currentFrame_);
    if (!current) return;
    const TGIFSubImage& frame = *current;
    HDC composite = compositeBitmap_->Canvas().Handle();
    const RECT whole{0, 0, WidthOf(targetRect_), HeightOf(targetRect_)};
    const int screenWidth = ownerImage_->ScreenWidth(), screenHeight = ownerImage_->ScreenHeight();
    const bool transparent = (drawFlags_ & dfTransparent) != 0 && underlayBitmap_;
    const bool tile = (drawFlags_ & dfTile) != 0;
    if (transparent) {
        HDC underlay = underlayBitmap_->Canvas().Handle();
        auto restore = [&](const RECT& r) {
            BitBlt(composite, r.left, r.top, WidthOf(r), HeightOf(r), underlay, r.left, r.top, SRCCOPY);
        };
        if (tile)
            ForEachTile(frame, whole, screenWidth, screenHeight, restore);
        else
            restore(frame.ScaleFrameRect(whole));
    } else if (tile && frame.Width() != screenWidth && frame.Height() != screenHeight) {
        const TColor fill = ownerImage_->BackgroundOverride() != kUnsetBackground ? ownerImage_->BackgroundOverride()
                                                                               : backgroundColor_;
        ForEachTile(frame, whole, screenWidth, screenHeight,
                    [&](const RECT& r) { compositeBitmap_->Canvas().FillRect(r, fill); });
    } else {
        compositeBitmap_->Canvas().FillRect(frame.ScaleFrameRect(whole), backgroundColor_);
    }
}

void TGIFPainter::Detach() {
    if (TGIFImage* image = ownerImage_) {
        {
            ListLock lock(image->Painters());
            if (ownerSlot_ && *ownerSlot_ == this) *ownerSlot_ = nullptr;
        }
        image->Painters()->Remove(this);
        ownerImage_ = nullptr;
    }
    ReleaseResources();
}

// --- TGIFImage: drawing and painters -------------------------------------------------

TGIFPainter* TGIFImage::StartPainter(TGIFPainter** ownerSlot, TCanvas* canvas, uint16_t flags, const RECT& rect) {
    if (IsEmpty() || rect.left >= rect.right || rect.top >= rect.bottom) {
        if (ownerSlot) *ownerSlot = nullptr;
        return nullptr;
    }
    if (frames_->ItemCount() == 1) flags &= static_cast<uint16_t>(~(dfThreaded | dfAnimate));
    auto* painter = new TGIFPainter(this, flags, rect, canvas, ownerSlot);
    painters_->Add(painter);
    painter->OnAnimationStart = OnAnimationStart;
    painter->OnFrameBegin = OnFrameBegin;
    painter->OnFrameDone = OnFrameDone;
    painter->OnLoopPass = OnLoopPass;
    painter->OnAnimationEnd = OnAnimationEnd;
    if (!(flags & dfThreaded)) {
        // The body runs handlers and dispatches messages, and any of them may free the image.
        const bool slotInImage = ownerSlot == &ownPainter_;
        const bool lives = RunHandler([painter] { painter->RunAnimation(); });
        if (ownerSlot && !(slotInImage && !lives)) *ownerSlot = nullptr;
        return nullptr;
    }
    painter->SetPriority(PainterThreadPriority(painterPriority_));
    return painter;
}

bool TGIFImage::StopOwnPainter() {
    // The painters waited for take the frame lock on their way out.
    const TSharedLockRelease released(frameLock_);
    for (;;) {
        painters_->LockList();
        if (!ownPainter_) {
            painters_->UnlockList();
            break;
        }
        ownPainter_->StopPainting();
        if (!AwaitedPainter(*ownPainter_)) {
            painters_->UnlockList();
            break;
        }
        painters_->UnlockList();
        // The queue may run a handler of another painter that frees the image.
        if (!RunHandler(&ServiceDetaches)) return false;
    }
    ReleaseBitmap();
    return true;
}

bool TGIFImage::StopAllPainters() {
    const TSharedLockRelease released(frameLock_);
    for (;;) {
        std::vector<TGIFPainter*>& painters = painters_->LockList();
        if (painters.empty()) {
            painters_->UnlockList();
            break;
        }
        int threaded = 0;
        for (auto it = painters.rbegin(); it != painters.rend(); ++it) {
            if (AwaitedPainter(**it)) ++threaded;
            (*it)->StopPainting();
        }
        painters_->UnlockList();
        if (threaded == 0) break;
        if (!RunHandler(&ServiceDetaches)) return false;
    }
    ReleaseBitmap();
    return true;
}

void TGIFImage::DrawImage(TCanvas& canvas, const RECT& rect) {
    if (drawingNow_ || frames_->ItemCount() == 0) return;
    // The handlers and paints of the painters, and the messages that a painter on this thread
    // dispatches, run from here on; any of them may free the image, which is then left alone.
    const std::weak_ptr<const char> life = lifetime_;
    DrawingGuard guard(drawingNow_, life);
    const bool transparent = (drawFlags_ & dfTransparent) != 0, tile = (drawFlags_ & dfTile) != 0;

    if (frames_->ItemCount() == 1 || !(drawFlags_ & dfAnimate)) {
        const int index = currentFrameIndex_ >= 0 && currentFrameIndex_ < frames_->ItemCount() ? currentFrameIndex_ : 0;
        frames_->FrameAt(index)->DrawFrame(canvas, rect, transparent, tile);
        return;
    }
    const bool onTarget = (drawFlags_ & dfPaintOnTarget) != 0;
    if (cachedBitmap_ && !onTarget) {
        BlitBitmap(*this, canvas, rect, CurrentBitmap());
        return;
    }

    ListLock lock(painters_);
    if (ownPainter_ && !ownPainter_->Terminated() && ownPainter_->PaintsOn(canvas, rect)) return;
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
    if (!RunHandler([&] { painter = StartPainter(&ownPainter_, target, drawFlags_, targetRect); })) return;
    if (!painter) {
        // A painter on this thread has already played its animation into the cached bitmap.
        if (!onTarget && cachedBitmap_) BlitBitmap(*this, canvas, rect, cachedBitmap_.get());
        return;
    }
    painter->StartPainting();
    if (onTarget) return;
    while (ownPainter_ && !ownPainter_->Terminated() && !ownPainter_->FirstFramePainted()) {
        const bool lives = RunHandler([] {
            if (!CheckSynchronize()) Sleep(0);
        });
        if (!lives) return;
    }
    BlitBitmap(*this, canvas, rect, CurrentBitmap());
}
