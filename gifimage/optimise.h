// Options of TGIFImage::OptimizeFrames and the byte search it relies on.
#pragma once

#include <cstdint>

// A set of optimisation options, one bit each.
using TOptimizeSet = uint8_t;
enum : TOptimizeSet {
    // Trim transparent borders of transparent frames; drop frames that become empty.
    osTrimBorders = 0x01,
    // Merge every frame with the frame it is drawn over.
    osMergeFrames = 0x02,
    // Clear unused transparency and needless disposal; drop needless extensions and empty frames.
    osDropRedundant = 0x04,
    // Compact the global colour table and every local one.
    osCompactColorMaps = 0x08,
    // A colour-reduction request; only checked, no colours are reduced.
    osColorReduction = 0x10,
};
inline constexpr TOptimizeSet osAllOptimizations = 0x1F;

// True when one of the first length bytes of buffer equals value; false for length 0.
bool ContainsByte(const uint8_t* buffer, uint8_t value, int32_t length);
