// Tools | Associate with .swf and .flv: the registry entries under the classes root, and a
// refused write.
#include "tests/e2e/player_fixture.h"

using player::PlayerTest;

namespace {
const char* const kSwfProgId = "ShockwaveFlash.ShockwaveFlash";
const char* const kFlvProgId = "FlashVideo.FlashVideo";

std::string ReadDefault(const std::string& key, bool* exists = nullptr) {
    char value[2048] = {0};
    DWORD size = sizeof(value);
    HKEY k;
    bool found = RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS;
    if (found) {
        found = RegQueryValueExA(k, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
        RegCloseKey(k);
    }
    if (exists) *exists = found;
    return found ? value : "";
}

bool KeyExists(const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// Takes away what an association writes, so that each test starts without it.
void RemoveAssociations() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".swf");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".flv");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kFlvProgId);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string(kSwfProgId) + "\\DefaultIcon").c_str());
    RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string(kSwfProgId) + "\\shell").c_str());
}

class PlayerAssociation : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        RemoveAssociations();
    }
    void TearDown() override {
        PlayerTest::TearDown();
        RemoveAssociations();
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kSwfProgId);
        player::RegisterStandIn();
    }
};
}  // namespace

TEST_F(PlayerAssociation, WritesTheKeysWithTheProgramPathUnquoted) {
    std::string dir = folder_ + "Program Files With Blanks\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string exe = dir + "Velloscope.exe";
    ASSERT_TRUE(CopyFileA((ui::BinFolder() + "Velloscope.exe").c_str(), exe.c_str(), FALSE));
    Start("", exe);
    Menu({"Tools", "Associate with .swf and .flv"});
    ui::Pause(500);
    EXPECT_TRUE(NoMessageBox());
    struct Expected {
        std::string key, value;
    } expected[] = {
        {".swf", kSwfProgId},
        {std::string(kSwfProgId) + "\\DefaultIcon", exe + ",0"},
        {std::string(kSwfProgId) + "\\shell\\open\\command", exe + " \"%1\""},
        {".flv", kFlvProgId},
        {std::string(kFlvProgId) + "\\DefaultIcon", exe + ",0"},
        {std::string(kFlvProgId) + "\\shell\\open\\command", exe + " \"%1\""},
    };
    for (const Expected& e : expected) {
        bool exists = false;
        EXPECT_EQ(ReadDefault(e.key, &exists), e.value) << e.key;
        EXPECT_TRUE(exists) << e.key;
    }
    bool flvDefault = true;
    ReadDefault(kFlvProgId, &flvDefault);
    EXPECT_TRUE(KeyExists(kFlvProgId));
    EXPECT_FALSE(flvDefault) << "the program identifier's key gets no value";
    // The control's own registration is kept beside the new entries.
    EXPECT_FALSE(ReadDefault(std::string(kSwfProgId) + "\\CLSID").empty());
}

TEST_F(PlayerAssociation, RefusedWriteShowsTheFailureOnceAndSkipsFlv) {
    Start();
    // Once the control runs, its key is replaced by a volatile one: no lasting subkey can be
    // made below it, so writing "DefaultIcon" is refused.
    std::string clsid = ReadDefault(std::string(kSwfProgId) + "\\CLSID");
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, kSwfProgId), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, kSwfProgId, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    Menu({"Tools", "Associate with .swf and .flv"});
    ui::MessageBoxInfo box = ui::WaitForMessageBox(program_.pid, 5000);
    ASSERT_NE(box.window, nullptr) << "no failure message";
    EXPECT_EQ(box.caption, "Corvelline Flash Player");
    EXPECT_EQ(box.text, "Failed to associate files!\rFile association requires administartor privilege.");
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(ui::MessageBoxShowsIcon(box.window, IDI_ERROR));
    ui::PressButton(box.window, IDOK);
    ui::Pause(300);
    EXPECT_TRUE(NoMessageBox()) << "the message came twice";
    EXPECT_EQ(ReadDefault(".swf"), kSwfProgId) << "what was written before the failure stays";
    EXPECT_FALSE(KeyExists(".flv"));
    EXPECT_FALSE(KeyExists(kFlvProgId));
}
