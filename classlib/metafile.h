// Enhanced metafiles as pictures: a metafile handle, played into a rectangle, read from and
// written to .emf files.
#pragma once
#include <windows.h>

#include <memory>

#include "classlib/graphics.h"

class TMetafile : public TGraphic {
public:
    TMetafile() = default;
    ~TMetafile() override;
    TMetafile(const TMetafile&) = delete;
    TMetafile& operator=(const TMetafile&) = delete;

    bool Empty() const override { return handle_ == nullptr; }
    // The size in pixels of the reference device, from the picture frame of the header;
    // SetWidth and SetHeight change the size the picture is drawn at by Canvas.Draw.
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void SetWidth(int width) override;
    void SetHeight(int height) override;

    HENHMETAFILE Handle() const { return handle_; }
    // Takes ownership of metafile (nullptr empties); the size comes from its header.
    void SetHandle(HENHMETAFILE metafile);
    // Hands the metafile to the caller; the picture becomes empty.
    HENHMETAFILE ReleaseHandle();

    // The rest of the stream as one .emf file; anything else raises EInvalidGraphic
    // "Metafile is not valid" and leaves the picture as it was.
    void LoadFromStream(TStream& stream) override;
    // Writes the .emf file; nothing when empty.
    void SaveToStream(TStream& stream) override;
    // Plays the metafile stretched into rect.
    void Draw(TCanvas& canvas, const RECT& rect) override;
    std::unique_ptr<TGraphic> CreateNew() const override { return std::make_unique<TMetafile>(); }
    // A copy of another metafile; other sources are asked to copy themselves into it.
    void Assign(const TPersistent& source) override;

    static TGraphicClass ClassKey();

private:
    void Replace(HENHMETAFILE metafile, int width, int height);
    HENHMETAFILE handle_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};
