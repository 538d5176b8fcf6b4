// GIF89a extension blocks, the raw data block, the registries that map labels and
// application identifiers to extension classes, and the trailer item.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/stringlist.h"
#include "gifimage/gifformat.h"
#include "gifimage/gifio.h"
#include "gifimage/gifstream.h"

class TGIFExtension;
struct TGIFExtensionClassInfo;
// An extension class, chosen at run time while a stream is read.
using TGIFExtensionClass = const TGIFExtensionClassInfo*;

struct TGIFExtensionClassInfo {
    const char* ClassName;
    // Given the stream after the label, a more specific class or the class itself.
    TGIFExtensionClass (*RefineClass)(TGIFExtensionClass self, TStream& stream);
    // The frame constructor.
    TGIFExtension* (*CreateForFrame)(TGIFSubImage* frame);
};

// An application identifier: 8 bytes of name and 3 of authentication code.
using TGIFAppIdentifier = std::array<uint8_t, 11>;

class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage* frame);
    // Leaves its frame's extension list.
    ~TGIFExtension() override;
    const TGIFSubImage* FrameOfItem() const override { return frame_; }

    virtual uint8_t LabelByte() const = 0;
    virtual TGIFExtensionClass ClassType() const = 0;
    static TGIFExtensionClass RefineClass(TGIFExtensionClass self, TStream& stream) { return self; }
    // The class for the block whose "!" was just read; nil when there is none. The stream is
    // left where it was.
    static TGIFExtensionClass ClassForLabel(TStream& stream);
    uint8_t ReadIntroducer(TStream& stream);

    GIFVersion RequiredVersion() const override { return Version89a; }
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;

    // The frame the extension leads; not owned.
    TGIFSubImage* Frame() const { return frame_; }
    // Drops the reference to a frame that has been freed, reading nothing of it.
    void ForgetFreedFrame() { frame_ = nullptr; }

private:
    TGIFSubImage* frame_;
};

#pragma pack(push, 1)
struct TGraphicControlRecord {
    uint8_t BlockSize;
    uint8_t PackedFields;
    uint16_t Delay;
    uint8_t TransparentIndex;
    uint8_t Terminator;
};
struct TPlainTextRecord {
    uint8_t BlockSize;
    uint16_t Left;
    uint16_t Top;
    uint16_t GridWidth;
    uint16_t GridHeight;
    uint8_t CellWidth;
    uint8_t CellHeight;
    uint8_t ForegroundIndex;
    uint8_t BackgroundIndex;
};
#pragma pack(pop)
static_assert(sizeof(TGraphicControlRecord) == 6 && sizeof(TPlainTextRecord) == 13);

// Transparency, disposal and delay of the frame that follows.
class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static const TGIFExtensionClassInfo ClassInfo;
    explicit TGIFGraphicControlExtension(TGIFSubImage* frame);
    ~TGIFGraphicControlExtension() override;
    uint8_t LabelByte() const override { return kGraphicControlLabel; }
    TGIFExtensionClass ClassType() const override { return &ClassInfo; }
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;

    // Each setter takes the frame lock: painters read these while they play the frame.
    bool IsTransparent() const { return (record_.PackedFields & kTransparentFlag) != 0; }
    void SetIsTransparent(bool value);
    bool WaitsForInput() const { return (record_.PackedFields & kUserInputFlag) != 0; }
    uint8_t DisposalMethod() const { return (record_.PackedFields & kDisposalMask) >> kDisposalShift; }
    void SetDisposalMethod(uint8_t value);
    uint16_t DelayUnits() const { return record_.Delay; }
    void SetDelayUnits(uint16_t value);
    uint8_t TransparentIndex() const { return record_.TransparentIndex; }
    void SetTransparentIndex(int index);
    // The block as it is written, reserved bits included.
    const TGraphicControlRecord& Record() const { return record_; }
    void SetRecord(const TGraphicControlRecord& record);

private:
    TGraphicControlRecord record_{4, 0, 0, 0, 0};
};

// The delay in units that a painter waits while a frame with this graphic control extension
// (nullptr: none) stays shown: the default for none or a delay of 0, else at least the minimum
// and, on a painter without a thread of its own, at most the maximum.
int ShownDelayUnits(const TGIFGraphicControlExtension* control, bool threaded);

class TGIFTextExtension : public TGIFExtension {
public:
    static const TGIFExtensionClassInfo ClassInfo;
    explicit TGIFTextExtension(TGIFSubImage* frame);
    uint8_t LabelByte() const override { return kPlainTextLabel; }
    TGIFExtensionClass ClassType() const override { return &ClassInfo; }
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;

    const TPlainTextRecord& Record() const { return record_; }
    void SetRecord(const TPlainTextRecord& record) { record_ = record; }
    // The lines of text, one per data sub-block.
    TStringList& Text() const { return *text_; }

private:
    TPlainTextRecord record_{12, 0, 0, 0, 0, 0, 0, 0, 0};
    std::unique_ptr<TStringList> text_;
};

class TGIFCommentExtension : public TGIFExtension {
public:
    static const TGIFExtensionClassInfo ClassInfo;
    explicit TGIFCommentExtension(TGIFSubImage* frame);
    uint8_t LabelByte() const override { return kCommentLabel; }
    TGIFExtensionClass ClassType() const override { return &ClassInfo; }
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;

    // The lines of the comment, one per data sub-block.
    TStringList& Comment() const { return *comment_; }

private:
    std::unique_ptr<TStringList> comment_;
};

// An application extension: identifier, then data sub-blocks read and written by the kinds.
class TGIFApplicationExtension : public TGIFExtension {
public:
    static const TGIFExtensionClassInfo ClassInfo;
    explicit TGIFApplicationExtension(TGIFSubImage* frame) : TGIFExtension(frame) {}
    uint8_t LabelByte() const override { return kApplicationLabel; }
    TGIFExtensionClass ClassType() const override { return &ClassInfo; }
    static TGIFExtensionClass RefineClass(TGIFExtensionClass self, TStream& stream);
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    virtual void WriteAppData(TStream& stream) = 0;
    virtual void ReadAppData(TStream& stream) = 0;

    const TGIFAppIdentifier& Identifier() const { return identifier_; }
    void SetIdentifier(const TGIFAppIdentifier& identifier) { identifier_ = identifier; }

protected:
    // The ways of writing the block that load back as this kind, plainest first; the save
    // writes the first that the reader takes for this kind again.
    virtual int SavedFormCount() const { return 1; }
    virtual void WriteForm(TStream& stream, int form);
    void WriteIdentifierBlock(TStream& stream, uint8_t size);

private:
    TGIFAppIdentifier identifier_{};
};

// One raw data sub-block.
struct TGIFBlock {
    explicit TGIFBlock(uint8_t size) : Size(size), Data(new uint8_t[size]()) {}
    void ReadBlock(TStream& stream) { ReadExact(stream, Data.get(), Size); }
    void WriteBlock(TStream& stream) const;

    uint8_t Size;
    std::unique_ptr<uint8_t[]> Data;
};

// Any application extension without a class of its own; its data round-trips unchanged.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    static const TGIFExtensionClassInfo ClassInfo;
    explicit TGIFUnknownAppExtension(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {}
    TGIFExtensionClass ClassType() const override { return &ClassInfo; }
    void WriteAppData(TStream& stream) override;
    void ReadAppData(TStream& stream) override;

    // The data sub-blocks in stream order.
    const std::vector<std::unique_ptr<TGIFBlock>>& Blocks() const { return blocks_; }
    void AddBlock(std::unique_ptr<TGIFBlock> block) { blocks_.push_back(std::move(block)); }

protected:
    // 11 identifier bytes, else a 12-byte identifier block.
    int SavedFormCount() const override { return 2; }
    void WriteForm(TStream& stream, int form) override;

private:
    std::vector<std::unique_ptr<TGIFBlock>> blocks_;
};

// The loop extension ("NETSCAPE2.0" or "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    static const TGIFExtensionClassInfo ClassInfo;
    explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
    TGIFExtensionClass ClassType() const override { return &ClassInfo; }
    void WriteAppData(TStream& stream) override;
    void ReadAppData(TStream& stream) override;

    // 0 repeats without end; the setter takes the frame lock, as painters read it.
    uint16_t LoopCount() const { return loopCount_; }
    void SetLoopCount(uint16_t value);
    // 0 means absent.
    uint32_t BufferSize() const { return bufferSize_; }
    void SetBufferSize(uint32_t value) { bufferSize_ = value; }

protected:
    // As is, else with a leading sub-block that names the loop.
    int SavedFormCount() const override { return 2; }
    void WriteForm(TStream& stream, int form) override;

private:
    uint16_t loopCount_ = 0;
    uint32_t bufferSize_ = 0;
};

// The extension classes by label byte.
class TExtensionList {
public:
    void AddEntry(uint8_t label, TGIFExtensionClass extensionClass);
    // The class of the last entry with this label; nil when none.
    TGIFExtensionClass FindByLabel(uint8_t label) const;

private:
    struct Entry {
        TGIFExtensionClass ExtensionClass;
        uint8_t Label;
    };
    std::vector<Entry> entries_;
};

// The application extension classes by identifier.
class TAppExtensionList {
public:
    void AddEntry(const TGIFAppIdentifier& identifier, TGIFExtensionClass extensionClass);
    TGIFExtensionClass FindByIdentifier(const TGIFAppIdentifier& identifier) const;

private:
    struct Entry {
        TGIFExtensionClass ExtensionClass;
        TGIFAppIdentifier Identifier;
    };
    std::vector<Entry> entries_;
};

// Made at first use, freed by FreeExtensionRegistries at the library's exit.
TExtensionList* ExtensionRegistry();
TAppExtensionList* AppExtensionRegistry();
void FreeExtensionRegistries();
TGIFAppIdentifier MakeAppIdentifier(const char* text);

// The stream's last byte, ";".
class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
};
