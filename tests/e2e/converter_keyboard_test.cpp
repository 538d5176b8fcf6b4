// Convert from the keyboard: Convert has the focus when the dialog comes up and again after each
// conversion, so that Enter or Space starts one; and Alt+F4 does not close the progress window
// while the tool runs.
#include "tests/e2e/converter_fixture.h"

namespace {
using conv::ConverterTest;
using conv::Tool;

// The window that has the keyboard focus in the thread that owns window.
HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

// Keys reach the window under the pointer: it rests on the banner, away from every control.
void PressKeysOnDialog(HWND dialog, const std::string& keys) {
    RECT r;
    GetWindowRect(dialog, &r);
    ASSERT_TRUE(ui::XMovePointer(r.left + 60, r.top + 60));
    ui::Pause(200);
    ASSERT_TRUE(ui::XKeys(keys));
}

TEST_F(ConverterTest, ConvertHasTheFocusAtStartAndAfterEachConversion) {
    UseTool(Tool::Recorder);
    std::string input = dataDir_ + "keys.flv";
    conv::WriteVideo(input);
    StartDialog(Quoted(input));
    HWND convert = Button("Convert");
    ASSERT_TRUE(convert);
    EXPECT_EQ(FocusOf(dialog_), convert) << "at start";
    ui::RunHostCommand("import -window root '" + ui::UnixPath(ui::BinFolder() + "..\\screenshot-Convert-focus.png") +
                       "'");

    const char* const keys[] = {"Return", "space", "Return"};
    for (size_t i = 0; i < std::size(keys); ++i) {
        SCOPED_TRACE(keys[i]);
        PressKeysOnDialog(dialog_, keys[i]);
        ASSERT_TRUE(WaitForCalls(i + 1, 10000)) << "the key started no conversion";
        ASSERT_TRUE(WaitUntilIdle(10000));
        EXPECT_EQ(Calls().size(), i + 1) << "one conversion per key";
        EXPECT_EQ(FocusOf(dialog_), convert) << "after the conversion";
    }
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window);
    EXPECT_EQ(Exit(), 0u);
}

// After a message box (the empty-input warning) the focus is where it was: on Exit here.
TEST_F(ConverterTest, FocusComesBackToItsControlAfterAMessage) {
    UseTool(Tool::Recorder);
    StartDialog();
    HWND exit = Button("Exit");
    PressKeysOnDialog(dialog_, "Tab Tab");
    ASSERT_EQ(FocusOf(dialog_), exit) << "Tab moves Convert, ..., Exit";
    Click("Convert");
    ui::MessageBoxInfo box = ui::WaitForMessageBox(program_.pid, 10000);
    ASSERT_TRUE(box.window);
    ui::PressButton(box.window, IDOK);
    ASSERT_TRUE(WaitUntilIdle(10000));
    ui::Pause(300);
    EXPECT_EQ(FocusOf(dialog_), exit);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(Exit(), 0u);
}

TEST_F(ConverterTest, AltF4LeavesTheProgressWindowWhileTheToolRuns) {
    HWND progress = StartSlowConversion(dataDir_ + "close.flv", 4000);
    ASSERT_TRUE(progress);
    RECT r;
    GetWindowRect(progress, &r);
    ASSERT_TRUE(ui::XMovePointer((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    ui::Pause(500);
    ASSERT_TRUE(ui::XKeys("alt+F4"));
    ui::Pause(500);
    EXPECT_TRUE(IsWindow(progress) && IsWindowVisible(progress)) << "the progress window was closed";
    EXPECT_FALSE(IsWindowEnabled(dialog_)) << "the dialog took input while the tool runs";
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutA(progress, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, ui::kAnswerTimeoutMs, &result));
    EXPECT_TRUE(IsWindow(progress) && IsWindowVisible(progress)) << "WM_CLOSE closed the progress window";
    ASSERT_TRUE(WaitUntilIdle(15000));
    EXPECT_EQ(conv::ReadFile(dataDir_ + "close.avi"), "converted by the ffmpeg stand-in\n");
    EXPECT_FALSE(IsWindow(progress)) << "released after the conversion";
    EXPECT_TRUE(IsWindowVisible(dialog_));
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window);
    EXPECT_EQ(Exit(), 0u);
}

}  // namespace
