// Faults the mutation runs found, each kept as a small case of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include "../gifimage/gifbuilder.h"
#include "classlib/threads.h"
#include "fuzzrun.h"
#include "gifimage/extensions.h"
#include "gifimage/gifimage.h"
#include "gifimage/messages.h"

namespace {

// Growth of the process's private memory over count calls of make, after a warm-up that lets
// the heap reach its working size.
template <class Make> int64_t MemoryGrowth(int count, Make make) {
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
        {"thread list", 40000, [] {
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

// An application block's identifier block longer than 11 bytes was read as unknown data
// whatever its identifier, and the save then wrote it with the usual 11 bytes: a loop identifier
// over other data became a loop extension that the next load refused. A longer block now has
// the class of its identifier, as it will after the save.
TEST(FuzzFindings, LongerIdentifierBlocksHaveTheClassTheyWillHaveWhenSaved) {
    auto appBlock = [](int size, const std::string& identifier, const Bytes& data) {
        GifBytes b = GifBytes().Header(8, 8, 4).Raw({'!', 0xFF, size}).Text(identifier);
        b.Raw(Bytes(size_t(size) - identifier.size(), 0)).Raw(data);
        return b.Frame(0, 0, 8, 8, Bytes(64, 1)).Trailer().b;
    };
    // Not loop data: refused at once, not after a save.
    EXPECT_EQ(LoadError(appBlock(46, "NETSCAPE2.0", {2, 2, 2, 1, 'x', 0})), sInvalidData);

    struct Case {
        const char* name;
        int size;
        const char* identifier;
    } cases[] = {{"NETSCAPE2.0 in 12 bytes", 12, "NETSCAPE2.0"}, {"ANIMEXTS1.0 in 46 bytes", 46, "ANIMEXTS1.0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = LoadGif(appBlock(c.size, c.identifier, {3, 1, 7, 0, 0}));
        ASSERT_EQ(image->Frames->ItemCount(), 1);
        auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(image->Frames->FrameAt(0)->Extensions->ExtensionAt(0));
        ASSERT_NE(loop, nullptr);
        EXPECT_EQ(loop->LoopCount, 7);
        // What the save writes loads again, with the same loop count.
        TMemoryStream saved;
        image->SaveToStream(saved);
        TGIFImage again;
        saved.SetPosition(0);
        ASSERT_NO_THROW(again.LoadFromStream(saved));
        auto* reread = dynamic_cast<TGIFAppExtNSLoop*>(again.Frames->FrameAt(0)->Extensions->ExtensionAt(0));
        ASSERT_NE(reread, nullptr);
        EXPECT_EQ(reread->LoopCount, 7);
    }
}

} // namespace
