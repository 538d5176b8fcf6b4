// JPEG pictures, decoded with libjpeg and registered with TPicture for "jpg" and "jpeg".
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/graphics.h"

class TJPEGImage : public TGraphic {
public:
    TJPEGImage() = default;
    ~TJPEGImage() override;

    bool Empty() const override { return data_.empty(); }
    int Width() const override { return width_; }
    int Height() const override { return height_; }

    // Reads the rest of the stream as one JPEG file and decodes it at once;
    // a stream that is no JPEG raises EInvalidGraphic and leaves the picture as it was.
    void LoadFromStream(TStream& stream) override;
    // Writes the JPEG file as it was loaded.
    void SaveToStream(TStream& stream) override;
    void Draw(TCanvas& canvas, const RECT& rect) override;
    std::unique_ptr<TGraphic> CreateNew() const override { return std::make_unique<TJPEGImage>(); }
    void Assign(const TPersistent& source) override;

    // The decoded picture: rows top to bottom, blue, green, red, each row padded to 4 bytes.
    const std::vector<uint8_t>& Pixels() const { return pixels_; }

    static TGraphicClass ClassKey();

private:
    std::vector<uint8_t> data_;
    std::vector<uint8_t> pixels_;
    int width_ = 0;
    int height_ = 0;
};
