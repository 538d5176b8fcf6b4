// Trimming transparent borders off a frame and merging a frame with the one drawn before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "drawfixtures.h"
#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/subimage.h"

namespace {

struct TrimCase {
    const char* name;
    int left, top, width, height;
    Bytes pixels;
    int key;
    int newLeft, newTop, newWidth, newHeight;
    Bytes kept;
};

// A width x height frame of key with inner pixels 1 + (x + y) % 3 in columns a..b, rows t..u.
Bytes Bordered(int width, int height, int key, int a, int b, int t, int u) {
    Bytes out(static_cast<size_t>(width) * height, static_cast<uint8_t>(key));
    for (int y = t; y <= u; ++y)
        for (int x = a; x <= b; ++x) out[y * width + x] = static_cast<uint8_t>(1 + (x + y) % 3);
    return out;
}

Bytes Inner(const Bytes& pixels, int width, int a, int b, int t, int u) {
    Bytes out;
    for (int y = t; y <= u; ++y)
        for (int x = a; x <= b; ++x) out.push_back(pixels[y * width + x]);
    return out;
}

TEST(GifTrimBorders, CutsTransparentColumnsAndRows) {
    // 2 columns on the left, 1 on the right, 3 rows on top, none at the bottom; a hole inside.
    Bytes framed = Bordered(10, 10, 0, 2, 8, 3, 9);
    framed[5 * 10 + 5] = 0;
    const TrimCase cases[] = {
        {"borders on three sides", 5, 5, 10, 10, framed, 0, 7, 8, 7, 7, Inner(framed, 10, 2, 8, 3, 9)},
        {"one pixel in a corner", 0, 0, 4, 3, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}, 0, 3, 2, 1, 1, {5}},
        {"transparent pixels between opaque ones stay",
         2,
         1,
         5,
         3,
         {0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0},
         0,
         2,
         2,
         5,
         1,
         {1, 0, 0, 0, 1}},
        {"a key other than 0", 0, 0, 3, 3, {4, 4, 4, 4, 1, 2, 4, 4, 4}, 4, 1, 1, 2, 1, {1, 2}},
        {"a transparent top row", 0, 0, 3, 3, {0, 0, 0, 1, 0, 0, 0, 0, 2}, 0, 0, 1, 3, 2, {1, 0, 0, 0, 0, 2}},
        {"no border", 3, 3, 2, 2, {1, 2, 3, 1}, 0, 3, 3, 2, 2, {1, 2, 3, 1}},
    };
    for (const TrimCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = MakeImage(20, 20, {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}, {5, 5, 5}});
        TGIFSubImage* frame = AddFrame(*image, {c.left, c.top, c.width, c.height, c.pixels, {}, c.key});
        int warnings = 0;
        image->OnWarningMessage = [&](TObject*, uint8_t, const std::string&) { ++warnings; };
        ASSERT_NE(frame->RenderedBitmap(), nullptr);
        const bool keyed = std::find(c.pixels.begin(), c.pixels.end(), c.key) != c.pixels.end();
        ASSERT_EQ(frame->Mask() != nullptr, keyed);

        frame->TrimBorders();
        EXPECT_EQ(frame->Left(), c.newLeft);
        EXPECT_EQ(frame->Top(), c.newTop);
        EXPECT_EQ(frame->Width(), c.newWidth);
        EXPECT_EQ(frame->Height(), c.newHeight);
        EXPECT_EQ(PixelsOf(*frame), c.kept);
        EXPECT_EQ(frame->PixelsSize(), c.newWidth * c.newHeight);
        EXPECT_FALSE(frame->HasRenderedBitmap());
        EXPECT_EQ(frame->Mask(), nullptr);
        EXPECT_TRUE(frame->Transparent());
        EXPECT_EQ(frame->Extensions()->ItemCount(), 1);
        EXPECT_EQ(image->ScreenWidth(), 20);
        EXPECT_EQ(image->ScreenHeight(), 20);
        EXPECT_EQ(warnings, 0);
        // The trimmed frame renders from its new buffer.
        EXPECT_EQ(frame->RenderedBitmap()->Width(), c.newWidth);
    }
}

TEST(GifTrimBorders, AWhollyTransparentFrameBecomesEmpty) {
    auto image = MakeImage(20, 20, {});
    TGIFSubImage* frame = AddFrame(*image, {4, 6, 3, 2, Bytes(6, 2), {{0, 0, 0}, {9, 9, 9}, {7, 7, 7}}, 2});
    frame->Extensions()->Append(new TGIFCommentExtension(frame));
    frame->TrimBorders();
    EXPECT_TRUE(frame->IsEmpty());
    EXPECT_EQ(frame->Width(), 0);
    EXPECT_EQ(frame->Height(), 0);
    EXPECT_EQ(frame->Left(), 4);
    EXPECT_EQ(frame->Top(), 6);
    EXPECT_EQ(frame->Extensions()->ItemCount(), 0);
    EXPECT_EQ(frame->LocalColorMap()->Count(), 0);
    EXPECT_FALSE(frame->Transparent());
    EXPECT_EQ(frame->GraphicControlExtension(), nullptr);
}

TEST(GifTrimBorders, LeavesOpaqueAndEmptyFramesAlone) {
    auto image = MakeImage(20, 20, {{0, 0, 0}, {1, 1, 1}});
    const Bytes pixels = {0, 0, 0, 1, 0, 0};
    TGIFSubImage* opaque = AddFrame(*image, {1, 1, 3, 2, pixels, {}, -1, 1});
    ASSERT_NE(opaque->RenderedBitmap(), nullptr);
    opaque->TrimBorders();
    EXPECT_EQ(PixelsOf(*opaque), pixels);
    EXPECT_EQ(opaque->Width(), 3);
    EXPECT_TRUE(opaque->HasRenderedBitmap());

    TGIFSubImage* empty = AddFrame(*image, {2, 2, 0, 0, {}, {}, 0});
    empty->TrimBorders();
    EXPECT_TRUE(empty->IsEmpty());
    EXPECT_EQ(empty->Extensions()->ItemCount(), 1);
}

// --- Merging ---------------------------------------------------------------------

const Colors kGlobal = Ramp(8);

struct Snapshot {
    Bytes pixels;
    int localCount, globalCount, extensions;
    bool transparent, bitmap, mask;
};

Snapshot Take(TGIFImage& image, TGIFSubImage& frame) {
    return {
        PixelsOf(frame),   frame.LocalColorMap()->Count(), image.GlobalColors()->Count(), frame.Extensions()->ItemCount(),
        frame.Transparent(), frame.HasRenderedBitmap(),    frame.Mask() != nullptr};
}

bool operator==(const Snapshot& a, const Snapshot& b) {
    return a.pixels == b.pixels && a.localCount == b.localCount && a.globalCount == b.globalCount &&
           a.extensions == b.extensions && a.transparent == b.transparent && a.bitmap == b.bitmap && a.mask == b.mask;
}

struct NoMergeCase {
    const char* name;
    FrameSetup previous;  // width 0 for an empty previous frame
    FrameSetup frame;
    bool noPrevious;
    Colors global;
};

// F repeats P's colours everywhere, yet nothing may change.
TEST(GifMergeFrom, ChangesNothingWhenMergingCannotApply) {
    const Bytes same = {1, 2, 3, 4};
    const NoMergeCase cases[] = {
        {"previous restores the background", {0, 0, 4, 1, same, {}, -1, 2}, {0, 0, 4, 1, same, {}, 4}, false, kGlobal},
        {"previous restores what was before", {0, 0, 4, 1, same, {}, -1, 3}, {0, 0, 4, 1, same}, false, kGlobal},
        {"frames apart", {0, 0, 4, 1, same}, {0, 1, 4, 1, same, {}, 5}, false, kGlobal},
        {"frames touching at an edge", {0, 0, 2, 1, {1, 2}}, {2, 0, 2, 1, {1, 2}}, false, kGlobal},
        {"opaque frame with a full local table", {0, 0, 4, 1, same}, {0, 0, 4, 1, same, Ramp(256)}, false, Ramp(256)},
        {"opaque frame with a full global table", {0, 0, 4, 1, same}, {0, 0, 4, 1, same}, false, Ramp(256)},
        {"opaque frame without any table", {0, 0, 4, 1, same}, {0, 0, 4, 1, same}, false, {}},
        {"no previous frame", {}, {0, 0, 4, 1, same, {}, 4}, true, kGlobal},
        {"empty previous frame", {0, 0, 0, 0}, {0, 0, 4, 1, same, {}, 4}, false, kGlobal},
    };
    for (const NoMergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = MakeImage(4, 2, c.global);
        TGIFSubImage* previous = c.noPrevious ? nullptr : AddFrame(*image, c.previous);
        TGIFSubImage* frame = AddFrame(*image, c.frame);
        if (frame->EffectiveColorMap()->Count() > 0) frame->RenderedBitmap();
        const Snapshot before = Take(*image, *frame);
        frame->MergeFrom(previous);
        EXPECT_TRUE(Take(*image, *frame) == before);
    }
}

TEST(GifMergeFrom, NoMatchingPixelOnlyReleasesTheBitmap) {
    auto image = MakeImage(4, 1, kGlobal);
    TGIFSubImage* previous = AddFrame(*image, {0, 0, 4, 1, {1, 2, 3, 4}});
    TGIFSubImage* frame = AddFrame(*image, {0, 0, 4, 1, {2, 3, 4, 5}, Ramp(6)});
    frame->RenderedBitmap();
    frame->MergeFrom(previous);
    EXPECT_EQ(PixelsOf(*frame), (Bytes{2, 3, 4, 5}));
    EXPECT_EQ(frame->LocalColorMap()->Count(), 6);
    EXPECT_EQ(image->GlobalColors()->Count(), 8);
    EXPECT_EQ(frame->Extensions()->ItemCount(), 0);
    EXPECT_FALSE(frame->Transparent());
    EXPECT_FALSE(frame->HasRenderedBitmap());
}

// An opaque frame with its own 32 colours gains a black entry 32 and a graphic control extension
// at the end of its extensions; only pixels whose colour repeats the previous frame's change.
TEST(GifMergeFrom, AnOpaqueFrameWithLocalColoursGainsATransparentEntry) {
    Colors global = kGlobal;
    global[4] = {0, 0, 0};
    auto image = MakeImage(5, 1, global);
    TGIFSubImage* previous = AddFrame(*image, {0, 0, 5, 1, {1, 2, 3, 6, 4}});
    Colors local = Ramp(32);
    local[5] = {0, 0, 0};
    // 1 and 3 repeat the global entries 1 and 3, black repeats black at the end; 9 lies over 2
    // and black over 6.
    TGIFSubImage* frame = AddFrame(*image, {0, 0, 5, 1, {1, 9, 3, 5, 5}, local});
    frame->Extensions()->Append(new TGIFCommentExtension(frame));
    frame->MergeFrom(previous);

    EXPECT_EQ(PixelsOf(*frame), (Bytes{32, 9, 32, 5, 32}));
    ASSERT_EQ(frame->LocalColorMap()->Count(), 33);
    const TGIFColor added = frame->LocalColorMap()->Entries()[32];
    EXPECT_EQ(Ref(added), RGB(0, 0, 0));
    EXPECT_EQ(image->GlobalColors()->Count(), 8);
    ASSERT_EQ(frame->Extensions()->ItemCount(), 2);
    auto* control = dynamic_cast<TGIFGraphicControlExtension*>(frame->Extensions()->ExtensionAt(1));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(frame->GraphicControlExtension(), control);
    EXPECT_TRUE(control->IsTransparent());
    EXPECT_EQ(control->TransparentIndex(), 32);
    EXPECT_EQ(control->DisposalMethod(), 0);
    EXPECT_EQ(control->DelayUnits(), 0);
    EXPECT_TRUE(frame->Transparent());
}

struct GlobalMergeCase {
    const char* name;
    Bytes pixels;
    int otherKey;  // the transparent index of the other frame on the global table
    int expectedKey;
    int expectedGlobal;
    Bytes expected;
};

// Frames on the global table take the index another transparent global frame uses, unless this
// frame has pixels of that index (which would turn transparent with it), or the index lies beyond
// the table (as a file may have it): then black is appended.
TEST(GifMergeFrom, AFrameOnTheGlobalTableSharesTheTransparentIndex) {
    const GlobalMergeCase cases[] = {
        {"shares index 7", {1, 5, 3, 2}, 7, 7, 16, {7, 5, 7, 2}},
        {"own pixels of index 7 keep their colour", {1, 7, 3, 2}, 7, 16, 17, {16, 7, 16, 2}},
        {"an index beyond the table is not shared", {1, 5, 3, 2}, 200, 16, 17, {16, 5, 16, 2}},
    };
    for (const GlobalMergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = MakeImage(4, 1, Ramp(16));
        AddFrame(*image, {0, 0, 2, 1, {0, 0}, Ramp(4), 1});  // transparent, but with its own table
        TGIFSubImage* other = AddFrame(*image, {0, 0, 2, 1, {0, 0}, {}, 7});
        {
            TGraphicControlRecord record = other->GraphicControlExtension()->Record();
            record.TransparentIndex = static_cast<uint8_t>(c.otherKey);
            other->GraphicControlExtension()->SetRecord(record);
        }
        AddFrame(*image, {2, 0, 2, 1, {0, 0}, {}, 9});
        TGIFSubImage* previous = AddFrame(*image, {0, 0, 4, 1, {1, 4, 3, 6}});
        TGIFSubImage* frame = AddFrame(*image, {0, 0, 4, 1, c.pixels, {}, -1, 1});
        frame->MergeFrom(previous);
        EXPECT_EQ(PixelsOf(*frame), c.expected);
        EXPECT_EQ(image->GlobalColors()->Count(), c.expectedGlobal);
        EXPECT_EQ(frame->LocalColorMap()->Count(), 0);
        // The frame's own graphic control extension is reused and keeps its disposal.
        ASSERT_EQ(frame->Extensions()->ItemCount(), 1);
        EXPECT_TRUE(frame->Transparent());
        EXPECT_EQ(frame->GraphicControlExtension()->TransparentIndex(), c.expectedKey);
        EXPECT_EQ(frame->GraphicControlExtension()->DisposalMethod(), 1);
    }
}

struct MatchCase {
    const char* name;
    Colors previousLocal;
    int previousKey;
    Bytes previousPixels;
    Colors frameLocal;
    int frameKey;
    Bytes framePixels;
    Bytes expected;
    int expectedKey;
};

// Which pixels count as repeats: same table and index, equal colour bytes across tables, never
// the previous frame's transparent pixels, never an index outside its table.
TEST(GifMergeFrom, MatchesRepeatedColours) {
    Colors copy = Ramp(8);
    const MatchCase cases[] = {
        {"already transparent, previous transparent too", {}, 2, {1, 2, 3, 4}, {}, 0, {1, 2, 5, 0}, {0, 2, 5, 0}, 0},
        {"equal colours in different tables",
         copy,
         -1,
         {1, 2, 3, 4},
         Colors(copy.rbegin(), copy.rend()),
         0,
         {6, 6, 4, 3},
         {0, 6, 0, 0},
         0},
        {"an index outside the table never matches", {}, -1, {20, 1, 20, 2}, {}, -1, {20, 1, 21, 3}, {20, 8, 21, 3}, 8},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = MakeImage(4, 1, kGlobal);
        TGIFSubImage* previous = AddFrame(*image, {0, 0, 4, 1, c.previousPixels, c.previousLocal, c.previousKey});
        TGIFSubImage* frame = AddFrame(*image, {0, 0, 4, 1, c.framePixels, c.frameLocal, c.frameKey});
        const int extensions = frame->Extensions()->ItemCount();
        frame->MergeFrom(previous);
        EXPECT_EQ(PixelsOf(*frame), c.expected);
        EXPECT_EQ(frame->GraphicControlExtension()->TransparentIndex(), c.expectedKey);
        EXPECT_EQ(frame->Extensions()->ItemCount(), extensions + (c.frameKey < 0 ? 1 : 0));
        EXPECT_EQ(image->GlobalColors()->Count(), c.expectedKey == 8 ? 9 : 8);
    }
}

// Only the screen area both frames cover is compared, each frame read at its own offset.
TEST(GifMergeFrom, ComparesOnlyTheOverlap) {
    auto image = MakeImage(5, 3, kGlobal);
    // P covers (0, 0)-(3, 2), F covers (2, 1)-(5, 3); they share (2, 1) only.
    TGIFSubImage* previous = AddFrame(*image, {0, 0, 3, 2, {1, 1, 1, 1, 1, 1}});
    TGIFSubImage* frame = AddFrame(*image, {2, 1, 3, 2, {1, 1, 1, 1, 1, 1}});
    frame->MergeFrom(previous);
    EXPECT_EQ(PixelsOf(*frame), (Bytes{8, 1, 1, 1, 1, 1}));
    EXPECT_EQ(image->GlobalColors()->Count(), 9);
    EXPECT_EQ(frame->GraphicControlExtension()->TransparentIndex(), 8);
}

}  // namespace
