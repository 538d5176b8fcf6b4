#include "renderfixtures.h"
#include "gifimage/colormap.h"

#include <cstring>

GifBytes& FrameWithTable(GifBytes& gif, int width, int height, const Colors& colors, const Bytes& pixels,
                         bool interlaced) {
    int field = 0;
    while ((2 << field) < static_cast<int>(colors.size())) ++field;
    gif.Descriptor(0, 0, width, height, 0x80 | (interlaced ? 0x40 : 0) | field);
    for (int i = 0; i < (2 << field); ++i) {
        const TGIFColor c = i < static_cast<int>(colors.size()) ? colors[i] : TGIFColor{0, 0, 0};
        gif.Raw({c.Red, c.Green, c.Blue});
    }
    const int minCodeSize = field + 1 < 2 ? 2 : field + 1;
    return gif.Data(minCodeSize, EncodeLZW(interlaced ? Interlace(pixels, width, height) : pixels, minCodeSize));
}

Bytes Where(const Bytes& pixels, uint8_t index) {
    Bytes out;
    for (uint8_t p : pixels) out.push_back(p == index ? 1 : 0);
    return out;
}

void ProgressLog::Attach(TGraphic& graphic) {
    graphic.OnProgress = [this](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const RECT&,
                                const std::string& message) {
        entries.push_back(ProgressEntry{sender, stage, percent, redraw, message});
    };
}
