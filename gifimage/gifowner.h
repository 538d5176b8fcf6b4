// What the parts of a GIF image (header, frames, lists, colour tables, extensions) need of the
// image that owns them: where their warnings and progress go, whether the image still lives,
// the lock that guards what painter threads read, and the word that the global colours changed.
// The image implements it; the parts below the picture class know their image through it only.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "classlib/classes.h"
#include "classlib/graphics.h"
#include "classlib/threads.h"
#include "gifimage/giferror.h"

class TGIFImage;

class TGIFOwner {
public:
    // The image itself, for the parts that work with the whole picture.
    virtual TGIFImage* Image() = 0;
    // Each report runs the image's handler, which may free the image: the answer is whether the
    // image still lives, and once it does not the caller touches nothing of it again.
    [[nodiscard]] virtual bool Warn(TObject* sender, uint8_t severity, const std::string& message) = 0;
    [[nodiscard]] virtual bool ReportProgress(TObject* sender, TProgressStage stage, int percent, bool redraw,
                                              const std::string& message) = 0;
    // A reference that expires when the image is freed.
    virtual std::weak_ptr<const char> Life() const = 0;
    // Held by painter threads while they read the frames, and by every change of what they read.
    virtual const std::shared_ptr<TCriticalLock>& FrameLock() const = 0;
    // The global colour table changed: a palette made from it no longer holds.
    virtual void GlobalColorsChanged() = 0;

protected:
    ~TGIFOwner() = default;
};

// What makes a list or an item a part of an image: the image it belongs to (none for a part of
// no image), as the image and as what its parts need of it. Reading either reads nothing of the
// image, which may be gone.
class TGIFPart {
public:
    explicit TGIFPart(TGIFOwner* owner) : owner_(owner), image_(owner ? owner->Image() : nullptr) {}
    TGIFImage* OwnerImage() const { return image_; }
    TGIFOwner* Owner() const { return owner_; }
    // Hands the part to another image, or to none; a frame hands over its parts with itself.
    void SetOwner(TGIFOwner* owner) {
        owner_ = owner;
        image_ = owner ? owner->Image() : nullptr;
    }

private:
    TGIFOwner* owner_;
    TGIFImage* image_;
};

// Ends the running call with the library's abort when a handler has freed the image.
inline void EndIfImageFreed(bool imageLives) {
    if (!imageLives) throw EImageFreed("");
}

// Holds the frame lock of an image; nothing for a part of no image, which no painter can reach.
class FrameLockHold {
public:
    explicit FrameLockHold(const TGIFOwner* owner) : lock_(owner ? owner->FrameLock() : nullptr) {
        if (lock_) lock_->lock();
    }
    // Of the image of a part (a frame, a list).
    template <class Part>
        requires requires(const Part& part) { part.Owner(); }
    explicit FrameLockHold(const Part& part) : FrameLockHold(part.Owner()) {}
    ~FrameLockHold() {
        if (lock_) lock_->unlock();
    }
    FrameLockHold(const FrameLockHold&) = delete;
    FrameLockHold& operator=(const FrameLockHold&) = delete;

private:
    std::shared_ptr<TCriticalLock> lock_;
};
