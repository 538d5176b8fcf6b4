// Decoding throughput of TGIFImage::LoadFromStream against Windows' own GIF decoder, in MB of pixels
// per second, on a photo-like picture, a flat-colour picture and a long animation.
// Usage: bench_gifdecode [folder with photo.gif, flat.gif, animation.gif]
#include <windows.h>

#include <cstdio>
#include <string>

#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "wicdecode.h"

namespace {

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs work until at least minSeconds have passed (and at least 3 times); the best time of one run.
template <class Work> double BestTime(Work&& work, double minSeconds = 1.5) {
    double best = 1e30, total = 0;
    for (int runs = 0; runs < 3 || total < minSeconds; ++runs) {
        const double start = Seconds();
        work();
        const double t = Seconds() - start;
        total += t;
        if (t < best) best = t;
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : GIF_BENCH_DIR;
    WICGifDecoder wic;
    if (!wic.Available()) {
        std::printf("Windows imaging component not available\n");
        return 1;
    }
    std::printf("%-14s %8s %7s %12s %12s %7s\n", "file", "frames", "Mpixel", "ours MB/s", "WIC MB/s", "ratio");
    for (const char* name : {"photo.gif", "flat.gif", "animation.gif"}) {
        const std::vector<uint8_t> bytes = ReadWholeFile(folder + "\\" + name);
        if (bytes.empty()) {
            std::printf("%s: missing in %s\n", name, folder.c_str());
            return 1;
        }
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        TGIFImage image;
        double pixels = 0;
        const double ours = BestTime([&] {
            stream.SetPosition(0);
            image.LoadFromStream(stream);
        });
        for (int i = 0; i < image.Frames->ItemCount(); ++i) pixels += image.Frames->FrameAt(i)->PixelsSize;
        size_t wicFrames = 0;
        const double theirs = BestTime([&] { wicFrames = wic.Decode(bytes.data(), bytes.size()).frames.size(); });
        const double megapixels = pixels / 1e6;
        std::printf("%-14s %8d %7.2f %12.1f %12.1f %7.2f\n", name, image.Frames->ItemCount(), megapixels,
                    megapixels / ours, megapixels / theirs, theirs / ours);
        if (wicFrames != static_cast<size_t>(image.Frames->ItemCount())) std::printf("  frame counts differ\n");
    }
    return 0;
}
