#include "classlib/threads.h"

#include <deque>
#include <exception>
#include <stdexcept>

namespace {
struct SyncRequest {
    const std::function<void()>* work;
    HANDLE done;
    std::exception_ptr error;
};
std::mutex& QueueLock() {
    static std::mutex lock;
    return lock;
}
std::deque<SyncRequest*>& Queue() {
    static std::deque<SyncRequest*> queue;
    return queue;
}
const DWORD mainThread = GetCurrentThreadId();
// Signalled whenever work is queued, so that a GUI-thread wait can serve it.
HANDLE SyncEvent() {
    static HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}
}  // namespace

void (*WakeMainThread)() = nullptr;

DWORD MainThreadID() { return mainThread; }

void Synchronize(const std::function<void()>& work) {
    if (GetCurrentThreadId() == mainThread) {
        work();
        return;
    }
    SyncRequest request{&work, CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr};
    {
        std::lock_guard<std::mutex> g(QueueLock());
        Queue().push_back(&request);
    }
    SetEvent(SyncEvent());
    if (WakeMainThread) WakeMainThread();
    WaitForSingleObject(request.done, INFINITE);
    CloseHandle(request.done);
    if (request.error) std::rethrow_exception(request.error);
}

bool CheckSynchronize() {
    if (GetCurrentThreadId() != mainThread) return false;
    bool ran = false;
    for (;;) {
        SyncRequest* request;
        {
            std::lock_guard<std::mutex> g(QueueLock());
            if (Queue().empty()) break;
            request = Queue().front();
            Queue().pop_front();
        }
        try {
            (*request->work)();
        } catch (...) {
            request->error = std::current_exception();
        }
        SetEvent(request->done);
        ran = true;
    }
    return ran;
}

TThread::TThread(bool createSuspended) {
    handle_ = CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &id_);
    if (!handle_) throw std::runtime_error("Thread creation error");
    if (!createSuspended) Start();
}

TThread::~TThread() {
    if (started_ && !finished_ && GetCurrentThreadId() != id_) {
        Terminate();
        WaitFor();
    }
    if (!started_) {
        // A thread that never ran: let it end without running the body.
        terminated_ = true;
        finished_ = true;
        ResumeThread(handle_);
        WaitForSingleObject(handle_, INFINITE);
    }
    CloseHandle(handle_);
}

void TThread::Start() {
    if (started_) return;
    started_ = true;
    ResumeThread(handle_);
}

DWORD TThread::WaitFor() {
    if (GetCurrentThreadId() == mainThread) {
        // Keep serving synchronised work so that a thread waiting on us can finish.
        HANDLE handles[2] = {handle_, SyncEvent()};
        while (MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0)
            CheckSynchronize();
        CheckSynchronize();
    } else {
        WaitForSingleObject(handle_, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeThread(handle_, &code);
    return code;
}

int TThread::Priority() const { return GetThreadPriority(handle_); }

void TThread::SetPriority(int priority) { SetThreadPriority(handle_, priority); }

DWORD WINAPI TThread::ThreadProc(void* self) {
    TThread* thread = static_cast<TThread*>(self);
    if (thread->finished_) return 0;  // destroyed before it was started
    try {
        thread->Execute();
    } catch (...) {
    }
    if (thread->OnTerminate) {
        try {
            ::Synchronize(thread->OnTerminate);
        } catch (...) {
        }
    }
    DWORD result = thread->ReturnValue;
    bool freeSelf = thread->FreeOnTerminate;
    thread->finished_ = true;
    if (freeSelf) delete thread;
    return result;
}
