// Mutated movies through the SWF header reader: uncompressed ones, compressed ones with damaged
// headers, damaged zlib data and bodies that inflate to more or less than they state. No crash;
// only the class library's exceptions; the frame and colour of every movie it reads are those a
// small reference reader finds; no temporary file left however a read ends; and the inflated
// body on disk never larger than what the movie really holds.
#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>

#include "classlib/sysutils.h"
#include "fuzzrun.h"
#include "routines/swfinfo.h"
#include "tests/support/swfbuilder.h"

namespace {

using fuzz::Bytes;

const char* const kTempPrefixes[] = {"_$$$_", "_$1$_", "_$2$_"};
const char kMovieName[] = "fuzzmovie.swf";

// The reference: the rules of the header, written here on their own. The reader sees the 50
// bytes from offset 8 (zeros past the end); the frame is a RECT of 5-bit field width then four
// signed fields, in twips; the colour is a SetBackgroundColor tag right after the frame rate
// and frame count.
struct Header {
    int width = 0, height = 0, color = 0;
};
Header ReferenceHeader(const Bytes& afterSignature) {
    uint8_t buffer[50] = {};
    std::copy_n(afterSignature.begin(), std::min<size_t>(afterSignature.size(), 50), buffer);
    int64_t bit = 0;
    auto bits = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) {
            const uint8_t byte = bit / 8 < 50 ? buffer[bit / 8] : 0;
            v = (v << 1) | ((byte >> (7 - bit % 8)) & 1);
        }
        return v;
    };
    auto signedBits = [&](int n) -> int64_t {
        if (n == 0) return 0;
        const uint32_t v = bits(n);
        return (v >> (n - 1)) & 1 ? int64_t(v) - (int64_t(1) << n) : int64_t(v);
    };
    const int n = int(bits(5));
    const int64_t xMin = signedBits(n), xMax = signedBits(n), yMin = signedBits(n), yMax = signedBits(n);
    Header h;
    h.width = int((xMax - xMin) / 20);
    h.height = int((yMax - yMin) / 20);
    const int64_t tag = (bit + 7) / 8 + 4;  // bytes the frame took, then rate and count
    if (tag + 4 < 50 && buffer[tag] == 0x43 && buffer[tag + 1] == 0x02)
        h.color = (buffer[tag + 2] << 16) | (buffer[tag + 3] << 8) | buffer[tag + 4];
    return h;
}

uint32_t StatedLength(const Bytes& movie) {
    return uint32_t(movie[4]) | uint32_t(movie[5]) << 8 | uint32_t(movie[6]) << 16 | uint32_t(movie[7]) << 24;
}

// How far a compressed body is inflated: as far as the header states, but never short of the
// header bytes the reader reads, whatever the length field says.
size_t InflationBound(const Bytes& movie) { return std::max<size_t>(StatedLength(movie) - 8, 50); }

// What zlib itself gives for the body, up to limit bytes: the movie's real inflated size.
Bytes ReferenceInflate(const Bytes& packed, size_t limit) {
    Bytes out;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return out;
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = uInt(packed.size());
    uint8_t chunk[16384];
    while (out.size() < limit) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        const int result = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        if (result != Z_OK) break;
        if (z.avail_in == 0 && z.avail_out != 0) break;
    }
    inflateEnd(&z);
    if (out.size() > limit) out.resize(limit);
    return out;
}

std::string TempFolder() {
    char buffer[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, buffer);
    return buffer;
}
int64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
    return int64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}
void RemoveTemps(const std::string& folder) {
    for (const char* p : kTempPrefixes) {
        const std::string path = folder + p + kMovieName;
        if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
    }
}

std::vector<Bytes> Bodies() {
    using namespace swftest;
    std::vector<Bytes> bodies = {
        Body(Rect(15, 0, 11000, 0, 8000), BackgroundTag(0x33, 0x66, 0x99)),
        Body(Rect(0, 0, 0, 0, 0), BackgroundTag(1, 2, 3)),
        Body(Rect(31, -1000000000, 1000000000, 0, 20), BackgroundTag(0xAB, 0xCD, 0xEF)),
        Body(Rect(6, 0, 30, 0, 30), ShowFrameTag()),
        Body(Rect(20, -5000, 5000, 7, 99999), {0x7F, 0x02, 3, 0, 0, 0, 1, 2, 3}),
    };
    Bytes longBody = bodies[0];
    longBody.resize(70000, 0x5A);  // longer than one inflation buffer
    bodies.push_back(longBody);
    return bodies;
}

// Seeds: each body as FWS and CWS, and a compressed body of 4 MB that states 200 bytes.
std::vector<Bytes> Seeds() {
    std::vector<Bytes> seeds;
    for (const Bytes& body : Bodies()) {
        seeds.push_back(swftest::Fws(body));
        seeds.push_back(swftest::Cws(body));
    }
    Bytes big = Bodies()[0];
    big.resize(4 << 20, 0);
    Bytes bomb = swftest::Header("CWS", 200);
    const Bytes packed = swftest::Deflate(big);
    bomb.insert(bomb.end(), packed.begin(), packed.end());
    seeds.push_back(bomb);
    return seeds;
}

// One mutated movie: bytes anywhere, or (for a compressed one) a body rebuilt around damage to
// the zlib stream or to the stated length, so that the inflation itself is reached often.
Bytes MutatedMovie(const std::vector<Bytes>& seeds, std::mt19937& random) {
    Bytes movie = seeds[random() % seeds.size()];
    const bool compressed = movie[0] == 'C';
    switch (random() % 4) {
    case 0: fuzz::Mutate(movie, random, seeds); break;
    case 1: {  // the zlib data only: the header stays a valid CWS
        Bytes packed(movie.begin() + 8, movie.end());
        fuzz::Mutate(packed, random, {}, 4);
        movie.resize(8);
        movie.insert(movie.end(), packed.begin(), packed.end());
        break;
    }
    case 2: {  // the stated length: from too small to far too large
        static const uint32_t kLengths[] = {21,      22,      30,         58,          100,
                                            0x10000, 0x10008, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
        uint32_t length = random() % 3 ? kLengths[random() % 10] : uint32_t(random());
        for (int i = 0; i < 4; ++i) movie[4 + i] = uint8_t(length >> (8 * i));
        break;
    }
    case 3: {  // a body of random bytes, packed again: valid zlib around any header
        Bytes body(1 + random() % 80);
        for (uint8_t& b : body) b = uint8_t(random());
        if (random() % 2) body[0] = uint8_t((random() % 32) << 3);
        movie = compressed ? swftest::Cws(body) : swftest::Fws(body);
        break;
    }
    }
    // An uncompressed body under the compressed signature: not zlib data at all.
    if (!compressed && !movie.empty() && random() % 8 == 0) movie[0] = 'C';
    return movie;
}

class SwfCase {
public:
    SwfCase(const std::string& folder, fuzz::Tally& tally) : folder_(folder), tally_(tally) {}

    std::string Run(const Bytes& movie, bool blockLastTemp) {
        const std::string path = folder_ + kMovieName;
        {
            std::ofstream file(path, std::ios::binary | std::ios::trunc);
            file.write(reinterpret_cast<const char*>(movie.data()), std::streamsize(movie.size()));
        }
        RemoveTemps(folder_);
        // A folder in the place of the last temporary file makes the reader fail after it has
        // inflated the body, so that its clean-up after a late failure is seen too.
        const bool compressed = movie.size() >= 8 && movie[0] == 'C' && movie[1] == 'W' && movie[2] == 'S' &&
                                int32_t(StatedLength(movie)) >= 21;
        const bool blocked = compressed && blockLastTemp;
        if (blocked) CreateDirectoryA((folder_ + kTempPrefixes[2] + kMovieName).c_str(), nullptr);

        fuzz::NoteStage("ReadSwfInfo");
        int w = -7, h = -8, c = -9;
        std::string raised;
        bool result = false;
        try {
            result = ReadSwfInfo(path, w, h, c);
        } catch (const Exception& e) {
            raised = fuzz::ClassName(e);
        } catch (const std::exception& e) {
            return std::string("ReadSwfInfo: ") + fuzz::ClassName(e) + " " + e.what();
        } catch (...) {
            return "ReadSwfInfo: an exception of no known class";
        }
        fuzz::NoteStage("checks");
        std::string fault = raised.empty() ? CheckResult(movie, compressed, result, w, h, c) : "";
        if (fault.empty()) fault = CheckDisk(movie, compressed, blocked);
        RemoveTemps(folder_);
        if (!raised.empty()) tally_.Add("raised " + raised + (blocked ? " (last file blocked)" : ""));
        return fault;
    }

private:
    std::string CheckResult(const Bytes& movie, bool compressed, bool result, int w, int h, int c) {
        const bool movieKind = movie.size() >= 8 && movie[1] == 'W' && movie[2] == 'S' &&
                               (movie[0] == 'F' || movie[0] == 'C') && int32_t(StatedLength(movie)) >= 21;
        if (result != movieKind) return result ? "read a file that is not a movie" : "refused a movie";
        if (!result) {
            tally_.Add("not a movie");
            if (w != -7 || h != -8 || c != -9) return "a refused file wrote the results";
            return "";
        }
        Bytes body(movie.begin() + 8, movie.end());
        if (compressed) body = ReferenceInflate(body, InflationBound(movie));
        const Header expected = ReferenceHeader(body);
        if (w != expected.width || h != expected.height || c != expected.color)
            return "read " + std::to_string(w) + "x" + std::to_string(h) + " colour " + std::to_string(c) +
                   ", the reference gives " + std::to_string(expected.width) + "x" + std::to_string(expected.height) +
                   " colour " + std::to_string(expected.color);
        tally_.Add(compressed ? "read (compressed)" : "read (uncompressed)");
        return "";
    }

    // However the read ends, no temporary file is left (a folder that blocks the last one is the
    // run's own). A compressed body is then taken through the read's own first two steps again,
    // on their own: T0 holds the body, T1 at most what the body really inflates to within its
    // bound, however inflating ends.
    std::string CheckDisk(const Bytes& movie, bool compressed, bool blocked) {
        const std::string path = folder_ + kMovieName;
        std::string names[3];
        for (int i = 0; i < 3; ++i) names[i] = folder_ + kTempPrefixes[i] + kMovieName;
        for (int i = 0; i < (blocked ? 2 : 3); ++i)
            if (FileSize(names[i]) != -1) return std::string("temporary file ") + kTempPrefixes[i] + " left";
        if (!compressed) return "";
        fuzz::NoteStage("inflate steps");
        try {
            swf::SplitCompressedSwf(path, names[0]);
            swf::InflateFile(names[0], names[1]);
        } catch (const Exception&) {
        }
        const int64_t body = FileSize(names[0]), inflated = FileSize(names[1]);
        if (body != int64_t(movie.size()) - 8)
            return "the compressed body on disk has " + std::to_string(body) + " bytes, the movie " +
                   std::to_string(movie.size() - 8);
        if (inflated >= 0) {
            const int64_t stated = int64_t(InflationBound(movie));
            const int64_t real = int64_t(
                ReferenceInflate(Bytes(movie.begin() + 8, movie.end()), size_t(stated) + 1).size());
            if (inflated > std::min(stated, real))
                return "inflated " + std::to_string(inflated) + " bytes to disk; the bound is " +
                       std::to_string(stated) + " and holds " + (real > stated ? "more" : std::to_string(real));
            tally_.Add("inflated size measured");
        }
        return "";
    }

    std::string folder_;
    fuzz::Tally& tally_;
};

TEST(SwfInfoFuzz, MutatedMoviesNeverCrashLeaveFilesOrFillTheDisk) {
    fuzz::InstallCrashReport("swfinfo_fuzz");
    // The reader's temporary folder is one of this run's own.
    const std::string folder = TempFolder() + "swfinfo_fuzz_" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    SetEnvironmentVariableA("TMP", folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.c_str());
    ASSERT_EQ(TempFolder(), folder);

    const fuzz::Settings settings = fuzz::Settings::FromEnvironment();
    const std::vector<Bytes> seeds = Seeds();
    fuzz::Tally tally;
    SwfCase one(folder, tally);
    double seconds = 0;
    const std::vector<std::string> faults = fuzz::RunLoop(settings, tally, seconds,
                                                          [&](uint64_t, std::mt19937& random) {
                                                              const Bytes movie = MutatedMovie(seeds, random);
                                                              return one.Run(movie, random() % 3 == 0);
                                                          });
    tally.Print("SWF header reader", seconds);
    DeleteFileA((folder + kMovieName).c_str());
    RemoveTemps(folder);
    RemoveDirectoryA(folder.c_str());
    for (const std::string& fault : faults) ADD_FAILURE() << fault;
    if (settings.onlyRun >= 0) return;
    EXPECT_GT(tally.Get("read (compressed)"), 0u);
    EXPECT_GT(tally.Get("read (uncompressed)"), 0u);
    EXPECT_GT(tally.Get("inflated size measured"), 0u);
}

}  // namespace
