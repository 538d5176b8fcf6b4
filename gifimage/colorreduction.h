// The choices a caller makes when colours are reduced: the palette (the reduction method) and
// how pixels are mapped into it (the dither kind).
#pragma once
#include <cstdint>

enum TReductionMethod : uint8_t {
    crNone,
    crSystem20,
    crHalftone,
    crFourGrays,
    crMonochrome,
    crGrayScale,
    crWebPalette,
    crOptimized,
    crOptimizedSystem,
    crCustomPalette
};

enum TDitherKind : uint8_t {
    dkNone = 0,
    dkFloydSteinberg = 1,
    dkStucki = 2,
    dkSierra = 3,
    dkJarvisJudiceNinke = 4,
    dkStevensonArce = 5,
    dkBurkes = 6,
};
