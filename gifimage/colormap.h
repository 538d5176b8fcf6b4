// GIF colour tables: at most 256 entries of red, green, blue, as in the stream.
#pragma once
#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "classlib/classes.h"
#include "classlib/graphics.h"
#include "classlib/streams.h"

class TGIFHeader;
class TGIFImageList;
class TGIFOwner;
class TGIFSubImage;

// 0 for 0 colours, else the smallest b >= 1 with 2^b >= colors.
int BitsForColors(int colors);

#pragma pack(push, 1)
struct TGIFColor {
    uint8_t Red;
    uint8_t Green;
    uint8_t Blue;
};
#pragma pack(pop)
static_assert(sizeof(TGIFColor) == 3);

// How many pixels use an entry, and the entry's position before sorting.
struct ColorUsage {
    int32_t UseCount;
    uint32_t Index;
};
using ColorUsageTable = std::array<ColorUsage, 256>;
// Old entry position to new entry position.
using IndexMap = std::array<uint8_t, 256>;

class TGIFColorMap : public TPersistent {
public:
    TGIFColorMap() = default;
    // Subclasses empty the table and send their change notice in their own destructors.
    ~TGIFColorMap() override = default;
    TGIFColorMap(const TGIFColorMap&) = delete;
    TGIFColorMap& operator=(const TGIFColorMap&) = delete;

    void Assign(const TPersistent& source) override { CopyFrom(source); }
    virtual void CopyFrom(const TPersistent& source);
    virtual void ReportWarning(int severity, const std::string& message) = 0;
    virtual void CountColorUse(ColorUsageTable& usage) = 0;
    virtual void RemapPixels(const IndexMap& map) = 0;
    virtual bool Compact() = 0;
    virtual void NotifyChange() = 0;

    int Count() const { return count_; }
    int Capacity() const { return capacity_; }
    bool SortFlag() const { return sortFlag_; }
    TGIFColor* Entries() { return entries_.get(); }
    const TGIFColor* Entries() const { return entries_.get(); }

    void RemoveAll();
    static TGIFColor ColorToTriple(TColor color);
    static TColor TripleToColor(const TGIFColor& entry);
    void Reserve(int n);
    void ReadTable(TStream& stream, int n);
    void WriteTable(TStream& stream) const;
    int FindColor(TColor color) const;
    int AppendColor(TColor color);
    int AppendIfMissing(TColor color);
    void RemoveAt(int index);
    TColor ColorAt(int index);
    void LoadFromPaletteHandle(HPALETTE palette);
    void LoadFromColorArray(const RGBQUAD* quads, int n);
    void LoadFromDIBColors(HDC dc);
    HPALETTE MakePaletteHandle() const;
    int BitDepth() const;
    bool SortByUsage();
    static void SortEntries(ColorUsageTable& usage, int left, int right);

protected:
    // The image whose painters read the table (none for a table of no image): every change of
    // the entries holds its frame lock.
    virtual const TGIFOwner* TableOwner() const { return nullptr; }

private:
    std::unique_ptr<TGIFColor[]> entries_;
    int count_ = 0;
    int capacity_ = 0;
    bool sortFlag_ = false;
};

// The header's table; its pixels are those of every frame without local colours.
class TGIFGlobalColorMap : public TGIFColorMap {
public:
    // frames is the list whose frames may index this table (the image's own), or none; the
    // table's owner hands it in and keeps it alive as long as the table is used.
    TGIFGlobalColorMap(TGIFHeader* header, const TGIFImageList* frames) : header_(header), frames_(frames) {}
    ~TGIFGlobalColorMap() override;

    void ReportWarning(int severity, const std::string& message) override;
    void CountColorUse(ColorUsageTable& usage) override;
    void RemapPixels(const IndexMap& map) override;
    bool Compact() override;
    void NotifyChange() override;

protected:
    const TGIFOwner* TableOwner() const override;

private:
    TGIFHeader* header_;
    const TGIFImageList* frames_;
};

// A frame's own table.
class TGIFLocalColorMap : public TGIFColorMap {
public:
    explicit TGIFLocalColorMap(TGIFSubImage* frame) : frame_(frame) {}
    ~TGIFLocalColorMap() override;

    void ReportWarning(int severity, const std::string& message) override;
    void CountColorUse(ColorUsageTable& usage) override;
    void RemapPixels(const IndexMap& map) override;
    bool Compact() override;
    void NotifyChange() override;

    // The frame whose table it is; not owned.
    TGIFSubImage* Frame() const { return frame_; }

protected:
    const TGIFOwner* TableOwner() const override;

private:
    TGIFSubImage* frame_;
};
