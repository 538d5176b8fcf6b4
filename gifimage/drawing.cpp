// Frame drawing: a frame put on a canvas at its place on the logical screen, stretched or
// tiled, opaque or through its transparency mask; and the pixel rewrites of optimisation:
// trimming transparent borders and merging a frame with the one drawn before it.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "classlib/guards.h"
#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/framelock.h"
#include "gifimage/gdiutils.h"
#include "gifimage/giferror.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"

namespace {

// Keep-destination as the foreground and SRCCOPY as the background of a four-operand code.
constexpr DWORD kKeepDestination = 0x00AA0029;
constexpr DWORD kMaskedCopy = ((static_cast<DWORD>(SRCCOPY) << 8) & 0xFF000000) | kKeepDestination;
static_assert(kMaskedCopy == 0xCCAA0029);

// A memory context compatible with dc; a refusal raises the library's GDI error.
MemoryDC MemoryContext(HDC compatible) {
    return MemoryDC(MemoryDC::Adopt{}, CheckGdiResult(CreateCompatibleDC(compatible)));
}

bool IsNTFamily() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Calls draw(x, y) for each tile position over rect, column by column, top to bottom within a
// column. A logical screen without width or height gives one column or one row.
template <typename Draw>
void ForEachTile(const RECT& rect, int left, int top, int screenWidth, int screenHeight, Draw draw) {
    for (int x = rect.left + left; x < rect.right; x += screenWidth) {
        for (int y = rect.top + top; y < rect.bottom; y += screenHeight) {
            draw(x, y);
            if (screenHeight <= 0) break;
        }
        if (screenWidth <= 0) break;
    }
}

// MaskBlt with a 1 x 1 stand-in selected into mask, so that the mask bitmap itself can be passed.
void MaskedCopy(HDC dest, int destX, int destY, int width, int height, HDC source, int sourceX, int sourceY, HDC mask,
                int maskX, int maskY) {
    GdiObject standIn(CheckGdiResult(CreateCompatibleBitmap(source, 1, 1)));
    Selection selected(mask, standIn.Get());
    MaskBlt(dest, destX, destY, width, height, source, sourceX, sourceY, static_cast<HBITMAP>(selected.Previous()),
            maskX, maskY, kMaskedCopy);
}

// A palette selected into a context; the kept one goes back as a foreground palette.
class PaletteSelection {
public:
    PaletteSelection(HDC dc, HPALETTE palette, bool background)
        : dc_(dc)
        , kept_(SelectPalette(dc, palette, background ? TRUE : FALSE)) {}
    ~PaletteSelection() {
        if (kept_) SelectPalette(dc_, kept_, FALSE);
    }
    PaletteSelection(const PaletteSelection&) = delete;
    PaletteSelection& operator=(const PaletteSelection&) = delete;

private:
    HDC dc_;
    HPALETTE kept_;
};

// The palette selected into dc, read by selecting the stock one and putting it straight back.
HPALETTE SelectedPalette(HDC dc) {
    HPALETTE palette = SelectPalette(dc, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    SelectPalette(dc, palette, FALSE);
    return palette;
}

// How many frames of one image keep their rendered bitmap, mask and palette at a time. Every
// window of the process shares the GDI table (about 65,000 objects under Wine); an image of
// thousands of frames must not fill it.
constexpr int kMaxFramesWithCachedObjects = 64;

bool HoldsCachedObjects(const TGIFSubImage& frame) { return frame.HasRenderedBitmap() || frame.Mask() || frame.Palette(); }

// Before `drawn` is drawn (and so rendered), the other frames of its image that keep cached GDI
// objects are bounded: the nearest ones before it, which an animation showed last, keep theirs;
// the others are released and rendered again when next drawn. Frame 0 keeps its objects: its
// palette may be the one the image draws every frame with. So does a frame in work: the render
// or import that a handler interrupted to draw here reads them when it goes on.
void BoundFramesWithCachedObjects(const TGIFSubImage& drawn) {
    TGIFImage* image = drawn.OwnerImage();
    if (!image) return;
    const int count = image->Frames()->ItemCount();
    if (count <= kMaxFramesWithCachedObjects) return;
    int at = 0;
    while (at < count && image->Frames()->FrameAt(at) != &drawn) ++at;
    if (at == count) return;
    const FrameLockHold hold(image);
    int kept = 1;  // the drawn frame itself
    for (int back = 1; back < count; ++back) {
        TGIFSubImage* frame = image->Frames()->FrameAt((at - back + count) % count);
        if (!HoldsCachedObjects(*frame) || image->FrameInWork(frame)) continue;
        if (++kept <= kMaxFramesWithCachedObjects || frame == image->Frames()->FrameAt(0)) continue;
        frame->ReleaseBitmap();
        frame->ReleaseMask();
        frame->SetPaletteHandle(nullptr);
    }
}

}  // namespace

// --- Drawing ---------------------------------------------------------------------

void TGIFSubImage::DrawFrame(TCanvas& canvas, const RECT& rect, bool transparent, bool tile) {
    const RECT target = tile ? rect : ScaleFrameRect(rect);
    StretchDrawFrame(canvas, target, transparent, tile);
}

RECT TGIFSubImage::ScaleFrameRect(const RECT& rect) const {
    const int screenWidth = OwnerImage() ? OwnerImage()->ScreenWidth() : 0;
    const int screenHeight = OwnerImage() ? OwnerImage()->ScreenHeight() : 0;
    const int destWidth = rect.right - rect.left;
    const int destHeight = rect.bottom - rect.top;
    // The far edges are scaled themselves, so that neighbouring frames meet without gaps.
    return RECT{rect.left + MulDiv(Left(), destWidth, screenWidth), rect.top + MulDiv(Top(), destHeight, screenHeight),
                rect.left + MulDiv(Left() + Width(), destWidth, screenWidth),
                rect.top + MulDiv(Top() + Height(), destHeight, screenHeight)};
}

void TGIFSubImage::StretchDrawFrame(TCanvas& canvas, const RECT& rect, bool transparent, bool tile) {
    BoundFramesWithCachedObjects(*this);
    const int screenWidth = OwnerImage() ? OwnerImage()->ScreenWidth() : 0;
    const int screenHeight = OwnerImage() ? OwnerImage()->ScreenHeight() : 0;
    const int width = Width(), height = Height();

    if (transparent && transparent_ && IsMasked()) {
        TBitmap* bitmap = RenderedBitmap();
        if (!bitmap) return;
        MemoryDC maskContext = MemoryContext(nullptr);
        Selection maskSelected(maskContext, mask_);
        HDC source = bitmap->Canvas().Handle();
        if (!tile) {
            PaintTransparent(canvas.Handle(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                             source, 0, 0, width, height, maskContext, 0, 0);
        } else {
            ForEachTile(rect, Left(), Top(), screenWidth, screenHeight, [&](int x, int y) {
                PaintTransparent(canvas.Handle(), x, y, width, height, source, 0, 0, width, height, maskContext, 0, 0);
            });
        }
        canvas.Changed();
        return;
    }

    TBitmap* bitmap = RenderedBitmap();
    if (!bitmap) return;
    if (!tile) {
        canvas.StretchDraw(rect, *bitmap);
        return;
    }
    ForEachTile(rect, Left(), Top(), screenWidth, screenHeight, [&](int x, int y) {
        canvas.StretchDraw(RECT{x, y, x + width, y + height}, *bitmap);
    });
}

bool TGIFSubImage::PaintTransparent(HDC dest, int destX, int destY, int destWidth, int destHeight, HDC source,
                                    int sourceX, int sourceY, int sourceWidth, int sourceHeight, HDC mask, int maskX,
                                    int maskY) {
    if (IsNTFamily() && sourceWidth == destWidth && sourceHeight == destHeight) {
        MaskedCopy(dest, destX, destY, destWidth, destHeight, source, sourceX, sourceY, mask, maskX, maskY);
        return true;
    }

    MemoryDC colors = MemoryContext(dest);
    GdiObject colorBitmap(CheckGdiResult(CreateCompatibleBitmap(dest, sourceWidth, sourceHeight)));
    Selection colorSelected(colors, colorBitmap.Get());
    std::optional<PaletteSelection> colorPalette;
    {
        MemoryDC inverse = MemoryContext(dest);
        GdiObject inverseBitmap(CheckGdiResult(CreateBitmap(sourceWidth, sourceHeight, 1, 1, nullptr)));
        Selection inverseSelected(inverse, inverseBitmap.Get());
        BitBlt(inverse, 0, 0, sourceWidth, sourceHeight, mask, maskX, maskY, NOTSRCCOPY);

        HPALETTE sourcePalette = SelectedPalette(source);
        colorPalette.emplace(
            colors, sourcePalette ? sourcePalette : static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), true);
        RealizePalette(colors);
        // With the context's default colours opaque pixels become white and transparent ones
        // black; ANDing the source in leaves the source where opaque and black elsewhere.
        BitBlt(colors, 0, 0, sourceWidth, sourceHeight, inverse, 0, 0, SRCCOPY);
        BitBlt(colors, 0, 0, sourceWidth, sourceHeight, source, sourceX, sourceY, SRCAND);
    }

    // Black under opaque pixels (mask 0 bits expand to the text colour), then the source ORed in.
    const COLORREF oldText = SetTextColor(dest, RGB(0, 0, 0));
    const COLORREF oldBack = SetBkColor(dest, RGB(255, 255, 255));
    StretchBlt(dest, destX, destY, destWidth, destHeight, mask, maskX, maskY, sourceWidth, sourceHeight, SRCAND);
    StretchBlt(dest, destX, destY, destWidth, destHeight, colors, 0, 0, sourceWidth, sourceHeight, SRCPAINT);
    SetTextColor(dest, oldText);
    SetBkColor(dest, oldBack);
    return true;
}

// --- Trimming --------------------------------------------------------------------

void TGIFSubImage::TrimBorders() {
    const FrameLockHold hold(*this);
    if (IsEmpty() || !transparent_ || !graphicControlExtension_) return;
    const uint8_t key = graphicControlExtension_->TransparentIndex();
    const int width = Width(), height = Height();
    auto at = [&](int x, int y) { return pixels_[static_cast<size_t>(y) * width + x]; };
    auto columnClear = [&](int x) {
        for (int y = 0; y < height; ++y)
            if (at(x, y) != key) return false;
        return true;
    };

    int left = 0, right = width - 1, top = 0, bottom = height - 1;
    while (left <= right && columnClear(left)) ++left;
    while (left <= right && columnClear(right)) --right;
    if (left <= right) {
        auto rowClear = [&](int y) {
            for (int x = left; x <= right; ++x)
                if (at(x, y) != key) return false;
            return true;
        };
        while (top <= bottom && rowClear(top)) ++top;
        while (top <= bottom && rowClear(bottom)) --bottom;
    }
    if (left > right || top > bottom) {
        ResetFrame();
        return;
    }

    const int newWidth = right - left + 1, newHeight = bottom - top + 1;
    const size_t newSize = static_cast<size_t>(newWidth) * newHeight;
    uint8_t* trimmed = NewPixelBuffer(newSize, false);
    if (!trimmed) RaiseGIFError(sImageTooLarge);
    for (int y = top; y <= bottom; ++y)
        std::memcpy(trimmed + static_cast<size_t>(y - top) * newWidth, pixels_ + static_cast<size_t>(y) * width + left,
                    newWidth);
    ReleasePixels();
    pixels_ = trimmed;
    pixelsSize_ = static_cast<int32_t>(newSize);
    descriptor_.Left = static_cast<uint16_t>(descriptor_.Left + left);
    descriptor_.Top = static_cast<uint16_t>(descriptor_.Top + top);
    descriptor_.Width = static_cast<uint16_t>(newWidth);
    descriptor_.Height = static_cast<uint16_t>(newHeight);
    ReleaseBitmap();
    ReleaseMask();
}

// --- Merging ---------------------------------------------------------------------

namespace {

bool SameEntry(TGIFColorMap* a, int indexA, TGIFColorMap* b, int indexB) {
    if (indexA >= a->Count() || indexB >= b->Count()) return false;
    if (a == b && indexA == indexB) return true;
    const TGIFColor& x = a->Entries()[indexA];
    const TGIFColor& y = b->Entries()[indexB];
    return x.Red == y.Red && x.Green == y.Green && x.Blue == y.Blue;
}

bool UsesIndex(TGIFSubImage& frame, uint8_t index) {
    return std::memchr(frame.Pixels(), index, static_cast<size_t>(frame.PixelsSize())) != nullptr;
}

}  // namespace

void TGIFSubImage::MergeFrom(TGIFSubImage* previous) {
    const FrameLockHold hold(*this);
    if (IsEmpty() || !previous || previous->IsEmpty()) return;
    if (const TGIFGraphicControlExtension* control = previous->GraphicControlExtension()) {
        const uint8_t disposal = control->DisposalMethod();
        if (disposal == kDisposalRestoreBackground || disposal == kDisposalRestorePrevious) return;
    }
    RECT overlap;
    const RECT own = FrameRect(), other = previous->FrameRect();
    if (!IntersectRect(&overlap, &own, &other)) return;

    const bool wasTransparent = transparent_ && graphicControlExtension_;
    bool known = wasTransparent;
    int index = known ? graphicControlExtension_->TransparentIndex() : -1;
    if (!known) {
        const int localCount = localColorMap_.Count();
        const int globalCount = OwnerImage() ? OwnerImage()->GlobalColors()->Count() : 0;
        const bool room = localCount > 0 ? localCount < 256 : globalCount >= 1 && globalCount < 256;
        if (!room) return;
    }
    const bool previousKeyed = previous->Transparent() && previous->GraphicControlExtension();
    const int previousKey = previousKeyed ? previous->GraphicControlExtension()->TransparentIndex() : -1;

    // A colour index that will show nothing: a new black entry, or the index other transparent
    // frames of the global table already use when it is an entry of the table and this frame has
    // no pixel of it.
    auto obtainIndex = [&]() {
        if (localColorMap_.Count() > 0) return localColorMap_.AppendColor(TColor(0));
        TGIFColorMap& global = *OwnerImage()->GlobalColors();
        for (int i = 0; i < OwnerImage()->Frames()->ItemCount(); ++i) {
            TGIFSubImage* frame = OwnerImage()->Frames()->FrameAt(i);
            if (frame == this || !frame->Transparent() || !frame->GraphicControlExtension() ||
                frame->LocalColorMap()->Count() > 0)
                continue;
            const uint8_t shared = frame->GraphicControlExtension()->TransparentIndex();
            if (shared < global.Count() && !UsesIndex(*this, shared)) return static_cast<int>(shared);
            break;
        }
        return global.AppendColor(TColor(0));
    };

    // An appended colour is announced as a change of the table, whose handler may take either
    // frame away, or replace the tables and rows read here.
    const TFrameWatch ownWatch(*this), previousWatch(*previous);
    TGIFColorMap* ownColors = EffectiveColorMap();
    TGIFColorMap* previousColors = previous->EffectiveColorMap();
    for (int y = overlap.top; y < overlap.bottom; ++y) {
        uint8_t* row = WritableRow(y - Top());
        const uint8_t* previousRow = previous->RowAt(y - previous->Top());
        for (int x = overlap.left; x < overlap.right; ++x) {
            const uint8_t pixel = row[x - Left()];
            const uint8_t below = previousRow[x - previous->Left()];
            if (known && pixel == index) continue;
            if (previousKeyed && below == previousKey) continue;
            if (!SameEntry(ownColors, pixel, previousColors, below)) continue;
            if (!known) {
                index = obtainIndex();
                known = true;
                EndIfImageFreed(ownWatch.Lives() && previousWatch.Lives());
                ownColors = EffectiveColorMap();
                previousColors = previous->EffectiveColorMap();
                row = WritableRow(y - Top());
                previousRow = previous->RowAt(y - previous->Top());
            }
            row[x - Left()] = static_cast<uint8_t>(index);
        }
    }

    if (!wasTransparent && known) {
        TGIFGraphicControlExtension* control = graphicControlExtension_;
        if (!control) {
            auto created = std::make_unique<TGIFGraphicControlExtension>(this);
            control = created.get();
            extensions_.Append(created.release());
        }
        control->SetIsTransparent(true);
        control->SetTransparentIndex(index);
    }
    ReleaseBitmap();
    ReleaseMask();
}
