// Frame import: a frame filled from another frame, from a bitmap (taken over at 1, 4 or 8 bits
// per pixel, reduced to a palette otherwise), from an icon or metafile drawn into a bitmap with
// its unpainted parts made transparent, or from any other picture.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "classlib/icon.h"
#include "classlib/metafile.h"
#include "gifimage/colormap.h"
#include "gifimage/dib.h"
#include "gifimage/extensions.h"
#include "gifimage/framelock.h"
#include "gifimage/gdiutils.h"
#include "gifimage/giferror.h"
#include "gifimage/gifimage.h"
#include "gifimage/messages.h"
#include "gifimage/progress.h"
#include "gifimage/quantiser.h"
#include "gifimage/subimage.h"

namespace {

// The running report of row y, every 32 rows; a handler that takes the frame away (with its
// image or without) ends the import.
void ReportRow(TGIFSubImage& frame, int y, int height) {
    if (y % 32 == 0) EndIfImageFreed(frame.ReportProgress(psRunning, MulDiv(y, 100, height), false, sProgressConverting));
}

TColor ColorOfBGR(const uint8_t* p) { return static_cast<TColor>(p[2] | (p[1] << 8) | (p[0] << 16)); }

}  // namespace

// The inner routines of one import: the frame being filled and the reader over its bitmap.
class TGIFSubImage::FrameImporter {
public:
    FrameImporter(TGIFSubImage& frame, TDIBReader& reader) : frame_(frame), reader_(reader) {}

    void ImportBits1() {
        LoadTableFromPalette();
        ImportRows([](const uint8_t* row, uint8_t* pixels, int width) {
            for (int x = 0; x < width; ++x) pixels[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        });
    }

    void ImportBits4() {
        LoadTableFromPalette();
        ImportRows([](const uint8_t* row, uint8_t* pixels, int width) {
            for (int x = 0; x < width; ++x) pixels[x] = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        });
    }

    void ImportBits8() {
        TBitmap& bitmap = reader_.Bitmap();
        // Fetching a row first makes a device-dependent picture device-independent.
        reader_.RowPointer(0);
        if (bitmap.HandleType() == bmDDB)
            frame_.LocalColorMap()->LoadFromPaletteHandle(bitmap.Palette());
        else
            LoadTableFromDIB(bitmap);
        ImportRows([](const uint8_t* row, uint8_t* pixels, int width) { std::memcpy(pixels, row, width); });
    }

    // Every distinct colour becomes a table entry, in the order of first appearance; the eight
    // colours used last are remembered so that runs of one colour skip the table search.
    void ImportBits24() {
        struct Slot {
            bool used;
            TColor color;
            uint8_t index;
        };
        Slot cache[8] = {};
        int cursor = 0;
        TGIFColorMap& table = *frame_.LocalColorMap();
        ImportRows([&](const uint8_t* row, uint8_t* pixels, int width) {
            for (int x = 0; x < width; ++x, row += 3) {
                const TColor color = ColorOfBGR(row);
                bool found = false;
                for (int n = 0, slot = cursor; n < 8 && cache[slot].used; ++n, slot = (slot + 7) & 7) {
                    if (cache[slot].color != color) continue;
                    pixels[x] = cache[slot].index;
                    cursor = slot;
                    found = true;
                    break;
                }
                if (found) continue;
                const uint8_t index = static_cast<uint8_t>(table.AppendIfMissing(color));
                cursor = (cursor + 1) & 7;
                cache[cursor] = Slot{true, color, index};
                pixels[x] = index;
            }
        });
    }

private:
    // The colour table of a device-independent picture, as long as it was made: some systems
    // report every entry the format can hold to a device context.
    void LoadTableFromDIB(TBitmap& bitmap) {
        std::vector<RGBQUAD> quads;
        bitmap.GetColorTable(quads);
        frame_.LocalColorMap()->LoadFromColorArray(quads.data(), static_cast<int>(quads.size()));
    }

    // The colour table of a 1- or 4-bit picture: its palette, made once the rows are device-independent.
    void LoadTableFromPalette() {
        reader_.RowPointer(0);
        frame_.LocalColorMap()->LoadFromPaletteHandle(reader_.Bitmap().Palette());
    }

    template <typename RowCopy>
    void ImportRows(RowCopy copyRow) {
        const int width = frame_.Width(), height = frame_.Height();
        for (int y = 0; y < height; ++y) {
            ReportRow(frame_, y, height);
            copyRow(reader_.RowPointer(y), frame_.WritableRow(y), width);
        }
    }

    TGIFSubImage& frame_;
    TDIBReader& reader_;
};

namespace {

// A 24-bit bitmap of the given size to draw into (sized height first or width first).
void PrepareDrawingBitmap(TBitmap& target, int width, int height, bool heightFirst) {
    if (heightFirst) {
        target.SetHeight(height);
        target.SetWidth(width);
    } else {
        target.SetWidth(width);
        target.SetHeight(height);
    }
    target.SetPixelFormat(pf24bit);
}

// Draws the graphic into a 24-bit bitmap of its size.
void ImportByDrawing(TBitmap& target, TGraphic& graphic) {
    PrepareDrawingBitmap(target, graphic.Width(), graphic.Height(), true);
    target.Canvas().Draw(0, 0, graphic);
}

// Draws the metafile into a 24-bit bitmap over a background colour.
void PaintMetafile(TBitmap& target, TMetafile& metafile, TColor background) {
    PrepareDrawingBitmap(target, metafile.Width(), metafile.Height(), false);
    TCanvas& canvas = target.Canvas();
    RECT clip{0, 0, 0, 0};
    GetClipBox(canvas.Handle(), &clip);
    canvas.FillRect(clip, background);
    canvas.Draw(0, 0, metafile);
}

}  // namespace

// --- The mask routines ----------------------------------------------------------

namespace {

// Pixels under a non-zero mask byte take a new transparent colour, when the compacted table
// has room for one.
void AttachMask(TGIFSubImage& frame, TBitmap& mask) {
    TGIFColorMap& table = *frame.LocalColorMap();
    table.Compact();
    if (table.Count() == 0 || table.Count() == 256) return;
    const int transparentIndex = table.AppendColor(clBlack);
    bool used = false;
    {
        TDIBReader reader(mask, pf8bit);
        // A mask smaller than the frame leaves the pixels outside it opaque.
        const int width = std::min(frame.Width(), mask.Width()), height = std::min(frame.Height(), mask.Height());
        for (int y = 0; y < height; ++y) {
            const uint8_t* maskRow = reader.RowPointer(y);
            for (int x = 0; x < width; ++x) {
                if (maskRow[x] == 0) continue;
                frame.SetPixelAt(x, y, static_cast<uint8_t>(transparentIndex));
                used = true;
            }
        }
    }
    if (!used) {
        table.RemoveAt(transparentIndex);
        return;
    }
    auto extension = std::make_unique<TGIFGraphicControlExtension>(&frame);
    extension->SetIsTransparent(true);
    extension->SetTransparentIndex(transparentIndex);
    frame.Extensions()->Append(extension.release());
}

// Applies a copy of the mask bitmap; the bitmap named by the handle stays with its owner.
void AttachMaskOnly(TGIFSubImage& frame, HBITMAP mask) {
    if (!mask) return;
    TBitmap copy;
    HBITMAP copied = static_cast<HBITMAP>(CopyImage(mask, IMAGE_BITMAP, 0, 0, 0));
    if (!copied) RaiseGdiFailure();
    copy.SetHandle(copied);
    AttachMask(frame, copy);
}

void AttachIconMask(TGIFSubImage& frame, TIcon& icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon.Handle(), &info)) return;
    try {
        AttachMaskOnly(frame, info.hbmMask);
    } catch (...) {
        if (info.hbmMask) DeleteObject(info.hbmMask);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        throw;
    }
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
}

// The pixels a metafile leaves unpainted differ between a white and a black background.
void AttachMetafileMask(TGIFSubImage& frame, TMetafile& metafile) {
    TBitmap onWhite;
    TBitmap onBlack;
    PaintMetafile(onWhite, metafile, clWhite);
    PaintMetafile(onBlack, metafile, clBlack);
    BitBlt(onWhite.Canvas().Handle(), 0, 0, onWhite.Width(), onWhite.Height(), onBlack.Canvas().Handle(), 0, 0,
           SRCINVERT);
    GdiFlush();
    AttachMask(frame, onWhite);
}

}  // namespace

// --- TGIFSubImage::CopyFrom ------------------------------------------------------

void TGIFSubImage::CopyFrom(const TPersistent& source) {
    if (&source == this) return;
    const FrameWorkHold work(*this);
    auto& from = const_cast<TPersistent&>(source);
    if (auto* frame = dynamic_cast<TGIFSubImage*>(&from)) {
        CopyFrame(*frame);
    } else if (auto* bitmap = dynamic_cast<TBitmap*>(&from)) {
        ImportBitmap(*bitmap);
    } else if (auto* graphic = dynamic_cast<TGraphic*>(&from)) {
        ImportGraphic(*graphic);
    } else if (auto* picture = dynamic_cast<TPicture*>(&from)) {
        CopyFrom(picture->Graphic());
    } else {
        TPersistent::Assign(source);
    }
}

void TGIFSubImage::CopyFrom(const TPersistent* source) {
    if (source == this) return;
    if (!source) {
        ResetFrame();
        return;
    }
    CopyFrom(*source);
}

void TGIFSubImage::CopyFrame(TGIFSubImage& source) {
    // The source's painters may be rendering it.
    const FrameLockHold sourceHold(source);
    const TFrameWatch sourceWatch(source);
    ResetFrame();
    if (source.IsEmpty()) return;
    descriptor_ = source.Descriptor();
    transparent_ = source.Transparent();
    AllocPixels();
    if (pixels_ && source.Pixels()) std::memcpy(pixels_, source.Pixels(), std::min(pixelsSize_, source.PixelsSize()));
    localColorMap_.CopyFrom(*source.LocalColorMap());
    if (source.Extensions()->ItemCount() > 0) {
        TMemoryStream stream;
        source.Extensions()->SaveItems(stream);
        stream.SetPosition(0);
        extensions_.LoadItems(stream, this);
        // A warning of the copied extensions runs a handler, which may take the source away.
        EndIfImageFreed(sourceWatch.Lives());
    }
    if (source.HasRenderedBitmap()) {
        AllocBitmap();
        frameBitmap_->Assign(*source.FrameBitmap());
    }
}

void TGIFSubImage::ImportBitmap(TBitmap& bitmap) {
    if (bitmap.Width() > kMaxSide || bitmap.Height() > kMaxSide) RaiseGIFError(sImageTooLarge);
    // The frame keeps its place: from there it must still end on the largest logical screen.
    if (Left() + bitmap.Width() > kMaxSide || Top() + bitmap.Height() > kMaxSide) RaiseGIFError(sImageTooLarge);
    // The reset frees the frame's own bitmap, widening the screen below frees the image's
    // whole-image bitmap, and the import's handlers may free any image with its bitmaps: the
    // import reads a copy taken before.
    TBitmap source;
    source.Assign(bitmap);
    ResetFrame();
    if (source.Empty()) return;
    // No palette handle of the frame may outlive the import: a later colour-table change would
    // free the bitmap being read.
    SetPaletteHandle(nullptr);
    SetBoundsField(kBoundsWidth, source.Width());
    SetBoundsField(kBoundsHeight, source.Height());

    TPixelFormat format = source.PixelFormat();
    if (format == pf1bit || format == pf4bit || format == pf8bit) {
        AllocBitmap();
        frameBitmap_->Assign(source);
    } else {
        // Reduced from a copy, so that the source keeps its pixel format for its mask.
        TBitmap copy;
        copy.Assign(source);
        TGIFImage* image = OwnerImage();
        frameBitmap_ = ReduceBitmapColors(copy, image ? image->ReductionMethod() : DefaultColorReduction,
                                         image ? image->DitherMode() : DefaultDitherMode,
                                         image ? image->ReductionBits() : DefaultReductionBits, nullptr);
        format = frameBitmap_->PixelFormat();
    }
    AllocPixels();

    TGIFProgress progress(OwnerImage(), this, sProgressConverting, TGIFProgress::RedrawIfPaletteModified, this);
    EndIfImageFreed(progress.Start());
    {
        const TPixelFormat readFormat = format == pf1bit || format == pf4bit || format == pf8bit ? format : pf24bit;
        {
            TDIBReader reader(*frameBitmap_, readFormat);
            FrameImporter importer(*this, reader);
            switch (readFormat) {
            case pf1bit: importer.ImportBits1(); break;
            case pf4bit: importer.ImportBits4(); break;
            case pf8bit: importer.ImportBits8(); break;
            default: importer.ImportBits24(); break;
            }
        }
        if (source.Transparent()) AttachMaskOnly(*this, source.MaskHandle());
    }
    EndIfImageFreed(progress.Finish());
}

void TGIFSubImage::ImportGraphic(TGraphic& source) {
    ResetFrame();
    if (source.Empty()) return;
    auto* icon = dynamic_cast<TIcon*>(&source);
    auto* metafile = dynamic_cast<TMetafile*>(&source);
    // A picture that runs handlers as it is copied or drawn (another GIF image) may have this
    // frame taken away by one of them.
    const TFrameWatch watch(*this);
    {
        TBitmap work;
        if (icon || metafile) {
            try {
                ImportByDrawing(work, source);
            } catch (const EAbort&) {
                throw;  // a handler's abort, or the source or this frame taken away: no second way
            } catch (...) {
                work.Assign(source);
            }
        } else {
            try {
                work.Assign(source);
            } catch (const EAbort&) {
                throw;
            } catch (...) {
                ImportByDrawing(work, source);
            }
        }
        EndIfImageFreed(watch.Lives());
        ImportBitmap(work);
    }
    if (icon) AttachIconMask(*this, *icon);
    if (metafile) AttachMetafileMask(*this, *metafile);
}
