// Frames drawn on canvases: scaled rectangles, opaque and transparent drawing (unstretched and
// stretched), tiling, the masked blit itself, the canvas's change notice and the image's
// whole-image bitmap of a frame smaller than the screen. Results are read back pixel by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "classlib/bitmap.h"
#include "classlib/sysutils.h"
#include "drawfixtures.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "tests/support/gdiobjects.h"

namespace {

const COLORREF kFill = RGB(10, 20, 30);
const Colors kFour = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {90, 80, 70}};

std::string RectText(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// What a frame drawn with rect at place shows: the frame's colours, the fill where its key is
// drawn transparent or outside the frame.
std::vector<COLORREF> Expected(int surfaceWidth, int surfaceHeight, const RECT& place, int width, int height,
                               const Bytes& pixels, const Colors& colors, int key) {
    std::vector<COLORREF> out;
    for (int y = 0; y < surfaceHeight; ++y)
        for (int x = 0; x < surfaceWidth; ++x) {
            COLORREF c = kFill;
            if (x >= place.left && x < place.right && y >= place.top && y < place.bottom) {
                const int fx = (x - place.left) * width / (place.right - place.left);
                const int fy = (y - place.top) * height / (place.bottom - place.top);
                const uint8_t index = pixels[fy * width + fx];
                if (index != key) c = Ref(colors[index]);
            }
            out.push_back(c);
        }
    return out;
}

struct ScaleCase {
    int screenWidth, screenHeight, left, top, width, height;
    RECT dest;
    RECT expected;
};

TEST(GifDrawScale, MapsTheFrameEdgesIntoTheDestination) {
    const ScaleCase cases[] = {
        {100, 50, 10, 0, 20, 10, {0, 0, 50, 25}, {5, 0, 15, 5}},
        // 2.5 and 12.5 round away from zero.
        {100, 50, 5, 5, 20, 10, {0, 0, 50, 25}, {3, 3, 13, 8}},
        // The far edge is scaled itself: 6.67 gives 7, where left plus a scaled width would give 6.
        {3, 3, 1, 1, 1, 1, {0, 0, 10, 10}, {3, 3, 7, 7}},
        {100, 50, 10, 0, 20, 10, {20, 30, 70, 55}, {25, 30, 35, 35}},
        {10, 10, 2, 3, 4, 5, {0, 0, 10, 10}, {2, 3, 6, 8}},
        // Enlarged three times.
        {4, 4, 1, 2, 2, 1, {0, 0, 12, 12}, {3, 6, 9, 9}},
    };
    for (const ScaleCase& c : cases) {
        auto image = MakeImage(c.screenWidth, c.screenHeight, kFour);
        TGIFSubImage* frame = AddFrame(*image, {c.left, c.top, c.width, c.height});
        EXPECT_EQ(RectText(frame->ScaleFrameRect(c.dest)), RectText(c.expected)) << RectText(c.dest);
    }
}

struct DrawCase {
    const char* name;
    int key;           // transparent index of the frame; -1 for an opaque frame
    bool transparent;  // transparent drawing asked
    RECT screen;       // destination of the whole logical screen
    RECT place;        // where the frame lands
    bool keyShows;     // whether the key's pixels are left showing the destination
};

// A 4 x 4 screen with a 3 x 2 frame at (1, 1); pixel 2 (blue) is the usual key. Index 4 is in
// the table but no pixel uses it, so such a frame has no mask.
TEST(GifDrawFrame, OpaqueAndTransparentDrawingShowsTheRightPixels) {
    const Bytes pixels = {0, 1, 2, 3, 2, 0};
    const DrawCase cases[] = {
        {"opaque", -1, false, {0, 0, 4, 4}, {1, 1, 4, 3}, false},
        {"opaque stretched", -1, false, {0, 0, 8, 8}, {2, 2, 8, 6}, false},
        {"opaque at an offset", -1, false, {3, 2, 7, 6}, {4, 3, 7, 5}, false},
        {"transparent", 2, true, {0, 0, 4, 4}, {1, 1, 4, 3}, true},
        {"transparent at an offset", 2, true, {3, 2, 7, 6}, {4, 3, 7, 5}, true},
        {"transparent stretched", 2, true, {0, 0, 8, 8}, {2, 2, 8, 6}, true},
        {"transparent stretched unevenly", 2, true, {0, 0, 12, 8}, {3, 2, 12, 6}, true},
        {"transparent asked of an opaque frame", -1, true, {0, 0, 8, 8}, {2, 2, 8, 6}, false},
        {"transparent asked, no pixel of the key", 4, true, {0, 0, 4, 4}, {1, 1, 4, 3}, false},
        {"transparent frame drawn opaque", 2, false, {0, 0, 8, 8}, {2, 2, 8, 6}, false},
    };
    for (const DrawCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = MakeImage(4, 4, {});
        TGIFSubImage* frame = AddFrame(*image, {1, 1, 3, 2, pixels, kFour, c.key});
        Surface surface(12, 8, kFill);
        SetTextColor(surface.Dc(), RGB(1, 2, 3));
        SetBkColor(surface.Dc(), RGB(4, 5, 6));
        TCanvas canvas(surface.Dc());
        frame->DrawFrame(canvas, c.screen, c.transparent, false);
        EXPECT_EQ(surface.All(), Expected(12, 8, c.place, 3, 2, pixels, kFour, c.keyShows ? c.key : -1));
        EXPECT_EQ(GetTextColor(surface.Dc()), RGB(1, 2, 3));
        EXPECT_EQ(GetBkColor(surface.Dc()), RGB(4, 5, 6));
    }
}

bool HoldsCachedObjects(const TGIFSubImage& frame) { return frame.HasRenderedBitmap() || frame.Mask() || frame.Palette(); }

// Drawn frame by frame, an image keeps the rendered bitmap, mask and palette of at most 64 frames
// besides its first: those drawn last. The GDI table is shared by every window of the process.
// A frame that gave its objects back draws the same when drawn again.
TEST(GifDrawFrame, AnImageOfManyFramesKeepsTheCachedObjectsOfABoundedNumber) {
    const Bytes pixels = {0, 1, 2, 3};
    for (const int frames : {64, 65, 400}) {
        SCOPED_TRACE(std::to_string(frames) + " frames");
        auto image = MakeImage(4, 4, {});
        for (int i = 0; i < frames; ++i) AddFrame(*image, {i % 3, i % 2, 2, 2, pixels, kFour, 2});
        const int before = GdiObjectsInUse();
        int peak = 0;
        Surface surface(4, 4, kFill);
        TCanvas canvas(surface.Dc());
        for (int i = 0; i < frames; ++i) {
            image->Frames()->FrameAt(i)->DrawFrame(canvas, RECT{0, 0, 4, 4}, true, false);
            peak = std::max(peak, GdiObjectsInUse() - before);
        }
        int holding = 0;
        for (int i = 0; i < frames; ++i) holding += HoldsCachedObjects(*image->Frames()->FrameAt(i)) ? 1 : 0;
        EXPECT_EQ(holding, std::min(frames, 65));
        // A frame keeps a bitmap (with its context and palette), a mask and a palette.
        EXPECT_LE(peak, 65 * 6) << "GDI objects held at once";
        EXPECT_TRUE(HoldsCachedObjects(*image->Frames()->FrameAt(0)));
        EXPECT_TRUE(HoldsCachedObjects(*image->Frames()->FrameAt(frames - 64)));
        if (frames > 65) {
            EXPECT_FALSE(HoldsCachedObjects(*image->Frames()->FrameAt(1)));
        }

        Surface again(4, 4, kFill);
        TCanvas againCanvas(again.Dc());
        TGIFSubImage* first = image->Frames()->FrameAt(1);
        first->DrawFrame(againCanvas, RECT{0, 0, 4, 4}, true, false);
        EXPECT_EQ(again.All(), Expected(4, 4, RECT{1, 1, 3, 3}, 2, 2, pixels, kFour, 2));
    }
}

TEST(GifDrawFrame, StretchDrawFrameTakesTheFramesOwnRectangle) {
    auto image = MakeImage(4, 4, {});
    const Bytes pixels = {0, 2, 1, 3};
    TGIFSubImage* frame = AddFrame(*image, {1, 1, 2, 2, pixels, kFour, 2});
    for (bool transparent : {false, true}) {
        Surface surface(6, 6, kFill);
        TCanvas canvas(surface.Dc());
        frame->StretchDrawFrame(canvas, RECT{2, 0, 6, 4}, transparent, false);
        EXPECT_EQ(surface.All(), Expected(6, 6, {2, 0, 6, 4}, 2, 2, pixels, kFour, transparent ? 2 : -1))
            << transparent;
    }
}

TEST(GifDrawFrame, AnEmptyFrameDrawsNothing) {
    auto image = MakeImage(4, 4, kFour);
    TGIFSubImage* frame = AddFrame(*image, {1, 1, 0, 0});
    Surface surface(4, 4, kFill);
    TCanvas canvas(surface.Dc());
    for (bool transparent : {false, true})
        for (bool tile : {false, true}) frame->DrawFrame(canvas, RECT{0, 0, 4, 4}, transparent, tile);
    EXPECT_EQ(surface.All(), std::vector<COLORREF>(16, kFill));
}

struct TileCase {
    const char* name;
    int screenWidth, screenHeight;
    RECT area;
    std::vector<int> columns, rows;
    bool transparent;
};

// A 2 x 2 frame at (4, 2): its tiles step by the screen size from the frame's own place and are
// not clipped to the area.
TEST(GifDrawTile, TilesStepByTheScreenSize) {
    const Bytes pixels = {0, 1, 2, 3};
    const TileCase cases[] = {
        {"opaque", 100, 50, {0, 0, 250, 120}, {4, 104, 204}, {2, 52, 102}, false},
        {"past the area's edge", 100, 50, {0, 0, 205, 103}, {4, 104, 204}, {2, 52, 102}, false},
        {"area offset", 100, 50, {10, 5, 250, 120}, {14, 114, 214}, {7, 57, 107}, false},
        {"transparent", 100, 50, {0, 0, 250, 120}, {4, 104, 204}, {2, 52, 102}, true},
        // A screen without height gives one row per column; nothing loops for ever.
        {"no screen height", 100, 0, {0, 0, 250, 120}, {4, 104, 204}, {2}, false},
        {"no screen width", 0, 50, {0, 0, 250, 120}, {4}, {2, 52, 102}, true},
    };
    for (const TileCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = MakeImage(100, 50, {});
        TGIFSubImage* frame = AddFrame(*image, {4, 2, 2, 2, pixels, kFour, 2});
        image->Header()->SetLogicalWidth(static_cast<uint16_t>(c.screenWidth));
        image->Header()->SetLogicalHeight(static_cast<uint16_t>(c.screenHeight));
        Surface surface(260, 130, kFill);
        TCanvas canvas(surface.Dc());
        frame->DrawFrame(canvas, c.area, c.transparent, true);

        std::vector<COLORREF> expected(260 * 130, kFill);
        for (int tx : c.columns)
            for (int ty : c.rows)
                for (int i = 0; i < 4; ++i)
                    if (!(c.transparent && pixels[i] == 2))
                        expected[(ty + i / 2) * 260 + tx + i % 2] = Ref(kFour[pixels[i]]);
        EXPECT_EQ(surface.All(), expected);
    }
}

// A bitmap of width x 1 pixels in its own context.
struct RowPicture {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap;
    HGDIOBJ old;
    RowPicture(int width, bool monochrome, const std::vector<COLORREF>& colors) {
        HDC screen = GetDC(nullptr);
        bitmap = monochrome ? CreateBitmap(width, 1, 1, 1, nullptr) : CreateCompatibleBitmap(screen, width, 1);
        ReleaseDC(nullptr, screen);
        old = SelectObject(dc, bitmap);
        for (int x = 0; x < width; ++x) SetPixel(dc, x, 0, colors[x]);
    }
    ~RowPicture() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
};

// The masked blit on its own: a source origin past 0 reads the same pixels on the MaskBlt path
// (unstretched) and on the two-pass path (stretched).
TEST(GifDrawPaintTransparent, CopiesWhereTheMaskIsClear) {
    const COLORREF red = RGB(255, 0, 0), green = RGB(0, 255, 0), blue = RGB(0, 0, 255), white = RGB(255, 255, 255);
    RowPicture source(4, false, {red, green, blue, white});
    // Bit 1 (white) keeps the destination.
    RowPicture mask(4, true, {white, 0, white, 0});
    struct Case {
        int sourceX, sourceWidth, destWidth;
        std::vector<COLORREF> expected;
    } cases[] = {
        {0, 4, 4, {kFill, green, kFill, white, kFill, kFill, kFill, kFill}},
        {1, 2, 2, {green, kFill, kFill, kFill, kFill, kFill, kFill, kFill}},
        {0, 4, 8, {kFill, kFill, green, green, kFill, kFill, white, white}},
        {1, 3, 6, {green, green, kFill, kFill, white, white, kFill, kFill}},
    };
    for (const Case& c : cases) {
        Surface surface(8, 1, kFill);
        EXPECT_TRUE(TGIFSubImage::PaintTransparent(surface.Dc(), 0, 0, c.destWidth, 1, source.dc, c.sourceX, 0,
                                                   c.sourceWidth, 1, mask.dc, c.sourceX, 0));
        EXPECT_EQ(surface.All(), c.expected) << c.sourceX << " " << c.sourceWidth << " " << c.destWidth;
        EXPECT_EQ(GetCurrentObject(mask.dc, OBJ_BITMAP), mask.bitmap);
        EXPECT_EQ(GetCurrentObject(source.dc, OBJ_BITMAP), source.bitmap);
    }
}

// A working bitmap that cannot be made raises; the destination and the contexts are left as
// they were.
TEST(GifDrawPaintTransparent, AFailedCreationRaisesAndReleasesEverything) {
    RowPicture source(4, false, {0, 0, 0, 0});
    RowPicture mask(4, true, {0, 0, 0, 0});
    Surface surface(8, 1, kFill);
    SetTextColor(surface.Dc(), RGB(1, 2, 3));
    EXPECT_THROW(
        TGIFSubImage::PaintTransparent(surface.Dc(), 0, 0, 8, 1, source.dc, 0, 0, 0x7FFFFF, 0x7FFFFF, mask.dc, 0, 0),
        EOutOfResources);
    EXPECT_EQ(surface.All(), std::vector<COLORREF>(8, kFill));
    EXPECT_EQ(GetTextColor(surface.Dc()), RGB(1, 2, 3));
    EXPECT_EQ(GetCurrentObject(mask.dc, OBJ_BITMAP), mask.bitmap);
}

TEST(GifDrawFrame, TransparentDrawingNotifiesTheCanvasBitmap) {
    auto image = MakeImage(2, 1, {});
    TGIFSubImage* frame = AddFrame(*image, {0, 0, 2, 1, {0, 2}, kFour, 2});
    TBitmap target;
    target.SetSize(2, 1);
    target.Canvas().FillRect(RECT{0, 0, 2, 1}, TColor(kFill));
    int changes = 0;
    target.OnChange = [&](TObject*) { ++changes; };
    frame->DrawFrame(target.Canvas(), RECT{0, 0, 2, 1}, true, false);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(GetPixel(target.Canvas().Handle(), 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(target.Canvas().Handle(), 1, 0), kFill);
}

// Frame 0 smaller than the screen is drawn at its place; the rest of the bitmap stays white.
TEST(GifDrawCurrentBitmap, DrawsASmallFirstFrameAtItsPlace) {
    auto image = MakeImage(5, 3, kFour);
    const Bytes pixels = {0, 1, 2, 3};
    AddFrame(*image, {2, 1, 2, 2, pixels, {}, 2});
    TBitmap* bitmap = image->CurrentBitmap();
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(bitmap->Width(), 5);
    ASSERT_EQ(bitmap->Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            COLORREF expected = RGB(255, 255, 255);
            if (x >= 2 && x < 4 && y >= 1) expected = Ref(kFour[pixels[(y - 1) * 2 + x - 2]]);
            EXPECT_EQ(GetPixel(bitmap->Canvas().Handle(), x, y), expected) << x << "," << y;
        }
    EXPECT_EQ(image->CurrentBitmap(), bitmap);
}

}  // namespace
