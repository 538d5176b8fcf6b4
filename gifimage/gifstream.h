// The object model of a GIF stream: items, owned item lists, the frame list with the block
// loop, and the header with its logical screen.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/classes.h"
#include "classlib/graphics.h"
#include "classlib/streams.h"
#include "gifimage/gifformat.h"
#include "gifimage/gifowner.h"

class TGIFImage;
class TGIFSubImage;
class TGIFGlobalColorMap;

// A part of a GIF image: it knows its image, reports warnings to it and reads and writes itself.
class TGIFItem : public TPersistent, public TGIFPart {
public:
    explicit TGIFItem(TGIFOwner* owner) : TGIFPart(owner) {}
    ~TGIFItem() override = default;
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;

    virtual GIFVersion RequiredVersion() const { return Version87a; }
    virtual void ReportWarning(int severity, const std::string& message);
    // The frame the item belongs to (the frame itself, a frame's extension), if any: a warning
    // of the item ends the work once a handler has taken it away.
    virtual const TGIFSubImage* FrameOfItem() const { return nullptr; }
    virtual void SaveToStream(TStream& stream) = 0;
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void WriteToFile(const std::string& fileName);
    virtual void ReadFromFile(const std::string& fileName);
};

// An owned list of items in stream order; items are destroyed first to last.
class TGIFList : public TPersistent, public TGIFPart {
public:
    explicit TGIFList(TGIFOwner* owner) : TGIFPart(owner) {}
    ~TGIFList() override;
    TGIFList(const TGIFList&) = delete;
    TGIFList& operator=(const TGIFList&) = delete;

    virtual void ReportWarning(int severity, const std::string& message);
    virtual void SaveItems(TStream& stream);
    virtual void LoadItems(TStream& stream, TObject* parent) = 0;

    // A bad index raises EListError "List index out of bounds (<index>)".
    TGIFItem* ItemAt(int index) const;
    int ItemCount() const { return static_cast<int>(items_.size()); }
    int Append(TGIFItem* item);
    void RemoveAt(int index);
    void RemoveAll();
    // Takes item out without destroying it; its former index, or -1.
    int RemoveItem(TGIFItem* item);
    // The index of item, or -1.
    int IndexOf(const TGIFItem* item) const;
    // Makes room for one more item, so that the next Append cannot fail.
    void ReserveOneMore();
    // Counts every change of the list (an item in, an item out): code that goes through the list
    // across a handler compares it before and after.
    uint32_t Changes() const { return changes_; }

private:
    std::vector<TGIFItem*> items_;
    uint32_t changes_ = 0;
};

// The frames of an image.
class TGIFImageList : public TGIFList {
public:
    using TGIFList::TGIFList;
    TGIFSubImage* FrameAt(int index) const;
    // The highest version a frame needs (none without frames); what the header writes.
    GIFVersion RequiredVersion() const;
    // The largest depth of a frame, and at least least.
    int ColorDepth(int least) const;
    int BitDepth(int least) const;
    // The block loop: frames up to the trailer, which is left unread. parent is the image.
    void LoadItems(TStream& stream, TObject* parent) override;
    void SaveItems(TStream& stream) override;
};

#pragma pack(push, 1)
// The logical screen descriptor as its 7 bytes in the stream.
struct TLogicalScreenDescriptor {
    uint16_t LogicalWidth;
    uint16_t LogicalHeight;
    uint8_t PackedFields;
    uint8_t BackgroundIndex;
    uint8_t AspectRatio;
};
#pragma pack(pop)
static_assert(sizeof(TLogicalScreenDescriptor) == 7);

// Signature, logical screen and global colour table.
class TGIFHeader : public TGIFItem {
public:
    // frames: the image's frame list, which the global table counts and remaps (none without an image).
    TGIFHeader(TGIFOwner* owner, const TGIFImageList* frames);
    ~TGIFHeader() override;

    void Assign(const TPersistent& source) override { CopyFrom(source); }
    void CopyFrom(const TPersistent& source);
    GIFVersion RequiredVersion() const override;
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;

    void ResetFields();
    // Rebuilds PackedFields from the colour tables of the image.
    void PackFlags();
    TColor BackgroundColor();
    int BitDepth() const;
    int ColorDepth() const { return BitDepth() - 1; }

    // The logical screen as read and written.
    const TLogicalScreenDescriptor& Descriptor() const { return descriptor_; }
    int LogicalWidth() const { return descriptor_.LogicalWidth; }
    int LogicalHeight() const { return descriptor_.LogicalHeight; }
    void SetLogicalWidth(int value) { descriptor_.LogicalWidth = static_cast<uint16_t>(value); }
    void SetLogicalHeight(int value) { descriptor_.LogicalHeight = static_cast<uint16_t>(value); }
    uint8_t BackgroundIndex() const { return descriptor_.BackgroundIndex; }
    void SetBackgroundIndex(uint8_t value) { descriptor_.BackgroundIndex = value; }
    uint8_t AspectRatio() const { return descriptor_.AspectRatio; }
    void SetAspectRatio(uint8_t value) { descriptor_.AspectRatio = value; }
    // The global colour table.
    TGIFGlobalColorMap* ColorMap() const { return colorMap_.get(); }

private:
    TLogicalScreenDescriptor descriptor_{};
    std::unique_ptr<TGIFGlobalColorMap> colorMap_;
    // The frames of the image, whose versions and depths the header writes.
    const TGIFImageList* frames_;
};
