// Rendering throughput: every frame of a picture rendered with its own colours and dithered to
// the web palette, in megapixels per second, against Windows' imaging component converting the
// same frames to 32-bit colour.
// Usage: bench_gifrender [folder with photo.gif, flat.gif, animation.gif]
#include <windows.h>

#include <cstdio>
#include <string>

#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "tests/support/bench.h"
#include "tests/support/wic.h"

namespace {

// Renders every frame of the image afresh; the pixels rendered.
double RenderAll(TGIFImage& image) {
    double pixels = 0;
    for (int i = 0; i < image.Frames()->ItemCount(); ++i) {
        TGIFSubImage* frame = image.Frames()->FrameAt(i);
        frame->ReleaseBitmap();
        frame->ReleaseMask();
        frame->RenderedBitmap();
        pixels += double(frame->Width()) * frame->Height();
    }
    return pixels;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : GIF_BENCH_DIR;
    std::printf("%-14s %7s %8s %13s %13s %13s\n", "file", "frames", "Mpixel", "direct Mp/s", "dither Mp/s",
                "WIC 32bpp Mp/s");
    for (const char* name : {"photo.gif", "flat.gif", "animation.gif"}) {
        const std::vector<uint8_t> bytes = ReadWholeFile(folder + "\\" + name);
        if (bytes.empty()) {
            std::printf("%s: missing in %s\n", name, folder.c_str());
            return 1;
        }
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        stream.SetPosition(0);
        TGIFImage image;
        image.LoadFromStream(stream);
        double pixels = 0;
        image.SetDrawFlags(0);
        const double direct = BestTime([&] { pixels = RenderAll(image); }, 1.0, 3);
        image.SetDrawFlags(dfDither);
        for (int i = 0; i < image.Frames()->ItemCount(); ++i) image.Frames()->FrameAt(i)->SetPaletteHandle(nullptr);
        const double dithered = BestTime([&] { RenderAll(image); }, 1.0, 3);
        const double wic = BestTime([&] { DecodeToBGRA(bytes.data(), bytes.size()); }, 1.0, 3);
        const double mp = pixels / 1e6;
        std::printf("%-14s %7d %8.2f %13.1f %13.1f %13.1f\n", name, image.Frames()->ItemCount(), mp, mp / direct,
                    mp / dithered, mp / wic);
    }
    return 0;
}
