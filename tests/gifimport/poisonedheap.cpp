// Freed objects are filled with 0xDD and held back from reuse for a while, so that a use after
// free reads 0xDDDDDDDD (a virtual call through it faults) instead of whatever the heap put there.
#include <windows.h>

#include <malloc.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr size_t kHeldBack = 1 << 15;
void* heldBack[kHeldBack];
size_t nextSlot = 0;
SRWLOCK heldBackLock = SRWLOCK_INIT;

void* Allocate(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

void Poison(void* p) noexcept {
    if (!p) return;
    std::memset(p, 0xDD, _msize(p));
    AcquireSRWLockExclusive(&heldBackLock);
    void* oldest = heldBack[nextSlot];
    heldBack[nextSlot] = p;
    nextSlot = (nextSlot + 1) % kHeldBack;
    ReleaseSRWLockExclusive(&heldBackLock);
    std::free(oldest);
}

// A fault ends the program at once with its address, rather than waiting for a debugger.
LONG WINAPI ReportFault(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    std::fprintf(stderr, "fault %08lx at %p (address %p)\n", record.ExceptionCode, record.ExceptionAddress,
                 record.NumberParameters > 1 ? reinterpret_cast<void*>(record.ExceptionInformation[1]) : nullptr);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

const bool faultsReported = [] {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(ReportFault);
    return true;
}();

} // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p) noexcept { Poison(p); }
void operator delete[](void* p) noexcept { Poison(p); }
void operator delete(void* p, size_t) noexcept { Poison(p); }
void operator delete[](void* p, size_t) noexcept { Poison(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Poison(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Poison(p); }
