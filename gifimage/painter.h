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

    TGIFImage* OwnerImage;
    TCanvas* TargetCanvas;
    RECT TargetRect;
    uint16_t DrawFlags;
    int SpeedPercent;
    int CurrentFrame = -1;
    uint8_t CurrentDisposal = kDisposalKeep;
    uint8_t PreviousDisposal = kDisposalKeep;
    std::unique_ptr<TBitmap> CompositeBitmap;
    std::unique_ptr<TBitmap> ScratchBitmap;
    std::unique_ptr<TBitmap> UnderlayBitmap;
    HDC TargetDC = nullptr;
    TGIFPainter** OwnerSlot = nullptr;
    HANDLE WakeEvent = nullptr;
    std::exception_ptr FailedException;
    // C++ exceptions carry no raise address; stays nullptr.
    void* FailedAddress = nullptr;
    TNotifyEvent PendingHandler;
    TNotifyEvent OnAnimationStart;
    TNotifyEvent OnFrameBegin;
    TNotifyEvent OnFrameDone;
    TNotifyEvent OnLoopPass;
    TNotifyEvent OnAnimationEnd;
    // The colour of erased areas, chosen at construction.
    TColor BackgroundColor = 0;

protected:
    void Execute() override { RunAnimation(); }

private:
    enum class TFrameStep { Shown, PassEnds, Stopped };
    void Animate();
    // Plays the frames of one pass from CurrentFrame; false when the painter was asked to end.
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
    bool Threaded() const { return (DrawFlags & dfThreaded) != 0; }
    // The image's frame lock, shared so that it outlives the image.
    std::shared_ptr<TCriticalLock> frameLock_;
    // Written by the painter's thread, read by the GUI thread (DrawImage waits for it).
    std::atomic<bool> firstFramePainted_{false};
    // Written on the GUI thread, read by the stops.
    std::atomic<bool> inPaintContext_{false};
    DWORD stamp_ = 0;
    int lastWait_ = 0;
};
