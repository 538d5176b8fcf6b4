// The stream model: signature, header, block loop, trailer, the item list.
#include <gtest/gtest.h>

#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/giferror.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"
#include "tests/support/gifbuilder.h"

namespace {

Bytes OnePixelFrame() { return GifBytes().Frame(0, 0, 1, 1, {1}).b; }

Bytes SimpleGif(const char* signature = "GIF89a") {
    return GifBytes().Header(4, 3, 2, signature).Frame(0, 0, 4, 3, Bytes(12, 1)).Trailer().b;
}

TEST(GifSignature, AcceptedFormsLoad) {
    for (const char* signature : {"GIF89a", "GIF87a", "gif89a", "GiF00x"}) {
        SCOPED_TRACE(signature);
        auto image = LoadGif(SimpleGif(signature));
        EXPECT_EQ(image->Frames()->ItemCount(), 1);
        EXPECT_EQ(image->ScreenWidth(), 4);
    }
}

TEST(GifSignature, FoundAtOffsetZeroOrFourOnly) {
    struct Case {
        int offset;
        bool loads;
    };
    for (Case c : {Case{0, true}, Case{4, true}, Case{1, false}, Case{2, false}, Case{3, false}, Case{5, false},
                   Case{8, false}}) {
        SCOPED_TRACE(c.offset);
        Bytes bytes(c.offset, 'x');
        Bytes gif = SimpleGif();
        bytes.insert(bytes.end(), gif.begin(), gif.end());
        int64_t position = -1;
        EXPECT_EQ(LoadError(bytes, &position), c.loads ? "" : sInvalidSignature);
        if (!c.loads) {
            EXPECT_EQ(position, 0);
        }
    }
}

TEST(GifSignature, ShortStreamIsPrematureEnd) {
    for (size_t n : {0, 3, 5, 12}) {
        SCOPED_TRACE(n);
        Bytes bytes = SimpleGif();
        bytes.resize(n);
        TGIFImage image;
        auto stream = StreamOf(bytes);
        EXPECT_THROW(image.LoadFromStream(*stream), GIFException);
    }
}

TEST(GifHeader, ReadsScreenAndGlobalTable) {
    Bytes bytes = GifBytes().Text("GIF89a").Word(220).Word(19).Raw({0xF2, 3, 49}).b;
    for (int i = 0; i < 8; ++i) bytes.insert(bytes.end(), {uint8_t(i), uint8_t(2 * i), uint8_t(3 * i)});
    bytes.push_back(';');
    auto image = LoadGif(bytes);
    const TLogicalScreenDescriptor& d = image->Header()->Descriptor();
    EXPECT_EQ(d.LogicalWidth, 220);
    EXPECT_EQ(d.LogicalHeight, 19);
    EXPECT_EQ(d.PackedFields, 0xF2);
    EXPECT_EQ(d.BackgroundIndex, 3);
    EXPECT_EQ(d.AspectRatio, 49);
    EXPECT_EQ(image->GlobalColors()->Count(), 8);
    EXPECT_EQ(image->BackgroundColor(), 0x090603);
    EXPECT_FALSE(image->GlobalColors()->SortFlag()) << "the stream's sort flag stays in the packed byte";
    EXPECT_EQ(image->Header()->RequiredVersion(), Version89a) << "aspect ratio set";
}

TEST(GifHeader, GlobalTableCutShortFails) {
    Bytes bytes = GifBytes().Text("GIF89a").Word(2).Word(2).Raw({0x87, 0, 0}).b;
    bytes.resize(bytes.size() + 3 * 255);
    TGIFImage image;
    auto stream = StreamOf(bytes);
    EXPECT_THROW(image.LoadFromStream(*stream), GIFException);
}

TEST(GifBlockLoop, ZeroBytesBetweenBlocksAreSkipped) {
    Bytes bytes = GifBytes()
                      .Header(1, 1)
                      .Raw({0, 0})
                      .Raw(OnePixelFrame())
                      .Raw({0, 0, 0})
                      .Raw(OnePixelFrame())
                      .Raw({0})
                      .Trailer()
                      .b;
    WarningLog log;
    auto image = LoadGif(bytes, &log);
    EXPECT_EQ(image->Frames()->ItemCount(), 2);
    EXPECT_TRUE(log.entries.empty());
}

TEST(GifBlockLoop, StreamEndingWithoutTrailerLoadsSilently) {
    Bytes bytes = GifBytes().Header(1, 1).Raw(OnePixelFrame()).b;
    WarningLog log;
    auto image = LoadGif(bytes, &log);
    EXPECT_EQ(image->Frames()->ItemCount(), 1);
    EXPECT_TRUE(log.entries.empty());
}

TEST(GifBlockLoop, UnknownBlockTypeStopsTheLoop) {
    Bytes bytes = GifBytes().Header(1, 1).Raw(OnePixelFrame()).Raw({0x99}).Raw(OnePixelFrame()).Trailer().b;
    WarningLog log;
    auto image = LoadGif(bytes, &log);
    EXPECT_EQ(image->Frames()->ItemCount(), 1) << "nothing after the stray byte is read";
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{sUnknownBlockType, sInvalidTrailer}));
    EXPECT_EQ(std::get<0>(log.entries[0]), image->Frames());
    for (auto& e : log.entries) EXPECT_EQ(std::get<1>(e), 1);
}

TEST(GifBlockLoop, StreamIsLeftOneByteBeforeStrayByte) {
    Bytes bytes = GifBytes().Header(1, 1).Raw(OnePixelFrame()).Raw({0x99, 1, 2}).b;
    TGIFImage image;
    auto stream = StreamOf(bytes);
    image.Header()->LoadFromStream(*stream);
    image.Frames()->LoadItems(*stream, &image);
    EXPECT_EQ(stream->Position(), static_cast<int64_t>(bytes.size()) - 4);
}

TEST(GifBlockLoop, TrailerByteWarnings) {
    // A wrong last byte is a stray block byte first; the trailer then reads the byte before it.
    struct Case {
        Bytes tail;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {{{';'}, {}}, {{}, {}}, {{0x78}, {sUnknownBlockType, sInvalidTrailer}}};
    for (const Case& c : cases) {
        Bytes bytes = GifBytes().Header(1, 1).Raw(OnePixelFrame()).Raw(c.tail).b;
        WarningLog log;
        LoadGif(bytes, &log);
        EXPECT_EQ(log.Messages(), c.warnings);
    }
}

TEST(GifTrailer, WarnsOnlyForAnotherByte) {
    TGIFImage image;
    WarningLog log;
    log.Attach(image);
    TGIFTrailer trailer(&image);
    for (const Bytes& bytes : {Bytes{';'}, Bytes{}, Bytes{0x78}}) {
        auto stream = StreamOf(bytes);
        trailer.LoadFromStream(*stream);
    }
    EXPECT_EQ(log.Messages(), std::vector<std::string>{sInvalidTrailer});
    EXPECT_EQ(std::get<0>(log.entries[0]), &trailer);
}

TEST(GifBlockLoop, FailingFrameKeepsEarlierFramesAndRewinds) {
    Bytes bytes = GifBytes().Header(1, 1).Raw(OnePixelFrame()).Raw({'!', 0x02, 0}).Trailer().b;
    TGIFImage image;
    auto stream = StreamOf(bytes);
    EXPECT_EQ(GIFErrorOf([&] { image.LoadFromStream(*stream); }), sUnknownExtension);
    EXPECT_EQ(stream->Position(), 0);
    EXPECT_EQ(image.Frames()->ItemCount(), 1);
}

TEST(GifBlockLoop, ProgressFollowsTheStreamPosition) {
    // 1000 bytes with the first frame ending at 500: the first report says 50.
    const Bytes frame = OnePixelFrame();
    GifBytes gif = GifBytes().Header(1, 1);
    gif.Raw(Bytes(500 - gif.b.size() - frame.size(), 0)).Raw(frame);
    ASSERT_EQ(gif.b.size(), 500u);
    gif.Raw(Bytes(499 - frame.size(), 0)).Raw(frame).Trailer();
    ASSERT_EQ(gif.b.size(), 1000u);

    struct Report {
        TObject* sender;
        TProgressStage stage;
        int percent;
        bool redraw;
        std::string message;
    };
    std::vector<Report> reports;
    TGIFImage image;
    image.OnProgress = [&](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const RECT& rect,
                           const std::string& message) {
        EXPECT_EQ(rect.left | rect.top | rect.right | rect.bottom, 0);
        reports.push_back({sender, stage, percent, redraw, message});
    };
    auto stream = StreamOf(gif.b);
    image.LoadFromStream(*stream);
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].stage, psStarting);
    EXPECT_EQ(reports[0].percent, 0);
    EXPECT_EQ(reports[0].sender, &image);
    EXPECT_EQ(reports[1].stage, psRunning);
    EXPECT_EQ(reports[1].percent, 50);
    EXPECT_EQ(reports[1].sender, image.Frames());
    EXPECT_EQ(reports[2].percent, 100) << "MulDiv rounds 99.9";
    EXPECT_EQ(reports[3].stage, psEnding);
    EXPECT_EQ(reports[3].percent, 100);
    EXPECT_TRUE(reports[3].redraw);
    for (auto& r : reports) EXPECT_EQ(r.message, sProgressLoading);
}

TEST(GifBlockLoop, FailedLoadEndsProgressAtZero) {
    std::vector<int> percents;
    TGIFImage image;
    image.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool, const RECT&, const std::string&) {
        if (stage == psEnding) percents.push_back(percent);
    };
    auto stream = StreamOf({'G', 'I', 'F'});
    EXPECT_THROW(image.LoadFromStream(*stream), GIFException);
    EXPECT_EQ(percents, std::vector<int>{0});
}

TEST(GifList, OwnsAndRemovesItems) {
    TGIFImage image;
    TGIFImageList& list = *image.Frames();
    auto* a = new TGIFSubImage(&image);
    auto* b = new TGIFSubImage(&image);
    EXPECT_EQ(list.Append(a), 0);
    EXPECT_EQ(list.Append(b), 1);
    EXPECT_EQ(list.FrameAt(1), b);
    EXPECT_THROW(list.ItemAt(2), EListError);
    EXPECT_THROW(list.ItemAt(-1), EListError);
    EXPECT_EQ(list.RemoveItem(a), 0);
    EXPECT_EQ(list.RemoveItem(a), -1);
    delete a;
    delete b;  // leaves the list by itself
    EXPECT_EQ(list.ItemCount(), 0);
}

}  // namespace
