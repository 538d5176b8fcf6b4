// The library-wide settings: frame timing, the defaults a new image takes, and what the library
// learns of the system at its start. Defined with the picture class (gifimage.cpp).
#pragma once
#include <cstdint>

#include "gifimage/colorreduction.h"

extern int FrameDelayUnitMs;
extern int DefaultFrameDelay;
extern int MinFrameDelay;
extern int MaxFrameDelay;
extern uint16_t DefaultDrawFlags;
extern TReductionMethod DefaultColorReduction;
extern int DefaultReductionBits;
extern TDitherKind DefaultDitherMode;
extern uint8_t DefaultCompression;
extern uint8_t DefaultThreadPriority;
extern int DefaultAnimationSpeed;
// The screen has 8 bits per pixel or fewer; set at the library's start.
extern bool IsPaletteDisplay;
extern bool OptimizeOnStore;
// When true, a frame renders its bitmap as soon as it is loaded.
extern bool RenderFramesWhileLoading;
// Registered at the library's start under the name "GIF Image".
extern uint16_t GIFClipboardFormat;
