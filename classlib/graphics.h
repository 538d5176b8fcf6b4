// Colours, fonts, canvases and the picture classes (TGraphic, TPicture and its format registry).
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "classlib/classes.h"
#include "classlib/streams.h"

// A colour: red in bits 0-7, green 8-15, blue 16-23; negative values name system colours.
using TColor = int32_t;
constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clNavy = 0x800000, clBlue = 0xFF0000,
                 clRed = 0x0000FF, clWhite = 0xFFFFFF, clSilver = 0xC0C0C0, clGray = 0x808080, clNone = 0x1FFFFFFF,
                 clDefault = 0x20000000;
constexpr TColor clBtnFace = static_cast<TColor>(0x80000000 | COLOR_BTNFACE);
constexpr TColor clWindow = static_cast<TColor>(0x80000000 | COLOR_WINDOW);
constexpr TColor clWindowText = static_cast<TColor>(0x80000000 | COLOR_WINDOWTEXT);
constexpr TColor clHotLight = static_cast<TColor>(0x80000000 | COLOR_HOTLIGHT);
// The RGB value of a colour, resolving system colours.
COLORREF ColorToRGB(TColor color);

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// A logical font; the GDI font is made on first use and remade after a change.
class TFont {
public:
    TFont();
    ~TFont();
    TFont(const TFont&) = delete;
    TFont& operator=(const TFont&) = delete;
    void Assign(const TFont& other);

    std::string Name() const { return name_; }
    void SetName(const std::string& name) {
        name_ = name;
        Changed();
    }
    int Size() const { return size_; }  // points
    void SetSize(int points) {
        size_ = points;
        Changed();
    }
    uint8_t Style() const { return style_; }  // TFontStyle bits
    void SetStyle(uint8_t style) {
        style_ = style;
        Changed();
    }
    TColor Color() const { return color_; }
    void SetColor(TColor color) {
        color_ = color;
        Changed();
    }
    HFONT Handle() const;
    TNotifyEvent OnChange;

private:
    void Changed();
    std::string name_;
    int size_;
    uint8_t style_ = 0;
    TColor color_ = clWindowText;
    mutable HFONT handle_ = nullptr;
};

class TGraphic;

// Drawing on a device context that the canvas does not own.
class TCanvas {
public:
    explicit TCanvas(HDC dc = nullptr) : dc_(dc) {}
    virtual ~TCanvas() = default;
    HDC Handle() const { return dc_; }
    void SetHandle(HDC dc) { dc_ = dc; }
    void FillRect(const RECT& rect, TColor color);
    void Draw(int x, int y, TGraphic& graphic);
    void StretchDraw(const RECT& rect, TGraphic& graphic);
    void TextOut(int x, int y, const std::string& text);
    // The change notification of drawing done directly on the handle.
    void Changed() {
        if (OnChange) OnChange(nullptr);
    }
    TNotifyEvent OnChange;

protected:
    HDC dc_;
};

// Progress of a long picture operation, reported to the picture's OnProgress handler.
enum TProgressStage { psStarting, psRunning, psEnding };
using TProgressEvent = std::function<void(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                                          const RECT& rect, const std::string& message)>;

// An abstract picture: loaded from and saved to streams, drawn on a canvas.
class TGraphic : public TPersistent {
public:
    TGraphic() = default;
    ~TGraphic() override = default;

    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int width) {}
    virtual void SetHeight(int height) {}
    virtual bool Transparent() const { return transparent_; }
    virtual void SetTransparent(bool value) {
        transparent_ = value;
        Changed();
    }
    virtual HPALETTE Palette() { return nullptr; }
    virtual void SetPalette(HPALETTE) {}

    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    virtual void LoadFromFile(const std::string& fileName);
    virtual void SaveToFile(const std::string& fileName);
    // Clipboard exchange in the given format; the default raises EInvalidGraphic.
    virtual void LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette);
    virtual void SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette);

    // Draws the picture stretched into rect of the canvas.
    virtual void Draw(TCanvas& canvas, const RECT& rect) = 0;
    // A new, empty picture of the same class (the picture holder copies through it and Assign).
    virtual std::unique_ptr<TGraphic> CreateNew() const = 0;

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;
    // Set by a picture whose palette changed, so that its holder can realise the new one.
    bool PaletteModified() const { return paletteModified_; }
    void SetPaletteModified(bool value) { paletteModified_ = value; }

protected:
    virtual void Changed();
    void Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow, const RECT& rect,
                  const std::string& message);
    bool transparent_ = false;
    bool paletteModified_ = false;
};

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;
// The type key of a picture class in the registries (any stable address, one per class).
using TGraphicClass = const void*;

// Holds one picture of any registered kind and picks the kind from a file's extension.
class TPicture : public TPersistent {
public:
    TPicture() = default;
    ~TPicture() override = default;

    TGraphic* Graphic() const { return graphic_.get(); }
    // Takes ownership of graphic (nullptr clears the picture).
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    // Keeps a copy of graphic of the same class, made with CreateNew and Assign.
    void AssignGraphic(const TGraphic& graphic);
    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    void Assign(const TPersistent& source) override;

    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   TGraphicClass graphicClass, TGraphicFactory factory);
    static void RegisterClipboardFormat(UINT format, TGraphicClass graphicClass, TGraphicFactory factory);
    static void UnregisterGraphicClass(TGraphicClass graphicClass);
    // The factory registered for an extension ("gif", with or without the dot, any case), or empty.
    static TGraphicFactory FindFileFormat(const std::string& extension);
    static TGraphicFactory FindClipboardFormat(UINT format);
    static bool SupportsClipboardFormat(UINT format) { return static_cast<bool>(FindClipboardFormat(format)); }

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;

private:
    void Changed();
    std::unique_ptr<TGraphic> graphic_;
};
