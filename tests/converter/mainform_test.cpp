// The converter's dialog in-process: the derived paths and the argument strings, and the
// dialog given back to the user when a conversion fails after it was disabled.
#include <gtest/gtest.h>
#include <windows.h>

#include "converter/mainform.h"
#include "converter/progressform.h"

namespace {

class ConverterForm : public ::testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        form_ = new TForm1(nullptr);
    }
    void TearDown() override { delete form_; }
    TForm1* form_ = nullptr;
};

struct PathCase {
    const char* input;
    int format;
    const char* output;
    const char* log;
    const char* params;
};

const PathCase kPathCases[] = {
    {"C:\\v\\clip.flv", 0, "C:\\v\\clip.avi", "C:\\v\\clip.log",
     "-i \"C:\\v\\clip.flv\" -f avi -vcodec msmpeg4v2 -acodec libmp3lame \"C:\\v\\clip.avi\""},
    {"C:\\v\\clip.flv", 1, "C:\\v\\clip.mpg", "C:\\v\\clip.log",
     "-i \"C:\\v\\clip.flv\" -f mpeg -vcodec mpeg2video -r 30 -acodec libmp3lame \"C:\\v\\clip.mpg\""},
    {"C:\\v\\clip", 0, "C:\\v\\clip.avi", "C:\\v\\clip.log", nullptr},
    {"a.b.flv", 0, "a.b.avi", "a.b.log", nullptr},
    {"C:\\v.d\\clip", 1, "C:\\v.d\\clip.mpg", "C:\\v.d\\clip.log", nullptr},
    {"clip.", 0, "clip.avi", "clip.log", nullptr},
    {"C:\\odd \"name\" & more.flv", 0, "C:\\odd \"name\" & more.avi", "C:\\odd \"name\" & more.log",
     "-i \"C:\\odd \"name\" & more.flv\" -f avi -vcodec msmpeg4v2 -acodec libmp3lame \"C:\\odd \"name\" & more.avi\""},
};

TEST_F(ConverterForm, DerivesOutputLogAndArguments) {
    for (const PathCase& c : kPathCases) {
        SCOPED_TRACE(c.input);
        form_->InputFile->SetText(c.input);
        form_->cmbFormat->SetItemIndex(c.format);
        EXPECT_EQ(form_->GetInputFileName(), c.input);
        EXPECT_EQ(form_->GetOutputFileName(), c.output);
        EXPECT_EQ(form_->GetLogFileName(), c.log);
        if (c.params) {
            EXPECT_EQ(form_->GetConvertParams(), c.params);
        }
        form_->UpdateOutputFile();
        EXPECT_EQ(form_->OutputFile->Caption(), c.output);
        EXPECT_EQ(form_->OutputFile->Hint(), c.output);
    }
}

// Shift as this thread's keyboard state has it while the command is made.
void SetShift(bool down) {
    BYTE state[256];
    GetKeyboardState(state);
    state[VK_SHIFT] = down ? 0x80 : 0;
    SetKeyboardState(state);
}

// The tool is started the same way with Shift down: only the log for its error output is added.
TEST_F(ConverterForm, ShiftMakesTheCommandOneThatLogsErrors) {
    form_->InputFile->SetText("C:\\v\\clip.flv");
    const std::string tool = "C:\\no such folder\\ffmpeg.exe", params = form_->GetConvertParams();
    struct {
        bool shift;
        const char* errorLog;
    } cases[] = {{false, ""}, {true, "C:\\v\\clip.log"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shift ? "Shift down" : "Shift up");
        SetShift(c.shift);
        ToolCommand command{tool, params};
        form_->AddLogRedirect(command);
        EXPECT_EQ(command.program, tool);
        EXPECT_EQ(command.params, params);
        EXPECT_EQ(command.errorLog, c.errorLog);
        EXPECT_EQ(command.LogsErrors(), c.shift);
    }
    SetShift(false);
}

TEST_F(ConverterForm, EmptyInputLeavesThePrompt) {
    form_->cmbFormat->SetItemIndex(1);
    form_->UpdateOutputFile();
    EXPECT_EQ(form_->OutputFile->Caption(), "Please select an input file first.");
    EXPECT_EQ(form_->OutputFile->Hint(), "");
}

TEST_F(ConverterForm, AutoConvertIsTheNegationOfTheHiddenBox) {
    EXPECT_FALSE(form_->cbAutoConvert->Visible());
    EXPECT_TRUE(form_->GetAutoConvert());
    form_->cbAutoConvert->SetChecked(true);
    EXPECT_FALSE(form_->GetAutoConvert());
}

TEST_F(ConverterForm, HideProgressReleasesTheWindowWhenItsMessageIsHandled) {
    form_->ShowProgress();
    ASSERT_TRUE(Form2);
    HWND progress = Form2->Handle();
    EXPECT_FALSE(IsWindowEnabled(form_->Handle()));
    EXPECT_EQ(GetWindow(progress, GW_OWNER), form_->Handle());
    EXPECT_EQ(Form2->ClientWidth(), 311);
    EXPECT_EQ(Form2->ClientHeight(), 59);
    form_->HideProgress();
    EXPECT_TRUE(IsWindowEnabled(form_->Handle()));
    EXPECT_EQ(Form2, nullptr);
    EXPECT_TRUE(IsWindow(progress)) << "released later, not at once";
    EXPECT_FALSE(IsWindowVisible(progress));
    Application->ProcessMessages();
    EXPECT_FALSE(IsWindow(progress));
}

TEST_F(ConverterForm, ProgressWindowGoesWithTheDialog) {
    form_->ShowProgress();
    ASSERT_TRUE(Form2);
    HWND progress = Form2->Handle();
    delete form_;
    form_ = nullptr;
    EXPECT_FALSE(IsWindow(progress));
    EXPECT_EQ(Form2, nullptr);
}

// While the window class "TForm2" is one whose windows refuse to be created, the progress
// window's creation fails the way a lack of resources would.
LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) return FALSE;
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterForm2Class(WNDPROC procedure) {
    UnregisterClassA("TForm2", GetModuleHandleA(nullptr));
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "TForm2";
    ASSERT_TRUE(RegisterClassExA(&wc));
}

TEST_F(ConverterForm, FailedProgressWindowLeavesTheDialogEnabled) {
    RegisterForm2Class(RefuseCreation);
    form_->InputFile->SetText("C:\\v\\clip.flv");
    EXPECT_THROW(form_->btnConvertClick(form_), Exception);
    EXPECT_TRUE(IsWindowEnabled(form_->Handle()));
    EXPECT_EQ(Form2, nullptr);
    EXPECT_THROW(form_->ShowProgress(), Exception);
    EXPECT_TRUE(IsWindowEnabled(form_->Handle()));
    EXPECT_EQ(Form2, nullptr);
    RegisterForm2Class(DefWindowProcA);
}

}  // namespace
