// The re-entrant lock: how often the calling thread holds it, and letting go of every hold
// around code that must not run under it.
#include "classlib/threads.h"

#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

namespace {

// Whether another thread can take the lock within timeoutMs (it lets go at once).
bool OtherThreadTakes(TCriticalLock& lock, int timeoutMs = 500) {
    std::atomic<bool> taken{false};
    std::thread other([&] {
        lock.lock();
        taken = true;
        lock.unlock();
    });
    const DWORD start = GetTickCount();
    while (!taken && static_cast<int>(GetTickCount() - start) < timeoutMs) Sleep(1);
    const bool result = taken;
    if (!result) {
        // Let the other thread finish: the caller's holds are given up for it and taken back.
        TSharedLockRelease released(std::shared_ptr<TCriticalLock>(&lock, [](TCriticalLock*) {}));
        other.join();
    } else {
        other.join();
    }
    return result;
}

class CriticalLockRelease : public testing::TestWithParam<int> {};

// Held n times: the release gives the lock to other threads and takes it back n times, so that
// n unlocks free it again.
TEST_P(CriticalLockRelease, LetsGoOfEveryHoldAndTakesThemBack) {
    const int holds = GetParam();
    auto lock = std::make_shared<TCriticalLock>();
    for (int i = 0; i < holds; ++i) lock->lock();
    EXPECT_EQ(lock->HeldByCaller(), holds > 0);
    {
        const TSharedLockRelease released(lock);
        EXPECT_FALSE(lock->HeldByCaller());
        EXPECT_TRUE(OtherThreadTakes(*lock));
    }
    EXPECT_EQ(lock->HeldByCaller(), holds > 0);
    if (holds > 0) EXPECT_FALSE(OtherThreadTakes(*lock, 50));
    for (int i = 0; i < holds; ++i) lock->unlock();
    EXPECT_FALSE(lock->HeldByCaller());
    EXPECT_TRUE(OtherThreadTakes(*lock));
}

INSTANTIATE_TEST_SUITE_P(Holds, CriticalLockRelease, testing::Values(0, 1, 3));

// A hold keeps its share of the lock: freeing the lock's owner while it is held is safe.
TEST(SharedLockHold, OutlivesTheOwnersShare) {
    auto owner = std::make_unique<std::shared_ptr<TCriticalLock>>(std::make_shared<TCriticalLock>());
    std::weak_ptr<TCriticalLock> watch = *owner;
    {
        const TSharedLockHold hold(*owner);
        owner.reset();
        EXPECT_FALSE(watch.expired());
        EXPECT_TRUE(watch.lock()->HeldByCaller());
    }
    EXPECT_TRUE(watch.expired());
}

}  // namespace
