#include "gifimage/colormap.h"

#include <cstring>

#include "gifimage/extensions.h"
#include "gifimage/gifio.h"
#include "gifimage/gifowner.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"

int BitsForColors(int colors) {
    if (colors <= 0) return 0;
    int bits = 1;
    while ((1 << bits) < colors) ++bits;
    return bits;
}

void TGIFColorMap::RemoveAll() {
    const FrameLockHold hold(TableOwner());
    entries_.reset();
    count_ = 0;
    capacity_ = 0;
    sortFlag_ = false;
}

TGIFColor TGIFColorMap::ColorToTriple(TColor color) {
    const uint32_t value = static_cast<uint32_t>(color);
    return TGIFColor{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16)};
}

TColor TGIFColorMap::TripleToColor(const TGIFColor& entry) {
    return static_cast<TColor>(entry.Red | (entry.Green << 8) | (entry.Blue << 16));
}

void TGIFColorMap::Reserve(int n) {
    const FrameLockHold hold(TableOwner());
    if (n < capacity_) return;
    int capacity = n <= 16 ? 16 : (n + 31) / 32 * 32;
    if (capacity > 256) capacity = 256;
    std::unique_ptr<TGIFColor[]> entries(new TGIFColor[capacity]());
    if (entries_) std::memcpy(entries.get(), entries_.get(), sizeof(TGIFColor) * std::min(capacity_, capacity));
    entries_ = std::move(entries);
    capacity_ = capacity;
}

void TGIFColorMap::ReadTable(TStream& stream, int n) {
    const FrameLockHold hold(TableOwner());
    RemoveAll();
    Reserve(n);
    ReadExact(stream, entries_.get(), 3 * n);
    count_ = n;
}

void TGIFColorMap::WriteTable(TStream& stream) const {
    if (count_ == 0) return;
    stream.WriteBuffer(entries_.get(), 3 * count_);
    const int padding = (1 << BitDepth()) - count_;
    if (padding > 0) {
        uint8_t black[3 * 256] = {};
        stream.WriteBuffer(black, 3 * padding);
    }
}

int TGIFColorMap::FindColor(TColor color) const {
    const TGIFColor wanted = ColorToTriple(color);
    auto same = [&](int i) {
        const TGIFColor& e = entries_[i];
        return e.Red == wanted.Red && e.Green == wanted.Green && e.Blue == wanted.Blue;
    };
    if (sortFlag_) {
        for (int i = 0; i < count_; ++i)
            if (same(i)) return i;
    } else {
        for (int i = count_ - 1; i >= 0; --i)
            if (same(i)) return i;
    }
    return -1;
}

int TGIFColorMap::AppendColor(TColor color) {
    const FrameLockHold hold(TableOwner());
    if (count_ >= 256) RaiseGIFError(sColorTableOverflow);
    if (count_ == capacity_) Reserve(count_ + 1);
    entries_[count_] = ColorToTriple(color);
    ++count_;
    sortFlag_ = false;
    NotifyChange();
    return count_ - 1;
}

int TGIFColorMap::AppendIfMissing(TColor color) {
    const int index = FindColor(color);
    return index >= 0 ? index : AppendColor(color);
}

void TGIFColorMap::RemoveAt(int index) {
    const FrameLockHold hold(TableOwner());
    if (index < 0 || index >= count_) RaiseGIFError(sInvalidColorIndex);
    --count_;
    std::memmove(&entries_[index], &entries_[index + 1], sizeof(TGIFColor) * (count_ - index));
    sortFlag_ = false;
    NotifyChange();
}

TColor TGIFColorMap::ColorAt(int index) {
    if (index < 0 || index >= count_) {
        ReportWarning(1, sInvalidColorIndex);
        if (count_ == 0) RaiseGIFError(sColorTableEmpty);
        index = 0;
    }
    return TripleToColor(entries_[index]);
}

void TGIFColorMap::LoadFromPaletteHandle(HPALETTE palette) {
    const FrameLockHold hold(TableOwner());
    RemoveAll();
    PALETTEENTRY entries[256];
    const int n = static_cast<int>(GetPaletteEntries(palette, 0, 256, entries));
    if (n <= 0) return;
    Reserve(n);
    for (int i = 0; i < n; ++i) entries_[i] = TGIFColor{entries[i].peRed, entries[i].peGreen, entries[i].peBlue};
    count_ = n;
    NotifyChange();
}

void TGIFColorMap::LoadFromColorArray(const RGBQUAD* quads, int n) {
    const FrameLockHold hold(TableOwner());
    RemoveAll();
    if (n <= 0) return;
    if (n > 256) n = 256;
    Reserve(n);
    for (int i = 0; i < n; ++i) entries_[i] = TGIFColor{quads[i].rgbRed, quads[i].rgbGreen, quads[i].rgbBlue};
    count_ = n;
    NotifyChange();
}

void TGIFColorMap::LoadFromDIBColors(HDC dc) {
    const FrameLockHold hold(TableOwner());
    RemoveAll();
    std::unique_ptr<RGBQUAD[]> quads(new RGBQUAD[256]());
    const int n = static_cast<int>(GetDIBColorTable(dc, 0, 256, quads.get()));
    LoadFromColorArray(quads.get(), n);
    quads.reset();
    NotifyChange();
}

HPALETTE TGIFColorMap::MakePaletteHandle() const {
    if (count_ == 0) return nullptr;
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[256];
    } palette;
    palette.version = 0x300;
    palette.count = static_cast<WORD>(count_);
    for (int i = 0; i < count_; ++i)
        palette.entries[i] = PALETTEENTRY{entries_[i].Red, entries_[i].Green, entries_[i].Blue, PC_NOCOLLAPSE};
    return CreatePalette(reinterpret_cast<LOGPALETTE*>(&palette));
}

int TGIFColorMap::BitDepth() const { return BitsForColors(count_); }

void TGIFColorMap::CopyFrom(const TPersistent& source) {
    if (auto* other = dynamic_cast<const TGIFColorMap*>(&source)) {
        if (other == this) return;
        const FrameLockHold hold(TableOwner());
        RemoveAll();
        capacity_ = other->capacity_;
        count_ = other->count_;
        sortFlag_ = other->sortFlag_;
        if (capacity_ > 0) {
            entries_.reset(new TGIFColor[capacity_]());
            std::memcpy(entries_.get(), other->entries_.get(), sizeof(TGIFColor) * count_);
        }
        NotifyChange();
        return;
    }
    TPersistent::Assign(source);
}

bool TGIFColorMap::SortByUsage() {
    const FrameLockHold hold(TableOwner());
    if (count_ <= 1) return false;
    sortFlag_ = true;
    ColorUsageTable usage{};
    CountColorUse(usage);
    SortEntries(usage, 0, count_ - 1);
    bool unchanged = true;
    for (int k = 0; k < count_; ++k)
        if (usage[k].Index != static_cast<uint32_t>(k)) unchanged = false;
    if (unchanged) return true;

    IndexMap map;
    for (int k = 0; k < 256; ++k) map[k] = static_cast<uint8_t>(k);
    for (int k = 0; k < count_; ++k) map[usage[k].Index] = static_cast<uint8_t>(k);
    RemapPixels(map);

    std::unique_ptr<TGIFColor[]> old(new TGIFColor[count_]);
    std::memcpy(old.get(), entries_.get(), sizeof(TGIFColor) * count_);
    for (int k = 0; k < count_; ++k) entries_[map[k]] = old[k];
    for (int k = 0; k < count_; ++k)
        if (usage[k].UseCount == 0) {
            count_ = k;
            break;
        }
    NotifyChange();
    return true;
}

// Quicksort, largest count first; ties land where exactly these steps put them.
void TGIFColorMap::SortEntries(ColorUsageTable& usage, int left, int right) {
    int i;
    do {
        i = left;
        int j = right;
        const int32_t pivot = usage[(left + right) / 2].UseCount;
        do {
            while (usage[i].UseCount - pivot > 0) ++i;
            while (usage[j].UseCount - pivot < 0) --j;
            if (i <= j) {
                std::swap(usage[i], usage[j]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (left < j) SortEntries(usage, left, j);
        left = i;
    } while (i < right);
}

// --- Owner-specific behaviour ------------------------------------------------

namespace {
void CountPixels(const TGIFSubImage& frame, ColorUsageTable& usage, int count) {
    const uint8_t* p = frame.Pixels();
    for (int32_t n = frame.PixelsSize(); n > 0; --n, ++p)
        if (*p < count) ++usage[*p].UseCount;
}

// A transparent index outside the table keeps its value.
void RemapFrame(TGIFSubImage& frame, const IndexMap& map, int count) {
    frame.RemapPixels(map, count);
    if (frame.Transparent() && frame.GraphicControlExtension()) {
        const uint8_t t = frame.GraphicControlExtension()->TransparentIndex();
        if (t < count) frame.GraphicControlExtension()->SetTransparentIndex(map[t]);
    }
}

void ResetUsage(ColorUsageTable& usage, int count) {
    for (int i = 0; i < count; ++i) usage[i] = ColorUsage{0, static_cast<uint32_t>(i)};
}
}  // namespace

TGIFGlobalColorMap::~TGIFGlobalColorMap() {
    RemoveAll();
    NotifyChange();
}

const TGIFOwner* TGIFGlobalColorMap::TableOwner() const { return header_ ? header_->Owner() : nullptr; }

void TGIFGlobalColorMap::ReportWarning(int severity, const std::string& message) {
    if (header_ && header_->Owner())
        EndIfImageFreed(header_->Owner()->Warn(this, static_cast<uint8_t>(severity), message));
}

void TGIFGlobalColorMap::CountColorUse(ColorUsageTable& usage) {
    ResetUsage(usage, Count());
    if (!frames_) return;
    for (int i = 0; i < frames_->ItemCount(); ++i) {
        TGIFSubImage* frame = frames_->FrameAt(i);
        if (frame->EffectiveColorMap() == this) CountPixels(*frame, usage, Count());
    }
}

void TGIFGlobalColorMap::RemapPixels(const IndexMap& map) {
    if (!frames_) return;
    for (int i = 0; i < frames_->ItemCount(); ++i) {
        TGIFSubImage* frame = frames_->FrameAt(i);
        if (frame->EffectiveColorMap() == this) RemapFrame(*frame, map, Count());
    }
    // The background keeps its colour.
    if (header_ && header_->BackgroundIndex() < Count()) header_->SetBackgroundIndex(map[header_->BackgroundIndex()]);
}

bool TGIFGlobalColorMap::Compact() {
    if (!frames_ || frames_->ItemCount() == 0) return false;
    return SortByUsage();
}

void TGIFGlobalColorMap::NotifyChange() {
    if (header_ && header_->Owner()) header_->Owner()->GlobalColorsChanged();
}

TGIFLocalColorMap::~TGIFLocalColorMap() {
    RemoveAll();
    NotifyChange();
}

const TGIFOwner* TGIFLocalColorMap::TableOwner() const { return frame_ ? frame_->Owner() : nullptr; }

void TGIFLocalColorMap::ReportWarning(int severity, const std::string& message) {
    if (!frame_ || !frame_->Owner()) return;
    const TFrameWatch watch(*frame_);
    EndIfImageFreed(frame_->Owner()->Warn(this, static_cast<uint8_t>(severity), message) && watch.Lives());
}

void TGIFLocalColorMap::CountColorUse(ColorUsageTable& usage) {
    ResetUsage(usage, Count());
    if (frame_) CountPixels(*frame_, usage, Count());
}

void TGIFLocalColorMap::RemapPixels(const IndexMap& map) {
    if (frame_) RemapFrame(*frame_, map, Count());
}

bool TGIFLocalColorMap::Compact() { return SortByUsage(); }

void TGIFLocalColorMap::NotifyChange() {
    if (frame_) frame_->SetPaletteHandle(nullptr);
}
