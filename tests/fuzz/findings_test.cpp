// Faults the mutation runs found, each kept as a small case of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include "classlib/threads.h"
#include "fuzzrun.h"
#include "gifimage/extensions.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"
#include "tests/support/gifbuilder.h"

namespace {

// Growth of the process's private memory over count calls of make, after a warm-up that lets
// the heap reach its working size.
template <class Make>
int64_t MemoryGrowth(int count, Make make) {
    for (int i = 0; i < 500; ++i) make();
    const int64_t before = int64_t(fuzz::PrivateBytes());
    for (int i = 0; i < count; ++i) make();
    return int64_t(fuzz::PrivateBytes()) - before;
}

// Each image holds a thread list of its painters and locks it when it is cleared. The lock once
// kept memory that its destruction never gave back: about 50 bytes for every image made.
TEST(FuzzFindings, LockedThreadListsAndImagesGiveBackTheirMemory) {
    ASSERT_GT(fuzz::PrivateBytes(), 0u);
    struct Case {
        const char* name;
        int count;
        void (*make)();
    } cases[] = {
        {"thread list", 40000,
         [] {
             TThreadList<int> list;
             list.LockList();
             list.UnlockList();
             list.Add(1);
         }},
        {"empty image", 20000, [] { TGIFImage image; }},
    };
    for (const Case& c : cases) {
        // A page or two of heap growth is noise; 10 bytes an object is far below the leak.
        const int64_t growth = MemoryGrowth(c.count, c.make);
        EXPECT_LT(growth, int64_t(c.count) * 10) << c.name << ": " << growth << " bytes kept by " << c.count;
    }
}

// An application block whose identifier block is longer than 11 bytes is unknown data, whatever
// its identifier. The save wrote it back with the usual 11 bytes, so a loop identifier over other
// data came back as a loop extension, which the next load refused. The save now keeps such a
// block unknown: it loads again with the same identifier and data.
TEST(FuzzFindings, LongerIdentifierBlocksStayUnknownDataWhenSaved) {
    auto appBlock = [](int size, const std::string& identifier, const Bytes& data) {
        GifBytes b = GifBytes().Header(8, 8, 4).Raw({'!', 0xFF, uint8_t(size)}).Text(identifier);
        b.Raw(Bytes(size_t(size) - identifier.size(), 0)).Raw(data);
        return b.Frame(0, 0, 8, 8, Bytes(64, 1)).Trailer().b;
    };
    struct Case {
        const char* name;
        int size;
        const char* identifier;
        Bytes data;  // data sub-blocks and terminator
        std::vector<Bytes> blocks;
    } cases[] = {
        {"NETSCAPE2.0 in 12 bytes over loop data", 12, "NETSCAPE2.0", {3, 1, 7, 0, 0}, {{1, 7, 0}}},
        {"NETSCAPE2.0 in 46 bytes over other data", 46, "NETSCAPE2.0", {2, 2, 2, 1, 'x', 0}, {{2, 2}, {'x'}}},
        {"ANIMEXTS1.0 in 46 bytes over loop data", 46, "ANIMEXTS1.0", {3, 1, 7, 0, 0}, {{1, 7, 0}}},
        {"an unknown identifier in 12 bytes", 12, "XMPDataXMP!", {1, 9, 0}, {{9}}},
    };
    auto blocksOf = [](TGIFImage& image) {
        auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(image.Frames()->FrameAt(0)->Extensions()->ExtensionAt(0));
        std::vector<Bytes> blocks;
        if (!unknown) return blocks;
        for (const auto& block : unknown->Blocks())
            blocks.emplace_back(block->Data.get(), block->Data.get() + block->Size);
        return blocks;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = LoadGif(appBlock(c.size, c.identifier, c.data));
        ASSERT_EQ(image->Frames()->ItemCount(), 1);
        ASSERT_NE(dynamic_cast<TGIFUnknownAppExtension*>(image->Frames()->FrameAt(0)->Extensions()->ExtensionAt(0)),
                  nullptr);
        EXPECT_EQ(blocksOf(*image), c.blocks);
        TMemoryStream saved;
        image->SaveToStream(saved);
        TGIFImage again;
        saved.SetPosition(0);
        ASSERT_NO_THROW(again.LoadFromStream(saved));
        auto* reread = dynamic_cast<TGIFUnknownAppExtension*>(again.Frames()->FrameAt(0)->Extensions()->ExtensionAt(0));
        ASSERT_NE(reread, nullptr) << "read back as another kind";
        EXPECT_EQ(std::string(reread->Identifier().begin(), reread->Identifier().end()), c.identifier);
        EXPECT_EQ(blocksOf(again), c.blocks);
    }
}

}  // namespace
