#include "gifimage/extensions.h"

#include <cstring>

#include "gifimage/messages.h"
#include "gifimage/subimage.h"

namespace {
// What the reader makes of an application block whose identifier block size it cannot use:
// loading it refuses the size before any data would be read.
class TGIFPlainAppExtension : public TGIFApplicationExtension {
public:
    using TGIFApplicationExtension::TGIFApplicationExtension;
    void WriteAppData(TStream&) override { RaiseGIFError(sUnsupportedAppBlockSize); }
    void ReadAppData(TStream&) override { RaiseGIFError(sUnsupportedAppBlockSize); }
};

template <class T> TGIFExtension* CreateExtension(TGIFSubImage* frame) { return new T(frame); }

// Plain pointers, not objects with destructors of their own: the library's exit frees them,
// and it may run after this file's statics are gone.
TExtensionList* extensionRegistry = nullptr;
TAppExtensionList* appExtensionRegistry = nullptr;
} // namespace

const TGIFExtensionClassInfo TGIFGraphicControlExtension::ClassInfo = {
    "TGIFGraphicControlExtension", &TGIFExtension::RefineClass, &CreateExtension<TGIFGraphicControlExtension>};
const TGIFExtensionClassInfo TGIFTextExtension::ClassInfo = {"TGIFTextExtension", &TGIFExtension::RefineClass,
                                                             &CreateExtension<TGIFTextExtension>};
const TGIFExtensionClassInfo TGIFCommentExtension::ClassInfo = {
    "TGIFCommentExtension", &TGIFExtension::RefineClass, &CreateExtension<TGIFCommentExtension>};
const TGIFExtensionClassInfo TGIFApplicationExtension::ClassInfo = {
    "TGIFApplicationExtension", &TGIFApplicationExtension::RefineClass, &CreateExtension<TGIFPlainAppExtension>};
const TGIFExtensionClassInfo TGIFUnknownAppExtension::ClassInfo = {
    "TGIFUnknownAppExtension", &TGIFApplicationExtension::RefineClass, &CreateExtension<TGIFUnknownAppExtension>};
const TGIFExtensionClassInfo TGIFAppExtNSLoop::ClassInfo = {"TGIFAppExtNSLoop", &TGIFApplicationExtension::RefineClass,
                                                            &CreateExtension<TGIFAppExtNSLoop>};

// --- Registries --------------------------------------------------------------

TGIFAppIdentifier MakeAppIdentifier(const char* text) {
    TGIFAppIdentifier identifier{};
    std::memcpy(identifier.data(), text, std::min<size_t>(std::strlen(text), identifier.size()));
    return identifier;
}

void TExtensionList::AddEntry(uint8_t label, TGIFExtensionClass extensionClass) {
    entries_.push_back(Entry{extensionClass, label});
}

TGIFExtensionClass TExtensionList::FindByLabel(uint8_t label) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->Label == label) return it->ExtensionClass;
    return nullptr;
}

void TAppExtensionList::AddEntry(const TGIFAppIdentifier& identifier, TGIFExtensionClass extensionClass) {
    entries_.push_back(Entry{extensionClass, identifier});
}

TGIFExtensionClass TAppExtensionList::FindByIdentifier(const TGIFAppIdentifier& identifier) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->Identifier == identifier) return it->ExtensionClass;
    return nullptr;
}

TExtensionList* ExtensionRegistry() {
    if (!extensionRegistry) {
        extensionRegistry = new TExtensionList;
        extensionRegistry->AddEntry(0x01, &TGIFTextExtension::ClassInfo);
        extensionRegistry->AddEntry(0xF9, &TGIFGraphicControlExtension::ClassInfo);
        extensionRegistry->AddEntry(0xFE, &TGIFCommentExtension::ClassInfo);
        extensionRegistry->AddEntry(0xFF, &TGIFApplicationExtension::ClassInfo);
    }
    return extensionRegistry;
}

TAppExtensionList* AppExtensionRegistry() {
    if (!appExtensionRegistry) {
        appExtensionRegistry = new TAppExtensionList;
        appExtensionRegistry->AddEntry(MakeAppIdentifier("NETSCAPE2.0"), &TGIFAppExtNSLoop::ClassInfo);
        appExtensionRegistry->AddEntry(MakeAppIdentifier("ANIMEXTS1.0"), &TGIFAppExtNSLoop::ClassInfo);
    }
    return appExtensionRegistry;
}

void FreeExtensionRegistries() {
    delete extensionRegistry;
    extensionRegistry = nullptr;
    delete appExtensionRegistry;
    appExtensionRegistry = nullptr;
}

// --- TGIFExtension -----------------------------------------------------------

TGIFExtension::TGIFExtension(TGIFSubImage* frame) : TGIFItem(frame ? frame->OwnerImage : nullptr), Frame(frame) {}

TGIFExtension::~TGIFExtension() {
    if (Frame && Frame->Extensions) Frame->Extensions->RemoveItem(this);
}

TGIFExtensionClass TGIFExtension::ClassForLabel(TStream& stream) {
    const int64_t position = stream.Position();
    uint8_t label = 0;
    if (!ReadByte(stream, label)) return nullptr;
    TGIFExtensionClass extensionClass = ExtensionRegistry()->FindByLabel(label);
    while (extensionClass) {
        TGIFExtensionClass refined = extensionClass->RefineClass(extensionClass, stream);
        if (refined == extensionClass) break;
        extensionClass = refined;
    }
    stream.SetPosition(position);
    return extensionClass;
}

uint8_t TGIFExtension::ReadIntroducer(TStream& stream) {
    uint8_t bytes[2];
    ReadExact(stream, bytes, 2);
    if (bytes[0] != '!') RaiseGIFError(sInvalidIntroducer);
    return bytes[1];
}

void TGIFExtension::LoadFromStream(TStream& stream) {
    if (ReadIntroducer(stream) != LabelByte()) RaiseGIFError(sExtensionMismatch);
}

// --- Graphic control ---------------------------------------------------------

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* frame) : TGIFExtension(frame) {
    if (Frame && !Frame->GraphicControlExtension) Frame->GraphicControlExtension = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
    if (Frame) {
        if (IsTransparent()) Frame->Transparent = false;
        if (Frame->GraphicControlExtension == this) Frame->GraphicControlExtension = nullptr;
    }
}

void TGIFGraphicControlExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    if (stream.Read(&Record, sizeof Record) != static_cast<int32_t>(sizeof Record)) {
        ReportWarning(1, sPrematureEndOfData);
        return;
    }
    if ((Record.PackedFields & 0x01) && Frame) Frame->Transparent = true;
}

void TGIFGraphicControlExtension::SetIsTransparent(bool value) {
    Record.PackedFields = static_cast<uint8_t>((Record.PackedFields & ~0x01) | (value ? 0x01 : 0));
    if (Frame) Frame->Transparent = value;
}

void TGIFGraphicControlExtension::SetDisposalMethod(uint8_t value) {
    Record.PackedFields = static_cast<uint8_t>((Record.PackedFields & 0xE3) | ((value << 2) & 0x1C));
}

void TGIFGraphicControlExtension::SetTransparentIndex(int index) {
    const int count = Frame ? Frame->EffectiveColorMap()->Count() : 0;
    if (count > 0 && index >= count) {
        ReportWarning(1, sInvalidColorIndex);
        index = 0;
    }
    Record.TransparentIndex = static_cast<uint8_t>(index);
}

// --- Plain text and comment ----------------------------------------------------

TGIFTextExtension::TGIFTextExtension(TGIFSubImage* frame)
    : TGIFExtension(frame), Text(std::make_unique<TStringList>()) {}

void TGIFTextExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    ReadExact(stream, &Record, sizeof Record);
    ReadStringsFromBlocks(stream, *Text);
}

TGIFCommentExtension::TGIFCommentExtension(TGIFSubImage* frame)
    : TGIFExtension(frame), Comment(std::make_unique<TStringList>()) {}

void TGIFCommentExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    ReadStringsFromBlocks(stream, *Comment);
}

// --- Application extensions --------------------------------------------------

// Identifier blocks longer than 11 bytes are taken as unknown application data.
TGIFExtensionClass TGIFApplicationExtension::RefineClass(TGIFExtensionClass self, TStream& stream) {
    const int64_t position = stream.Position();
    uint8_t size = 0;
    if (!ReadByte(stream, size)) return nullptr;
    uint8_t identifier[11];
    if (size == 10) {
        if (stream.Read(identifier, 10) != 10) return nullptr;
        return &TGIFUnknownAppExtension::ClassInfo;
    }
    if (size == 11) {
        if (stream.Read(identifier, 11) == 11) {
            TGIFAppIdentifier key;
            std::memcpy(key.data(), identifier, 11);
            TGIFExtensionClass found = AppExtensionRegistry()->FindByIdentifier(key);
            return found ? found : &TGIFUnknownAppExtension::ClassInfo;
        }
    }
    // A longer block is written back with 11 bytes; its identifier must pick the class it will
    // have then, or a loop identifier over other data would save what no load accepts.
    TGIFExtensionClass longer = &TGIFUnknownAppExtension::ClassInfo;
    if (size > 11 && stream.Read(identifier, 11) == 11) {
        TGIFAppIdentifier key;
        std::memcpy(key.data(), identifier, 11);
        if (TGIFExtensionClass found = AppExtensionRegistry()->FindByIdentifier(key)) longer = found;
    }
    stream.SetPosition(position);
    if (size > 11) return longer;
    return self;
}

void TGIFApplicationExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    const uint8_t size = GetByte(stream);
    if (size < 10) RaiseGIFError(sUnsupportedAppBlockSize);
    if (size == 10) {
        Identifier.fill(0);
        ReadExact(stream, Identifier.data(), 10);
    } else {
        ReadExact(stream, Identifier.data(), 11);
        if (size > 11) stream.Seek(size - 11, soCurrent);
    }
    ReadAppData(stream);
}

void TGIFUnknownAppExtension::ReadAppData(TStream& stream) {
    Blocks.clear();
    uint8_t size = 0;
    while (ReadByte(stream, size) && size != 0) {
        auto block = std::make_unique<TGIFBlock>(size);
        block->ReadBlock(stream);
        Blocks.push_back(std::move(block));
    }
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {
    Identifier = MakeAppIdentifier("NETSCAPE2.0");
}

// Sub-blocks of the loop extension; at the end of the stream each read gives 0, which ends them.
void TGIFAppExtNSLoop::ReadAppData(TStream& stream) {
    uint8_t length = GetByte(stream);
    while (length != 0) {
        const int identifier = GetByte(stream) & 7;
        int remaining = length - 1;
        if (identifier == 1) {
            if (remaining < 2) RaiseGIFError(sInvalidData);
            ReadExact(stream, &LoopCount, 2);
            remaining -= 2;
        } else if (identifier == 2) {
            if (remaining < 4) RaiseGIFError(sInvalidData);
            ReadExact(stream, &BufferSize, 4);
            remaining -= 4;
        }
        if (remaining > 0) stream.Seek(remaining, soCurrent);
        length = GetByte(stream);
    }
}

// --- Trailer -----------------------------------------------------------------

void TGIFTrailer::LoadFromStream(TStream& stream) {
    uint8_t value = 0;
    if (ReadByte(stream, value) && value != ';') ReportWarning(1, sInvalidTrailer);
}
