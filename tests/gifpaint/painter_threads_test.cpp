// Painter threads against the GUI thread on one image: renders of one frame never overlap,
// frames come and go while painters read them, an animating image is copied, and handlers
// run on the GUI thread only and never under the frame lock.
//
// The stress probes run a few rounds here. scripts/stress-painters runs them for longer in many
// processes (PAINTER_STRESS_ROUNDS or PAINTER_STRESS_SECONDS per probe) and adds up the figures
// each one prints: "probe <name>: rounds R overlap-rounds X overlaps O off-gui-handlers H
// freed-writes W" (X the rounds in which renders of one frame overlapped).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "classlib/streams.h"
#include "gifimage/framelock.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "paintfixtures.h"
#include "tests/support/freedmemory.h"

namespace {

const uint16_t kEndlessFlags = dfThreaded | dfAnimate | dfLoop | dfLoopEndlessly | dfTransparent;
constexpr int kPainters = 4;

int EnvNumber(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

// Rounds for this run: a count, or as many as fit in a time.
class RoundPlan {
public:
    RoundPlan()
        : rounds_(EnvNumber("PAINTER_STRESS_ROUNDS", 4))
        , seconds_(EnvNumber("PAINTER_STRESS_SECONDS", 0))
        , start_(GetTickCount()) {}
    bool Next(int done) const {
        if (seconds_ > 0) return GetTickCount() - start_ < static_cast<DWORD>(seconds_) * 1000;
        return done < rounds_;
    }

private:
    int rounds_;
    int seconds_;
    DWORD start_;
};

// Ends the program with a message when a round of a probe hangs (a deadlock between the
// threads): each round must end within the given time of the one before.
class Watchdog {
public:
    explicit Watchdog(int seconds) : seconds_(seconds), deadline_(GetTickCount() + seconds * 1000) {
        thread_ = std::thread([this] {
            while (!done_) {
                if (static_cast<LONG>(GetTickCount() - deadline_) > 0) {
                    std::fprintf(stderr, "fault: probe hangs\n");
                    std::fflush(stderr);
                    TerminateProcess(GetCurrentProcess(), 4);
                }
                Sleep(50);
            }
        });
    }
    ~Watchdog() {
        done_ = true;
        thread_.join();
    }
    void Kick() { deadline_ = GetTickCount() + seconds_ * 1000; }

private:
    int seconds_;
    std::atomic<DWORD> deadline_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Counts renders of one frame under way on two threads at once, through the render trace.
class OverlapCounter {
public:
    OverlapCounter() {
        InitializeCriticalSection(&lock_);
        active_ = this;
        RenderTrace = &Trace;
    }
    ~OverlapCounter() {
        RenderTrace = nullptr;
        active_ = nullptr;
        DeleteCriticalSection(&lock_);
    }
    long Overlaps() const { return overlaps_; }

private:
    struct Renders {
        std::map<DWORD, int> byThread;
    };
    static void Trace(const TGIFSubImage& frame, bool begins) {
        OverlapCounter& self = *active_;
        EnterCriticalSection(&self.lock_);
        Renders& renders = self.frames_[&frame];
        const DWORD me = GetCurrentThreadId();
        if (begins) {
            for (const auto& [thread, count] : renders.byThread)
                if (thread != me && count > 0) ++self.overlaps_;
            ++renders.byThread[me];
        } else {
            --renders.byThread[me];
        }
        LeaveCriticalSection(&self.lock_);
    }
    static inline OverlapCounter* active_ = nullptr;
    CRITICAL_SECTION lock_;
    std::map<const TGIFSubImage*, Renders> frames_;
    long overlaps_ = 0;
};

// Counts handler calls that come on another thread than the GUI thread.
struct HandlerThreads {
    std::atomic<long> offGui{0};
    std::atomic<long> calls{0};
    void Note() {
        ++calls;
        if (GetCurrentThreadId() != MainThreadID()) ++offGui;
    }
    void Attach(TGIFImage& image) {
        image.OnProgress = [this](TObject*, TProgressStage, uint8_t, bool, const RECT&, const std::string&) { Note(); };
        image.OnChange = [this](TObject*) { Note(); };
    }
};

// Frames with transparent pixels (so renders make masks) and disposal 2 (so the painters
// compose), looping without end at the shortest delay.
std::unique_ptr<TGIFImage> StressAnimation(int side, int frames) {
    std::vector<FrameSetup> setups;
    for (int i = 0; i < frames; ++i) {
        FrameSetup f;
        f.width = f.height = side;
        f.pixels.resize(static_cast<size_t>(side) * side);
        for (size_t p = 0; p < f.pixels.size(); ++p) f.pixels[p] = static_cast<uint8_t>((p / 7 + i) % 4);
        f.delay = 1;
        f.disposal = 2;
        f.transparentIndex = kWhite;
        setups.push_back(f);
    }
    auto image = Animation(side, side, setups, LoopSetup{0, 0});
    image->SetSpeedPercent(1000);
    return image;
}

// Threaded painters, each on a surface of its own, playing the image without end.
class Painters {
public:
    Painters(TGIFImage& image, int side) {
        for (int i = 0; i < kPainters; ++i) {
            surfaces_.push_back(std::make_unique<Surface>(side, side, kYellow));
            if (TGIFPainter* painter = image.StartPainter(nullptr, &surfaces_.back()->Canvas(), kEndlessFlags,
                                                          RECT{0, 0, side, side}))
                painter->StartPainting();
        }
    }

private:
    std::vector<std::unique_ptr<Surface>> surfaces_;
};

void PumpFor(int ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < static_cast<DWORD>(ms))
        if (!CheckSynchronize()) Sleep(0);
}

struct ProbeFigures {
    int rounds = 0;
    int overlapRounds = 0;
    long overlaps = 0;
    long offGuiHandlers = 0;
    size_t freedWrites = 0;
    void Print(const char* name) const {
        std::printf("probe %s: rounds %d overlap-rounds %d overlaps %ld off-gui-handlers %ld freed-writes %u\n", name,
                    rounds, overlapRounds, overlaps, offGuiHandlers, static_cast<unsigned>(freedWrites));
        std::fflush(stdout);
    }
};

// Runs round(image, side) for the planned rounds on fresh images with four endless painters
// each, then frees the image while they still play. The frames are 64 x 64 and 160 x 160 in
// turn (a render of the larger ones spans many more of the painters' turns).
template <typename Round>
ProbeFigures RunProbe(const char* name, int frames, Round round) {
    Watchdog watchdog(60);
    const RoundPlan plan;
    const size_t freedBefore = FreedBlocksWritten();
    HandlerThreads handlers;
    ProbeFigures figures;
    {
        OverlapCounter overlaps;
        for (; plan.Next(figures.rounds); ++figures.rounds) {
            watchdog.Kick();
            const int side = figures.rounds % 2 ? 160 : 64;
            auto image = StressAnimation(side, frames);
            handlers.Attach(*image);
            const Painters painters(*image, side);
            const long before = overlaps.Overlaps();
            round(*image, side);
            image.reset();
            if (overlaps.Overlaps() > before) ++figures.overlapRounds;
        }
        figures.overlaps = overlaps.Overlaps();
    }
    PumpFor(50);
    figures.offGuiHandlers = handlers.offGui;
    figures.freedWrites = FreedBlocksWritten() - freedBefore;
    figures.Print(name);
    return figures;
}

void ExpectClean(const ProbeFigures& figures) {
    EXPECT_GT(figures.rounds, 0);
    EXPECT_EQ(figures.overlaps, 0) << "renders of one frame overlapped";
    EXPECT_EQ(figures.offGuiHandlers, 0) << "handlers ran on painter threads";
    EXPECT_EQ(figures.freedWrites, 0u) << "freed memory was written";
}

// --- Stress probes -------------------------------------------------------------------

// The GUI thread drops and renders the frames' bitmaps and asks for their masks while four
// painters render the same frames ahead of their paints.
TEST(PainterThreadStress, RendersOfOneFrame) {
    ExpectClean(RunProbe("renders", 4, [](TGIFImage& image, int) {
        for (int turn = 0; turn < 10; ++turn) {
            for (int i = 0; i < image.Frames()->ItemCount(); ++i) {
                TGIFSubImage* frame = image.Frames()->FrameAt(i);
                frame->ReleaseBitmap();
                frame->ReleaseMask();
                frame->IsMasked();
                frame->RenderedBitmap();
            }
            PumpFor(1);
        }
    }));
}

// Frames are appended (the list's storage moves) and removed while the painters play.
TEST(PainterThreadStress, AppendsAndRemovals) {
    ExpectClean(RunProbe("appends", 3, [](TGIFImage& image, int side) {
        const auto donor = StressAnimation(side, 1);
        for (int i = 0; i < 40; ++i) {
            auto frame = std::make_unique<TGIFSubImage>(&image);
            frame->CopyFrom(*donor->Frames()->FrameAt(0));
            image.AddFrameFrom(frame.release());
            if (i % 2) delete image.Frames()->FrameAt(i % image.Frames()->ItemCount());
            if (i % 4 == 0) PumpFor(1);
        }
        while (image.Frames()->ItemCount() > 1) {
            delete image.Frames()->FrameAt(image.Frames()->ItemCount() - 1);
            CheckSynchronize();
        }
    }));
}

// An animating image is copied, whole and frame by frame, while its painters render the frames
// being read.
TEST(PainterThreadStress, AssignFromAnimating) {
    ExpectClean(RunProbe("assign", 4, [](TGIFImage& image, int side) {
        for (int turn = 0; turn < 4; ++turn) {
            for (int i = 0; i < image.Frames()->ItemCount(); ++i) image.Frames()->FrameAt(i)->ReleaseBitmap();
            TGIFImage copy;
            copy.Assign(image);
            EXPECT_EQ(copy.Frames()->ItemCount(), image.Frames()->ItemCount());
            TBitmap bitmap;
            image.Frames()->FrameAt(turn % image.Frames()->ItemCount())->CopyTo(bitmap);
            EXPECT_EQ(bitmap.Width(), side);
            PumpFor(1);
        }
    }));
}

// --- Handlers and the frame lock -----------------------------------------------------

// One threaded painter renders each frame ahead of its paint; every report of those renders
// and every change notification came on the GUI thread.
TEST(PainterThreadHandlers, RendersAheadReportNothingOffTheGuiThread) {
    auto image = StressAnimation(32, 3);
    image->SetSpeedPercent(100);
    HandlerThreads handlers;
    handlers.Attach(*image);
    EventLog log;
    log.Attach(*image);
    Surface surface(32, 32, kYellow);
    TGIFPainter* painter = image->StartPainter(nullptr, &surface.Canvas(), dfThreaded | dfAnimate | dfLoop,
                                               RECT{0, 0, 32, 32});
    ASSERT_NE(painter, nullptr);
    painter->StartPainting();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("begin 2"); }));
    ASSERT_TRUE(image->StopAllPainters());
    for (int i = 0; i < image->Frames()->ItemCount(); ++i)
        EXPECT_TRUE(image->Frames()->FrameAt(i)->HasRenderedBitmap()) << "frame " << i;
    EXPECT_EQ(handlers.offGui, 0);
}

// What each kind of handler sees of the frame lock while the operations that call it run: it is
// never held, so that painter threads go on while the handler runs (and may wait for them).
struct HeldCase {
    const char* name;
    std::function<void(TGIFImage&)> operation;
};
void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }

class FrameLockAtHandlers : public testing::TestWithParam<HeldCase> {};

TEST_P(FrameLockAtHandlers, IsNotHeld) {
    auto image = StressAnimation(40, 3);
    int calls = 0, held = 0;
    auto note = [&] {
        ++calls;
        held += image->FrameLock()->HeldByCaller();
    };
    image->OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const RECT&, const std::string&) { note(); };
    image->OnChange = [&](TObject*) { note(); };
    image->OnWarningMessage = [&](TObject*, uint8_t, const std::string&) { note(); };
    GetParam().operation(*image);
    EXPECT_GT(calls, 0);
    EXPECT_EQ(held, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FrameLockAtHandlers,
    testing::Values(HeldCase{"Render", [](TGIFImage& image) { image.Frames()->FrameAt(1)->RenderedBitmap(); }},
                    HeldCase{"Mask", [](TGIFImage& image) { image.Frames()->FrameAt(1)->IsMasked(); }},
                    HeldCase{"Load",
                             [](TGIFImage& image) {
                                 TMemoryStream stream;
                                 image.SaveToStream(stream);
                                 stream.SetPosition(0);
                                 image.LoadFromStream(stream);
                             }},
                    HeldCase{"ImportIntoListedFrame",
                             [](TGIFImage& image) {
                                 TBitmap bitmap;
                                 bitmap.SetPixelFormat(pf24bit);
                                 bitmap.SetSize(40, 40);
                                 image.Frames()->FrameAt(1)->Assign(bitmap);
                             }},
                    HeldCase{"AddFrame",
                             [](TGIFImage& image) { image.AddFrameFrom(image.Frames()->FrameAt(0)->RenderedBitmap()); }},
                    HeldCase{"Optimise", [](TGIFImage& image) { image.OptimizeFrames(osAllOptimizations, crNone); }},
                    HeldCase{"Assign",
                             [](TGIFImage& image) {
                                 const auto source = StressAnimation(40, 2);
                                 image.Assign(*source);
                             }},
                    HeldCase{"Resize",
                             [](TGIFImage& image) {
                                 image.CurrentBitmap();
                                 image.SetScreenWidth(80);
                             }}),
    [](const auto& info) { return std::string(info.param.name); });

// A stop called while the GUI thread holds the frame lock lets go of it, so that the painters
// it waits for can take it on their way out: the stop returns.
TEST(PainterThreadHandlers, StopUnderTheFrameLockReturns) {
    auto image = StressAnimation(32, 3);
    Painters painters(*image, 32);
    PumpFor(30);
    {
        const FrameLockHold hold(image.get());
        PumpFor(0);
        EXPECT_TRUE(image->StopAllPainters());
        EXPECT_TRUE(image->FrameLock()->HeldByCaller());
    }
    EXPECT_TRUE(NoPainters(*image));
}

}  // namespace
