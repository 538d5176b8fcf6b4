// Every public operation of an image that runs handlers (progress, warnings, changes, the
// painters' animation handlers and paints) or pumps messages, run once to count its callbacks,
// then once for each callback and each thing a handler can take away right there: an image
// freed, emptied or reloaded, or the frame in use removed from it; the operation's own image and,
// where two take part, the other one. The program's allocator poisons freed memory, the frames'
// pixel buffers included (freedmemory.h), so that any touch of what was taken faults or is counted.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "classlib/icon.h"
#include "classlib/metafile.h"
#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/subimage.h"
#include "tests/gifpaint/paintfixtures.h"
#include "tests/support/bitmaps.h"
#include "tests/support/freedmemory.h"
#include "tests/support/messagesink.h"

namespace {
constexpr int kWidth = 4;
// Tall enough for two running reports of each frame's rendering and import (every 32 rows).
constexpr int kHeight = 34;
const RECT kScreen{0, 0, kWidth, kHeight};

// How many more GDI objects the process can make: a leak shrinks it.
int GdiHeadroom() {
    std::vector<HGDIOBJ> made;
    while (made.size() < 200000) {
        HGDIOBJ pen = CreatePen(PS_SOLID, 1, RGB(made.size() & 255, 0, 0));
        if (!pen) break;
        made.push_back(pen);
    }
    for (HGDIOBJ pen : made) DeleteObject(pen);
    return static_cast<int>(made.size());
}

// Three frames, the middle one transparent and restoring the background, looped for ever.
std::vector<FrameSetup> ThreeFrames() {
    std::vector<FrameSetup> frames = SolidFrames(kWidth, kHeight, {kRed, kGreen, kBlue}, 2, 1);
    frames[1].pixels.assign(kWidth * kHeight, kGreen);
    for (int y = 0; y < kHeight; ++y) frames[1].pixels[static_cast<size_t>(y) * kWidth] = kWhite;
    frames[1].transparentIndex = kWhite;
    frames[1].disposal = 2;
    return frames;
}

// The stream of the three frames with a stray byte where the trailer belongs: loading it warns
// twice (an unknown block, a wrong trailer).
Bytes StreamThatWarns() {
    Bytes bytes = AnimationBytes(kWidth, kHeight, ThreeFrames(), LoopSetup{0, 0});
    bytes.back() = 0x99;
    bytes.push_back(0x3B);
    return bytes;
}

// The stream of the three frames cut inside the graphic control block of the third: loading it
// warns from inside that extension's load.
Bytes StreamCutInExtension() {
    Bytes bytes = AnimationBytes(kWidth, kHeight, ThreeFrames(), LoopSetup{0, 0});
    const Bytes control{0x21, 0xF9, 0x04};
    auto at = bytes.begin();
    for (int n = 0; n < 3; ++n) at = std::search(n ? at + 1 : at, bytes.end(), control.begin(), control.end());
    bytes.erase(at + 5, bytes.end());
    return bytes;
}

// What the handler at the chosen callback takes away from the victim image.
enum class Take { Free, Empty, Reload, RemoveFrame };
struct TakeKind {
    Take take;
    const char* text;
};
constexpr TakeKind kTakes[] = {{Take::Free, "freed"},
                               {Take::Empty, "emptied"},
                               {Take::Reload, "reloaded"},
                               {Take::RemoveFrame, "lost the frame in use"}};

// The frame a handler's sender belongs to: the frame itself, or the frame of an extension or a
// local colour table.
const TGIFSubImage* FrameOfSender(TObject* sender) {
    if (auto* frame = dynamic_cast<TGIFSubImage*>(sender)) return frame;
    if (auto* extension = dynamic_cast<TGIFExtension*>(sender)) return extension->Frame();
    if (auto* table = dynamic_cast<TGIFLocalColorMap*>(sender)) return table->Frame();
    return nullptr;
}

void FillBitmap24(TBitmap& bitmap) {
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) SetPixel(bitmap.Canvas().Handle(), x, y, RGB(x * 60, y * 7, 128 + (x ^ y)));
}

void LoadWarningStream(TGIFImage& image) {
    const std::unique_ptr<TMemoryStream> stream = StreamOf(StreamThatWarns());
    image.LoadFromStream(*stream);
}

// One run of an operation: its images, the surfaces they are drawn on, and the callback count
// at which a handler takes something of the victim image away (takeAt; 0: never).
struct Run {
    std::unique_ptr<TGIFImage> images[2];
    std::unique_ptr<Surface> surfaces[2];
    std::unique_ptr<MessageSink> sink;
    bool inOperation = false;
    int callbacks = 0;
    int takeAt = 0;
    int victim = 0;
    Take take = Take::Free;
    // The frame the operation works on, removed when the handler's sender names none.
    int frameInUse = 1;
    bool taken = false;
    std::string takeFailure;
    int offThread = 0;
    // The threads of the painters the run started, to wait for their end.
    std::vector<HANDLE> painterThreads;

    ~Run() {
        for (HANDLE thread : painterThreads) CloseHandle(thread);
    }
    void NotePainter(TGIFPainter& painter) {
        HANDLE thread = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), painter.Handle(), GetCurrentProcess(), &thread, SYNCHRONIZE, FALSE, 0))
            painterThreads.push_back(thread);
    }
    bool PaintersEnded() const {
        for (HANDLE thread : painterThreads)
            if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) return false;
        return true;
    }

    TGIFImage& A() { return *images[0]; }
    TGIFImage& B() { return *images[1]; }

    // Counts the callbacks of the operation on the GUI thread; takes from the victim at the
    // chosen one. The handlers the take runs itself are not counted.
    void Callback(TObject* sender = nullptr) {
        if (GetCurrentThreadId() != MainThreadID()) {
            ++offThread;
            return;
        }
        if (!inOperation) return;
        ++callbacks;
        if (callbacks != takeAt || taken) return;
        taken = true;
        inOperation = false;
        try {
            TakeAway(sender);
        } catch (const std::exception& e) {
            takeFailure = e.what();
        }
        inOperation = true;
    }

    void TakeAway(TObject* sender) {
        TGIFImage* image = images[victim].get();
        if (!image) return;
        switch (take) {
        case Take::Free: images[victim].reset(); break;
        case Take::Empty: image->ClearImage(); break;
        case Take::Reload: LoadWarningStream(*image); break;
        case Take::RemoveFrame: RemoveFrameInUse(*image, FrameOfSender(sender)); break;
        }
    }

    // The frame that sends the handler's call when it is one of the image's, else the frame the
    // operation works on (or the last one).
    void RemoveFrameInUse(TGIFImage& image, const TGIFSubImage* sending) {
        const int count = image.Frames()->ItemCount();
        int index = std::min(frameInUse, count - 1);
        for (int i = 0; i < count; ++i)
            if (image.Frames()->FrameAt(i) == sending) index = i;
        if (index >= 0) image.Frames()->RemoveAt(index);
    }

    void Hook(TGIFImage& image) {
        image.OnProgress = [this](TObject* sender, TProgressStage, uint8_t, bool, const RECT&, const std::string&) {
            Callback(sender);
        };
        image.OnWarningMessage = [this](TObject* sender, uint8_t, const std::string&) { Callback(sender); };
        const TNotifyEvent notify = [this](TObject* sender) { Callback(sender); };
        image.OnChange = notify;
        image.OnAnimationStart = [this](TObject* sender) {
            auto* painter = dynamic_cast<TGIFPainter*>(sender);
            if (painter && (painter->DrawFlags() & dfThreaded)) NotePainter(*painter);
            Callback();
        };
        image.OnFrameBegin = notify;
        image.OnFrameDone = notify;
        image.OnLoopPass = notify;
        image.OnAnimationEnd = notify;
    }

    // Image i of the three frames (or of the frames given), its frames rendered (so that no
    // painter thread renders one), with a surface whose change notifications count too.
    TGIFImage& MakeImage(int i, uint16_t drawFlags, const std::vector<FrameSetup>& frames = ThreeFrames()) {
        images[i] = Animation(kWidth, kHeight, frames, LoopSetup{0, 0});
        images[i]->SetDrawFlags(drawFlags);
        for (int f = 0; f < images[i]->Frames()->ItemCount(); ++f) images[i]->Frames()->FrameAt(f)->RenderedBitmap();
        surfaces[i] = std::make_unique<Surface>(kWidth, kHeight, kYellow, SurfaceKind::ScreenCompatible);
        surfaces[i]->Canvas().OnChange = [this](TObject*) { Callback(); };
        Hook(*images[i]);
        return *images[i];
    }

    // A threaded painter of image i that shows frame 0 and then waits until it is stopped.
    // The wait serves the painter's handlers: once one has freed the image, the painter is left alone.
    void StartWaitingPainter(int i) {
        TGIFImage& image = *images[i];
        const std::weak_ptr<const char> life = image.Life();
        image.SetSpeedPercent(0);
        TGIFPainter* painter = image.StartPainter(nullptr, &surfaces[i]->Canvas(), dfThreaded | dfAnimate | dfLoop,
                                                  kScreen);
        ASSERT_NE(painter, nullptr);
        NotePainter(*painter);
        painter->StartPainting();
        ASSERT_TRUE(PumpUntil([&] { return life.expired() || painter->FirstFramePainted(); }));
    }

    // A threaded painter of image i whose start handler waits in the queue, which the
    // operation's stop serves.
    void StartQueuedPainter(int i) {
        TGIFImage& image = *images[i];
        image.SetSpeedPercent(0);
        TGIFPainter* painter = image.StartPainter(nullptr, &surfaces[i]->Canvas(), dfThreaded | dfAnimate, kScreen);
        ASSERT_NE(painter, nullptr);
        NotePainter(*painter);
        static volatile LONG queued;
        queued = 0;
        void (*const earlier)() = WakeMainThread;
        WakeMainThread = [] { InterlockedExchange(&queued, 1); };
        painter->StartPainting();
        for (int i = 0; i < 500 && !queued; ++i) Sleep(10);
        WakeMainThread = earlier;
        ASSERT_TRUE(queued) << "the painter's start handler was not queued";
    }

    // Image 0's painter shows a frame and waits; image 1's has its start handler queued.
    void PaintersWaitingOnBoth() {
        MakeImage(0, dfAnimate);
        MakeImage(1, dfAnimate);
        StartWaitingPainter(0);
        StartQueuedPainter(1);
    }

    // A painter on the calling thread dispatches this message in its waits.
    void PostMessageForPainter() {
        sink = std::make_unique<MessageSink>();
        sink->Post([this] { Callback(); });
    }
};

struct Operation {
    const char* name;
    int images;  // how many images take part: each is taken from in turn
    std::function<void(Run&)> setup;
    std::function<void(Run&)> act;
    int frameInUse = 1;
};
void PrintTo(const Operation& op, std::ostream* os) { *os << op.name; }

// The frames and the image give back their bitmaps, so that the next copy or drawing renders
// them again, with its reports.
void ReleaseRendered(TGIFImage& image) {
    for (int f = 0; f < image.Frames()->ItemCount(); ++f) {
        image.Frames()->FrameAt(f)->ReleaseBitmap();
        image.Frames()->FrameAt(f)->ReleaseMask();
    }
    image.ReleaseBitmap();
}

// Seventy frames: drawing one gives back the cached objects of frames beyond the 64 before it.
std::vector<FrameSetup> SeventyFrames() {
    std::vector<uint8_t> colors;
    for (int i = 0; i < 70; ++i) colors.push_back(static_cast<uint8_t>(i % 3));
    return SolidFrames(kWidth, kHeight, colors, 2, 1);
}

// Frame 2 repeats frame 0's red in its first column and has a pixel of every other colour, so
// that merging it with frame 0 needs a new colour.
void PrepareMergeNeedingAColour(Run& r) {
    r.MakeImage(0, 0);
    TGIFSubImage& frame = *r.A().Frames()->FrameAt(2);
    for (int y = 0; y < kHeight; ++y) frame.SetPixelAt(0, y, kRed);
    frame.SetPixelAt(1, 0, kWhite);
    frame.SetPixelAt(2, 0, kGreen);
}

void MergeFrameWithFirst(Run& r) { r.A().Frames()->FrameAt(2)->MergeFrom(r.A().Frames()->FrameAt(0)); }

void AssignBitmapWith(Run& run, TReductionMethod method, TDitherKind dither) {
    run.A().SetReductionMethod(method);
    run.A().SetDitherMode(dither);
    TBitmap bitmap;
    FillBitmap24(bitmap);
    run.A().Assign(bitmap);
}

// A 4 x 4 icon, half of it transparent.
HICON SmallIcon() {
    BYTE andBits[4 * 4] = {};
    BYTE xorBits[4 * 4] = {};
    for (int y = 0; y < 4; ++y) andBits[y * 4] = 0xC0;
    return CreateIcon(GetModuleHandleA(nullptr), 4, 4, 1, 1, andBits, xorBits);
}

const Operation kOperations[] = {
    {"LoadFromStream", 1, [](Run& r) { r.MakeImage(0, 0); }, [](Run& r) { LoadWarningStream(r.A()); }},
    {"LoadFromStreamRenderingWhileLoading", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) {
         RenderFramesWhileLoading = true;
         try {
             LoadWarningStream(r.A());
         } catch (...) {
             RenderFramesWhileLoading = false;
             throw;
         }
         RenderFramesWhileLoading = false;
     }},
    {"LoadFromStreamWhilePaintersWait", 2, [](Run& r) { r.PaintersWaitingOnBoth(); },
     [](Run& r) { LoadWarningStream(r.A()); }},
    {"SaveToStream", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) {
         TMemoryStream stream;
         r.A().SaveToStream(stream);
     }},
    {"OptimizeFrames", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) { r.A().OptimizeFrames(osAllOptimizations, crNone); }},
    {"OptimizeFramesWhilePaintersWait", 2, [](Run& r) { r.PaintersWaitingOnBoth(); },
     [](Run& r) { r.A().OptimizeFrames(osAllOptimizations, crNone); }},
    {"FrameCopyFromBitmap24", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) {
         TBitmap bitmap;
         FillBitmap24(bitmap);
         r.A().Frames()->FrameAt(1)->CopyFrom(bitmap);
     }},
    {"AddFrameFromBitmap24", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) {
         TBitmap bitmap;
         FillBitmap24(bitmap);
         r.A().AddFrameFrom(&bitmap);
     }},
    {"AddFrameFromBitmap8", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) {
         TBitmap bitmap;
         r.A().Frames()->FrameAt(1)->CopyTo(bitmap);
         r.A().AddFrameFrom(&bitmap);
     }},
    {"AddFrameFromIcon", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) {
         const HICON handle = SmallIcon();
         {
             TIcon icon(handle);
             r.A().AddFrameFrom(&icon);
         }
         DestroyIcon(handle);
     }},
    {"AddFrameFromMetafile", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) {
         TMetafile metafile;
         metafile.SetHandle(MetafileFilling(kWidth, kHeight, RECT{0, 0, 2, kHeight}, RGB(0, 0, 255)));
         r.A().AddFrameFrom(&metafile);
     }},
    {"AddFrameFromOtherImage", 2, [](Run& r) { r.PaintersWaitingOnBoth(); },
     [](Run& r) { r.B().AddFrameFrom(r.A().Frames()->FrameAt(1)); }},
    {"AssignImage", 2,
     [](Run& r) {
         r.MakeImage(0, 0);
         r.MakeImage(1, 0);
     },
     [](Run& r) { r.A().Assign(r.B()); }},
    {"AssignImageWhilePaintersWait", 2, [](Run& r) { r.PaintersWaitingOnBoth(); }, [](Run& r) { r.A().Assign(r.B()); }},
    {"AssignBitmapWebPalette", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) { AssignBitmapWith(r, crWebPalette, dkNone); }},
    {"AssignBitmapQuantisedDithered", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) { AssignBitmapWith(r, crOptimized, dkFloydSteinberg); }},
    {"AssignBitmapGrayScale", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) { AssignBitmapWith(r, crGrayScale, dkStucki); }},
    {"ClearImageWhilePaintersWait", 2, [](Run& r) { r.PaintersWaitingOnBoth(); }, [](Run& r) { r.A().ClearImage(); }},
    {"DrawStillTransparent", 1,
     [](Run& r) {
         r.MakeImage(0, dfTransparent);
         r.A().Frames()->FrameAt(1)->ReleaseBitmap();
         r.A().Frames()->FrameAt(1)->ReleaseMask();
     },
     [](Run& r) {
         r.A().SetCurrentFrameIndex(1);
         r.A().DrawImage(r.surfaces[0]->Canvas(), kScreen);
     }},
    {"DrawStillDithered", 1,
     [](Run& r) {
         r.MakeImage(0, dfTransparent | dfDither);
         r.A().Frames()->FrameAt(1)->ReleaseBitmap();
         r.A().Frames()->FrameAt(1)->ReleaseMask();
     },
     [](Run& r) {
         r.A().SetCurrentFrameIndex(1);
         r.A().DrawImage(r.surfaces[0]->Canvas(), kScreen);
     }},
    {"DrawAnimationOnCallingThread", 1,
     [](Run& r) {
         r.MakeImage(0, dfAnimate | dfTransparent);
         r.A().SetSpeedPercent(1000);
         r.PostMessageForPainter();
     },
     [](Run& r) { r.A().DrawImage(r.surfaces[0]->Canvas(), kScreen); }},
    {"DrawAnimationOnCallingThreadRenderingFrames", 1,
     [](Run& r) {
         r.MakeImage(0, dfAnimate | dfTransparent);
         ReleaseRendered(r.A());
         r.A().SetSpeedPercent(1000);
         r.PostMessageForPainter();
     },
     [](Run& r) { r.A().DrawImage(r.surfaces[0]->Canvas(), kScreen); }},
    {"DrawAnimationOnTargetOnCallingThread", 1,
     [](Run& r) {
         r.MakeImage(0, dfAnimate | dfTransparent | dfPaintOnTarget);
         r.A().SetSpeedPercent(1000);
         r.PostMessageForPainter();
     },
     [](Run& r) { r.A().DrawImage(r.surfaces[0]->Canvas(), kScreen); }},
    {"DrawAnimationThreaded", 1,
     [](Run& r) {
         r.MakeImage(0, dfAnimate | dfThreaded | dfLoop);
         r.A().SetSpeedPercent(0);
     },
     [](Run& r) {
         TGIFImage& image = r.A();
         const std::weak_ptr<const char> life = image.Life();
         image.DrawImage(r.surfaces[0]->Canvas(), kScreen);
         if (!life.expired() && image.OwnPainter()) r.NotePainter(*image.OwnPainter());
     }},
    {"StartAndStopThreadedPainter", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) {
         TGIFImage& image = r.A();
         const std::weak_ptr<const char> life = image.Life();
         r.StartWaitingPainter(0);
         if (life.expired()) return;
         static_cast<void>(image.StopAllPainters());
     }},
    {"StartPainterOnCallingThread", 1,
     [](Run& r) {
         r.MakeImage(0, 0);
         r.A().SetSpeedPercent(1000);
         r.PostMessageForPainter();
     },
     [](Run& r) { r.A().StartPainter(nullptr, &r.surfaces[0]->Canvas(), dfAnimate | dfTransparent, kScreen); }},
    {"CopyToBitmap", 1,
     [](Run& r) {
         r.MakeImage(0, 0);
         ReleaseRendered(r.A());
     },
     [](Run& r) {
         TBitmap bitmap;
         r.A().CopyTo(bitmap);
     },
     0},
    {"AssignToBitmapFirstFrameSmallerThanScreen", 1,
     [](Run& r) {
         r.MakeImage(0, 0);
         r.A().SetScreenWidth(kWidth + 2);
         ReleaseRendered(r.A());
     },
     [](Run& r) {
         TBitmap bitmap;
         r.A().AssignTo(bitmap);
     },
     0},
    {"CurrentBitmapFirstFrameSmallerThanScreen", 1,
     [](Run& r) {
         r.MakeImage(0, dfDither);
         r.A().SetScreenHeight(kHeight + 1);
         ReleaseRendered(r.A());
     },
     [](Run& r) { r.A().CurrentBitmap(); }, 0},
    {"FrameAssignToBitmap", 1,
     [](Run& r) {
         r.MakeImage(0, dfTransparent);
         ReleaseRendered(r.A());
     },
     [](Run& r) {
         TBitmap bitmap;
         r.A().Frames()->FrameAt(1)->AssignTo(bitmap);
     }},
    {"AssignFrameOfOtherImage", 2, [](Run& r) { r.PaintersWaitingOnBoth(); },
     [](Run& r) { r.A().Assign(*r.B().Frames()->FrameAt(1)); }},
    {"AssignRenderedBitmapOfOtherImage", 2, [](Run& r) { r.PaintersWaitingOnBoth(); },
     [](Run& r) { r.A().Assign(*r.B().Frames()->FrameAt(1)->RenderedBitmap()); }},
    {"AddFrameFromRenderedBitmapOfOtherImage", 2,
     [](Run& r) {
         r.MakeImage(0, 0);
         r.MakeImage(1, 0);
     },
     [](Run& r) { r.A().AddFrameFrom(r.B().Frames()->FrameAt(1)->RenderedBitmap()); }},
    {"AddFrameFromOtherImageWhole", 2,
     [](Run& r) {
         r.MakeImage(0, 0);
         r.MakeImage(1, 0);
         ReleaseRendered(r.B());
     },
     [](Run& r) { r.A().AddFrameFrom(&r.B()); }},
    {"SetBoundsFieldWidensScreen", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) { r.A().Frames()->FrameAt(1)->SetBoundsField(kBoundsWidth, kWidth + 2); }},
    {"ApplyBoundsWidensScreen", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) { r.A().Frames()->FrameAt(1)->ApplyBounds(1, 1, kWidth, kHeight); }},
    {"LoadFromStreamCutInExtension", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) {
         const std::unique_ptr<TMemoryStream> stream = StreamOf(StreamCutInExtension());
         r.A().LoadFromStream(*stream);
     }},
    {"FrameLoadFromStreamCutInExtension", 1, [](Run& r) { r.MakeImage(0, 0); },
     [](Run& r) {
         const std::unique_ptr<TMemoryStream> stream = StreamOf(Bytes{0x21, 0xF9, 0x04, 0x00});
         r.A().Frames()->FrameAt(1)->LoadFromStream(*stream);
     }},
    {"DrawStillOfSeventyFramesDithered", 1,
     [](Run& r) {
         r.MakeImage(0, dfDither, SeventyFrames());
         r.A().Frames()->FrameAt(69)->ReleaseBitmap();
     },
     [](Run& r) {
         r.A().SetCurrentFrameIndex(69);
         r.A().DrawImage(r.surfaces[0]->Canvas(), kScreen);
     },
     69},
    {"MergeAppendsToGlobalTable", 1,
     [](Run& r) {
         PrepareMergeNeedingAColour(r);
         // A cached palette and bitmap: a change of the table is announced.
         r.A().ReleaseBitmap();
         r.A().PaletteHandle();
         r.A().CurrentBitmap();
     },
     &MergeFrameWithFirst, 2},
    {"MergeAppendsToLocalTable", 1,
     [](Run& r) {
         PrepareMergeNeedingAColour(r);
         TGIFSubImage& frame = *r.A().Frames()->FrameAt(2);
         frame.LocalColorMap()->CopyFrom(*r.A().GlobalColors());
         frame.ReleaseBitmap();
         frame.PaletteHandle();
         frame.RenderedBitmap();
     },
     &MergeFrameWithFirst, 2},
    {"StopOwnPainterWhilePaintersWait", 2,
     [](Run& r) {
         r.MakeImage(0, dfAnimate | dfThreaded | dfPaintOnTarget);
         r.MakeImage(1, dfAnimate);
         r.A().SetSpeedPercent(0);
         r.A().DrawImage(r.surfaces[0]->Canvas(), kScreen);
         ASSERT_NE(r.A().OwnPainter(), nullptr);
         r.NotePainter(*r.A().OwnPainter());
         PumpUntil([&] { return r.A().OwnPainter()->FirstFramePainted(); });
         r.StartQueuedPainter(1);
     },
     [](Run& r) { static_cast<void>(r.A().StopOwnPainter()); }},
};

struct Outcome {
    int callbacks = 0;
    bool taken = false;
    int offThread = 0;
    bool paintersEnded = true;
    // What the operation raised other than the library's abort and errors. Texts are kept
    // off the heap, whose blocks the test counts.
    char failure[160] = "";
    // The library's error (an image emptied under an operation may leave it nothing to do).
    char gifError[160] = "";
};

void Note(char (&text)[160], const std::string& what) { std::snprintf(text, sizeof text, "%s", what.c_str()); }

Outcome RunOnce(const Operation& op, int takeAt, int victim, Take take) {
    Outcome out;
    {
        Run run;
        run.frameInUse = op.frameInUse;
        op.setup(run);
        if (testing::Test::HasFatalFailure()) return out;
        run.takeAt = takeAt;
        run.victim = victim;
        run.take = take;
        run.inOperation = true;
        try {
            op.act(run);
        } catch (const EAbort&) {
            // The library's abort: a handler took away what the operation works on.
        } catch (const GIFException& e) {
            Note(out.gifError, e.what());
        } catch (const std::exception& e) {
            Note(out.failure, e.what());
        }
        run.inOperation = false;
        if (!run.takeFailure.empty()) Note(out.failure, "the handler's take raised " + run.takeFailure);
        out.callbacks = run.callbacks;
        out.taken = run.taken;
        for (auto& image : run.images) image.reset();
        // What the painters queued runs without the images.
        PumpUntil([] { return false; }, 20);
        out.paintersEnded = PumpUntil([&] { return run.PaintersEnded(); });
        out.offThread = run.offThread;
    }
    return out;
}

class GifImageFreedAtEveryCallback : public testing::TestWithParam<Operation> {};

TEST_P(GifImageFreedAtEveryCallback, OperationEndsWithoutTouchingIt) {
    const Operation& op = GetParam();
    const Outcome counted = RunOnce(op, 0, 0, Take::Free);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_STREQ(counted.failure, "");
    EXPECT_STREQ(counted.gifError, "");
    EXPECT_GT(counted.callbacks, 0) << "the operation runs no handler";
    EXPECT_EQ(FreedBlocksWritten(), 0u);
    EXPECT_TRUE(counted.paintersEnded) << "a painter thread is left";
    const int gdiBefore = GdiHeadroom();
    int orders = 0;
    int freeing = 0;
    for (int victim = 0; victim < op.images; ++victim) {
        for (const TakeKind& kind : kTakes) {
            for (int k = 1;; ++k) {
                ASSERT_LT(k, 1000) << "the operation does not end";
                const std::string trace = std::string(op.name) + ": image " + std::to_string(victim) + " " +
                                          kind.text + " at callback " + std::to_string(k);
                SCOPED_TRACE(trace);
                NoteForFaults(trace.c_str());
                const size_t blocks = LiveBlocks();
                const Outcome out = RunOnce(op, k, victim, kind.take);
                ASSERT_FALSE(HasFatalFailure());
                EXPECT_TRUE(out.paintersEnded) << "a painter thread is left";
                EXPECT_STREQ(out.failure, "");
                // A freed image ends the operation with the abort alone.
                if (kind.take == Take::Free) {
                    EXPECT_STREQ(out.gifError, "");
                }
                EXPECT_EQ(FreedBlocksWritten(), 0u) << "freed memory was written";
                EXPECT_EQ(LiveBlocks(), blocks) << "memory leaked";
                if (HasFailure()) return;
                // The whole operation came before this callback: every one has been tried.
                if (!out.taken) break;
                ++orders;
                if (kind.take == Take::Free) ++freeing;
            }
        }
    }
    EXPECT_GE(GdiHeadroom(), gdiBefore - 4) << "GDI objects leaked";
    EXPECT_GT(orders, 0);
    std::printf("%s: %d callbacks, %d orders tried (%d freeing an image), %d off the GUI thread\n", op.name,
                counted.callbacks, orders, freeing, counted.offThread);
    RecordProperty("callbacks", counted.callbacks);
    RecordProperty("orders", orders);
}

INSTANTIATE_TEST_SUITE_P(Gif, GifImageFreedAtEveryCallback, testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });
}  // namespace
