#include "gifimage/quantiser.h"

#include <algorithm>

#include "gifimage/ditherers.h"
#include "gifimage/gdiutils.h"
#include "gifimage/gifstream.h"
#include "gifimage/lookups.h"

const uint8_t OctreeLevelMasks[MaxOctreeColorBits] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
const uint8_t MonochromeLevels[2] = {0x00, 0xFF};
const uint8_t FourGrayLevels[4] = {0x00, 0x80, 0xC0, 0xFF};

namespace {

// A logical palette with room for 256 entries.
struct TLogicalPalette {
    WORD Version = 0x300;
    WORD Count = 0;
    PALETTEENTRY Entries[256] = {};

    HPALETTE Create() const { return CheckGdiResult(CreatePalette(reinterpret_cast<const LOGPALETTE*>(this))); }
};

HPALETTE CreateGrayLevelPalette(const uint8_t* levels, int count) {
    TLogicalPalette palette;
    palette.Count = static_cast<WORD>(count);
    for (int i = 0; i < count; ++i) palette.Entries[i] = {levels[i], levels[i], levels[i], PC_NOCOLLAPSE};
    return palette.Create();
}

// A palette handle deleted when its holder goes; deleting the stock palette has no effect.
class TPaletteHolder {
public:
    ~TPaletteHolder() {
        if (Handle) DeleteObject(Handle);
    }
    HPALETTE Handle = nullptr;
};

}  // namespace

// --- TOctreeNode -----------------------------------------------------------------

TOctreeNode::TOctreeNode(int32_t level, int32_t colorBits, int32_t& leafCount, TReducibleNodes& reducibleNodes) {
    isLeaf_ = level == colorBits;
    if (isLeaf_) {
        ++leafCount;
    } else {
        nextReducible_ = reducibleNodes[level];
        reducibleNodes[level] = this;
    }
}

TOctreeNode::~TOctreeNode() {
    for (int i = 7; i >= 0; --i) delete children_[i];
}

// --- TColorQuantizer -------------------------------------------------------------

TColorQuantizer::TColorQuantizer(int32_t maximumColors, int32_t colorBits)
    : maximumColors_(std::max<int32_t>(maximumColors, 1))
    , colorBits_(std::clamp<int32_t>(colorBits, 1, MaxOctreeColorBits)) {}

TColorQuantizer::~TColorQuantizer() { FreeTree(root_); }

bool TColorQuantizer::AddBitmap(TDIBReader& reader) {
    for (int y = 0; y < reader.Bitmap().Height(); ++y) {
        const uint8_t* pixel = reader.RowPointer(y);
        const int width = reader.Bitmap().Width();
        for (int x = 0; x < width; ++x, pixel += 3) {
            InsertColor(root_, pixel[2], pixel[1], pixel[0], 0);
            while (leafCount_ > maximumColors_) MergeDeepestNode();
        }
    }
    return true;
}

void TColorQuantizer::InsertColor(TOctreeNode*& slot, uint8_t red, uint8_t green, uint8_t blue, int32_t level) {
    if (!slot) slot = new TOctreeNode(level, colorBits_, leafCount_, reducibleNodes_);
    TOctreeNode* node = slot;
    if (node->isLeaf_) {
        ++node->pixelCount_;
        node->redSum_ += red;
        node->greenSum_ += green;
        node->blueSum_ += blue;
        return;
    }
    const int mask = OctreeLevelMasks[level];
    const int shift = 7 - level;
    const int index = ((red & mask) >> shift) * 4 + ((green & mask) >> shift) * 2 + ((blue & mask) >> shift);
    InsertColor(node->children_[index], red, green, blue, level + 1);
}

void TColorQuantizer::MergeDeepestNode() {
    int level = colorBits_ - 1;
    while (level > 0 && !reducibleNodes_[level]) --level;
    TOctreeNode* node = reducibleNodes_[level];
    // Only a root that is a leaf already leaves nothing to merge.
    if (!node) return;
    reducibleNodes_[level] = node->nextReducible_;
    node->nextReducible_ = nullptr;

    int64_t red = 0, green = 0, blue = 0;
    int merged = 0;
    for (TOctreeNode*& child : node->children_) {
        if (!child) continue;
        node->pixelCount_ += child->pixelCount_;
        red += child->redSum_;
        green += child->greenSum_;
        blue += child->blueSum_;
        delete child;
        child = nullptr;
        ++merged;
    }
    node->isLeaf_ = true;
    node->redSum_ = red;
    node->greenSum_ = green;
    node->blueSum_ = blue;
    leafCount_ -= merged - 1;
}

void TColorQuantizer::FillColorTable(TQuantizedColorTable& table) {
    int32_t index = 0;
    CollectLeafColors(root_, table, index);
}

void TColorQuantizer::CollectLeafColors(TOctreeNode* node, TQuantizedColorTable& table, int32_t& index) {
    if (!node) return;
    if (node->isLeaf_) {
        if (index >= 256) return;
        TQuantizedColor& entry = table[index++];
        const int64_t count = node->pixelCount_;
        entry.Blue = count ? static_cast<uint8_t>(node->blueSum_ / count) : 0;
        entry.Green = count ? static_cast<uint8_t>(node->greenSum_ / count) : 0;
        entry.Red = count ? static_cast<uint8_t>(node->redSum_ / count) : 0;
        entry.Reserved = 0;
        return;
    }
    for (TOctreeNode* child : node->children_) CollectLeafColors(child, table, index);
}

void TColorQuantizer::FreeTree(TOctreeNode*& slot) {
    if (!slot) return;
    for (int i = 7; i >= 0; --i) FreeTree(slot->children_[i]);
    delete slot;
    slot = nullptr;
}

// --- Palettes --------------------------------------------------------------------

HPALETTE CreateOptimizedPalette(TDIBReader& reader, int32_t colors, int32_t colorBits, bool keepSystemColors) {
    colors = std::clamp<int32_t>(colors, 1, 256);
    TLogicalPalette palette;
    palette.Count = static_cast<WORD>(colors);
    for (PALETTEENTRY& entry : palette.Entries) entry.peFlags = PC_NOCOLLAPSE;
    int first = 0;
    if (keepSystemColors) {
        auto* system = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
        GetPaletteEntries(system, 0, 10, &palette.Entries[0]);
        GetPaletteEntries(system, 10, 10, &palette.Entries[246]);
        colors = 236;
        first = 10;
        palette.Count = 256;
    }

    TQuantizedColorTable table = {};
    {
        TColorQuantizer quantizer(colors, colorBits);
        quantizer.AddBitmap(reader);
        quantizer.FillColorTable(table);
    }
    for (int i = 0; i < colors; ++i) palette.Entries[first + i] = {table[i].Red, table[i].Green, table[i].Blue, 0};
    return palette.Create();
}

HPALETTE CreateOptimizedPaletteForBitmap(TBitmap& bitmap, int32_t colors, int32_t colorBits, bool keepSystemColors) {
    TDIBReader reader(bitmap, pf24bit);
    return CreateOptimizedPalette(reader, colors, colorBits, keepSystemColors);
}

HPALETTE CreateGrayPalette() {
    uint8_t levels[256];
    for (int i = 0; i < 256; ++i) levels[i] = static_cast<uint8_t>(i);
    return CreateGrayLevelPalette(levels, 256);
}

HPALETTE CreateMonoPalette() { return CreateGrayLevelPalette(MonochromeLevels, 2); }

HPALETTE CreateFourGrayPalette() { return CreateGrayLevelPalette(FourGrayLevels, 4); }

HPALETTE CreateSystemHalftonePalette() {
    HDC screen = CheckGdiResult(GetDC(nullptr));
    HPALETTE palette = nullptr;
    try {
        palette = CheckGdiResult(CreateHalftonePalette(screen));
    } catch (...) {
        ReleaseDC(nullptr, screen);
        throw;
    }
    ReleaseDC(nullptr, screen);
    return palette;
}

// --- Colour reduction ------------------------------------------------------------

namespace {

HPALETTE PaletteForMethod(TReductionMethod method, TBitmap& source, TDIBReader& reader, int32_t reductionBits,
                          HPALETTE customPalette) {
    switch (method) {
    case crSystem20: return static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    case crHalftone: return CreateSystemHalftonePalette();
    case crFourGrays: return CreateFourGrayPalette();
    case crMonochrome: return CreateMonoPalette();
    case crGrayScale: return CreateGrayPalette();
    case crWebPalette: return CreateWebSafePalette();
    case crOptimized: return CreateOptimizedPalette(reader, 1 << std::clamp<int32_t>(reductionBits, 0, 8), 8, false);
    case crOptimizedSystem: return CreateOptimizedPaletteForBitmap(source, 256, 8, true);
    case crCustomPalette: return CopyPalette(customPalette);
    default: return nullptr;
    }
}

std::unique_ptr<TColorLookup> LookupForMethod(TReductionMethod method, HPALETTE palette) {
    switch (method) {
    case crMonochrome: return std::make_unique<TMonochromeLookup>(palette);
    case crGrayScale: return std::make_unique<TGrayScaleLookup>(palette);
    case crWebPalette: return std::make_unique<TNetscapeColorLookup>(palette);
    case crOptimized: return std::make_unique<TFastColorLookup>(palette);
    default: return std::make_unique<TSlowColorLookup>(palette);
    }
}

// Fills result from source unless the method, the palette or the dither mode leaves nothing
// to do. Frees the lookup, the ditherer, the writer (which loads the pixels into result), the
// reader and the palette, in that order.
void MapToPalette(TBitmap& result, TBitmap& source, TReductionMethod method, TDitherKind ditherMode,
                  int32_t reductionBits, HPALETTE customPalette) {
    TPaletteHolder palette;
    TDIBReader reader(source, pf24bit);
    if (method > crCustomPalette) return;
    palette.Handle = PaletteForMethod(method, source, reader, reductionBits, customPalette);
    std::unique_ptr<TColorLookup> lookup = LookupForMethod(method, palette.Handle);
    if (lookup->ColorCount() == 0) return;
    const int width = source.Width();
    std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(ditherMode, width, lookup.get());
    if (!ditherer) return;

    TDIBWriter writer(result, pf8bit, width, source.Height(), palette.Handle);
    uint8_t red, green, blue;
    for (int y = 0; y < source.Height(); ++y) {
        const uint8_t* from = reader.RowPointer(y);
        uint8_t* to = writer.RowPointer(y);
        for (int x = ditherer->Column(); x >= 0 && x < width; x = ditherer->Column()) {
            const uint8_t* pixel = from + 3 * x;
            to[x] = ditherer->DitherPixel(pixel[2], pixel[1], pixel[0], red, green, blue);
        }
        ditherer->NextRow();
    }
    lookup.reset();
    ditherer.reset();
}

}  // namespace

std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap& source, TReductionMethod method, TDitherKind ditherMode,
                                            int32_t reductionBits, HPALETTE customPalette) {
    auto result = std::make_unique<TBitmap>();
    if (method == crNone) {
        result->Assign(source);
        SetBitmapPixelFormat(*result, pf24bit);
        return result;
    }
    if (static_cast<int64_t>(source.Width()) * source.Height() > LargeBitmapPixels)
        SetBitmapPixelFormat(*result, pf1bit);
    MapToPalette(*result, source, method, ditherMode, reductionBits, customPalette);
    return result;
}
