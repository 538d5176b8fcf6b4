#include "classlib/metafile.h"

#include <cstring>
#include <vector>

namespace {

inline constexpr const char* sInvalidMetafile = "Metafile is not valid";
// Files larger than this are refused as invalid.
constexpr int64_t kMaxMetafileBytes = 0x10000000;

// The frame of the header (hundredths of a millimetre, inclusive) in pixels of the reference device.
void SizeOf(HENHMETAFILE metafile, int& width, int& height) {
    width = height = 0;
    ENHMETAHEADER header{};
    if (!metafile || !GetEnhMetaFileHeader(metafile, sizeof header, &header)) return;
    const RECTL& frame = header.rclFrame;
    if (header.szlMillimeters.cx > 0)
        width = MulDiv(frame.right - frame.left, header.szlDevice.cx, header.szlMillimeters.cx * 100);
    if (header.szlMillimeters.cy > 0)
        height = MulDiv(frame.bottom - frame.top, header.szlDevice.cy, header.szlMillimeters.cy * 100);
    if (width < 0) width = 0;
    if (height < 0) height = 0;
}

}  // namespace

TGraphicClass TMetafile::ClassKey() {
    static const char key = 0;
    return &key;
}

TMetafile::~TMetafile() {
    if (handle_) DeleteEnhMetaFile(handle_);
}

void TMetafile::Replace(HENHMETAFILE metafile, int width, int height) {
    if (handle_ && handle_ != metafile) DeleteEnhMetaFile(handle_);
    handle_ = metafile;
    width_ = width;
    height_ = height;
}

void TMetafile::SetWidth(int width) {
    if (width < 0) width = 0;
    if (width == width_) return;
    width_ = width;
    Changed();
}

void TMetafile::SetHeight(int height) {
    if (height < 0) height = 0;
    if (height == height_) return;
    height_ = height;
    Changed();
}

void TMetafile::SetHandle(HENHMETAFILE metafile) {
    if (metafile == handle_) return;
    int width = 0, height = 0;
    SizeOf(metafile, width, height);
    Replace(metafile, width, height);
    Changed();
}

HENHMETAFILE TMetafile::ReleaseHandle() {
    HENHMETAFILE metafile = handle_;
    handle_ = nullptr;
    width_ = height_ = 0;
    return metafile;
}

void TMetafile::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    ENHMETAHEADER header{};
    if (size < static_cast<int64_t>(sizeof header) || size > kMaxMetafileBytes) throw EInvalidGraphic(sInvalidMetafile);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (stream.Read(bytes.data(), static_cast<int32_t>(size)) != size) throw EInvalidGraphic(sInvalidMetafile);
    std::memcpy(&header, bytes.data(), sizeof header);
    if (header.iType != EMR_HEADER || header.dSignature != ENHMETA_SIGNATURE || header.nSize < 88 ||
        header.nBytes < header.nSize || header.nBytes > bytes.size())
        throw EInvalidGraphic(sInvalidMetafile);
    HENHMETAFILE metafile = SetEnhMetaFileBits(header.nBytes, bytes.data());
    if (!metafile) throw EInvalidGraphic(sInvalidMetafile);
    int width = 0, height = 0;
    SizeOf(metafile, width, height);
    Replace(metafile, width, height);
    Changed();
}

void TMetafile::SaveToStream(TStream& stream) {
    if (!handle_) return;
    const UINT size = GetEnhMetaFileBits(handle_, 0, nullptr);
    if (size == 0) throw EInvalidGraphic(sInvalidMetafile);
    std::vector<uint8_t> bytes(size);
    if (GetEnhMetaFileBits(handle_, size, bytes.data()) != size) throw EInvalidGraphic(sInvalidMetafile);
    stream.WriteBuffer(bytes.data(), static_cast<int32_t>(size));
}

void TMetafile::Draw(TCanvas& canvas, const RECT& rect) {
    if (handle_) PlayEnhMetaFile(canvas.Handle(), handle_, &rect);
}

void TMetafile::Assign(const TPersistent& source) {
    const auto* other = dynamic_cast<const TMetafile*>(&source);
    if (!other) {
        TGraphic::Assign(source);
        return;
    }
    if (other == this) return;
    HENHMETAFILE copy = nullptr;
    if (other->handle_) {
        copy = CopyEnhMetaFileA(other->handle_, nullptr);
        if (!copy) throw EOutOfResources("Out of system resources");
    }
    Replace(copy, other->width_, other->height_);
    transparent_ = other->transparent_;
    Changed();
}
