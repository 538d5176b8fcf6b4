// The frames the GUI thread works on under an image's frame lock (FrameLockHold, gifowner.h),
// which painter threads leave alone.
#pragma once
#include <algorithm>
#include <memory>

#include "classlib/threads.h"
#include "gifimage/gifimage.h"
#include "gifimage/subimage.h"

// Holds the frame lock of a frame's image and marks the frame as in work, so that painter
// threads leave it alone also while the holder lets go of the lock for a handler. A handler
// that frees the image leaves the mark to go with it.
class FrameWorkHold {
public:
    explicit FrameWorkHold(const TGIFSubImage& frame) : frame_(&frame), image_(frame.OwnerImage()), hold_(image_) {
        if (!image_) return;
        life_ = image_->Life();
        image_->MarkFrameInWork(frame_);
    }
    ~FrameWorkHold() {
        if (image_ && !life_.expired()) image_->UnmarkFrameInWork(frame_);
    }
    FrameWorkHold(const FrameWorkHold&) = delete;
    FrameWorkHold& operator=(const FrameWorkHold&) = delete;

private:
    const TGIFSubImage* frame_;
    TGIFImage* image_;
    std::weak_ptr<const char> life_;
    FrameLockHold hold_;
};

// Called, when set, as a frame's render begins and as it ends, on the thread that renders;
// tests count with it the renders of one frame under way at once.
extern void (*RenderTrace)(const TGIFSubImage& frame, bool begins);
