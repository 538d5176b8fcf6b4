// The frames the GUI thread works on under an image's frame lock (FrameLockHold, gifowner.h),
// which painter threads leave alone.
#pragma once
#include <algorithm>
#include <memory>

#include "classlib/threads.h"
#include "gifimage/gifimage.h"
#include "gifimage/subimage.h"

// Whether the GUI thread is rendering the frame or importing into it. Called with the lock held.
inline bool FrameInWork(const TGIFImage& image, const TGIFSubImage* frame) {
    return std::find(image.FramesInWork.begin(), image.FramesInWork.end(), frame) != image.FramesInWork.end();
}

// Holds the frame lock of a frame's image and marks the frame as in work, so that painter
// threads leave it alone also while the holder lets go of the lock for a handler. A handler
// that frees the image leaves the mark to go with it.
class FrameWorkHold {
public:
    explicit FrameWorkHold(const TGIFSubImage& frame) : frame_(&frame), image_(frame.OwnerImage()), hold_(image_) {
        if (!image_) return;
        life_ = image_->Lifetime;
        image_->FramesInWork.push_back(frame_);
    }
    ~FrameWorkHold() {
        if (!image_ || life_.expired()) return;
        auto& marks = image_->FramesInWork;
        if (const auto it = std::find(marks.begin(), marks.end(), frame_); it != marks.end()) marks.erase(it);
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
