// The painter: a thread object that walks the frames of one image on one canvas rectangle,
// keeps the frame timing, applies the disposal methods, loops and fires the image's
// animation handlers. Paints and handlers run on the GUI thread through Synchronize.
#pragma once
#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>

#include "classlib/bitmap.h"
#include "classlib/classes.h"
#include "classlib/threads.h"
#include "gifimage/gifimage.h"

// Class-library thread priority (0 idle to 6 time-critical, 3 normal) as a Windows priority.
int PainterThreadPriority(int priority);

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
    volatile bool FirstFramePainted = false;
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
    // Set on the GUI thread while a paint or handler of this threaded painter runs there; a
    // stop made from inside it cannot wait for the painter, which is blocked until it returns.
    volatile bool InPaintContext = false;

protected:
    void Execute() override { RunAnimation(); }

private:
    void Animate();
    void WaitForFrame(TGIFSubImage* frame, int delay);
    void PumpMessages();
    void EraseDisposedArea();
    void ReleaseResources();
    TGIFSubImage* FrameAt(int index) const;
    int FrameCount() const;
    bool Threaded() const { return (DrawFlags & dfThreaded) != 0; }
    DWORD stamp_ = 0;
    int lastWait_ = 0;
};
