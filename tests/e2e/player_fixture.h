// What the player's black-box tests share: the Flash control stand-in registered in the
// prefix, its log, small movie and video files, and the player's window as a user sees it.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/uidriver.h"
#include "tests/support/swfbuilder.h"

namespace player {

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// An uncompressed movie of width x height pixels with a SetBackgroundColor tag. Its RECT's
// fields are as wide as the larger side in twips needs, with its sign bit.
inline std::vector<uint8_t> SwfBytes(int width, int height, uint32_t rgb) {
    using namespace swftest;
    const int64_t largest = int64_t(std::max(width, height)) * 20;
    int bits = 1;
    while ((int64_t(1) << (bits - 1)) <= largest) ++bits;
    const auto background = BackgroundTag(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb));
    return Fws(Body(Rect(bits, 0, width * 20, 0, height * 20), background));
}

inline void PutBigEndian(std::vector<uint8_t>& out, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline std::vector<uint8_t> FlvTag(uint8_t type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> tag{type};
    PutBigEndian(tag, static_cast<uint32_t>(data.size()), 3);
    PutBigEndian(tag, 0, 7);
    tag.insert(tag.end(), data.begin(), data.end());
    PutBigEndian(tag, static_cast<uint32_t>(data.size() + 11), 4);
    return tag;
}

inline std::vector<uint8_t> FlvHeader() {
    std::vector<uint8_t> file{'F', 'L', 'V', 1, 5};
    PutBigEndian(file, 9, 4);
    PutBigEndian(file, 0, 4);
    return file;
}

inline void PutAmfNumber(std::vector<uint8_t>& out, const std::string& name, double value) {
    PutBigEndian(out, static_cast<uint32_t>(name.size()), 2);
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
    uint64_t bits;
    memcpy(&bits, &value, 8);
    for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

// A video whose size is told by its onMetaData tag.
inline std::vector<uint8_t> FlvWithMetaData(int width, int height) {
    std::vector<uint8_t> meta{2, 0, 10};
    std::string name = "onMetaData";
    meta.insert(meta.end(), name.begin(), name.end());
    meta.push_back(8);
    PutBigEndian(meta, 3, 4);
    PutAmfNumber(meta, "duration", 1.5);
    PutAmfNumber(meta, "width", width);
    PutAmfNumber(meta, "height", height);
    PutBigEndian(meta, 9, 3);
    std::vector<uint8_t> file = FlvHeader();
    auto tag = FlvTag(18, meta);
    file.insert(file.end(), tag.begin(), tag.end());
    return file;
}

// A video without metadata whose first video tag is a Sorenson H.263 key frame.
inline std::vector<uint8_t> FlvWithH263Frame(int width, int height) {
    swftest::BitWriter bits;
    bits.Put(1, 17);  // picture start code
    bits.Put(0, 5);
    bits.Put(0, 8);
    bits.Put(1, 3);  // 16-bit width and height follow
    bits.Put(static_cast<uint32_t>(width), 16);
    bits.Put(static_cast<uint32_t>(height), 16);
    bits.Put(0, 16);
    std::vector<uint8_t> data{0x12};
    data.insert(data.end(), bits.bytes.begin(), bits.bytes.end());
    std::vector<uint8_t> file = FlvHeader();
    auto tag = FlvTag(9, data);
    file.insert(file.end(), tag.begin(), tag.end());
    return file;
}

inline std::string TempFolder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return temp;
}

// Registers the stand-in the way regsvr32 does.
inline bool RegisterStandIn() {
    HMODULE dll = LoadLibraryA((ui::BinFolder() + "flashctl.dll").c_str());
    if (!dll) return false;
    auto doRegister = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(dll, "DllRegisterServer"));
    bool ok = doRegister && SUCCEEDED(doRegister());
    FreeLibrary(dll);
    return ok;
}

// Reads a simple status bar's text from the player's process.
inline std::string StatusBarText(HWND bar, DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return "<no process>";
    const SIZE_T size = 1024;
    void* remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    std::string text;
    if (remote) {
        // A simple bar answers for its one text as part 0.
        WPARAM part = 0;
        DWORD_PTR result = 0;
        SendMessageTimeoutA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, ui::kAnswerTimeoutMs,
                            &result);
        char buffer[1024] = {0};
        SIZE_T got = 0;
        ReadProcessMemory(process, remote, buffer, size - 1, &got);
        text = buffer;
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return text;
}

// A child whose class name ends in suffix: with themed common controls the classes carry a
// version prefix.
inline HWND FindChildByClassSuffix(HWND parent, const std::string& suffix) {
    struct Search {
        const std::string* suffix;
        HWND found;
    } search{&suffix, nullptr};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM data) WINAPI -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            std::string name = ui::ClassName(child);
            if (name.size() >= s->suffix->size() &&
                name.compare(name.size() - s->suffix->size(), s->suffix->size(), *s->suffix) == 0) {
                s->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Posts WM_DROPFILES with a drop handle built in the player's own memory, as the shell does.
inline bool DropFiles(HWND window, DWORD pid, const std::vector<std::string>& files) {
    std::vector<uint8_t> block(sizeof(DROPFILES), 0);
    auto* header = reinterpret_cast<DROPFILES*>(block.data());
    header->pFiles = sizeof(DROPFILES);
    header->pt = POINT{10, 10};
    header->fNC = FALSE;
    header->fWide = FALSE;
    for (const std::string& f : files) {
        block.insert(block.end(), f.begin(), f.end());
        block.push_back(0);
    }
    block.push_back(0);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return false;
    void* remote = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT, PAGE_READWRITE);
    bool ok = remote && WriteProcessMemory(process, remote, block.data(), block.size(), nullptr);
    CloseHandle(process);
    return ok && PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
}

// Hands the stand-in a request to raise as the movie's FlashCall event.
inline bool SendFlashCall(HWND standIn, const std::wstring& request) {
    COPYDATASTRUCT data{0x464C, static_cast<DWORD>(request.size() * sizeof(wchar_t)),
                        const_cast<wchar_t*>(request.data())};
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(standIn, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                               ui::kAnswerTimeoutMs, &result) &&
           result;
}

// One step of a run of window sizes: a file to open (a movie, or a video, of width x height)
// or keys to press, and the client area it gives, 0 x 0 for a size the window cannot take.
struct SizeStep {
    int width, height;
    const char* keys;
    int clientWidth, clientHeight;
};
struct SizeRun {
    const char* name;
    std::vector<SizeStep> steps;
};

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(RegisterStandIn()) << "flashctl.dll could not be registered";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = TempFolder() + "player_" + info->test_suite_name() + "_" + info->name() + "\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
        log_ = folder_ + "flashctl.log";
        DeleteFileA(log_.c_str());
        SetEnvironmentVariableA("FLASHCTL_LOG", log_.c_str());
    }
    void TearDown() override {
        ui::Kill(program_);
        SetEnvironmentVariableA("FLASHCTL_LOG", nullptr);
    }

    std::string Fixture(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = folder_ + name;
        WriteBytes(path, bytes);
        return path;
    }

    // Starts the player with args and waits for its main window to take input.
    void Start(const std::string& args = "", const std::string& exe = "") {
        StartOnly(args, exe);
        window_ = ui::WaitForWindow(program_.pid, "TForm1", nullptr, 15000);
        ASSERT_NE(window_, nullptr) << "no main window";
        ui::Pause(600);
    }

    // Starts the player without waiting for its window (a message box may come first).
    void StartOnly(const std::string& args = "", const std::string& exe = "") {
        program_ = ui::Start(exe.empty() ? ui::BinFolder() + "Velloscope.exe" : exe, args, folder_);
        ASSERT_NE(program_.process, nullptr);
    }
    // The main window once it shows.
    void WaitForMainWindow() {
        window_ = ui::WaitForWindow(program_.pid, "TForm1", nullptr, 15000);
        ASSERT_NE(window_, nullptr) << "no main window";
        ui::Pause(600);
    }

    std::string Status() { return StatusBarText(FindChildByClassSuffix(window_, "msctls_statusbar32"), program_.pid); }
    SIZE Client() { return ui::ClientSize(window_); }
    std::string Caption() { return ui::WindowText(window_); }
    HWND StandInWindow() { return ui::FindChild(window_, "FlashStandIn", nullptr); }

    // The player's menu as a user knows it: top-level entries in bar order, their entries in
    // popup order ("-" a separator).
    static const std::vector<std::vector<std::string>>& MenuLayout() {
        static const std::vector<std::vector<std::string>> layout = {
            {"File", "Open...", "-", "Exit"},
            {"View", "Original Size", "Double Size"},
            {"Tools", "Associate with .swf and .flv"},
            {"Help", "About"},
        };
        return layout;
    }

    // Chooses a menu entry as a user does: a real click on the top-level entry of the menu bar,
    // then the arrow keys down to the entry and Enter. A menu that differs from the layout
    // above runs another command (or none).
    void Menu(std::vector<std::string> path) {
        for (std::string& name : path) name.erase(std::remove(name.begin(), name.end(), '&'), name.end());
        ASSERT_EQ(path.size(), 2u);
        const auto& layout = MenuLayout();
        std::vector<std::string> bar;
        int top = -1, downs = 0;
        for (size_t i = 0; i < layout.size(); ++i) {
            bar.push_back(layout[i][0]);
            if (layout[i][0] != path[0]) continue;
            top = static_cast<int>(i);
            for (size_t k = 1; k < layout[i].size() && downs >= 0; ++k) {
                if (layout[i][k] == "-") continue;
                ++downs;
                if (layout[i][k] == path[1]) break;
                if (k + 1 == layout[i].size()) downs = -1;
            }
        }
        ASSERT_GE(top, 0) << path[0];
        ASSERT_GT(downs, 0) << path[1];
        RECT item = ui::MenuBarItemRect(window_, bar, top);
        ASSERT_LT(item.left, item.right) << "menu bar not laid out";
        ASSERT_TRUE(ui::XClick((item.left + item.right) / 2, (item.top + item.bottom) / 2)) << "xdotool";
        std::string keys;
        for (int i = 0; i < downs; ++i) keys += "Down ";
        ASSERT_TRUE(ui::XKeys(keys + "Return"));
        ui::Pause(400);
    }

    // Presses a key combination over the main window, as a user's keyboard does.
    void KeysOverWindow(const std::string& keys) {
        RECT r{};
        GetWindowRect(window_, &r);
        ASSERT_TRUE(ui::XMovePointer((r.left + r.right) / 2, (r.top + r.bottom) / 2));
        ui::Pause(200);
        ASSERT_TRUE(ui::XKeys(keys));
        ui::Pause(400);
    }

    // Sets the window's outer size so that the client area becomes width x height.
    void ResizeClientTo(int width, int height) {
        SIZE outer = ui::WindowSize(window_), inner = Client();
        SetWindowPos(window_, nullptr, 0, 0, width + outer.cx - inner.cx, height + outer.cy - inner.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ui::Pause(400);
    }

    std::vector<std::string> LogLines() {
        std::ifstream in(log_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // The log lines that start with one of the prefixes, in order.
    std::vector<std::string> LogLines(const std::vector<std::string>& prefixes, size_t from = 0) {
        std::vector<std::string> all = LogLines(), kept;
        for (size_t i = from; i < all.size(); ++i)
            for (const std::string& p : prefixes)
                if (all[i].rfind(p, 0) == 0) {
                    kept.push_back(all[i]);
                    break;
                }
        return kept;
    }
    bool WaitForLog(const std::string& line, int timeoutMs = 5000) {
        DWORD start = GetTickCount();
        do {
            for (const std::string& l : LogLines())
                if (l == line) return true;
            ui::Pause(50);
        } while (static_cast<int>(GetTickCount() - start) < timeoutMs);
        return false;
    }
    bool WaitForClient(int width, int height, int timeoutMs = 5000) {
        DWORD start = GetTickCount();
        do {
            SIZE s = Client();
            if (s.cx == width && s.cy == height) return true;
            ui::Pause(50);
        } while (static_cast<int>(GetTickCount() - start) < timeoutMs);
        return false;
    }
    // How many log lines start with prefix; waits up to timeoutMs for there to be at least count.
    size_t WaitForLogCount(const std::string& prefix, size_t count, int timeoutMs = 5000) {
        DWORD start = GetTickCount();
        size_t n = 0;
        do {
            n = LogLines({prefix}).size();
            if (n >= count) break;
            ui::Pause(50);
        } while (static_cast<int>(GetTickCount() - start) < timeoutMs);
        return n;
    }
    // What the window adds around its client area (frame, caption, menu bar).
    SIZE Frame() {
        SIZE outer = ui::WindowSize(window_), inner = Client();
        return SIZE{outer.cx - inner.cx, outer.cy - inner.cy};
    }
    // The window laid out as a user expects: the frame and menu bar as they were (a menu bar
    // that wraps makes the frame taller), the status bar 19 high across the bottom of the client
    // area, and the Flash control filling the rest.
    void ExpectLaidOut(SIZE frame) {
        SIZE now = Frame();
        EXPECT_EQ(now.cx, frame.cx);
        EXPECT_EQ(now.cy, frame.cy) << "the menu bar wrapped";
        RECT client{};
        GetClientRect(window_, &client);
        MapWindowPoints(window_, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
        RECT bar{}, control{};
        GetWindowRect(FindChildByClassSuffix(window_, "msctls_statusbar32"), &bar);
        GetWindowRect(StandInWindow(), &control);
        EXPECT_EQ(bar.left, client.left);
        EXPECT_EQ(bar.right, client.right);
        EXPECT_EQ(bar.bottom, client.bottom) << "the status bar is cut";
        EXPECT_EQ(bar.bottom - bar.top, 19);
        EXPECT_EQ(control.left, client.left);
        EXPECT_EQ(control.top, client.top);
        EXPECT_EQ(control.right, client.right);
        EXPECT_EQ(control.bottom, bar.top);
    }
    // Runs the steps in a player of their own, movies or videos, and checks after each one
    // the client area it gives and the window's layout, then whatever after checks.
    void RunSizes(const SizeRun& run, bool video, const std::function<void()>& after = nullptr) {
        SCOPED_TRACE(run.name);
        Start();
        const SIZE frame = Frame();
        size_t opened = 0;
        for (const SizeStep& step : run.steps) {
            const std::string size = std::to_string(step.width) + " x " + std::to_string(step.height);
            SCOPED_TRACE(step.keys ? step.keys : size);
            if (step.keys) {
                KeysOverWindow(step.keys);
                ui::Pause(300);
            } else {
                std::string name = std::to_string(step.width) + (video ? ".flv" : ".swf");
                std::string file = Fixture(name, video ? FlvWithMetaData(step.width, step.height)
                                                       : SwfBytes(step.width, step.height, 0x102030));
                ASSERT_TRUE(DropFiles(window_, program_.pid, {file}));
                // The movie's last property, or the companion movie's "ready", has come.
                ASSERT_EQ(WaitForLogCount(video ? "event FlashCall " : "put Movie ", ++opened), opened);
                ui::Pause(300);
                EXPECT_EQ(Status(), (video ? "Video Size: " : "Frame Size: ") + size);
            }
            if (step.clientWidth != 0) {
                EXPECT_TRUE(WaitForClient(step.clientWidth, step.clientHeight)) << Client().cx << " x " << Client().cy;
                ExpectLaidOut(frame);
            }
            if (after) after();
        }
    }
    // Drops file on the window and expects the player's error box (its caption, the error icon,
    // OK alone) with text, or with some text when text is empty; presses OK.
    void DropExpectingErrorBox(const std::string& file, const std::string& text) {
        ASSERT_TRUE(DropFiles(window_, program_.pid, {file}));
        ui::MessageBoxInfo box = ui::WaitForMessageBox(program_.pid, 5000);
        ASSERT_NE(box.window, nullptr) << "no error box";
        EXPECT_EQ(box.caption, "Corvelline Flash Player");
        if (text.empty())
            EXPECT_FALSE(box.text.empty());
        else
            EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
        EXPECT_TRUE(ui::MessageBoxShowsIcon(box.window, IDI_ERROR));
        ui::PressButton(box.window, IDOK);
        ui::Pause(300);
    }
    bool NoMessageBox(int ms = 800) { return ui::WaitForMessageBox(program_.pid, ms).window == nullptr; }
    // Saves a screenshot of the whole virtual display beside the build's programs.
    void Screenshot(const std::string& name) {
        std::string target = ui::BinFolder() + "..\\screenshot-" + name + ".png";
        DeleteFileA(target.c_str());
        char unixPath[MAX_PATH * 2] = {0};
        // Wine maps drive Z: to the host's root folder.
        std::string full(target);
        char resolved[MAX_PATH];
        GetFullPathNameA(full.c_str(), MAX_PATH, resolved, nullptr);
        std::string p(resolved);
        if (p.size() > 2 && (p[0] == 'Z' || p[0] == 'z') && p[1] == ':') p = p.substr(2);
        for (char& c : p)
            if (c == '\\') c = '/';
        snprintf(unixPath, sizeof(unixPath), "-c \"import -window root '%s'\"", p.c_str());
        ShellExecuteA(nullptr, "open", "Z:\\bin\\sh", unixPath, nullptr, SW_HIDE);
        for (int i = 0; i < 100 && GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) ui::Pause(100);
        ui::Pause(300);
    }

    ui::Program program_;
    HWND window_ = nullptr;
    std::string folder_;
    std::string log_;
};

// The property puts of a movie being played, in the order the control must receive them.
inline std::vector<std::string> MoviePuts(const std::string& color, const std::string& path) {
    return {"put BackgroundColor " + color, "put Scale showall", "put SAlign none", "put Movie " + path};
}

inline std::string ResizeCall(int width, int height) {
    return "call <invoke name=\"Resize\" returntype=\"xml\"><arguments><string>" + std::to_string(width) +
           "</string><string>" + std::to_string(height) + "</string></arguments></invoke>";
}

}  // namespace player
