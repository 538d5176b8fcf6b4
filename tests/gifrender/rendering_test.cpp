// Frame rendering: direct and web-palette bitmaps, transparency masks, progress, errors,
// the cache of the rendered bitmap and the image's own bitmap.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "classlib/stringlist.h"
#include "gifimage/colormap.h"
#include "gifimage/dib.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"
#include "renderfixtures.h"

namespace {

// Forces the kind of display the library found at its start, for one test.
class DisplayKind {
public:
    explicit DisplayKind(bool palette) : saved_(IsPaletteDisplay) { IsPaletteDisplay = palette; }
    ~DisplayKind() { IsPaletteDisplay = saved_; }

private:
    bool saved_;
};

Colors DistinctColors(int n) {
    Colors out;
    for (int i = 0; i < n; ++i) out.push_back(TGIFColor{uint8_t(i), uint8_t(255 - i), uint8_t((i * 7 + 3) & 0xFF)});
    return out;
}

Bytes Pattern(int width, int height, int colors) {
    Bytes out;
    for (int i = 0; i < width * height; ++i) out.push_back(uint8_t((i * 7 + i / width) % colors));
    return out;
}

RGBQUAD Quad(const TGIFColor& c) { return RGBQUAD{c.Blue, c.Green, c.Red, 0}; }
bool SameQuad(const RGBQUAD& a, const RGBQUAD& b) {
    return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
}

// An image of one frame with its own colours; a transparentIndex of 0 or more puts a graphic
// control extension with the transparency flag and that index before it.
std::unique_ptr<TGIFImage> OneFrame(int width, int height, const Colors& colors, const Bytes& pixels,
                                    int transparentIndex = -1, bool interlaced = false) {
    GifBytes gif;
    gif.Header(width, height, 0);
    if (transparentIndex >= 0) gif.Gce(1, 0, transparentIndex);
    FrameWithTable(gif, width, height, colors, pixels, interlaced);
    return LoadGif(gif.Trailer().b);
}

// A frame made in memory (for sizes that are slow to encode).
TGIFSubImage* AddFrame(TGIFImage& image, int width, int height, const Colors& colors) {
    auto* frame = new TGIFSubImage(&image);
    image.Frames()->Append(frame);
    frame->ApplyBounds(0, 0, width, height);
    for (const TGIFColor& c : colors) frame->LocalColorMap()->AppendColor(TGIFColorMap::TripleToColor(c));
    return frame;
}

TEST(GifRender, DirectRenderingKeepsIndexesAndColours) {
    DisplayKind display(false);
    struct Case {
        const char* name;
        int width, height, colors;
        bool local, interlaced;
    };
    const Case cases[] = {
        {"1-bit local table", 10, 3, 2, true, false},      {"4-bit local table", 7, 5, 16, true, false},
        {"8-bit local table", 17, 9, 256, true, false},    {"global table", 10, 3, 16, false, false},
        {"interlaced local table", 6, 11, 16, true, true}, {"interlaced global table", 5, 9, 4, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes pixels = Pattern(c.width, c.height, c.colors);
        Colors colors;
        std::unique_ptr<TGIFImage> image;
        if (c.local) {
            colors = DistinctColors(c.colors);
            image = OneFrame(c.width, c.height, colors, pixels, -1, c.interlaced);
        } else {
            for (int i = 0; i < c.colors; ++i)
                colors.push_back(TGIFColor{uint8_t(i * 17), uint8_t(i * 5), uint8_t(i * 3)});
            image = LoadGif(GifBytes()
                                .Header(c.width, c.height, c.colors)
                                .Frame(0, 0, c.width, c.height, pixels, c.colors > 4 ? 4 : 2, c.interlaced ? 0x40 : 0)
                                .Trailer()
                                .b);
        }
        TGIFSubImage* frame = image->Frames()->FrameAt(0);
        TBitmap* bitmap = frame->RenderedBitmap();
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->PixelFormat(), pf8bit);
        EXPECT_EQ(bitmap->HandleType(), bmDIB);
        EXPECT_EQ(bitmap->Width(), c.width);
        EXPECT_EQ(bitmap->Height(), c.height);
        EXPECT_EQ(IndexesOf(*bitmap), pixels);
        const std::vector<RGBQUAD> table = ColorTableOf(*bitmap);
        ASSERT_EQ(table.size(), 256u);
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD want = i < c.colors ? Quad(colors[i]) : RGBQUAD{0, 0, 0, 0};
            EXPECT_TRUE(SameQuad(table[i], want)) << "entry " << i;
        }
        EXPECT_EQ(frame->Mask(), nullptr);
        EXPECT_FALSE(frame->IsMasked());
        EXPECT_EQ(frame->RenderedBitmap(), bitmap) << "kept until something changes";
    }
}

TEST(GifRender, MaskMarksExactlyTheTransparentPixels) {
    DisplayKind display(false);
    struct Case {
        const char* name;
        int width, height, transparent;
        int gcePacked;
        bool masked;
        int rowBytes;
    };
    const Case cases[] = {
        {"index present", 10, 3, 1, 1, true, 2},          {"17 pixels use two 16-bit words", 17, 4, 2, 1, true, 4},
        {"16 pixels use one word", 16, 2, 0, 1, true, 2}, {"index absent", 10, 3, 9, 1, false, 0},
        {"no transparency flag", 10, 3, 1, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes pixels = Pattern(c.width, c.height, 4);
        GifBytes gif;
        gif.Header(c.width, c.height, 0).Gce(c.gcePacked, 0, c.transparent);
        FrameWithTable(gif, c.width, c.height, DistinctColors(16), pixels);
        auto image = LoadGif(gif.Trailer().b);
        ProgressLog progress;
        progress.Attach(*image);
        TGIFSubImage* frame = image->Frames()->FrameAt(0);
        ASSERT_NE(frame->RenderedBitmap(), nullptr);
        EXPECT_EQ(IndexesOf(*frame->RenderedBitmap()), pixels) << "pixels keep their own index";
        const size_t reports = progress.entries.size();
        EXPECT_EQ(frame->IsMasked(), c.masked);
        EXPECT_EQ(progress.entries.size(), reports) << "IsMasked does not render again";
        if (!c.masked) {
            EXPECT_EQ(frame->Mask(), nullptr);
            continue;
        }
        BITMAP info{};
        GetObjectA(frame->Mask(), sizeof info, &info);
        EXPECT_EQ(info.bmBitsPixel, 1);
        EXPECT_EQ(info.bmPlanes, 1);
        EXPECT_EQ(info.bmWidth, c.width);
        EXPECT_EQ(info.bmHeight, c.height);
        EXPECT_EQ(info.bmWidthBytes, c.rowBytes);
        EXPECT_EQ(MaskBitsOf(frame->Mask(), c.width, c.height), Where(pixels, uint8_t(c.transparent)));
    }
}

TEST(GifRender, ReleasedMaskIsMadeAgainByIsMasked) {
    DisplayKind display(false);
    const Bytes pixels{0, 1, 1, 0, 1, 1};
    auto image = OneFrame(3, 2, DistinctColors(2), pixels, 0);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    ASSERT_TRUE(frame->IsMasked());
    frame->ReleaseMask();
    EXPECT_EQ(frame->Mask(), nullptr);
    EXPECT_TRUE(frame->NeedMask());
    EXPECT_TRUE(frame->IsMasked()) << "renders again to make the mask";
    EXPECT_EQ(MaskBitsOf(frame->Mask(), 3, 2), Where(pixels, 0));
}

// The rendered bitmap and its mask drawn over a known background through GDI.
TEST(GifRender, MaskKeepsTheBackgroundUnderTransparentPixels) {
    DisplayKind display(false);
    const Colors colors{{200, 0, 0}, {0, 180, 0}, {0, 0, 160}, {250, 250, 10}};
    const Bytes pixels{0, 1, 2, 3, 2, 0, 0, 1, 3, 2, 1, 0};
    const COLORREF background = RGB(10, 90, 30);
    std::vector<COLORREF> expected;
    for (uint8_t p : pixels)
        expected.push_back(p == 2 ? background : RGB(colors[p].Red, colors[p].Green, colors[p].Blue));

    auto image = OneFrame(4, 3, colors, pixels, 2);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    ASSERT_TRUE(frame->IsMasked());
    TBitmap* bitmap = frame->RenderedBitmap();
    HDC maskDC = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(maskDC, frame->Mask());

    Surface masked(4, 3, background);
    // Where the mask bit is 1 the destination stays, elsewhere the frame is copied.
    ASSERT_TRUE(MaskBlt(masked.Dc(), 0, 0, 4, 3, bitmap->Canvas().Handle(), 0, 0, frame->Mask(), 0, 0, 0xCCAA0029));
    EXPECT_EQ(masked.All(), expected);

    // The same through the mask alone: the background turns black under opaque pixels, the
    // frame black under transparent ones, and the two are or-ed.
    Surface anded(4, 3, background);
    BitBlt(anded.Dc(), 0, 0, 4, 3, maskDC, 0, 0, SRCAND);
    Surface opaquePart(4, 3, RGB(0, 0, 0));
    BitBlt(opaquePart.Dc(), 0, 0, 4, 3, bitmap->Canvas().Handle(), 0, 0, SRCCOPY);
    BitBlt(opaquePart.Dc(), 0, 0, 4, 3, maskDC, 0, 0, 0x00220326);  // destination and not mask
    BitBlt(anded.Dc(), 0, 0, 4, 3, opaquePart.Dc(), 0, 0, SRCPAINT);
    EXPECT_EQ(anded.All(), expected);

    SelectObject(maskDC, old);
    DeleteDC(maskDC);
}

TEST(GifRender, NeedsDitherChoosesTheWebPalette) {
    struct Case {
        uint16_t flags;
        bool paletteDisplay;
        bool dithered;
    };
    const Case cases[] = {
        {0x068F, true, true},    {0x068F, false, false},
        {dfDither, false, true}, {dfDither | dfDitherPaletteOnly, false, false},
        {0, true, false},
    };
    const Colors colors{{0, 0, 0}, {255, 255, 255}, {51, 102, 153}, {255, 0, 0}};
    const Bytes pixels{0, 1, 2, 3, 2, 1};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags << " palette display " << c.paletteDisplay);
        DisplayKind display(c.paletteDisplay);
        auto image = OneFrame(3, 2, colors, pixels);
        image->SetDrawFlags(c.flags);
        TBitmap* bitmap = image->Frames()->FrameAt(0)->RenderedBitmap();
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->PixelFormat(), pf8bit);
        const std::vector<RGBQUAD> table = ColorTableOf(*bitmap);
        ASSERT_EQ(table.size(), 256u);
        if (!c.dithered) {
            EXPECT_EQ(IndexesOf(*bitmap), pixels);
            EXPECT_TRUE(SameQuad(table[2], Quad(colors[2])));
            continue;
        }
        // Web colours of the frame map to their own entries, leaving no error to spread.
        EXPECT_EQ(IndexesOf(*bitmap), (Bytes{0, 215, 51, 180, 51, 215}));
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD want = i < 216
                                     ? RGBQUAD{uint8_t(i % 6 * 51), uint8_t(i / 6 % 6 * 51), uint8_t(i / 36 * 51), 0}
                                     : RGBQUAD{0, 0, 0, 0};
            EXPECT_TRUE(SameQuad(table[i], want)) << "entry " << i;
        }
    }
}

// The rendering drives a Floyd-Steinberg ditherer over the web lookup in serpentine order,
// passing over transparent pixels without mapping them.
// Floyd-Steinberg into the web palette as the ditherer's rule has it: one error row of width + 1
// entries per channel rolls the next row's sums along, and the 7/16 share travels in a working
// value. Written from the rule, so that the rendering is checked against more than itself.
class FloydSteinbergWalk {
public:
    explicit FloydSteinbergWalk(int width) : width_(width), row_(width + 1) {}
    bool Forward() const { return direction_ > 0; }

    uint8_t Pixel(const TGIFColor& color) {
        const int input[3] = {color.Red, color.Green, color.Blue};
        int value[3];
        for (int ch = 0; ch < 3; ++ch) {
            const int a = row_[position_][ch] + working_[ch];
            value[ch] = std::clamp(input[ch] + (a + 8) / 16, 0, 255);  // '/' truncates toward zero
        }
        // The web lookup: six levels a channel, changing at 48, 99, 150, 201 and 252.
        auto level = [](int v) { return v < 48 ? 0 : v < 99 ? 1 : v < 150 ? 2 : v < 201 ? 3 : v < 252 ? 4 : 5; };
        const int levels[3] = {level(value[0]), level(value[1]), level(value[2])};
        for (int ch = 0; ch < 3; ++ch) {
            const int e = value[ch] - 51 * levels[ch];
            row_[position_][ch] = pending_[ch] + 3 * e;
            pending_[ch] = last_[ch] + 5 * e;
            last_[ch] = e;
            working_[ch] = 7 * e;
        }
        position_ += direction_;
        return static_cast<uint8_t>(levels[0] * 36 + levels[1] * 6 + levels[2]);
    }

    void NextRow() {
        for (int ch = 0; ch < 3; ++ch) {
            row_[position_][ch] = pending_[ch];
            working_[ch] = last_[ch] = pending_[ch] = 0;
        }
        direction_ = -direction_;
        position_ = direction_ > 0 ? 0 : width_;
    }

private:
    int width_;
    std::vector<std::array<int, 3>> row_;
    int direction_ = 1;
    int position_ = 0;
    int working_[3] = {0, 0, 0}, last_[3] = {0, 0, 0}, pending_[3] = {0, 0, 0};
};

TEST(GifRender, DitheredPixelsFollowTheDitherer) {
    DisplayKind display(true);
    const int width = 5, height = 4;
    const Colors colors{{200, 30, 90}, {17, 140, 250}, {90, 90, 90}, {255, 255, 255}};
    const Bytes pixels{0, 1, 2, 3, 0, 2, 3, 1, 0, 1, 3, 3, 0, 2, 1, 1, 0, 3, 2, 0};
    auto image = OneFrame(width, height, colors, pixels, 3);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    TBitmap* bitmap = frame->RenderedBitmap();
    ASSERT_NE(bitmap, nullptr);

    // Transparent pixels keep the fill index (transparent white: 215) and are passed over without
    // moving the error row, so the next pixel takes the error meant for the skipped one.
    Bytes expected(pixels.size(), 215);
    FloydSteinbergWalk walk(width);
    for (int y = 0; y < height; ++y) {
        for (int step = 0; step < width; ++step) {
            const int x = walk.Forward() ? step : width - 1 - step;
            const uint8_t p = pixels[y * width + x];
            if (p != 3) expected[y * width + x] = walk.Pixel(colors[p]);
        }
        walk.NextRow();
    }
    EXPECT_EQ(IndexesOf(*bitmap), expected);
    ASSERT_TRUE(frame->IsMasked());
    EXPECT_EQ(MaskBitsOf(frame->Mask(), width, height), Where(pixels, 3));
}

TEST(GifRender, DitheredTransparentPixelsKeepTheirColoursWebEntry) {
    DisplayKind display(true);
    struct Case {
        TGIFColor transparent;
        uint8_t fill;
    };
    for (const Case& c : {Case{{255, 255, 255}, 215}, Case{{0, 0, 0}, 0}, Case{{51, 0, 255}, 41}}) {
        SCOPED_TRACE(int(c.fill));
        // 3 wide: the second row runs from column 2 to 0 and its mask bits from 0x20 upward.
        const Bytes pixels{1, 0, 1, 0, 1, 0};
        auto image = OneFrame(3, 2, Colors{c.transparent, {0, 0, 0}}, pixels, 0);
        TGIFSubImage* frame = image->Frames()->FrameAt(0);
        TBitmap* bitmap = frame->RenderedBitmap();
        ASSERT_NE(bitmap, nullptr);
        const Bytes indexes = IndexesOf(*bitmap);
        EXPECT_EQ(indexes[1], c.fill);
        EXPECT_EQ(indexes[3], c.fill);
        EXPECT_EQ(indexes[5], c.fill);
        EXPECT_EQ(indexes[0], 0);
        ASSERT_TRUE(frame->IsMasked());
        EXPECT_EQ(MaskBitsOf(frame->Mask(), 3, 2), (Bytes{0, 1, 0, 1, 0, 1}));
    }
}

TEST(GifRender, IndexesBeyondTheTableDoNotReadOutsideIt) {
    // Two colours, pixel values up to 3 (a damaged frame): the direct rendering keeps the
    // indexes (zero colour-table entries), the dithered one maps them as black.
    const Bytes pixels{3, 2, 1, 0};
    for (bool palette : {false, true}) {
        SCOPED_TRACE(palette);
        DisplayKind display(palette);
        GifBytes gif;
        gif.Header(4, 1, 0).Gce(1, 0, 3).Descriptor(0, 0, 4, 1, 0x80).Raw({255, 255, 255, 255, 255, 255});
        auto image = LoadGif(gif.Data(2, EncodeLZW(pixels, 2)).Trailer().b);
        TGIFSubImage* frame = image->Frames()->FrameAt(0);
        ASSERT_EQ(frame->LocalColorMap()->Count(), 2);
        TBitmap* bitmap = frame->RenderedBitmap();
        ASSERT_NE(bitmap, nullptr);
        const Bytes indexes = IndexesOf(*bitmap);
        // Dithered, the transparent index and pixel 2 beyond the table stand for black.
        EXPECT_EQ(indexes, palette ? (Bytes{0, 0, 215, 215}) : pixels);
        EXPECT_EQ(MaskBitsOf(frame->Mask(), 4, 1), (Bytes{1, 0, 0, 0}));
    }
}

TEST(GifRender, ProgressEveryThirtyTwoRows) {
    for (bool palette : {false, true}) {
        SCOPED_TRACE(palette);
        DisplayKind kind(palette);
        auto image = OneFrame(3, 70, DistinctColors(4), Pattern(3, 70, 4));
        ProgressLog progress;
        progress.Attach(*image);
        TGIFSubImage* frame = image->Frames()->FrameAt(0);
        ASSERT_NE(frame->RenderedBitmap(), nullptr);
        const std::string m = sProgressRendering;
        const std::vector<ProgressEntry> want{{frame, psStarting, 0, false, m},
                                              {frame, psRunning, 0, false, m},
                                              {frame, psRunning, 46, false, m},
                                              {frame, psRunning, 91, false, m},
                                              {frame, psEnding, 100, false, m}};
        EXPECT_EQ(progress.entries, want);
        frame->RenderedBitmap();
        EXPECT_EQ(progress.entries.size(), want.size()) << "a kept bitmap is not rendered again";
    }
}

TEST(GifRender, EmptyFrameRendersNothing) {
    auto image = LoadGif(GifBytes().Header(4, 4, 2).Gce(0, 5, 0).Trailer().b);
    ProgressLog progress;
    progress.Attach(*image);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    ASSERT_TRUE(frame->IsEmpty());
    EXPECT_EQ(frame->RenderedBitmap(), nullptr);
    EXPECT_TRUE(progress.entries.empty());
    TBitmap target;
    target.SetSize(3, 3);
    frame->CopyTo(target);
    EXPECT_TRUE(target.Empty()) << "an empty frame copies as an empty bitmap";
}

TEST(GifRender, AbortedRenderLeavesNoBitmapAndKeepsTheMaskDue) {
    for (bool palette : {false, true}) {
        SCOPED_TRACE(palette);
        DisplayKind display(palette);
        const Bytes pixels = Pattern(4, 40, 3);
        auto image = OneFrame(4, 40, DistinctColors(4), pixels, 1);
        ProgressLog progress;
        image->OnProgress = [&](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const RECT&,
                                const std::string& message) {
            progress.entries.push_back({sender, stage, percent, redraw, message});
            if (stage == psRunning && percent > 0) throw EAbort("stop");
        };
        TGIFSubImage* frame = image->Frames()->FrameAt(0);
        EXPECT_EQ(frame->RenderedBitmap(), nullptr);
        EXPECT_FALSE(frame->HasRenderedBitmap());
        ASSERT_FALSE(progress.entries.empty());
        EXPECT_EQ(progress.entries.back().stage, psEnding);
        EXPECT_EQ(progress.entries.back().percent, 0);

        image->OnProgress = nullptr;
        ASSERT_NE(frame->RenderedBitmap(), nullptr);
        ASSERT_TRUE(frame->IsMasked()) << "transparency survives an aborted render";
        EXPECT_EQ(MaskBitsOf(frame->Mask(), 4, 40), Where(pixels, 1));
    }
}

TEST(GifRender, FailuresPassOnAndLeaveNoBitmap) {
    DisplayKind display(false);
    // No global and no local table: the palette query fails.
    auto image = LoadGif(GifBytes().Header(3, 1, 0).Frame(0, 0, 3, 1, Bytes{0, 1, 0}).Trailer().b);
    ProgressLog progress;
    progress.Attach(*image);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    EXPECT_EQ(GIFErrorOf([&] { frame->RenderedBitmap(); }), sNoColorTable);
    EXPECT_FALSE(frame->HasRenderedBitmap());
    ASSERT_EQ(progress.entries.size(), 2u);
    EXPECT_EQ(progress.entries.back().stage, psEnding);
    EXPECT_EQ(progress.entries.back().percent, 0);

    // A failing progress handler (not an abort) passes on too.
    auto other = OneFrame(2, 2, DistinctColors(2), Bytes{0, 1, 1, 0});
    other->OnProgress = [](TObject*, TProgressStage stage, uint8_t, bool, const RECT&, const std::string&) {
        if (stage == psRunning) throw EInvalidOperation("handler failed");
    };
    EXPECT_THROW(other->Frames()->FrameAt(0)->RenderedBitmap(), EInvalidOperation);
    EXPECT_FALSE(other->Frames()->FrameAt(0)->HasRenderedBitmap());
}

TEST(GifRender, PaletteModifiedImageIsToldAfterTheRender) {
    DisplayKind display(false);
    auto image = OneFrame(2, 2, DistinctColors(2), Bytes{0, 1, 1, 0});
    image->SetPaletteModified(true);
    ProgressLog progress;
    progress.Attach(*image);
    std::vector<TObject*> changes;
    image->OnChange = [&](TObject* sender) { changes.push_back(sender); };
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    ASSERT_NE(frame->RenderedBitmap(), nullptr);
    EXPECT_TRUE(progress.entries.back().redraw);
    EXPECT_EQ(changes, std::vector<TObject*>{frame});
}

TEST(GifRender, ColourChangesDropTheBitmap) {
    DisplayKind display(false);
    auto image = OneFrame(2, 2, DistinctColors(2), Bytes{0, 1, 1, 0});
    std::vector<TObject*> changes;
    image->OnChange = [&](TObject* sender) { changes.push_back(sender); };
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    ASSERT_NE(frame->RenderedBitmap(), nullptr);
    // A new entry in the local table replaces the palette, which releases the bitmap.
    frame->LocalColorMap()->AppendColor(RGB(9, 8, 7));
    EXPECT_FALSE(frame->HasRenderedBitmap());
    EXPECT_TRUE(image->PaletteModified());
    EXPECT_EQ(changes, std::vector<TObject*>{frame});
    TBitmap* again = frame->RenderedBitmap();
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(SameQuad(ColorTableOf(*again)[2], RGBQUAD{7, 8, 9, 0}));

    // A size change drops bitmap and mask too.
    frame->SetBoundsField(kBoundsWidth, 5);
    EXPECT_FALSE(frame->HasRenderedBitmap());
}

TEST(GifRender, PaletteHandleOfARenderedFrameIsItsBitmaps) {
    DisplayKind display(false);
    auto image = OneFrame(2, 1, DistinctColors(2), Bytes{0, 1});
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    TBitmap* bitmap = frame->RenderedBitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(frame->PaletteHandle(), bitmap->Palette());
    PALETTEENTRY entries[256];
    ASSERT_EQ(GetPaletteEntries(frame->PaletteHandle(), 0, 256, entries), 256u);
    EXPECT_EQ(entries[1].peRed, 1);
    EXPECT_EQ(entries[1].peGreen, 254);
}

TEST(GifRender, CopyToABitmapGivesTheRenderedFrame) {
    DisplayKind display(false);
    const Bytes pixels{0, 1, 2, 3, 3, 2};
    auto image = OneFrame(3, 2, DistinctColors(4), pixels);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    TBitmap copied;
    frame->CopyTo(copied);
    EXPECT_EQ(copied.PixelFormat(), pf8bit);
    EXPECT_EQ(IndexesOf(copied), pixels);
    TBitmap assigned;
    assigned.Assign(*frame);
    EXPECT_EQ(IndexesOf(assigned), pixels);
    EXPECT_NE(assigned.Handle(), frame->RenderedBitmap()->Handle()) << "a copy, not the frame's own";
    TStringList notABitmap;
    EXPECT_THROW(frame->CopyTo(notABitmap), EConvertError);
}

TEST(GifRender, LargeFramesRender) {
    DisplayKind display(false);
    TGIFImage image;
    TGIFSubImage* frame = AddFrame(image, 1000, 501, DistinctColors(3));
    for (int y = 0; y < 501; ++y) frame->SetPixelAt(y % 1000, y, 2);
    frame->SetPixelAt(999, 500, 1);
    TBitmap* bitmap = frame->RenderedBitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->PixelFormat(), pf8bit);
    EXPECT_EQ(bitmap->Width(), 1000);
    EXPECT_EQ(bitmap->Height(), 501);
    EXPECT_EQ(bitmap->ScanLine(300)[300], 2);
    EXPECT_EQ(bitmap->ScanLine(300)[301], 0);
    EXPECT_EQ(bitmap->ScanLine(500)[999], 1);
}

TEST(GifRender, FramesRenderWhileLoadingWhenAsked) {
    DisplayKind display(false);
    RenderFramesWhileLoading = true;
    auto image = LoadGif(
        GifBytes().Header(2, 2, 4).Frame(0, 0, 2, 2, Bytes{0, 1, 2, 3}).Frame(0, 0, 1, 1, Bytes{2}).Trailer().b);
    RenderFramesWhileLoading = false;
    ASSERT_EQ(image->Frames()->ItemCount(), 2);
    EXPECT_TRUE(image->Frames()->FrameAt(0)->HasRenderedBitmap());
    EXPECT_TRUE(image->Frames()->FrameAt(1)->HasRenderedBitmap());
}

TEST(GifImageBitmap, CurrentBitmapCopiesAScreenSizedFrameZero) {
    DisplayKind display(false);
    const Bytes pixels{0, 1, 2, 3, 3, 2};
    auto image = LoadGif(GifBytes().Header(3, 2, 4).Frame(0, 0, 3, 2, pixels).Frame(0, 0, 1, 1, Bytes{1}).Trailer().b);
    TBitmap* current = image->CurrentBitmap();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(IndexesOf(*current), pixels);
    EXPECT_NE(current, image->Frames()->FrameAt(0)->RenderedBitmap());
    EXPECT_EQ(image->CurrentBitmap(), current) << "cached";
    EXPECT_EQ(image->AllocBitmap(), current);
    EXPECT_EQ(image->PaletteHandle(), current->Palette());

    int changes = 0;
    image->OnChange = [&](TObject* sender) { changes += sender == image.get(); };
    current->SetWidth(4);
    EXPECT_EQ(changes, 1) << "the cached bitmap tells the image of its changes";

    TBitmap target;
    image->ReleaseBitmap();
    target.Assign(*image);
    EXPECT_EQ(IndexesOf(target), pixels);
    TStringList notABitmap;
    EXPECT_THROW(image->CopyTo(notABitmap), EConvertError);

    TGIFImage empty;
    EXPECT_EQ(empty.CurrentBitmap(), nullptr);
}

TEST(GifImageBitmap, AllocBitmapIsBlankAtTheScreenSize) {
    DisplayKind display(false);
    auto image = LoadGif(GifBytes().Header(7, 4, 4).Frame(2, 1, 2, 2, Bytes{1, 1, 1, 1}).Trailer().b);
    TBitmap* blank = image->AllocBitmap();
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->Width(), 7);
    EXPECT_EQ(blank->Height(), 4);
    EXPECT_FALSE(image->Frames()->FrameAt(0)->HasRenderedBitmap()) << "nothing drawn";
    HPALETTE palette = blank->Palette();
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY entry{};
    ASSERT_EQ(GetPaletteEntries(palette, 3, 1, &entry), 1u);
    EXPECT_EQ(entry.peRed, 51);
    EXPECT_EQ(entry.peGreen, 15);
    EXPECT_EQ(image->CurrentBitmap(), blank);
}

}  // namespace
