#include "fuzzrun.h"

#include <psapi.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <typeinfo>

namespace fuzz {
namespace {
volatile uint32_t noteSeed = 0;
volatile LONG64 noteRun = -1;
const char* volatile noteStage = "start";
// Counts the runs begun, so that the watchdog also sees a repeated run move on.
volatile LONG runsBegun = 0;
const char* programName = "fuzz";
int hangLimitSeconds = 60;

void PrintReport(const char* what) {
    std::fprintf(stderr, "FUZZ %s in %s, stage %s: replay with FUZZ_SEED=%u FUZZ_RUN=%lld\n", what, programName,
                 noteStage, noteSeed, static_cast<long long>(noteRun));
    std::fflush(stderr);
}

LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* info) {
    char what[64];
    std::snprintf(what, sizeof what, "CRASH (exception 0x%08lx)",
                  info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0ul);
    PrintReport(what);
    ExitProcess(3);
}

void OnTerminate() {
    PrintReport("CRASH (std::terminate)");
    ExitProcess(3);
}

// Checks once a second that the current run moves on.
DWORD WINAPI Watchdog(void*) {
    LONG lastBegun = -1;
    DWORD since = GetTickCount();
    for (;;) {
        Sleep(1000);
        const LONG begun = runsBegun;
        if (begun != lastBegun) {
            lastBegun = begun;
            since = GetTickCount();
        } else if (noteRun >= 0 && GetTickCount() - since > DWORD(hangLimitSeconds) * 1000) {
            PrintReport("HANG");
            ExitProcess(4);
        }
    }
}

double EnvNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::atof(text) : fallback;
}
}  // namespace

Settings Settings::FromEnvironment() {
    Settings s;
    s.seed = static_cast<uint32_t>(EnvNumber("FUZZ_SEED", s.seed));
    s.seconds = EnvNumber("FUZZ_SECONDS", s.seconds);
    s.onlyRun = static_cast<int64_t>(EnvNumber("FUZZ_RUN", -1));
    s.firstRun = static_cast<int64_t>(EnvNumber("FUZZ_FIRST_RUN", 0));
    s.keepGoing = EnvNumber("FUZZ_KEEP_GOING", 0) != 0;
    s.repeat = std::max(1, static_cast<int>(EnvNumber("FUZZ_REPEAT", 1)));
    return s;
}

std::mt19937 RunRandom(uint32_t seed, uint64_t run) {
    std::seed_seq sequence{seed, static_cast<uint32_t>(run), static_cast<uint32_t>(run >> 32)};
    return std::mt19937(sequence);
}

void NoteRun(uint32_t seed, uint64_t run) {
    noteSeed = seed;
    noteStage = "mutate";
    noteRun = static_cast<LONG64>(run);
    InterlockedIncrement(&runsBegun);
}
void NoteStage(const char* stage) { noteStage = stage; }
const char* CurrentStage() { return noteStage; }

std::string ReplayText() {
    return "FUZZ_SEED=" + std::to_string(noteSeed) + " FUZZ_RUN=" + std::to_string(static_cast<long long>(noteRun));
}

void InstallCrashReport(const char* program, int hangSeconds) {
    static bool installed = false;
    programName = program;
    const char* hang = std::getenv("FUZZ_HANG_SECONDS");
    hangLimitSeconds = hang && std::atoi(hang) > 0 ? std::atoi(hang) : hangSeconds;
    if (installed) return;
    installed = true;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnUnhandled);
    std::set_terminate(OnTerminate);
    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
}

std::string ClassName(const std::exception& e) {
    int status = 0;
    char* name = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
    std::string text = status == 0 && name ? name : typeid(e).name();
    std::free(name);
    return text;
}

void Mutate(Bytes& bytes, std::mt19937& random, const std::vector<Bytes>& others, int maxEdits) {
    static const uint16_t kInteresting[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, 0x3FF, 0x1000, 0x7FFF, 0x8000, 0xFFFF};
    const int edits = 1 + int(random() % uint32_t(maxEdits));
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
        const size_t at = random() % bytes.size();
        switch (random() % 9) {
        case 0: bytes[at] = static_cast<uint8_t>(random()); break;
        case 1: bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
        case 2: bytes[at] = (random() & 1) ? 0xFF : 0x00; break;
        case 3: bytes.resize(at); break;
        case 4: bytes.insert(bytes.begin() + at, 1 + random() % 16, static_cast<uint8_t>(random())); break;
        case 5: {
            const size_t n = std::min<size_t>(1 + random() % 32, bytes.size() - at);
            bytes.erase(bytes.begin() + at, bytes.begin() + at + n);
            break;
        }
        case 6: {  // a stretch copied elsewhere: repeated blocks, frames and sub-blocks
            const size_t n = std::min<size_t>(1 + random() % 256, bytes.size() - at);
            const Bytes piece(bytes.begin() + at, bytes.begin() + at + n);
            const size_t to = random() % (bytes.size() + 1);
            bytes.insert(bytes.begin() + to, piece.begin(), piece.end());
            break;
        }
        case 7: {  // sizes, positions and counts are 16-bit little-endian fields
            const uint16_t v = kInteresting[random() % (sizeof kInteresting / sizeof kInteresting[0])];
            bytes[at] = static_cast<uint8_t>(v);
            if (at + 1 < bytes.size()) bytes[at + 1] = static_cast<uint8_t>(v >> 8);
            break;
        }
        case 8: {  // the tail of another string after a cut
            if (others.empty()) break;
            const Bytes& other = others[random() % others.size()];
            if (other.empty()) break;
            const size_t from = random() % other.size();
            bytes.resize(at);
            bytes.insert(bytes.end(), other.begin() + from, other.end());
            break;
        }
        }
    }
}

int GdiHeadroom() {
    std::vector<HGDIOBJ> made;
    for (;;) {
        HGDIOBJ pen = CreatePen(PS_SOLID, 1, RGB(made.size() & 255, 0, 0));
        if (!pen) break;
        made.push_back(pen);
        if (made.size() >= 200000) break;
    }
    for (HGDIOBJ object : made) DeleteObject(object);
    return int(made.size());
}

uint64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PagefileUsage : 0;
}

void Tally::Print(const char* title, double seconds) const {
    const uint64_t tried = Get("streams tried");
    std::printf("%s: %.1f s, %llu streams, %.1f streams/s\n", title, seconds, static_cast<unsigned long long>(tried),
                seconds > 0 ? tried / seconds : 0.0);
    for (const auto& [name, n] : counts_)
        std::printf("  %-34s %llu\n", name.c_str(), static_cast<unsigned long long>(n));
    std::fflush(stdout);
}

}  // namespace fuzz
