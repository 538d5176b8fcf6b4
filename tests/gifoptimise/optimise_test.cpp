// Optimising images in place: colour tables, unused transparency, needless disposal, merging,
// trimming, extension clean-up, progress, the reduction check and the painter lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "classlib/streams.h"
#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/giferror.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/optimise.h"
#include "gifimage/subimage.h"
#include "tests/support/frames.h"
#include "tests/support/testseam.h"

namespace {

enum ExtKind { kComment, kText, kLoop, kUnknownApp, kControl };

struct FrameSetup {
    int left = 0, top = 0, width = 0, height = 0;
    Bytes pixels;
    // A graphic control extension is added when any of these is set.
    int transparent = -1;
    int disposal = -1;
    int delay = -1;
    bool waitsForInput = false;
    // Further extensions, in this order before the graphic control extension.
    std::vector<ExtKind> extras;
    std::vector<TColor> local;
};

std::unique_ptr<TGIFImage> MakeImage(int width, int height, int globalColors = 4) {
    auto image = std::make_unique<TGIFImage>();
    image->SetScreenWidth(width);
    image->SetScreenHeight(height);
    for (int i = 0; i < globalColors; ++i) image->GlobalColors()->AppendColor(TColor(i * 0x101010));
    return image;
}

TGIFSubImage* AddFrame(TGIFImage& image, const FrameSetup& setup) {
    auto* frame = new TGIFSubImage(&image);
    image.Frames()->Append(frame);
    for (TColor c : setup.local) frame->LocalColorMap()->AppendColor(c);
    if (setup.width > 0 && setup.height > 0) {
        frame->ApplyBounds(setup.left, setup.top, setup.width, setup.height);
        frame->SetPixels(setup.pixels.data(), setup.pixels.size());
    }
    for (ExtKind kind : setup.extras) {
        TGIFExtension* extension = nullptr;
        switch (kind) {
        case kComment: extension = new TGIFCommentExtension(frame); break;
        case kText: extension = new TGIFTextExtension(frame); break;
        case kLoop: extension = new TGIFAppExtNSLoop(frame); break;
        case kUnknownApp: extension = new TGIFUnknownAppExtension(frame); break;
        case kControl: extension = new TGIFGraphicControlExtension(frame); break;
        }
        frame->Extensions()->Append(extension);
    }
    if (setup.transparent >= 0 || setup.disposal >= 0 || setup.delay >= 0 || setup.waitsForInput) {
        auto* control = new TGIFGraphicControlExtension(frame);
        frame->Extensions()->Append(control);
        if (setup.disposal >= 0) control->SetDisposalMethod(static_cast<uint8_t>(setup.disposal));
        if (setup.delay >= 0) control->SetDelayUnits(static_cast<uint16_t>(setup.delay));
        if (setup.waitsForInput) {
            TGraphicControlRecord record = control->Record();
            record.PackedFields |= 0x02;
            control->SetRecord(record);
        }
        if (setup.transparent >= 0) {
            control->SetIsTransparent(true);
            control->SetTransparentIndex(setup.transparent);
        }
    }
    return frame;
}

std::unique_ptr<TGIFImage> MakeAnimation(const std::vector<FrameSetup>& frames, int width = 8, int height = 8) {
    auto image = MakeImage(width, height);
    for (const FrameSetup& setup : frames) AddFrame(*image, setup);
    return image;
}

// The extensions of a frame, by kind, in list order.
std::vector<ExtKind> KindsOf(const TGIFSubImage& frame) {
    std::vector<ExtKind> kinds;
    for (int i = 0; i < frame.Extensions()->ItemCount(); ++i) {
        TGIFExtension* e = frame.Extensions()->ExtensionAt(i);
        if (dynamic_cast<TGIFCommentExtension*>(e))
            kinds.push_back(kComment);
        else if (dynamic_cast<TGIFTextExtension*>(e))
            kinds.push_back(kText);
        else if (dynamic_cast<TGIFAppExtNSLoop*>(e))
            kinds.push_back(kLoop);
        else if (dynamic_cast<TGIFUnknownAppExtension*>(e))
            kinds.push_back(kUnknownApp);
        else if (dynamic_cast<TGIFGraphicControlExtension*>(e))
            kinds.push_back(kControl);
    }
    return kinds;
}

int DelayOf(const TGIFSubImage& frame) {
    return frame.GraphicControlExtension() ? frame.GraphicControlExtension()->DelayUnits() : -1;
}

int DisposalOf(const TGIFSubImage& frame) {
    return frame.GraphicControlExtension() ? frame.GraphicControlExtension()->DisposalMethod() : -1;
}

Bytes Fill(int count, uint8_t value) { return Bytes(static_cast<size_t>(count), value); }

struct Report {
    TProgressStage stage;
    int percent;
    std::string message;
};

std::vector<Report>& Record(TGIFImage& image, std::vector<Report>& reports) {
    image.OnProgress = [&reports](TObject*, TProgressStage stage, uint8_t percent, bool redrawNow, const RECT&,
                                  const std::string& message) {
        EXPECT_FALSE(redrawNow);
        reports.push_back({stage, percent, message});
    };
    return reports;
}

std::string Saved(TGIFImage& image) {
    TMemoryStream stream;
    image.SaveToStream(stream);
    return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

// Whether another thread gets the painter list's lock within two seconds.
bool LockableFromAnotherThread(TGIFImage& image) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    TThreadList<TGIFPainter*>* list = image.Painters().get();
    std::thread([list, done] {
        list->LockList();
        list->UnlockList();
        *done = true;
    }).detach();
    for (int i = 0; i < 200 && !*done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return *done;
}

// --- The byte search -------------------------------------------------------------

TEST(GifOptimiseContainsByte, LooksOnlyAtTheFirstLengthBytes) {
    const uint8_t data[] = {5, 7, 9, 7, 3};
    struct Case {
        const char* name;
        uint8_t value;
        int32_t length;
        bool expected;
    } cases[] = {
        {"first byte", 5, 5, true},
        {"last byte within the length", 3, 5, true},
        {"byte after the length", 3, 4, false},
        {"value absent", 4, 5, false},
        {"length 0", 5, 0, false},
        {"length 1 sees only the first byte", 7, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ContainsByte(data, c.value, c.length), c.expected);
    }
    EXPECT_FALSE(ContainsByte(nullptr, 0, 4));
}

// --- Whole runs ---------------------------------------------------------------------

TEST(GifOptimise, AnEmptyImageIsLeftAloneWithoutProgress) {
    auto image = MakeImage(4, 4);
    std::vector<Report> reports;
    Record(*image, reports);
    image->OptimizeFrames(osAllOptimizations, crCustomPalette);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(image->GlobalColors()->Count(), 4);
    EXPECT_EQ(image->ScreenWidth(), 4);
}

TEST(GifOptimise, ProgressRunsFromStartToEndWithinHundredPercent) {
    const std::vector<FrameSetup> frames = {
        {0, 0, 4, 4, Fill(16, 1), 0, 1, 5, false, {kComment}, {0x000000, 0x0000FF, 0x00FF00}},
        {0, 0, 4, 4, Bytes{0, 0, 0, 0, 0, 2, 2, 0, 0, 2, 2, 0, 0, 0, 0, 0}, 0, 2, 5},
        {2, 2, 2, 2, Fill(4, 0), 0, 0, 7},
        {0, 0, 8, 8, Fill(64, 3), -1, 3, 5},
    };
    for (TOptimizeSet options : {TOptimizeSet(0x1F), TOptimizeSet(0x0F), TOptimizeSet(0x04), TOptimizeSet(0x01),
                                 TOptimizeSet(0x02), TOptimizeSet(0x08), TOptimizeSet(0x00)}) {
        SCOPED_TRACE(testing::Message() << "options " << int(options));
        auto image = MakeAnimation(frames);
        std::vector<Report> reports;
        Record(*image, reports);
        image->OptimizeFrames(options, crNone);
        ASSERT_GE(reports.size(), 2u);
        EXPECT_EQ(reports.front().stage, psStarting);
        EXPECT_EQ(reports.front().percent, 0);
        EXPECT_EQ(reports.back().stage, psEnding);
        EXPECT_EQ(reports.back().percent, 100);
        int last = 0;
        for (size_t i = 0; i < reports.size(); ++i) {
            EXPECT_EQ(reports[i].message, "Optimizing...");
            if (i > 0 && i + 1 < reports.size()) {
                EXPECT_EQ(reports[i].stage, psRunning);
                EXPECT_GE(reports[i].percent, last);
                EXPECT_LE(reports[i].percent, 100);
                last = reports[i].percent;
            }
        }
    }
}

// --- Colour tables ------------------------------------------------------------------

TEST(GifOptimise, CompactingDropsUnusedColoursAndKeepsWhatPixelsShow) {
    auto image = MakeImage(4, 2, 6);
    const TColor local[] = {0x111111, 0x222222, 0x333333, 0x444444};
    AddFrame(*image, {0, 0, 2, 2, Bytes{4, 4, 1, 4}});
    AddFrame(*image, {2, 0, 2, 2, Bytes{3, 3, 3, 1}, -1, -1, -1, false, {}, {local, local + 4}});
    auto colours = [](TGIFSubImage& frame) {
        std::vector<TColor> out;
        for (uint8_t p : PixelsOf(frame)) out.push_back(frame.EffectiveColorMap()->ColorAt(p));
        return out;
    };
    const std::vector<TColor> before0 = colours(*image->Frames()->FrameAt(0));
    const std::vector<TColor> before1 = colours(*image->Frames()->FrameAt(1));

    image->OptimizeFrames(osCompactColorMaps, crNone);
    EXPECT_EQ(image->GlobalColors()->Count(), 2);
    EXPECT_EQ(image->Frames()->FrameAt(1)->LocalColorMap()->Count(), 2);
    EXPECT_EQ(colours(*image->Frames()->FrameAt(0)), before0);
    EXPECT_EQ(colours(*image->Frames()->FrameAt(1)), before1);
    // Without the option the tables stay as they are.
    auto untouched = MakeImage(4, 2, 6);
    AddFrame(*untouched, {0, 0, 2, 2, Bytes{4, 4, 1, 4}});
    untouched->OptimizeFrames(osAllOptimizations & ~osCompactColorMaps, crNone);
    EXPECT_EQ(untouched->GlobalColors()->Count(), 6);
}

// --- Redundancy ------------------------------------------------------------------------

TEST(GifOptimise, TransparencyThatNoPixelUsesIsCleared) {
    struct Case {
        const char* name;
        Bytes pixels;
        int key;
        bool staysTransparent;
    } cases[] = {
        {"key used once", Bytes{1, 2, 3, 0}, 0, true},
        {"key never used", Bytes{1, 2, 3, 1}, 0, false},
        {"key other than 0, used", Bytes{3, 3, 3, 3}, 3, true},
        {"key other than 0, unused", Bytes{0, 1, 2, 0}, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = MakeAnimation(
            {{0, 0, 2, 2, c.pixels, c.key, -1, 20}, {0, 0, 2, 2, Bytes{1, 1, 1, 1}, -1, -1, 20}});
        TGIFSubImage* frame = image->Frames()->FrameAt(0);
        image->OptimizeFrames(osDropRedundant, crNone);
        ASSERT_NE(frame->GraphicControlExtension(), nullptr);
        EXPECT_EQ(frame->GraphicControlExtension()->IsTransparent(), c.staysTransparent);
        EXPECT_EQ(frame->Transparent(), c.staysTransparent);
        EXPECT_EQ(PixelsOf(*frame), c.pixels);
    }
}

TEST(GifOptimise, ARestoreIsDroppedOnlyWhereTheNextOpaqueFrameHidesIt) {
    struct Case {
        const char* name;
        RECT first;
        int disposal;
        RECT second;
        int secondTransparent;
        int secondDisposal;
        int expected;
    } cases[] = {
        {"next covers the same area", {0, 0, 4, 4}, 2, {0, 0, 4, 4}, -1, 1, 0},
        {"next covers a larger area", {2, 2, 4, 4}, 2, {0, 0, 8, 8}, -1, 1, 0},
        {"restore to previous, covered", {0, 0, 4, 4}, 3, {0, 0, 8, 8}, -1, 0, 0},
        // The rest of the first frame would stay on the screen.
        {"next lies inside the frame", {0, 0, 8, 8}, 2, {2, 2, 4, 4}, -1, 1, 2},
        {"next overlaps part of the frame", {0, 0, 4, 4}, 2, {2, 2, 6, 6}, -1, 1, 2},
        {"next is transparent", {0, 0, 4, 4}, 2, {0, 0, 4, 4}, 0, 1, 2},
        {"no overlap", {0, 0, 4, 4}, 2, {4, 4, 8, 8}, -1, 1, 2},
        // The next frame goes back to what the restore left.
        {"next restores to previous", {0, 0, 4, 4}, 2, {0, 0, 4, 4}, -1, 3, 2},
        {"disposal 1 is kept", {0, 0, 4, 4}, 1, {0, 0, 4, 4}, -1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int w1 = c.first.right - c.first.left, h1 = c.first.bottom - c.first.top;
        const int w2 = c.second.right - c.second.left, h2 = c.second.bottom - c.second.top;
        auto image = MakeAnimation(
            {{c.first.left, c.first.top, w1, h1, Fill(w1 * h1, 1), -1, c.disposal, 10},
             {c.second.left, c.second.top, w2, h2, Fill(w2 * h2, 0), c.secondTransparent, c.secondDisposal, 10}});
        image->OptimizeFrames(osDropRedundant, crNone);
        ASSERT_EQ(image->Frames()->ItemCount(), 2);
        EXPECT_EQ(DisposalOf(*image->Frames()->FrameAt(0)), c.expected);
    }
}

TEST(GifOptimise, TheCleanUpDropsExtensionsThatShowNothing) {
    struct Case {
        const char* name;
        std::vector<FrameSetup> frames;
        std::vector<std::vector<ExtKind>> expected;
    } cases[] = {
        {"single frame loses a plain graphic control and its loop",
         {{0, 0, 2, 2, Fill(4, 1), -1, 2, 10, false, {kLoop}}},
         {{}}},
        {"two frames keep the first loop only; comments, texts and other applications go",
         {{0, 0, 2, 2, Fill(4, 1), -1, 1, 10, false, {kLoop, kComment, kUnknownApp}},
          {0, 0, 2, 2, Fill(4, 2), -1, 1, 10, false, {kText, kLoop, kComment}}},
         {{kLoop, kControl}, {kControl}}},
        {"graphic controls that matter in an animation stay",
         {{0, 0, 2, 2, Fill(4, 1), -1, 0, 0},
          {0, 0, 2, 2, Fill(4, 2), -1, 1, 0},
          {0, 0, 2, 2, Bytes{0, 1, 1, 1}, 0, 0, 0},
          {0, 0, 2, 2, Fill(4, 2), -1, 0, 0, true},
          {0, 0, 2, 2, Fill(4, 2), -1, 2, 0},
          {4, 4, 2, 2, Fill(4, 2), -1, 0, 4}},
         {{}, {}, {kControl}, {kControl}, {kControl}, {kControl}}},
        {"a transparent single frame keeps its graphic control",
         {{0, 0, 2, 2, Bytes{0, 1, 1, 1}, 0, 2, 10}},
         {{kControl}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = MakeAnimation(c.frames);
        image->OptimizeFrames(osDropRedundant, crNone);
        ASSERT_EQ(image->Frames()->ItemCount(), static_cast<int>(c.expected.size()));
        for (int i = 0; i < image->Frames()->ItemCount(); ++i) {
            SCOPED_TRACE(i);
            TGIFSubImage* frame = image->Frames()->FrameAt(i);
            EXPECT_EQ(KindsOf(*frame), c.expected[i]);
            const bool controlExpected = !c.expected[i].empty() && c.expected[i].back() == kControl;
            EXPECT_EQ(frame->GraphicControlExtension() != nullptr, controlExpected);
            EXPECT_EQ(PixelsOf(*frame), c.frames[i].pixels);
        }
    }
}

TEST(GifOptimise, EmptyFramesGoUnlessAnExtensionStillCarriesSomething) {
    auto image = MakeAnimation({{0, 0, 2, 2, Fill(4, 1), -1, 0, 5},
                                {0, 0, 0, 0, {}, -1, -1, -1, false, {kComment}},
                                {0, 0, 0, 0, {}, -1, 0, 30},
                                {0, 0, 2, 2, Fill(4, 2), -1, 0, 5}});
    TGIFSubImage* kept = image->Frames()->FrameAt(2);
    image->OptimizeFrames(osDropRedundant, crNone);
    ASSERT_EQ(image->Frames()->ItemCount(), 3);
    EXPECT_EQ(image->Frames()->FrameAt(1), kept);
    EXPECT_EQ(DelayOf(*kept), 30);
}

// --- Merging -------------------------------------------------------------------------------

TEST(GifOptimise, FramesLoseWhatTheFrameTheyAreDrawnOverShows) {
    // Frame 2 is drawn over frame 0, since frame 1 restores what was there before it.
    auto image = MakeAnimation({{0, 0, 2, 2, Bytes{1, 2, 1, 2}, -1, 1, 10},
                                {0, 0, 2, 2, Bytes{3, 3, 3, 3}, -1, 3, 10},
                                {0, 0, 2, 2, Bytes{1, 3, 1, 3}, 0, 1, 10}});
    image->OptimizeFrames(osMergeFrames, crNone);
    ASSERT_EQ(image->Frames()->ItemCount(), 3);
    TGIFSubImage* last = image->Frames()->FrameAt(2);
    EXPECT_EQ(PixelsOf(*last), (Bytes{0, 3, 0, 3}));
    EXPECT_TRUE(last->Transparent());
    // Frame 1 against frame 0: nothing equal, nothing changes.
    EXPECT_EQ(PixelsOf(*image->Frames()->FrameAt(1)), (Bytes{3, 3, 3, 3}));
    EXPECT_FALSE(image->Frames()->FrameAt(1)->Transparent());
}

// --- Trimming ------------------------------------------------------------------------------

TEST(GifOptimise, TrimmingCutsBordersAndDropsFramesLeftEmpty) {
    auto image = MakeAnimation({{0, 0, 4, 4, Fill(16, 1), -1, 0, 10},
                                {0, 0, 4, 4, Bytes{0, 0, 0, 0, 0, 2, 2, 0, 0, 0, 2, 0, 0, 0, 0, 0}, 0, 0, 10},
                                {0, 0, 4, 4, Fill(16, 3), -1, 0, 10}});
    image->OptimizeFrames(osTrimBorders, crNone);
    ASSERT_EQ(image->Frames()->ItemCount(), 3);
    TGIFSubImage* trimmed = image->Frames()->FrameAt(1);
    EXPECT_EQ(trimmed->FrameRect().left, 1);
    EXPECT_EQ(trimmed->FrameRect().top, 1);
    EXPECT_EQ(trimmed->Width(), 2);
    EXPECT_EQ(trimmed->Height(), 2);
    EXPECT_EQ(PixelsOf(*trimmed), (Bytes{2, 2, 0, 2}));
    // Opaque frames keep their size.
    EXPECT_EQ(image->Frames()->FrameAt(0)->Width(), 4);
    EXPECT_EQ(image->Frames()->FrameAt(2)->Width(), 4);
}

// Only a transparent predecessor takes the dropped frame's delay over (a 16-bit sum, of the times
// the painter waits, that stops at 65535); any other predecessor keeps its own, the dropped delay
// is lost, and no graphic control extension is made for it.
TEST(GifOptimise, AFrameThatTrimsToNothingPassesItsDelayOnlyToATransparentFrameBefore) {
    struct Case {
        const char* name;
        FrameSetup before;
        int delay;
        int expectedDelay;  // -1: no graphic control extension
        bool flagWithoutControl = false;
    } cases[] = {
        {"transparent predecessor", {0, 0, 2, 2, Bytes{0, 1, 1, 1}, 0, 0, 10}, 25, 35},
        // Shown for the painter's default of 10 units, then for the dropped frame's 25.
        {"transparent predecessor without a delay", {0, 0, 2, 2, Bytes{0, 1, 1, 1}, 0, 0, 0}, 25, 35},
        {"the sum stops at the largest delay", {0, 0, 2, 2, Bytes{0, 1, 1, 1}, 0, 0, 65000}, 1000, 65535},
        {"opaque predecessor with a delay", {0, 0, 2, 2, Fill(4, 1), -1, 0, 10}, 25, 10},
        {"opaque predecessor without a delay", {0, 0, 2, 2, Fill(4, 1), -1, 0, 0}, 25, 0},
        {"predecessor without a graphic control", {0, 0, 2, 2, Fill(4, 1)}, 25, -1},
        {"predecessor marked transparent without a graphic control", {0, 0, 2, 2, Fill(4, 1)}, 25, -1, true},
        {"no delay to pass", {0, 0, 2, 2, Fill(4, 1)}, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = MakeAnimation({c.before, {0, 0, 3, 3, Fill(9, 2), 2, 0, c.delay}, {0, 0, 2, 2, Fill(4, 3)}});
        if (c.flagWithoutControl) TGIFTestSeam::Transparent(*image->Frames()->FrameAt(0)) = true;
        image->OptimizeFrames(osTrimBorders, crNone);
        ASSERT_EQ(image->Frames()->ItemCount(), 2);
        EXPECT_EQ(DelayOf(*image->Frames()->FrameAt(0)), c.expectedDelay);
        EXPECT_EQ(image->Frames()->FrameAt(0)->Extensions()->ItemCount(), c.expectedDelay < 0 ? 0 : 1);
        EXPECT_EQ(PixelsOf(*image->Frames()->FrameAt(0)), c.before.pixels);
        EXPECT_EQ(PixelsOf(*image->Frames()->FrameAt(1)), Fill(4, 3));
    }
    // A first frame of nothing simply goes.
    auto image = MakeAnimation({{0, 0, 2, 2, Fill(4, 0), 0, 0, 10}, {0, 0, 2, 2, Fill(4, 3), -1, 0, 10}});
    image->OptimizeFrames(osTrimBorders, crNone);
    ASSERT_EQ(image->Frames()->ItemCount(), 1);
    EXPECT_EQ(PixelsOf(*image->Frames()->FrameAt(0)), Fill(4, 3));
}

TEST(GifOptimise, TrimmingLeavesFramesWhoseRestoreWouldShowDifferently) {
    const Bytes bordered{0, 0, 0, 0, 0, 2, 2, 0, 0, 2, 2, 0, 0, 0, 0, 0};
    struct Case {
        const char* name;
        int beforeDisposal;
        FrameSetup frame;
        int frames, width, beforeDelay;
    } cases[] = {
        // Its restore erases the whole rectangle, border included.
        {"a frame restoring the background keeps its border", 0, {0, 0, 4, 4, bordered, 0, 2, 10}, 3, 4, 10},
        {"a frame restoring to previous is trimmed", 0, {0, 0, 4, 4, bordered, 0, 3, 10}, 3, 2, 10},
        // Its wait shows the screen the predecessor's restore left.
        {"nothing to show after a background restore, with a delay", 2, {0, 0, 2, 2, Fill(4, 0), 0, 0, 25}, 3, 2, 10},
        {"nothing to show after a restore to previous, with a delay", 3, {0, 0, 2, 2, Fill(4, 0), 0, 0, 25}, 3, 2, 10},
        // A delay of 0 is waited as the painter's default: the restored screen shows that long.
        {"nothing to show after a restore, without a delay", 2, {0, 0, 2, 2, Fill(4, 0), 0, 0, 0}, 3, 2, 10},
        {"a border after a restore is trimmed", 2, {0, 0, 4, 4, bordered, 0, 0, 25}, 3, 2, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = MakeAnimation(
            {{0, 0, 4, 4, Fill(16, 1), -1, c.beforeDisposal, 10}, c.frame, {0, 0, 4, 4, Fill(16, 3), -1, 0, 10}});
        image->OptimizeFrames(osTrimBorders, crNone);
        ASSERT_EQ(image->Frames()->ItemCount(), c.frames);
        EXPECT_EQ(image->Frames()->FrameAt(1)->Width(), c.width);
        EXPECT_EQ(DelayOf(*image->Frames()->FrameAt(0)), c.beforeDelay);
    }
}

// What a painter shows, modelled: each frame drawn over the screen (its transparent index left
// out), shown for its delay as the painter waits it (a delay of 0, or none, for 10 units, any
// other for at least 3), then disposed of (2: its rectangle back to the background, 3: the screen
// as it was before it). Consecutive equal screens are one screen shown for the sum of the times.
struct Shown {
    std::vector<int> screen;  // colours, -1 for the background
    int units;
    bool operator==(const Shown&) const = default;
};
std::vector<Shown> ScreensShown(TGIFImage& image) {
    const int width = image.ScreenWidth(), height = image.ScreenHeight();
    std::vector<int> screen(size_t(width) * height, -1);
    std::vector<Shown> shown;
    for (int i = 0; i < image.Frames()->ItemCount(); ++i) {
        TGIFSubImage& frame = *image.Frames()->FrameAt(i);
        const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
        const std::vector<int> before = screen;
        const TGIFColorMap& colors = *frame.EffectiveColorMap();
        for (int y = 0; y < frame.Height(); ++y)
            for (int x = 0; x < frame.Width(); ++x) {
                const uint8_t index = frame.Pixels()[size_t(y) * frame.Width() + x];
                if (control && control->IsTransparent() && index == control->TransparentIndex()) continue;
                const TGIFColor c = colors.Entries()[index];
                screen[size_t(frame.Top() + y) * width + frame.Left() + x] = c.Red | (c.Green << 8) | (c.Blue << 16);
            }
        const int delay = control ? control->DelayUnits() : 0;
        const int units = delay == 0 ? 10 : std::max(delay, 3);
        if (!shown.empty() && shown.back().screen == screen)
            shown.back().units += units;
        else
            shown.push_back({screen, units});
        const int disposal = control ? control->DisposalMethod() : 0;
        if (disposal == 2)
            for (int y = 0; y < frame.Height(); ++y)
                for (int x = 0; x < frame.Width(); ++x) screen[size_t(frame.Top() + y) * width + frame.Left() + x] = -1;
        if (disposal == 3) screen = before;
    }
    return shown;
}

// Frames that trim to nothing are dropped only where no screen is lost, and the time they were
// shown stays with a transparent predecessor, also where a delay is 0 or below the painter's least.
TEST(GifOptimise, TheSameScreensShowForTheSameTimeAfterTrimming) {
    const FrameSetup opaque{0, 0, 4, 4, Fill(16, 1), -1, 0, 5};
    const FrameSetup last{0, 0, 4, 4, Fill(16, 3), -1, 0, 5};
    const Bytes holed{0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    auto nothing = [](int delay) { return FrameSetup{1, 1, 2, 2, Fill(4, 0), 0, 0, delay}; };
    auto keyed = [&](int delay) { return FrameSetup{0, 0, 4, 4, holed, 0, 0, delay}; };
    const struct {
        const char* name;
        std::vector<FrameSetup> frames;
        int framesAfter;
    } cases[] = {
        {"nothing, without a delay, after a restore to the background",
         {opaque, {0, 0, 4, 4, Fill(16, 2), -1, 2, 5}, nothing(0), last},
         4},
        {"nothing, without a delay, after a restore to the previous screen",
         {opaque, {1, 1, 2, 2, Fill(4, 2), -1, 3, 5}, nothing(0), last},
         4},
        {"nothing, without a delay, after a transparent frame", {opaque, keyed(5), nothing(0), last}, 3},
        {"nothing after a transparent frame without a delay", {opaque, keyed(0), nothing(25), last}, 3},
        {"delays below the least the painter waits", {opaque, keyed(1), nothing(2), last}, 3},
        {"nothing after a restore, with a delay", {opaque, {0, 0, 4, 4, Fill(16, 2), -1, 2, 5}, nothing(7), last}, 4},
    };
    for (const auto& c : cases) {
        for (const TOptimizeSet options :
             {TOptimizeSet(osTrimBorders), TOptimizeSet(osTrimBorders | osDropRedundant)}) {
            SCOPED_TRACE(std::string(c.name) + (options & osDropRedundant ? ", with the clean-up" : ""));
            auto image = MakeAnimation(c.frames, 4, 4);
            const std::vector<Shown> before = ScreensShown(*image);
            image->OptimizeFrames(options, crNone);
            EXPECT_EQ(image->Frames()->ItemCount(), c.framesAfter);
            const std::vector<Shown> after = ScreensShown(*image);
            ASSERT_EQ(after.size(), before.size());
            for (size_t i = 0; i < before.size(); ++i) {
                EXPECT_EQ(after[i].screen, before[i].screen) << "screen " << i;
                EXPECT_EQ(after[i].units, before[i].units) << "screen " << i;
            }
        }
    }
}

// --- All together, and the form-data write ----------------------------------------------------

TEST(GifOptimise, AllOptionsTogetherLeaveAnImageThatStillSaves) {
    auto image = MakeAnimation({{0, 0, 4, 4, Fill(16, 1), -1, 1, 10, false, {kLoop, kComment}},
                                {0, 0, 4, 4, Fill(16, 1), -1, 1, 10},
                                {0, 0, 4, 4, Bytes{1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, -1, 1, 10}});
    image->OptimizeFrames(osAllOptimizations, crNone);
    // Frame 1 repeats frame 0 wholly: merged to nothing and trimmed away; frame 0 is opaque, so
    // frame 1's delay goes with it.
    ASSERT_EQ(image->Frames()->ItemCount(), 2);
    EXPECT_EQ(DelayOf(*image->Frames()->FrameAt(0)), 10);
    EXPECT_EQ(KindsOf(*image->Frames()->FrameAt(0)), (std::vector<ExtKind>{kLoop, kControl}));
    TGIFSubImage* last = image->Frames()->FrameAt(1);
    EXPECT_EQ(last->FrameRect().left, 1);
    EXPECT_EQ(last->FrameRect().top, 1);
    EXPECT_EQ(last->Width(), 1);
    EXPECT_EQ(last->Height(), 1);
    ASSERT_TRUE(last->Transparent());
    EXPECT_EQ(last->EffectiveColorMap()->ColorAt(PixelsOf(*last)[0]), TColor(0x202020));

    TMemoryStream saved;
    image->SaveToStream(saved);
    saved.SetPosition(0);
    TGIFImage reloaded;
    reloaded.LoadFromStream(saved);
    EXPECT_EQ(reloaded.Frames()->ItemCount(), 2);
}

TEST(GifOptimise, TheFormDataWriteOptimisesOnlyWhenAsked) {
    const std::vector<FrameSetup> frames = {{0, 0, 2, 2, Fill(4, 1), -1, 0, 10, false, {kComment}},
                                            {0, 0, 2, 2, Fill(4, 2), -1, 0, 10}};
    for (bool optimise : {false, true}) {
        SCOPED_TRACE(optimise);
        auto image = MakeAnimation(frames);
        auto expected = MakeAnimation(frames);
        if (optimise) expected->OptimizeFrames(osAllOptimizations, crNone);
        OptimizeOnStore = optimise;
        TMemoryStream stream;
        image->WriteEmbedded(stream);
        OptimizeOnStore = false;
        EXPECT_EQ(std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size())),
                  Saved(*expected));
        EXPECT_EQ(KindsOf(*image->Frames()->FrameAt(0)).size(), optimise ? 1u : 2u);
    }
}

// --- The reduction check -------------------------------------------------------------------

TEST(GifOptimise, TheReductionCheckRefusesOnlyACustomPaletteWithoutTheCleanUp) {
    struct Case {
        TOptimizeSet options;
        TReductionMethod method;
        bool raises;
    } cases[] = {
        {osColorReduction, crCustomPalette, true},
        {osColorReduction | osTrimBorders, crCustomPalette, true},
        {osColorReduction | osDropRedundant, crCustomPalette, false},
        {osColorReduction, crOptimized, false},
        {osTrimBorders, crCustomPalette, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "options " << int(c.options) << ", method " << int(c.method));
        auto image = MakeAnimation({{0, 0, 2, 2, Fill(4, 1), -1, 0, 10},
                                    {0, 0, 4, 4, Bytes{0, 0, 0, 0, 0, 2, 2, 0, 0, 2, 2, 0, 0, 0, 0, 0}, 0, 0, 10}});
        std::vector<Report> reports;
        Record(*image, reports);
        if (c.raises) {
            try {
                image->OptimizeFrames(c.options, c.method);
                ADD_FAILURE() << "no exception";
            } catch (const GIFException& e) {
                EXPECT_STREQ(e.what(), "Invalid reduction method");
            }
        } else {
            EXPECT_NO_THROW(image->OptimizeFrames(c.options, c.method));
        }
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back().stage, psEnding);
        EXPECT_EQ(reports.back().percent, c.raises ? 0 : 100);
        EXPECT_TRUE(LockableFromAnotherThread(*image));
        // Work done before the check stays done.
        EXPECT_EQ(image->Frames()->FrameAt(1)->Width(), (c.options & osTrimBorders) ? 2 : 4);
        EXPECT_EQ(image->Frames()->ItemCount(), 2);
    }
}

// --- Painters ------------------------------------------------------------------------------

// The list is locked while frames change, and let go while a progress handler runs: no lock is
// held across a handler, which may wait for a painter or free the image.
TEST(GifOptimise, ThePainterListIsLetGoWhileTheProgressHandlerRuns) {
    auto image = MakeAnimation({{0, 0, 2, 2, Fill(4, 1), -1, 0, 10}, {0, 0, 2, 2, Fill(4, 1), -1, 0, 10}});
    image->AllocBitmap();
    ASSERT_NE(image->CachedBitmap(), nullptr);
    std::atomic<bool> locked{false};
    std::thread other;
    bool lockedDuringRun = false;
    bool sawRunning = false;
    image->OnProgress = [&](TObject*, TProgressStage stage, uint8_t, bool, const RECT&, const std::string&) {
        if (stage != psRunning || sawRunning) return;
        sawRunning = true;
        EXPECT_EQ(image->CachedBitmap(), nullptr);
        other = std::thread([&] {
            image->Painters()->LockList();
            locked = true;
            image->Painters()->UnlockList();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        lockedDuringRun = locked;
    };
    image->OptimizeFrames(osAllOptimizations, crNone);
    ASSERT_TRUE(sawRunning);
    other.join();
    EXPECT_TRUE(lockedDuringRun);
    EXPECT_TRUE(locked);
    EXPECT_TRUE(LockableFromAnotherThread(*image));
}

}  // namespace
