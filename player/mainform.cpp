#include "player/mainform.h"

#include "routines/association.h"
#include "routines/msgbox.h"
#include "routines/swfinfo.h"
#include "routines/widetext.h"

namespace {
// The frame the sizes come from before any file plays.
constexpr int kDefaultFrameWidth = 320, kDefaultFrameHeight = 240;
// The window's outer size and the control's size as the form is designed.
constexpr int kDesignWidth = 556, kDesignHeight = 471;
constexpr int kDesignFlashWidth = 548, kDesignFlashHeight = 406;
const char* const kTitleSuffix = " - Corvelline Flash Player";
const char* const kCompanionMovie = "fvp.swf";
const char* const kCompanionSkin = "SteelExternalAll.swf";

// The integer held by argument index of a "ready" request: an element with just text.
int ReadyArgument(const TXMLNode& arguments, int index) {
    TXMLNode argument = arguments.ChildNode(index);
    if (!argument.IsElement()) throw EXMLDocError("Argument " + std::to_string(index) + " is not an element");
    return StrToInt(WideToAnsi(argument.Text()));
}
}  // namespace

TForm1* Form1 = nullptr;
int FrameWidth = kDefaultFrameWidth;
int FrameHeight = kDefaultFrameHeight;
bool FlvMode = false;

std::wstring MakePlayRequest(const std::string& videoPath) {
    return StringToWide("<invoke name=\"Play\" returntype=\"xml\"><arguments><string>" + XmlEscape(videoPath) +
                        "</string></arguments></invoke>");
}

std::wstring MakeResizeRequest(int width, int height) {
    return StringToWide("<invoke name=\"Resize\" returntype=\"xml\"><arguments><string>" + std::to_string(width) +
                        "</string><string>" + std::to_string(height) + "</string></arguments></invoke>");
}

TForm1::TForm1(TComponent* owner) : TForm(owner, "TForm1") {
    Font().SetName("MS Sans Serif");
    Font().SetSize(8);
    SetBounds(100, 100, kDesignWidth, kDesignHeight);
    SetCaption("Corvelline Flash Player");

    Flash1 = new TShockwaveFlash(this, this);
    Flash1->SetBounds(0, 0, kDesignFlashWidth, kDesignFlashHeight);
    Flash1->SetTabOrder(0);
    Flash1->OnFlashCall = [this](TObject* sender, const std::wstring& request) { Flash1FlashCall(sender, request); };
    OpenDialog1 = new TOpenDialog(this);
    OpenDialog1->Filter = "Flash file (*.swf;*.flv)|*.swf;*.flv|Flash movie (*.swf)|*.swf|Flash video (*.flv)|*.flv";
    XML1 = new TXMLDocument(this);
    XML1->DOMVendor = "MSXML";
    BuildMenu();
    StatusBar1 = new TStatusBar(this, this);
    StatusBar1->SetSimplePanel(true);
    AlignControls();

    OnResize = [this](TObject* sender) { FormResize(sender); };
    SafeCall([this] { FormCreate(this); });
}

void TForm1::BuildMenu() {
    MainMenu1 = new TMainMenu(this);
    TMenuItem* root = MainMenu1->Items();
    File1 = new TMenuItem(this, root, "File");
    Open1 = new TMenuItem(this, File1, "Open...", 16463);
    new TMenuItem(this, File1, "-");
    Exit1 = new TMenuItem(this, File1, "Exit");
    View1 = new TMenuItem(this, root, "View");
    OriginalSize1 = new TMenuItem(this, View1, "Original Size", 16433);
    DoubleSize1 = new TMenuItem(this, View1, "Double Size", 16434);
    TMenuItem* tools = new TMenuItem(this, root, "Tools");
    Associatewithflvandswf1 = new TMenuItem(this, tools, "Associate with .swf and .flv");
    Help1 = new TMenuItem(this, root, "Help");
    About1 = new TMenuItem(this, Help1, "About");
    Open1->OnClick = [this](TObject* s) { Open1Click(s); };
    Exit1->OnClick = [this](TObject* s) { Exit1Click(s); };
    OriginalSize1->OnClick = [this](TObject* s) { OriginalSize1Click(s); };
    DoubleSize1->OnClick = [this](TObject* s) { DoubleSize1Click(s); };
    Associatewithflvandswf1->OnClick = [this](TObject* s) { Associatewithflvandswf1Click(s); };
    About1->OnClick = [this](TObject* s) { About1Click(s); };
    MainMenu1->Rebuild();
}

void TForm1::AlignControls() {
    if (!StatusBar1 || !Flash1) return;
    StatusBar1->AlignToParent();
    int above = ClientHeight() - StatusBar1->Height();
    Flash1->SetBounds(0, 0, ClientWidth(), above < 0 ? 0 : above);
}

LRESULT TForm1::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE: AlignControls(); break;
    case WM_DROPFILES: WMDropFiles(reinterpret_cast<HDROP>(wParam)); return 0;
    default: break;
    }
    return TForm::WndProc(message, wParam, lParam);
}

void TForm1::FormCreate(TObject*) {
    FlvMode = false;
    FrameWidth = kDefaultFrameWidth;
    FrameHeight = kDefaultFrameHeight;
    DragAcceptFiles(Handle(), TRUE);
    if (ParamCount() >= 1) Play(ParamStr(1));
}

void TForm1::Open1Click(TObject*) {
    if (OpenDialog1->Execute()) Play(OpenDialog1->FileName);
}

void TForm1::WMDropFiles(HDROP drop) {
    // The handle is released also when playing the file fails.
    struct DropRelease {
        HDROP drop;
        ~DropRelease() { DragFinish(drop); }
    } release{drop};
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    if (count > 0) {
        char path[256] = {0};
        DragQueryFileA(drop, 0, path, sizeof(path));
        Play(path);
    }
}

void TForm1::Play(const std::string& path) {
    std::string ext = LowerCase(ExtractFileExt(path));
    if (ext == ".swf")
        PlaySWF(path);
    else if (ext == ".flv")
        PlayFLV(path);
    else
        MsgBox("Invalid Flash File!", MsgBoxError);
}

void TForm1::PlaySWF(const std::string& path) {
    int width = 0, height = 0, color = 0;
    if (!ReadSwfInfo(path, width, height, color)) {
        MsgBox("Invalid SWF File!", MsgBoxError);
        return;
    }
    if (WindowState() == wsMaximized) SetWindowState(wsNormal);
    FrameWidth = width;
    FrameHeight = height;
    SizeClientToFrame(width, height, false);
    Flash1->SetBackgroundColor(color);
    Flash1->SetScale(L"showall");
    Flash1->SetSAlign(L"none");
    FlvMode = false;
    Flash1->SetMovie(StringToWide(path));
    StatusBar1->SetSimpleText("Frame Size: " + std::to_string(width) + " x " + std::to_string(height));
    SetCaption(ExtractFileName(path) + kTitleSuffix);
}

void TForm1::PlayFLV(const std::string& path) {
    std::string folder = ExeFolder();
    std::string companion = folder + kCompanionMovie;
    std::string skin = folder + kCompanionSkin;
    if (!FileExists(companion) || !FileExists(skin)) {
        MsgBox("Corvelline Flash Player is corrupted, please reinstall!", MsgBoxError);
        return;
    }
    Flash1->SetScale(L"noscale");
    Flash1->SetAlignMode(5);
    Flash1->SetMovie(StringToWide(companion));
    Flash1->SetBackgroundColor(0);
    FlvMode = true;
    Flash1->CallFunction(MakePlayRequest(path));
    SetCaption(ExtractFileName(path) + kTitleSuffix);
}

void TForm1::Flash1FlashCall(TObject*, const std::wstring& request) {
    XML1->SetXML(request);
    XML1->SetActive(true);
    TXMLNode root = XML1->DocumentElement();
    std::wstring name = root.Attribute(L"name");
    // The arguments element is taken before the name is looked at; a request without one
    // is only an error when it is a "ready" (the reference is empty until then).
    TXMLNode arguments = root.ChildCount() > 0 ? root.ChildNode(0) : TXMLNode();
    if (name != L"ready") return;
    FrameWidth = ReadyArgument(arguments, 0);
    FrameHeight = ReadyArgument(arguments, 1);
    if (WindowState() == wsMaximized) SetWindowState(wsNormal);
    SizeClientToFrame(FrameWidth, FrameHeight, true);
    StatusBar1->SetSimpleText("Video Size: " + std::to_string(FrameWidth) + " x " + std::to_string(FrameHeight));
}

void TForm1::SetActiveControl(TWinControl* control) {
    // As with a form's active control: the focus moves only while the form is the active window.
    if (GetActiveWindow() != Handle()) return;
    if (control)
        control->SetFocus();
    else
        ::SetFocus(Handle());
}

void TForm1::SendResize(int width, int height) {
    Flash1->CallFunction(MakeResizeRequest(width, height));
    sentWidth_ = width;
    sentHeight_ = height;
}

void TForm1::SendVideoAreaIfChanged() {
    int width = ClientWidth(), height = ClientHeight() - HeightBelowFrame(true);
    if (width != sentWidth_ || height != sentHeight_) SendResize(width, height);
}

int TForm1::HeightBelowFrame(bool video) const { return StatusBar1->Height() + (video ? FlvControlBarHeight : 0); }

void TForm1::SizeClientToFrame(int width, int height, bool video) {
    SetClientWidth(width);
    SetClientHeight(height + HeightBelowFrame(video));
}

void TForm1::FormResize(TObject*) {
    SetActiveControl(nullptr);
    SetActiveControl(Flash1);
    if (FlvMode) SendResize(ClientWidth(), ClientHeight() - HeightBelowFrame(true));
}

// A size the window cannot take (larger than the screen, narrower than the smallest window)
// may leave it as it was, and then no resize event corrects the area just asked of the
// companion movie: the area the window got is sent after the sizing.
void TForm1::SizeToFrame(int factor) {
    if (FlvMode) SendResize(factor * FrameWidth, factor * FrameHeight);
    SizeClientToFrame(factor * FrameWidth, factor * FrameHeight, FlvMode);
    if (FlvMode) SendVideoAreaIfChanged();
}

void TForm1::OriginalSize1Click(TObject*) { SizeToFrame(1); }

void TForm1::DoubleSize1Click(TObject*) { SizeToFrame(2); }

void TForm1::Exit1Click(TObject*) { Application->Terminate(); }

void TForm1::About1Click(TObject*) { ShowAboutBox(); }

void TForm1::Associatewithflvandswf1Click(TObject*) {
    try {
        RegisterFileType("swf", "ShockwaveFlash.ShockwaveFlash");
        RegisterFileType("flv", "FlashVideo.FlashVideo");
    } catch (const std::exception&) {
        MsgBox("Failed to associate files!\rFile association requires administartor privilege.", MsgBoxError);
    }
}
