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
        if (c.params) EXPECT_EQ(form_->GetConvertParams(), c.params);
        form_->UpdateOutputFile();
        EXPECT_EQ(form_->OutputFile->Caption(), c.output);
        EXPECT_EQ(form_->OutputFile->Hint(), c.output);
    }
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

// A window class "TForm2" registered first, whose windows refuse to be created, makes the
// progress window's creation fail the way a lack of resources would.
LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) return FALSE;
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(ConverterForm, FailedProgressWindowLeavesTheDialogEnabled) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = RefuseCreation;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TForm2";
    ASSERT_TRUE(RegisterClassExA(&wc));
    form_->InputFile->SetText("C:\\v\\clip.flv");
    EXPECT_THROW(form_->btnConvertClick(form_), Exception);
    EXPECT_TRUE(IsWindowEnabled(form_->Handle()));
    EXPECT_EQ(Form2, nullptr);
    EXPECT_THROW(form_->ShowProgress(), Exception);
    EXPECT_TRUE(IsWindowEnabled(form_->Handle()));
    EXPECT_EQ(Form2, nullptr);
    UnregisterClassA("TForm2", GetModuleHandleA(nullptr));
}

}  // namespace
