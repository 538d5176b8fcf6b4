#include "gifimage/progress.h"

#include <utility>

TGIFProgress::TGIFProgress(TGIFImage* image, TObject* sender, std::string message, TEndRedraw endRedraw,
                           const TGIFSubImage* frame)
    : image_(image)
    , life_(image ? std::weak_ptr<const char>(image->Life()) : std::weak_ptr<const char>())
    , sender_(sender)
    , message_(std::move(message))
    , endRedraw_(endRedraw) {
    if (frame) frame_.emplace(*frame);
}

// Once the frame is gone, the image sends the end in its place.
TGIFProgress::~TGIFProgress() {
    if (!started_ || ended_ || !ImageLives()) return;
    if (frame_ && !frame_->Lives()) {
        sender_ = image_;
        frame_.reset();
    }
    try {
        static_cast<void>(Send(psEnding, 0, RedrawAtEnd()));
    } catch (...) {
    }
}

bool TGIFProgress::Start() {
    started_ = true;
    return Send(psStarting, 0, false);
}

bool TGIFProgress::Report(int percent, bool redraw) { return Send(psRunning, percent, redraw); }

bool TGIFProgress::Finish() {
    ended_ = true;
    return Send(psEnding, 100, RedrawAtEnd());
}

bool TGIFProgress::Send(TProgressStage stage, int percent, bool redraw) {
    if (!image_) return true;
    if (!Lives()) return false;
    return image_->ReportProgress(sender_, stage, percent, redraw, message_) && Lives();
}

bool TGIFProgress::Lives() const { return !life_.expired() && (!frame_ || frame_->Lives()); }

bool TGIFProgress::RedrawAtEnd() const {
    return endRedraw_ == Redraw || (endRedraw_ == RedrawIfPaletteModified && image_->PaletteModified());
}
