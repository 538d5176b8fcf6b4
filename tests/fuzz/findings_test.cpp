// Faults the mutation runs found, each kept as a small case of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include "classlib/threads.h"
#include "fuzzrun.h"
#include "gifimage/gifimage.h"

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

} // namespace
