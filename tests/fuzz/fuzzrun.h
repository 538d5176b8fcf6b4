// The frame of a mutation run: seed and time budget from the environment, one random
// generator per run (so that one run replays alone), byte mutations, a crash and hang report
// that names the run, and the tally of outcomes.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// FUZZ_SEED (default a fixed one), FUZZ_SECONDS (default 3), FUZZ_RUN (replay only that run),
// FUZZ_KEEP_GOING (report every fault instead of stopping at the first), FUZZ_REPEAT (run the
// replayed run that many times and print the memory it gained: a leak grows with the count).
struct Settings {
    uint32_t seed = 20261210;
    double seconds = 3.0;
    int64_t onlyRun = -1;
    // FUZZ_FIRST_RUN: a run that is not a replay starts there (to go on where another stopped).
    int64_t firstRun = 0;
    bool keepGoing = false;
    int repeat = 1;
    static Settings FromEnvironment();
};

// The generator of one run: the same seed and run number give the same case.
std::mt19937 RunRandom(uint32_t seed, uint64_t run);

// What the crash and hang reports name; set by the loop and by each stage.
void NoteRun(uint32_t seed, uint64_t run);
void NoteStage(const char* stage);
const char* CurrentStage();
// An unhandled structured exception or std::terminate prints seed, run and stage and ends the
// process; a run that takes longer than hangSeconds (FUZZ_HANG_SECONDS, when set) does the same.
void InstallCrashReport(const char* program, int hangSeconds = 60);
// The replay line of the current run.
std::string ReplayText();

// The readable name of an exception's class.
std::string ClassName(const std::exception& e);

// Random edits of a byte string: byte values, bit flips, cuts, insertions, deletions, copies of
// stretches, interesting 16-bit little-endian values, splices with another string.
void Mutate(Bytes& bytes, std::mt19937& random, const std::vector<Bytes>& others, int maxEdits = 8);

// How many more GDI objects the process can make (the table is finite; a leak shrinks it).
int GdiHeadroom();

// The process's private memory in bytes (0 when unknown).
uint64_t PrivateBytes();

// Counts of named outcomes, printed in a fixed order.
class Tally {
public:
    void Add(const std::string& name, uint64_t n = 1) { counts_[name] += n; }
    // Keeps the largest value given under the name.
    void Max(const std::string& name, uint64_t n) { counts_[name] = std::max(counts_[name], n); }
    uint64_t Get(const std::string& name) const {
        auto it = counts_.find(name);
        return it == counts_.end() ? 0 : it->second;
    }
    void Print(const char* title, double seconds) const;

private:
    std::map<std::string, uint64_t> counts_;
};

// Runs until the budget is spent (or only the replayed run) and calls one(run, random) for each;
// one returns an empty string or the description of a fault. Returns the faults reported.
template <class One>
std::vector<std::string> RunLoop(const Settings& settings, Tally& tally, double& seconds, One&& one) {
    std::vector<std::string> faults;
    const DWORD start = GetTickCount();
    const DWORD budgetMs = static_cast<DWORD>(settings.seconds * 1000);
    const uint64_t memoryBefore = PrivateBytes();
    int repeated = 0;
    for (uint64_t run = settings.onlyRun >= 0 ? uint64_t(settings.onlyRun) : uint64_t(settings.firstRun);; ++run) {
        if (settings.onlyRun >= 0 && run != uint64_t(settings.onlyRun)) {
            if (++repeated >= settings.repeat) break;
            run = uint64_t(settings.onlyRun);
        }
        if (settings.onlyRun < 0 && GetTickCount() - start >= budgetMs) break;
        NoteRun(settings.seed, run);
        std::mt19937 random = RunRandom(settings.seed, run);
        tally.Add("streams tried");
        std::string fault = one(run, random);
        if (!fault.empty()) {
            tally.Add("faults");
            fault += " (" + ReplayText() + ")";
            std::fprintf(stderr, "FUZZ FAULT: %s\n", fault.c_str());
            std::fflush(stderr);
            faults.push_back(fault);
            if (!settings.keepGoing) break;
        }
    }
    NoteStage("done");
    if (settings.repeat > 1)
        std::printf("%d times: private memory grew by %lld KB\n", settings.repeat,
                    (static_cast<long long>(PrivateBytes()) - static_cast<long long>(memoryBefore)) / 1024);
    seconds = (GetTickCount() - start) / 1000.0;
    return faults;
}

}  // namespace fuzz
