// What the GIF tests read back from a frame.
#pragma once
#include <cstdint>
#include <vector>

#include "gifimage/subimage.h"

using Bytes = std::vector<uint8_t>;

// The colour indexes of a frame, rows from the top; none for a frame without pixels.
inline Bytes PixelsOf(const TGIFSubImage& frame) {
    if (frame.IsEmpty() || !frame.Pixels()) return {};
    return Bytes(frame.Pixels(), frame.Pixels() + frame.PixelsSize());
}
