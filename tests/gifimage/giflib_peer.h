// giflib as a peer of the GIF benchmarks: whole-file decoding and encoding in memory, and the
// benchmark images they share. Benchmarks only; no program or test links giflib.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gif_lib.h>

#include "tests/support/bench.h"
#include "tests/support/files.h"

namespace giflib_peer {

using Bytes = std::vector<uint8_t>;

struct Frame {
    int width = 0, height = 0;
    Bytes indexes;  // rows top to bottom
    bool operator==(const Frame&) const = default;
};

struct Reader {
    const uint8_t* data;
    size_t size, pos;
};

inline int ReadMemory(GifFileType* gif, GifByteType* out, int count) {
    Reader* r = static_cast<Reader*>(gif->UserData);
    const size_t n = std::min<size_t>(static_cast<size_t>(count), r->size - r->pos);
    std::memcpy(out, r->data + r->pos, n);
    r->pos += n;
    return static_cast<int>(n);
}

inline int WriteMemory(GifFileType* gif, const GifByteType* in, int count) {
    Bytes* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), in, in + count);
    return count;
}

// The whole file read into giflib's model; null when giflib rejects it. Free with DGifCloseFile.
inline GifFileType* Slurp(const Bytes& file) {
    Reader reader{file.data(), file.size(), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadMemory, &error);
    if (!gif) return nullptr;
    if (DGifSlurp(gif) != GIF_OK) {
        DGifCloseFile(gif, &error);
        return nullptr;
    }
    gif->UserData = nullptr;
    return gif;
}

inline void Close(GifFileType* gif) {
    int error = 0;
    if (gif) DGifCloseFile(gif, &error);
}

// Each frame's indexes as giflib decodes them (rows in display order); empty when it fails.
inline std::vector<Frame> DecodeFrames(const Bytes& file) {
    std::vector<Frame> frames;
    GifFileType* gif = Slurp(file);
    if (!gif) return frames;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        Frame f;
        f.width = image.ImageDesc.Width;
        f.height = image.ImageDesc.Height;
        f.indexes.assign(image.RasterBits, image.RasterBits + static_cast<size_t>(f.width) * f.height);
        frames.push_back(std::move(f));
    }
    Close(gif);
    return frames;
}

// Writes what giflib read back out with giflib's encoder, as its own tools do; false on failure.
inline bool Encode(const GifFileType* in, Bytes& out) {
    out.clear();
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteMemory, &error);
    if (!gif) return false;
    bool ok = EGifPutScreenDesc(gif, in->SWidth, in->SHeight, in->SColorResolution, in->SBackGroundColor,
                                in->SColorMap) == GIF_OK;
    for (int i = 0; ok && i < in->ImageCount; ++i) {
        const SavedImage& image = in->SavedImages[i];
        for (int e = 0; ok && e < image.ExtensionBlockCount; ++e) {
            const ExtensionBlock& block = image.ExtensionBlocks[e];
            if (block.Function == CONTINUE_EXT_FUNC_CODE) continue;
            ok = EGifPutExtension(gif, block.Function, block.ByteCount, block.Bytes) == GIF_OK;
        }
        const GifImageDesc& d = image.ImageDesc;
        ok = ok && EGifPutImageDesc(gif, d.Left, d.Top, d.Width, d.Height, d.Interlace, d.ColorMap) == GIF_OK;
        if (!ok) break;
        if (d.Interlace) {
            const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
            for (int pass = 0; ok && pass < 4; ++pass)
                for (int y = starts[pass]; ok && y < d.Height; y += steps[pass])
                    ok = EGifPutLine(gif, image.RasterBits + static_cast<size_t>(y) * d.Width, d.Width) == GIF_OK;
        } else {
            ok = EGifPutLine(gif, image.RasterBits, d.Width * d.Height) == GIF_OK;
        }
    }
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

// The top-left size x size of the first frame of file, interlaced, written by giflib's encoder.
inline Bytes InterlacedCrop(const Bytes& file, int size) {
    Bytes out;
    GifFileType* gif = Slurp(file);
    if (!gif || gif->ImageCount < 1) {
        Close(gif);
        return out;
    }
    SavedImage& image = gif->SavedImages[0];
    const int width = std::min(size, image.ImageDesc.Width), height = std::min(size, image.ImageDesc.Height);
    Bytes crop(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        std::memcpy(&crop[static_cast<size_t>(y) * width],
                    image.RasterBits + static_cast<size_t>(y) * image.ImageDesc.Width, width);
    ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    int error = 0;
    GifFileType* outGif = EGifOpen(&out, WriteMemory, &error);
    bool ok = outGif && EGifPutScreenDesc(outGif, width, height, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(outGif, 0, 0, width, height, true, nullptr) == GIF_OK;
    const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    for (int pass = 0; ok && pass < 4; ++pass)
        for (int y = starts[pass]; ok && y < height; y += steps[pass])
            ok = EGifPutLine(outGif, &crop[static_cast<size_t>(y) * width], width) == GIF_OK;
    if (outGif && EGifCloseFile(outGif, &error) != GIF_OK) ok = false;
    Close(gif);
    if (!ok) out.clear();
    return out;
}

struct BenchImage {
    std::string name;
    Bytes file;
};

// Photo-like (ImageMagick's plasma in 256 colours, 2400 x 1800 and 2000 x 2000), flat colours
// (ImageMagick), three animations (ffmpeg: its fixed palette, and 200 frame-difference
// rectangles of 320 x 240 or 4000 of 64 x 48 over one palette of its palettegen/paletteuse filters)
// and an interlaced photo (giflib's encoder): the images both benchmarks time.
inline std::vector<BenchImage> BenchImages(const std::string& folder) {
    std::vector<BenchImage> images = {{"photo-like", ReadWholeFile(folder + "\\photo.gif")},
                                      {"flat", ReadWholeFile(folder + "\\flat.gif")},
                                      {"animation", ReadWholeFile(folder + "\\animation.gif")},
                                      {"photo-2000", ReadWholeFile(folder + "\\photo-2000.gif")},
                                      {"paletteuse", ReadWholeFile(folder + "\\paletteuse.gif")},
                                      {"many-frames", ReadWholeFile(folder + "\\many-frames.gif")}};
    images.push_back({"interlaced", InterlacedCrop(images[0].file, 1000)});
    return images;
}

}  // namespace giflib_peer
