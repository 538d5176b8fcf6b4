// The picture class: defaults, clearing, loading, sizes, versions, palette, copying, registration.
#include <gtest/gtest.h>

#include <cstring>

#include "classlib/stringlist.h"
#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"
#include "tests/support/gifbuilder.h"
#include "tests/support/testseam.h"

namespace {

Bytes TwoFrameGif() {
    return GifBytes()
        .Header(20, 10, 4)
        .Frame(0, 0, 20, 10, Bytes(200, 1))
        .Gce(0, 10, 0)
        .Frame(280, 2, 20, 5, Bytes(100, 2))
        .Trailer()
        .b;
}

TEST(GifImage, Defaults) {
    TGIFImage image;
    EXPECT_EQ(image.DrawFlags(), 0x068F);
    EXPECT_EQ(image.DrawFlags(),
              dfThreaded | dfTransparent | dfAnimate | dfLoop | dfClearFirstFrame | dfDither | dfDitherPaletteOnly);
    EXPECT_EQ(image.ReductionMethod(), crWebPalette);
    EXPECT_EQ(image.ReductionBits(), 8);
    EXPECT_EQ(image.DitherMode(), dkNone);
    EXPECT_EQ(image.Compression(), 0);
    EXPECT_EQ(image.PainterPriority(), 3);
    EXPECT_EQ(image.SpeedPercent(), 100);
    EXPECT_EQ(image.CurrentFrameIndex(), -1);
    EXPECT_EQ(image.BackgroundOverride(), 0x1FFFFFFF);
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.RequiredVersion(), VersionNone);
    EXPECT_EQ(FrameDelayUnitMs, 12);
    EXPECT_EQ(DefaultFrameDelay, 10);
    EXPECT_EQ(MinFrameDelay, 3);
    EXPECT_EQ(MaxFrameDelay, 1000);
}

TEST(GifImage, LoadWidensTheScreenToItsFrames) {
    auto image = LoadGif(TwoFrameGif());
    EXPECT_EQ(image->Frames()->ItemCount(), 2);
    EXPECT_EQ(image->ScreenWidth(), 300);
    EXPECT_EQ(image->ScreenHeight(), 10) << "the screen never shrinks";
    EXPECT_EQ(image->Width(), 300);
    EXPECT_FALSE(image->IsEmpty());
}

TEST(GifImage, ClearImageEmptiesEverything) {
    auto image = LoadGif(TwoFrameGif());
    image->Header()->SetAspectRatio(9);
    int changes = 0;
    image->OnChange = [&](TObject*) { ++changes; };
    image->ClearImage();
    EXPECT_EQ(image->Frames()->ItemCount(), 0);
    EXPECT_EQ(image->GlobalColors()->Count(), 0);
    EXPECT_EQ(image->ScreenWidth(), 0);
    EXPECT_EQ(image->ScreenHeight(), 0);
    EXPECT_EQ(image->Header()->AspectRatio(), 9) << "other descriptor fields stay";
    EXPECT_EQ(image->Header()->Descriptor().PackedFields, 0x77) << "re-packed for no colour table";
    EXPECT_EQ(changes, 0);
}

TEST(GifImage, ReloadReplacesTheContent) {
    auto image = LoadGif(TwoFrameGif());
    auto stream = StreamOf(GifBytes().Header(3, 3).Frame(0, 0, 3, 3, Bytes(9, 1)).Trailer().b);
    image->LoadFromStream(*stream);
    EXPECT_EQ(image->Frames()->ItemCount(), 1);
    EXPECT_EQ(image->ScreenWidth(), 3);
}

// A reload reads into buffers the old frames had: what it reads must show nothing of them, for
// frames of the old sizes, larger and smaller ones, and pixels past an early end (the fill value).
TEST(GifImage, ReloadShowsNothingOfTheOldPixels) {
    const Bytes old = GifBytes()
                          .Header(16, 16, 4)
                          .Frame(0, 0, 16, 16, Bytes(256, 3))
                          .Frame(0, 0, 8, 8, Bytes(64, 2))
                          .Frame(0, 0, 4, 4, Bytes(16, 1))
                          .Trailer()
                          .b;
    Bytes ramp(64);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i % 4);
    // Two codes of a 4-colour frame, then the end code: every later pixel is the fill value.
    const Bytes early = PackCodes(WithDecoderWidths({4, 1, 2, 5}, 2));
    // What each frame must hold, written from the stream: its pixels, and after an early end the
    // two decoded pixels followed by the fill (the transparent index, or 0 without one).
    auto earlyEnd = [](size_t size, uint8_t fill) {
        Bytes pixels(size, fill);
        pixels[0] = 1;
        pixels[1] = 2;
        return pixels;
    };
    struct Case {
        const char* name;
        Bytes gif;
        std::vector<Bytes> frames;
    };
    const Case cases[] = {
        {"same sizes, other pixels",
         GifBytes()
             .Header(16, 16, 4)
             .Frame(0, 0, 16, 16, Bytes(256, 0))
             .Frame(0, 0, 8, 8, ramp)
             .Frame(0, 0, 4, 4, Bytes(16, 2))
             .Trailer()
             .b,
         {Bytes(256, 0), ramp, Bytes(16, 2)}},
        {"smaller frames",
         GifBytes().Header(16, 16, 4).Frame(0, 0, 2, 3, Bytes(6, 0)).Frame(0, 0, 5, 5, Bytes(25, 1)).Trailer().b,
         {Bytes(6, 0), Bytes(25, 1)}},
        {"larger frames",
         GifBytes()
             .Header(32, 32, 4)
             .Frame(0, 0, 32, 32, Bytes(1024, 1))
             .Frame(0, 0, 16, 17, Bytes(272, 0))
             .Trailer()
             .b,
         {Bytes(1024, 1), Bytes(272, 0)}},
        {"early end", GifBytes().Header(16, 16, 4).Descriptor(0, 0, 16, 16).Data(2, early).Trailer().b,
         {earlyEnd(256, 0)}},
        {"early end with a transparent fill",
         GifBytes().Header(16, 16, 4).Gce(1, 0, 2).Descriptor(0, 0, 8, 8).Data(2, early).Trailer().b,
         {earlyEnd(64, 2)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto reloaded = LoadGif(old);
        auto stream = StreamOf(c.gif);
        reloaded->LoadFromStream(*stream);
        ASSERT_EQ(reloaded->Frames()->ItemCount(), static_cast<int>(c.frames.size()));
        for (int i = 0; i < reloaded->Frames()->ItemCount(); ++i) {
            const TGIFSubImage* got = reloaded->Frames()->FrameAt(i);
            EXPECT_EQ(Bytes(got->Pixels(), got->Pixels() + got->PixelsSize()), c.frames[i]) << "frame " << i;
        }
    }
}

// A reload that fails part way (its second descriptor is cut short) leaves an image that loads again.
TEST(GifImage, ReloadThatFailsLeavesAnImageThatLoads) {
    const Bytes good =
        GifBytes().Header(8, 8, 4).Frame(0, 0, 8, 8, Bytes(64, 1)).Frame(0, 0, 4, 4, Bytes(16, 2)).Trailer().b;
    const Bytes broken = GifBytes().Header(8, 8, 4).Frame(0, 0, 8, 8, Bytes(64, 3)).Raw({',', 0, 0}).b;
    auto image = LoadGif(good);
    auto brokenStream = StreamOf(broken);
    EXPECT_FALSE(GIFErrorOf([&] { image->LoadFromStream(*brokenStream); }).empty());
    auto goodStream = StreamOf(good);
    image->LoadFromStream(*goodStream);
    ASSERT_EQ(image->Frames()->ItemCount(), 2);
    const TGIFSubImage* second = image->Frames()->FrameAt(1);
    EXPECT_EQ(Bytes(second->Pixels(), second->Pixels() + second->PixelsSize()), Bytes(16, 2));
}

TEST(GifImage, VersionsAndDepths) {
    struct Case {
        std::vector<bool> extensions;
        GIFVersion version;
    };
    for (const Case& c : {Case{{false, true, false}, Version89a}, Case{{false}, Version87a}, Case{{}, VersionNone}}) {
        TGIFImage image;
        for (bool withExtension : c.extensions) {
            auto* frame = new TGIFSubImage(&image);
            image.Frames()->Append(frame);
            if (withExtension) frame->Extensions()->Append(new TGIFCommentExtension(frame));
        }
        EXPECT_EQ(image.RequiredVersion(), c.version);
    }
    auto image = LoadGif(GifBytes()
                             .Header(2, 2, 4)
                             .Descriptor(0, 0, 2, 2, 0x84)
                             .Raw(Bytes(3 * 32, 0))
                             .Data(2, EncodeLZW({0, 1, 2, 3}, 2))
                             .Trailer()
                             .b);
    EXPECT_EQ(image->BitDepth(), 5);
    EXPECT_EQ(image->ColorDepth(), 4);
    EXPECT_EQ(image->Header()->BitDepth(), 2);
}

TEST(GifImage, SetScreenSizeChecksFrames) {
    auto image = LoadGif(TwoFrameGif());
    int changes = 0;
    image->OnChange = [&](TObject*) { ++changes; };
    EXPECT_EQ(GIFErrorOf([&] { image->SetScreenWidth(299); }), sWidthTooSmall);
    EXPECT_EQ(GIFErrorOf([&] { image->SetScreenHeight(6); }), sHeightTooSmall);
    image->SetScreenWidth(300);
    EXPECT_EQ(changes, 0) << "same width: no change";
    image->SetScreenWidth(320);
    image->SetHeight(12);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(image->ScreenWidth(), 320);
    EXPECT_EQ(image->Height(), 12);
}

// The logical screen holds 16-bit sizes: a value it cannot hold is refused whole, never cut.
TEST(GifImage, ScreenSizesOutsideSixteenBitsAreRefused) {
    const struct {
        const char* name;
        bool width;
        int value;
    } cases[] = {
        {"width 65536", true, 65536},   {"width 65636", true, 65636},   {"width 131372", true, 131372},
        {"width -1", true, -1},         {"width -65236", true, -65236}, {"height 65536", false, 65536},
        {"height 65546", false, 65546}, {"height -1", false, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool withFrames : {true, false}) {
            auto image = LoadGif(TwoFrameGif());
            if (!withFrames) image->Frames()->RemoveAll();
            TBitmap* cached = withFrames ? image->CurrentBitmap() : nullptr;
            int changes = 0;
            image->OnChange = [&](TObject*) { ++changes; };
            EXPECT_EQ(GIFErrorOf([&] { c.width ? image->SetScreenWidth(c.value) : image->SetScreenHeight(c.value); }),
                      sInvalidImageDimensions);
            EXPECT_EQ(image->ScreenWidth(), 300);
            EXPECT_EQ(image->ScreenHeight(), 10);
            EXPECT_EQ(changes, 0);
            EXPECT_EQ(image->CachedBitmap(), cached);
        }
    }
    auto image = LoadGif(TwoFrameGif());
    image->SetScreenWidth(65535);
    image->SetScreenHeight(65535);
    EXPECT_EQ(image->ScreenWidth(), 65535);
    EXPECT_EQ(image->ScreenHeight(), 65535);
}

// A frame of a file may reach past the largest screen; the screen then stops at 65535 and the
// image says so, instead of keeping the low 16 bits of the edge.
TEST(GifImage, FitStopsAtTheLargestScreen) {
    const struct {
        int left, top, width, height, screenWidth, screenHeight;
        size_t warnings;
    } cases[] = {
        {65500, 0, 100, 2, 65535, 20, 1},
        {0, 65530, 4, 10, 300, 65535, 1},
        {65500, 65530, 100, 10, 65535, 65535, 1},
        {65435, 65525, 100, 10, 65535, 65535, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.left << "," << c.top << " " << c.width << "x" << c.height);
        Bytes gif = GifBytes()
                        .Header(300, 20)
                        .Frame(c.left, c.top, c.width, c.height, Bytes(c.width * c.height, 1))
                        .Trailer()
                        .b;
        WarningLog log;
        auto image = LoadGif(gif, &log);
        EXPECT_EQ(image->ScreenWidth(), c.screenWidth);
        EXPECT_EQ(image->ScreenHeight(), c.screenHeight);
        EXPECT_EQ(log.Messages(), std::vector<std::string>(c.warnings, sScreenSizeExceeded));
        EXPECT_EQ(image->Frames()->FrameAt(0)->Left(), c.left) << "the frame stays as read";
        EXPECT_EQ(image->Frames()->FrameAt(0)->Width(), c.width);
    }
}

TEST(GifImage, WarningsReachTheHandlerWithSeverityOne) {
    // One warning from each kind of sender: list, frame, extension, colour table, trailer.
    Bytes gif = GifBytes().Header(4, 4, 2).Raw({'!', 0xF9, 4, 0}).b;
    WarningLog log;
    auto image = LoadGif(gif, &log);
    image->GlobalColors()->ColorAt(7);
    auto again = LoadGif(GifBytes().Header(1, 1).Raw({0x2D}).b, &log);
    EXPECT_EQ(log.Messages(),
              (std::vector<std::string>{sPrematureEndOfData, sInvalidColorIndex, sUnknownBlockType, sInvalidTrailer}));
    for (auto& e : log.entries) EXPECT_EQ(std::get<1>(e), 1);
    EXPECT_EQ(std::get<0>(log.entries[1]), image->GlobalColors());
    TGIFImage quiet;
    quiet.GlobalColors()->AppendColor(0x42);
    EXPECT_EQ(quiet.GlobalColors()->ColorAt(5), 0x42) << "without a handler the warning is dropped";
}

TEST(GifImage, PaletteHandle) {
    auto image = LoadGif(TwoFrameGif());
    image->SetDrawFlags(0);
    HPALETTE palette = image->PaletteHandle();
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette, TGIFTestSeam::PaletteCache(*image));
    EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 4u) << "the global table";
    EXPECT_EQ(image->Palette(), palette) << "cached";
    image->GlobalColors()->AppendColor(0x123456);
    EXPECT_EQ(TGIFTestSeam::PaletteCache(*image), nullptr) << "a change of the table drops the palette";

    TGIFImage none;
    none.SetDrawFlags(0);
    EXPECT_EQ(none.PaletteHandle(), nullptr);
    none.Frames()->Append(new TGIFSubImage(&none));
    EXPECT_EQ(GIFErrorOf([&] { none.PaletteHandle(); }), sNoColorTable);
    EXPECT_FALSE(TGIFTestSeam::InPaletteQuery(none));
    none.SetDrawFlags(dfDither);
    HPALETTE web = none.PaletteHandle();
    EXPECT_EQ(GetPaletteEntries(web, 0, 0, nullptr), 216u);
}

TEST(GifImage, NeedsDither) {
    const bool saved = IsPaletteDisplay;
    struct Case {
        uint16_t flags;
        bool paletteDisplay, needs;
    };
    for (Case c : {Case{0x068F, false, false}, Case{0x068F, true, true}, Case{dfDither, false, true},
                   Case{dfDitherPaletteOnly, true, false}}) {
        IsPaletteDisplay = c.paletteDisplay;
        TGIFImage image;
        image.SetDrawFlags(c.flags);
        EXPECT_EQ(image.NeedsDither(), c.needs) << std::hex << c.flags << " " << c.paletteDisplay;
    }
    IsPaletteDisplay = saved;
}

TEST(GifImage, AddFrameFrom) {
    TGIFImage image;
    int changes = 0;
    image.OnChange = [&](TObject*) { ++changes; };
    auto* frame = new TGIFSubImage(&image);
    EXPECT_EQ(image.AddFrameFrom(frame), 0);
    EXPECT_EQ(image.Frames()->FrameAt(0), frame) << "the very object";
    EXPECT_EQ(changes, 1);
    TStringList other;
    EXPECT_EQ(GIFErrorOf([&] { image.AddFrameFrom(&other); }), sUnsupportedObject);
    EXPECT_EQ(image.Frames()->ItemCount(), 1);
}

TEST(GifImage, CopyFromSelfAndNothing) {
    auto image = LoadGif(TwoFrameGif());
    image->CopyFrom(image.get());
    EXPECT_EQ(image->Frames()->ItemCount(), 2);
    image->CopyFrom(nullptr);
    EXPECT_TRUE(image->IsEmpty());
}

TEST(GifImage, CopyFromAFramelessImageTakesHeaderAndSettings) {
    TGIFImage source;
    source.Header()->SetLogicalWidth(220);
    source.Header()->SetLogicalHeight(19);
    source.GlobalColors()->AppendColor(0xABCDEF);
    source.SetDrawFlags(dfLoop);
    source.SetPainterPriority(5);
    source.SetSpeedPercent(300);
    source.SetReductionBits(3);
    source.SetCurrentFrameIndex(4);
    std::vector<int> percents;
    source.OnProgress = [&](TObject*, TProgressStage, uint8_t percent, bool, const RECT&, const std::string& m) {
        EXPECT_EQ(m, sProgressCopying);
        percents.push_back(percent);
    };
    source.OnWarningMessage = [](TObject*, uint8_t, const std::string&) {};
    TGIFImage copy;
    copy.CopyFrom(&source);
    EXPECT_EQ(copy.ScreenWidth(), 220);
    EXPECT_EQ(copy.GlobalColors()->ColorAt(0), 0xABCDEF);
    EXPECT_EQ(copy.DrawFlags(), dfLoop);
    EXPECT_EQ(copy.PainterPriority(), 5);
    EXPECT_EQ(copy.CurrentFrameIndex(), 4);
    EXPECT_EQ(copy.SpeedPercent(), 100) << "not copied";
    EXPECT_EQ(copy.ReductionBits(), 8) << "not copied";
    EXPECT_FALSE(copy.OnProgress);
    EXPECT_FALSE(copy.OnWarningMessage);
    EXPECT_EQ(percents, (std::vector<int>{0, 100}));
}

TEST(GifImage, LoadFromNamedResource) {
    TGIFImage image;
    image.LoadFromNamedResource(GetModuleHandleA(nullptr), "GIF_TEST_ANIMATION");
    EXPECT_EQ(image.Frames()->ItemCount(), 5);
    EXPECT_EQ(image.ScreenWidth(), 40);
    EXPECT_THROW(image.LoadFromNamedResource(GetModuleHandleA(nullptr), "NO_SUCH_GIF"), EResNotFound);
}

TEST(GifImage, UnitExitWithdrawsTheRegistration) {
    ExtensionRegistry();
    GIFImageFinalization();
    EXPECT_FALSE(TPicture::FindFileFormat("gif"));
    EXPECT_FALSE(TPicture::SupportsClipboardFormat(GIFClipboardFormat));
    GIFImageInitialization();
    EXPECT_TRUE(TPicture::FindFileFormat("gif"));
    EXPECT_EQ(ExtensionRegistry()->FindByLabel(0xFE), &TGIFCommentExtension::ClassInfo) << "made again on demand";
}

TEST(GifImage, RegisteredWithThePictureHolder) {
    TGraphicFactory factory = TPicture::FindFileFormat("gif");
    ASSERT_TRUE(factory);
    EXPECT_NE(dynamic_cast<TGIFImage*>(factory().get()), nullptr);
    char name[64] = {};
    ASSERT_NE(GIFClipboardFormat, 0);
    GetClipboardFormatNameA(GIFClipboardFormat, name, sizeof name);
    EXPECT_STREQ(name, sGIFImage);
    EXPECT_TRUE(TPicture::SupportsClipboardFormat(GIFClipboardFormat));
}

TEST(GifImage, PictureHolderLoadsAGifFile) {
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "gif", 0, path);
    std::string file = std::string(path) + ".gif";
    {
        Bytes gif = TwoFrameGif();
        TFileStream out(file, fmCreate);
        out.WriteBuffer(gif.data(), static_cast<int32_t>(gif.size()));
    }
    TPicture picture;
    picture.LoadFromFile(file);
    EXPECT_EQ(picture.Width(), 300);
    EXPECT_NE(dynamic_cast<TGIFImage*>(picture.Graphic()), nullptr);
    DeleteFileA(file.c_str());
    DeleteFileA(path);
}

TEST(GifImage, ReadClipboardGifData) {
    Bytes gif = TwoFrameGif();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, gif.size());
    std::memcpy(GlobalLock(block), gif.data(), gif.size());
    GlobalUnlock(block);
    TGIFImage image;
    image.ReadClipboard(GIFClipboardFormat, block, nullptr);
    EXPECT_EQ(image.Frames()->ItemCount(), 2);
    EXPECT_EQ(GIFErrorOf([&] { image.ReadClipboard(CF_TEXT, block, nullptr); }), sUnsupportedClipboardFormat);
    GlobalFree(block);
    uint16_t format = 77;
    HANDLE data = nullptr;
    HPALETTE palette = nullptr;
    TGIFImage empty;
    empty.WriteClipboard(format, data, palette);
    EXPECT_EQ(format, 77) << "an empty image leaves the out parameters";
}

// Copy as a user's program would: the bitmap through the out parameters, the GIF stream on the
// clipboard; pasting the GIF data gives the same frames back.
TEST(GifImage, WriteClipboardPutsTheStreamAndHandsOutTheBitmap) {
    Bytes gif = TwoFrameGif();
    TMemoryStream source;
    source.WriteBuffer(gif.data(), int32_t(gif.size()));
    source.SetPosition(0);
    TGIFImage image;
    image.LoadFromStream(source);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    uint16_t format = 0;
    HANDLE data = nullptr;
    HPALETTE palette = nullptr;
    image.WriteClipboard(format, data, palette);
    EXPECT_EQ(format, CF_BITMAP);
    EXPECT_NE(data, nullptr);
    HANDLE stored = GetClipboardData(GIFClipboardFormat);
    ASSERT_NE(stored, nullptr);
    TGIFImage pasted;
    pasted.ReadClipboard(GIFClipboardFormat, stored, nullptr);
    EmptyClipboard();
    CloseClipboard();
    EXPECT_EQ(pasted.Frames()->ItemCount(), image.Frames()->ItemCount());
    EXPECT_EQ(pasted.ScreenWidth(), image.ScreenWidth());
    TMemoryStream a, b;
    image.SaveToStream(a);
    pasted.SaveToStream(b);
    ASSERT_EQ(a.Size(), b.Size());
    EXPECT_EQ(std::memcmp(a.Memory(), b.Memory(), size_t(a.Size())), 0);
    if (data) DeleteObject(data);
    if (palette) DeleteObject(palette);
}

}  // namespace
