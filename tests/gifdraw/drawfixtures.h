// Small images built in code for the drawing, trimming and merging tests, and a 32-bit
// drawing surface whose pixels are read back.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifimage.h"
#include "gifimage/subimage.h"
#include "tests/support/frames.h"
#include "tests/support/surface.h"

using Colors = std::vector<TGIFColor>;

struct FrameSetup {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    Bytes pixels;
    Colors local;          // empty: the frame uses the global table
    int transparent = -1;  // transparent index; -1 for none
    int disposal = -1;     // disposal method of a graphic control extension; -1 for none
};

// An image with a logical screen and a global table (entries in order).
std::unique_ptr<TGIFImage> MakeImage(int screenWidth, int screenHeight, const Colors& global);
// Appends the frame described; a graphic control extension is added when it asks for one
// for transparency or a disposal method.
TGIFSubImage* AddFrame(TGIFImage& image, const FrameSetup& setup);
Colors EntriesOf(const TGIFColorMap& map);
// n entries, entry i = (i, 100, 200 - i).
Colors Ramp(int n);

inline COLORREF Ref(const TGIFColor& c) { return RGB(c.Red, c.Green, c.Blue); }
