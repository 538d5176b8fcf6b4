// The one way tests reach inside the GIF library's classes: state that no public operation
// shows or sets, and that a test must see or put in place (a re-entry guard, the cached palette
// handle, a frame's descriptor or transparency flag out of step with the rest of the frame).
#pragma once
#include <windows.h>

#include "gifimage/gifimage.h"
#include "gifimage/subimage.h"

struct TGIFTestSeam {
    // DrawImage's re-entry guard.
    static bool& DrawingNow(TGIFImage& image) { return image.drawingNow_; }
    // PaletteHandle's re-entry guard.
    static bool InPaletteQuery(const TGIFImage& image) { return image.inPaletteQuery_; }
    // The palette PaletteHandle made and keeps.
    static HPALETTE PaletteCache(const TGIFImage& image) { return image.paletteCache_; }
    // A frame's descriptor, changed without the bounds operations' checks and reallocation.
    static TImageDescriptor& Descriptor(TGIFSubImage& frame) { return frame.descriptor_; }
    // A frame's transparency flag, set without a graphic control extension.
    static bool& Transparent(TGIFSubImage& frame) { return frame.transparent_; }
};
