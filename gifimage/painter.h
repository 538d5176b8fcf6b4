// The painter: a thread object that walks the frames of one image on one canvas rectangle,
// keeps the frame timing, applies the disposal methods, loops and fires the image's
// animation handlers. Paints and handlers run on the GUI thread through Synchronize.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>

#include "classlib/bitmap.h"
#include "classlib/classes.h"
#include "classlib/threads.h"
#include "gifimage/gifimage.h"

// Class-library thread priority (0 idle to 6 time-critical, 3 normal) as a Windows priority.
int PainterThreadPriority(int priority);

// What the body needs of a frame to show it, read in one step under the frame lock.
struct TFrameControls {
    bool present = false;  // the frame is still listed
    uint8_t disposal = kDisposalKeep;
    int delay = 0;         // units to wait after it
    bool hasLoop = false;  // its first loop extension, if any
    int loopCount = 0;
};

// How far the body's passes have come with the loop extension.
struct TLoopState {
    int left = 1;
    int startFrame = 0;
    bool seen = false;
};

class TGIFPainter : public TThread, public TObject {
public:
    // Created suspended and freed when its body ends; writes itself into ownerSlot.
    TGIFPainter(TGIFImage* image, uint16_t drawFlags, const RECT& rect, TCanvas* canvas, TGIFPainter** ownerSlot);
    ~TGIFPainter() override;

    void StartPainting();
    // Asks the painter to end; a threaded one is woken from its wait and from suspension.
    void StopPainting();
    void RunInPaintContext(void (TGIFPainter::*method)());
    // The body. Without dfThreaded it runs on the calling thread and frees the painter at
    // its end; an exception that ended it is raised again afterwards.
    void RunAnimation();
    void PaintFrameDirect();
    void PaintFrameBuffered();
    void FireAnimationEvent(const TNotifyEvent& handler);
    void CallPendingEvent();
    // The termination handler: leaves the image and frees the painter's bitmaps.
    void Detach();

    // Whether a frame has been shown since the animation (or its last pass) began.
    bool FirstFramePainted() const { return firstFramePainted_; }
    // Whether a paint or handler of this threaded painter runs on the GUI thread now; a stop
    // made from inside it cannot wait for the painter, which is blocked until it returns.
    bool InPaintContext() const { return inPaintContext_; }

    // The image played (none once it is gone or the painter has left it).
    TGIFImage* OwnerImage() const { return ownerImage_; }
    // The image is being freed: the painter reaches into it no more.
    void ForgetImage() { ownerImage_ = nullptr; }
    TCanvas* TargetCanvas() const { return targetCanvas_; }
    const RECT& TargetRect() const { return targetRect_; }
    // Whether it plays on that canvas rectangle.
    bool PaintsOn(const TCanvas& canvas, const RECT& rect) const {
        return targetCanvas_ == &canvas && EqualRect(&targetRect_, &rect);
    }
    uint16_t DrawFlags() const { return drawFlags_; }
    int SpeedPercent() const { return speedPercent_; }
    // The frame shown (-1 before the first); a handler may set the frame to go on from.
    int CurrentFrame() const { return currentFrame_; }
    void SetCurrentFrame(int index) { currentFrame_ = index; }
    // The painter's own bitmaps (none when it paints directly) and its wake event (none
    // without a thread of its own).
    TBitmap* CompositeBitmap() const { return compositeBitmap_.get(); }
    TBitmap* ScratchBitmap() const { return scratchBitmap_.get(); }
    TBitmap* UnderlayBitmap() const { return underlayBitmap_.get(); }
    HANDLE WakeEvent() const { return wakeEvent_; }
    // The colour of erased areas, chosen at construction.
    TColor BackgroundColor() const { return backgroundColor_; }

    TNotifyEvent OnAnimationStart;
    TNotifyEvent OnFrameBegin;
    TNotifyEvent OnFrameDone;
    TNotifyEvent OnLoopPass;
    TNotifyEvent OnAnimationEnd;

protected:
    void Execute() override { RunAnimation(); }

private:
    enum class TFrameStep { Shown, PassEnds, Stopped };
    void Animate();
    // Plays the frames of one pass from the current frame; false when the painter was asked to end.
    bool PlayPass(int& delay, TLoopState& loop, bool& painted);
    TFrameStep PlayFrame(int& delay, TLoopState& loop);
    bool PrepareFrame(bool renderAhead);
    TFrameControls ReadFrameControls();
    void ApplyLoop(const TFrameControls& controls, TLoopState& loop) const;
    void ShowFrame(uint8_t disposal);
    void WaitForFrame(int delay);
    void PumpMessages();
    void EraseDisposedArea();
    void ReleaseResources();
    // The frame at index, or nullptr when the image has no such frame (any more).
    TGIFSubImage* FrameAt(int index) const;
    bool Threaded() const { return (drawFlags_ & dfThreaded) != 0; }

    TGIFImage* ownerImage_;
    TCanvas* targetCanvas_;
    RECT targetRect_;
    uint16_t drawFlags_;
    int speedPercent_;
    int currentFrame_ = -1;
    uint8_t currentDisposal_ = kDisposalKeep;
    uint8_t previousDisposal_ = kDisposalKeep;
    std::unique_ptr<TBitmap> compositeBitmap_;
    std::unique_ptr<TBitmap> scratchBitmap_;
    std::unique_ptr<TBitmap> underlayBitmap_;
    HDC targetDC_ = nullptr;
    TGIFPainter** ownerSlot_ = nullptr;
    HANDLE wakeEvent_ = nullptr;
    std::exception_ptr failedException_;
    // C++ exceptions carry no raise address; stays nullptr.
    void* failedAddress_ = nullptr;
    TNotifyEvent pendingHandler_;
    TColor backgroundColor_ = 0;
    // The image's frame lock, shared so that it outlives the image.
    std::shared_ptr<TCriticalLock> frameLock_;
    // Written by the painter's thread, read by the GUI thread (DrawImage waits for it).
    std::atomic<bool> firstFramePainted_{false};
    // Written on the GUI thread, read by the stops.
    std::atomic<bool> inPaintContext_{false};
    DWORD stamp_ = 0;
    int lastWait_ = 0;
};
