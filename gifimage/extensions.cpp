#include "gifimage/extensions.h"

#include <algorithm>
#include <cstring>

#include "classlib/streams.h"
#include "classlib/stringlist.h"
#include "gifimage/gifformat.h"
#include "gifimage/settings.h"
#include "gifimage/gifio.h"
#include "gifimage/gifstream.h"
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

template <class T>
TGIFExtension* CreateExtension(TGIFSubImage* frame) {
    return new T(frame);
}

// Plain pointers, not objects with destructors of their own: the library's exit frees them,
// and it may run after this file's statics are gone.
TExtensionList* extensionRegistry = nullptr;
TAppExtensionList* appExtensionRegistry = nullptr;
}  // namespace

const TGIFExtensionClassInfo TGIFGraphicControlExtension::ClassInfo = {
    "TGIFGraphicControlExtension", &TGIFExtension::RefineClass, &CreateExtension<TGIFGraphicControlExtension>};
const TGIFExtensionClassInfo TGIFTextExtension::ClassInfo = {"TGIFTextExtension", &TGIFExtension::RefineClass,
                                                             &CreateExtension<TGIFTextExtension>};
const TGIFExtensionClassInfo TGIFCommentExtension::ClassInfo = {"TGIFCommentExtension", &TGIFExtension::RefineClass,
                                                                &CreateExtension<TGIFCommentExtension>};
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
        extensionRegistry->AddEntry(kPlainTextLabel, &TGIFTextExtension::ClassInfo);
        extensionRegistry->AddEntry(kGraphicControlLabel, &TGIFGraphicControlExtension::ClassInfo);
        extensionRegistry->AddEntry(kCommentLabel, &TGIFCommentExtension::ClassInfo);
        extensionRegistry->AddEntry(kApplicationLabel, &TGIFApplicationExtension::ClassInfo);
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

TGIFExtension::TGIFExtension(TGIFSubImage* frame) : TGIFItem(frame ? frame->Owner() : nullptr), frame_(frame) {}

TGIFExtension::~TGIFExtension() {
    if (Frame() && Frame()->Extensions()) Frame()->Extensions()->RemoveItem(this);
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
    if (bytes[0] != kExtensionIntroducer) RaiseGIFError(sInvalidIntroducer);
    return bytes[1];
}

void TGIFExtension::LoadFromStream(TStream& stream) {
    if (ReadIntroducer(stream) != LabelByte()) RaiseGIFError(sExtensionMismatch);
}

void TGIFExtension::SaveToStream(TStream& stream) {
    const uint8_t introducer[2] = {kExtensionIntroducer, LabelByte()};
    stream.WriteBuffer(introducer, 2);
}

// --- Graphic control ---------------------------------------------------------

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* frame) : TGIFExtension(frame) {
    if (Frame() && !Frame()->GraphicControlExtension()) Frame()->graphicControlExtension_ = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
    if (Frame()) {
        if (IsTransparent()) Frame()->transparent_ = false;
        if (Frame()->GraphicControlExtension() == this) Frame()->graphicControlExtension_ = nullptr;
    }
}

void TGIFGraphicControlExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    if (stream.Read(&record_, sizeof record_) != static_cast<int32_t>(sizeof record_)) {
        ReportWarning(1, sPrematureEndOfData);
        return;
    }
    if ((record_.PackedFields & kTransparentFlag) && Frame()) Frame()->transparent_ = true;
}

void TGIFGraphicControlExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    stream.WriteBuffer(&record_, sizeof record_);
}

void TGIFGraphicControlExtension::SetIsTransparent(bool value) {
    const FrameLockHold hold(*this);
    record_.PackedFields = static_cast<uint8_t>((record_.PackedFields & ~kTransparentFlag) |
                                               (value ? kTransparentFlag : 0));
    if (Frame()) Frame()->transparent_ = value;
}

void TGIFGraphicControlExtension::SetDisposalMethod(uint8_t value) {
    const FrameLockHold hold(*this);
    record_.PackedFields = static_cast<uint8_t>((record_.PackedFields & ~kDisposalMask) |
                                               ((value << kDisposalShift) & kDisposalMask));
}

void TGIFGraphicControlExtension::SetDelayUnits(uint16_t value) {
    const FrameLockHold hold(*this);
    record_.Delay = value;
}

// A change of the transparency flag reaches the frame as SetIsTransparent's does.
void TGIFGraphicControlExtension::SetRecord(const TGraphicControlRecord& record) {
    const FrameLockHold hold(*this);
    const bool wasTransparent = IsTransparent();
    record_ = record;
    if (IsTransparent() != wasTransparent) SetIsTransparent(IsTransparent());
}

void TGIFGraphicControlExtension::SetTransparentIndex(int index) {
    const int count = Frame() ? Frame()->EffectiveColorMap()->Count() : 0;
    if (count > 0 && index >= count) {
        ReportWarning(1, sInvalidColorIndex);
        index = 0;
    }
    const FrameLockHold hold(*this);
    record_.TransparentIndex = static_cast<uint8_t>(index);
}

int ShownDelayUnits(const TGIFGraphicControlExtension* control, bool threaded) {
    if (!control || control->DelayUnits() == 0) return DefaultFrameDelay;
    const int delay = std::max<int>(control->DelayUnits(), MinFrameDelay);
    return threaded ? delay : std::min(delay, MaxFrameDelay);
}

// --- Plain text and comment ----------------------------------------------------

TGIFTextExtension::TGIFTextExtension(TGIFSubImage* frame)
    : TGIFExtension(frame)
    , text_(std::make_unique<TStringList>()) {}

void TGIFTextExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    ReadExact(stream, &record_, sizeof record_);
    ReadStringsFromBlocks(stream, *text_);
}

void TGIFTextExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    stream.WriteBuffer(&record_, sizeof record_);
    WriteStringsAsBlocks(stream, *text_);
}

TGIFCommentExtension::TGIFCommentExtension(TGIFSubImage* frame)
    : TGIFExtension(frame)
    , comment_(std::make_unique<TStringList>()) {}

void TGIFCommentExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    ReadStringsFromBlocks(stream, *comment_);
}

void TGIFCommentExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    WriteStringsAsBlocks(stream, *comment_);
}

// --- Application extensions --------------------------------------------------

// An identifier block longer than 11 bytes is taken as unknown application data. That holds only
// for the identifier block, the first refinement: later ones read the size of a data sub-block,
// and a long loop sub-block must leave a loop extension a loop extension.
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
    stream.SetPosition(position);
    if (size > 11 && self == &TGIFApplicationExtension::ClassInfo) return &TGIFUnknownAppExtension::ClassInfo;
    return self;
}

void TGIFApplicationExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    const uint8_t size = GetByte(stream);
    if (size < 10) RaiseGIFError(sUnsupportedAppBlockSize);
    if (size == 10) {
        identifier_.fill(0);
        ReadExact(stream, identifier_.data(), 10);
    } else {
        ReadExact(stream, identifier_.data(), 11);
        if (size > 11) stream.Seek(size - 11, soCurrent);
    }
    ReadAppData(stream);
}

// The block in the first of its forms that the reader's class choice takes for this very kind
// again: the plain form wherever that holds, so that what always loaded back the same is written
// as before. The choice never reads past the block's terminator, so the block alone decides it.
void TGIFApplicationExtension::SaveToStream(TStream& stream) {
    const int forms = SavedFormCount();
    for (int form = 0; form + 1 < forms; ++form) {
        TMemoryStream candidate;
        WriteForm(candidate, form);
        candidate.SetPosition(1);
        if (TGIFExtension::ClassForLabel(candidate) == ClassType()) {
            stream.WriteBuffer(candidate.Memory(), static_cast<int32_t>(candidate.Size()));
            return;
        }
    }
    WriteForm(stream, forms - 1);
}

// An identifier block of 11 bytes (one read with 10 comes back zero-padded); a larger block
// size is filled with zero bytes after the identifier.
void TGIFApplicationExtension::WriteIdentifierBlock(TStream& stream, uint8_t size) {
    TGIFExtension::SaveToStream(stream);
    PutByte(stream, size);
    stream.WriteBuffer(identifier_.data(), static_cast<int32_t>(identifier_.size()));
    for (int i = static_cast<int>(identifier_.size()); i < size; ++i) PutByte(stream, 0);
}

void TGIFApplicationExtension::WriteForm(TStream& stream, int) {
    WriteIdentifierBlock(stream, 11);
    WriteAppData(stream);
}

// An identifier block longer than 11 bytes is unknown data to the reader, whatever follows it:
// the form for data that the plain form would show as a loop (a registered identifier, or a
// first sub-block naming one).
void TGIFUnknownAppExtension::WriteForm(TStream& stream, int form) {
    WriteIdentifierBlock(stream, form == 0 ? 11 : 12);
    WriteAppData(stream);
}

void TGIFUnknownAppExtension::ReadAppData(TStream& stream) {
    blocks_.clear();
    uint8_t size = 0;
    while (ReadByte(stream, size) && size != 0) {
        auto block = std::make_unique<TGIFBlock>(size);
        block->ReadBlock(stream);
        blocks_.push_back(std::move(block));
    }
}

void TGIFBlock::WriteBlock(TStream& stream) const {
    PutByte(stream, Size);
    stream.WriteBuffer(Data.get(), Size);
}

// An empty block would end the data early, so it is left out.
void TGIFUnknownAppExtension::WriteAppData(TStream& stream) {
    for (const auto& block : blocks_)
        if (block->Size > 0) block->WriteBlock(stream);
    PutByte(stream, 0);
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {
    SetIdentifier(MakeAppIdentifier("NETSCAPE2.0"));
}

void TGIFAppExtNSLoop::SetLoopCount(uint16_t value) {
    const FrameLockHold hold(*this);
    loopCount_ = value;
}

// Sub-blocks of the loop extension; at the end of the stream each read gives 0, which ends them.
void TGIFAppExtNSLoop::ReadAppData(TStream& stream) {
    uint8_t length = GetByte(stream);
    while (length != 0) {
        const int identifier = GetByte(stream) & kLoopSubBlockIdMask;
        int remaining = length - 1;
        if (identifier == 1) {
            if (remaining < 2) RaiseGIFError(sInvalidData);
            ReadExact(stream, &loopCount_, 2);
            remaining -= 2;
        } else if (identifier == 2) {
            if (remaining < 4) RaiseGIFError(sInvalidData);
            ReadExact(stream, &bufferSize_, 4);
            remaining -= 4;
        }
        if (remaining > 0) stream.Seek(remaining, soCurrent);
        length = GetByte(stream);
    }
}

// A loop extension under an identifier that is not registered is a loop to the reader only when
// its first data sub-block names a registered one (11 bytes): the form for such an extension
// leads its data with that sub-block, which the loop reader skips (its first byte, 'N', is no
// loop field).
void TGIFAppExtNSLoop::WriteForm(TStream& stream, int form) {
    WriteIdentifierBlock(stream, 11);
    if (form == 1) {
        static const char kLoopName[] = "NETSCAPE2.0";
        PutByte(stream, 11);
        stream.WriteBuffer(kLoopName, 11);
    }
    WriteAppData(stream);
}

// Sub-block 1 (loop count) always, sub-block 2 (buffer size) only when set.
void TGIFAppExtNSLoop::WriteAppData(TStream& stream) {
    const uint8_t loop[4] = {3, 1, static_cast<uint8_t>(loopCount_), static_cast<uint8_t>(loopCount_ >> 8)};
    stream.WriteBuffer(loop, sizeof loop);
    if (bufferSize_ != 0) {
        uint8_t buffer[6] = {5, 2};
        for (int i = 0; i < 4; ++i) buffer[2 + i] = static_cast<uint8_t>(bufferSize_ >> (8 * i));
        stream.WriteBuffer(buffer, sizeof buffer);
    }
    PutByte(stream, 0);
}

// --- Trailer -----------------------------------------------------------------

void TGIFTrailer::LoadFromStream(TStream& stream) {
    uint8_t value = 0;
    if (ReadByte(stream, value) && value != kTrailer) ReportWarning(1, sInvalidTrailer);
}

void TGIFTrailer::SaveToStream(TStream& stream) { PutByte(stream, kTrailer); }
