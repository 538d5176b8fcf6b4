// The main window as it first shows, its keyboard shortcuts and the Open dialog's file types,
// reached through real input (the menu itself is clicked by every test that uses Menu()).
#include "tests/e2e/player_fixture.h"

namespace {

const int kFileTypeCombo = 0x0470;  // the file-type combo of the common Open dialog

class PlayerMenu : public player::PlayerTest {
protected:
    HWND WaitForOpenDialog() { return ui::WaitForWindow(program_.pid, "#32770", nullptr, 8000); }

    // The file-type entries a user can pick in the dialog, and the one shown.
    static std::vector<std::string> FileTypes(HWND dialog, int* selected) {
        HWND combo = GetDlgItem(dialog, kFileTypeCombo);
        std::vector<std::string> types;
        if (!combo) return types;
        int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            // The dialog's controls are Unicode ones; their text comes back wide across processes.
            wchar_t text[256] = {0};
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            char narrow[256] = {0};
            WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
            types.push_back(narrow);
        }
        *selected = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
        return types;
    }
};

}  // namespace

TEST_F(PlayerMenu, WindowAndControlShowAtTheirStoredSizes) {
    Start();
    SIZE outer = ui::WindowSize(window_);
    EXPECT_EQ(outer.cx, 556);
    EXPECT_EQ(outer.cy, 471);
    HWND control = StandInWindow();
    ASSERT_NE(control, nullptr);
    SIZE area = ui::ClientSize(control);
    EXPECT_EQ(area.cx, 548);
    EXPECT_EQ(area.cy, 406);
    EXPECT_EQ(Caption(), "Corvelline Flash Player");
}

TEST_F(PlayerMenu, ShortcutsRunTheirEntries) {
    Start();
    struct Case {
        const char* keys;
        int width, height;  // the client area after: 320 x 240 before any file, status bar 19
    } cases[] = {{"ctrl+2", 640, 499}, {"ctrl+1", 320, 259}, {"ctrl+2", 640, 499}};
    for (const Case& c : cases) {
        KeysOverWindow(c.keys);
        EXPECT_TRUE(WaitForClient(c.width, c.height)) << c.keys;
    }
    KeysOverWindow("2");
    KeysOverWindow("shift+ctrl+1");
    EXPECT_TRUE(WaitForClient(640, 499)) << "a key without its modifiers, or with one more, runs nothing";
    KeysOverWindow("ctrl+o");
    HWND dialog = WaitForOpenDialog();
    ASSERT_NE(dialog, nullptr) << "Ctrl+O opens no dialog";
    ui::PressButton(dialog, IDCANCEL);
    ui::Pause(400);
    EXPECT_TRUE(LogLines({"put ", "call "}).empty());
}

TEST_F(PlayerMenu, OpenDialogOffersTheThreeFlashFileTypes) {
    Start();
    Menu({"File", "Open..."});
    HWND dialog = WaitForOpenDialog();
    ASSERT_NE(dialog, nullptr) << "File | Open... opens no dialog";
    ui::Pause(400);
    int selected = -1;
    std::vector<std::string> expected = {"Flash file (*.swf;*.flv)", "Flash movie (*.swf)", "Flash video (*.flv)"};
    EXPECT_EQ(FileTypes(dialog, &selected), expected);
    EXPECT_EQ(selected, 0) << "both kinds are offered first";
    ui::PressButton(dialog, IDCANCEL);
}
