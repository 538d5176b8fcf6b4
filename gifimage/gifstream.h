// The object model of a GIF stream: items, owned item lists, the header with its logical
// screen, and the stream routines the whole library shares.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/classes.h"
#include "classlib/graphics.h"
#include "classlib/streams.h"
#include "classlib/stringlist.h"

class TGIFImage;
class TGIFSubImage;
class TGIFGlobalColorMap;

enum GIFVersion : uint8_t { VersionNone = 0, Version87a = 1, Version89a = 2 };

// The library's error: a fixed message text.
class GIFException : public EInvalidGraphic {
    using EInvalidGraphic::EInvalidGraphic;
};

[[noreturn]] void RaiseGIFError(const std::string& message);

// Reads count bytes or raises "Premature end of data".
void ReadExact(TStream& stream, void* buffer, int32_t count);
void PutByte(TStream& stream, uint8_t value);
// One byte; 0 at the end of the stream.
uint8_t GetByte(TStream& stream);
// One byte when the stream has one.
inline bool ReadByte(TStream& stream, uint8_t& value) { return stream.Read(&value, 1) == 1; }
// Lines as data sub-blocks of at most 255 bytes, then a zero byte; empty lines write nothing.
void WriteStringsAsBlocks(TStream& stream, const TStrings& strings);
// Replaces strings by the sub-blocks up to the terminator, one line each.
void ReadStringsFromBlocks(TStream& stream, TStrings& strings);
// 0 for 0 colours, else the smallest b >= 1 with 2^b >= colors.
int BitsForColors(int colors);
int AlignedRowBytes(int width, int bitsPerPixel, int alignment);
// The 216 colours (51r, 51g, 51b), red slowest; the caller owns the handle.
HPALETTE CreateWebSafePalette();

[[noreturn]] void RaiseGdiFailure();
// Passes a non-zero GDI result through; zero raises EOutOfResources with the system's text.
template <typename T> T CheckGdiResult(T value) {
    if (!value) RaiseGdiFailure();
    return value;
}

// When true, a frame renders its bitmap as soon as it is loaded.
extern bool RenderFramesWhileLoading;

// A part of a GIF image: it knows its image, reports warnings to it and reads and writes itself.
class TGIFItem : public TPersistent {
public:
    explicit TGIFItem(TGIFImage* ownerImage) : OwnerImage(ownerImage) {}
    ~TGIFItem() override = default;
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;

    virtual GIFVersion RequiredVersion() const { return Version87a; }
    virtual void ReportWarning(int severity, const std::string& message);
    virtual void SaveToStream(TStream& stream) = 0;
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void WriteToFile(const std::string& fileName);
    virtual void ReadFromFile(const std::string& fileName);

    TGIFImage* OwnerImage;
};

// An owned list of items in stream order; items are destroyed first to last.
class TGIFList : public TPersistent {
public:
    explicit TGIFList(TGIFImage* ownerImage) : OwnerImage(ownerImage) {}
    ~TGIFList() override;
    TGIFList(const TGIFList&) = delete;
    TGIFList& operator=(const TGIFList&) = delete;

    virtual void ReportWarning(int severity, const std::string& message);
    virtual void SaveItems(TStream& stream);
    virtual void LoadItems(TStream& stream, TObject* parent) = 0;

    // A bad index raises EListError "List index out of bounds (<index>)".
    TGIFItem* ItemAt(int index) const;
    int ItemCount() const { return static_cast<int>(Items.size()); }
    int Append(TGIFItem* item);
    void RemoveAt(int index);
    void RemoveAll();
    // Takes item out without destroying it; its former index, or -1.
    int RemoveItem(TGIFItem* item);

    std::vector<TGIFItem*> Items;
    TGIFImage* OwnerImage;
};

// The frames of an image.
class TGIFImageList : public TGIFList {
public:
    using TGIFList::TGIFList;
    TGIFSubImage* FrameAt(int index) const;
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
    explicit TGIFHeader(TGIFImage* ownerImage);
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

    TLogicalScreenDescriptor Descriptor{};
    std::unique_ptr<TGIFGlobalColorMap> ColorMap;
};

// Version texts by version code.
extern const char* const GIFVersionText[3];
