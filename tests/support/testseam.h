// The one way tests reach inside the GIF library's classes: state that no public operation
// shows or sets, and that a test must see (a re-entry guard, the cached palette handle).
#pragma once
#include <windows.h>

#include "gifimage/gifimage.h"

struct TGIFTestSeam {
    // DrawImage's re-entry guard.
    static bool& DrawingNow(TGIFImage& image) { return image.drawingNow_; }
    // PaletteHandle's re-entry guard.
    static bool InPaletteQuery(const TGIFImage& image) { return image.inPaletteQuery_; }
    // The palette PaletteHandle made and keeps.
    static HPALETTE PaletteCache(const TGIFImage& image) { return image.paletteCache_; }
};
