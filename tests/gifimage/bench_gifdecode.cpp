// Decoding speed of TGIFImage::LoadFromStream against giflib and Windows' own GIF decoder, whole
// files from memory, in MB of pixels per second and as ratios, with a check that giflib finds
// the same colour indexes as we do. "ours" reloads one image, whose frames' buffers the load
// reads into; "new image" loads into an image made and freed each time, as giflib's figure
// allocates and frees its frames each time. The three take turns, run by run.
// Usage: bench_gifdecode [folder with photo.gif, flat.gif, animation.gif]
#include <cstdio>
#include <string>

#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "tests/gifimage/giflib_peer.h"
#include "tests/support/wic.h"

using namespace giflib_peer;

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : GIF_BENCH_DIR;
    WICGifDecoder wic;
    if (!wic.Available()) {
        std::printf("Windows imaging component not available\n");
        return 1;
    }
    std::printf(
        "GIF decoding, whole files from memory (best of at least 10 runs, ours and giflib's in turn; MB of pixels per "
        "second)\n\n");
    std::printf("%-11s %9s %6s %7s %9s %9s %9s %9s %10s %9s %9s %8s\n", "image", "size", "frames", "Mpixel", "ours",
                "new image", "giflib", "WIC", "ours/gif", "new/gif", "ours/WIC", "indexes");
    for (const BenchImage& bench : BenchImages(folder)) {
        if (bench.file.empty()) {
            std::printf("%s: missing in %s\n", bench.name.c_str(), folder.c_str());
            return 1;
        }
        TMemoryStream stream;
        stream.WriteBuffer(bench.file.data(), static_cast<int32_t>(bench.file.size()));
        TGIFImage image;
        // Reload, load into a new image and giflib take turns, so that they meet the same load.
        const std::vector<double> best = BestTimesInTurn({[&] {
                                                              stream.SetPosition(0);
                                                              image.LoadFromStream(stream);
                                                          },
                                                          [&] {
                                                              stream.SetPosition(0);
                                                              TGIFImage another;
                                                              another.LoadFromStream(stream);
                                                          },
                                                          [&] { Close(Slurp(bench.file)); }});
        const double ours = best[0], fresh = best[1], theirs = best[2];
        size_t wicFrames = 0;
        const double windows = BestTime(
            [&] { wicFrames = wic.Decode(bench.file.data(), bench.file.size()).frames.size(); });

        const std::vector<Frame> peer = DecodeFrames(bench.file);
        const int frames = image.Frames()->ItemCount();
        bool same = static_cast<int>(peer.size()) == frames && wicFrames == peer.size();
        double pixels = 0;
        for (int i = 0; i < frames; ++i) {
            const TGIFSubImage* frame = image.Frames()->FrameAt(i);
            pixels += static_cast<double>(frame->PixelsSize());
            same = same && i < static_cast<int>(peer.size()) &&
                   Bytes(frame->Pixels(), frame->Pixels() + frame->PixelsSize()) == peer[i].indexes;
        }
        const double mpx = pixels / 1e6;
        char size[32];
        std::snprintf(size, sizeof size, "%dx%d", image.ScreenWidth(), image.ScreenHeight());
        std::printf("%-11s %9s %6d %7.2f %9.1f %9.1f %9.1f %9.1f %10.2f %9.2f %9.2f %8s\n", bench.name.c_str(), size,
                    frames, mpx, mpx / ours, mpx / fresh, mpx / theirs, mpx / windows, theirs / ours, theirs / fresh,
                    windows / ours, same ? "same" : "DIFFER");
        std::fflush(stdout);
    }
    std::printf(
        "\nours/gif, new/gif, ours/WIC: our speed (reloading, into a new image) over theirs. indexes: every "
        "frame's indexes equal giflib's (and WIC found as many frames).\n");
    return 0;
}
