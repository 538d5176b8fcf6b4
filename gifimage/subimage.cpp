#include "gifimage/subimage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "gifimage/colormap.h"
#include "gifimage/encoders.h"
#include "gifimage/extensions.h"
#include "gifimage/framelock.h"
#include "gifimage/gdiutils.h"
#include "gifimage/gifformat.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifio.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"

// --- TGIFExtensionList -------------------------------------------------------

TGIFExtension* TGIFExtensionList::ExtensionAt(int index) const { return static_cast<TGIFExtension*>(ItemAt(index)); }

namespace {
// A new extension of a frame, owned here until it joins the frame's list (Release). A handler
// that runs while it loads (a warning) may take the frame or the frame's image away: the
// extension then forgets what is gone before it goes, as its destruction reaches into its frame
// and the frame's image.
class TUnlistedExtension {
public:
    TUnlistedExtension(TGIFExtension* extension, TGIFSubImage* frame) : extension_(extension) {
        if (frame) watch_.emplace(*frame);
    }
    ~TUnlistedExtension() {
        if (!extension_) return;
        if (watch_ && !watch_->FrameLives()) {
            extension_->ForgetFreedFrame();
            extension_->SetOwner(nullptr);
        } else if (watch_ && !watch_->ImageLives()) {
            extension_->Frame()->ForgetFreedOwner();
            extension_->SetOwner(nullptr);
        }
        delete extension_;
    }
    TUnlistedExtension(const TUnlistedExtension&) = delete;
    TUnlistedExtension& operator=(const TUnlistedExtension&) = delete;
    TGIFExtension* operator->() const { return extension_; }
    TGIFExtension* Release() { return std::exchange(extension_, nullptr); }

private:
    TGIFExtension* extension_;
    std::optional<TFrameWatch> watch_;
};
}  // namespace

void TGIFExtensionList::LoadItems(TStream& stream, TObject* parent) {
    TGIFSubImage* frame = dynamic_cast<TGIFSubImage*>(parent);
    uint8_t introducer = 0;
    if (!ReadByte(stream, introducer)) return;
    while (introducer != kImageSeparator && introducer != kTrailer) {
        if (introducer != kExtensionIntroducer) {
            ReportWarning(1, sInvalidIntroducer);
            break;
        }
        TGIFExtensionClass extensionClass = TGIFExtension::ClassForLabel(stream);
        if (!extensionClass) RaiseGIFError(sUnknownExtension);
        stream.Seek(-1, soCurrent);
        TUnlistedExtension extension(extensionClass->CreateForFrame(frame), frame);
        extension->LoadFromStream(stream);
        Append(extension.Release());
        if (!ReadByte(stream, introducer)) return;
    }
    stream.Seek(-1, soCurrent);
}

// --- TGIFSubImage ------------------------------------------------------------

TGIFSubImage::TGIFSubImage(TGIFOwner* owner)
    : TGIFItem(owner)
    , extensions_(owner) {}

TGIFSubImage::~TGIFSubImage() {
    if (OwnerImage()) OwnerImage()->Frames()->RemoveItem(this);
    // A frame that is going away no longer widens its image's screen (which could raise when
    // other frames do not fit).
    ClearFrame(false);
    if (palette_) DeleteObject(palette_);
    palette_ = nullptr;
}

void TGIFSubImage::ResetFrame() { ClearFrame(true); }

// What a new frame is: emptying it changes nothing (a load into a new frame skips that work).
bool TGIFSubImage::HoldsNothing() const {
    return extensions_.ItemCount() == 0 && localColorMap_.Count() == 0 && !pixels_ && pixelsSize_ == 0 &&
           descriptor_.Left == 0 && descriptor_.Top == 0 && descriptor_.Width == 0 && descriptor_.Height == 0 &&
           !frameBitmap_ && !mask_ && needMask_ && !transparent_ && !graphicControlExtension_;
}

void TGIFSubImage::ClearFrame(bool throughBounds) {
    if (HoldsNothing()) return;
    const FrameLockHold hold(*this);
    extensions_.RemoveAll();
    localColorMap_.RemoveAll();
    ReleasePixels();
    if (throughBounds) {
        SetBoundsField(kBoundsHeight, 0);
        SetBoundsField(kBoundsWidth, 0);
    } else {
        descriptor_.Height = 0;
        descriptor_.Width = 0;
    }
    transparent_ = false;
    graphicControlExtension_ = nullptr;
    ReleaseBitmap();
    ReleaseMask();
}

namespace {
// Whether every entry of `colors` stands at the same index in `table`.
bool HoldsAtSameIndexes(const TGIFColorMap& table, const TGIFColorMap& colors) {
    return table.Count() >= colors.Count() &&
           std::memcmp(table.Entries(), colors.Entries(), sizeof(TGIFColor) * colors.Count()) == 0;
}
}  // namespace

// A frame without colours of its own takes those of the image it leaves along, as a local
// table of the entries that image saves (padded with black to a power of two), unless the new
// image's global table holds them at the same indexes. The cached bitmap, mask and palette were
// made with the colours and settings of the old image; they are made again for the new one
// when needed.
void TGIFSubImage::SetOwnerImage(TGIFImage* image) {
    if (image == OwnerImage()) return;
    const TGIFColorMap* oldColors =
        OwnerImage() && localColorMap_.Count() == 0 ? OwnerImage()->GlobalColors() : nullptr;
    const bool keepColors = oldColors && oldColors->Count() > 0 &&
                            !(image && HoldsAtSameIndexes(*image->GlobalColors(), *oldColors));
    TGIFLocalColorMap kept(nullptr);
    if (keepColors) {
        kept.CopyFrom(*oldColors);
        while (kept.Count() < (1 << kept.BitDepth())) kept.AppendColor(TColor(0));
    }
    HandPartsTo(image);
    ReleaseBitmap();
    ReleaseMask();
    SetPaletteHandle(nullptr);
    if (keepColors) localColorMap_.CopyFrom(kept);
}

bool TGIFSubImage::ReportProgress(TProgressStage stage, int percent, bool redraw, const std::string& message) {
    if (!OwnerImage()) return true;
    const TFrameWatch watch(*this);
    return OwnerImage()->ReportProgress(this, stage, percent, redraw, message) && watch.Lives();
}

bool TGIFSubImage::NotifyChanged() {
    if (!OwnerImage()) return true;
    const TFrameWatch watch(*this);
    return OwnerImage()->NotifyChanged(this) && watch.Lives();
}

TFrameWatch::TFrameWatch(const TGIFSubImage& frame)
    : frame_(const_cast<TGIFSubImage*>(&frame))
    , image_(frame.OwnerImage())
    , frameLife_(frame.Life())
    , imageLife_(frame.Owner() ? frame.Owner()->Life() : std::weak_ptr<const char>()) {}

bool TFrameWatch::ImageLives() const { return !image_ || !imageLife_.expired(); }

bool TFrameWatch::Lives() const { return FrameLives() && ImageLives() && frame_->OwnerImage() == image_; }

TFrameListWatch::TFrameListWatch(const TGIFImageList& frames)
    : frames_(frames), changes_(frames.Changes()), count_(frames.ItemCount()) {}

bool TFrameListWatch::Unchanged() const { return frames_.Changes() == changes_; }

TGIFSubImage* TFrameListWatch::FrameAt(int index) const { return Unchanged() ? frames_.FrameAt(index) : nullptr; }

void TGIFSubImage::ForgetFreedOwner() { HandPartsTo(nullptr); }

void TGIFSubImage::HandPartsTo(TGIFOwner* owner) {
    SetOwner(owner);
    extensions_.SetOwner(owner);
    for (int i = 0; i < extensions_.ItemCount(); ++i) extensions_.ExtensionAt(i)->SetOwner(owner);
}

TUnlistedFrame::TUnlistedFrame(TGIFOwner* image)
    : frame_(std::make_unique<TGIFSubImage>(image))
    , imageLife_(image ? image->Life() : std::weak_ptr<const char>()) {}

TUnlistedFrame::~TUnlistedFrame() { Drop(); }

TUnlistedFrame& TUnlistedFrame::operator=(TUnlistedFrame&& other) noexcept {
    if (this == &other) return *this;
    Drop();
    frame_ = std::move(other.frame_);
    imageLife_ = std::move(other.imageLife_);
    return *this;
}

void TUnlistedFrame::Drop() {
    if (frame_ && frame_->Owner() && imageLife_.expired()) frame_->ForgetFreedOwner();
    frame_.reset();
}

void TGIFSubImage::Assign(const TPersistent& source) { CopyFrom(source); }

GIFVersion TGIFSubImage::RequiredVersion() const {
    GIFVersion version = localColorMap_.SortFlag() ? Version89a : Version87a;
    for (int i = 0; i < extensions_.ItemCount() && version < Version89a; ++i) {
        const GIFVersion needed = extensions_.ExtensionAt(i)->RequiredVersion();
        if (needed > version) version = needed;
    }
    return version;
}

void TGIFSubImage::LoadFromStream(TStream& stream) {
    const FrameLockHold hold(*this);
    ResetFrame();
    extensions_.LoadItems(stream, this);
    uint8_t separator = 0;
    if (!ReadByte(stream, separator)) return;
    stream.Seek(-1, soCurrent);
    if (separator == kTrailer || separator == 0) return;

    ReadExact(stream, &descriptor_, sizeof descriptor_);
    if (descriptor_.Width == 0 || descriptor_.Height == 0) {
        descriptor_.Height = static_cast<uint16_t>(OwnerImage() ? OwnerImage()->ScreenHeight() : 0);
        descriptor_.Width = static_cast<uint16_t>(OwnerImage() ? OwnerImage()->ScreenWidth() : 0);
        ReportWarning(1, sScreenSizeExceeded);
    }
    if (descriptor_.PackedFields & kColorTableFlag)
        localColorMap_.ReadTable(stream, ColorTableEntries(descriptor_.PackedFields));
    DecodePixels(stream);
    if (RenderFramesWhileLoading) RenderedBitmap();
}

void TGIFSubImage::PrepareForSave() {
    if (localColorMap_.Count() > 0) {
        uint8_t packed = kColorTableFlag;
        if (localColorMap_.SortFlag()) packed |= kImageSortFlag;
        packed |= ColorTableSizeField(BitDepth());
        descriptor_.PackedFields = packed;
    } else {
        descriptor_.PackedFields &= kInterlaceFlag | kImageReservedBits;
    }
}

// Extensions, then (unless the frame is empty) descriptor, local table and pixel data.
void TGIFSubImage::SaveToStream(TStream& stream) {
    extensions_.SaveItems(stream);
    if (IsEmpty()) return;
    PrepareForSave();
    // A frame read after a stray byte keeps that byte as its separator; the stream needs ",".
    TImageDescriptor descriptor = descriptor_;
    descriptor.Separator = kImageSeparator;
    stream.WriteBuffer(&descriptor, sizeof descriptor);
    localColorMap_.WriteTable(stream);
    WritePixelData(stream);
}

// Pixels index the local table when it has entries (and must lie below its count), else
// any colour of the image's deepest table.
void TGIFSubImage::WritePixelData(TStream& stream) {
    int bitsPerPixel;
    int32_t maxColor;
    if (localColorMap_.Count() > 0) {
        bitsPerPixel = localColorMap_.BitDepth();
        maxColor = localColorMap_.Count();
    } else {
        bitsPerPixel = OwnerImage() ? OwnerImage()->BitDepth() : 0;
        maxColor = 1 << bitsPerPixel;
    }
    TGIFImage* image = OwnerImage();
    const int compression = image ? image->Compression() : DefaultCompression;
    // The encoder reads the pixels on after a warning: its handler must leave the frame there.
    const TFrameWatch watch(*this);
    WriteGIFPixelData(
        stream, compression, static_cast<uint8_t>(bitsPerPixel), Width(), Height(), IsInterlaced(), pixels_, maxColor,
        [image, &watch](TObject* sender, int severity, const std::string& message) {
            if (image) EndIfImageFreed(image->Warn(sender, static_cast<uint8_t>(severity), message) && watch.Lives());
        },
        [](const std::string& message) { RaiseGIFError(message); });
}

// --- Pixels ------------------------------------------------------------------

void TGIFSubImage::AllocPixels(bool zeroed) {
    const FrameLockHold hold(*this);
    ReleasePixels();
    const uint32_t size = static_cast<uint32_t>(descriptor_.Width) * descriptor_.Height;
    if (size == 0) return;
    // The size is a signed 32-bit count: larger frames cannot be held.
    if (size > 0x7FFFFFFFu) RaiseGIFError(sImageTooLarge);
    if (OwnerImage()) pixels_ = OwnerImage()->TakeReservedPixels(size);
    if (pixels_ && zeroed) std::memset(pixels_, 0, size);
    if (!pixels_) pixels_ = NewPixelBuffer(size, zeroed);
    if (!pixels_) RaiseGIFError(sImageTooLarge);
    pixelsSize_ = static_cast<int32_t>(size);
}

uint8_t* TGIFSubImage::GiveUpPixels(uint32_t& size) {
    const FrameLockHold hold(*this);
    uint8_t* pixels = pixels_;
    size = static_cast<uint32_t>(pixelsSize_);
    pixels_ = nullptr;
    pixelsSize_ = 0;
    return pixels;
}

// Through the global operator new, so that a program that replaces it (the tests' poisoning
// allocator) sees the pixel buffers as it sees every other block of the library.
uint8_t* NewPixelBuffer(size_t size, bool zeroed) {
    auto* pixels = static_cast<uint8_t*>(::operator new[](size ? size : 1, std::nothrow));
    if (pixels && zeroed) std::memset(pixels, 0, size);
    return pixels;
}

void FreePixelBuffer(uint8_t* pixels) { ::operator delete[](pixels); }

// --- TPixelReserve -----------------------------------------------------------

TPixelReserve::~TPixelReserve() {
    for (const Buffer& buffer : buffers_) FreePixelBuffer(buffer.pixels);
}

void TPixelReserve::KeepPixelsOf(const TGIFImageList& frames) {
    for (int i = 0; i < frames.ItemCount(); ++i) {
        uint32_t size = 0;
        if (uint8_t* pixels = frames.FrameAt(i)->GiveUpPixels(size)) buffers_.push_back({size, pixels});
    }
    std::sort(buffers_.begin(), buffers_.end(), [](const Buffer& a, const Buffer& b) { return a.size < b.size; });
}

uint8_t* TPixelReserve::Take(uint32_t size) {
    const auto found = std::lower_bound(buffers_.begin(), buffers_.end(), size,
                                        [](const Buffer& buffer, uint32_t wanted) { return buffer.size < wanted; });
    if (found == buffers_.end() || found->size / 2 > size) return nullptr;
    uint8_t* pixels = found->pixels;
    buffers_.erase(found);
    return pixels;
}

void TGIFSubImage::ReleasePixels() {
    const FrameLockHold hold(*this);
    FreePixelBuffer(pixels_);
    pixels_ = nullptr;
    pixelsSize_ = 0;
}

void TGIFSubImage::EnsurePixels() {
    if (!pixels_) AllocPixels();
    if (pixelsSize_ == 0) RaiseGIFError(sImageEmpty);
}

bool TGIFSubImage::IsEmpty() const {
    return !(pixels_ && pixelsSize_ != 0 && descriptor_.Height != 0 && descriptor_.Width != 0);
}

uint8_t* TGIFSubImage::WritableRow(int y) {
    if (y < 0 || y > Height() - 1) RaiseGIFError(sInvalidPixelCoordinates);
    EnsurePixels();
    return pixels_ + static_cast<size_t>(y) * Width();
}

const uint8_t* TGIFSubImage::RowAt(int y) { return WritableRow(y); }

uint8_t TGIFSubImage::PixelAt(int x, int y) {
    if (x < 0 || x > Width() - 1) RaiseGIFError(sInvalidPixelCoordinates);
    return RowAt(y)[x];
}

void TGIFSubImage::SetPixelAt(int x, int y, uint8_t index) {
    if (x < 0 || x > Width() - 1) RaiseGIFError(sInvalidPixelCoordinates);
    const FrameLockHold hold(*this);
    WritableRow(y)[x] = index;
}

void TGIFSubImage::SetPixels(const uint8_t* indexes, size_t count) {
    const FrameLockHold hold(*this);
    if (pixels_) std::memcpy(pixels_, indexes, std::min(count, static_cast<size_t>(pixelsSize_)));
}

// Pixel values outside the table and a transparent index outside it keep their values.
void TGIFSubImage::RemapPixels(const IndexMap& map, int count) {
    const FrameLockHold hold(*this);
    uint8_t* p = pixels_;
    for (int32_t n = pixelsSize_; n > 0; --n, ++p)
        if (*p < count) *p = map[*p];
}

// --- Bounds ------------------------------------------------------------------

int TGIFSubImage::BoundsField(int index) const {
    switch (index) {
    case kBoundsLeft: return descriptor_.Left;
    case kBoundsTop: return descriptor_.Top;
    case kBoundsWidth: return descriptor_.Width;
    case kBoundsHeight: return descriptor_.Height;
    default: return 0;
    }
}

void TGIFSubImage::SetBoundsField(int index, int value) {
    int bounds[4] = {Left(), Top(), Width(), Height()};
    if (index < kBoundsLeft || index > kBoundsHeight) return;
    bounds[index - kBoundsLeft] = value;
    ApplyBounds(bounds[0], bounds[1], bounds[2], bounds[3]);
}

// Nothing is written unless the descriptor and a logical screen can hold the bounds. An edge
// beyond the largest screen that the frame has already (a frame read so from a file) is kept,
// so that such a frame can still be emptied or moved within its row or column.
void TGIFSubImage::ApplyBounds(int left, int top, int width, int height) {
    const FrameLockHold hold(*this);
    const auto holds = [](int value) { return value >= 0 && value <= kMaxSide; };
    const int right = left + width, bottom = top + height;
    if (!holds(left) || !holds(top) || !holds(width) || !holds(height) ||
        (right > kMaxSide && right != Left() + Width()) || (bottom > kMaxSide && bottom != Top() + Height()))
        RaiseGIFError(sInvalidImageDimensions);
    const bool sizeChanged = width != Width() || height != Height();
    descriptor_.Left = static_cast<uint16_t>(left);
    descriptor_.Top = static_cast<uint16_t>(top);
    descriptor_.Width = static_cast<uint16_t>(width);
    descriptor_.Height = static_cast<uint16_t>(height);
    if (sizeChanged) {
        ReleaseBitmap();
        ReleaseMask();
        ReleasePixels();
        AllocPixels();
    }
    if (!OwnerImage()) return;
    // The warnings and the screen's change notifications run handlers, which may take the frame
    // away: the frame's warnings end the call then, and so does the check after each change.
    const TFrameWatch watch(*this);
    bool tooBig = false;
    if (right <= kMaxSide && OwnerImage()->ScreenWidth() < right) {
        if (OwnerImage()->ScreenWidth() > 0) {
            tooBig = true;
            ReportWarning(1, sWidthTooSmall);
        }
        OwnerImage()->SetScreenWidth(right);
        EndIfImageFreed(watch.Lives());
    }
    if (bottom <= kMaxSide && OwnerImage()->ScreenHeight() < bottom) {
        if (OwnerImage()->ScreenHeight() > 0) {
            tooBig = true;
            ReportWarning(1, sHeightTooSmall);
        }
        OwnerImage()->SetScreenHeight(bottom);
        EndIfImageFreed(watch.Lives());
    }
    if (tooBig) ReportWarning(1, sScreenSizeExceeded);
}

RECT TGIFSubImage::FrameRect() const { return RECT{Left(), Top(), Left() + Width(), Top() + Height()}; }

// --- Colours -----------------------------------------------------------------

TGIFColorMap* TGIFSubImage::EffectiveColorMap() {
    if (localColorMap_.Count() > 0) return &localColorMap_;
    if (OwnerImage() && OwnerImage()->GlobalColors()->Count() > 0) return OwnerImage()->GlobalColors();
    return &localColorMap_;
}

int TGIFSubImage::BitDepth() const { return localColorMap_.BitDepth(); }

// --- Cached bitmap, mask and palette ------------------------------------------

HPALETTE TGIFSubImage::PaletteHandle() {
    const FrameLockHold hold(*this);
    if (frameBitmap_) {
        if (HPALETTE palette = frameBitmap_->Palette()) return palette;
    }
    if (palette_) return palette_;
    if (OwnerImage() && OwnerImage()->NeedsDither()) {
        palette_ = CreateWebSafePalette();
        return palette_;
    }
    if (localColorMap_.Count() > 0) {
        palette_ = localColorMap_.MakePaletteHandle();
        return palette_;
    }
    return OwnerImage() ? OwnerImage()->PaletteHandle() : nullptr;
}

void TGIFSubImage::SetPaletteHandle(HPALETTE handle) {
    const FrameLockHold hold(*this);
    if (!ReplacePaletteHandle(palette_, handle, frameBitmap_.get())) return;
    ReleaseBitmap();
    if (OwnerImage()) {
        OwnerImage()->SetPaletteModified(true);
        EndIfImageFreed(NotifyChanged());
    }
}

void TGIFSubImage::ReleaseBitmap() {
    const FrameLockHold hold(*this);
    frameBitmap_.reset();
}

void TGIFSubImage::ReleaseMask() {
    const FrameLockHold hold(*this);
    if (mask_) DeleteObject(mask_);
    mask_ = nullptr;
    needMask_ = true;
}
