// What saving a GIF image writes, byte for byte, and how a save fails.
#include <windows.h>

#include <gtest/gtest.h>

#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "tests/gifsave/encodermodels.h"
#include "tests/gifsave/savefixtures.h"
#include "tests/gifwriter/codestream.h"
#include "tests/support/extensionblocks.h"
#include "tests/support/wic.h"
#include "tests/support/testseam.h"

namespace {

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The first frame's colour indexes as Windows' decoder reads the file.
Bytes WICPixels(WICGifDecoder& wic, const Bytes& gif) {
    const WICResult decoded = wic.Decode(gif.data(), gif.size());
    EXPECT_EQ(decoded.error, "");
    return decoded.frames.empty() ? Bytes{} : decoded.frames[0].indexes;
}

// --- Header, screen and global table -------------------------------------------

TEST(GifSave, MinimalImageIsWrittenExactlyWithEitherEncoder) {
    for (uint8_t compression : {0, 1}) {
        SCOPED_TRACE(int(compression));
        TGIFImage image;
        image.SetCompression(compression);
        image.GlobalColors()->AppendColor(0x000000);
        image.GlobalColors()->AppendColor(0xFFFFFF);
        AddFrame(image, 0, 0, 4, 1, 0, {0, 0, 0, 0});
        const Bytes expected = Concat({TextBytes("GIF87a"),
                                       {0x04, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00},
                                       {0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF},
                                       {0x2C, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00},
                                       {0x02, 0x02, 0x84, 0x51, 0x00},
                                       {0x3B}});
        EXPECT_EQ(SaveBytes(image), expected);
    }
}

struct ScreenCase {
    const char* name;
    int globalColors;
    std::vector<int> localColors;  // one frame each
    uint8_t packed;
    int tableEntries;
};

TEST(GifSave, ScreenDescriptorPacksTheImageTables) {
    const ScreenCase cases[] = {
        {"global 2, local 256", 2, {256}, 0xF0, 2}, {"global 5 padded to 8", 5, {0}, 0xA2, 8},
        {"global 256", 256, {0}, 0xF7, 256},        {"no global, local 16", 0, {16}, 0x33, 0},
        {"no table at all", 0, {0}, 0x77, 0},       {"global 3, locals 4 and 32", 3, {4, 32}, 0xC1, 4},
    };
    for (const ScreenCase& c : cases) {
        SCOPED_TRACE(c.name);
        TGIFImage image;
        AddGlobalColors(image, c.globalColors);
        for (int local : c.localColors) AddFrame(image, 0, 0, 1, 1, local, {0});
        const Bytes saved = SaveBytes(image);
        ASSERT_GT(saved.size(), size_t(13 + 3 * c.tableEntries));
        EXPECT_EQ(saved[10], c.packed);
        for (int i = 0; i < c.tableEntries; ++i) {
            const int want = i < c.globalColors ? i : 0;
            EXPECT_EQ(saved[13 + 3 * i], want);
            EXPECT_EQ(saved[13 + 3 * i + 2], want);
        }
        EXPECT_EQ(saved[13 + 3 * c.tableEntries], ',') << "table of the wrong size";
    }
}

struct VersionCase {
    const char* name;
    std::function<void(TGIFImage&)> build;
    const char* signature;
};

TEST(GifSave, VersionIsTheHighestThatAFrameNeeds) {
    auto plainFrame = [](TGIFImage& image) { return AddFrame(image, 0, 0, 2, 1, 2, {0, 1}); };
    const VersionCase cases[] = {
        {"plain frames",
         [&](TGIFImage& image) {
             plainFrame(image);
             plainFrame(image);
         },
         "GIF87a"},
        {"a graphic control in the second of three frames",
         [&](TGIFImage& image) {
             plainFrame(image);
             TGIFSubImage* frame = plainFrame(image);
             frame->Extensions()->Append(new TGIFGraphicControlExtension(frame));
             plainFrame(image);
         },
         "GIF89a"},
        {"a sorted local table",
         [&](TGIFImage& image) {
             TGIFSubImage* frame = AddFrame(image, 0, 0, 3, 1, 2, {1, 1, 0});
             ASSERT_TRUE(frame->LocalColorMap()->SortByUsage());
         },
         "GIF89a"},
        // The header's own needs (here an aspect ratio) do not decide the version.
        {"an aspect ratio",
         [&](TGIFImage& image) {
             plainFrame(image);
             image.Header()->SetAspectRatio(49);
         },
         "GIF87a"},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.name);
        TGIFImage image;
        c.build(image);
        const Bytes saved = SaveBytes(image);
        EXPECT_EQ(std::string(saved.begin(), saved.begin() + 6), c.signature);
    }
}

struct ProgressEntry {
    TProgressStage stage;
    int percent;
    bool redraw;
    std::string message;
    bool operator==(const ProgressEntry&) const = default;
};

std::vector<ProgressEntry>* AttachProgress(TGIFImage& image, std::vector<ProgressEntry>& log) {
    image.OnProgress = [&log](TObject*, TProgressStage stage, uint8_t percent, bool redraw, const RECT&,
                              const std::string& message) {
        log.push_back({stage, percent, redraw, message});
    };
    return &log;
}

TEST(GifSave, ImageWithoutFramesRaisesAndWritesNothing) {
    for (bool withScreen : {false, true}) {
        SCOPED_TRACE(withScreen);
        TGIFImage image;
        std::vector<ProgressEntry> progress;
        AttachProgress(image, progress);
        if (withScreen) {
            AddGlobalColors(image, 4);
            image.Header()->SetLogicalWidth(20);
            image.Header()->SetLogicalHeight(10);
        }
        TMemoryStream stream;
        EXPECT_EQ(GIFErrorOf([&] { image.SaveToStream(stream); }), "Unsupported GIF version");
        EXPECT_EQ(stream.Size(), 0);
        const std::vector<ProgressEntry> expected = {{psStarting, 0, false, "Saving..."},
                                                     {psEnding, 0, true, "Saving..."}};
        EXPECT_EQ(progress, expected);
    }
}

TEST(GifSave, ProgressCountsFrames) {
    TGIFImage image;
    AddFrame(image, 0, 0, 1, 1, 2, {0});
    AddFrame(image, 0, 0, 1, 1, 2, {1});
    std::vector<ProgressEntry> progress;
    AttachProgress(image, progress);
    SaveBytes(image);
    const std::vector<ProgressEntry> expected = {{psStarting, 0, false, "Saving..."},
                                                 {psRunning, 50, false, "Saving..."},
                                                 {psRunning, 100, false, "Saving..."},
                                                 {psEnding, 100, true, "Saving..."}};
    EXPECT_EQ(progress, expected);
}

// --- Frames ----------------------------------------------------------------------

struct DescriptorCase {
    const char* name;
    uint8_t packedIn;
    int localColors;  // entries of the local table in the file, 0 for none
    uint8_t packedOut;
    bool interlacedOut;
};

// A loaded frame's packed byte is rebuilt: with a local table only its size survives (and the
// pixels are then written row after row); without one the interlace and reserved bits stay.
TEST(GifSave, FrameDescriptorIsRepackedForWriting) {
    const DescriptorCase cases[] = {
        {"interlaced, no local table", 0x40, 0, 0x40, true},   {"interlaced and reserved bits", 0x58, 0, 0x58, true},
        {"reserved bits only", 0x18, 0, 0x18, false},          {"local 256, interlaced", 0xC7, 256, 0x87, false},
        {"local 4, sorted in the file", 0xA1, 4, 0x81, false}, {"local 8, reserved bits", 0x9A, 8, 0x82, false},
    };
    const int width = 5, height = 9;
    const Bytes pixels = MakePixels(Pattern::Noise, width, height, 4);
    WICGifDecoder wic;
    ASSERT_TRUE(wic.Available());
    for (const DescriptorCase& c : cases) {
        SCOPED_TRACE(c.name);
        GifBytes in;
        in.Header(width, height, 4, "GIF87a").Descriptor(0, 0, width, height, c.packedIn);
        for (int i = 0; i < c.localColors; ++i) in.Raw({i, i, i});
        const bool interlacedIn = (c.packedIn & 0x40) != 0;
        in.Data(2, EncodeLZW(interlacedIn ? Interlace(pixels, width, height) : pixels, 2)).Trailer();
        auto image = LoadGif(in.b);
        const Bytes saved = SaveBytes(*image);

        const size_t descriptor = 13 + 3 * 4;
        ASSERT_GT(saved.size(), descriptor + 10);
        EXPECT_EQ(saved[descriptor], ',');
        EXPECT_EQ(saved[descriptor + 9], c.packedOut);
        const size_t data = descriptor + 10 + 3 * c.localColors;
        const int bits = c.localColors ? TableBits(c.localColors) : 2;
        const Bytes expectedData = model::LZWWriter(bits).ImageData(width, height, c.interlacedOut, pixels.data());
        ASSERT_EQ(saved.size(), data + expectedData.size() + 1);
        EXPECT_EQ(Bytes(saved.begin() + data, saved.end() - 1), expectedData);
        EXPECT_EQ(saved.back(), ';');

        auto again = LoadGif(saved);
        ASSERT_EQ(again->Frames()->ItemCount(), 1);
        TGIFSubImage* frame = again->Frames()->FrameAt(0);
        EXPECT_EQ(Bytes(frame->Pixels(), frame->Pixels() + frame->PixelsSize()), pixels);
        EXPECT_EQ(WICPixels(wic, saved), pixels);
    }
}

// A frame read after a stray byte keeps that byte as its separator; written, it must be ",".
TEST(GifSave, StraySeparatorIsWrittenAsImageSeparator) {
    GifBytes in;
    in.Header(4, 1, 2).Gce(0, 5, 0);
    const size_t separator = in.b.size();
    in.Frame(0, 0, 4, 1, {1, 0, 1, 1}).Trailer();
    in.b[separator] = 'X';
    WarningLog log;
    auto image = LoadGif(in.b, &log);
    ASSERT_EQ(log.Messages(), std::vector<std::string>{"Invalid extension introducer"});

    const Bytes saved = SaveBytes(*image);
    EXPECT_EQ(GrammarProblem(saved), "");
    WarningLog again;
    auto reloaded = LoadGif(saved, &again);
    EXPECT_TRUE(again.entries.empty());
    ASSERT_EQ(reloaded->Frames()->ItemCount(), 1);
    TGIFSubImage* frame = reloaded->Frames()->FrameAt(0);
    EXPECT_EQ(Bytes(frame->Pixels(), frame->Pixels() + frame->PixelsSize()), (Bytes{1, 0, 1, 1}));
    EXPECT_EQ(frame->Extensions()->ItemCount(), 1);
}

TEST(GifSave, EmptyFrameWritesOnlyItsExtensions) {
    GifBytes in;
    in.Header(2, 1, 2).Frame(0, 0, 2, 1, {0, 1});
    const Bytes comment = {0x21, 0xFE, 0x03, 'e', 'n', 'd', 0x00};
    in.Raw(comment).Trailer();
    auto image = LoadGif(in.b);
    ASSERT_EQ(image->Frames()->ItemCount(), 2);
    ASSERT_TRUE(image->Frames()->FrameAt(1)->IsEmpty());

    const Bytes saved = SaveBytes(*image);
    const Bytes tail = Concat({comment, {';'}});
    ASSERT_GE(saved.size(), tail.size());
    EXPECT_EQ(Bytes(saved.end() - tail.size(), saved.end()), tail);
    EXPECT_EQ(ItemBytes(*image->Frames()->FrameAt(1)), comment);
    auto again = LoadGif(saved);
    EXPECT_EQ(again->Frames()->ItemCount(), 2);
}

struct PixelDataCase {
    const char* name;
    int globalColors;
    std::vector<int> localColors;  // one frame each; the first frame is written
    uint8_t compression;
    int width, height;
    Bytes pixels;
    int minCodeSize;
    std::vector<int> runLengthCodes;  // when known from the rule: the run-length encoder's codes
};

// Bits per pixel and the colour limit come from the local table, else from the image's deepest
// table; the compression setting picks the encoder. The data must be the reference writer's
// bytes and decode to the pixels in Windows' decoder; run-length data must also decode in the
// reference reader and differ from what LZW writes.
TEST(GifSave, PixelDataTakesItsDepthFromTheTables) {
    const Bytes noise4 = MakePixels(Pattern::Noise, 6, 4, 2);
    const Bytes noise16 = MakePixels(Pattern::Noise, 6, 4, 16, 7);
    const Bytes noise5 = MakePixels(Pattern::Noise, 6, 4, 5, 3);
    const Bytes onePlusTen = {5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const PixelDataCase cases[] = {
        {"local 2", 0, {2}, 0, 6, 4, noise4, 2},
        {"local 5", 0, {5}, 0, 6, 4, noise5, 3},
        {"local 16", 4, {16}, 0, 6, 4, noise16, 4},
        {"local 256", 0, {256}, 0, 6, 4, noise16, 8},
        {"local 256, the string table fills twice", 0, {256}, 0, 120, 90, MakePixels(Pattern::Noise, 120, 90, 256), 8},
        {"global 4, another frame local 256", 4, {0, 256}, 0, 6, 4, noise4, 8},
        {"global 2", 2, {0}, 0, 6, 4, noise4, 2},
        {"no table", 0, {0}, 0, 4, 1, {0, 0, 0, 0}, 2},
        // Clear, plain 5, clear, then runs of 1, 2, 3 and 4 zeros through the run codes.
        {"run-length, local 256", 0, {256}, 1, 11, 1, onePlusTen, 8, {256, 5, 256, 0, 258, 259, 260, 257}},
        // The second run of zeros reuses the run codes the first one left.
        {"run-length, runs apart",
         0,
         {256},
         1,
         21,
         1,
         Concat({Bytes(10, 0), {5}, Bytes(10, 0)}),
         8,
         {256, 0, 258, 259, 260, 5, 260, 260, 258, 257}},
        {"run-length, global 16", 16, {0}, 1, 6, 4, noise16, 4},
        {"run-length, 2 bits, no equal neighbours", 0, {4}, 1, 40, 3, MakePixels(Pattern::Distinct, 40, 3, 4), 2},
        {"run-length, 8 bits, long runs", 0, {256}, 1, 200, 60, MakePixels(Pattern::Runs, 200, 60, 256), 8},
        {"run-length, 4 bits, long runs of few colours", 16, {0}, 1, 150, 40, MakePixels(Pattern::Runs, 150, 40, 3), 4},
        {"run-length, global 16, two colours", 16, {0}, 1, 6, 4, noise4, 4},
    };
    WICGifDecoder wic;
    ASSERT_TRUE(wic.Available());
    for (const PixelDataCase& c : cases) {
        SCOPED_TRACE(c.name);
        TGIFImage image;
        image.SetCompression(c.compression);
        AddGlobalColors(image, c.globalColors);
        TGIFSubImage* frame = AddFrame(image, 0, 0, c.width, c.height, c.localColors[0], c.pixels);
        for (size_t i = 1; i < c.localColors.size(); ++i) AddFrame(image, 0, 0, 1, 1, c.localColors[i], {0});
        TMemoryStream stream;
        frame->WritePixelData(stream);
        const Bytes written = StreamBytes(stream);
        ASSERT_FALSE(written.empty());
        EXPECT_EQ(written[0], c.minCodeSize);
        const Bytes lzw = model::LZWWriter(c.minCodeSize).ImageData(c.width, c.height, false, c.pixels.data());
        if (c.compression == 0) {
            EXPECT_EQ(written, lzw);
        } else {
            EXPECT_EQ(written,
                      model::RunLengthWriter(c.minCodeSize).ImageData(c.width, c.height, false, c.pixels.data()));
            const CodeStream codes = ReadCodeStream(written);
            EXPECT_EQ(codes.error, "");
            EXPECT_TRUE(codes.terminated);
            EXPECT_EQ(codes.consumed, written.size());
            EXPECT_EQ(codes.pixels, c.pixels);
            ASSERT_FALSE(codes.codes.empty());
            EXPECT_EQ(codes.codes[0], 1 << c.minCodeSize);
            if (!c.runLengthCodes.empty()) {
                EXPECT_EQ(codes.codes, c.runLengthCodes);
            }
            EXPECT_NE(written, lzw) << "written as LZW";
        }
        EXPECT_EQ(WICPixels(wic, WrapInGIF(c.width, c.height, c.minCodeSize, false, written)), c.pixels);
    }
}

TEST(GifSave, RunLengthSettingWritesOtherCodesThanLZW) {
    const Bytes pixels = {5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes written[2];
    for (uint8_t compression : {0, 1}) {
        TGIFImage image;
        image.SetCompression(compression);
        AddFrame(image, 0, 0, 11, 1, 256, pixels);
        written[compression] = SaveBytes(image);
        auto again = LoadGif(written[compression]);
        TGIFSubImage* frame = again->Frames()->FrameAt(0);
        EXPECT_EQ(Bytes(frame->Pixels(), frame->Pixels() + frame->PixelsSize()), pixels);
    }
    EXPECT_NE(written[0], written[1]);
}

TEST(GifSave, PixelOutsideTheLocalTableRaises) {
    TGIFImage image;
    AddFrame(image, 0, 0, 3, 1, 16, {0, 16, 1});
    TMemoryStream stream;
    EXPECT_EQ(GIFErrorOf([&] { image.SaveToStream(stream); }), "Color not in color table");
}

TEST(GifSave, LongPixelDataIsCutIntoFullSubBlocks) {
    TGIFImage image;
    const Bytes pixels = MakePixels(Pattern::Noise, 100, 100, 256);
    AddFrame(image, 0, 0, 100, 100, 256, pixels);
    const Bytes saved = SaveBytes(image);
    EXPECT_EQ(GrammarProblem(saved), "");
    const size_t data = 13 + 10 + 3 * 256;
    ASSERT_EQ(saved[data], 8);
    size_t at = data + 1, blocks = 0;
    while (saved[at] == 255) at += 256, ++blocks;
    EXPECT_GT(blocks, 30u);
    EXPECT_GT(saved[at], 0);
    at += 1 + saved[at];
    EXPECT_EQ(saved[at], 0) << "terminator";
    EXPECT_EQ(at + 2, saved.size());
}

// --- Extensions ------------------------------------------------------------------

struct ExtensionCase {
    const char* name;
    std::function<TGIFExtension*(TGIFSubImage*)> make;
    Bytes expected;
};

Bytes WithIdentifier(const char* identifier, const Bytes& data) {
    return Concat({{0x21, 0xFF, 0x0B}, TextBytes(identifier), data});
}

TEST(GifSave, ExtensionsWriteTheirBodies) {
    const ExtensionCase cases[] = {
        {"new graphic control",
         [](TGIFSubImage* f) { return new TGIFGraphicControlExtension(f); },
         {0x21, 0xF9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"graphic control set through its setters",
         [](TGIFSubImage* f) {
             auto* gce = new TGIFGraphicControlExtension(f);
             gce->SetIsTransparent(true);
             gce->SetDisposalMethod(kDisposalRestoreBackground);
             gce->SetDelayUnits(0x1234);
             gce->SetTransparentIndex(1);
             return gce;
         },
         {0x21, 0xF9, 0x04, 0x09, 0x34, 0x12, 0x01, 0x00}},
        {"new loop", [](TGIFSubImage* f) { return new TGIFAppExtNSLoop(f); },
         WithIdentifier("NETSCAPE2.0", {0x03, 0x01, 0x00, 0x00, 0x00})},
        {"loop with a count and a buffer size",
         [](TGIFSubImage* f) {
             auto* loop = new TGIFAppExtNSLoop(f);
             loop->SetLoopCount(3);
             loop->SetBufferSize(1000);
             return loop;
         },
         WithIdentifier("NETSCAPE2.0", {0x03, 0x01, 0x03, 0x00, 0x05, 0x02, 0xE8, 0x03, 0x00, 0x00, 0x00})},
        {"comment with an empty line",
         [](TGIFSubImage* f) {
             auto* comment = new TGIFCommentExtension(f);
             comment->Comment().Add("ab");
             comment->Comment().Add("");
             return comment;
         },
         {0x21, 0xFE, 0x02, 0x61, 0x62, 0x00}},
        {"comment of 300 characters",
         [](TGIFSubImage* f) {
             auto* comment = new TGIFCommentExtension(f);
             comment->Comment().Add(std::string(300, 'x'));
             return comment;
         },
         Concat({{0x21, 0xFE, 0xFF}, Bytes(255, 'x'), {45}, Bytes(45, 'x'), {0x00}})},
        {"empty comment", [](TGIFSubImage* f) { return new TGIFCommentExtension(f); }, {0x21, 0xFE, 0x00}},
        {"plain text",
         [](TGIFSubImage* f) {
             auto* text = new TGIFTextExtension(f);
             text->SetRecord({12, 0x0102, 3, 40, 8, 8, 8, 1, 0});
             text->Text().Add("Hi");
             return text;
         },
         {0x21, 0x01, 0x0C, 0x02, 0x01, 0x03, 0x00, 0x28, 0x00, 0x08, 0x00, 0x08, 0x08, 0x01, 0x00, 0x02, 'H', 'i',
          0x00}},
        {"unknown application data; an empty block is left out",
         [](TGIFSubImage* f) {
             auto* app = new TGIFUnknownAppExtension(f);
             app->SetIdentifier(MakeAppIdentifier("XMP DataXMP"));
             for (uint8_t size : {3, 0, 1}) {
                 auto block = std::make_unique<TGIFBlock>(size);
                 for (uint8_t i = 0; i < size; ++i) block->Data[i] = static_cast<uint8_t>(0xA0 + i);
                 app->AddBlock(std::move(block));
             }
             return app;
         },
         WithIdentifier("XMP DataXMP", {0x03, 0xA0, 0xA1, 0xA2, 0x01, 0xA0, 0x00})},
    };
    for (const ExtensionCase& c : cases) {
        SCOPED_TRACE(c.name);
        TGIFImage image;
        TGIFSubImage* frame = AddFrame(image, 0, 0, 1, 1, 2, {0});
        TGIFExtension* extension = c.make(frame);
        frame->Extensions()->Append(extension);
        EXPECT_EQ(ItemBytes(*extension), c.expected);
        // In the saved image the extension stands right before the descriptor.
        const Bytes saved = SaveBytes(image);
        ASSERT_GE(saved.size(), 13 + c.expected.size() + 1);
        EXPECT_EQ(Bytes(saved.begin() + 13, saved.begin() + 13 + c.expected.size()), c.expected);
        EXPECT_EQ(saved[13 + c.expected.size()], ',');
    }
}

struct LoadedExtensionCase {
    const char* name;
    Bytes in;
    Bytes out;
};

TEST(GifSave, LoadedExtensionsAreWrittenBack) {
    const Bytes xmpFull = WithIdentifier("XMP DataXMP", Concat({{0x02, 0x10, 0x20, 0xFF}, Bytes(255, 7), {0x00}}));
    const LoadedExtensionCase cases[] = {
        {"loop under the other identifier", WithIdentifier("ANIMEXTS1.0", {0x03, 0x01, 0x05, 0x00, 0x00}),
         WithIdentifier("ANIMEXTS1.0", {0x03, 0x01, 0x05, 0x00, 0x00})},
        {"loop sub-block with a byte to skip", WithIdentifier("NETSCAPE2.0", {0x04, 0x01, 0x05, 0x00, 0xFF, 0x00}),
         WithIdentifier("NETSCAPE2.0", {0x03, 0x01, 0x05, 0x00, 0x00})},
        {"unknown application data, byte for byte", xmpFull, xmpFull},
        {"identifier block of 10 bytes", Concat({{0x21, 0xFF, 0x0A}, TextBytes("ABCDEFGH12"), {0x01, 0x33, 0x00}}),
         Concat({{0x21, 0xFF, 0x0B}, TextBytes("ABCDEFGH12"), {0x00, 0x01, 0x33, 0x00}})},
        {"graphic control keeps its block size and reserved bits",
         {0x21, 0xF9, 0x05, 0xE5, 0x07, 0x00, 0x01, 0x00},
         {0x21, 0xF9, 0x05, 0xE5, 0x07, 0x00, 0x01, 0x00}},
        {"comment of two sub-blocks",
         {0x21, 0xFE, 0x02, 'a', 'b', 0x01, 'c', 0x00},
         {0x21, 0xFE, 0x02, 'a', 'b', 0x01, 'c', 0x00}},
        {"plain text",
         {0x21, 0x01, 0x0C, 1, 0, 2, 0, 3, 0, 4, 0, 5, 6, 1, 0, 0x02, 'o', 'k', 0x00},
         {0x21, 0x01, 0x0C, 1, 0, 2, 0, 3, 0, 4, 0, 5, 6, 1, 0, 0x02, 'o', 'k', 0x00}},
    };
    for (const LoadedExtensionCase& c : cases) {
        SCOPED_TRACE(c.name);
        GifBytes in;
        in.Header(1, 1, 2).Raw(c.in).Frame(0, 0, 1, 1, {1}).Trailer();
        auto image = LoadGif(in.b);
        ASSERT_EQ(image->Frames()->ItemCount(), 1);
        const Bytes saved = SaveBytes(*image);
        const size_t at = 13 + 6;
        ASSERT_GE(saved.size(), at + c.out.size() + 1);
        EXPECT_EQ(Bytes(saved.begin() + at, saved.begin() + at + c.out.size()), c.out);
        EXPECT_EQ(saved[at + c.out.size()], ',');
    }
}

// An application block, saved, loads back as the block it loaded as: the reader picks the kind
// of a block by its identifier block and then by data sub-blocks of 10 or 11 bytes, one after the
// other, so a block whose plain form would read as another kind is written in a form that reads
// as its own. Every other block is written back as it was.
TEST(GifSave, ApplicationBlocksLoadBackAsTheKindTheyLoadedAs) {
    auto hex = [](const Bytes& bytes) { return extensionblocks::Hex(bytes.data(), bytes.size()); };
    auto unknown = [&](const std::string& identifier, const std::vector<Bytes>& blocks) {
        std::string text = "application " + hex(Concat({TextBytes(identifier), Bytes(11 - identifier.size(), 0)}));
        for (const Bytes& block : blocks) text += " [" + hex(block) + "]";
        return text;
    };
    auto loop = [&](const std::string& identifier, int count) {
        return "loop " + hex(Concat({TextBytes(identifier), Bytes(11 - identifier.size(), 0)})) + " count " +
               std::to_string(count) + " buffer 0";
    };
    auto block = [](int identifierSize, const std::string& identifier, const Bytes& data) {
        return Concat({{0x21, 0xFF, uint8_t(identifierSize)},
                       TextBytes(identifier),
                       Bytes(size_t(identifierSize) - identifier.size(), 0),
                       data});
    };
    const Bytes netscape = Concat({{11}, TextBytes("NETSCAPE2.0")});
    const Bytes animexts = Concat({{11}, TextBytes("ANIMEXTS1.0")});
    const struct {
        const char* name;
        Bytes in;
        std::string loadsAs;
        Bytes saved;  // empty: the same bytes as read
    } cases[] = {
        // A longer identifier block makes unknown data of what follows, however it looks.
        {"12-byte identifier over a loop name and a short loop block",
         block(12, "XXXXXXXX1.0", Concat({netscape, {2, 1, 5, 0}})),
         unknown("XXXXXXXX1.0", {TextBytes("NETSCAPE2.0"), {1, 5}}),
         {}},
        {"12-byte identifier over a loop name and a loop block",
         block(12, "XXXXXXXX1.0", Concat({netscape, {3, 1, 5, 0, 0}})),
         unknown("XXXXXXXX1.0", {TextBytes("NETSCAPE2.0"), {1, 5, 0}}),
         {}},
        {"12-byte identifier over the other loop name",
         block(12, "XXXXXXXX1.0", Concat({animexts, {3, 1, 7, 0, 0}})),
         unknown("XXXXXXXX1.0", {TextBytes("ANIMEXTS1.0"), {1, 7, 0}}),
         {}},
        {"12-byte identifier that is a loop name",
         block(12, "NETSCAPE2.0", {3, 1, 7, 0, 0}),
         unknown("NETSCAPE2.0", {{1, 7, 0}}),
         {}},
        // An unknown identifier whose first sub-block names the loop: a loop extension.
        {"loop name in the first sub-block",
         block(11, "XXXXXXXX1.0", Concat({netscape, {3, 1, 5, 0, 0}})),
         loop("XXXXXXXX1.0", 5),
         {}},
        // "A" of the other name reads as a loop block ("NI"), which the next one replaces.
        {"other loop name in the first sub-block", block(11, "XXXXXXXX1.0", Concat({animexts, {3, 1, 7, 0, 0}})),
         loop("XXXXXXXX1.0", 7), block(11, "XXXXXXXX1.0", Concat({netscape, {3, 1, 7, 0, 0}}))},
        {"10-byte identifier before a loop name", block(10, "ABCDEFGH12", Concat({netscape, {3, 1, 5, 0, 0}})),
         loop("ABCDEFGH12", 5), block(11, "ABCDEFGH12", Concat({netscape, {3, 1, 5, 0, 0}}))},
        // What always came back the same is written as before.
        {"loop", block(11, "NETSCAPE2.0", {3, 1, 5, 0, 0}), loop("NETSCAPE2.0", 5), {}},
        {"unknown data with an 11-byte sub-block",
         block(11, "XMP DataXMP", Concat({{11}, TextBytes("abcdefghijk"), {1, 2, 0}})),
         unknown("XMP DataXMP", {TextBytes("abcdefghijk"), {2}}),
         {}},
        {"10-byte identifier", block(10, "ABCDEFGH12", {1, 0x33, 0}), unknown("ABCDEFGH12", {{0x33}}),
         block(11, "ABCDEFGH12", {1, 0x33, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GifBytes in;
        in.Header(1, 1, 2).Raw(c.in).Frame(0, 0, 1, 1, {1}).Trailer();
        auto image = LoadGif(in.b);
        ASSERT_EQ(ExtensionsOf(*image), std::vector<std::string>{c.loadsAs});
        const Bytes saved = SaveBytes(*image);
        const Bytes& expected = c.saved.empty() ? c.in : c.saved;
        const size_t at = 13 + 6;
        ASSERT_GE(saved.size(), at + expected.size() + 1);
        EXPECT_EQ(Bytes(saved.begin() + at, saved.begin() + at + expected.size()), expected);
        EXPECT_EQ(saved[at + expected.size()], ',');
        std::unique_ptr<TGIFImage> again;
        ASSERT_NO_THROW(again = LoadGif(saved));
        EXPECT_EQ(ExtensionsOf(*again), std::vector<std::string>{c.loadsAs});
    }
}

// --- Failures while writing ----------------------------------------------------

// A memory stream that takes only limit bytes in all and then writes short.
class ShortStream : public TMemoryStream {
public:
    explicit ShortStream(int64_t limit) : limit_(limit) {}
    int32_t Write(const void* buffer, int32_t count) override {
        const int32_t n = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(count, limit_ - Size())));
        return n > 0 ? TMemoryStream::Write(buffer, n) : 0;
    }

private:
    int64_t limit_;
};

std::unique_ptr<TGIFImage> RichImage() {
    auto image = std::make_unique<TGIFImage>();
    AddGlobalColors(*image, 16);
    TGIFSubImage* first = AddFrame(*image, 0, 0, 40, 30, 0, MakePixels(Pattern::Noise, 40, 30, 16));
    TGIFTestSeam::Descriptor(*first).PackedFields = 0x40;
    first->Extensions()->Append(new TGIFAppExtNSLoop(first));
    auto* comment = new TGIFCommentExtension(first);
    comment->Comment().Add("made for a test");
    first->Extensions()->Append(comment);
    TGIFSubImage* second = AddFrame(*image, 3, 4, 20, 10, 256, MakePixels(Pattern::Runs, 20, 10, 256));
    auto* gce = new TGIFGraphicControlExtension(second);
    gce->SetDelayUnits(7);
    second->Extensions()->Append(gce);
    return image;
}

// A save that stops at any byte raises, reports its end with 0 %, and the image in memory
// is the same as before: it saves again to the very same bytes.
TEST(GifSave, StreamThatFailsAnywhereRaisesAndTheImageStaysWhole) {
    auto image = RichImage();
    const Bytes reference = SaveBytes(*image);
    ASSERT_GT(reference.size(), 1000u);
    for (int64_t limit = 0; limit < static_cast<int64_t>(reference.size()); ++limit) {
        SCOPED_TRACE(limit);
        std::vector<ProgressEntry> progress;
        AttachProgress(*image, progress);
        ShortStream stream(limit);
        bool raised = false;
        try {
            image->SaveToStream(stream);
        } catch (const Exception&) {
            raised = true;
        }
        ASSERT_TRUE(raised);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back().stage, psEnding);
        EXPECT_EQ(progress.back().percent, 0);
        image->OnProgress = nullptr;
        ASSERT_EQ(SaveBytes(*image), reference);
    }
}

std::string TempPath(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

TEST(GifSave, WriteToFileWritesTheItem) {
    auto image = RichImage();
    const std::string path = TempPath("gifsave-frame.bin");
    TGIFSubImage* frame = image->Frames()->FrameAt(1);
    frame->WriteToFile(path);
    EXPECT_EQ(ReadWholeFile(path), ItemBytes(*frame));
    DeleteFileA(path.c_str());
}

struct FailedFileCase {
    const char* name;
    std::function<void(const std::string&)> write;
    std::string error;
};

// A save that fails before it is complete leaves a file that was there untouched.
TEST(GifSave, WriteToFileThatFailsKeepsTheExistingFile) {
    TGIFImage empty;
    TGIFImage badPixel;
    AddFrame(badPixel, 0, 0, 2, 1, 2, {0, 2});
    const FailedFileCase cases[] = {
        {"header of an image without frames", [&](const std::string& p) { empty.Header()->WriteToFile(p); },
         "Unsupported GIF version"},
        {"frame with a pixel outside its table",
         [&](const std::string& p) { badPixel.Frames()->FrameAt(0)->WriteToFile(p); }, "Color not in color table"},
    };
    const std::string path = TempPath("gifsave-existing.gif");
    const Bytes old = TextBytes("an existing file");
    for (const FailedFileCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWholeFile(path, old);
        EXPECT_EQ(GIFErrorOf([&] { c.write(path); }), c.error);
        EXPECT_EQ(ReadWholeFile(path), old);
    }
    DeleteFileA(path.c_str());
}

TEST(GifSave, WriteToFileInAMissingFolderRaisesTheFileError) {
    auto image = RichImage();
    EXPECT_THROW(image->Header()->WriteToFile(TempPath("no-such-folder\\x.gif")), EStreamError);
}

}  // namespace
