// The progress report of one operation of an image: its start, running reports and its end,
// through the image's one way of running handlers (TGIFImage::RunHandler).
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "gifimage/gifimage.h"
#include "gifimage/subimage.h"

class TGIFProgress {
public:
    // Whether the end asks the image's holder to redraw.
    enum TEndRedraw { NoRedraw, Redraw, RedrawIfPaletteModified };

    // image may be nullptr (a frame of no image): nothing is reported then. With frame, the
    // operation works on that frame, and a handler that takes it away ends the reports as one
    // that frees the image does.
    TGIFProgress(TGIFImage* image, TObject* sender, std::string message, TEndRedraw endRedraw,
                 const TGIFSubImage* frame = nullptr);
    // The end at 0 % when the operation did not finish: leaves the image alone once it is gone,
    // and a failure of the handler gives way to the one that ended the operation.
    ~TGIFProgress();
    TGIFProgress(const TGIFProgress&) = delete;
    TGIFProgress& operator=(const TGIFProgress&) = delete;

    // Each answers whether the image (and the frame) still lives (true without an image); once it
    // does not, nothing is reported any more.
    [[nodiscard]] bool Start();
    [[nodiscard]] bool Report(int percent, bool redraw = false);
    // The end at 100 %.
    [[nodiscard]] bool Finish();
    [[nodiscard]] bool ImageLives() const { return !image_ || !life_.expired(); }

private:
    [[nodiscard]] bool Send(TProgressStage stage, int percent, bool redraw);
    [[nodiscard]] bool Lives() const;
    bool RedrawAtEnd() const;

    TGIFImage* image_;
    std::weak_ptr<const char> life_;
    std::optional<TFrameWatch> frame_;
    TObject* sender_;
    std::string message_;
    TEndRedraw endRedraw_;
    bool started_ = false;
    bool ended_ = false;
};
