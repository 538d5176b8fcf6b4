// Runs the real Convert.exe from a run folder of its own, beside one of the ffmpeg.exe stand-ins
// (or none), and drives its dialog as a user would.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/uidriver.h"

namespace conv {

const char* const kGlimmerdeckKey = "Software\\Corvelline\\Glimmerdeck";
const char* const kAviOptions = "-f avi -vcodec msmpeg4v2 -acodec libmp3lame";
const char* const kMpegOptions = "-f mpeg -vcodec mpeg2video -r 30 -acodec libmp3lame";
const char* const kCaption = "Corvelline Converter";
const char* const kToolMissing = "Corvelline Converter is corrupted, please reinstall!";

inline std::string CurrentFolder() {
    char path[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, path);
    std::string p(path);
    return p.back() == '\\' ? p : p + "\\";
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

// The stored "AutoConvert": its type and value, or type REG_NONE when it (or the key) is missing.
struct StoredValue {
    DWORD type = REG_NONE;
    DWORD value = 0;
};

inline StoredValue ReadAutoConvert() {
    StoredValue stored;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kGlimmerdeckKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return stored;
    BYTE data[256] = {0};
    DWORD size = sizeof(data), type = REG_NONE;
    if (RegQueryValueExA(key, "AutoConvert", nullptr, &type, data, &size) == ERROR_SUCCESS) {
        stored.type = type;
        if (type == REG_DWORD) memcpy(&stored.value, data, sizeof(DWORD));
    }
    RegCloseKey(key);
    return stored;
}

inline bool GlimmerdeckKeyExists() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kGlimmerdeckKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

inline void DeleteGlimmerdeckKey() { RegDeleteTreeA(HKEY_CURRENT_USER, kGlimmerdeckKey); }

inline void StoreAutoConvert(DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kGlimmerdeckKey, &key), ERROR_SUCCESS);
    RegSetValueExA(key, "AutoConvert", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

// The processes started, directly or through others, by the process pid: id and program name.
inline std::vector<std::pair<DWORD, std::string>> Descendants(DWORD pid) {
    std::vector<PROCESSENTRY32> all;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return {};
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        all.push_back(entry);
    CloseHandle(snapshot);
    std::vector<std::pair<DWORD, std::string>> found;
    std::vector<DWORD> parents{pid};
    for (size_t next = 0; next < parents.size(); ++next)
        for (const PROCESSENTRY32& p : all)
            if (p.th32ParentProcessID == parents[next] && p.th32ProcessID != pid) {
                found.emplace_back(p.th32ProcessID, p.szExeFile);
                parents.push_back(p.th32ProcessID);
            }
    return found;
}

inline void KillProcess(DWORD pid) {
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

inline bool IsToolProgram(std::string name) {
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return name == "ffmpeg.exe" || name == "cmd.exe";
}

inline std::string ExeBaseName() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path);
    p = p.substr(p.rfind('\\') + 1);
    return p.substr(0, p.rfind('.'));
}

// A small Flash video made by the host's ffmpeg (once per test program): the bytes of a file
// the real tool converts.
inline const std::string& Video() {
    static const std::string video = [] {
        std::string path = CurrentFolder() + "video " + ExeBaseName() + ".flv";
        if (!Exists(path))
            ui::RunHostCommand(
                "ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=0.2:size=16x16:rate=5 "
                "-c:v flv1 -f flv -y '" +
                ui::UnixPath(path) + "'");
        return ReadFile(path);
    }();
    return video;
}

inline void WriteVideo(const std::string& path) {
    ASSERT_FALSE(Video().empty()) << "the host's ffmpeg made no video";
    WriteFile(path, Video());
}

enum class Tool { None, Recorder, Bridge };

class ConverterTest : public ::testing::Test {
protected:
    // The run folder's name has a blank: the tool's own path must come through it too.
    std::string runDir_ = CurrentFolder() + "run " + ExeBaseName() + "\\";
    std::string dataDir_ = CurrentFolder() + "data " + ExeBaseName() + "\\";
    ui::Program program_;
    HWND dialog_ = nullptr;

    void SetUp() override {
        DeleteGlimmerdeckKey();
        CreateDirectoryA(runDir_.c_str(), nullptr);
        CreateDirectoryA(dataDir_.c_str(), nullptr);
        for (const char* file : {"ffmpeg.exe", "ffmpeg-calls.txt", "ffmpeg-programs.txt", "ffmpeg-found.txt",
                                 "ffmpeg-show.txt", "ffmpeg-delay.txt", "ffmpeg-exit.txt"})
            DeleteFileA((runDir_ + file).c_str());
        ASSERT_TRUE(CopyFileA((ui::BinFolder() + "Convert.exe").c_str(), (runDir_ + "Convert.exe").c_str(), FALSE));
    }

    // The watchdog's second half: a tool the converter left waiting (for an answer no one can
    // give) would outlive the test; it fails the test and is ended.
    void TearDown() override {
        if (program_.process) {
            for (const auto& [pid, name] : conv::Descendants(program_.pid)) {
                if (IsToolProgram(name)) ADD_FAILURE() << name << " still running at the end of the test";
                KillProcess(pid);
            }
            if (dialog_ && IsWindow(dialog_)) PostMessageA(dialog_, WM_CLOSE, 0, 0);
            ui::WaitForExit(program_, 3000);
            ui::Kill(program_);
        }
    }

    void UseTool(Tool tool) {
        std::string source = ui::BinFolder() + "..\\standins\\" +
                             (tool == Tool::Recorder ? "ffmpeg-record" : "ffmpeg-bridge") + "\\ffmpeg.exe";
        std::string target = runDir_ + "ffmpeg.exe";
        if (tool == Tool::None)
            DeleteFileA(target.c_str());
        else
            ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source;
    }

    // Starts Convert with the argument string as written and waits for its dialog.
    void StartDialog(const std::string& args = "") {
        program_ = ui::Start(runDir_ + "Convert.exe", args, dataDir_);
        ASSERT_TRUE(program_.process);
        dialog_ = ui::WaitForWindow(program_.pid, "TForm1", nullptr, 15000);
        ASSERT_TRUE(dialog_) << "no dialog";
        ui::Pause(500);
    }

    HWND Button(const char* caption) const { return ui::FindChild(dialog_, "Button", caption); }
    HWND Combo() const { return ui::FindChild(dialog_, "ComboBox", nullptr); }
    HWND InputEdit() const { return ui::FindChild(dialog_, "Edit", nullptr); }

    // The child window whose top left corner lies at x, y of the dialog's client area.
    HWND ChildAt(int x, int y) const {
        for (HWND child = GetWindow(dialog_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            RECT r;
            GetWindowRect(child, &r);
            MapWindowPoints(HWND_DESKTOP, dialog_, reinterpret_cast<POINT*>(&r), 2);
            if (r.left == x && r.top == y) return child;
        }
        return nullptr;
    }
    std::string OutputText() const { return ui::WindowText(ChildAt(16, 192)); }

    // Chooses a format as the user does: the selection changes, then the dialog hears of it.
    void SelectFormat(int index) {
        HWND combo = Combo();
        SendMessageA(combo, CB_SETCURSEL, index, 0);
        SendMessageTimeoutA(dialog_, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                            reinterpret_cast<LPARAM>(combo), SMTO_ABORTIFHUNG, ui::kAnswerTimeoutMs, nullptr);
    }

    void Click(const char* caption) {
        HWND button = Button(caption);
        ASSERT_TRUE(button) << caption;
        PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }

    // A real click on Convert, with Shift held through it or pressed and released before it.
    // The key goes through the X server, as a user's would: to the window under the pointer.
    void ClickConvertWithShift(bool holdThrough) {
        HWND convert = Button("Convert");
        RECT r;
        GetWindowRect(convert, &r);
        SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        ui::Pause(200);
        ASSERT_EQ(ui::RunHostCommand("xdotool keydown shift"), 0);
        ui::Pause(200);
        if (!holdThrough) {
            ASSERT_EQ(ui::RunHostCommand("xdotool keyup shift"), 0);
            ui::Pause(200);
        }
        ui::ClickWithMouse(convert);
        ui::Pause(300);
        if (holdThrough) {
            ASSERT_EQ(ui::RunHostCommand("xdotool keyup shift"), 0);
        }
    }

    // Convert clicked as the user does, with Shift held through the click or not pressed at all.
    void ClickConvert(bool shift) {
        if (shift)
            ClickConvertWithShift(true);
        else
            Click("Convert");
    }

    HWND ProgressWindow() const {
        for (HWND window : ui::TopLevelWindows(program_.pid, false))
            if (ui::ClassName(window) == "TForm2" && IsWindowVisible(window)) return window;
        return nullptr;
    }
    HWND AnyProgressWindow() const {
        for (HWND window : ui::TopLevelWindows(program_.pid, false))
            if (ui::ClassName(window) == "TForm2") return window;
        return nullptr;
    }

    HWND AnyDialogBox() const {
        for (HWND window : ui::TopLevelWindows(program_.pid, false))
            if (ui::ClassName(window) == "#32770") return window;
        return nullptr;
    }

    // Waits until a conversion has ended: the dialog enabled again, the progress window and any
    // message box gone (a box re-enables the dialog before its window is destroyed).
    bool WaitUntilIdle(int timeoutMs) {
        DWORD start = GetTickCount();
        do {
            if (IsWindowEnabled(dialog_) && !AnyProgressWindow() && !AnyDialogBox()) return true;
            ui::Pause(50);
        } while (static_cast<int>(GetTickCount() - start) < timeoutMs);
        return false;
    }

    // The field values a user sees: input, output caption, selected format.
    struct Fields {
        std::string input, output;
        LRESULT format;
    };
    Fields CurrentFields() const {
        return {ui::WindowText(InputEdit()), OutputText(), SendMessageA(Combo(), CB_GETCURSEL, 0, 0)};
    }

    void ExpectFields(const Fields& before) const {
        Fields now = CurrentFields();
        EXPECT_EQ(now.input, before.input);
        EXPECT_EQ(now.output, before.output);
        EXPECT_EQ(now.format, before.format);
    }

    // Waits for a conversion that a click starts: first for it to begin (the dialog disabled or
    // the progress window there; a posted click is handled a moment later), then for its end.
    bool WaitForConversion(int timeoutMs) {
        DWORD start = GetTickCount();
        while (IsWindowEnabled(dialog_) && !AnyProgressWindow()) {
            if (GetTickCount() - start > 10000) return false;
            ui::Pause(20);
        }
        return WaitUntilIdle(timeoutMs);
    }

    // Starts a conversion of a video at input through a recorder that takes delayMs, as the
    // user does; the progress window once the tool runs (null when it did not start).
    HWND StartSlowConversion(const std::string& input, int delayMs) {
        UseTool(Tool::Recorder);
        WriteFile(runDir_ + "ffmpeg-delay.txt", std::to_string(delayMs));
        WriteVideo(input);
        StartDialog(Quoted(input));
        Click("Convert");
        EXPECT_TRUE(WaitForCalls(1, 10000)) << "the tool has started";
        return ProgressWindow();
    }

    // The refusal of an output that cannot be replaced, checked as the user reads it; its
    // window is null when none came.
    ui::MessageBoxInfo CannotReplaceBox(const std::string& output) const {
        ui::MessageBoxInfo box = ui::WaitForMessageBox(program_.pid, 10000);
        EXPECT_TRUE(box.window) << "no message: the tool was started or left to ask";
        EXPECT_EQ(box.caption, kCaption);
        EXPECT_EQ(box.text, "The output file\r" + output +
                                "\rcould not be replaced. It may be read-only or in use by another program.");
        return box;
    }

    std::vector<std::string> Calls() const { return ReadLines(runDir_ + "ffmpeg-calls.txt"); }
    bool WaitForCalls(size_t count, int timeoutMs) const {
        DWORD start = GetTickCount();
        do {
            if (Calls().size() >= count) return true;
            ui::Pause(50);
        } while (static_cast<int>(GetTickCount() - start) < timeoutMs);
        return false;
    }

    // Ends the program through its Exit button; its exit code.
    DWORD Exit() {
        Click("Exit");
        DWORD code = 0xFFFF;
        EXPECT_TRUE(ui::WaitForExit(program_, 10000, &code)) << "still running after Exit";
        return code;
    }

    static std::string Quoted(const std::string& text) { return "\"" + text + "\""; }
    static std::string Params(const std::string& input, const std::string& options, const std::string& output) {
        return "-i " + Quoted(input) + " " + options + " " + Quoted(output);
    }
};

}  // namespace conv
