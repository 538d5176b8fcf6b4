// TGIFImage, the library's picture class, with the library-wide settings.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <utility>

#include "classlib/bitmap.h"
#include "classlib/graphics.h"
#include "classlib/threads.h"
#include "gifimage/colorreduction.h"
#include "gifimage/giferror.h"
#include "gifimage/gifformat.h"
#include "gifimage/gifowner.h"
#include "gifimage/settings.h"
#include "gifimage/optimise.h"

// The parts of an image, declared in the library's own headers (gifimage/gifstream.h,
// gifimage/subimage.h, gifimage/colormap.h, gifimage/painter.h) for those who work on them.
class TGIFColorMap;
class TGIFHeader;
class TGIFImageList;
class TGIFPainter;
class TGIFSubImage;
class TPixelReserve;
class TUnlistedFrame;

enum : uint16_t {
    dfThreaded = 0x0001,
    dfTransparent = 0x0002,
    dfAnimate = 0x0004,
    dfLoop = 0x0008,
    dfLoopEndlessly = 0x0010,
    dfValidateTarget = 0x0020,
    dfPaintOnTarget = 0x0040,
    dfClearFirstFrame = 0x0080,
    dfTile = 0x0100,
    dfDither = 0x0200,
    dfDitherPaletteOnly = 0x0400,
};

// (sender, severity, message) of a warning.
using TGIFWarning = std::function<void(TObject* sender, uint8_t severity, const std::string& message)>;

class TGIFImage : public TGraphic, public TGIFOwner {
    // First of the members, so that it is there while the others are made and freed.
    const std::shared_ptr<TCriticalLock> frameLock_ = std::make_shared<TCriticalLock>();

public:
    TGIFImage();
    ~TGIFImage() override;
    TGIFImage(const TGIFImage&) = delete;
    TGIFImage& operator=(const TGIFImage&) = delete;

    // The picture protocol of the class library.
    bool Empty() const override { return IsEmpty(); }
    int Width() const override { return ScreenWidth(); }
    int Height() const override { return ScreenHeight(); }
    void SetWidth(int width) override { SetScreenWidth(width); }
    void SetHeight(int height) override { SetScreenHeight(height); }
    HPALETTE Palette() override { return PaletteHandle(); }
    void SetPalette(HPALETTE palette) override { SetPaletteHandle(palette); }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    void LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) override;
    void SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette) override;
    void Draw(TCanvas& canvas, const RECT& rect) override { DrawImage(canvas, rect); }
    std::unique_ptr<TGraphic> CreateNew() const override { return std::make_unique<TGIFImage>(); }
    void Assign(const TPersistent& source) override { CopyFrom(const_cast<TPersistent*>(&source)); }
    // A TBitmap target receives the whole-image bitmap; other targets raise EConvertError.
    void AssignTo(TPersistent& target) const override;
    void CopyTo(TPersistent& target);

    // The key of the class in the picture registries.
    static TGraphicClass ClassKey();

    void ClearImage();
    void ResetImage() { ClearImage(); }
    void LoadFromNamedResource(HMODULE module, const std::string& name);
    void FitScreenToFrames();

    bool IsEmpty() const;
    int ScreenWidth() const;
    int ScreenHeight() const;
    void SetScreenWidth(int value);
    void SetScreenHeight(int value);
    bool SameAs(const TGraphic& other) const { return &other == this; }

    GIFVersion RequiredVersion() const;
    int ColorDepth() const;
    int BitDepth() const;
    TColor BackgroundColor();
    TGIFColorMap* GlobalColors() const;
    HPALETTE PaletteHandle();
    void SetPaletteHandle(HPALETTE handle);
    bool NeedsDither() const;

    int AddFrameFrom(TPersistent* source);
    // The cached whole-image bitmap, made on first use (nullptr for an empty image).
    TBitmap* CurrentBitmap();
    // The cached bitmap, made blank at the screen's size when missing.
    TBitmap* AllocBitmap();
    void ReleaseBitmap();

    void CopyFrom(TPersistent* source);
    void ReadClipboard(uint16_t format, HANDLE data, HPALETTE palette);

    // Drawing and animation painters.
    // Draws the image into rect; an animated image starts its own painter on a cached bitmap.
    void DrawImage(TCanvas& canvas, const RECT& rect);
    // A new painter (still suspended when threaded) or nullptr; writes it into ownerSlot.
    TGIFPainter* StartPainter(TGIFPainter** ownerSlot, TCanvas* canvas, uint16_t flags, const RECT& rect);
    // Stop the own painter / every painter, wait for the threaded ones to leave, release the bitmap.
    // The wait serves the GUI queue, where a handler may free the image: false when it did, and
    // the caller touches nothing of the image again.
    [[nodiscard]] bool StopOwnPainter();
    [[nodiscard]] bool StopAllPainters();

    // Optimisation: rewrites frames, colour tables and extensions in place (os* option bits).
    void OptimizeFrames(TOptimizeSet options, TReductionMethod method);
    // The form-data write: the whole image, optimised first when OptimizeOnStore is set.
    void WriteEmbedded(TStream& stream);

    // The clipboard write: the whole-image bitmap through the out parameters, the stream itself
    // on the open clipboard in the "GIF Image" format.
    void WriteClipboard(uint16_t& format, HANDLE& data, HPALETTE& palette);

    // The one way the library runs what may free the image: a handler (progress, warning, change,
    // paint, animation), a message pump or the GUI queue. Answers whether the image still lives;
    // once it does not, the caller touches nothing of the image and ends its call, raising
    // EImageFreed (EndIfImageFreed) unless it can return without the image. What the call
    // raises goes on to the caller as it is. The calling thread lets go of FrameLock while the
    // call runs and takes it back afterwards, also when the image is gone.
    template <typename Call>
    [[nodiscard]] bool RunHandler(Call&& call) {
        const std::weak_ptr<const char> life = lifetime_;
        {
            const TSharedLockRelease released(frameLock_);
            std::forward<Call>(call)();
        }
        return !life.expired();
    }
    [[nodiscard]] bool ReportProgress(TObject* sender, TProgressStage stage, int percent, bool redraw,
                                      const std::string& message) override;
    [[nodiscard]] bool Warn(TObject* sender, uint8_t severity, const std::string& message) override;
    // The change notification, with the image or another sender (a frame, say).
    [[nodiscard]] bool NotifyChanged(TObject* sender);

    virtual void ReportWarning(TObject* sender, uint8_t severity, const std::string& message);
    using TGraphic::Progress;
    // The picture's own change notification lets go of FrameLock while its handlers run.
    void Changed() override {
        const TSharedLockRelease released(frameLock_);
        TGraphic::Changed();
    }

    // What the parts of the image need of it.
    TGIFImage* Image() override { return this; }
    std::weak_ptr<const char> Life() const override { return lifetime_; }
    // Painter threads hold it while they read the frame list, a frame and its extensions and
    // while they render a frame ahead of its turn. The GUI thread holds it while it renders a
    // frame and while it changes the frames, their extensions, pixels, colours, bitmaps and
    // palettes, or the image's cached bitmap and palette. It is never held across a handler
    // (the handler calls of the image let go of it) nor across a stop of painters. Shared, so
    // that a holder can still let go of it when a handler has freed the image.
    const std::shared_ptr<TCriticalLock>& FrameLock() const override { return frameLock_; }
    void GlobalColorsChanged() override { SetPaletteHandle(nullptr); }

    // The frames in stream order, and the header with the logical screen and global table.
    TGIFImageList* Frames() const { return frames_.get(); }
    TGIFHeader* Header() const { return header_.get(); }

    // The settings. Those that painter threads read (the flags, as a render ahead asks whether to
    // dither, and the speed) change under the frame lock.
    uint16_t DrawFlags() const { return drawFlags_; }
    void SetDrawFlags(uint16_t flags);
    int SpeedPercent() const { return speedPercent_; }
    void SetSpeedPercent(int percent);
    TReductionMethod ReductionMethod() const { return reductionMethod_; }
    void SetReductionMethod(TReductionMethod method) { reductionMethod_ = method; }
    int ReductionBits() const { return reductionBits_; }
    void SetReductionBits(int bits) { reductionBits_ = bits; }
    TDitherKind DitherMode() const { return ditherMode_; }
    void SetDitherMode(TDitherKind mode) { ditherMode_ = mode; }
    // The pixel encoder of a save: 0 LZW, 1 run-length.
    uint8_t Compression() const { return compression_; }
    void SetCompression(uint8_t compression) { compression_ = compression; }
    // The class-library priority (0 idle to 6 time-critical) of threaded painters.
    uint8_t PainterPriority() const { return painterPriority_; }
    void SetPainterPriority(uint8_t priority) { painterPriority_ = priority; }
    // The frame drawn when the image is not animated; out of range means frame 0.
    int CurrentFrameIndex() const { return currentFrameIndex_; }
    void SetCurrentFrameIndex(int index) { currentFrameIndex_ = index; }
    // The painters' background colour; 0x1FFFFFFF (the default) means none is set.
    TColor BackgroundOverride() const { return backgroundOverride_; }
    void SetBackgroundOverride(TColor color) { backgroundOverride_ = color; }

    // The whole-image bitmap as it stands (none until CurrentBitmap or AllocBitmap makes it).
    TBitmap* CachedBitmap() const { return cachedBitmap_.get(); }
    // The painter that DrawImage keeps, if any.
    TGIFPainter* OwnPainter() const { return ownPainter_; }
    // Every live painter of the image. Shared: code that holds its lock while it runs handlers or
    // dispatches messages keeps the list, and with it the lock, when the image is freed under
    // it, until it unlocks.
    const std::shared_ptr<TThreadList<TGIFPainter*>>& Painters() const { return painters_; }

    // Frames that the GUI thread renders or imports into, also while it lets go of the frame lock
    // for a handler; painter threads do not render them. Called with the frame lock held.
    bool FrameInWork(const TGIFSubImage* frame) const;
    void MarkFrameInWork(const TGIFSubImage* frame) { framesInWork_.push_back(frame); }
    void UnmarkFrameInWork(const TGIFSubImage* frame);
    // While a load runs, the smallest pixel buffer of the frames it replaced that holds size
    // bytes (and at most twice that); null when none is left or no load runs.
    uint8_t* TakeReservedPixels(uint32_t size);

    TGIFWarning OnWarningMessage;
    TNotifyEvent OnAnimationStart;
    TNotifyEvent OnFrameBegin;
    TNotifyEvent OnFrameDone;
    TNotifyEvent OnLoopPass;
    TNotifyEvent OnAnimationEnd;

private:
    class LoadReserveScope;
    // With reserve, the frames' pixel buffers go to it rather than back to the heap.
    void ClearImage(TPixelReserve* reserve);
    void SetScreenExtent(int side, int value);
    void CopyImage(TGIFImage& other);
    int AddNewFrame(TUnlistedFrame& frame);
    TPersistent* SourceThatOutlivesClearing(TPersistent* source, std::unique_ptr<TGIFImage>& heldImage,
                                            std::unique_ptr<TBitmap>& heldBitmap);

    // Reads and sets the guards and the palette cache in tests; nothing else.
    friend struct TGIFTestSeam;

    std::vector<const TGIFSubImage*> framesInWork_;
    // While a load runs: the buffers of the frames it replaced, which its frames' pixels take.
    TPixelReserve* loadReserve_ = nullptr;
    // The re-entry guards of DrawImage and PaletteHandle.
    bool drawingNow_ = false;
    bool inPaletteQuery_ = false;
    std::unique_ptr<TGIFImageList> frames_;
    std::unique_ptr<TGIFHeader> header_;
    HPALETTE paletteCache_ = nullptr;
    std::shared_ptr<TThreadList<TGIFPainter*>> painters_;
    uint16_t drawFlags_;
    TReductionMethod reductionMethod_;
    int reductionBits_;
    TDitherKind ditherMode_;
    uint8_t compression_;
    std::unique_ptr<TBitmap> cachedBitmap_;
    TGIFPainter* ownPainter_ = nullptr;
    uint8_t painterPriority_;
    int speedPercent_;
    int currentFrameIndex_ = -1;
    TColor backgroundOverride_ = 0x1FFFFFFF;
    // Lives exactly as long as the image. Drawing and painter operations that run handlers,
    // paints or messages (any of which may free the image) watch it through a weak reference
    // (Life) and touch nothing of the image once it has expired.
    const std::shared_ptr<const char> lifetime_ = std::make_shared<const char>('\0');
};

void GIFImageInitialization();
void GIFImageFinalization();
