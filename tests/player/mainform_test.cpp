// The real main window, built in this process: its menu tree, captions and shortcuts, the
// entries' handlers, the stored sizes and the Open dialog's filter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/forms.h"
#include "classlib/menus.h"
#include "player/mainform.h"
#include "tests/player/flash_standin.h"

namespace {

// The menu a user sees: one line per entry, as the window menu shows it (caption, then a tab
// and the shortcut's text when there is one); "-" for a separator.
struct Entry {
    const char* shown;
    TShortCut shortCut;
};
struct Popup {
    const char* caption;
    std::vector<Entry> entries;
};
const std::vector<Popup> kMenu = {
    {"File", {{"Open...\tCtrl+O", 16463}, {"-", 0}, {"Exit", 0}}},
    {"View", {{"Original Size\tCtrl+1", 16433}, {"Double Size\tCtrl+2", 16434}}},
    {"Tools", {{"Associate with .swf and .flv", 0}}},
    {"Help", {{"About", 0}}},
};

std::string MenuText(HMENU menu, int position) {
    char text[256] = {0};
    GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof(text), MF_BYPOSITION);
    return text;
}

class PlayerMainForm : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(standin::RegisterFlashStandIn()); }
    void SetUp() override {
        Application->Initialize();
        // The form plays its first program argument; this test program's own arguments are not
        // files, so it is built with the command line cut after the program name.
        char* line = GetCommandLineA();
        savedLine_ = line;
        const char* p = line;
        if (*p == '"') {
            for (++p; *p && *p != '"'; ++p) {
            }
            if (*p) ++p;
        } else {
            while (*p && *p != ' ') ++p;
        }
        line[p - line] = '\0';
        form_ = new TForm1(Application);
        std::copy(savedLine_.begin(), savedLine_.end(), line);
        form_->Show();
        Application->ProcessMessages();
    }
    void TearDown() override {
        delete form_;
        Application->ProcessMessages();
    }
    HMENU Bar() { return GetMenu(form_->Handle()); }
    void Command(TMenuItem* item) {
        SendMessageA(form_->Handle(), WM_COMMAND, MAKEWPARAM(item->Command(), 0), 0);
        Application->ProcessMessages();
    }
    SIZE Client() { return SIZE{form_->ClientWidth(), form_->ClientHeight()}; }

    std::string savedLine_;
    TForm1* form_ = nullptr;
};

}  // namespace

TEST_F(PlayerMainForm, MenuTreeCaptionsAndShortcuts) {
    HMENU bar = Bar();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(GetMenuItemCount(bar), static_cast<int>(kMenu.size()));
    for (size_t i = 0; i < kMenu.size(); ++i) {
        const Popup& popup = kMenu[i];
        EXPECT_EQ(MenuText(bar, static_cast<int>(i)), popup.caption);
        HMENU sub = GetSubMenu(bar, static_cast<int>(i));
        ASSERT_NE(sub, nullptr) << popup.caption;
        ASSERT_EQ(GetMenuItemCount(sub), static_cast<int>(popup.entries.size())) << popup.caption;
        for (size_t k = 0; k < popup.entries.size(); ++k) {
            const Entry& entry = popup.entries[k];
            int position = static_cast<int>(k);
            if (std::string(entry.shown) == "-") {
                EXPECT_TRUE(GetMenuState(sub, position, MF_BYPOSITION) & MF_SEPARATOR) << popup.caption << " " << k;
                continue;
            }
            EXPECT_EQ(MenuText(sub, position), entry.shown);
            // The window menu's command leads to an item with that shortcut, and the shortcut
            // leads back to the same item.
            TMenuItem* item = form_->MainMenu1->FindCommand(static_cast<WORD>(GetMenuItemID(sub, position)));
            ASSERT_NE(item, nullptr) << entry.shown;
            EXPECT_EQ(item->ShortCut, entry.shortCut) << entry.shown;
            if (entry.shortCut) {
                EXPECT_EQ(form_->MainMenu1->FindShortCut(entry.shortCut), item) << entry.shown;
            }
        }
    }
}

TEST_F(PlayerMainForm, EntriesAreTheNamedFields) {
    struct Case {
        int popup, position;
        TMenuItem* TForm1::*field;
    } cases[] = {
        {0, 0, &TForm1::Open1},
        {0, 2, &TForm1::Exit1},
        {1, 0, &TForm1::OriginalSize1},
        {1, 1, &TForm1::DoubleSize1},
        {2, 0, &TForm1::Associatewithflvandswf1},
        {3, 0, &TForm1::About1},
    };
    for (const Case& c : cases) {
        HMENU sub = GetSubMenu(Bar(), c.popup);
        TMenuItem* item = form_->*c.field;
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(GetMenuItemID(sub, c.position), item->Command()) << item->Caption;
        EXPECT_TRUE(static_cast<bool>(item->OnClick)) << item->Caption;
    }
    EXPECT_EQ(form_->File1->Caption, "File");
    EXPECT_EQ(form_->View1->Caption, "View");
    EXPECT_EQ(form_->Help1->Caption, "Help");
}

TEST_F(PlayerMainForm, ViewEntriesAndTheirShortcutsSizeTheClientArea) {
    // Nothing played: the frame is 320 x 240; the status bar is 19 high.
    struct Case {
        const char* how;
        bool byShortcut;
        TMenuItem* TForm1::*field;
        int width, height;
    } cases[] = {
        {"Double Size", false, &TForm1::DoubleSize1, 640, 499},
        {"Original Size", false, &TForm1::OriginalSize1, 320, 259},
        {"Ctrl+2", true, &TForm1::DoubleSize1, 640, 499},
        {"Ctrl+1", true, &TForm1::OriginalSize1, 320, 259},
    };
    for (const Case& c : cases) {
        TMenuItem* item = form_->*c.field;
        if (c.byShortcut) {
            BYTE keys[256] = {0};
            keys[VK_CONTROL] = 0x80;
            SetKeyboardState(keys);
            MSG msg{form_->Handle(), WM_KEYDOWN, static_cast<WPARAM>(item->ShortCut & 0xFF), 0, 0, {0, 0}};
            EXPECT_TRUE(form_->MainMenu1->IsShortCut(msg)) << c.how;
            keys[VK_CONTROL] = 0;
            SetKeyboardState(keys);
        } else {
            Command(item);
        }
        SIZE client = Client();
        EXPECT_EQ(client.cx, c.width) << c.how;
        EXPECT_EQ(client.cy, c.height) << c.how;
    }
}

TEST_F(PlayerMainForm, StoredSizesCaptionAndOpenFilter) {
    RECT outer;
    GetWindowRect(form_->Handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, 556);
    EXPECT_EQ(outer.bottom - outer.top, 471);
    EXPECT_EQ(form_->Flash1->Width(), 548);
    EXPECT_EQ(form_->Flash1->Height(), 406);
    EXPECT_EQ(form_->StatusBar1->Height(), 19);
    EXPECT_TRUE(form_->StatusBar1->SimplePanel());
    EXPECT_EQ(form_->Caption(), "Corvelline Flash Player");
    EXPECT_EQ(form_->OpenDialog1->Filter,
              "Flash file (*.swf;*.flv)|*.swf;*.flv|Flash movie (*.swf)|*.swf|Flash video (*.flv)|*.flv");
    EXPECT_EQ(form_->OpenDialog1->FilterIndex, 1);
    EXPECT_EQ(FrameWidth, 320);
    EXPECT_EQ(FrameHeight, 240);
    EXPECT_FALSE(FlvMode);
}
