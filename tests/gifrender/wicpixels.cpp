#include "wicpixels.h"

#include <windows.h>
#include <wincodec.h>

namespace {
template <class T> void Release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}
} // namespace

WICPixelsResult DecodeToBGRA(const uint8_t* data, size_t size) {
    WICPixelsResult result;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromStream(stream, &GUID_VendorMicrosoft, WICDecodeMetadataCacheOnDemand, &decoder);
    UINT count = 0;
    if (SUCCEEDED(hr)) hr = decoder->GetFrameCount(&count);
    for (UINT i = 0; SUCCEEDED(hr) && i < count; ++i) {
        IWICBitmapFrameDecode* frame = nullptr;
        IWICFormatConverter* converter = nullptr;
        WICPixels out;
        hr = decoder->GetFrame(i, &frame);
        if (SUCCEEDED(hr)) hr = frame->GetSize(&out.width, &out.height);
        if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
        if (SUCCEEDED(hr))
            hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom);
        if (SUCCEEDED(hr)) {
            out.bgra.resize(static_cast<size_t>(out.width) * out.height);
            hr = converter->CopyPixels(nullptr, out.width * 4, static_cast<UINT>(out.bgra.size() * 4),
                                       reinterpret_cast<BYTE*>(out.bgra.data()));
        }
        Release(converter);
        Release(frame);
        if (SUCCEEDED(hr)) result.frames.push_back(std::move(out));
    }
    if (FAILED(hr)) {
        char text[48];
        wsprintfA(text, "WIC failed with 0x%08lX", static_cast<unsigned long>(hr));
        result.frames.clear();
        result.error = text;
    }
    Release(decoder);
    Release(stream);
    Release(factory);
    return result;
}
