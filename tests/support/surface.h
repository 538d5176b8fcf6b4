// A surface the drawing tests draw on, filled with one colour, and its pixels read back.
#pragma once
#include <windows.h>

#include <vector>

#include "classlib/graphics.h"

enum class SurfaceKind {
    Dib32,             // a top-down 32-bit section: exact colours whatever the display
    ScreenCompatible,  // a device bitmap like a window's, as the painter meets it
};

class Surface {
public:
    Surface(int width, int height, COLORREF fill, SurfaceKind kind = SurfaceKind::Dib32);
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    HDC Dc() const { return dc_; }
    TCanvas& Canvas() { return canvas_; }
    COLORREF At(int x, int y) const;
    // Every pixel, rows from the top.
    std::vector<COLORREF> All() const;
    std::vector<COLORREF> Row(int y, int from, int count) const;
    // Deletes the device context (the canvas keeps the stale handle).
    void DeleteContext();

private:
    int width_;
    int height_;
    HBITMAP bitmap_;
    HDC dc_;
    HGDIOBJ old_;
    TCanvas canvas_;
};

// Pixels of a device context as GDI reads them (red in the low byte).
std::vector<COLORREF> RowOf(HDC dc, int y, int from, int count);
std::vector<COLORREF> ColorsOf(HDC dc, int width, int height);
