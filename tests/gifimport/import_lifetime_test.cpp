// Frames whose source or owner goes away during or after an operation: a frame importing a
// bitmap that the import itself frees, and a frame handed from one image to another. This
// program fills freed objects with 0xDD (tests/support/freedmemory.h), so a use after free faults here.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"
#include "importfixtures.h"
#include "tests/gifrender/renderfixtures.h"
#include "tests/support/freedmemory.h"

namespace {

const COLORREF Red = RGB(255, 0, 0), Green = RGB(0, 255, 0), Blue = RGB(0, 0, 255), White = RGB(255, 255, 255),
               Black = RGB(0, 0, 0), Grey = RGB(128, 128, 128);

// What each pixel shows: its index looked up in the table.
Rgbs Through(const Rgbs& table, const Bytes& pixels) {
    Rgbs out;
    for (uint8_t p : pixels) out.push_back(table.at(p));
    return out;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
TEST(GifFrameHeap, FreedObjectsReadAsDD) {
    auto* probe = new std::vector<int>(4, 7);
    auto* raw = reinterpret_cast<volatile uint8_t*>(probe);
    delete probe;
    EXPECT_EQ(raw[0], kFreedByte) << "this program's heap poisons what it frees";
}
#pragma GCC diagnostic pop

// A 4 x 2 screen with four global colours, a full frame and a 2 x 2 frame at (2, 0).
const Rgbs global{Red, Green, Blue, White};
const Bytes frame0{0, 1, 2, 3, 3, 2, 1, 0};
const Bytes frame1{2, 2, 1, 1};

std::unique_ptr<TGIFImage> TwoFrames() {
    GifBytes gif;
    ScreenWithColors(gif, 4, 2, global).Frame(0, 0, 4, 2, frame0).Frame(2, 0, 2, 2, frame1).Trailer();
    return LoadGif(gif.b);
}

// --- Importing a bitmap that the import frees -----------------------------------------------

// The import empties the frame first, which frees the frame's own bitmap, and its screen fit can
// free the image's cached bitmap; each source below is one of those.
TEST(GifFrameReimport, FromABitmapTheImportFrees) {
    const struct {
        const char* name;
        int frameIndex;
        std::function<TBitmap*(TGIFImage&, TGIFSubImage&)> source;
        int width, height;
        Rgbs shows;  // what the frame shows afterwards, pixel by pixel
        int screenWidth;
    } cases[] = {
        {"its rendered bitmap", 1, [](TGIFImage&, TGIFSubImage& f) { return f.RenderedBitmap(); }, 2, 2,
         Through(global, frame1), 4},
        {"its frame bitmap after an import", 1,
         [](TGIFImage&, TGIFSubImage& f) {
             TBitmap first;
             LoadPalettized(first, 8, 2, {Grey, Black, Red}, {{2, 0}, {1, 2}});
             f.CopyFrom(first);
             return f.FrameBitmap();
         },
         2, 2, Rgbs{Red, Grey, Black, Red}, 4},
        // Frame 1 stands at x = 2: the 4-wide whole-image bitmap widens the screen to 6, which
        // releases that bitmap.
        {"its image's whole-image bitmap", 1, [](TGIFImage& image, TGIFSubImage&) { return image.CurrentBitmap(); }, 4,
         2, Through(global, frame0), 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = TwoFrames();
        image->SetDrawFlags(image->DrawFlags() & ~dfDither);
        TGIFSubImage& frame = *image->Frames()->FrameAt(c.frameIndex);
        TBitmap* source = c.source(*image, frame);
        ASSERT_NE(source, nullptr);
        frame.CopyFrom(*source);
        EXPECT_EQ(frame.Width(), c.width);
        EXPECT_EQ(frame.Height(), c.height);
        EXPECT_EQ(ColorsOfFrame(frame), c.shows);
        EXPECT_EQ(image->ScreenWidth(), c.screenWidth);
        ASSERT_TRUE(frame.HasRenderedBitmap());
        EXPECT_EQ(frame.FrameBitmap()->Width(), c.width);
    }
}

// --- Copying into the image what it holds itself ----------------------------------------------

// What a frame shows through the table it draws with: its own, else the image's.
Rgbs ShownColors(const TGIFSubImage& frame) {
    const Rgbs table = TableOf(*const_cast<TGIFSubImage&>(frame).EffectiveColorMap());
    Rgbs out;
    for (uint8_t p : PixelsOf(frame)) out.push_back(p < table.size() ? table[p] : 0xFFFFFFFF);
    return out;
}

// The copy empties the image before it reads the source, and its whole-image bitmap, its
// frames and their bitmaps go with the frames: each source below is one of those.
TEST(GifImageCopy, FromWhatTheImageItselfHolds) {
    const struct {
        const char* name;
        std::function<TPersistent*(TGIFImage&)> source;
        int width, height;
        Rgbs shows;
    } cases[] = {
        {"its whole-image bitmap", [](TGIFImage& image) { return image.CurrentBitmap(); }, 4, 2,
         Through(global, frame0)},
        {"a frame's rendered bitmap", [](TGIFImage& image) { return image.Frames()->FrameAt(1)->RenderedBitmap(); }, 2, 2,
         Through(global, frame1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = TwoFrames();
        image->SetDrawFlags(image->DrawFlags() & ~dfDither);
        TPersistent* source = c.source(*image);
        ASSERT_NE(source, nullptr);
        image->CopyFrom(source);
        ASSERT_EQ(image->Frames()->ItemCount(), 1);
        const TGIFSubImage& frame = *image->Frames()->FrameAt(0);
        EXPECT_EQ(frame.Width(), c.width);
        EXPECT_EQ(frame.Height(), c.height);
        EXPECT_EQ(ShownColors(frame), c.shows);
    }
}

// A frame of the image itself copies as the same frame of another image does.
TEST(GifImageCopy, FromOneOfItsOwnFrames) {
    const Rgbs global{Red, Green, Blue, White};
    GifBytes gif;
    ScreenWithColors(gif, 4, 2, global).Frame(0, 0, 4, 2, {0, 1, 2, 3, 3, 2, 1, 0});
    FrameWithTable(gif, 2, 2, Colors{{0, 0, 0}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0}}, {2, 2, 1, 1}).Trailer();
    auto other = LoadGif(gif.b);
    TGIFImage fromOther;
    fromOther.CopyFrom(other->Frames()->FrameAt(1));

    auto image = LoadGif(gif.b);
    image->CopyFrom(image->Frames()->FrameAt(1));
    ASSERT_EQ(image->Frames()->ItemCount(), 1);
    const TGIFSubImage& frame = *image->Frames()->FrameAt(0);
    const TGIFSubImage& expected = *fromOther.Frames()->FrameAt(0);
    EXPECT_EQ(PixelsOf(frame), PixelsOf(expected));
    EXPECT_EQ(TableOf(*frame.LocalColorMap()), TableOf(*expected.LocalColorMap()));
    EXPECT_EQ(ShownColors(frame), Through(Rgbs{Black, Grey, Red, Green}, {2, 2, 1, 1}));
}

// --- A frame handed to another image ---------------------------------------------------------

// An image whose only frame has no colours of its own, a graphic control and a comment extension.
std::unique_ptr<TGIFImage> ImageWithOneFrame(const Rgbs& global, WarningLog* log) {
    GifBytes gif;
    ScreenWithColors(gif, 3, 2, global).Gce(0x01, 4, 3).Raw({'!', 0xFE, 2, 'h', 'i', 0});
    gif.Frame(1, 0, 2, 2, {0, 1, 1, 0}).Trailer();
    return LoadGif(gif.b, log);
}

struct Adoption {
    std::unique_ptr<TGIFImage> from;
    std::unique_ptr<TGIFImage> to;
    TGIFSubImage* frame;
    WarningLog fromLog, toLog;
};

// The frame of one image, rendered there, appended to a second image of other colours.
void Adopt(Adoption& a) {
    a.from = ImageWithOneFrame({Red, Green}, &a.fromLog);
    a.to = ImageWithOneFrame({Blue, White}, &a.toLog);
    a.from->SetDrawFlags(0);
    a.to->SetDrawFlags(0);
    a.frame = a.from->Frames()->FrameAt(0);
    ASSERT_NE(a.frame->RenderedBitmap(), nullptr);
    ASSERT_NE(a.frame->PaletteHandle(), nullptr);
    EXPECT_EQ(a.to->AddFrameFrom(a.frame), 1);
}

TEST(GifFrameAdoption, TheFrameBelongsToTheNewImageOnly) {
    Adoption a;
    Adopt(a);
    EXPECT_EQ(a.from->Frames()->ItemCount(), 0) << "the frame left its old image";
    ASSERT_EQ(a.to->Frames()->ItemCount(), 2);
    EXPECT_EQ(a.to->Frames()->FrameAt(1), a.frame) << "the very object";
    EXPECT_EQ(a.frame->OwnerImage(), a.to.get());
    EXPECT_EQ(a.frame->Extensions()->OwnerImage(), a.to.get());
    ASSERT_EQ(a.frame->Extensions()->ItemCount(), 2);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(a.frame->Extensions()->ExtensionAt(i)->OwnerImage(), a.to.get());
    EXPECT_EQ(a.frame->GraphicControlExtension()->Frame(), a.frame);

    // Its colours come along as a table of its own: the new image's global table holds others.
    EXPECT_EQ(TableOf(*a.frame->LocalColorMap()), (Rgbs{Red, Green}));
    TBitmap* rendered = a.frame->RenderedBitmap();
    ASSERT_NE(rendered, nullptr);
    const Rgbs table = [&] {
        Rgbs out;
        for (const RGBQUAD& q : ColorTableOf(*rendered)) out.push_back(RGB(q.rgbRed, q.rgbGreen, q.rgbBlue));
        return out;
    }();
    ASSERT_GE(table.size(), 2u);
    EXPECT_EQ(Through(table, IndexesOf(*rendered)), (Rgbs{Red, Green, Green, Red}));

    // Warnings and the screen fit go to the new image.
    a.frame->ReportWarning(1, "frame");
    a.frame->Extensions()->ExtensionAt(1)->ReportWarning(1, "extension");
    a.frame->LocalColorMap()->ReportWarning(1, "table");
    EXPECT_TRUE(a.fromLog.entries.empty());
    EXPECT_EQ(a.toLog.Messages(), (std::vector<std::string>{"frame", "extension", "table"}));
    a.frame->SetBoundsField(kBoundsWidth, 9);
    EXPECT_EQ(a.to->ScreenWidth(), 10);
    EXPECT_EQ(a.from->ScreenWidth(), 3);
}

// What a frame at (1, 0) of a 3 x 2 screen draws, opaque, on a surface of the screen's size.
std::vector<COLORREF> Drawn(TGIFSubImage& frame) {
    Surface surface(3, 2, RGB(1, 2, 3));
    frame.DrawFrame(surface.Canvas(), RECT{0, 0, 3, 2}, false, false);
    return surface.All();
}

// A frame without colours of its own keeps the colours it showed in the image it leaves: the new
// image's global table serves it only where that holds the same colours at the same indexes, and
// otherwise the frame takes the old global table along as its own. Either way the new image saves
// and loads back with the frame's colours.
TEST(GifFrameAdoption, AMovedFrameShowsTheColoursItShowedBefore) {
    const Rgbs four{Red, Green, Blue, White};
    const struct {
        const char* name;
        Rgbs to;
        Rgbs local;     // the moved frame's own table in its old image
        bool ownTable;  // whether the frame has a table of its own after the move
    } cases[] = {
        {"into an image of two other colours", {Black, White}, {}, true},
        {"into an image of the same colours", four, {}, false},
        {"into an image whose longer table starts with them",
         {Red, Green, Blue, White, Grey, Black, Black, Black},
         {},
         false},
        {"into an image of the same colours in another order", {Green, Red, Blue, White}, {}, true},
        {"a frame with a table of its own", {Black, White}, {Grey, Blue, Red, White}, true},
    };
    const Bytes pixels{2, 1, 3, 0};
    const Bytes ownPixels{1, 0, 0, 1};
    auto imageOf = [](const Rgbs& global, const Rgbs& local, const Bytes& indexes) {
        GifBytes gif;
        ScreenWithColors(gif, 3, 2, global).Gce(0x01, 4, 3);
        if (local.empty()) {
            gif.Frame(1, 0, 2, 2, indexes);
        } else {
            gif.Descriptor(1, 0, 2, 2, 0x81);
            for (COLORREF c : local) gif.Raw({GetRValue(c), GetGValue(c), GetBValue(c)});
            gif.Data(2, EncodeLZW(indexes, 2));
        }
        auto image = LoadGif(gif.Trailer().b);
        image->SetDrawFlags(0);
        return image;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto from = imageOf(four, c.local, pixels);
        auto to = imageOf(c.to, {}, ownPixels);
        TGIFSubImage* frame = from->Frames()->FrameAt(0);
        const Rgbs shown = ShownColors(*frame);
        ASSERT_EQ(shown, Through(c.local.empty() ? four : c.local, pixels));
        const std::vector<COLORREF> drawn = Drawn(*frame);

        ASSERT_EQ(to->AddFrameFrom(frame), 1);
        EXPECT_EQ(frame->LocalColorMap()->Count() > 0, c.ownTable);
        EXPECT_EQ(ShownColors(*frame), shown);
        EXPECT_EQ(Drawn(*frame), drawn);
        EXPECT_EQ(frame->GraphicControlExtension()->TransparentIndex(), 3);
        from.reset();

        TMemoryStream saved;
        ASSERT_NO_THROW(to->SaveToStream(saved));
        TGIFImage again;
        saved.SetPosition(0);
        again.LoadFromStream(saved);
        again.SetDrawFlags(0);
        ASSERT_EQ(again.Frames()->ItemCount(), 2);
        TGIFSubImage* reloaded = again.Frames()->FrameAt(1);
        EXPECT_EQ(ShownColors(*reloaded), shown);
        EXPECT_EQ(Drawn(*reloaded), drawn);
        EXPECT_EQ(ShownColors(*again.Frames()->FrameAt(0)), Through(c.to, ownPixels)) << "the image's own frame";
    }
}

TEST(GifFrameAdoption, BothImagesFreedInEitherOrder) {
    for (const bool oldFirst : {true, false}) {
        SCOPED_TRACE(oldFirst ? "old image freed first" : "new image freed first");
        Adoption a;
        Adopt(a);
        if (oldFirst) {
            a.from.reset();
            ASSERT_EQ(a.to->Frames()->ItemCount(), 2);
            EXPECT_EQ(PixelsOf(*a.to->Frames()->FrameAt(1)), (Bytes{0, 1, 1, 0}));
            EXPECT_EQ(a.to->Frames()->FrameAt(1)->GraphicControlExtension()->TransparentIndex(), 3);
            a.to.reset();
        } else {
            a.to.reset();
            EXPECT_EQ(a.from->Frames()->ItemCount(), 0);
            a.from.reset();
        }
    }
}

TEST(GifFrameAdoption, FramesWithoutAnImageOrOfTheImageItself) {
    // A frame made without an image joins the one it is added to.
    auto image = ImageWithOneFrame({Red, Green}, nullptr);
    auto* loose = new TGIFSubImage(nullptr);
    EXPECT_EQ(image->AddFrameFrom(loose), 1);
    EXPECT_EQ(loose->OwnerImage(), image.get());
    EXPECT_EQ(loose->Extensions()->OwnerImage(), image.get());
    EXPECT_EQ(loose->EffectiveColorMap(), image->GlobalColors());

    // A frame the image holds already is not listed twice.
    int changes = 0;
    image->OnChange = [&](TObject*) { ++changes; };
    TGIFSubImage* first = image->Frames()->FrameAt(0);
    EXPECT_EQ(image->AddFrameFrom(first), 0);
    EXPECT_EQ(image->AddFrameFrom(loose), 1);
    EXPECT_EQ(image->Frames()->ItemCount(), 2);
    EXPECT_EQ(changes, 0) << "nothing changed";
    image.reset();
}

}  // namespace
