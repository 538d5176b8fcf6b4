// The player's start without a usable Flash control: the install prompt and nothing else.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/e2e/uidriver.h"

namespace {

const char* const kPromptText =
    "A required component, Adobe Flash player 8 or higher, is not installed.\r\r"
    "Click Yes to install it immediately.\rOr click No to close this application.";
const char* const kFlashProgId = "ShockwaveFlash.ShockwaveFlash";
const char* const kBackupKey = "Software\\CorvellineTests\\SavedFlashProgId";
// Takes the Flash control's registration away for the test and routes http addresses to
// a recorder; both are put back afterwards.
class PlayerWithoutFlash : public ::testing::Test {
protected:
    void SetUp() override {
        HKEY key;
        hadFlash_ = RegOpenKeyExA(HKEY_CLASSES_ROOT, kFlashProgId, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (hadFlash_) {
            RegCloseKey(key);
            HKEY backup;
            RegCreateKeyA(HKEY_CURRENT_USER, kBackupKey, &backup);
            HKEY source;
            RegOpenKeyExA(HKEY_CLASSES_ROOT, kFlashProgId, 0, KEY_READ, &source);
            RegCopyTreeA(source, nullptr, backup);
            RegCloseKey(source);
            RegCloseKey(backup);
            RegDeleteTreeA(HKEY_CLASSES_ROOT, kFlashProgId);
        }
    }
    void TearDown() override {
        ui::Kill(player_);
        if (hadFlash_) {
            HKEY restored, backup;
            RegCreateKeyA(HKEY_CLASSES_ROOT, kFlashProgId, &restored);
            RegOpenKeyExA(HKEY_CURRENT_USER, kBackupKey, 0, KEY_READ, &backup);
            RegCopyTreeA(backup, nullptr, restored);
            RegCloseKey(backup);
            RegCloseKey(restored);
            RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\CorvellineTests");
        }
    }

    // Answers the prompt with button and watches that no main window shows up meanwhile.
    void AnswerPrompt(int button) {
        player_ = ui::Start(ui::BinFolder() + "Velloscope.exe");
        ASSERT_NE(player_.process, nullptr);
        ui::MessageBoxInfo box = ui::WaitForMessageBox(player_.pid, 15000);
        ASSERT_NE(box.window, nullptr) << "no install prompt";
        EXPECT_EQ(box.caption, "Corvelline Flash Player");
        EXPECT_EQ(box.text, kPromptText);
        EXPECT_EQ(box.buttons, (std::vector<std::string>{"&Yes", "&No"}));
        EXPECT_TRUE(ui::MessageBoxShowsIcon(box.window, IDI_WARNING));
        EXPECT_FALSE(ui::MessageBoxShowsIcon(box.window, IDI_ERROR));
        EXPECT_TRUE(NoMainWindow());
        ui::PressButton(box.window, button);
        DWORD exitCode = 99;
        ASSERT_TRUE(ui::WaitForExit(player_, 15000, &exitCode)) << "the player did not end";
        EXPECT_EQ(exitCode, 0u);
    }

    bool NoMainWindow() {
        for (HWND w : ui::TopLevelWindows(player_.pid, false))
            if (ui::ClassName(w) == "TForm1") return false;
        return true;
    }

    ui::UrlRecorder browser_;
    ui::Program player_;
    bool hadFlash_ = false;
};

}  // namespace

TEST_F(PlayerWithoutFlash, NoEndsTheProgramWithoutOpeningAnything) {
    AnswerPrompt(IDNO);
    ui::Pause(1500);
    EXPECT_TRUE(browser_.NothingRecorded()) << "a browser was started";
}

TEST_F(PlayerWithoutFlash, YesOpensTheDownloadPageAndEnds) {
    AnswerPrompt(IDYES);
    std::string urls = browser_.Recorded();
    EXPECT_NE(urls.find("/shockwave/download/index.cgi?P1_Prod_Version=ShockwaveFlash"), std::string::npos) << urls;
    EXPECT_EQ(urls.rfind("http://", 1), 1u) << urls;  // recorded as "\"http://...\""
}

TEST_F(PlayerWithoutFlash, TooOldAControlPromptsLikeAMissingOne) {
    // A registered control whose file carries version 7.
    const char* clsid = "{5E1A0F2D-7C3B-4D9A-8E6F-102030405060}";
    std::string file = ui::BinFolder() + "..\\tests\\routines\\fakeflash7.dll";
    std::string progIdKey = std::string(kFlashProgId) + "\\CLSID";
    std::string serverKey = std::string("CLSID\\") + clsid + "\\InprocServer32";
    RegSetValueA(HKEY_CLASSES_ROOT, progIdKey.c_str(), REG_SZ, clsid, DWORD(strlen(clsid)));
    RegSetValueA(HKEY_CLASSES_ROOT, serverKey.c_str(), REG_SZ, file.c_str(), DWORD(file.size()));
    AnswerPrompt(IDNO);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + clsid).c_str());
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kFlashProgId);
}
