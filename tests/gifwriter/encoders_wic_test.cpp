// Frames from both encoders, wrapped in minimal GIF files, must decode to the same colour indexes
// in Wine's own GIF decoder. The files are also left for the Linux decoders' check.
#include <windows.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/gifwriter/gifwriter_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct RoundTripCase {
    const char* name;
    int width, height, colours;
    Pattern pattern;
    bool interlaced;
};

const RoundTripCase kCases[] = {
    {"one_pixel_c2", 1, 1, 2, Pattern::Flat, false},
    {"one_pixel_c256", 1, 1, 256, Pattern::Noise, false},
    {"odd_7x5_c2_noise", 7, 5, 2, Pattern::Noise, false},
    {"odd_33x17_c16_noise", 33, 17, 16, Pattern::Noise, false},
    {"odd_101x3_c256_runs", 101, 3, 256, Pattern::Runs, false},
    {"flat_320x200_c2", 320, 200, 2, Pattern::Flat, false},
    {"flat_1000x700_c256", 1000, 700, 256, Pattern::Flat, false},
    {"noise_640x480_c256", 640, 480, 256, Pattern::Noise, false},
    {"noise_257x129_c16", 257, 129, 16, Pattern::Noise, false},
    {"runs_499x301_c16", 499, 301, 16, Pattern::Runs, false},
    {"gradient_300x300_c256", 300, 300, 256, Pattern::Gradient, false},
    {"interlaced_1x3_c16", 1, 3, 16, Pattern::Noise, true},
    {"interlaced_5x3_c2", 5, 3, 2, Pattern::Noise, true},
    {"interlaced_31x8_c16", 31, 8, 16, Pattern::Noise, true},
    {"interlaced_123x77_c256", 123, 77, 256, Pattern::Noise, true},
    {"interlaced_400x301_c256_runs", 400, 301, 256, Pattern::Runs, true},
};

struct ComInit {
    ComInit() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~ComInit() { CoUninitialize(); }
};

template <class T>
struct Com {
    T* p = nullptr;
    ~Com() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
    T** operator&() { return &p; }
};

// Colour indexes of the first frame as Wine's GIF decoder gives them; fails the test on any error.
Bytes DecodeWithWIC(const Bytes& gif, int& width, int& height) {
    Com<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(&factory));
    EXPECT_EQ(hr, S_OK) << "no imaging factory";
    if (FAILED(hr)) return {};
    Com<IWICStream> stream;
    factory->CreateStream(&stream);
    stream->InitializeFromMemory(const_cast<BYTE*>(gif.data()), static_cast<DWORD>(gif.size()));
    Com<IWICBitmapDecoder> decoder;
    hr = factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    EXPECT_EQ(hr, S_OK) << "decoder refused the file";
    if (FAILED(hr)) return {};
    Com<IWICBitmapFrameDecode> frame;
    hr = decoder->GetFrame(0, &frame);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr)) return {};
    WICPixelFormatGUID format{};
    frame->GetPixelFormat(&format);
    EXPECT_TRUE(IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed));
    UINT w = 0, h = 0;
    frame->GetSize(&w, &h);
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    Bytes pixels(static_cast<size_t>(w) * h);
    hr = frame->CopyPixels(nullptr, w, static_cast<UINT>(pixels.size()), pixels.data());
    EXPECT_EQ(hr, S_OK);
    return pixels;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

class WICRoundTrip : public testing::TestWithParam<std::tuple<RoundTripCase, bool>> {};

TEST_P(WICRoundTrip, DecodesToTheSameIndexes) {
    const auto& [c, runLength] = GetParam();
    ComInit com;
    const Bytes pixels = MakePixels(c.pattern, c.width, c.height, c.colours, 11);
    const int bits = TableBits(c.colours);
    const Bytes gif = WrapInGIF(
        c.width, c.height, bits, c.interlaced,
        EncodeImageData(runLength, bits, c.width, c.height, c.interlaced, pixels.data(), c.colours));
    int width = 0, height = 0;
    const Bytes decoded = DecodeWithWIC(gif, width, height);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    EXPECT_TRUE(decoded == pixels) << "indexes differ";

    // For the Linux decoders: the file and the indexes it must decode to.
    CreateDirectoryA("written", nullptr);
    const std::string base = std::string("written\\") + (runLength ? "rle_" : "lzw_") + c.name;
    WriteFile(base + ".gif", gif);
    WriteFile(base + ".idx", pixels);
}

std::string CaseName(const testing::TestParamInfo<WICRoundTrip::ParamType>& info) {
    return std::string(std::get<1>(info.param) ? "RLE_" : "LZW_") + std::get<0>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(GifWriterFrames, WICRoundTrip, testing::Combine(testing::ValuesIn(kCases), testing::Bool()),
                         CaseName);

}  // namespace
