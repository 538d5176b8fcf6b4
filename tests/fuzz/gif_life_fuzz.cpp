// Mutated GIF streams through the whole life of an image: each stream that loads is rendered
// (direct and dithered), drawn scaled and tiled, made into the whole-image bitmap, saved with
// both encoders and loaded again, optimised, colour-reduced, played a few frames by a painter
// and copied to and from other images and bitmaps. Only the library's and the class library's
// exceptions may come out; a saved image must load again with the same frames, pixels and
// extension blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "fuzzrun.h"
#include "gifimage/extensions.h"
#include "gifimage/gifstream.h"
#include "gifimage/painter.h"
#include "gifimage/quantiser.h"
#include "gifimage/subimage.h"
#include "gifseeds.h"
#include "tests/support/extensionblocks.h"
#include "tests/support/gdiobjects.h"
#include "tests/support/gifbuilder.h"
#include "tests/support/wic.h"

namespace {

// One case stays fast: larger images are skipped and counted.
constexpr int64_t kMaxScreenPixels = 512 * 512;
constexpr int64_t kMaxFramePixels = 512 * 512;
constexpr int64_t kMaxTotalPixels = 2'000'000;
constexpr int kMaxFramesWorkedOn = 12;
constexpr int kPainterFrames = 3;
// The most GDI objects the images of one stream may hold at once (about 4 images are alive at a
// time, each keeping the cached objects of a bounded number of frames).
constexpr int kMaxGdiObjectsPerStream = 2000;

// The first difference between the non-empty frames of two images ("" when none).
std::string FrameDifference(TGIFImage& a, TGIFImage& b, bool includeEmpty) {
    auto frames = [includeEmpty](TGIFImage& image) {
        std::vector<TGIFSubImage*> list;
        for (int i = 0; i < image.Frames()->ItemCount(); ++i)
            if (includeEmpty || !image.Frames()->FrameAt(i)->IsEmpty()) list.push_back(image.Frames()->FrameAt(i));
        return list;
    };
    const std::vector<TGIFSubImage*> fa = frames(a), fb = frames(b);
    if (fa.size() != fb.size())
        return "frame count " + std::to_string(fa.size()) + " became " + std::to_string(fb.size());
    // The screen's extents are kept in 16 bits: fitted to a frame that reaches beyond 65535 they
    // wrap, and the screen no longer covers that frame (nor, after a trim, what is left of it).
    // Only a screen that covers its frames comes back the same; the load fits any other.
    auto coversFrames = [&a](const std::vector<TGIFSubImage*>& list) {
        for (const TGIFSubImage* f : list)
            if (f->Left() + f->Width() > a.ScreenWidth() || f->Top() + f->Height() > a.ScreenHeight()) return false;
        return true;
    };
    if (coversFrames(fa) && (a.ScreenWidth() != b.ScreenWidth() || a.ScreenHeight() != b.ScreenHeight()))
        return "screen of " + std::to_string(a.ScreenWidth()) + "x" + std::to_string(a.ScreenHeight()) + " became " +
               std::to_string(b.ScreenWidth()) + "x" + std::to_string(b.ScreenHeight());
    for (size_t i = 0; i < fa.size(); ++i) {
        const TGIFSubImage& x = *fa[i];
        const TGIFSubImage& y = *fb[i];
        const std::string at = "frame " + std::to_string(i) + ": ";
        if (x.IsEmpty() != y.IsEmpty()) return at + "emptiness changed";
        // An empty frame is copied as a reset one, without its position.
        if (x.IsEmpty()) continue;
        if (x.Left() != y.Left() || x.Top() != y.Top() || x.Width() != y.Width() || x.Height() != y.Height())
            return at + "bounds changed";
        const int64_t n = int64_t(x.Width()) * x.Height();
        if (!x.Pixels() || !y.Pixels() || x.PixelsSize() < n || y.PixelsSize() < n) return at + "pixel buffer missing";
        for (int64_t k = 0; k < n; ++k)
            if (x.Pixels()[k] != y.Pixels()[k])
                return at + "pixel " + std::to_string(k) + " was " + std::to_string(x.Pixels()[k]) + ", became " +
                       std::to_string(y.Pixels()[k]);
    }
    return "";
}

// The first difference between the extension blocks of two images, all frames' in stream order
// ("" when none).
std::string ExtensionDifference(TGIFImage& a, TGIFImage& b) {
    const std::vector<std::string> ea = ExtensionsOf(a), eb = ExtensionsOf(b);
    for (size_t i = 0; i < std::max(ea.size(), eb.size()); ++i) {
        const std::string x = i < ea.size() ? ea[i] : "none", y = i < eb.size() ? eb[i] : "none";
        if (x != y) return "extension block " + std::to_string(i) + " was " + x + ", became " + y;
    }
    return "";
}

class GifLife {
public:
    GifLife(std::mt19937& random, fuzz::Tally& tally, WICGifDecoder& wic) : random_(random), tally_(tally), wic_(wic) {}

    std::string Run(const fuzz::Bytes& stream) {
        gdiAtStart_ = GdiObjectsInUse();
        const std::string fault = RunStages(stream);
        CheckGdiPeak();
        return fault_.empty() ? fault : fault_;
    }

private:
    std::string RunStages(const fuzz::Bytes& stream) {
        Dump("input", stream.data(), stream.size());
        std::unique_ptr<TGIFImage> image;
        if (!Step("load", [&] { image = LoadGif(stream); })) return fault_;
        tally_.Add("loaded");
        if (!WithinBound(*image)) {
            tally_.Add("skipped: too large");
            return fault_;
        }
        tally_.Add("worked on");
        if (Chance(4)) {
            EditAsACaller(*image);
            if (!fault_.empty()) return fault_;
            if (!WithinBound(*image)) {
                tally_.Add("skipped: too large after edits");
                return fault_;
            }
        }
        Render(*image);
        SampleGdi();
        Draw(*image);
        SampleGdi();
        WholeBitmap(*image);
        SampleGdi();
        for (int compression : {0, 1}) SaveAndReload(*image, compression, compression ? "rle" : "lzw");
        Optimise(*image);
        Paint(*image);
        SampleGdi();
        Copy(*image);
        return fault_;
    }

    // What the images of one stream hold at once (the images alive then, their frames' bitmaps,
    // masks and palettes, a painter's buffers), sampled between stages. Every window of the process
    // shares the GDI table, so one file must not take a large share of it; FUZZ_GDI_REPORT=<n>
    // prints each stream whose images held more than n.
    void SampleGdi() { gdiPeak_ = std::max(gdiPeak_, GdiObjectsInUse() - gdiAtStart_); }
    void CheckGdiPeak() {
        tally_.Max("GDI objects held at once, most", uint64_t(std::max(gdiPeak_, 0)));
        if (const char* report = std::getenv("FUZZ_GDI_REPORT"); report && gdiPeak_ > std::atoi(report))
            std::printf("GDI objects held at once: %d (%s)\n", gdiPeak_, fuzz::ReplayText().c_str());
        if (gdiPeak_ > kMaxGdiObjectsPerStream)
            Fail("the images held " + std::to_string(gdiPeak_) + " GDI objects at once, more than " +
                 std::to_string(kMaxGdiObjectsPerStream));
    }

    // Runs a stage: a class-library exception is a refusal and is counted, anything else a fault.
    bool Step(const char* stage, const std::function<void()>& action) {
        if (!fault_.empty()) return false;
        fuzz::NoteStage(stage);
        try {
            action();
            return fault_.empty();
        } catch (const Exception& e) {
            tally_.Add(std::string("refused: ") + stage);
            // FUZZ_MESSAGES set: each refusal is also counted by its message.
            if (std::getenv("FUZZ_MESSAGES"))
                tally_.Add(std::string("refused: ") + stage + ": " + fuzz::ClassName(e) + " " + e.what());
            return false;
        } catch (const std::exception& e) {
            fault_ = std::string(stage) + ": " + fuzz::ClassName(e) + " " + e.what();
        } catch (...) {
            fault_ = std::string(stage) + ": an exception of no known class";
        }
        return false;
    }
    void Fail(const std::string& what) {
        if (fault_.empty()) fault_ = std::string(fuzz::CurrentStage()) + ": " + what;
    }
    // With FUZZ_DUMP set (to a folder), the streams of a replayed run are kept for other decoders.
    static void Dump(const std::string& name, const uint8_t* data, size_t size) {
        const char* folder = std::getenv("FUZZ_DUMP");
        if (!folder || !*folder) return;
        std::ofstream(std::string(folder) + "\\" + name + ".gif", std::ios::binary)
            .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    int Pick(int n) { return n <= 0 ? 0 : int(random_() % uint32_t(n)); }
    bool Chance(int oneIn) { return Pick(oneIn) == 0; }

    static bool WithinBound(TGIFImage& image) {
        if (int64_t(image.ScreenWidth()) * image.ScreenHeight() > kMaxScreenPixels) return false;
        int64_t total = 0;
        for (int i = 0; i < image.Frames()->ItemCount(); ++i) {
            const TGIFSubImage* frame = image.Frames()->FrameAt(i);
            const int64_t n = int64_t(frame->Width()) * frame->Height();
            if (n > kMaxFramePixels) return false;
            total += n;
        }
        return total <= kMaxTotalPixels;
    }
    int FramesWorkedOn(TGIFImage& image) const { return std::min(image.Frames()->ItemCount(), kMaxFramesWorkedOn); }

    // A 24-bit drawing surface of the given size, filled with a colour no GIF table is likely to use.
    static std::unique_ptr<TBitmap> Surface(int width, int height) {
        auto surface = std::make_unique<TBitmap>();
        surface->SetPixelFormat(pf24bit);
        surface->SetSize(std::max(width, 1), std::max(height, 1));
        surface->Canvas().FillRect(RECT{0, 0, surface->Width(), surface->Height()}, 0x00123456);
        return surface;
    }
    // A destination between half and twice the screen, at a random offset; now and then one
    // that is empty or upside down, as a minimised window gives.
    RECT ScaledRect(TGIFImage& image) {
        if (Chance(16)) {
            const int x = Pick(20) - 10, y = Pick(20) - 10;
            return RECT{x, y, x - Pick(8), y + Pick(8) - 4};
        }
        const int w = std::max(image.ScreenWidth(), 1), h = std::max(image.ScreenHeight(), 1);
        const int width = std::clamp(w * (1 + Pick(4)) / 2, 1, 700), height = std::clamp(h * (1 + Pick(4)) / 2, 1, 700);
        const int x = Pick(9) - 4, y = Pick(9) - 4;
        return RECT{x, y, x + width, y + height};
    }

    // What a program may do to a loaded image: move and resize frames, widen the screen.
    void EditAsACaller(TGIFImage& image) {
        const int edits = 1 + Pick(3);
        for (int e = 0; e < edits && image.Frames()->ItemCount() > 0; ++e) {
            TGIFSubImage* frame = image.Frames()->FrameAt(Pick(image.Frames()->ItemCount()));
            const int field = 1 + Pick(4);
            const int value = field <= 2 ? Pick(600) : Pick(300);
            Step("frame bounds", [&] { frame->SetBoundsField(field, value); });
        }
        if (Chance(3)) {
            const int width = image.ScreenWidth() + Pick(100), height = image.ScreenHeight() + Pick(100);
            Step("screen size", [&] {
                image.SetScreenWidth(width);
                image.SetScreenHeight(height);
            });
        }
        tally_.Add("edited");
    }

    // The colours of a bitmap as 24-bit rows.
    static std::vector<uint8_t> Colors(TBitmap* bitmap) {
        std::vector<uint8_t> colors;
        if (!bitmap || bitmap->Empty()) return colors;
        TBitmap copy;
        copy.Assign(*bitmap);
        copy.SetPixelFormat(pf24bit);
        for (int y = 0; y < copy.Height(); ++y) {
            const uint8_t* row = copy.ScanLine(y);
            colors.insert(colors.end(), row, row + 3 * copy.Width());
        }
        return colors;
    }

    void Render(TGIFImage& image) {
        bool rendered = true;
        for (int i = 0; i < FramesWorkedOn(image); ++i) {
            TGIFSubImage* frame = image.Frames()->FrameAt(i);
            rendered &= Step("render direct", [&] {
                std::unique_ptr<TBitmap> bitmap = frame->RenderDirect();
                if (!bitmap || frame->IsEmpty()) return;
                if (bitmap->Width() != frame->Width() || bitmap->Height() != frame->Height())
                    Fail("bitmap of " + std::to_string(bitmap->Width()) + "x" + std::to_string(bitmap->Height()) +
                         " for a frame of " + std::to_string(frame->Width()) + "x" + std::to_string(frame->Height()));
                // The frame's own colours: each bitmap pixel is the frame's colour index.
                else if (bitmap->PixelFormat() == pf8bit)
                    for (int y = 0; y < frame->Height(); ++y)
                        if (std::memcmp(bitmap->ScanLine(y), frame->RowAt(y), size_t(frame->Width())) != 0) {
                            Fail("row " + std::to_string(y) + " of the bitmap is not the frame's indexes");
                            break;
                        }
            });
            rendered &= Step("render dithered", [&] {
                std::unique_ptr<TBitmap> bitmap = frame->RenderDithered();
                if (bitmap && !frame->IsEmpty() &&
                    (bitmap->Width() != frame->Width() || bitmap->Height() != frame->Height()))
                    Fail("dithered bitmap of the wrong size");
            });
            rendered &= Step("rendered bitmap", [&] {
                frame->RenderedBitmap();
                frame->IsMasked();
            });
            if (i == 0 && frame->HasRenderedBitmap() && Chance(4)) Reduce(*frame->FrameBitmap());
        }
        if (rendered) tally_.Add("rendered");
    }

    void Draw(TGIFImage& image) {
        const RECT rect = ScaledRect(image);
        std::unique_ptr<TBitmap> surface = Surface(rect.right + 4, rect.bottom + 4);
        bool drawn = true;
        for (int i = 0; i < FramesWorkedOn(image); ++i) {
            TGIFSubImage* frame = image.Frames()->FrameAt(i);
            const bool transparent = Chance(2), tile = Chance(2);
            drawn &= Step("draw frame", [&] { frame->DrawFrame(surface->Canvas(), rect, transparent, tile); });
            drawn &= Step("stretch-draw frame",
                          [&] { frame->StretchDrawFrame(surface->Canvas(), rect, !transparent, !tile); });
        }
        // The picture's own draw, of one frame: without animation no painter starts.
        image.SetDrawFlags(static_cast<uint16_t>(random_() & (dfTransparent | dfTile | dfDither | dfDitherPaletteOnly)));
        image.SetCurrentFrameIndex(Pick(image.Frames()->ItemCount() + 1) - 1);
        drawn &= Step("draw image", [&] { image.Draw(surface->Canvas(), rect); });
        image.SetCurrentFrameIndex(-1);
        // Animated, the picture plays into its cached bitmap through a painter of its own.
        if (Chance(4)) {
            image.SetDrawFlags(static_cast<uint16_t>(
                (random_() & (dfTransparent | dfTile | dfLoop | dfClearFirstFrame | dfThreaded | dfPaintOnTarget)) |
                dfAnimate));
            int framesDone = 0;
            image.SetSpeedPercent(100000);
            image.OnFrameDone = [&framesDone](TObject* sender) {
                if (++framesDone >= kPainterFrames) static_cast<TGIFPainter*>(sender)->StopPainting();
            };
            drawn &= Step("draw image animated", [&] {
                image.Draw(surface->Canvas(), rect);
                const DWORD start = GetTickCount();
                while (PainterCount(image) > 0 && framesDone < kPainterFrames && GetTickCount() - start < 2000)
                    if (!CheckSynchronize()) Sleep(1);
                static_cast<void>(image.StopAllPainters());  // no handler of the run frees the image
            });
            image.OnFrameDone = nullptr;
        }
        image.SetDrawFlags(DefaultDrawFlags);
        if (drawn) tally_.Add("drawn");
    }

    void WholeBitmap(TGIFImage& image) {
        Step("whole-image bitmap", [&] {
            TBitmap* bitmap = image.CurrentBitmap();
            if (!bitmap) return;
            // A screen without width or height has no bitmap of its size.
            if (image.ScreenWidth() > 0 && image.ScreenHeight() > 0 &&
                (bitmap->Width() != image.ScreenWidth() || bitmap->Height() != image.ScreenHeight()))
                Fail("whole-image bitmap of the wrong size");
            tally_.Add("whole-image bitmap made");
            Reduce(*bitmap);
        });
    }

    void Reduce(TBitmap& whole) {
        if (whole.Empty() || whole.Width() == 0 || whole.Height() == 0) return;
        const auto method = static_cast<TReductionMethod>(Pick(crCustomPalette + 1));
        const auto dither = static_cast<TDitherKind>(Pick(dkBurkes + 1));
        const int bits = Pick(9);
        HPALETTE custom = Chance(2) ? CreateGrayPalette() : CreateFourGrayPalette();
        Step("colour reduction", [&] {
            TBitmap copy;
            copy.Assign(whole);
            std::unique_ptr<TBitmap> reduced = ReduceBitmapColors(copy, method, dither, bits, custom);
            if (reduced && !reduced->Empty() &&
                (reduced->Width() != whole.Width() || reduced->Height() != whole.Height()))
                Fail("reduced bitmap of the wrong size");
            tally_.Add("colour-reduced");
        });
        DeleteObject(custom);
    }

    // Saves with one encoder; when the save is accepted the load must give the same frames back.
    void SaveAndReload(TGIFImage& image, int compression, const char* name) {
        TMemoryStream saved;
        image.SetCompression(static_cast<uint8_t>(compression));
        if (!Step(compression ? "save (run-length)" : "save (LZW)", [&] { image.SaveToStream(saved); })) return;
        Dump(std::string("saved-") + name, static_cast<const uint8_t*>(saved.Memory()), size_t(saved.Size()));
        tally_.Add(std::string("saved ") + name);
        fuzz::NoteStage(compression ? "reload (run-length)" : "reload (LZW)");
        TGIFImage again;
        try {
            saved.SetPosition(0);
            again.LoadFromStream(saved);
        } catch (const std::exception& e) {
            Fail(std::string("a saved image does not load again: ") + e.what());
            return;
        } catch (...) {
            Fail("a saved image does not load again");
            return;
        }
        const std::string difference = FrameDifference(image, again, false);
        if (!difference.empty()) {
            Fail("the reloaded image differs: " + difference);
            return;
        }
        const std::string blocks = ExtensionDifference(image, again);
        if (!blocks.empty()) {
            Fail("the reloaded image differs: " + blocks);
            return;
        }
        tally_.Add(std::string("saved and reloaded the same ") + name);
        tally_.Add("extension blocks reloaded the same", ExtensionsOf(again).size());
        SampleGdi();
        if (Chance(4)) CompareWithWindowsDecoder(image, saved, name);
    }

    // The records of graphic control and plain text extensions are written back as they were
    // read, block size and terminator included; a damaged one makes a stream other decoders refuse.
    static bool RecordsWellFormed(TGIFImage& image) {
        for (int i = 0; i < image.Frames()->ItemCount(); ++i) {
            TGIFSubImage* frame = image.Frames()->FrameAt(i);
            for (int k = 0; k < frame->Extensions()->ItemCount(); ++k) {
                TGIFExtension* extension = frame->Extensions()->ExtensionAt(k);
                if (auto* control = dynamic_cast<TGIFGraphicControlExtension*>(extension);
                    control && (control->Record().BlockSize != 4 || control->Record().Terminator != 0))
                    return false;
                if (auto* text = dynamic_cast<TGIFTextExtension*>(extension); text && text->Record().BlockSize != 12)
                    return false;
            }
        }
        return true;
    }

    // Windows' own decoder must read the same frames from what was saved.
    void CompareWithWindowsDecoder(TGIFImage& image, TMemoryStream& saved, const char* name) {
        if (!wic_.Available()) return;
        if (!RecordsWellFormed(image)) {
            tally_.Add("Windows decoder not asked: a damaged record kept");
            return;
        }
        fuzz::NoteStage("Windows decoder");
        const WICResult reference = wic_.Decode(static_cast<const uint8_t*>(saved.Memory()), size_t(saved.Size()));
        std::vector<TGIFSubImage*> frames;
        for (int i = 0; i < image.Frames()->ItemCount(); ++i)
            if (!image.Frames()->FrameAt(i)->IsEmpty()) frames.push_back(image.Frames()->FrameAt(i));
        if (!reference.error.empty()) return Fail("Windows' decoder refuses what was saved: " + reference.error);
        if (reference.frames.size() != frames.size())
            return Fail("Windows' decoder reads " + std::to_string(reference.frames.size()) + " frames, saved were " +
                        std::to_string(frames.size()));
        for (size_t i = 0; i < frames.size(); ++i) {
            const TGIFSubImage& frame = *frames[i];
            const WICFrame& want = reference.frames[i];
            if (int(want.width) != frame.Width() || int(want.height) != frame.Height())
                return Fail("Windows' decoder reads frame " + std::to_string(i) + " at another size");
            if (std::memcmp(want.indexes.data(), frame.Pixels(), want.indexes.size()) != 0)
                return Fail("Windows' decoder reads other pixels in frame " + std::to_string(i));
        }
        tally_.Add(std::string("saved ") + name + " read the same by Windows' decoder");
    }

    void Optimise(TGIFImage& image) {
        TGIFImage copy;
        if (!Step("copy for optimisation", [&] { copy.Assign(image); })) return;
        const TOptimizeSet options = static_cast<TOptimizeSet>(random_() & osAllOptimizations);
        const auto method = static_cast<TReductionMethod>(Pick(crCustomPalette + 1));
        // Without trimming, the first frame of an opaque image shows the same after optimisation.
        const bool firstKept = !(options & osTrimBorders) && !image.IsEmpty() && !image.Frames()->FrameAt(0)->IsEmpty() &&
                               !image.Frames()->FrameAt(0)->Transparent();
        std::vector<uint8_t> before;
        if (firstKept) Step("bitmap before optimisation", [&] { before = Colors(image.CurrentBitmap()); });
        if (!Step("optimisation", [&] { copy.OptimizeFrames(options, method); })) return;
        tally_.Add("optimised");
        Step("optimised bitmap", [&] {
            const std::vector<uint8_t> after = Colors(copy.CurrentBitmap());
            if (firstKept && !before.empty() && after != before) Fail("the first frame shows other colours");
        });
        if (!copy.IsEmpty() && WithinBound(copy)) SaveAndReload(copy, Pick(2), "optimised");
        SampleGdi();
    }

    // A painter on the calling thread, stopped after a few frames; now and then a threaded one.
    void Paint(TGIFImage& image) {
        const RECT rect = ScaledRect(image);
        std::unique_ptr<TBitmap> surface = Surface(rect.right + 4, rect.bottom + 4);
        uint16_t flags = static_cast<uint16_t>(
            (random_() & (dfTransparent | dfLoop | dfValidateTarget | dfClearFirstFrame | dfTile | dfDither)) |
            dfAnimate);
        const bool threaded = Chance(8);
        if (threaded) flags |= dfThreaded;
        int framesDone = 0;
        image.SetSpeedPercent(100000);  // frame delays of a few milliseconds at most
        image.OnFrameDone = [&framesDone](TObject* sender) {
            if (++framesDone >= kPainterFrames) static_cast<TGIFPainter*>(sender)->StopPainting();
        };
        const bool painted = Step(threaded ? "threaded painter" : "painter", [&] {
            TGIFPainter* painter = image.StartPainter(nullptr, &surface->Canvas(), flags, rect);
            if (!painter) return;
            painter->StartPainting();
            const DWORD start = GetTickCount();
            while (PainterCount(image) > 0 && framesDone < kPainterFrames && GetTickCount() - start < 2000)
                if (!CheckSynchronize()) Sleep(1);
            static_cast<void>(image.StopAllPainters());  // no handler of the run frees the image
        });
        image.OnFrameDone = nullptr;
        if (painted) tally_.Add(threaded ? "painted (threaded)" : "painted");
    }
    static size_t PainterCount(TGIFImage& image) {
        const size_t n = image.Painters()->LockList().size();
        image.Painters()->UnlockList();
        return n;
    }

    void Copy(TGIFImage& image) {
        bool copied = true;
        // To another image and back: the same frames both ways.
        TGIFImage other;
        copied &= Step("copy to another image", [&] {
            other.Assign(image);
            const std::string difference = FrameDifference(image, other, true);
            if (!difference.empty()) Fail("the copy differs: " + difference);
        });
        TGIFImage back;
        copied &= Step("copy back", [&] {
            back.Assign(other);
            const std::string difference = FrameDifference(image, back, true);
            if (!difference.empty()) Fail("the copy of the copy differs: " + difference);
        });
        // To bitmaps, and from them into new images.
        TBitmap whole, frameBitmap;
        copied &= Step("image to bitmap", [&] { image.AssignTo(whole); });
        TGIFSubImage* frame = image.Frames()->ItemCount() > 0 ? image.Frames()->FrameAt(Pick(FramesWorkedOn(image)))
                                                            : nullptr;
        if (frame) copied &= Step("frame to bitmap", [&] { frame->AssignTo(frameBitmap); });
        TGIFImage imported;
        imported.SetReductionMethod(static_cast<TReductionMethod>(Pick(crCustomPalette)));
        imported.SetDitherMode(static_cast<TDitherKind>(Pick(dkBurkes + 1)));
        copied &= Step("image from bitmap", [&] {
            if (!whole.Empty()) imported.Assign(whole);
            if (!frameBitmap.Empty()) imported.AddFrameFrom(&frameBitmap);
            if (frame && Chance(2)) imported.AddFrameFrom(static_cast<TGraphic*>(&image));
        });
        if (copied) tally_.Add("copied");
        if (!imported.IsEmpty() && WithinBound(imported)) SaveAndReload(imported, Pick(2), "imported");
        SampleGdi();
    }

    std::mt19937& random_;
    fuzz::Tally& tally_;
    WICGifDecoder& wic_;
    std::string fault_;
    int gdiAtStart_ = 0;
    int gdiPeak_ = 0;
};

TEST(GifLifeFuzz, MutatedStreamsSurviveEveryPathOfTheirImage) {
    fuzz::InstallCrashReport("gif_life_fuzz");
    const fuzz::Settings settings = fuzz::Settings::FromEnvironment();
    const std::vector<fuzz::Bytes> seeds = GifSeeds(GIF_CORPUS_DIR);
    ASSERT_GT(seeds.size(), 10u);
    fuzz::Tally tally;
    WICGifDecoder wic;
    const int headroom = fuzz::GdiHeadroom();
    double seconds = 0;
    const std::vector<std::string> faults = fuzz::RunLoop(settings, tally, seconds,
                                                          [&](uint64_t, std::mt19937& random) {
                                                              fuzz::Bytes bytes = seeds[random() % seeds.size()];
                                                              // A few streams go unmutated, so that every path also
                                                              // sees well-formed images.
                                                              if (random() % 16 != 0)
                                                                  fuzz::Mutate(bytes, random, seeds);
                                                              GifLife life(random, tally, wic);
                                                              return life.Run(bytes);
                                                          });
    // Every image of the run is gone: what the GDI table lost since the start was leaked.
    const int leaked = headroom - fuzz::GdiHeadroom();
    tally.Add("GDI objects leaked", uint64_t(std::max(leaked, 0)));
    tally.Add("GDI objects free at the start", uint64_t(headroom));
    tally.Add("private memory at the end (KB)", fuzz::PrivateBytes() / 1024);
    tally.Print("GIF image life", seconds);
    for (const std::string& fault : faults) ADD_FAILURE() << fault;
    // A few objects made once and kept (stock palettes, say) are no leak; one per image is.
    EXPECT_LE(leaked, 32) << "GDI objects leaked over the run";
    if (settings.onlyRun < 0) {
        EXPECT_GT(tally.Get("worked on"), 0u);
    }
}

}  // namespace
