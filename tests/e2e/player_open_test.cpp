// File | Open...: the common dialog, as a user fills it in.
#include "tests/e2e/player_fixture.h"

using player::MoviePuts;
using player::PlayerTest;
using player::SwfBytes;

namespace {

const int kFileNameEdit = 0x047C;  // the file-name combo of the common Open dialog

class PlayerOpen : public PlayerTest {
protected:
    HWND OpenDialog() {
        Menu({"&File", "Open..."});
        return ui::WaitForWindow(program_.pid, "#32770", nullptr, 8000);
    }
    // Types path into the dialog's file-name field and presses its Open button.
    void Choose(HWND dialog, const std::string& path) {
        HWND name = GetDlgItem(dialog, kFileNameEdit);
        HWND edit = name ? ui::FindChild(name, "Edit", nullptr) : nullptr;
        if (!edit) edit = ui::FindChild(dialog, "Edit", nullptr);
        ASSERT_NE(edit, nullptr);
        SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        ui::PressButton(dialog, IDOK);
        ui::Pause(600);
    }
};

}  // namespace

TEST_F(PlayerOpen, ChosenMovieIsPlayed) {
    std::string movie = Fixture("chosen.swf", SwfBytes(400, 300, 0x204060));
    Start();
    HWND dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr) << "no Open dialog";
    Choose(dialog, movie);
    EXPECT_TRUE(WaitForClient(400, 319));
    EXPECT_EQ(Status(), "Frame Size: 400 x 300");
    EXPECT_EQ(Caption(), "chosen.swf - Corvelline Flash Player");
    EXPECT_EQ(LogLines({"put "}), MoviePuts("0x204060", movie));
}

TEST_F(PlayerOpen, CancelChangesNothing) {
    Start();
    SIZE before = Client();
    std::string caption = Caption();
    HWND dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr) << "no Open dialog";
    ui::PressButton(dialog, IDCANCEL);
    ui::Pause(600);
    EXPECT_FALSE(IsWindow(dialog) && IsWindowVisible(dialog));
    EXPECT_EQ(Client().cx, before.cx);
    EXPECT_EQ(Client().cy, before.cy);
    EXPECT_EQ(Caption(), caption);
    EXPECT_TRUE(LogLines({"put "}).empty());
    EXPECT_TRUE(NoMessageBox());
}
