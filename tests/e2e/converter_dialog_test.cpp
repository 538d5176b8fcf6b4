// Convert's dialog as the user sees it: its layout, the Open dialog, the derived output path
// and the empty-input warning.
#include "tests/e2e/converter_fixture.h"

namespace {
using conv::ConverterTest;
using conv::Tool;

const char* const kPrompt = "Please select an input file first.";

struct Placement {
    const char* className;
    const char* text;              // nullptr: any
    int left, top, width, height;  // height -1: not checked
};

const Placement kPlacements[] = {
    {"TImage", nullptr, 0, 0, 408, 88},
    {"Edit", nullptr, 16, 120, 345, 21},
    {"Static", "Input:", 16, 104, -1, 13},
    {"Button", "...", 368, 120, 25, 21},
    {"Static", "Convert to:", 216, 159, -1, 13},
    {"ComboBox", nullptr, 280, 155, 81, -1},
    {"Static", "Output:", 16, 176, -1, 13},
    {"Static", kPrompt, 16, 192, 377, 17},
    {"Button", "Don't show this dialog again.", 16, 232, 193, 17},
    {"Button", "Convert", 240, 232, 75, 25},
    {"Button", "Exit", 320, 232, 75, 25},
};

RECT ClientRectOf(HWND child, HWND dialog) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST_F(ConverterTest, DialogFollowsItsLayout) {
    StartDialog();
    EXPECT_EQ(ui::WindowText(dialog_), "Corvelline Video Converter");
    std::string title;
    for (HWND window : ui::TopLevelWindows(program_.pid, false))
        if (ui::ClassName(window) == "TApplication") title = ui::WindowText(window);
    EXPECT_EQ(title, "Corvelline Video Converter") << "the application's title";
    SIZE client = ui::ClientSize(dialog_);
    EXPECT_EQ(client.cx, 408);
    EXPECT_EQ(client.cy, 270);
    LONG style = GetWindowLongA(dialog_, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME) << "not resizable";
    EXPECT_TRUE(style & WS_SYSMENU) << "has a close box";
    RECT work, window;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(dialog_, &window);
    EXPECT_NEAR((window.left + window.right) / 2, (work.left + work.right) / 2, 1) << "centred on the screen";
    EXPECT_NEAR((window.top + window.bottom) / 2, (work.top + work.bottom) / 2, 1);

    for (const Placement& p : kPlacements) {
        SCOPED_TRACE(std::string(p.className) + " " + (p.text ? p.text : ""));
        HWND child = ui::FindChild(dialog_, p.className, p.text);
        ASSERT_TRUE(child);
        RECT r = ClientRectOf(child, dialog_);
        EXPECT_EQ(r.left, p.left);
        EXPECT_EQ(r.top, p.top);
        if (p.width >= 0) {
            EXPECT_EQ(r.right - r.left, p.width);
        }
        if (p.height >= 0) {
            EXPECT_EQ(r.bottom - r.top, p.height);
        }
    }

    HWND edit = InputEdit();
    EXPECT_TRUE(GetWindowLongA(edit, GWL_STYLE) & ES_READONLY);
    EXPECT_FALSE(GetWindowLongA(edit, GWL_STYLE) & WS_TABSTOP);
    EXPECT_EQ(ui::WindowText(edit), "");
    HWND check = Button("Don't show this dialog again.");
    EXPECT_FALSE(IsWindowVisible(check));
    EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);

    HWND combo = Combo();
    EXPECT_EQ(GetWindowLongA(combo, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
    ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
    // Across processes the item text comes back intact only as wide text.
    wchar_t item[32];
    SendMessageW(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, L"AVI");
    SendMessageW(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, L"MPEG2");
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);

    // Tab order: the tab stops in window order.
    std::vector<std::string> tabStops;
    for (HWND c = GetWindow(dialog_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (GetWindowLongA(c, GWL_STYLE) & WS_TABSTOP) tabStops.push_back(ui::WindowText(c));
    EXPECT_EQ(tabStops, (std::vector<std::string>{"Convert", "...", "Exit", "AVI", "Don't show this dialog again."}));

    // The banner is drawn: its pixels are not the dialog's face colour.
    HWND banner = ui::FindChild(dialog_, "TImage", nullptr);
    HDC dc = GetDC(banner);
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    int painted = 0;
    for (int x = 4; x < 408; x += 50)
        for (int y = 4; y < 88; y += 20)
            if (GetPixel(dc, x, y) != face) ++painted;
    ReleaseDC(banner, dc);
    EXPECT_GT(painted, 30);

    ui::RunHostCommand("import -window root '" + ui::UnixPath(ui::BinFolder() + "..\\screenshot-Convert-dialog.png") +
                       "'");
    EXPECT_EQ(Exit(), 0u);
    EXPECT_FALSE(conv::GlimmerdeckKeyExists()) << "no argument: no registry value written";
}

// The Open dialog's control ids in the system's template.
const int kFileTypeCombo = 0x470, kFileNameCombo = 0x47C, kFileNameEdit = 0x480;

HWND WaitForOpenDialog(DWORD pid) {
    HWND open = ui::WaitForWindow(pid, "#32770", nullptr, 10000);
    ui::Pause(700);
    return open;
}

TEST_F(ConverterTest, OutputFollowsInputFromTheOpenDialogAndTheFormat) {
    std::string input = dataDir_ + "picked.flv";
    conv::WriteFile(input, "flv");
    StartDialog();
    SelectFormat(1);
    EXPECT_EQ(OutputText(), kPrompt) << "no input yet: the prompt stays";

    Click("...");
    HWND open = WaitForOpenDialog(program_.pid);
    ASSERT_TRUE(open);
    EXPECT_EQ(ui::WindowText(GetDlgItem(open, kFileTypeCombo)), "Flash Video Files (*.flv)");
    ui::PressButton(open, IDCANCEL);
    ui::Pause(500);
    EXPECT_EQ(ui::WindowText(InputEdit()), "") << "cancel changes nothing";
    EXPECT_EQ(OutputText(), kPrompt);

    Click("...");
    open = WaitForOpenDialog(program_.pid);
    ASSERT_TRUE(open);
    HWND name = GetDlgItem(open, kFileNameCombo);
    if (!name) name = GetDlgItem(open, kFileNameEdit);
    ASSERT_TRUE(name);
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(input.c_str()));
    ui::PressButton(open, IDOK);
    ui::Pause(800);
    EXPECT_EQ(ui::WindowText(InputEdit()), input);
    EXPECT_EQ(OutputText(), dataDir_ + "picked.mpg");
    SelectFormat(0);
    EXPECT_EQ(OutputText(), dataDir_ + "picked.avi") << "a format change shows at once";
    EXPECT_EQ(Exit(), 0u);
}

TEST_F(ConverterTest, EmptyInputShowsOnlyTheWarning) {
    UseTool(Tool::Recorder);
    StartDialog();
    Click("Convert");
    ui::MessageBoxInfo box = ui::WaitForMessageBox(program_.pid, 10000);
    ASSERT_TRUE(box.window);
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.text, "Please specify an input video file.");
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(ui::MessageBoxShowsIcon(box.window, IDI_WARNING));
    EXPECT_FALSE(AnyProgressWindow()) << "no progress window";
    ui::PressButton(box.window, IDOK);
    ui::Pause(800);
    EXPECT_TRUE(Calls().empty()) << "nothing started";
    EXPECT_FALSE(AnyProgressWindow());
    EXPECT_TRUE(IsWindowEnabled(dialog_));
    EXPECT_EQ(Exit(), 0u);
}

}  // namespace
