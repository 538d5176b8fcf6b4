// Benchmark, not a test. First whole-image saving (TGIFImage::SaveToStream) against giflib's
// encoder on the decoding benchmark's images, with a check that giflib reads our output back to
// the same indexes; then LZW encoding speed against Wine's WIC GIF encoder, and compressed size
// against WIC, ImageMagick and gifsicle -O3 on the same pixels. Prints figures; always exits 0
// unless an encoder fails outright.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <wincodec.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "gifimage/gifimage.h"
#include "gifimage/subimage.h"
#include "tests/gifimage/giflib_peer.h"
#include "tests/gifwriter/gifwriter_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// Best of a few runs of enough repetitions to last about a quarter of a second: pixel MB per second.
double Throughput(size_t pixels, const std::function<void()>& encode) {
    encode();
    int reps = 1;
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        const double start = Now();
        for (int i = 0; i < reps; ++i) encode();
        const double seconds = Now() - start;
        best = std::max(best, static_cast<double>(pixels) * reps / seconds / 1e6);
        if (seconds < 0.25) reps = std::max(reps * 2, static_cast<int>(reps * 0.3 / std::max(seconds, 1e-6)));
    }
    return best;
}

// A smooth, photo-like 256-colour picture with a little grain.
Bytes MakePhoto(int width, int height) {
    Bytes pixels(static_cast<size_t>(width) * height);
    uint32_t state = 99;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const double v = 127.5 + 60 * std::sin(x / 37.0) * std::cos(y / 23.0) + 60 * std::sin((x + 2 * y) / 91.0);
            const int grain = static_cast<int>((state >> 24) % 5) - 2;
            pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(
                std::clamp(static_cast<int>(v) + grain, 0, 255));
        }
    return pixels;
}

// Bytes of the first frame's image data (minimum code size to terminator), 0 when not found.
size_t ImageDataSize(const Bytes& gif) {
    if (gif.size() < 13) return 0;
    size_t pos = 13;
    if (gif[10] & 0x80) pos += 3u << ((gif[10] & 7) + 1);
    auto skipSubBlocks = [&gif](size_t p) {
        while (p < gif.size() && gif[p] != 0) p += 1 + gif[p];
        return p + 1;
    };
    while (pos < gif.size()) {
        if (gif[pos] == '!') {
            pos = skipSubBlocks(pos + 2);
        } else if (gif[pos] == ',') {
            if (pos + 10 > gif.size()) return 0;
            const uint8_t flags = gif[pos + 9];
            pos += 10;
            if (flags & 0x80) pos += 3u << ((flags & 7) + 1);
            const size_t start = pos;
            pos = skipSubBlocks(pos + 1);
            return pos <= gif.size() ? pos - start : 0;
        } else {
            return 0;
        }
    }
    return 0;
}

struct WIC {
    IWICImagingFactory* factory = nullptr;
    IWICPalette* palette = nullptr;
    WIC() {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                         reinterpret_cast<void**>(&factory));
        if (!factory) return;
        WICColor colours[256];
        for (int i = 0; i < 256; ++i) colours[i] = 0xFF000000u | (i << 16) | (i << 8) | i;
        factory->CreatePalette(&palette);
        palette->InitializeCustom(colours, 256);
    }
    ~WIC() {
        if (palette) palette->Release();
        if (factory) factory->Release();
        CoUninitialize();
    }

    // A whole GIF file of the pixels from WIC's encoder; empty when it fails.
    Bytes Encode(const Bytes& pixels, int width, int height) {
        Bytes out;
        IStream* stream = nullptr;
        IWICBitmapEncoder* encoder = nullptr;
        IWICBitmapFrameEncode* frame = nullptr;
        IPropertyBag2* options = nullptr;
        WICPixelFormatGUID format = GUID_WICPixelFormat8bppIndexed;
        bool ok = SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) &&
                  SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatGif, nullptr, &encoder)) &&
                  SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
                  SUCCEEDED(encoder->CreateNewFrame(&frame, &options)) && SUCCEEDED(frame->Initialize(options)) &&
                  SUCCEEDED(frame->SetSize(width, height)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
                  IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed) && SUCCEEDED(frame->SetPalette(palette)) &&
                  SUCCEEDED(frame->WritePixels(height, width, width * height, const_cast<BYTE*>(pixels.data()))) &&
                  SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
        if (ok) {
            LARGE_INTEGER zero{};
            ULARGE_INTEGER size{};
            stream->Seek(zero, STREAM_SEEK_CUR, &size);
            out.resize(size.QuadPart);
            stream->Seek(zero, STREAM_SEEK_SET, nullptr);
            ULONG read = 0;
            stream->Read(out.data(), static_cast<ULONG>(out.size()), &read);
            out.resize(read);
        }
        if (options) options->Release();
        if (frame) frame->Release();
        if (encoder) encoder->Release();
        if (stream) stream->Release();
        return out;
    }
};

void WriteWholeFile(const std::string& path, const Bytes& bytes) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

// Runs a host shell command (Wine starts it without a process handle) and waits for its done mark.
bool RunHost(const std::string& unixFolder, const std::string& command) {
    const std::string mark = unixFolder + "/done";
    const std::string markWin = "Z:" + mark;
    DeleteFileA(markWin.c_str());
    const std::string args = "-c \"" + command + " >/dev/null 2>&1; echo $? > " + mark + "\"";
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = "Z:\\bin\\sh";
    info.lpParameters = args.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExA(&info)) return false;
    if (info.hProcess) CloseHandle(info.hProcess);
    for (int i = 0; i < 1200; ++i) {
        const Bytes done = ReadWholeFile(markWin);
        if (!done.empty()) return done[0] == '0';
        Sleep(50);
    }
    return false;
}

std::string Ratio(size_t ours, size_t theirs) {
    if (theirs == 0) return "    n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%7.4f", static_cast<double>(ours) / static_cast<double>(theirs));
    return text;
}

// FNV-1a of the bytes: shows at a glance whether two builds write the same file.
uint32_t Digest(const uint8_t* data, size_t size) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h;
}

// Whole images saved by us and by giflib, from what each decoded of the same file.
bool SaveAgainstGiflib() {
    using namespace giflib_peer;
    std::printf(
        "GIF saving, whole images to memory (best of at least 10 runs, ours and giflib's in turn; MB of pixels per "
        "second)\n\n");
    std::printf("%-11s %9s %9s %9s %9s %9s %9s %9s %9s\n", "image", "ours", "giflib", "WIC", "speed x", "size x",
                "our bytes", "digest", "read back");
    WIC wic;
    for (const BenchImage& bench : BenchImages(GIF_BENCH_DIR)) {
        GifFileType* peer = bench.file.empty() ? nullptr : Slurp(bench.file);
        if (!peer) {
            std::printf("%s: missing or unreadable in %s\n", bench.name.c_str(), GIF_BENCH_DIR);
            return false;
        }
        const std::vector<Frame> expected = DecodeFrames(bench.file);
        TMemoryStream in;
        in.WriteBuffer(bench.file.data(), static_cast<int32_t>(bench.file.size()));
        in.SetPosition(0);
        TGIFImage image;
        image.LoadFromStream(in);
        double pixels = 0;
        for (int i = 0; i < image.Frames()->ItemCount(); ++i) pixels += image.Frames()->FrameAt(i)->PixelsSize();
        TMemoryStream out;
        Bytes theirFile;
        theirFile.reserve(bench.file.size() * 2);
        bool peerOk = true;
        // Our save and giflib's take turns, so that they meet the same load.
        const std::vector<double> best = BestTimesInTurn({[&] {
                                                              out.SetPosition(0);
                                                              image.SaveToStream(out);
                                                          },
                                                          [&] { peerOk = Encode(peer, theirFile) && peerOk; }});
        const double ours = best[0], theirs = best[1];
        const size_t ourSize = static_cast<size_t>(out.Position());
        const Bytes ourFile(static_cast<const uint8_t*>(out.Memory()),
                            static_cast<const uint8_t*>(out.Memory()) + ourSize);
        // WIC writes single frames only: its figure is for the first frame's pixels, scaled to all.
        double windows = 0;
        if (wic.factory && image.Frames()->ItemCount() > 0) {
            const Frame& first = expected[0];
            const double t = BestTime([&] { wic.Encode(first.indexes, first.width, first.height); }, 0.5);
            windows = static_cast<double>(first.indexes.size()) / 1e6 / t;
        }
        Close(peer);
        const bool same = peerOk && DecodeFrames(ourFile) == expected;
        const double mpx = pixels / 1e6;
        char digest[16];
        std::snprintf(digest, sizeof digest, "%08x", Digest(ourFile.data(), ourFile.size()));
        std::printf("%-11s %9.1f %9.1f %9.1f %9.2f %9.4f %9zu %9s %9s\n", bench.name.c_str(), mpx / ours, mpx / theirs,
                    windows, theirs / ours, static_cast<double>(ourSize) / static_cast<double>(theirFile.size()),
                    ourSize, digest, same ? "same" : "DIFFER");
        std::fflush(stdout);
    }
    std::printf(
        "\nspeed x: our speed over giflib's. size x: our file over giflib's. digest: of our file. read back: "
        "giflib reads our file to the indexes it read from the original.\n\n");
    return true;
}

}  // namespace

int main() {
    if (!SaveAgainstGiflib()) return 1;
    struct Image {
        const char* name;
        Bytes pixels;
        int width, height;
    };
    const int w = 1024, h = 768;
    const Image images[] = {
        {"photo-like", MakePhoto(w, h), w, h},
        {"flat areas", MakePixels(Pattern::Runs, w, h, 256, 3), w, h},
        {"noise", MakePixels(Pattern::Noise, w, h, 256, 3), w, h},
    };
    WIC wic;
    if (!wic.factory) {
        std::printf("no WIC imaging factory\n");
        return 1;
    }
    const std::string unixFolder = "/tmp/bench_gifencode." + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(("Z:" + unixFolder).c_str(), nullptr);

    std::printf("GIF encoding of %dx%d 8-bit frames (MB of pixels per second; sizes of image data in bytes)\n\n", w, h);
    std::printf("%-11s %9s %9s %8s %9s | %9s %9s %9s %9s | %8s %8s %8s\n", "image", "LZW MB/s", "WIC MB/s", "speed x",
                "RLE MB/s", "ours", "WIC", "IM", "gifsicle", "/WIC", "/IM", "/gifsic");
    for (const Image& image : images) {
        const size_t n = image.pixels.size();
        TMemoryStream stream;
        auto ours = [&] {
            stream.SetSize(0);
            stream.SetPosition(0);
            TLZWEncoder encoder;
            encoder.EncodeFrame(stream, 8, image.width, image.height, false, image.pixels.data(), 256);
        };
        auto rle = [&] {
            stream.SetSize(0);
            stream.SetPosition(0);
            TRLEEncoder encoder;
            encoder.EncodeFrame(stream, 8, image.width, image.height, false, image.pixels.data(), 256);
        };
        Bytes wicGif;
        auto theirs = [&] { wicGif = wic.Encode(image.pixels, image.width, image.height); };
        const double rleSpeed = Throughput(n, rle);
        const double ourSpeed = Throughput(n, ours);
        const double wicSpeed = Throughput(n, theirs);
        const Bytes ourData = StreamBytes(stream);
        const Bytes ourGif = WrapInGIF(image.width, image.height, 8, false, ourData);

        const std::string in = unixFolder + "/in.gif", im = unixFolder + "/im.gif", gs = unixFolder + "/gs.gif";
        WriteWholeFile("Z:" + in, ourGif);
        size_t imSize = 0, gsSize = 0;
        if (RunHost(unixFolder, "convert " + in + " " + im)) imSize = ImageDataSize(ReadWholeFile("Z:" + im));
        if (RunHost(unixFolder, "gifsicle -O3 " + in + " -o " + gs)) gsSize = ImageDataSize(ReadWholeFile("Z:" + gs));
        const size_t wicSize = ImageDataSize(wicGif);

        std::printf("%-11s %9.1f %9.1f %8.2f %9.1f | %9zu %9zu %9zu %9zu | %8s %8s %8s\n", image.name, ourSpeed,
                    wicSpeed, wicSpeed > 0 ? ourSpeed / wicSpeed : 0.0, rleSpeed, ourData.size(), wicSize, imSize,
                    gsSize, Ratio(ourData.size(), wicSize).c_str(), Ratio(ourData.size(), imSize).c_str(),
                    Ratio(ourData.size(), gsSize).c_str());
        std::fflush(stdout);
    }
    std::printf(
        "\nspeed x: our LZW throughput / WIC's. /WIC, /IM, /gifsic: our image data size / theirs "
        "(below 1 means ours is smaller; n/a: that tool gave no output).\n");
    for (const char* name : {"/in.gif", "/im.gif", "/gs.gif", "/done"}) DeleteFileA(("Z:" + unixFolder + name).c_str());
    RemoveDirectoryA(("Z:" + unixFolder).c_str());
    return 0;
}
