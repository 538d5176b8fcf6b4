#include "classlib/icon.h"

#include <cstdlib>
#include <cstring>

namespace {
#pragma pack(push, 1)
struct IconDirHeader {
    uint16_t reserved, type, count;
};
struct IconDirEntry {
    uint8_t width, height, colors, reserved;
    uint16_t planes, bitCount;
    uint32_t bytes, offset;
};
#pragma pack(pop)

void IconSize(HICON icon, int& width, int& height) {
    ICONINFO info{};
    width = height = 0;
    if (!GetIconInfo(icon, &info)) return;
    BITMAP bm{};
    if (GetObjectA(info.hbmMask, sizeof(bm), &bm)) {
        width = bm.bmWidth;
        height = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
}

// Prefers 32 x 32, then the size nearest to it, then more colour bits.
int Score(const IconDirEntry& e) {
    int w = e.width ? e.width : 256;
    return std::abs(w - 32) * 64 - e.bitCount;
}
}  // namespace

TIcon::TIcon(HICON shared) : handle_(shared) { IconSize(handle_, width_, height_); }

TIcon::~TIcon() { Release(); }

void TIcon::Release() {
    if (handle_ && owned_) DestroyIcon(handle_);
    handle_ = nullptr;
    owned_ = false;
    width_ = height_ = 0;
}

void TIcon::LoadFromStream(TStream& stream) {
    std::vector<uint8_t> file(static_cast<size_t>(std::max<int64_t>(0, stream.Size() - stream.Position())));
    if (!file.empty()) stream.ReadBuffer(file.data(), static_cast<int32_t>(file.size()));
    IconDirHeader header{};
    if (file.size() < sizeof(header)) throw EInvalidGraphic("Invalid icon");
    std::memcpy(&header, file.data(), sizeof(header));
    if (header.reserved != 0 || header.type != 1 || header.count == 0 ||
        file.size() < sizeof(header) + header.count * sizeof(IconDirEntry))
        throw EInvalidGraphic("Invalid icon");
    const IconDirEntry* best = nullptr;
    for (int i = 0; i < header.count; ++i) {
        const auto* e = reinterpret_cast<const IconDirEntry*>(file.data() + sizeof(header) + i * sizeof(IconDirEntry));
        if (uint64_t(e->offset) + e->bytes > file.size() || e->bytes == 0) continue;
        if (!best || Score(*e) < Score(*best)) best = e;
    }
    if (!best) throw EInvalidGraphic("Invalid icon");
    HICON icon = CreateIconFromResourceEx(file.data() + best->offset, best->bytes, TRUE, 0x00030000, 0, 0,
                                          LR_DEFAULTCOLOR);
    if (!icon) throw EInvalidGraphic("Invalid icon");
    Release();
    handle_ = icon;
    owned_ = true;
    IconSize(handle_, width_, height_);
    file_ = std::move(file);
    Changed();
}

void TIcon::SaveToStream(TStream& stream) {
    if (file_.empty()) throw EInvalidGraphicOperation("This icon has no file to save");
    stream.WriteBuffer(file_.data(), static_cast<int32_t>(file_.size()));
}

void TIcon::Draw(TCanvas& canvas, const RECT& rect) {
    if (handle_)
        DrawIconEx(canvas.Handle(), rect.left, rect.top, handle_, rect.right - rect.left, rect.bottom - rect.top, 0,
                   nullptr, DI_NORMAL);
}

void TIcon::Assign(const TPersistent& source) {
    auto* other = dynamic_cast<const TIcon*>(&source);
    if (!other) {
        TGraphic::Assign(source);
        return;
    }
    Release();
    if (other->handle_) {
        handle_ = other->owned_ ? CopyIcon(other->handle_) : other->handle_;
        owned_ = other->owned_;
    }
    width_ = other->width_;
    height_ = other->height_;
    file_ = other->file_;
    Changed();
}
