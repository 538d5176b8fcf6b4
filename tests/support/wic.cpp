#include "tests/support/wic.h"

#include <windows.h>
#include <wincodec.h>

namespace {
template <class T>
void Release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}
std::string Hex(HRESULT hr) {
    char text[32];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}
// A failed decoding keeps no frames, only what failed.
template <class Result>
Result Finished(Result result, HRESULT hr) {
    if (FAILED(hr)) {
        result.frames.clear();
        result.error = "WIC failed with " + Hex(hr);
    }
    return result;
}
}  // namespace

WICGifDecoder::WICGifDecoder() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     reinterpret_cast<void**>(&factory_));
}

WICGifDecoder::~WICGifDecoder() { Release(factory_); }

template <class Each>
long WICGifDecoder::EachFrame(const uint8_t* data, size_t size, Each each) {
    if (!factory_) return E_NOINTERFACE;
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    HRESULT hr = factory_->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    if (SUCCEEDED(hr))
        hr = factory_->CreateDecoderFromStream(stream, &GUID_VendorMicrosoft, WICDecodeMetadataCacheOnDemand, &decoder);
    UINT count = 0;
    if (SUCCEEDED(hr)) hr = decoder->GetFrameCount(&count);
    for (UINT i = 0; SUCCEEDED(hr) && i < count; ++i) {
        IWICBitmapFrameDecode* frame = nullptr;
        hr = decoder->GetFrame(i, &frame);
        if (SUCCEEDED(hr)) hr = each(frame);
        Release(frame);
    }
    Release(decoder);
    Release(stream);
    return hr;
}

WICResult WICGifDecoder::Decode(const uint8_t* data, size_t size) {
    WICResult result;
    const HRESULT hr = EachFrame(data, size, [&](IWICBitmapFrameDecode* frame) {
        WICFrame out;
        WICPixelFormatGUID format{};
        HRESULT hr = frame->GetSize(&out.width, &out.height);
        if (SUCCEEDED(hr)) hr = frame->GetPixelFormat(&format);
        if (SUCCEEDED(hr) && !IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed)) hr = E_UNEXPECTED;
        if (SUCCEEDED(hr)) {
            out.indexes.resize(static_cast<size_t>(out.width) * out.height);
            hr = frame->CopyPixels(nullptr, out.width, static_cast<UINT>(out.indexes.size()), out.indexes.data());
        }
        if (SUCCEEDED(hr)) result.frames.push_back(std::move(out));
        return hr;
    });
    return Finished(std::move(result), hr);
}

WICPixelsResult WICGifDecoder::DecodeToBGRA(const uint8_t* data, size_t size) {
    WICPixelsResult result;
    const HRESULT hr = EachFrame(data, size, [&](IWICBitmapFrameDecode* frame) {
        IWICFormatConverter* converter = nullptr;
        WICPixels out;
        HRESULT hr = frame->GetSize(&out.width, &out.height);
        if (SUCCEEDED(hr)) hr = factory_->CreateFormatConverter(&converter);
        if (SUCCEEDED(hr))
            hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom);
        if (SUCCEEDED(hr)) {
            out.bgra.resize(static_cast<size_t>(out.width) * out.height);
            hr = converter->CopyPixels(nullptr, out.width * 4, static_cast<UINT>(out.bgra.size() * 4),
                                       reinterpret_cast<BYTE*>(out.bgra.data()));
        }
        Release(converter);
        if (SUCCEEDED(hr)) result.frames.push_back(std::move(out));
        return hr;
    });
    return Finished(std::move(result), hr);
}

WICPixelsResult DecodeToBGRA(const uint8_t* data, size_t size) { return WICGifDecoder().DecodeToBGRA(data, size); }
