#include "classlib/graphics.h"

#include <algorithm>
#include <vector>

COLORREF ColorToRGB(TColor color) {
    if (color < 0) return GetSysColor(color & 0xFF);
    return static_cast<COLORREF>(color) & 0xFFFFFF;
}

// --- TFont -----------------------------------------------------------------

TFont::TFont() : name_("Tahoma"), size_(8) {}

TFont::~TFont() {
    if (handle_) DeleteObject(handle_);
}

void TFont::Assign(const TFont& other) {
    name_ = other.name_;
    size_ = other.size_;
    style_ = other.style_;
    color_ = other.color_;
    Changed();
}

void TFont::Changed() {
    if (handle_) DeleteObject(handle_);
    handle_ = nullptr;
    if (OnChange) OnChange(nullptr);
}

HFONT TFont::Handle() const {
    if (!handle_) {
        HDC screen = GetDC(nullptr);
        int height = -MulDiv(size_, GetDeviceCaps(screen, LOGPIXELSY), 72);
        ReleaseDC(nullptr, screen);
        LOGFONTA lf{};
        lf.lfHeight = height;
        lf.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = (style_ & fsItalic) != 0;
        lf.lfUnderline = (style_ & fsUnderline) != 0;
        lf.lfStrikeOut = (style_ & fsStrikeOut) != 0;
        lf.lfCharSet = DEFAULT_CHARSET;
        lf.lfQuality = DEFAULT_QUALITY;
        lstrcpynA(lf.lfFaceName, name_.c_str(), LF_FACESIZE);
        handle_ = CreateFontIndirectA(&lf);
    }
    return handle_;
}

// --- TCanvas ---------------------------------------------------------------

void TCanvas::FillRect(const RECT& rect, TColor color) {
    HBRUSH brush = CreateSolidBrush(ColorToRGB(color));
    ::FillRect(dc_, &rect, brush);
    DeleteObject(brush);
}

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
    RECT r{x, y, x + graphic.Width(), y + graphic.Height()};
    graphic.Draw(*this, r);
}

void TCanvas::StretchDraw(const RECT& rect, TGraphic& graphic) { graphic.Draw(*this, rect); }

void TCanvas::TextOut(int x, int y, const std::string& text) {
    ::TextOutA(dc_, x, y, text.c_str(), static_cast<int>(text.size()));
}

// --- TGraphic --------------------------------------------------------------

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

// Saves into memory first: a picture that fails to save leaves an existing file as it was.
void TGraphic::SaveToFile(const std::string& fileName) {
    TMemoryStream saved;
    SaveToStream(saved);
    saved.SaveToFile(fileName);
}

void TGraphic::LoadFromClipboardFormat(UINT, HANDLE, HPALETTE) {
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::SaveToClipboardFormat(UINT&, HANDLE&, HPALETTE&) {
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::Changed() {
    if (OnChange) OnChange(this);
}

void TGraphic::Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow, const RECT& rect,
                        const std::string& message) {
    if (OnProgress) OnProgress(sender, stage, percentDone, redrawNow, rect, message);
}

// --- TPicture and its registries -------------------------------------------

namespace {
struct FileFormat {
    std::string extension;  // lower case, without the dot
    std::string description;
    TGraphicClass graphicClass;
    TGraphicFactory factory;
};
struct ClipboardFormat {
    UINT format;
    TGraphicClass graphicClass;
    TGraphicFactory factory;
};
std::vector<FileFormat>& FileFormats() {
    static std::vector<FileFormat> formats;
    return formats;
}
std::vector<ClipboardFormat>& ClipboardFormats() {
    static std::vector<ClipboardFormat> formats;
    return formats;
}
std::string NormaliseExtension(const std::string& extension) {
    std::string e = LowerCase(extension);
    if (!e.empty() && e[0] == '.') e.erase(0, 1);
    return e;
}
}  // namespace

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  TGraphicClass graphicClass, TGraphicFactory factory) {
    FileFormats().insert(FileFormats().begin(),
                         FileFormat{NormaliseExtension(extension), description, graphicClass, std::move(factory)});
}

void TPicture::RegisterClipboardFormat(UINT format, TGraphicClass graphicClass, TGraphicFactory factory) {
    ClipboardFormats().insert(ClipboardFormats().begin(), ClipboardFormat{format, graphicClass, std::move(factory)});
}

void TPicture::UnregisterGraphicClass(TGraphicClass graphicClass) {
    auto& files = FileFormats();
    files.erase(
        std::remove_if(files.begin(), files.end(), [&](const FileFormat& f) { return f.graphicClass == graphicClass; }),
        files.end());
    auto& clips = ClipboardFormats();
    clips.erase(std::remove_if(clips.begin(), clips.end(),
                               [&](const ClipboardFormat& f) { return f.graphicClass == graphicClass; }),
                clips.end());
}

TGraphicFactory TPicture::FindFileFormat(const std::string& extension) {
    std::string e = NormaliseExtension(extension);
    for (auto& f : FileFormats())
        if (f.extension == e) return f.factory;
    return {};
}

TGraphicFactory TPicture::FindClipboardFormat(UINT format) {
    for (auto& f : ClipboardFormats())
        if (f.format == format) return f.factory;
    return {};
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
    graphic_ = std::move(graphic);
    if (graphic_) {
        graphic_->OnChange = [this](TObject*) { Changed(); };
        graphic_->OnProgress = [this](TObject* s, TProgressStage st, uint8_t p, bool r, const RECT& rc,
                                      const std::string& m) {
            if (OnProgress) OnProgress(s, st, p, r, rc, m);
        };
    }
    Changed();
}

void TPicture::AssignGraphic(const TGraphic& graphic) {
    std::unique_ptr<TGraphic> copy = graphic.CreateNew();
    copy->Assign(graphic);
    SetGraphic(std::move(copy));
}

void TPicture::LoadFromFile(const std::string& fileName) {
    TGraphicFactory factory = FindFileFormat(ExtractFileExt(fileName));
    if (!factory) throw EInvalidGraphic("Unknown picture file extension (" + ExtractFileExt(fileName) + ")");
    std::unique_ptr<TGraphic> graphic = factory();
    graphic->LoadFromFile(fileName);
    SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& fileName) {
    if (graphic_) graphic_->SaveToFile(fileName);
}

void TPicture::Assign(const TPersistent& source) {
    if (auto* picture = dynamic_cast<const TPicture*>(&source)) {
        if (!picture->graphic_) {
            SetGraphic(nullptr);
            return;
        }
        AssignGraphic(*picture->graphic_);
        return;
    }
    if (auto* graphic = dynamic_cast<const TGraphic*>(&source)) {
        AssignGraphic(*graphic);
        return;
    }
    throw EConvertError("Cannot assign to a picture");
}

void TPicture::Changed() {
    if (OnChange) OnChange(this);
}
