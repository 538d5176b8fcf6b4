#include "converter/mainform.h"

#include <windows.h>

#include <vector>

#include "classlib/jpeg.h"
#include "classlib/registry.h"
#include "converter/progressform.h"
#include "converter/startup.h"
#include "converter/toolrun.h"
#include "routines/msgbox.h"

TForm1* Form1 = nullptr;

const char* const EmptyInputText = "Please specify an input video file.";
const char* const ToolMissingText = "Corvelline Converter is corrupted, please reinstall!";
const char* const SameFileText = "The output file would replace the input file.\rPlease choose another output format.";

std::string CannotReplaceText(const std::string& output) {
    return "The output file\r" + output + "\rcould not be replaced. It may be read-only or in use by another program.";
}

namespace {
const char* const ToolName = "ffmpeg.exe";
const char* const AviOptions = "\" -f avi -vcodec msmpeg4v2 -acodec libmp3lame \"";
const char* const MpegOptions = "\" -f mpeg -vcodec mpeg2video -r 30 -acodec libmp3lame \"";
const char* const OpenFilter = "Flash Video Files (*.flv)|*.FLV";

std::string FullPath(const std::string& path) {
    DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::vector<char> buffer(size + 1, 0);
    if (GetFullPathNameA(path.c_str(), size + 1, buffer.data(), nullptr) == 0) return path;
    return buffer.data();
}

// Two names of one existing file: compares what the file system says about both.
bool SameExistingFile(const std::string& a, const std::string& b) {
    auto open = [](const std::string& path) {
        return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    };
    HANDLE first = open(a), second = open(b);
    bool same = false;
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (first != INVALID_HANDLE_VALUE && second != INVALID_HANDLE_VALUE && GetFileInformationByHandle(first, &ia) &&
        GetFileInformationByHandle(second, &ib))
        same = ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
               ia.nFileIndexLow == ib.nFileIndexLow;
    if (first != INVALID_HANDLE_VALUE) CloseHandle(first);
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    return same;
}

// File names compare without regard to letter case.
bool SameFile(const std::string& a, const std::string& b) {
    return lstrcmpiA(FullPath(a).c_str(), FullPath(b).c_str()) == 0 || SameExistingFile(a, b);
}

enum class PathState { Absent, Present, Unknown };

// A file or a folder is there (the tool asks before it replaces either), is not, or cannot be
// told: a path the system's calls refuse (one past their length limit, no access to its folder)
// may well name a file.
PathState StateOfPath(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return PathState::Present;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathState::Absent : PathState::Unknown;
}

// Whether the tool could open the file to read it: as the tool opens it, sharing everything.
bool CanBeRead(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// Deletes the old output so that the tool can write a new one; false when the tool would still
// find it. The tool is given no overwrite option: finding the output there, it would ask on a
// console no one sees and wait for ever. An input the tool cannot read costs no old output: the
// tool fails on its input before it looks at the output, so nothing is deleted for it.
bool MakeWayForOutput(const std::string& input, const std::string& output) {
    const bool inputReadable = CanBeRead(input);
    if (inputReadable) DeleteFileA(output.c_str());
    switch (StateOfPath(output)) {
    case PathState::Absent: return true;
    case PathState::Present: return !inputReadable;
    case PathState::Unknown: return false;
    }
    return false;
}

// Gives the dialog back to the user when a conversion ends by an exception.
struct ProgressGuard {
    TForm1* form;
    ~ProgressGuard() {
        if (Form2 || !IsWindowEnabled(form->Handle())) form->HideProgress();
    }
};
}  // namespace

TForm1::TForm1(TComponent* owner) : TForm(owner, "TForm1", bsDialog) {
    SetCaption("Corvelline Video Converter");
    SetClientSize(408, 270);
    SetPosition(poScreenCenter);
    OnShow = [this](TObject* sender) { FormCreate(sender); };
    OnClose = [this](TObject* sender, TCloseAction& action) { FormClose(sender, action); };

    InputFile = new TLabeledEdit(this, this);
    InputFile->EditLabel()->SetCaption("Input:");
    InputFile->SetBounds(16, 120, 345, 21);
    InputFile->SetReadOnly(true);
    InputFile->SetTabStop(false);
    InputFile->SetTabOrder(0);

    Image1 = new TImage(this, this);
    Image1->SetBounds(0, 0, 408, 88);
    Image1->SetStretch(true);
    {
        TResourceStream banner(GetModuleHandleA(nullptr), "BANNER", MAKEINTRESOURCEA(10));
        auto picture = std::make_unique<TJPEGImage>();
        picture->LoadFromStream(banner);
        Image1->Picture().SetGraphic(std::move(picture));
    }

    btnConvert = new TButton(this, this);
    btnConvert->SetBounds(240, 232, 75, 25);
    btnConvert->SetCaption("Convert");
    btnConvert->SetTabOrder(1);
    btnConvert->OnClick = [this](TObject* sender) { btnConvertClick(sender); };

    BrowseInputFile = new TButton(this, this);
    BrowseInputFile->SetBounds(368, 120, 25, 21);
    BrowseInputFile->SetCaption("...");
    BrowseInputFile->SetTabOrder(2);
    BrowseInputFile->OnClick = [this](TObject* sender) { BrowseInputFileClick(sender); };

    OpenDialog1 = new TOpenDialog(this);
    OpenDialog1->Filter = OpenFilter;

    btnExit = new TButton(this, this);
    btnExit->SetBounds(320, 232, 75, 25);
    btnExit->SetCaption("Exit");
    btnExit->SetTabOrder(3);
    btnExit->OnClick = [this](TObject* sender) { btnExitClick(sender); };

    cmbFormat = new TComboBox(this, this, csDropDownList);
    cmbFormat->SetBounds(280, 155, 81);
    cmbFormat->AddItem("AVI");
    cmbFormat->AddItem("MPEG2");
    cmbFormat->SetItemIndex(0);
    cmbFormat->SetTabOrder(4);
    cmbFormat->OnChange = [this](TObject* sender) { cmbFormatChange(sender); };

    Label1 = new TLabel(this, this);
    Label1->SetBounds(216, 159, 0, 0);
    Label1->SetCaption("Convert to:");

    Label2 = new TLabel(this, this);
    Label2->SetBounds(16, 176, 0, 0);
    Label2->SetCaption("Output:");

    cbAutoConvert = new TCheckBox(this, this);
    cbAutoConvert->SetBounds(16, 232, 193, 17);
    cbAutoConvert->SetCaption("Don't show this dialog again.");
    cbAutoConvert->SetTabOrder(5);
    cbAutoConvert->SetVisible(false);

    OutputFile = new TStaticText(this, this);
    OutputFile->SetBounds(16, 192, 377, 17);
    // The caption is a path: "&" in it is a character, not an accelerator, and a long one is
    // shortened in its middle (the hint holds it whole).
    OutputFile->SetShowAccelChar(false);
    OutputFile->SetPathEllipsis(true);
    OutputFile->SetCaption("Please select an input file first.");
    OutputFile->SetTabOrder(6);
}

std::string TForm1::GetInputFileName() const { return InputFile->Text(); }

std::string TForm1::GetOutputFileName() const {
    return ChangeFileExt(GetInputFileName(), cmbFormat->ItemIndex() == 0 ? ".avi" : ".mpg");
}

std::string TForm1::GetLogFileName() const { return ChangeFileExt(GetInputFileName(), ".log"); }

void TForm1::UpdateOutputFile() {
    if (InputFile->Text().empty()) return;
    std::string output = GetOutputFileName();
    OutputFile->SetCaption(output);
    OutputFile->SetHint(output);
}

bool TForm1::CheckInput() {
    if (!InputFile->Text().empty()) return true;
    MessageDlg(EmptyInputText, mtWarning, mbOK, 0);
    return false;
}

std::string TForm1::GetConvertParams() const {
    return std::string("-i \"") + GetInputFileName() + (cmbFormat->ItemIndex() == 0 ? AviOptions : MpegOptions) +
           GetOutputFileName() + "\"";
}

void TForm1::AddLogRedirect(ToolCommand& command) {
    if (IsShiftDown()) command.errorLog = GetLogFileName();
}

void TForm1::ShowProgress() {
    EnableWindow(Handle(), FALSE);
    try {
        Form2 = new TForm2(this);
        Form2->Show();
    } catch (...) {
        HideProgress();
        throw;
    }
}

void TForm1::HideProgress() {
    // The dialog is enabled before the progress window goes, so that it becomes the active
    // window again (and owns what is shown next) instead of the window being released.
    EnableWindow(Handle(), TRUE);
    if (Form2) {
        Form2->Hide();
        Form2->Release();
        Form2 = nullptr;
    }
    if (GetActiveWindow() != Handle()) SetForegroundWindow(Handle());
}

void TForm1::BrowseInputFileClick(TObject*) {
    if (!OpenDialog1->Execute()) return;
    InputFile->SetText(OpenDialog1->FileName);
    UpdateOutputFile();
}

void TForm1::cmbFormatChange(TObject*) { UpdateOutputFile(); }

void TForm1::btnExitClick(TObject*) { Close(); }

void TForm1::btnConvertClick(TObject*) {
    if (!CheckInput()) return;
    ProgressGuard guard{this};
    ShowProgress();
    ToolCommand command{ExeFolder() + ToolName, GetConvertParams()};
    AddLogRedirect(command);
    // Never let the tool write onto its input, or the log truncate it.
    const std::string input = GetInputFileName(), output = GetOutputFileName();
    if (SameFile(output, input) || (command.LogsErrors() && SameFile(command.errorLog, input))) {
        RefuseConversion(SameFileText);
        return;
    }
    if (!MakeWayForOutput(input, output)) {
        RefuseConversion(CannotReplaceText(output));
        return;
    }
    bool started = command.LogsErrors() ? ExecuteAndWaitLogging(command.program, command.params, command.errorLog)
                                        : ExecuteAndWait(command.program, command.params);
    HideProgress();
    // A run that logs the tool's errors tells of a failed start in its log, as of any other.
    if (!started && !command.LogsErrors()) MsgBox(ToolMissingText, MsgBoxError);
}

void TForm1::RefuseConversion(const std::string& text) {
    HideProgress();
    MsgBox(text, MsgBoxError);
}

void TForm1::FormCreate(TObject*) {
    Image1->SetWidth(ClientWidth());
    if (!HasParams()) return;
    InputFile->SetText(ParamStr(1));
    UpdateOutputFile();
}

bool TForm1::GetAutoConvert() const { return !cbAutoConvert->Checked(); }

void TForm1::FormClose(TObject*, TCloseAction&) {
    if (!HasParams()) return;
    TRegistry registry;
    registry.SetRootKey(HKEY_CURRENT_USER);
    if (!registry.OpenKey(GlimmerdeckKey, true)) return;
    registry.WriteBool(AutoConvertValue, GetAutoConvert());
    registry.CloseKey();
}
