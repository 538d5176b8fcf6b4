// Threads and the queue through which they hand work to the GUI thread.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Runs work on the GUI thread and waits until it has run. Called on the GUI thread it runs
// at once. Exceptions raised by work are passed back to the calling thread.
void Synchronize(const std::function<void()>& work);
// Runs the work queued by other threads; the GUI thread calls it when it handles messages.
// Returns true when something ran.
bool CheckSynchronize();
// The thread that counts as the GUI thread (the one that initialised the class library).
DWORD MainThreadID();
// Called when work is queued, to wake the GUI thread (the application posts itself a message).
extern void (*WakeMainThread)();

// A thread whose body is Execute. Created suspended or running; FreeOnTerminate makes the
// object delete itself when the body ends.
class TThread {
public:
    explicit TThread(bool createSuspended);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();  // starts a suspended thread
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // Waits for the body to end and returns its exit value.
    DWORD WaitFor();
    HANDLE Handle() const { return handle_; }
    DWORD ThreadID() const { return id_; }
    int Priority() const;
    void SetPriority(int priority);  // THREAD_PRIORITY_* values
    bool FreeOnTerminate = false;
    bool Finished() const { return finished_; }
    bool Suspended() const { return !started_; }
    // Run on the GUI thread through Synchronize after the body has ended (not for a thread
    // destroyed before it was started).
    std::function<void()> OnTerminate;

protected:
    virtual void Execute() = 0;
    void Synchronize(const std::function<void()>& work) { ::Synchronize(work); }
    DWORD ReturnValue = 0;

private:
    static DWORD WINAPI ThreadProc(void* self);
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
    // Written by one thread and read by another.
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    bool started_ = false;
};

// A re-entrant lock of the system's own. This tool chain's std::recursive_mutex never frees
// what its first lock allocates, so every list once locked would leak it. It knows how often
// the calling thread holds it, so that a holder can let go of it entirely around code that
// must not run under it (a handler, a wait for another thread).
class TCriticalLock {
public:
    TCriticalLock() { InitializeCriticalSection(&section_); }
    ~TCriticalLock() { DeleteCriticalSection(&section_); }
    TCriticalLock(const TCriticalLock&) = delete;
    TCriticalLock& operator=(const TCriticalLock&) = delete;
    void lock() {
        EnterCriticalSection(&section_);
        owner_.store(GetCurrentThreadId(), std::memory_order_relaxed);
        ++depth_;
    }
    void unlock() {
        if (--depth_ == 0) owner_.store(0, std::memory_order_relaxed);
        LeaveCriticalSection(&section_);
    }
    bool HeldByCaller() const { return owner_.load(std::memory_order_relaxed) == GetCurrentThreadId(); }
    // Lets go of every hold of the calling thread and answers how many there were.
    int ReleaseAll() {
        if (!HeldByCaller()) return 0;
        const int depth = depth_;
        for (int i = 0; i < depth; ++i) unlock();
        return depth;
    }
    void Reacquire(int depth) {
        for (int i = 0; i < depth; ++i) lock();
    }

private:
    CRITICAL_SECTION section_;
    // Written only by the holder; another thread reads it only to see that it is not the holder,
    // which needs no ordering: a thread always sees its own last write.
    std::atomic<DWORD> owner_{0};
    int depth_ = 0;
};

// Holds a shared lock from construction to destruction. The share keeps the lock alive when
// whatever owned it is freed while it is held (by a handler, say).
class TSharedLockHold {
public:
    explicit TSharedLockHold(std::shared_ptr<TCriticalLock> lock) : lock_(std::move(lock)) { lock_->lock(); }
    ~TSharedLockHold() { lock_->unlock(); }
    TSharedLockHold(const TSharedLockHold&) = delete;
    TSharedLockHold& operator=(const TSharedLockHold&) = delete;

private:
    std::shared_ptr<TCriticalLock> lock_;
};

// Lets go of a shared lock the calling thread holds, however often, for its lifetime, and then
// takes it back as often as it was held. Nothing when the caller does not hold it.
class TSharedLockRelease {
public:
    explicit TSharedLockRelease(std::shared_ptr<TCriticalLock> lock)
        : lock_(std::move(lock))
        , depth_(lock_ ? lock_->ReleaseAll() : 0) {}
    ~TSharedLockRelease() {
        if (depth_) lock_->Reacquire(depth_);
    }
    TSharedLockRelease(const TSharedLockRelease&) = delete;
    TSharedLockRelease& operator=(const TSharedLockRelease&) = delete;

private:
    std::shared_ptr<TCriticalLock> lock_;
    int depth_;
};

// A list guarded by a re-entrant lock: LockList gives the list and holds the lock until UnlockList.
template <typename T>
class TThreadList {
public:
    std::vector<T>& LockList() {
        mutex_.lock();
        return items_;
    }
    void UnlockList() { mutex_.unlock(); }
    void Add(const T& item) {
        std::lock_guard<TCriticalLock> g(mutex_);
        items_.push_back(item);
    }
    void Remove(const T& item) {
        std::lock_guard<TCriticalLock> g(mutex_);
        for (auto it = items_.begin(); it != items_.end(); ++it)
            if (*it == item) {
                items_.erase(it);
                return;
            }
    }
    void Clear() {
        std::lock_guard<TCriticalLock> g(mutex_);
        items_.clear();
    }

private:
    TCriticalLock mutex_;
    std::vector<T> items_;
};
