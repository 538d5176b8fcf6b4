// Small helpers of the rendering tests: frames with local tables, reading back bitmaps and masks.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/bitmap.h"
#include "gifimage/colormap.h"
#include "tests/support/bitmaps.h"
#include "tests/support/gifbuilder.h"
#include "tests/support/surface.h"

using Colors = std::vector<TGIFColor>;

// A frame with its own colour table (padded with black to a power of two) and its pixels.
GifBytes& FrameWithTable(GifBytes& gif, int width, int height, const Colors& colors, const Bytes& pixels,
                         bool interlaced = false);

// 1 where pixels equals index, else 0.
Bytes Where(const Bytes& pixels, uint8_t index);

// Progress reports an image sent: (sender, stage, percent, redraw, message).
struct ProgressEntry {
    TObject* sender;
    TProgressStage stage;
    int percent;
    bool redraw;
    std::string message;
    bool operator==(const ProgressEntry&) const = default;
};
struct ProgressLog {
    std::vector<ProgressEntry> entries;
    void Attach(TGraphic& graphic);
};
