// Help | About: the About box's layout, its web link and the feedback mail through Simple MAPI.
#include <functional>

#include "tests/e2e/player_fixture.h"

namespace {

const char* const kWebSite = "http://www.corvelline.example/";
const char* const kSupport = "support@corvelline.example";
// The MAPI stand-in's compose window and its Send button.
const char* const kComposeClass = "MapiComposeStandIn";
const int kSendButton = 1;
// Wine's per-program choice between its own DLLs and those beside the program.
const char* const kPlayerDllOverrides = "Software\\Wine\\AppDefaults\\Velloscope.exe\\DllOverrides";

class AboutBoxTest : public player::PlayerTest {
protected:
    // Opens Help | About and waits for the box.
    HWND OpenAbout() {
        Menu({"&Help", "About"});
        HWND box = ui::WaitForWindow(program_.pid, "TAboutBox", nullptr, 5000);
        if (box) ui::Pause(400);
        return box;
    }
    static RECT ClientRectOf(HWND box, HWND child) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
};

TEST_F(AboutBoxTest, ShowsTheProductTextsAtTheirPlaces) {
    Start();
    HWND box = OpenAbout();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::WindowText(box), "About");
    SIZE client = ui::ClientSize(box);
    EXPECT_EQ(client.cx, 405);
    EXPECT_EQ(client.cy, 298);
    struct Text {
        const char* text;
        int left, top;
    } texts[] = {
        {"Corvelline Flash Player Version 1.1", 80, 112},
        {"Part of Corvelline Glimmerdeck", 80, 128},
        {"Copyright (C) 2005-2007 Corvelline Software", 80, 144},
        {"Website:", 80, 200},
        {kWebSite, 128, 200},
        {"Support:", 80, 216},
        {kSupport, 128, 216},
    };
    for (const Text& t : texts) {
        HWND label = ui::FindChild(box, "Static", t.text);
        ASSERT_NE(label, nullptr) << t.text;
        RECT r = ClientRectOf(box, label);
        EXPECT_EQ(r.left, t.left) << t.text;
        EXPECT_EQ(r.top, t.top) << t.text;
    }
    HWND ok = ui::FindChild(box, "Button", "OK");
    ASSERT_NE(ok, nullptr);
    RECT r = ClientRectOf(box, ok);
    EXPECT_EQ(r.left, 319);
    EXPECT_EQ(r.top, 260);
    EXPECT_EQ(r.right - r.left, 75);
    EXPECT_EQ(r.bottom - r.top, 25);
    EXPECT_EQ(GetWindowLongA(ok, GWL_STYLE) & 0x0F, BS_DEFPUSHBUTTON);
    EXPECT_FALSE(IsWindowEnabled(window_)) << "the About box is modal";
    Screenshot("about");

    ui::Click(ok);
    ui::Pause(400);
    EXPECT_FALSE(IsWindowVisible(box)) << "OK hides the box";
    EXPECT_TRUE(IsWindowEnabled(window_));
    EXPECT_EQ(OpenAbout(), box) << "the same box comes back";
    EXPECT_NE(ui::FindChild(box, "Static", kSupport), nullptr);
    PostMessageA(box, WM_CLOSE, 0, 0);
    ui::Pause(400);
    EXPECT_FALSE(IsWindowVisible(box)) << "the close button hides the box";
    EXPECT_TRUE(IsWindowEnabled(window_));
    EXPECT_EQ(OpenAbout(), box);
    PostMessageA(ok, WM_KEYDOWN, VK_RETURN, 0);  // Enter presses the default button
    ui::Pause(400);
    EXPECT_FALSE(IsWindowVisible(box)) << "Enter hides the box";
    EXPECT_TRUE(IsWindowEnabled(window_));
}

TEST_F(AboutBoxTest, WebLinkOpensTheWebSite) {
    ui::UrlRecorder browser;
    Start();
    HWND box = OpenAbout();
    ASSERT_NE(box, nullptr);
    ui::Click(ui::FindChild(box, "Static", kWebSite));
    std::string urls = browser.Recorded();
    EXPECT_NE(urls.find(kWebSite), std::string::npos) << urls;
    EXPECT_TRUE(NoMessageBox());
}

// The player in a folder of its own, with the chosen MAPI32.DLL (or none) beside it.
class FeedbackMail : public AboutBoxTest {
protected:
    void StartWithMailSystem(const std::string& mapiFolder, const std::string& answer) {
        for (const char* file : {"Velloscope.exe", "fvp.swf", "SteelExternalAll.swf"})
            CopyFileA((ui::BinFolder() + file).c_str(), (folder_ + file).c_str(), FALSE);
        DeleteFileA((folder_ + "MAPI32.DLL").c_str());
        if (!mapiFolder.empty())
            CopyFileA((ui::BinFolder() + "standins\\" + mapiFolder + "\\MAPI32.dll").c_str(),
                      (folder_ + "MAPI32.DLL").c_str(), FALSE);
        record_ = folder_ + "mapi.txt";
        DeleteFileA(record_.c_str());
        SetEnvironmentVariableA("MAPI_RECORD_FILE", record_.c_str());
        SetEnvironmentVariableA("MAPI_ANSWER", answer.c_str());
        // The player takes the DLL beside it, not Wine's own; without one, none at all.
        HKEY key;
        RegCreateKeyA(HKEY_CURRENT_USER, kPlayerDllOverrides, &key);
        const char* order = mapiFolder.empty() ? "" : "native";
        RegSetValueExA(key, "mapi32", 0, REG_SZ, reinterpret_cast<const BYTE*>(order), DWORD(strlen(order) + 1));
        RegCloseKey(key);
        Start("", folder_ + "Velloscope.exe");
    }
    void TearDown() override {
        AboutBoxTest::TearDown();
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Velloscope.exe");
        SetEnvironmentVariableA("MAPI_RECORD_FILE", nullptr);
        SetEnvironmentVariableA("MAPI_ANSWER", nullptr);
    }
    std::string Recorded() {
        std::ifstream in(record_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // How many messages the mail client was handed.
    int MailsStarted() {
        std::string text = Recorded();
        int count = 0;
        for (size_t at = text.find("session="); at != std::string::npos; at = text.find("session=", at + 1)) ++count;
        return count;
    }
    // Under Wine without a window manager, hiding a captioned window waits up to two seconds for
    // one: what follows a closing compose window comes that much later.
    static bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
        DWORD start = GetTickCount();
        while (!condition()) {
            if (static_cast<int>(GetTickCount() - start) > timeoutMs) return false;
            ui::Pause(100);
        }
        return true;
    }
    HWND WaitForCompose() { return ui::WaitForWindow(program_.pid, kComposeClass, nullptr, 5000); }
    int ComposeWindows() {
        int count = 0;
        for (HWND window : ui::TopLevelWindows(program_.pid))
            if (ui::ClassName(window) == kComposeClass) ++count;
        return count;
    }
    std::string record_;
};

TEST_F(FeedbackMail, SupportLinkHandsTheMessageToTheMailClient) {
    StartWithMailSystem("mapi", "0");
    HWND box = OpenAbout();
    ASSERT_NE(box, nullptr);
    ui::Click(ui::FindChild(box, "Static", kSupport));
    HWND compose = WaitForCompose();
    ASSERT_NE(compose, nullptr) << "no compose window";
    // The mail client's windows belong to the application's window, not to a form.
    EXPECT_EQ(Recorded(), std::string("session=0\nparent=TApplication\nflags=9\nreserved=0\n"
                                      "subject=Corvelline Flash Player Feed Back\nbody=(null)\noriginator=none\n"
                                      "recipients=1\nrecipient.class=1\nrecipient.name=") +
                              kSupport + "\nrecipient.address=SMTP:" + kSupport + "\nfiles=0\n");
    ui::PressButton(compose, kSendButton);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(compose); }));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(box) != FALSE; })) << "the About box takes input again";
    EXPECT_TRUE(NoMessageBox());
    EXPECT_TRUE(IsWindowVisible(box));
}

TEST_F(FeedbackMail, ASecondMailCannotStartWhileOneIsOpen) {
    StartWithMailSystem("mapi", "0");
    HWND box = OpenAbout();
    ASSERT_NE(box, nullptr);
    HWND support = ui::FindChild(box, "Static", kSupport);
    ASSERT_NE(support, nullptr);
    ui::Click(support);
    HWND compose = WaitForCompose();
    ASSERT_NE(compose, nullptr) << "no compose window";
    ui::Pause(500);
    EXPECT_FALSE(IsWindowEnabled(box)) << "the About box waits for the mail";
    EXPECT_FALSE(IsWindowEnabled(window_));
    // A user's real click on the support address again.
    RECT link{};
    GetWindowRect(support, &link);
    ASSERT_TRUE(ui::XClick((link.left + link.right) / 2, (link.top + link.bottom) / 2));
    ui::Pause(800);
    EXPECT_EQ(MailsStarted(), 1);
    EXPECT_EQ(ComposeWindows(), 1);
    Screenshot("about-mail");

    PostMessageA(compose, WM_CLOSE, 0, 0);  // the user cancels the mail
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(compose); }));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(box) != FALSE; })) << "the About box takes input again";
    EXPECT_EQ(ComposeWindows(), 0);
    EXPECT_TRUE(NoMessageBox()) << "a cancel shows nothing";
    EXPECT_TRUE(IsWindowVisible(box));
    EXPECT_FALSE(IsWindowEnabled(window_)) << "the About box is still modal";
    ui::Click(ui::FindChild(box, "Button", "OK"));
    ui::Pause(400);
    EXPECT_FALSE(IsWindowVisible(box));
    EXPECT_TRUE(IsWindowEnabled(window_));
    EXPECT_EQ(MailsStarted(), 1);
}

TEST_F(FeedbackMail, EveryFailureButACancelShowsTheMailError) {
    struct Case {
        const char* name;
        const char* mapiFolder;
        const char* answer;
        bool compose;  // the compose window shows, and the user closes it
        bool error;
    } cases[] = {
        {"compose window closed by the user", "mapi", "0", true, false},
        {"logon cancelled by the user", "mapi", "1", false, false},
        {"mail client error", "mapi", "2", false, true},
        {"login failure", "mapi", "3", false, true},
        {"DLL without MAPISendMail", "mapi-nosend", "0", false, true},
        {"no MAPI32.DLL at all", "", "0", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartWithMailSystem(c.mapiFolder, c.answer);
        HWND box = OpenAbout();
        ASSERT_NE(box, nullptr);
        ui::Click(ui::FindChild(box, "Static", kSupport));
        if (c.compose) {
            HWND compose = WaitForCompose();
            ASSERT_NE(compose, nullptr) << "no compose window";
            PostMessageA(compose, WM_CLOSE, 0, 0);
        }
        ui::MessageBoxInfo error = ui::WaitForMessageBox(program_.pid, c.error ? 5000 : 1500);
        if (c.error) {
            ASSERT_NE(error.window, nullptr);
            EXPECT_EQ(error.caption, "Corvelline Flash Player");
            EXPECT_EQ(error.text, "Error sending mail!");
            EXPECT_EQ(error.buttons, std::vector<std::string>{"OK"});
            EXPECT_TRUE(ui::MessageBoxShowsIcon(error.window, IDI_ERROR));
            ui::PressButton(error.window, IDOK);
        } else {
            EXPECT_EQ(error.window, nullptr) << error.text;
        }
        ui::Kill(program_);
    }
}

}  // namespace
