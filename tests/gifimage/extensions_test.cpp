// Extension blocks: each kind read, the class choice, registries, graphic control state.
#include <gtest/gtest.h>

#include <algorithm>

#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"
#include "tests/support/gifbuilder.h"

namespace {

// An image with one frame preceded by the extension bytes.
std::unique_ptr<TGIFImage> WithExtension(const Bytes& extension, WarningLog* log = nullptr) {
    return LoadGif(GifBytes().Header(2, 2, 4).Raw(extension).Frame(0, 0, 2, 2, {0, 1, 2, 3}).Trailer().b, log);
}

Bytes AppBlock(const std::string& identifier, const Bytes& data) {
    GifBytes b = GifBytes().Raw({'!', 0xFF, static_cast<int>(identifier.size())}).Text(identifier).Raw(data);
    return b.b;
}

TEST(GifExtensions, EveryKindIsRead) {
    struct Case {
        const char* name;
        Bytes block;
        TGIFExtensionClass expected;
    };
    const Bytes loopData = {3, 1, 5, 0, 0};
    const Case cases[] = {
        {"graphic control", GifBytes().Gce(0x09, 300, 2).b, &TGIFGraphicControlExtension::ClassInfo},
        {"plain text", GifBytes().Raw({'!', 0x01, 12}).Raw(Bytes(12, 1)).Raw({2, 'h', 'i', 0}).b,
         &TGIFTextExtension::ClassInfo},
        {"comment", {'!', 0xFE, 2, 'a', 'b', 0}, &TGIFCommentExtension::ClassInfo},
        {"netscape loop", AppBlock("NETSCAPE2.0", loopData), &TGIFAppExtNSLoop::ClassInfo},
        {"animexts loop", AppBlock("ANIMEXTS1.0", loopData), &TGIFAppExtNSLoop::ClassInfo},
        {"unknown 11", AppBlock("XMP DataXMP", {3, 'a', 'b', 'c', 1, 'd', 0}), &TGIFUnknownAppExtension::ClassInfo},
        {"unknown 10", AppBlock("ABCDEFGHIJ", {0}), &TGIFUnknownAppExtension::ClassInfo},
        {"identifier of 12", AppBlock("ABCDEFGHIJKL", {1, 'z', 0}), &TGIFUnknownAppExtension::ClassInfo},
        {"case matters", AppBlock("netscape2.0", loopData), &TGIFUnknownAppExtension::ClassInfo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WarningLog log;
        auto image = WithExtension(c.block, &log);
        TGIFSubImage* frame = image->Frames()->FrameAt(0);
        ASSERT_EQ(frame->Extensions()->ItemCount(), 1);
        TGIFExtension* extension = frame->Extensions()->ExtensionAt(0);
        EXPECT_EQ(extension->ClassType(), c.expected) << extension->ClassType()->ClassName;
        EXPECT_EQ(extension->Frame(), frame);
        EXPECT_EQ(extension->OwnerImage(), image.get());
        EXPECT_EQ(extension->RequiredVersion(), Version89a);
        EXPECT_EQ(frame->PixelAt(1, 1), 3) << "the frame's image follows";
        EXPECT_TRUE(log.entries.empty());
    }
}

// The class choice as the reader makes it, written from the format's rule: each refinement reads a
// size byte N on from where the last one stopped; N = 10 (ten bytes follow) is unknown data, N = 11
// names a class by the identifier it heads (unknown when it is not registered), and any other N
// keeps the class. Only the identifier block itself may be longer than 11 bytes and still be
// application data: a data sub-block of another size never changes the class.
std::string ModelApplicationClass(const Bytes& afterLabel) {
    std::string current = "TGIFApplicationExtension";
    size_t at = 0;
    for (bool identifierBlock = true;; identifierBlock = false) {
        if (at >= afterLabel.size()) return "nil";
        const size_t start = at;
        const size_t n = afterLabel[at++];
        std::string next = current;
        if (n == 10) {
            if (at + 10 > afterLabel.size()) return "nil";
            at += 10;
            next = "TGIFUnknownAppExtension";
        } else if (n == 11 && at + 11 <= afterLabel.size()) {
            const std::string name(afterLabel.begin() + at, afterLabel.begin() + at + 11);
            at += 11;
            next = name == "NETSCAPE2.0" || name == "ANIMEXTS1.0" ? "TGIFAppExtNSLoop" : "TGIFUnknownAppExtension";
        } else {
            at = start;  // the size byte is read again by the next refinement
            if (identifierBlock && n > 11) next = "TGIFUnknownAppExtension";
        }
        if (next == current) return current;
        current = next;
    }
}

// Where the refinement ends decides whether a loop block keeps its loop count: the data
// sub-blocks after the identifier are looked at with the same size rule, not the identifier's.
TEST(GifExtensions, LoopBlockRefinementByLayout) {
    struct Case {
        const char* name;
        Bytes block;    // from the label on
        int loopCount;  // -1: not a loop extension
    };
    auto app = [](const std::string& identifier, Bytes data) {
        Bytes b{0xFF, static_cast<uint8_t>(identifier.size())};
        b.insert(b.end(), identifier.begin(), identifier.end());
        b.insert(b.end(), data.begin(), data.end());
        return b;
    };
    auto subBlock = [](Bytes head, size_t size) {
        Bytes b{static_cast<uint8_t>(size)};
        b.insert(b.end(), head.begin(), head.end());
        for (size_t i = head.size(); i < size; ++i) b.push_back(static_cast<uint8_t>(0x40 + i));
        b.push_back(0);
        return b;
    };
    const Case cases[] = {
        {"loop sub-block of 3", app("NETSCAPE2.0", subBlock({1, 5, 0}, 3)), 5},
        {"loop sub-block of 12", app("NETSCAPE2.0", subBlock({1, 5, 0}, 12)), 5},
        {"loop sub-block of 13", app("ANIMEXTS1.0", subBlock({1, 7, 1}, 13)), 0x107},
        {"loop sub-block of 255", app("NETSCAPE2.0", subBlock({1, 5, 0}, 255)), 5},
        {"loop sub-block of 9", app("NETSCAPE2.0", subBlock({1, 5, 0}, 9)), 5},
        // A first sub-block of 11 heads a registered identifier: "A" is sub-block 1, loop "NI".
        {"loop sub-block naming a loop",
         app("NETSCAPE2.0", subBlock({'A', 'N', 'I', 'M', 'E', 'X', 'T', 'S', '1', '.', '0'}, 11)), 'N' | ('I' << 8)},
        {"loop sub-block of 11, unregistered", app("NETSCAPE2.0", subBlock({1, 5, 0}, 11)), -1},
        {"loop sub-block of 10", app("NETSCAPE2.0", subBlock({1, 5, 0}, 10)), -1},
        {"identifier block of 12", app("ABCDEFGHIJKL", subBlock({1, 5, 0}, 3)), -1},
        {"identifier block of 12 starting with a loop name", app("NETSCAPE2.0X", subBlock({1, 5, 0}, 3)), -1},
        {"unknown block with a sub-block of 12", app("XMP DataXMP", subBlock({1, 5, 0}, 12)), -1},
        {"unknown block with a sub-block naming a loop",
         app("XMP DataXMP", subBlock({'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, 11)), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string expected = ModelApplicationClass(Bytes(c.block.begin() + 1, c.block.end()));
        ASSERT_EQ(expected == "TGIFAppExtNSLoop", c.loopCount >= 0) << expected;

        Bytes withIntroducer{'!'};
        withIntroducer.insert(withIntroducer.end(), c.block.begin(), c.block.end());
        auto stream = StreamOf(withIntroducer);
        stream->SetPosition(1);
        TGIFExtensionClass chosen = TGIFExtension::ClassForLabel(*stream);
        ASSERT_NE(chosen, nullptr);
        EXPECT_EQ(chosen->ClassName, expected);
        EXPECT_EQ(stream->Position(), 1);

        auto image = WithExtension(withIntroducer);
        TGIFSubImage* frame = image->Frames()->FrameAt(0);
        ASSERT_EQ(frame->Extensions()->ItemCount(), 1);
        TGIFExtension* extension = frame->Extensions()->ExtensionAt(0);
        EXPECT_EQ(extension->ClassType()->ClassName, expected);
        if (c.loopCount >= 0) {
            auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(extension);
            EXPECT_NE(loop, nullptr);
            if (loop) EXPECT_EQ(loop->LoopCount(), c.loopCount);
        }
        EXPECT_EQ(frame->PixelAt(1, 1), 3) << "the frame's image follows";
    }
}

TEST(GifExtensions, FieldsOfEachKind) {
    auto gce = WithExtension(GifBytes().Gce(0x0B | (2 << 2), 300, 2).b);
    auto* control = dynamic_cast<TGIFGraphicControlExtension*>(gce->Frames()->FrameAt(0)->Extensions()->ExtensionAt(0));
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(control->IsTransparent());
    EXPECT_TRUE(control->WaitsForInput());
    EXPECT_EQ(control->DisposalMethod(), 2);
    EXPECT_EQ(control->DelayUnits(), 300);
    EXPECT_EQ(control->TransparentIndex(), 2);
    EXPECT_TRUE(gce->Frames()->FrameAt(0)->Transparent());
    EXPECT_EQ(gce->Frames()->FrameAt(0)->GraphicControlExtension(), control);

    auto text = WithExtension(GifBytes()
                                  .Raw({'!', 0x01, 12})
                                  .Word(1)
                                  .Word(2)
                                  .Word(30)
                                  .Word(40)
                                  .Raw({8, 16, 1, 0, 2, 'h', 'i', 3, 'y', 'o', 'u', 0})
                                  .b);
    auto* plain = dynamic_cast<TGIFTextExtension*>(text->Frames()->FrameAt(0)->Extensions()->ExtensionAt(0));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->Record().GridWidth, 30);
    EXPECT_EQ(plain->Record().CellHeight, 16);
    ASSERT_EQ(plain->Text().Count(), 2);
    EXPECT_EQ(plain->Text()[1], "you");

    auto loop = WithExtension(AppBlock("NETSCAPE2.0", {3, 1, 5, 0, 5, 2, 0xE8, 3, 0, 0, 0}));
    auto* ns = dynamic_cast<TGIFAppExtNSLoop*>(loop->Frames()->FrameAt(0)->Extensions()->ExtensionAt(0));
    ASSERT_NE(ns, nullptr);
    EXPECT_EQ(ns->LoopCount(), 5);
    EXPECT_EQ(ns->BufferSize(), 1000u);

    auto unknown = WithExtension(AppBlock("XMP DataXMP", {3, 'a', 'b', 'c', 1, 'd', 0}));
    auto* app = dynamic_cast<TGIFUnknownAppExtension*>(unknown->Frames()->FrameAt(0)->Extensions()->ExtensionAt(0));
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->Identifier(), MakeAppIdentifier("XMP DataXMP"));
    ASSERT_EQ(app->Blocks().size(), 2u);
    EXPECT_EQ(app->Blocks()[0]->Size, 3);
    EXPECT_EQ(app->Blocks()[1]->Data[0], 'd');

    auto ten = WithExtension(AppBlock("ABCDEFGHIJ", {0}));
    auto* short10 = dynamic_cast<TGIFApplicationExtension*>(ten->Frames()->FrameAt(0)->Extensions()->ExtensionAt(0));
    EXPECT_EQ(short10->Identifier()[9], 'J');
    EXPECT_EQ(short10->Identifier()[10], 0);
}

// The lines of a text or comment as data sub-blocks: each sub-block is one line up to its first zero
// byte. An empty sub-block ends the list, so an empty line has no form in a stream: a sub-block
// that comes out empty is not kept, and whatever loads is written back to the same lines.
TEST(GifExtensions, TextLinesComeBackAsTheyLoad) {
    struct Case {
        const char* name;
        Bytes blocks;  // the sub-blocks and their terminator
        std::vector<std::string> lines;
    };
    const std::string long255(255, 'q');
    Bytes longBlock = {255};
    longBlock.insert(longBlock.end(), long255.begin(), long255.end());
    longBlock.insert(longBlock.end(), {1, 'x', 0});
    const Case cases[] = {
        {"plain lines", {2, 'h', 'i', 3, 'y', 'o', 'u', 0}, {"hi", "you"}},
        {"a full sub-block", longBlock, {long255, "x"}},
        {"no lines", {0}, {}},
        {"a line that begins with zero", {2, 0, 'i', 0}, {}},
        {"one that begins with zero between two", {1, 'a', 3, 0, 'i', 'j', 1, 'b', 0}, {"a", "b"}},
        {"a line that is only zero", {1, 'a', 1, 0, 1, 'b', 0}, {"a", "b"}},
        {"zero in the middle", {3, 'h', 0, 'i', 2, 'o', 'k', 0}, {"h", "ok"}},
        {"empty line between two others", {2, 'h', 'i', 1, 0, 2, 2, 0xF1, 0}, {"hi", "\x02\xF1"}},
    };
    struct Kind {
        const char* name;
        Bytes head;  // introducer, label and for plain text its record
        TStrings* (*lines)(TGIFExtension*);
    };
    Bytes textHead = {'!', 0x01, 12};
    textHead.insert(textHead.end(), {0, 0, 0, 0, 8, 0, 8, 0, 4, 4, 1, 0});
    const Kind kinds[] = {
        {"comment", {'!', 0xFE},
         [](TGIFExtension* e) -> TStrings* {
             auto* comment = dynamic_cast<TGIFCommentExtension*>(e);
             return comment ? &comment->Comment() : nullptr;
         }},
        {"plain text", textHead,
         [](TGIFExtension* e) -> TStrings* {
             auto* text = dynamic_cast<TGIFTextExtension*>(e);
             return text ? &text->Text() : nullptr;
         }},
    };
    auto linesOf = [](const Kind& kind, TGIFImage& image) {
        std::vector<std::string> lines;
        TStrings* strings = kind.lines(image.Frames()->FrameAt(0)->Extensions()->ExtensionAt(0));
        if (!strings) return std::vector<std::string>{"(another extension)"};
        for (int i = 0; i < strings->Count(); ++i) lines.push_back((*strings)[i]);
        return lines;
    };
    for (const Kind& kind : kinds) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(kind.name) + ": " + c.name);
            Bytes block = kind.head;
            block.insert(block.end(), c.blocks.begin(), c.blocks.end());
            auto image = WithExtension(block);
            ASSERT_EQ(image->Frames()->ItemCount(), 1);
            EXPECT_EQ(linesOf(kind, *image), c.lines) << "as loaded";

            // Written: each line as one sub-block, then the terminator.
            Bytes written = kind.head;
            for (const std::string& line : c.lines) {
                written.push_back(static_cast<uint8_t>(line.size()));
                written.insert(written.end(), line.begin(), line.end());
            }
            written.push_back(0);
            TMemoryStream saved;
            image->SaveToStream(saved);
            const uint8_t* bytes = static_cast<const uint8_t*>(saved.Memory());
            const Bytes all(bytes, bytes + saved.Size());
            EXPECT_NE(std::search(all.begin(), all.end(), written.begin(), written.end()), all.end())
                << "the lines as sub-blocks";
            saved.SetPosition(0);
            TGIFImage again;
            again.LoadFromStream(saved);
            ASSERT_EQ(again.Frames()->ItemCount(), 1);
            EXPECT_EQ(linesOf(kind, again), linesOf(kind, *image)) << "saved and loaded again";
            EXPECT_EQ(linesOf(kind, again), c.lines) << "saved and loaded again";
        }
    }
}

TEST(GifExtensions, LoopSubBlocks) {
    struct Case {
        Bytes data;
        int loopCount;
        const char* error;
    };
    const Case cases[] = {
        {{3, 9, 5, 0, 0}, 5, ""},            // identifier byte 9: its low three bits are 1
        {{4, 1, 5, 0, 0xFF, 0}, 5, ""},      // one byte more is skipped
        {{2, 1, 5, 0}, 0, sInvalidData},     // too short for a loop count
        {{3, 2, 0, 0, 0}, 0, sInvalidData},  // too short for a buffer size
        {{2, 7, 9, 3, 1, 4, 0, 0}, 4, ""},   // another identifier is skipped
        {{3, 1, 6, 0}, 6, ""},               // the stream ends where the terminator is due
    };
    for (const Case& c : cases) {
        Bytes gif = GifBytes().Header(1, 1).Raw(AppBlock("NETSCAPE2.0", c.data)).b;
        if (*c.error) {
            EXPECT_EQ(LoadError(gif), c.error);
            continue;
        }
        auto image = LoadGif(gif);
        ASSERT_EQ(image->Frames()->ItemCount(), 1);
        auto* ns = dynamic_cast<TGIFAppExtNSLoop*>(image->Frames()->FrameAt(0)->Extensions()->ExtensionAt(0));
        ASSERT_NE(ns, nullptr);
        EXPECT_EQ(ns->LoopCount(), c.loopCount);
    }
}

TEST(GifExtensions, ReadingErrors) {
    struct Case {
        const char* name;
        Bytes tail;
        const char* error;
    };
    const Case cases[] = {
        {"unknown label", {'!', 0x02, 0}, sUnknownExtension},
        {"end after introducer", {'!'}, sUnknownExtension},
        {"identifier block of 9",
         {'!', 0xFF, 9, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 0},
         sUnsupportedAppBlockSize},
        {"identifier cut short", {'!', 0xFF, 11, 'N', 'E', 'T'}, sPrematureEndOfData},
        {"text record cut short", {'!', 0x01, 12, 0, 0}, sPrematureEndOfData},
        {"comment longer than the stream", {'!', 0xFE, 200, 'a', 'b'}, sPrematureEndOfData},
        {"application data longer than the stream",
         {'!', 0xFF, 11, 'X', 'M', 'P', ' ', 'D', 'a', 't', 'a', 'X', 'M', 'P', 250, 1, 2},
         sPrematureEndOfData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifBytes gif = GifBytes().Header(1, 1).Raw({'!', 0xFE, 1, 'x', 0}).Raw(c.tail);
        int64_t position = -1;
        EXPECT_EQ(LoadError(gif.b, &position), c.error);
        EXPECT_EQ(position, 0);
    }
}

TEST(GifExtensions, FailedExtensionLeavesEarlierOnes) {
    TGIFImage image;
    TGIFSubImage frame(&image);
    auto stream = StreamOf(GifBytes().Raw({'!', 0xFE, 1, 'a', 0}).Raw({'!', 0x02, 0}).b);
    EXPECT_EQ(GIFErrorOf([&] { frame.Extensions()->LoadItems(*stream, &frame); }), sUnknownExtension);
    EXPECT_EQ(frame.Extensions()->ItemCount(), 1);
}

TEST(GifExtensions, GraphicControlBlockIsReadAsSixBytes) {
    // A block size of 5 is kept; the byte after the 6 bytes belongs to the frame's reader.
    auto image = WithExtension({'!', 0xF9, 5, 0, 0, 0, 0, 0});
    auto* control = dynamic_cast<TGIFGraphicControlExtension*>(image->Frames()->FrameAt(0)->Extensions()->ExtensionAt(0));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->Record().BlockSize, 5);
}

TEST(GifExtensions, GraphicControlCutShortWarns) {
    WarningLog log;
    auto image = LoadGif(GifBytes().Header(1, 1).Raw({'!', 0xF9, 4, 1, 0}).b, &log);
    ASSERT_EQ(image->Frames()->ItemCount(), 1);
    TGIFSubImage* frame = image->Frames()->FrameAt(0);
    EXPECT_FALSE(frame->Transparent());
    EXPECT_EQ(log.Messages(), std::vector<std::string>{sPrematureEndOfData});
    EXPECT_EQ(std::get<0>(log.entries[0]), frame->Extensions()->ExtensionAt(0));
}

TEST(GifExtensions, GraphicControlState) {
    TGIFImage image;
    WarningLog log;
    log.Attach(image);
    TGIFSubImage frame(&image);
    auto* first = new TGIFGraphicControlExtension(&frame);
    auto* second = new TGIFGraphicControlExtension(&frame);
    frame.Extensions()->Append(first);
    frame.Extensions()->Append(second);
    EXPECT_EQ(frame.GraphicControlExtension(), first);
    first->SetTransparentIndex(40);
    EXPECT_EQ(first->TransparentIndex(), 40) << "no table at all";
    for (int i = 0; i < 32; ++i) frame.LocalColorMap()->AppendColor(i);
    first->SetTransparentIndex(40);
    EXPECT_EQ(first->TransparentIndex(), 0);
    EXPECT_EQ(log.Messages(), std::vector<std::string>{sInvalidColorIndex});
    first->SetDisposalMethod(kDisposalRestorePrevious);
    TGraphicControlRecord reserved = first->Record();
    reserved.PackedFields |= 0xE0;
    first->SetRecord(reserved);
    first->SetDisposalMethod(9);
    EXPECT_EQ(first->DisposalMethod(), 1);
    EXPECT_EQ(first->Record().PackedFields & 0xE0, 0xE0) << "reserved bits kept";
    first->SetIsTransparent(true);
    EXPECT_TRUE(frame.Transparent());
    delete first;
    EXPECT_FALSE(frame.Transparent());
    EXPECT_EQ(frame.GraphicControlExtension(), nullptr) << "no other extension takes the reference over";
    EXPECT_EQ(frame.Extensions()->ItemCount(), 1);
}

TEST(GifExtensions, RegistriesAnswerTheLastMatch) {
    TExtensionList labels;
    labels.AddEntry(0xFE, &TGIFCommentExtension::ClassInfo);
    labels.AddEntry(0xFE, &TGIFTextExtension::ClassInfo);
    EXPECT_EQ(labels.FindByLabel(0xFE), &TGIFTextExtension::ClassInfo);
    EXPECT_EQ(labels.FindByLabel(0x01), nullptr);
    EXPECT_EQ(ExtensionRegistry()->FindByLabel(0xF9), &TGIFGraphicControlExtension::ClassInfo);
    EXPECT_EQ(AppExtensionRegistry()->FindByIdentifier(MakeAppIdentifier("ANIMEXTS1.0")), &TGIFAppExtNSLoop::ClassInfo);
    EXPECT_EQ(AppExtensionRegistry()->FindByIdentifier(MakeAppIdentifier("ANIMEXTS1.1")), nullptr);
}

TEST(GifExtensions, ClassChoiceLeavesTheStreamInPlace) {
    auto stream = StreamOf(AppBlock("NETSCAPE2.0", {3, 1, 0, 0, 0}));
    stream->SetPosition(1);
    EXPECT_EQ(TGIFExtension::ClassForLabel(*stream), &TGIFAppExtNSLoop::ClassInfo);
    EXPECT_EQ(stream->Position(), 1);
    auto odd = StreamOf({'!', 0xFF, 12});
    odd->SetPosition(1);
    EXPECT_EQ(TGIFExtension::ClassForLabel(*odd), &TGIFUnknownAppExtension::ClassInfo);
    auto cut = StreamOf({'!', 0xFF, 11, 'A'});
    cut->SetPosition(1);
    EXPECT_EQ(TGIFExtension::ClassForLabel(*cut), &TGIFApplicationExtension::ClassInfo);
}

}  // namespace
