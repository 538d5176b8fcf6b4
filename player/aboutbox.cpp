#include "player/aboutbox.h"

#include <shellapi.h>

#include "classlib/icon.h"
#include "classlib/jpeg.h"
#include "player/mainform.h"
#include "routines/sendmail.h"

const char* const ProductWebSite = "http://www.corvelline.example/";
const char* const SupportAddress = "support@corvelline.example";
const char* const LegalNotice = "Copyright (C) 2005-2007 Corvelline Software";
const char* const FeedbackSubject = "Corvelline Flash Player Feed Back";

TAboutBox* AboutBox = nullptr;

namespace {
const int kClientWidth = 405, kClientHeight = 298;

TLabel* MakeLabel(TAboutBox* box, int left, int top, const std::string& caption) {
    TLabel* label = new TLabel(box, box);
    label->SetFont(box->Font());
    label->SetBounds(left, top, 0, 0);
    label->SetCaption(caption);
    return label;
}

// A label that reads as a link: blue, underlined, with the hand cursor; a click runs OnClick.
class TLinkLabel : public TLabel {
public:
    TLinkLabel(TAboutBox* box, int left, int top, const std::string& caption, TNotifyEvent onClick)
        : TLabel(box, box)
        , onClick_(std::move(onClick)) {
        font_.Assign(box->Font());
        font_.SetStyle(fsUnderline);
        font_.SetColor(clBlue);
        SetFont(font_);
        SetWindowLongA(handle_, GWL_STYLE, GetWindowLongA(handle_, GWL_STYLE) | SS_NOTIFY);
        SetBounds(left, top, 0, 0);
        SetCaption(caption);
    }

protected:
    void CommandNotify(WORD code) override {
        if (code == STN_CLICKED && onClick_) onClick_(this);
    }
    bool CtlColor(HDC dc, HBRUSH& brush) override {
        TLabel::CtlColor(dc, brush);
        SetTextColor(dc, ColorToRGB(font_.Color()));
        return true;
    }
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_SETCURSOR) {
            SetCursor(LoadCursor(nullptr, IDC_HAND));
            return TRUE;
        }
        return TLabel::WndProc(message, wParam, lParam);
    }

private:
    TFont font_;
    TNotifyEvent onClick_;
};
}  // namespace

TAboutBox::TAboutBox(TComponent* owner) : TForm(owner, "TAboutBox", bsDialog, biSystemMenu) {
    SetCaption("About");
    Font().SetName("Microsoft Sans Serif");
    Font().SetSize(8);
    SetClientSize(kClientWidth, kClientHeight);
    SetPosition(poScreenCenter);

    Image1 = new TImage(this, this);
    Image1->SetBounds(0, 0, 408, 88);
    Image1->SetStretch(true);
    {
        TResourceStream banner(GetModuleHandleA(nullptr), "ABOUT_BANNER", MAKEINTRESOURCEA(10));
        auto jpeg = std::make_unique<TJPEGImage>();
        jpeg->LoadFromStream(banner);
        Image1->Picture().SetGraphic(std::move(jpeg));
    }
    ProgramIcon = new TImage(this, this);
    ProgramIcon->SetBounds(24, 112, 32, 32);
    ProgramIcon->SetStretch(true);
    ProgramIcon->Picture().SetGraphic(std::make_unique<TIcon>(LoadIconA(GetModuleHandleA(nullptr), "MAINICON")));

    ProductName = MakeLabel(this, 80, 112, "Corvelline Flash Player Version 1.1");
    Label1 = MakeLabel(this, 80, 128, "Part of Corvelline Glimmerdeck");
    Version = MakeLabel(this, 80, 144, LegalNotice);
    Bevel1 = new TBevel(this, this);
    Bevel1->SetBounds(80, 177, 313, 16);
    Bevel1->SetShape(bsBottomLine);
    Label2 = MakeLabel(this, 80, 200, "Website:");
    Copyright = new TLinkLabel(this, 128, 200, ProductWebSite, [this](TObject* s) { CopyrightClick(s); });
    Label3 = MakeLabel(this, 80, 216, "Support:");
    Comments = new TLinkLabel(this, 128, 216, SupportAddress, [this](TObject* s) { CommentsClick(s); });

    OKButton = new TButton(this, this);
    OKButton->SetBounds(319, 260, 75, 25);
    OKButton->SetCaption("OK");
    OKButton->SetDefault(true);
    OKButton->OnClick = [this](TObject*) { SetModalResult(mrOk); };

    SafeCall([this] { FormCreate(this); });
}

void TAboutBox::FormCreate(TObject*) { Image1->SetWidth(ClientWidth()); }

void TAboutBox::CopyrightClick(TObject*) {
    ShellExecuteA(Handle(), "open", ProductWebSite, nullptr, nullptr, SW_SHOWNORMAL);
}

void TAboutBox::CommentsClick(TObject*) { SendMail(FeedbackSubject, "", "", "", "", SupportAddress, ""); }

void CreateAboutBox() { Application->CreateForm(AboutBox); }

void ShowAboutBox() {
    if (AboutBox) AboutBox->ShowModal();
}
