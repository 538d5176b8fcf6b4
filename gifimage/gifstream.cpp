#include "gifimage/gifstream.h"

#include <cstring>

#include "gifimage/colormap.h"
#include "gifimage/gifimage.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"

bool RenderFramesWhileLoading = false;
const char* const GIFVersionText[3] = {"", "87a", "89a"};

// --- Unit routines -----------------------------------------------------------

void RaiseGIFError(const std::string& message) { throw GIFException(message); }

void ReadExact(TStream& stream, void* buffer, int32_t count) {
    if (count > 0 && stream.Read(buffer, count) != count) RaiseGIFError(sPrematureEndOfData);
}

void PutByte(TStream& stream, uint8_t value) { stream.WriteBuffer(&value, 1); }

uint8_t GetByte(TStream& stream) {
    uint8_t value = 0;
    if (stream.Read(&value, 1) != 1) return 0;
    return value;
}

void WriteStringsAsBlocks(TStream& stream, const TStrings& strings) {
    for (int i = 0; i < strings.Count(); ++i) {
        const std::string& line = strings[i];
        size_t done = 0;
        while (done < line.size()) {
            const size_t piece = std::min<size_t>(255, line.size() - done);
            PutByte(stream, static_cast<uint8_t>(piece));
            stream.WriteBuffer(line.data() + done, static_cast<int32_t>(piece));
            done += piece;
        }
    }
    PutByte(stream, 0);
}

void ReadStringsFromBlocks(TStream& stream, TStrings& strings) {
    strings.Clear();
    uint8_t length = 0;
    char block[256];
    while (ReadByte(stream, length) && length != 0) {
        ReadExact(stream, block, length);
        strings.Add(std::string(block, strnlen(block, length)));
    }
}

int BitsForColors(int colors) {
    if (colors <= 0) return 0;
    int bits = 1;
    while ((1 << bits) < colors) ++bits;
    return bits;
}

int AlignedRowBytes(int width, int bitsPerPixel, int alignment) {
    return ((width * bitsPerPixel + alignment - 1) & ~(alignment - 1)) / 8;
}

HPALETTE CreateWebSafePalette() {
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[216];
    } palette;
    palette.version = 0x300;
    palette.count = 216;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) {
                PALETTEENTRY& e = palette.entries[r * 36 + g * 6 + b];
                e.peRed = static_cast<BYTE>(51 * r);
                e.peGreen = static_cast<BYTE>(51 * g);
                e.peBlue = static_cast<BYTE>(51 * b);
                e.peFlags = 0;
            }
    return CreatePalette(reinterpret_cast<LOGPALETTE*>(&palette));
}

void RaiseGdiFailure() {
    const DWORD code = GetLastError();
    if (code != 0) {
        char text[256];
        const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                            code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text,
                                            nullptr);
        if (length > 0) throw EOutOfResources(std::string(text, length));
    }
    throw EOutOfResources(sOutOfResources);
}

// --- TGIFItem ----------------------------------------------------------------

void TGIFItem::ReportWarning(int severity, const std::string& message) {
    if (OwnerImage) OwnerImage->ReportWarning(this, static_cast<uint8_t>(severity), message);
}

void TGIFItem::ReadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

// --- TGIFList ----------------------------------------------------------------

TGIFList::~TGIFList() { RemoveAll(); }

void TGIFList::ReportWarning(int severity, const std::string& message) {
    if (OwnerImage) OwnerImage->ReportWarning(this, static_cast<uint8_t>(severity), message);
}

void TGIFList::SaveItems(TStream& stream) {
    for (TGIFItem* item : Items) item->SaveToStream(stream);
}

TGIFItem* TGIFList::ItemAt(int index) const {
    if (index < 0 || index >= ItemCount()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
    return Items[index];
}

int TGIFList::Append(TGIFItem* item) {
    Items.push_back(item);
    return ItemCount() - 1;
}

void TGIFList::RemoveAt(int index) {
    TGIFItem* item = ItemAt(index);
    Items.erase(Items.begin() + index);
    delete item;
}

void TGIFList::RemoveAll() {
    while (!Items.empty()) RemoveAt(0);
}

int TGIFList::RemoveItem(TGIFItem* item) {
    for (size_t i = 0; i < Items.size(); ++i)
        if (Items[i] == item) {
            Items.erase(Items.begin() + i);
            return static_cast<int>(i);
        }
    return -1;
}

// --- TGIFImageList -----------------------------------------------------------

TGIFSubImage* TGIFImageList::FrameAt(int index) const { return static_cast<TGIFSubImage*>(ItemAt(index)); }

namespace {
// The next byte that is not zero; false at the end of the stream.
bool NextBlockByte(TStream& stream, uint8_t& value) {
    do {
        if (!ReadByte(stream, value)) return false;
    } while (value == 0);
    return true;
}
} // namespace

void TGIFImageList::LoadItems(TStream& stream, TObject* parent) {
    TGIFImage* image = dynamic_cast<TGIFImage*>(parent);
    uint8_t introducer = 0;
    if (!NextBlockByte(stream, introducer)) return;
    while (introducer != ';') {
        stream.Seek(-1, soCurrent);
        if (introducer != '!' && introducer != ',') {
            ReportWarning(1, sUnknownBlockType);
            stream.Seek(-1, soCurrent);
            return;
        }
        std::unique_ptr<TGIFSubImage> frame = std::make_unique<TGIFSubImage>(image);
        frame->LoadFromStream(stream);
        Append(frame.release());
        if (image) {
            const int32_t position = static_cast<int32_t>(stream.Position());
            const int32_t size = static_cast<int32_t>(stream.Size());
            image->Progress(this, psRunning, static_cast<uint8_t>(MulDiv(position, 100, size)),
                            RenderFramesWhileLoading, RECT{0, 0, 0, 0}, sProgressLoading);
        }
        if (!NextBlockByte(stream, introducer)) return;
    }
    stream.Seek(-1, soCurrent);
}

void TGIFImageList::SaveItems(TStream& stream) {
    for (int i = 0; i < ItemCount(); ++i) {
        FrameAt(i)->SaveToStream(stream);
        if (OwnerImage)
            OwnerImage->Progress(this, psRunning, static_cast<uint8_t>(MulDiv(i + 1, 100, ItemCount())), false,
                                 RECT{0, 0, 0, 0}, sProgressSaving);
    }
}

// --- TGIFHeader --------------------------------------------------------------

TGIFHeader::TGIFHeader(TGIFImage* ownerImage) : TGIFItem(ownerImage) {
    ColorMap = std::make_unique<TGIFGlobalColorMap>(this);
    ResetFields();
}

TGIFHeader::~TGIFHeader() = default;

void TGIFHeader::ResetFields() {
    ColorMap->RemoveAll();
    Descriptor = TLogicalScreenDescriptor{};
}

void TGIFHeader::CopyFrom(const TPersistent& source) {
    if (auto* header = dynamic_cast<const TGIFHeader*>(&source)) {
        ColorMap->CopyFrom(*header->ColorMap);
        Descriptor = header->Descriptor;
    } else if (auto* colorMap = dynamic_cast<const TGIFColorMap*>(&source)) {
        ResetFields();
        ColorMap->CopyFrom(*colorMap);
    } else {
        TGIFItem::Assign(source);
    }
}

GIFVersion TGIFHeader::RequiredVersion() const {
    return (ColorMap->SortFlag() || Descriptor.AspectRatio != 0) ? Version89a : Version87a;
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
} // namespace

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
    ReadExact(stream, &Descriptor, sizeof Descriptor);
    if (Descriptor.PackedFields & 0x80)
        ColorMap->ReadTable(stream, 2 << (Descriptor.PackedFields & 7));
    else
        ColorMap->RemoveAll();
}

void TGIFHeader::PackFlags() {
    const bool hasColors = ColorMap->Count() > 0;
    uint8_t flags = 0;
    if (hasColors) flags |= 0x80;
    if (hasColors && ColorMap->SortFlag()) flags |= 0x08;
    const int imageColorDepth = OwnerImage ? OwnerImage->ColorDepth() : ColorDepth();
    const int imageBitDepth = OwnerImage ? OwnerImage->BitDepth() : BitDepth();
    flags |= static_cast<uint8_t>((imageColorDepth & 7) << 4);
    if (hasColors)
        flags |= static_cast<uint8_t>((ColorMap->BitDepth() - 1) & 7);
    else
        flags |= static_cast<uint8_t>((imageBitDepth - 1) & 7);
    Descriptor.PackedFields = flags;
}

TColor TGIFHeader::BackgroundColor() { return ColorMap->ColorAt(Descriptor.BackgroundIndex); }

int TGIFHeader::BitDepth() const { return ColorMap->BitDepth(); }
