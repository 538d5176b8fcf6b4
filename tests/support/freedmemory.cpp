#include "tests/support/freedmemory.h"

#include <windows.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
// Enough blocks that one freed by a test is still held when the test ends.
constexpr size_t kHeldBlocks = 16384;
// The frames' pixel buffers come here too: the oldest held blocks go back to the heap early
// rather than hold more than this.
constexpr size_t kHeldBytes = 64u << 20;

struct HeldBlock {
    unsigned char* bytes;
    size_t size;
};
// Plain zero-initialised data: operator delete runs before any constructor of the program.
HeldBlock held[kHeldBlocks];
size_t nextHeld;
size_t heldBytes;
volatile LONG holdLock;
volatile LONG writtenAfterRelease;
volatile LONG liveBlocks;
char faultNote[256];

class HoldLock {
public:
    HoldLock() {
        while (InterlockedExchange(&holdLock, 1) != 0) Sleep(0);
    }
    ~HoldLock() { InterlockedExchange(&holdLock, 0); }
    HoldLock(const HoldLock&) = delete;
    HoldLock& operator=(const HoldLock&) = delete;
};

bool StillFreed(const HeldBlock& block) {
    for (size_t i = 0; i < block.size; ++i)
        if (block.bytes[i] != kFreedByte) return false;
    return true;
}

void* Allocate(size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    InterlockedIncrement(&liveBlocks);
    return block;
}

void* AllocateOrNull(size_t size) noexcept {
    void* block = std::malloc(size ? size : 1);
    if (block) InterlockedIncrement(&liveBlocks);
    return block;
}

void Release(void* block) noexcept {
    if (!block) return;
    InterlockedDecrement(&liveBlocks);
    const HeldBlock freed{static_cast<unsigned char*>(block), _msize(block)};
    std::memset(freed.bytes, kFreedByte, freed.size);
    // The block it replaces, and while too much is held the oldest ones after it.
    constexpr size_t kMaxLeaving = 64;
    HeldBlock leaving[kMaxLeaving];
    size_t leavingCount = 0;
    {
        HoldLock lock;
        const size_t newest = nextHeld;
        leaving[leavingCount++] = held[newest];
        heldBytes = heldBytes - held[newest].size + freed.size;
        held[newest] = freed;
        nextHeld = (newest + 1) % kHeldBlocks;
        for (size_t oldest = nextHeld; heldBytes > kHeldBytes && oldest != newest && leavingCount < kMaxLeaving;
             oldest = (oldest + 1) % kHeldBlocks) {
            if (!held[oldest].bytes) continue;
            heldBytes -= held[oldest].size;
            leaving[leavingCount++] = held[oldest];
            held[oldest] = HeldBlock{};
        }
    }
    for (size_t i = 0; i < leavingCount; ++i) {
        if (!leaving[i].bytes) continue;
        if (!StillFreed(leaving[i])) InterlockedIncrement(&writtenAfterRelease);
        std::free(leaving[i].bytes);
    }
}

LONG WINAPI ReportFault(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    std::fflush(stdout);
    std::fprintf(stderr, "fault %08lX at %p", record.ExceptionCode, record.ExceptionAddress);
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2)
        std::fprintf(stderr, ", %s %p", record.ExceptionInformation[0] ? "writing" : "reading",
                     reinterpret_cast<void*>(record.ExceptionInformation[1]));
    std::fprintf(stderr, "\n");
    if (faultNote[0]) std::fprintf(stderr, "while %s\n", faultNote);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Set after the C run-time's own filter, which the start-up code installs first; no error box
// waits for a click either.
const bool faultsReported = [] {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(&ReportFault);
    return true;
}();
}  // namespace

size_t FreedBlocksWritten() {
    size_t written = static_cast<size_t>(writtenAfterRelease);
    HoldLock lock;
    for (const HeldBlock& block : held)
        if (block.bytes && !StillFreed(block)) ++written;
    return written;
}

size_t LiveBlocks() { return static_cast<size_t>(liveBlocks); }

void NoteForFaults(const char* text) { std::snprintf(faultNote, sizeof faultNote, "%s", text ? text : ""); }

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
