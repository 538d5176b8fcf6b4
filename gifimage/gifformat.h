// The fixed bytes and bit fields of the GIF format, named once: block introducers, extension
// labels, the packed fields of the screen descriptor, the image descriptor and the graphic
// control extension with its disposal methods, the colour-table size rule, and the numbers the
// library's own calls pass for a frame's bounds and for "no rectangle".
#pragma once
#include <windows.h>

#include <cstdint>

enum GIFVersion : uint8_t { VersionNone = 0, Version87a = 1, Version89a = 2 };
// The three characters after "GIF" in the signature, by version code ("" for none).
extern const char* const GIFVersionText[3];

// What starts each block of the stream after the header.
inline constexpr uint8_t kExtensionIntroducer = '!';  // 0x21
inline constexpr uint8_t kImageSeparator = ',';       // 0x2C
inline constexpr uint8_t kTrailer = ';';              // 0x3B

// The label byte after an extension introducer.
inline constexpr uint8_t kPlainTextLabel = 0x01;
inline constexpr uint8_t kGraphicControlLabel = 0xF9;
inline constexpr uint8_t kCommentLabel = 0xFE;
inline constexpr uint8_t kApplicationLabel = 0xFF;

// Both descriptors: a colour table follows, holding 2 << (fields & kColorTableSizeMask) entries.
inline constexpr uint8_t kColorTableFlag = 0x80;
inline constexpr uint8_t kColorTableSizeMask = 0x07;

// The entries of the colour table that a descriptor's packed fields announce.
constexpr int ColorTableEntries(uint8_t packedFields) { return 2 << (packedFields & kColorTableSizeMask); }
// The size field that announces a table of bitDepth bits per index (bitDepth - 1, kept to 3 bits).
constexpr uint8_t ColorTableSizeField(int bitDepth) {
    return static_cast<uint8_t>((bitDepth - 1) & kColorTableSizeMask);
}

// Logical screen descriptor: colour resolution (bits - 1) in bits 4 to 6, and the sort flag.
inline constexpr uint8_t kColorResolutionMask = 0x70;
inline constexpr uint8_t kColorResolutionShift = 4;
inline constexpr uint8_t kScreenSortFlag = 0x08;

// Image descriptor: interlaced rows, the sort flag, and two reserved bits kept as read.
inline constexpr uint8_t kInterlaceFlag = 0x40;
inline constexpr uint8_t kImageSortFlag = 0x20;
inline constexpr uint8_t kImageReservedBits = 0x18;

// Graphic control extension: transparency, user input, and the disposal method in bits 2 to 4.
inline constexpr uint8_t kTransparentFlag = 0x01;
inline constexpr uint8_t kUserInputFlag = 0x02;
inline constexpr uint8_t kDisposalMask = 0x1C;
inline constexpr uint8_t kDisposalShift = 2;

// What happens to a frame's area after its display; 4 to 7 are reserved and kept as read.
inline constexpr uint8_t kDisposalNone = 0;               // not specified
inline constexpr uint8_t kDisposalKeep = 1;               // left as drawn
inline constexpr uint8_t kDisposalRestoreBackground = 2;  // erased to the background
inline constexpr uint8_t kDisposalRestorePrevious = 3;    // put back as it was before the frame

// The loop block of the looping application extension: the low 3 bits of its first data byte
// tell a loop count (1) from a buffer size (2).
inline constexpr uint8_t kLoopSubBlockIdMask = 0x07;

// The descriptors hold 16-bit positions and sizes, and so does the logical screen.
inline constexpr int kMaxSide = 0xFFFF;

// The fields of a frame's bounds as TGIFSubImage::BoundsField numbers them, in the image
// descriptor's order.
inline constexpr int kBoundsLeft = 1;
inline constexpr int kBoundsTop = 2;
inline constexpr int kBoundsWidth = 3;
inline constexpr int kBoundsHeight = 4;

// The rectangle a progress report passes when it names no area to redraw.
inline constexpr RECT kNoRect{0, 0, 0, 0};
