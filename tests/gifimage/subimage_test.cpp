// Frames: descriptor, local table, extension reading, bounds and the screen, pixel access, version.
#include <gtest/gtest.h>

#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"
#include "tests/support/gifbuilder.h"
#include "tests/support/testseam.h"

namespace {

TEST(GifFrame, ExtensionsBeforeTrailerMakeAnEmptyFrame) {
    Bytes gif = GifBytes().Header(2, 2).Gce(0, 7, 0).Raw({'!', 0xFE, 1, 'x', 0}).Trailer().b;
    WarningLog log;
    auto image = LoadGif(gif, &log);
    ASSERT_EQ(image->Frames()->ItemCount(), 1);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    EXPECT_EQ(frame->Extensions()->ItemCount(), 2);
    EXPECT_TRUE(frame->IsEmpty());
    EXPECT_EQ(frame->Pixels(), nullptr);
    EXPECT_TRUE(log.entries.empty());
}

TEST(GifFrame, ZeroSizeDescriptorTakesTheScreen) {
    Bytes gif = GifBytes().Header(220, 19).Descriptor(0, 0, 0, 5).Data(2, EncodeLZW(Bytes(220 * 19, 1), 2)).Trailer().b;
    WarningLog log;
    auto image = LoadGif(gif, &log);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    EXPECT_EQ(frame->Width(), 220);
    EXPECT_EQ(frame->Height(), 19);
    EXPECT_EQ(frame->PixelsSize(), 220 * 19);
    EXPECT_EQ(log.Messages(), std::vector<std::string>{sScreenSizeExceeded});
}

TEST(GifFrame, LocalTableSizes) {
    for (auto [field, entries] : {std::pair{0, 2}, {3, 16}, {7, 256}}) {
        GifBytes gif = GifBytes().Header(1, 1, 0).Descriptor(0, 0, 1, 1, 0x80 | field);
        for (int i = 0; i < entries; ++i) gif.Raw({i, 0, 0});
        gif.Data(2, EncodeLZW({1}, 2)).Trailer();
        auto image = LoadGif(gif.b);
        TGIFSubImage* frame = image->Frames()->FrameAt(0);
        EXPECT_EQ(frame->LocalColorMap()->Count(), entries);
        EXPECT_EQ(frame->EffectiveColorMap(), frame->LocalColorMap());
        EXPECT_EQ(frame->BitDepth(), BitsForColors(entries));
    }
}

TEST(GifFrame, PrepareForSavePackedByte) {
    struct Case {
        int packed;
        int local;  // entries of the local table
        int saved;
    };
    for (Case c : {Case{0x40, 0, 0x40}, Case{0x5F, 0, 0x58}, Case{0xC7, 256, 0x87}, Case{0x80, 3, 0x81}}) {
        TGIFImage image;
        TGIFSubImage frame(&image);
        TGIFTestSeam::Descriptor(frame).PackedFields = static_cast<uint8_t>(c.packed);
        for (int i = 0; i < c.local; ++i) frame.LocalColorMap()->AppendColor(i);
        frame.PrepareForSave();
        EXPECT_EQ(frame.Descriptor().PackedFields, c.saved) << std::hex << c.packed;
    }
}

TEST(GifFrame, PixelAccessChecks) {
    TGIFImage image;
    TGIFSubImage frame(&image);
    auto expectInvalid = [](const std::function<void()>& access) {
        EXPECT_EQ(GIFErrorOf(access), sInvalidPixelCoordinates);
    };
    expectInvalid([&] { frame.PixelAt(0, 0); });
    frame.ApplyBounds(0, 0, 4, 3);
    frame.SetPixelAt(3, 2, 9);
    EXPECT_EQ(frame.RowAt(2)[3], 9);
    expectInvalid([&] { frame.PixelAt(4, 0); });
    expectInvalid([&] { frame.PixelAt(0, 3); });
    expectInvalid([&] { frame.RowAt(-1); });
    TGIFSubImage flat(&image);
    TGIFTestSeam::Descriptor(flat).Height = 3;
    EXPECT_EQ(GIFErrorOf([&] { flat.RowAt(0); }), sImageEmpty);
}

TEST(GifFrame, BoundsChangesReallocateOnlyOnResize) {
    TGIFImage image;
    TGIFSubImage frame(&image);
    frame.ApplyBounds(0, 0, 10, 10);
    frame.SetPixelAt(1, 1, 7);
    frame.SetBoundsField(1, 30);
    EXPECT_EQ(frame.PixelAt(1, 1), 7) << "moving keeps the pixels";
    frame.SetBoundsField(3, 12);
    EXPECT_EQ(frame.PixelsSize(), 120);
    EXPECT_EQ(frame.PixelAt(1, 1), 0);
    EXPECT_EQ(frame.BoundsField(9), 0);
    RECT r = frame.FrameRect();
    EXPECT_EQ(r.left, 30);
    EXPECT_EQ(r.right, 42);
    EXPECT_EQ(r.bottom, 10);
}

TEST(GifFrame, OutgrowingTheScreenWidensIt) {
    TGIFImage image;
    WarningLog log;
    log.Attach(image);
    auto* frame = new TGIFSubImage(&image);
    image.Frames()->Append(frame);
    frame->ApplyBounds(0, 0, 220, 19);
    EXPECT_TRUE(log.entries.empty()) << "a 0 by 0 screen grows silently";
    EXPECT_EQ(image.ScreenWidth(), 220);
    frame->ApplyBounds(300, 0, 40, 19);
    EXPECT_EQ(image.ScreenWidth(), 340);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{sWidthTooSmall, sScreenSizeExceeded}));
}

// Bounds that neither the descriptor nor a logical screen can hold are refused before
// anything is written: the frame, its pixels and the screen stay as they were.
TEST(GifFrame, BoundsBeyondSixteenBitsAreRefused) {
    const struct {
        int left, top, width, height;
    } refused[] = {
        {65500, 0, 100, 1}, {0, 65530, 1, 10}, {0, 0, 65536, 1}, {0, 0, 1, 65536}, {70000, 0, 1, 1},
        {-1, 0, 4, 5},      {0, -3, 4, 5},     {0, 0, -4, 5},    {0, 0, 4, -5},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(testing::Message() << c.left << "," << c.top << " " << c.width << "x" << c.height);
        TGIFImage image;
        WarningLog log;
        log.Attach(image);
        auto* frame = new TGIFSubImage(&image);
        image.Frames()->Append(frame);
        frame->ApplyBounds(2, 3, 4, 5);
        frame->SetPixelAt(3, 4, 6);
        EXPECT_EQ(GIFErrorOf([&] { frame->ApplyBounds(c.left, c.top, c.width, c.height); }), sInvalidImageDimensions);
        EXPECT_EQ(frame->Left(), 2);
        EXPECT_EQ(frame->Top(), 3);
        EXPECT_EQ(frame->Width(), 4);
        EXPECT_EQ(frame->Height(), 5);
        EXPECT_EQ(frame->PixelAt(3, 4), 6);
        EXPECT_EQ(image.ScreenWidth(), 6);
        EXPECT_EQ(image.ScreenHeight(), 8);
        EXPECT_TRUE(log.entries.empty());
    }
    TGIFImage image;
    TGIFSubImage frame(&image);
    frame.ApplyBounds(65435, 65525, 100, 10);
    EXPECT_EQ(image.ScreenWidth(), 65535) << "an edge at 65535 fits";
    EXPECT_EQ(image.ScreenHeight(), 65535);
}

TEST(GifFrame, ALoadedFrameReachingPastTheLargestScreenCanBeEmptied) {
    Bytes gif = GifBytes().Header(300, 20).Frame(65500, 0, 100, 2, Bytes(200, 1)).Trailer().b;
    auto image = LoadGif(gif);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    frame->ResetFrame();
    EXPECT_EQ(frame->Left(), 65500);
    EXPECT_EQ(frame->Width(), 0);
    EXPECT_EQ(frame->Height(), 0);
    EXPECT_EQ(image->ScreenWidth(), 65535);
}

TEST(GifFrame, ResetFrameOnAFrameBeyondTheScreen) {
    // The height goes to 0 first while the width is still 40.
    TGIFImage image;
    WarningLog log;
    log.Attach(image);
    image.Header()->SetLogicalWidth(220);
    image.Header()->SetLogicalHeight(19);
    TGIFSubImage frame(&image);
    TGIFTestSeam::Descriptor(frame).Left = 300;
    TGIFTestSeam::Descriptor(frame).Width = 40;
    TGIFTestSeam::Descriptor(frame).Height = 5;
    frame.ResetFrame();
    EXPECT_EQ(image.ScreenWidth(), 340);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{sWidthTooSmall, sScreenSizeExceeded}));
    EXPECT_EQ(frame.Left(), 300);
    EXPECT_EQ(frame.Width(), 0);
}

TEST(GifFrame, VersionAndDepth) {
    TGIFImage image;
    image.GlobalColors()->AppendColor(1);
    image.GlobalColors()->AppendColor(2);
    TGIFSubImage frame(&image);
    EXPECT_EQ(frame.ColorDepth(), -1) << "the global table is not consulted";
    EXPECT_EQ(frame.BitDepth(), 0);
    EXPECT_EQ(frame.EffectiveColorMap(), image.GlobalColors());
    for (int i = 0; i < 3; ++i) frame.LocalColorMap()->AppendColor(i);
    EXPECT_EQ(frame.RequiredVersion(), Version87a);
    frame.Extensions()->Append(new TGIFCommentExtension(&frame));
    EXPECT_EQ(frame.RequiredVersion(), Version89a);
}

TEST(GifFrame, StrayByteBeforeDescriptor) {
    // A stray byte ends the extension list with a warning; the descriptor is read from it.
    Bytes gif = GifBytes()
                    .Header(1, 1)
                    .Gce(0, 0, 0)
                    .Raw({0x2D})
                    .Word(0)
                    .Word(0)
                    .Word(1)
                    .Word(1)
                    .Raw({0})
                    .Data(2, EncodeLZW({1}, 2))
                    .Trailer()
                    .b;
    WarningLog log;
    auto image = LoadGif(gif, &log);
    ASSERT_EQ(image->Frames()->ItemCount(), 1);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    EXPECT_EQ(frame->Descriptor().Separator, 0x2D);
    EXPECT_EQ(frame->PixelAt(0, 0), 1);
    EXPECT_EQ(log.Messages(), std::vector<std::string>{sInvalidIntroducer});
    EXPECT_EQ(std::get<0>(log.entries[0]), frame->Extensions());
}

TEST(GifFrame, DescriptorCutShortFails) {
    Bytes gif = GifBytes().Header(1, 1).Raw({',', 0, 0, 0}).b;
    TGIFImage image;
    auto stream = StreamOf(gif);
    EXPECT_EQ(GIFErrorOf([&] { image.LoadFromStream(*stream); }), sPrematureEndOfData);
    EXPECT_EQ(image.Frames()->ItemCount(), 0) << "the failed frame is destroyed";
}

TEST(GifFrame, DestroyingAFrameLeavesItsList) {
    TGIFImage image;
    auto* a = new TGIFSubImage(&image);
    auto* b = new TGIFSubImage(&image);
    image.Frames()->Append(a);
    image.Frames()->Append(b);
    delete a;
    ASSERT_EQ(image.Frames()->ItemCount(), 1);
    EXPECT_EQ(image.Frames()->FrameAt(0), b);
}

TEST(GifFrame, OversizedDescriptorIsRefused) {
    Bytes gif = GifBytes().Header(1, 1).Descriptor(0, 0, 65535, 65535).Data(2, EncodeLZW({1}, 2)).Trailer().b;
    int64_t position = -1;
    EXPECT_EQ(LoadError(gif, &position), sImageTooLarge);
    EXPECT_EQ(position, 0);
}

TEST(GifFrame, FreeingFramesThatOutgrowTheScreen) {
    // A load that fails before the screen is fitted leaves such frames; freeing them must not raise.
    Bytes gif =
        GifBytes().Header(4, 4).Frame(200, 0, 8, 2, Bytes(16, 1)).Frame(300, 0, 8, 2, Bytes(16, 1)).Raw({'!', 0x02}).b;
    EXPECT_EQ(LoadError(gif), sUnknownExtension);
}

}  // namespace
