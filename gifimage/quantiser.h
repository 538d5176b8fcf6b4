// Colour reduction: any bitmap becomes an 8-bit bitmap with a palette chosen by a reduction
// method, its pixels mapped through a colour lookup and a ditherer; the fixed palettes the
// methods use; and the octree quantiser that builds a palette from a picture's own colours.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>

#include "classlib/bitmap.h"
#include "gifimage/dib.h"
#include "gifimage/ditherers.h"
#include "gifimage/giferror.h"

// The deepest tree the quantiser holds: one level mask and one reducible list per level.
inline constexpr int MaxOctreeColorBits = 8;

// Level masks (level 0 to 7), black-and-white levels and the four gray levels (not evenly spaced).
extern const uint8_t OctreeLevelMasks[MaxOctreeColorBits];
extern const uint8_t MonochromeLevels[2];
extern const uint8_t FourGrayLevels[4];

class TOctreeNode;
using TReducibleNodes = TOctreeNode* [MaxOctreeColorBits];

// One node of the colour tree: a leaf sums the pixels that reach it, a branch has up to eight
// children indexed by the colour's bits at its level.
class TOctreeNode {
public:
    // A leaf when level equals colorBits (leafCount grows by one), else a branch pushed on the
    // front of its level's reducible list.
    TOctreeNode(int32_t level, int32_t colorBits, int32_t& leafCount, TReducibleNodes& reducibleNodes);
    // Destroys the children 7 down to 0, and so the whole subtree.
    ~TOctreeNode();
    TOctreeNode(const TOctreeNode&) = delete;
    TOctreeNode& operator=(const TOctreeNode&) = delete;

    bool IsLeaf() const { return isLeaf_; }
    int32_t PixelCount() const { return pixelCount_; }
    // The next branch of the same level's reducible list; not owned.
    TOctreeNode* NextReducible() const { return nextReducible_; }
    TOctreeNode* Child(int index) const { return children_[index]; }

private:
    // The quantiser grows, merges and reads the tree it is made of: node and tree are one unit.
    friend class TColorQuantizer;

    bool isLeaf_ = false;
    int32_t pixelCount_ = 0;
    // 64 bits: a leaf of more than 8 million pixels would overflow 32-bit sums.
    int64_t redSum_ = 0;
    int64_t greenSum_ = 0;
    int64_t blueSum_ = 0;
    TOctreeNode* nextReducible_ = nullptr;
    TOctreeNode* children_[8] = {};  // owned
};

// A colour-table entry as the quantiser writes it.
struct TQuantizedColor {
    uint8_t Blue, Green, Red, Reserved;
};
using TQuantizedColorTable = TQuantizedColor[256];

// Builds an optimized palette of at most MaximumColors colours from the pixels of a picture.
class TColorQuantizer {
public:
    // colorBits is the tree depth; it is kept in 1 to 8 and maximumColors at least 1 (a tree
    // that may keep no leaf cannot take a colour).
    TColorQuantizer(int32_t maximumColors, int32_t colorBits);
    ~TColorQuantizer();
    TColorQuantizer(const TColorQuantizer&) = delete;
    TColorQuantizer& operator=(const TColorQuantizer&) = delete;

    // Adds every pixel of a 24-bit reader's bitmap, merging after each pixel so that the tree
    // never holds more than MaximumColors leaves. Always true.
    bool AddBitmap(TDIBReader& reader);
    // Writes the leaf colours depth-first, child 0 first: exactly LeafCount entries.
    void FillColorTable(TQuantizedColorTable& table);

    void InsertColor(TOctreeNode*& slot, uint8_t red, uint8_t green, uint8_t blue, int32_t level);
    // Merges the most recently created branch of the deepest level that still has one.
    void MergeDeepestNode();
    void CollectLeafColors(TOctreeNode* node, TQuantizedColorTable& table, int32_t& index);
    void FreeTree(TOctreeNode*& slot);
    // Frees the whole tree.
    void FreeTree() { FreeTree(root_); }

    const TOctreeNode* Root() const { return root_; }
    int32_t LeafCount() const { return leafCount_; }
    int32_t MaximumColors() const { return maximumColors_; }
    int32_t ColorBits() const { return colorBits_; }

private:
    TOctreeNode* root_ = nullptr;  // owned
    int32_t leafCount_ = 0;
    TReducibleNodes reducibleNodes_ = {};
    int32_t maximumColors_;
    int32_t colorBits_;
};

// A palette of colors entries quantised from the reader's 24-bit bitmap; with keepSystemColors
// the 20 static colours take entries 0 to 9 and 246 to 255 around 236 quantised ones, whatever
// colors says. colors is kept in 1 to 256. Entries past the last leaf colour are black. The
// caller owns the handle.
HPALETTE CreateOptimizedPalette(TDIBReader& reader, int32_t colors, int32_t colorBits, bool keepSystemColors);
// The same on a bitmap, which is converted to 24 bits per pixel first.
HPALETTE CreateOptimizedPaletteForBitmap(TBitmap& bitmap, int32_t colors, int32_t colorBits, bool keepSystemColors);

// Fixed palettes; the caller owns each handle.
HPALETTE CreateGrayPalette();            // 256 grays, entry i = (i, i, i)
HPALETTE CreateMonoPalette();            // black, white
HPALETTE CreateFourGrayPalette();        // grays 0, 128, 192, 255
HPALETTE CreateSystemHalftonePalette();  // the screen's halftone palette

// A new bitmap (the caller's) of 8 bits per pixel holding source reduced by method and mapped
// by ditherMode; crNone gives a 24-bit copy. Every other method converts source to 24 bits per
// pixel in place. crOptimized asks for 2^reductionBits colours, with reductionBits kept in 0 to
// 8. A method above crCustomPalette, a dither mode above dkBurkes or a palette without colours
// (crCustomPalette with customPalette 0) gives an empty bitmap. A source without pixels raises
// GIFException "Invalid image dimensions".
std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap& source, TReductionMethod method, TDitherKind ditherMode,
                                            int32_t reductionBits, HPALETTE customPalette);
