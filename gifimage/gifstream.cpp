#include "gifimage/gifstream.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "gifimage/colormap.h"
#include "gifimage/gifformat.h"
#include "gifimage/gifio.h"
#include "gifimage/messages.h"
#include "gifimage/settings.h"
#include "gifimage/subimage.h"

const char* const GIFVersionText[3] = {"", "87a", "89a"};

// --- TGIFItem ----------------------------------------------------------------

// A warning handler that frees the image, or takes away the frame the item belongs to, ends the
// work that warned with the library's abort.
void TGIFItem::ReportWarning(int severity, const std::string& message) {
    if (!Owner()) return;
    std::optional<TFrameWatch> watch;
    if (const TGIFSubImage* frame = FrameOfItem()) watch.emplace(*frame);
    EndIfImageFreed(Owner()->Warn(this, static_cast<uint8_t>(severity), message) && (!watch || watch->Lives()));
}

void TGIFItem::ReadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

// The item is written to memory first, so that a save that fails leaves an existing file
// as it was.
void TGIFItem::WriteToFile(const std::string& fileName) {
    TMemoryStream memory;
    SaveToStream(memory);
    TFileStream stream(fileName, fmCreate);
    stream.WriteBuffer(memory.Memory(), static_cast<int32_t>(memory.Size()));
}

// --- TGIFList ----------------------------------------------------------------

TGIFList::~TGIFList() { RemoveAll(); }

void TGIFList::ReportWarning(int severity, const std::string& message) {
    if (Owner()) EndIfImageFreed(Owner()->Warn(this, static_cast<uint8_t>(severity), message));
}

void TGIFList::SaveItems(TStream& stream) {
    for (TGIFItem* item : items_) item->SaveToStream(stream);
}

TGIFItem* TGIFList::ItemAt(int index) const {
    if (index < 0 || index >= ItemCount()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
    return items_[index];
}

int TGIFList::Append(TGIFItem* item) {
    const FrameLockHold hold(Owner());
    items_.push_back(item);
    ++changes_;
    return ItemCount() - 1;
}

void TGIFList::RemoveAt(int index) {
    const FrameLockHold hold(Owner());
    TGIFItem* item = ItemAt(index);
    items_.erase(items_.begin() + index);
    ++changes_;
    delete item;
}

// Takes every item out first and then destroys them in order, so that an item's destructor that
// looks for itself in the list (as frames and extensions do) finds it empty at once: emptying a
// list of n items takes time in n, not n squared.
void TGIFList::RemoveAll() {
    const FrameLockHold hold(Owner());
    std::vector<TGIFItem*> items;
    items.swap(items_);
    changes_ += static_cast<uint32_t>(items.size());
    for (TGIFItem* item : items) delete item;
}

int TGIFList::RemoveItem(TGIFItem* item) {
    const FrameLockHold hold(Owner());
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == item) {
            items_.erase(items_.begin() + i);
            ++changes_;
            return static_cast<int>(i);
        }
    return -1;
}

int TGIFList::IndexOf(const TGIFItem* item) const {
    const auto it = std::find(items_.begin(), items_.end(), item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TGIFList::ReserveOneMore() {
    if (items_.size() == items_.capacity()) items_.reserve(items_.size() * 2 + 1);
}

// --- TGIFImageList -----------------------------------------------------------

TGIFSubImage* TGIFImageList::FrameAt(int index) const { return static_cast<TGIFSubImage*>(ItemAt(index)); }

GIFVersion TGIFImageList::RequiredVersion() const {
    GIFVersion version = VersionNone;
    for (int i = 0; i < ItemCount() && version < Version89a; ++i) {
        const GIFVersion needed = FrameAt(i)->RequiredVersion();
        if (needed > version) version = needed;
    }
    return version;
}

int TGIFImageList::ColorDepth(int least) const {
    for (int i = 0; i < ItemCount(); ++i) least = std::max(least, FrameAt(i)->ColorDepth());
    return least;
}

// A table holds at most 256 colours, 8 bits: once there, no frame can ask for more.
int TGIFImageList::BitDepth(int least) const {
    for (int i = 0; i < ItemCount() && least < 8; ++i) least = std::max(least, FrameAt(i)->BitDepth());
    return least;
}

namespace {
// The next byte that is not zero; false at the end of the stream.
bool NextBlockByte(TStream& stream, uint8_t& value) {
    do {
        if (!ReadByte(stream, value)) return false;
    } while (value == 0);
    return true;
}
}  // namespace

void TGIFImageList::LoadItems(TStream& stream, TObject* parent) {
    TGIFOwner* image = dynamic_cast<TGIFOwner*>(parent);
    uint8_t introducer = 0;
    if (!NextBlockByte(stream, introducer)) return;
    while (introducer != kTrailer) {
        stream.Seek(-1, soCurrent);
        if (introducer != kExtensionIntroducer && introducer != kImageSeparator) {
            ReportWarning(1, sUnknownBlockType);
            stream.Seek(-1, soCurrent);
            return;
        }
        TUnlistedFrame frame(image);
        frame->LoadFromStream(stream);
        Append(frame.get());
        frame.Release();
        if (image) {
            const int32_t position = static_cast<int32_t>(stream.Position());
            const int32_t size = static_cast<int32_t>(stream.Size());
            EndIfImageFreed(image->ReportProgress(this, psRunning, MulDiv(position, 100, size),
                                                  RenderFramesWhileLoading, sProgressLoading));
        }
        if (!NextBlockByte(stream, introducer)) return;
    }
    stream.Seek(-1, soCurrent);
}

// A handler that empties or reloads the image or takes a frame from it ends the save, which
// would otherwise write some frames of one list and some of another.
void TGIFImageList::SaveItems(TStream& stream) {
    for (int i = 0; i < ItemCount(); ++i) {
        FrameAt(i)->SaveToStream(stream);
        if (!Owner()) continue;
        const TFrameListWatch frames(*this);
        EndIfImageFreed(
            Owner()->ReportProgress(this, psRunning, MulDiv(i + 1, 100, ItemCount()), false, sProgressSaving) &&
            frames.Unchanged());
    }
}

// --- TGIFHeader --------------------------------------------------------------

TGIFHeader::TGIFHeader(TGIFOwner* owner, const TGIFImageList* frames) : TGIFItem(owner), frames_(frames) {
    colorMap_ = std::make_unique<TGIFGlobalColorMap>(this, frames);
    ResetFields();
}

TGIFHeader::~TGIFHeader() = default;

void TGIFHeader::ResetFields() {
    colorMap_->RemoveAll();
    descriptor_ = TLogicalScreenDescriptor{};
}

void TGIFHeader::CopyFrom(const TPersistent& source) {
    if (auto* header = dynamic_cast<const TGIFHeader*>(&source)) {
        colorMap_->CopyFrom(*header->ColorMap());
        descriptor_ = header->Descriptor();
    } else if (auto* colorMap = dynamic_cast<const TGIFColorMap*>(&source)) {
        ResetFields();
        colorMap_->CopyFrom(*colorMap);
    } else {
        TGIFItem::Assign(source);
    }
}

GIFVersion TGIFHeader::RequiredVersion() const {
    return (colorMap_->SortFlag() || descriptor_.AspectRatio != 0) ? Version89a : Version87a;
}

namespace {
// The signature's first three bytes, upper-cased and cut at a zero byte, against "GIF".
bool IsGIFSignature(const char* bytes) {
    char text[4] = {0, 0, 0, 0};
    for (int i = 0; i < 3 && bytes[i] != 0; ++i) {
        char c = bytes[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        text[i] = c;
    }
    return std::strcmp(text, "GIF") == 0;
}
}  // namespace

void TGIFHeader::LoadFromStream(TStream& stream) {
    const int64_t start = stream.Position();
    char signature[6];
    ReadExact(stream, signature, 6);
    if (!IsGIFSignature(signature)) {
        stream.SetPosition(start);
        stream.Seek(4, soCurrent);
        ReadExact(stream, signature, 6);
        if (!IsGIFSignature(signature)) RaiseGIFError(sInvalidSignature);
    }
    ReadExact(stream, &descriptor_, sizeof descriptor_);
    if (descriptor_.PackedFields & kColorTableFlag)
        colorMap_->ReadTable(stream, ColorTableEntries(descriptor_.PackedFields));
    else
        colorMap_->RemoveAll();
}

// Signature, logical screen descriptor and global table; an image without frames has no
// version and writes nothing.
void TGIFHeader::SaveToStream(TStream& stream) {
    const GIFVersion version = frames_ ? frames_->RequiredVersion() : VersionNone;
    if (version == VersionNone) RaiseGIFError(sUnsupportedVersion);
    PackFlags();
    uint8_t bytes[6 + sizeof descriptor_];
    std::memcpy(bytes, "GIF", 3);
    std::memcpy(bytes + 3, GIFVersionText[version], 3);
    std::memcpy(bytes + 6, &descriptor_, sizeof descriptor_);
    stream.WriteBuffer(bytes, sizeof bytes);
    if (descriptor_.PackedFields & kColorTableFlag) colorMap_->WriteTable(stream);
}

void TGIFHeader::PackFlags() {
    const bool hasColors = colorMap_->Count() > 0;
    uint8_t flags = 0;
    if (hasColors) flags |= kColorTableFlag;
    if (hasColors && colorMap_->SortFlag()) flags |= kScreenSortFlag;
    const int imageColorDepth = frames_ ? frames_->ColorDepth(ColorDepth()) : ColorDepth();
    const int imageBitDepth = frames_ ? frames_->BitDepth(BitDepth()) : BitDepth();
    flags |= static_cast<uint8_t>((imageColorDepth << kColorResolutionShift) & kColorResolutionMask);
    if (hasColors)
        flags |= ColorTableSizeField(colorMap_->BitDepth());
    else
        flags |= ColorTableSizeField(imageBitDepth);
    descriptor_.PackedFields = flags;
}

TColor TGIFHeader::BackgroundColor() { return colorMap_->ColorAt(descriptor_.BackgroundIndex); }

int TGIFHeader::BitDepth() const { return colorMap_->BitDepth(); }
