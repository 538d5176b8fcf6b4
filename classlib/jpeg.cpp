#include "classlib/jpeg.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {
// libjpeg reports fatal errors through error_exit, which must not return: jump back out.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void IgnoreMessage(j_common_ptr) {}

// Larger pictures than this are refused rather than allocated.
const long long MaxPixels = 64LL * 1024 * 1024;

int RowStride(int width) { return (width * 3 + 3) & ~3; }

// Decodes a whole JPEG file into top-down BGR rows. False with a message
// on any error. No object with a destructor lives in this frame: libjpeg may jump out of it.
bool Decode(const uint8_t* data, size_t size, std::vector<uint8_t>& pixels, int& width, int& height, char* message) {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = ErrorExit;
    errors.base.output_message = IgnoreMessage;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    if (static_cast<long long>(info.output_width) * info.output_height > MaxPixels) {
        jpeg_destroy_decompress(&info);
        std::snprintf(message, JMSG_LENGTH_MAX, "JPEG image is too large");
        return false;
    }
    width = static_cast<int>(info.output_width);
    height = static_cast<int>(info.output_height);
    int stride = RowStride(width);
    pixels.assign(static_cast<size_t>(stride) * height, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + static_cast<size_t>(stride) * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

struct JPEGRegistration {
    JPEGRegistration() {
        auto factory = [] { return std::unique_ptr<TGraphic>(std::make_unique<TJPEGImage>()); };
        TPicture::RegisterFileFormat("jpeg", "JPEG Image File", TJPEGImage::ClassKey(), factory);
        TPicture::RegisterFileFormat("jpg", "JPEG Image File", TJPEGImage::ClassKey(), factory);
    }
    ~JPEGRegistration() { TPicture::UnregisterGraphicClass(TJPEGImage::ClassKey()); }
} registration;
}  // namespace

TGraphicClass TJPEGImage::ClassKey() {
    static const char key = 0;
    return &key;
}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::LoadFromStream(TStream& stream) {
    int64_t size = stream.Size() - stream.Position();
    if (size <= 0) throw EInvalidGraphic("JPEG image is empty");
    std::vector<uint8_t> data(static_cast<size_t>(size));
    stream.ReadBuffer(data.data(), static_cast<int32_t>(size));
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    char message[JMSG_LENGTH_MAX] = {0};
    if (!Decode(data.data(), data.size(), pixels, width, height, message))
        throw EInvalidGraphic(std::string("JPEG error: ") + message);
    data_ = std::move(data);
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    Changed();
}

void TJPEGImage::SaveToStream(TStream& stream) {
    if (!data_.empty()) stream.WriteBuffer(data_.data(), static_cast<int32_t>(data_.size()));
}

void TJPEGImage::Draw(TCanvas& canvas, const RECT& rect) {
    if (pixels_.empty()) return;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = width_;
    bmi.bmiHeader.biHeight = -height_;  // top-down rows
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    HDC dc = canvas.Handle();
    int oldMode = SetStretchBltMode(dc, HALFTONE);
    POINT oldOrigin;
    SetBrushOrgEx(dc, 0, 0, &oldOrigin);
    StretchDIBits(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, 0, 0, width_, height_,
                  pixels_.data(), &bmi, DIB_RGB_COLORS, SRCCOPY);
    SetBrushOrgEx(dc, oldOrigin.x, oldOrigin.y, nullptr);
    SetStretchBltMode(dc, oldMode);
}

void TJPEGImage::Assign(const TPersistent& source) {
    auto* other = dynamic_cast<const TJPEGImage*>(&source);
    if (!other) {
        TGraphic::Assign(source);
        return;
    }
    data_ = other->data_;
    pixels_ = other->pixels_;
    width_ = other->width_;
    height_ = other->height_;
    Changed();
}
