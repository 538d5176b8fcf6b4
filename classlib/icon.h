// Icons as pictures: an icon handle, or an .ico file's best image.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/graphics.h"

class TIcon : public TGraphic {
public:
    TIcon() = default;
    // Takes a shared icon (from LoadIcon): it is not destroyed with the picture.
    explicit TIcon(HICON shared);
    ~TIcon() override;

    bool Empty() const override { return handle_ == nullptr; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    HICON Handle() const { return handle_; }

    // Reads an .ico file and keeps its image closest to 32 x 32 in the most colours;
    // anything else raises EInvalidGraphic and leaves the picture as it was.
    void LoadFromStream(TStream& stream) override;
    // Writes the .ico file the picture was loaded from; a picture made from a handle has none.
    void SaveToStream(TStream& stream) override;
    void Draw(TCanvas& canvas, const RECT& rect) override;
    std::unique_ptr<TGraphic> CreateNew() const override { return std::make_unique<TIcon>(); }
    void Assign(const TPersistent& source) override;

private:
    void Release();
    HICON handle_ = nullptr;
    bool owned_ = false;
    int width_ = 0, height_ = 0;
    std::vector<uint8_t> file_;
};
