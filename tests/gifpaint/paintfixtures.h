// Fixtures of the painter tests: small animations, drawing surfaces and a log of the
// animation handlers.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gifimage/painter.h"
#include "tests/support/gifbuilder.h"
#include "tests/support/surface.h"

// Colours of the fixtures' global table, by index; the background is index 3 (white).
enum : uint8_t { kRed, kGreen, kBlue, kWhite };
COLORREF ColorOfIndex(uint8_t index);
constexpr COLORREF kYellow = RGB(255, 255, 0);

struct FrameSetup {
    int left = 0, top = 0, width = 1, height = 1;
    Bytes pixels;  // width x height indexes; empty: all of color
    uint8_t color = kRed;
    int disposal = -1;  // -1: no graphic control extension
    int delay = 0;
    int transparentIndex = -1;  // -1: opaque
};

struct LoopSetup {
    int count = -1;  // -1: no loop extension
    int atFrame = 0;
};

// A GIF stream of a screen with the four-colour global table and the frames.
Bytes AnimationBytes(int screenWidth, int screenHeight, const std::vector<FrameSetup>& frames, LoopSetup loop = {});
std::unique_ptr<TGIFImage> Animation(int screenWidth, int screenHeight, const std::vector<FrameSetup>& frames,
                                     LoopSetup loop = {});
// Full-screen frames of the given colours, each with a graphic control extension.
std::vector<FrameSetup> SolidFrames(int width, int height, const std::vector<uint8_t>& colors, int delay = 1,
                                    int disposal = 1);

std::vector<COLORREF> Colors(const std::vector<uint8_t>& indexes);

// Runs the GUI thread's synchronisation queue until done() holds or timeoutMs pass.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Every painter of the image has left its list.
bool NoPainters(TGIFImage& image);
size_t PainterCount(TGIFImage& image);

// The handlers of an image as a list of texts: "start", "begin N", "done N", "loop N", "end N"
// (N the painter's current frame); an optional action runs after each entry is noted.
struct EventLog {
    std::vector<std::string> entries;
    std::function<void(TGIFPainter&, const std::string&)> action;
    std::vector<DWORD> beginTimes;
    void Attach(TGIFImage& image);
    std::vector<std::string> Begun() const;
    bool Has(const std::string& entry) const;
};
