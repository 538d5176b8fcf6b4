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
    const TGIFSubImage* FrameOfItem() const override { return Frame; }

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

    TGIFSubImage* Frame;
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

    bool IsTransparent() const { return (Record.PackedFields & kTransparentFlag) != 0; }
    void SetIsTransparent(bool value);
    bool WaitsForInput() const { return (Record.PackedFields & kUserInputFlag) != 0; }
    uint8_t DisposalMethod() const { return (Record.PackedFields & kDisposalMask) >> kDisposalShift; }
    void SetDisposalMethod(uint8_t value);
    uint16_t DelayUnits() const { return Record.Delay; }
    void SetDelayUnits(uint16_t value) { Record.Delay = value; }
    uint8_t TransparentIndex() const { return Record.TransparentIndex; }
    void SetTransparentIndex(int index);

    TGraphicControlRecord Record{4, 0, 0, 0, 0};
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

    TPlainTextRecord Record{12, 0, 0, 0, 0, 0, 0, 0, 0};
    std::unique_ptr<TStringList> Text;
};

class TGIFCommentExtension : public TGIFExtension {
public:
    static const TGIFExtensionClassInfo ClassInfo;
    explicit TGIFCommentExtension(TGIFSubImage* frame);
    uint8_t LabelByte() const override { return kCommentLabel; }
    TGIFExtensionClass ClassType() const override { return &ClassInfo; }
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;

    std::unique_ptr<TStringList> Comment;
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

    TGIFAppIdentifier Identifier{};

protected:
    // The ways of writing the block that load back as this kind, plainest first; the save
    // writes the first that the reader takes for this kind again.
    virtual int SavedFormCount() const { return 1; }
    virtual void WriteForm(TStream& stream, int form);
    void WriteIdentifierBlock(TStream& stream, uint8_t size);
};

// One raw data sub-block.
class TGIFBlock {
public:
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

    std::vector<std::unique_ptr<TGIFBlock>> Blocks;

protected:
    // 11 identifier bytes, else a 12-byte identifier block.
    int SavedFormCount() const override { return 2; }
    void WriteForm(TStream& stream, int form) override;
};

// The loop extension ("NETSCAPE2.0" or "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    static const TGIFExtensionClassInfo ClassInfo;
    explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
    TGIFExtensionClass ClassType() const override { return &ClassInfo; }
    void WriteAppData(TStream& stream) override;
    void ReadAppData(TStream& stream) override;

    // 0 repeats without end.
    uint16_t LoopCount = 0;
    // 0 means absent.
    uint32_t BufferSize = 0;

protected:
    // As is, else with a leading sub-block that names the loop.
    int SavedFormCount() const override { return 2; }
    void WriteForm(TStream& stream, int form) override;
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
