// Prints what a header read costs: a large compressed movie against a plain inflation of
// the same body, and an uncompressed header read.
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>

#include "routines/swfinfo.h"
#include "tests/support/bench.h"
#include "tests/support/swfbuilder.h"

using namespace swftest;

namespace {
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Inflates the zlib data in memory and throws the output away.
size_t PlainInflate(const std::vector<uint8_t>& packed) {
    z_stream z{};
    inflateInit(&z);
    std::vector<uint8_t> out(1 << 16);
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = uInt(packed.size());
    size_t total = 0;
    int rc;
    do {
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        total += out.size() - z.avail_out;
    } while (rc == Z_OK);
    inflateEnd(&z);
    return total;
}
}  // namespace

int main() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = temp;

    // A movie body of 40 MB that compresses like real content (repeating, slightly varying).
    std::vector<uint8_t> body = Body(Rect(15, 0, 11000, 0, 8000), BackgroundTag(0x33, 0x66, 0x99));
    uint32_t seed = 12345;
    while (body.size() < (40u << 20)) {
        seed = seed * 1103515245u + 12345u;
        body.push_back(uint8_t((seed >> 16) & 0x1F));
    }
    std::vector<uint8_t> cws = Cws(body);
    std::vector<uint8_t> packed(cws.begin() + 8, cws.end());
    std::string cwsPath = folder + "bench_large.swf";
    std::string fwsPath = folder + "bench_plain.swf";
    WriteFile(cwsPath, cws);
    WriteFile(fwsPath, Fws(Body(Rect(15, 0, 11000, 0, 8000), BackgroundTag(1, 2, 3))));

    const int rounds = 3;
    double best = 1e9, bestPlain = 1e9;
    for (int i = 0; i < rounds; ++i) {
        int w, h, c;
        double t0 = Seconds();
        ReadSwfInfo(cwsPath, w, h, c);
        best = std::min(best, Seconds() - t0);
        t0 = Seconds();
        PlainInflate(packed);
        bestPlain = std::min(bestPlain, Seconds() - t0);
    }
    const int headerReads = 2000;
    double t0 = Seconds();
    for (int i = 0; i < headerReads; ++i) {
        int w, h, c;
        ReadSwfInfo(fwsPath, w, h, c);
    }
    double perHeader = (Seconds() - t0) / headerReads;

    std::printf("compressed movie: %.1f MB inflated from %.1f MB\n", body.size() / 1048576.0,
                packed.size() / 1048576.0);
    std::printf("ReadSwfInfo (CWS, through temporary files): %.3f s\n", best);
    std::printf("plain zlib inflate in memory:               %.3f s\n", bestPlain);
    std::printf("ratio ReadSwfInfo / plain inflate:          %.2f\n", best / bestPlain);
    std::printf("ReadSwfInfo (FWS header only):              %.1f us per read\n", perHeader * 1e6);
    DeleteFileA(cwsPath.c_str());
    DeleteFileA(fwsPath.c_str());
    return 0;
}
