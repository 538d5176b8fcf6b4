// One frame of a GIF image: its leading extensions, image descriptor, local colour table
// and pixels (one colour index per pixel, rows top to bottom, no gaps).
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/bitmap.h"
#include "gifimage/colormap.h"
#include "gifimage/gifformat.h"
#include "gifimage/gifstream.h"

class TGIFExtension;
class TGIFGraphicControlExtension;
class TGIFImageList;

// Every frame's pixel buffer comes from here and goes back here (nullptr when there is no memory).
uint8_t* NewPixelBuffer(size_t size, bool zeroed);
void FreePixelBuffer(uint8_t* pixels);

#pragma pack(push, 1)
// The image descriptor as its 10 bytes in the stream.
struct TImageDescriptor {
    uint8_t Separator;
    uint16_t Left;
    uint16_t Top;
    uint16_t Width;
    uint16_t Height;
    uint8_t PackedFields;
};
#pragma pack(pop)
static_assert(sizeof(TImageDescriptor) == 10);

// The extension blocks in front of a frame's descriptor.
class TGIFExtensionList : public TGIFList {
public:
    using TGIFList::TGIFList;
    // Reads extension blocks until ",", ";" or a stray byte; parent is the frame.
    void LoadItems(TStream& stream, TObject* parent) override;
    TGIFExtension* ExtensionAt(int index) const;
};

// The pixel buffers of the frames a load replaces, for the frames it reads. Under Wine's heap a
// freed buffer's pages go back to the system and a new one faults on each first touch, which
// costs a reload of an animation of small frames as much as decoding it. What no frame takes
// goes back to the heap with the reserve.
class TPixelReserve {
public:
    TPixelReserve() = default;
    ~TPixelReserve();
    TPixelReserve(const TPixelReserve&) = delete;
    TPixelReserve& operator=(const TPixelReserve&) = delete;

    // Takes over the pixel buffers of the frames of a list about to be emptied.
    void KeepPixelsOf(const TGIFImageList& frames);
    // The smallest kept buffer of at least size bytes (and at most twice that), null when none.
    uint8_t* Take(uint32_t size);

private:
    struct Buffer {
        uint32_t size;
        uint8_t* pixels;
    };
    std::vector<Buffer> buffers_;  // by size
};

class TGIFSubImage : public TGIFItem {
public:
    explicit TGIFSubImage(TGIFOwner* owner);
    ~TGIFSubImage() override;

    void Assign(const TPersistent& source) override;
    // Import of another frame or picture.
    void CopyFrom(const TPersistent& source);
    // Import from frames, bitmaps, icons, metafiles and other pictures; nullptr empties the frame.
    void CopyFrom(const TPersistent* source);
    void CopyFrame(TGIFSubImage& source);
    void ImportBitmap(TBitmap& source);
    void ImportGraphic(TGraphic& source);
    GIFVersion RequiredVersion() const override;
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;

    void ResetFrame();
    const TGIFSubImage* FrameOfItem() const override { return this; }
    // The image's progress report and change notification with the frame as sender; each answers
    // whether the frame is still there (TFrameWatch::Lives), true for a frame of no image.
    [[nodiscard]] bool ReportProgress(TProgressStage stage, int percent, bool redraw, const std::string& message);
    [[nodiscard]] bool NotifyChanged();
    // Hands the frame, with its extensions, to another image (or to none); the frame's list
    // membership is the caller's business.
    void SetOwnerImage(TGIFImage* image);
    // Drops the frame's and its extensions' reference to an image that has been freed, reading
    // nothing of it.
    void ForgetFreedOwner();

    // A buffer for the descriptor's size, zeroed unless the caller writes every pixel itself.
    void AllocPixels(bool zeroed = true);
    void ReleasePixels();
    // Hands the pixel buffer over (with its size) and leaves the frame without one.
    uint8_t* GiveUpPixels(uint32_t& size);
    void EnsurePixels();
    bool IsEmpty() const;
    // Row y and pixel (x, y); a position outside the frame raises.
    const uint8_t* RowAt(int y);
    uint8_t PixelAt(int x, int y);

    // kBoundsLeft, kBoundsTop, kBoundsWidth, kBoundsHeight (gifformat.h); anything else 0.
    int BoundsField(int index) const;
    void SetBoundsField(int index, int value);
    void ApplyBounds(int left, int top, int width, int height);
    RECT FrameRect() const;
    bool IsInterlaced() const { return (descriptor_.PackedFields & kInterlaceFlag) != 0; }
    int Left() const { return descriptor_.Left; }
    int Top() const { return descriptor_.Top; }
    int Width() const { return descriptor_.Width; }
    int Height() const { return descriptor_.Height; }

    TGIFColorMap* EffectiveColorMap();
    int BitDepth() const;
    int ColorDepth() const { return BitDepth() - 1; }

    // Rebuilds the packed byte of the descriptor before writing.
    void PrepareForSave();
    // Reads the LZW data of the frame into a new pixel buffer.
    void DecodePixels(TStream& stream);
    // Writes the frame's LZW data (the encoders' side of the library).
    void WritePixelData(TStream& stream);

    // Cached bitmap, mask and palette.
    HPALETTE PaletteHandle();
    void SetPaletteHandle(HPALETTE handle);
    bool HasRenderedBitmap() const { return frameBitmap_ != nullptr; }
    // The frame's pixels as an 8-bit bitmap (web-palette dithered when the image asks for it),
    // rendered on first demand and kept; nullptr for an empty frame or an aborted render.
    TBitmap* RenderedBitmap();
    // Renders the bitmap ahead of its paint on a painter's thread: without reports, and not when
    // it exists or the GUI thread is at work on the frame. The caller holds the frame lock.
    void RenderAhead();
    // A new bitmap of the frame's own colours / of the web palette; may set the mask.
    std::unique_ptr<TBitmap> RenderDirect();
    std::unique_ptr<TBitmap> RenderDithered();
    // Replaces the frame bitmap with a new empty one.
    void AllocBitmap();
    void ReleaseBitmap();
    void ReleaseMask();
    // Whether the frame has a transparency mask, rendering first when one is due.
    bool IsMasked();
    // A TBitmap target receives the rendered frame; other targets raise EConvertError.
    void AssignTo(TPersistent& target) const override;
    void CopyTo(TPersistent& target);

    // Drawing on a canvas, scaling, border trimming and merging with the previous frame.
    // rect covers the whole logical screen; tiled frames keep their natural size.
    void DrawFrame(TCanvas& canvas, const RECT& rect, bool transparent, bool tile);
    // rect is the frame's own destination, or with tile the area to fill.
    void StretchDrawFrame(TCanvas& canvas, const RECT& rect, bool transparent, bool tile);
    // The frame's rectangle mapped from logical-screen coordinates into rect.
    RECT ScaleFrameRect(const RECT& rect) const;
    // Copies the source where the mask bit is 0 and keeps the destination where it is 1.
    static bool PaintTransparent(HDC dest, int destX, int destY, int destWidth, int destHeight, HDC source, int sourceX,
                                 int sourceY, int sourceWidth, int sourceHeight, HDC mask, int maskX, int maskY);
    void TrimBorders();
    void MergeFrom(TGIFSubImage* previous);

    // The rendered bitmap, the transparency mask and the palette handle as they stand (none
    // until a render makes them); whether a mask is still due.
    TBitmap* FrameBitmap() const { return frameBitmap_.get(); }
    HBITMAP Mask() const { return mask_; }
    bool NeedMask() const { return needMask_; }
    HPALETTE Palette() const { return palette_; }
    // The pixel buffer (none for an empty frame) and its size in bytes.
    const uint8_t* Pixels() const { return pixels_; }
    int32_t PixelsSize() const { return pixelsSize_; }
    // Each write holds the frame lock. SetPixels copies at most PixelsSize bytes.
    void SetPixelAt(int x, int y, uint8_t index);
    void SetPixels(const uint8_t* indexes, size_t count);
    // Rewrites every pixel below count through map (a colour table's reordering).
    void RemapPixels(const IndexMap& map, int count);
    TGIFLocalColorMap* LocalColorMap() const { return &localColorMap_; }
    // The image descriptor as read and written; bounds change through SetBoundsField and ApplyBounds.
    const TImageDescriptor& Descriptor() const { return descriptor_; }
    TGIFExtensionList* Extensions() const { return &extensions_; }
    // Set and cleared by the frame's graphic control extension.
    bool Transparent() const { return transparent_; }
    // The first graphic control extension made for this frame; not owned.
    TGIFGraphicControlExtension* GraphicControlExtension() const { return graphicControlExtension_; }

    // A reference that expires when the frame is freed: what works on the frame across a handler
    // watches it (TFrameWatch).
    std::weak_ptr<const char> Life() const { return lifetime_; }

private:
    // The frame's graphic control extension sets its transparency flag and registers itself as
    // the frame's first: the two keep one state.
    friend class TGIFGraphicControlExtension;
    // Reads and sets what a test must see or put in place directly; nothing else.
    friend struct TGIFTestSeam;
    // Fills the frame's rows from a bitmap, for the frame's import.
    class FrameImporter;

    // Row y to write; the caller holds the frame lock.
    uint8_t* WritableRow(int y);

    const std::shared_ptr<const char> lifetime_ = std::make_shared<const char>('\0');
    std::unique_ptr<TBitmap> frameBitmap_;
    HBITMAP mask_ = nullptr;
    bool needMask_ = true;
    HPALETTE palette_ = nullptr;
    uint8_t* pixels_ = nullptr;
    int32_t pixelsSize_ = 0;
    // The table and the extensions are parts of the frame (no allocation of their own each), which
    // its const accessors hand out for change as they always have.
    mutable TGIFLocalColorMap localColorMap_{this};
    TImageDescriptor descriptor_{kImageSeparator, 0, 0, 0, 0, 0};
    mutable TGIFExtensionList extensions_;
    bool transparent_ = false;
    TGIFGraphicControlExtension* graphicControlExtension_ = nullptr;
    // Sets the image of the frame, its extension list and its extensions.
    void HandPartsTo(TGIFOwner* owner);
    // Empties the frame; throughBounds sets the zero size through ApplyBounds, as a reset does.
    void ClearFrame(bool throughBounds);
    bool HoldsNothing() const;
};

// What a caller holds of a frame across a handler. The handler may free the frame's image, empty
// or reload it, remove the frame from it or hand the frame to another image; after any of those
// the frame is gone for the caller, which touches it no more (and ends with EImageFreed).
class TFrameWatch {
public:
    explicit TFrameWatch(const TGIFSubImage& frame);
    // The frame still exists, in the image it was in when watched, and that image lives.
    [[nodiscard]] bool Lives() const;
    [[nodiscard]] bool FrameLives() const { return !frameLife_.expired(); }
    // The image the frame was in when watched lives (true for a frame of no image).
    [[nodiscard]] bool ImageLives() const;
    // The frame while it Lives, else nullptr.
    TGIFSubImage* Frame() const { return Lives() ? frame_ : nullptr; }

private:
    TGIFSubImage* frame_;
    const TGIFImage* image_;
    std::weak_ptr<const char> frameLife_;
    std::weak_ptr<const char> imageLife_;
};

// The frames of an image's list, watched across a handler by code that goes through them by
// index: unchanged while no frame has joined or left the list (a frame that goes away or moves
// to another image leaves it). Asked only while the list's image lives.
class TFrameListWatch {
public:
    explicit TFrameListWatch(const TGIFImageList& frames);
    [[nodiscard]] bool Unchanged() const;
    int Count() const { return count_; }
    // The frame watched at index, while the list is Unchanged, else nullptr.
    TGIFSubImage* FrameAt(int index) const;

private:
    const TGIFImageList& frames_;
    const uint32_t changes_;
    const int count_;
};

// A new frame of an image, owned here until it joins the image's list (Release). Should a
// handler free the image before that, the frame forgets the image as it goes and so never
// reaches into it.
class TUnlistedFrame {
public:
    TUnlistedFrame() = default;
    explicit TUnlistedFrame(TGIFOwner* image);
    ~TUnlistedFrame();
    TUnlistedFrame(TUnlistedFrame&& other) noexcept = default;
    TUnlistedFrame& operator=(TUnlistedFrame&& other) noexcept;
    TGIFSubImage* get() const { return frame_.get(); }
    TGIFSubImage* operator->() const { return frame_.get(); }
    TGIFSubImage* Release() { return frame_.release(); }

private:
    void Drop();
    std::unique_ptr<TGIFSubImage> frame_;
    std::weak_ptr<const char> imageLife_;
};
