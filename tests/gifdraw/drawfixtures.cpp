#include "drawfixtures.h"
#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"

#include <cstring>

std::unique_ptr<TGIFImage> MakeImage(int screenWidth, int screenHeight, const Colors& global) {
    auto image = std::make_unique<TGIFImage>();
    image->SetScreenWidth(screenWidth);
    image->SetScreenHeight(screenHeight);
    for (const TGIFColor& c : global) image->GlobalColors()->AppendColor(TGIFColorMap::TripleToColor(c));
    return image;
}

TGIFSubImage* AddFrame(TGIFImage& image, const FrameSetup& setup) {
    auto* frame = new TGIFSubImage(&image);
    image.Frames()->Append(frame);
    for (const TGIFColor& c : setup.local) frame->LocalColorMap()->AppendColor(TGIFColorMap::TripleToColor(c));
    frame->ApplyBounds(setup.left, setup.top, setup.width, setup.height);
    if (!setup.pixels.empty()) frame->SetPixels(setup.pixels.data(), setup.pixels.size());
    if (setup.transparent >= 0 || setup.disposal >= 0) {
        auto* control = new TGIFGraphicControlExtension(frame);
        frame->Extensions()->Append(control);
        if (setup.disposal >= 0) control->SetDisposalMethod(static_cast<uint8_t>(setup.disposal));
        if (setup.transparent >= 0) {
            control->SetIsTransparent(true);
            control->SetTransparentIndex(setup.transparent);
        }
    }
    return frame;
}

Colors EntriesOf(const TGIFColorMap& map) { return Colors(map.Entries(), map.Entries() + map.Count()); }

Colors Ramp(int n) {
    Colors out;
    for (int i = 0; i < n; ++i) out.push_back(TGIFColor{static_cast<uint8_t>(i), 100, static_cast<uint8_t>(200 - i)});
    return out;
}
