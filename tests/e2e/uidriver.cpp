#include "tests/e2e/uidriver.h"

#include <shellapi.h>

#include "standins/ffmpeg/unixpath.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace ui {

std::string BinFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path);
    // Test programs live in <build>\tests\<dir>\; the programs in <build>\bin\.
    size_t tests = p.rfind("\\tests\\");
    std::string buildDir = tests == std::string::npos ? p.substr(0, p.rfind('\\')) : p.substr(0, tests);
    return buildDir + "\\bin\\";
}

Program Start(const std::string& exe, const std::string& args, const std::string& workDir) {
    std::string commandLine = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    Program program;
    if (CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        program.process = pi.hProcess;
        program.pid = pi.dwProcessId;
    }
    return program;
}

bool WaitForExit(Program& program, int timeoutMs, DWORD* exitCode) {
    if (!program.process) return true;
    if (WaitForSingleObject(program.process, timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(program.process, exitCode);
    return true;
}

void Kill(Program& program) {
    if (!program.process) return;
    if (WaitForSingleObject(program.process, 0) != WAIT_OBJECT_0) {
        TerminateProcess(program.process, 1);
        WaitForSingleObject(program.process, 5000);
    }
    CloseHandle(program.process);
    program.process = nullptr;
}

namespace {
struct EnumState {
    DWORD pid;
    bool visibleOnly;
    std::vector<HWND> found;
};
BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
    auto* state = reinterpret_cast<EnumState*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == state->pid && (!state->visibleOnly || IsWindowVisible(window))) state->found.push_back(window);
    return TRUE;
}
}  // namespace

std::vector<HWND> TopLevelWindows(DWORD pid, bool visibleOnly) {
    EnumState state{pid, visibleOnly, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

std::string WindowText(HWND window) {
    char text[4096] = {0};
    // WM_GETTEXT works across processes for the standard controls, GetWindowText does not.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        kAnswerTimeoutMs, nullptr);
    return text;
}

std::string ClassName(HWND window) {
    char name[256] = {0};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

SIZE ClientSize(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

SIZE WindowSize(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

HWND WaitForWindow(DWORD pid, const char* className, const char* caption, int timeoutMs) {
    DWORD start = GetTickCount();
    do {
        for (HWND window : TopLevelWindows(pid)) {
            if (className && ClassName(window) != className) continue;
            if (caption && WindowText(window) != caption) continue;
            return window;
        }
        Pause(50);
    } while (static_cast<int>(GetTickCount() - start) < timeoutMs);
    return nullptr;
}

namespace {
struct ChildSearch {
    const char* className;
    const char* text;
    HWND found;
};
BOOL CALLBACK MatchChild(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<ChildSearch*>(data);
    if (search->className && ClassName(window) != search->className) return TRUE;
    if (search->text && WindowText(window) != search->text) return TRUE;
    search->found = window;
    return FALSE;
}
}  // namespace

HWND FindChild(HWND parent, const char* className, const char* text) {
    ChildSearch search{className, text, nullptr};
    EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

namespace {
BOOL CALLBACK CollectChild(HWND window, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}
}  // namespace

MessageBoxInfo WaitForMessageBox(DWORD pid, int timeoutMs) {
    MessageBoxInfo info;
    HWND box = WaitForWindow(pid, "#32770", nullptr, timeoutMs);
    if (!box) return info;
    Pause(300);  // let the box finish laying itself out
    info.window = box;
    info.caption = WindowText(box);
    std::vector<HWND> children;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
        std::string cls = ClassName(child);
        int id = GetDlgCtrlID(child);
        if (cls == "Static" && id == 0xFFFF)
            info.text = WindowText(child);
        else if (cls == "Button" && IsWindowVisible(child))
            info.buttons.push_back(WindowText(child));
    }
    return info;
}

// The icon control's pixels are taken from the screen; drawing the expected icon over a copy
// of them changes (almost) nothing when it is the icon shown.
bool MessageBoxShowsIcon(HWND box, LPCSTR iconId) {
    const int kMessageBoxIconId = 0x0440, size = 32;
    HWND iconControl = GetDlgItem(box, kMessageBoxIconId);
    if (!iconControl || !IsWindowVisible(iconControl)) return false;
    POINT origin{0, 0};
    ClientToScreen(iconControl, &origin);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    void* shownBits = nullptr;
    void* redrawnBits = nullptr;
    HBITMAP shown = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &shownBits, nullptr, 0);
    HBITMAP redrawn = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &redrawnBits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, shown);
    BitBlt(dc, 0, 0, size, size, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(dc, redrawn);
    BitBlt(dc, 0, 0, size, size, screen, origin.x, origin.y, SRCCOPY);
    DrawIconEx(dc, 0, 0, LoadIcon(nullptr, iconId), size, size, 0, nullptr, DI_NORMAL);
    GdiFlush();
    const uint8_t* a = static_cast<const uint8_t*>(shownBits);
    const uint8_t* b = static_cast<const uint8_t*>(redrawnBits);
    int changed = 0, inked = 0;
    for (int i = 0; i < size * size; ++i) {
        int diff = 0;
        for (int c = 0; c < 3; ++c) diff = std::max(diff, std::abs(int(a[i * 4 + c]) - int(b[i * 4 + c])));
        if (diff > 48) ++changed;
        if (a[i * 4] != a[0] || a[i * 4 + 1] != a[1] || a[i * 4 + 2] != a[2]) ++inked;
    }
    SelectObject(dc, old);
    DeleteObject(shown);
    DeleteObject(redrawn);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return inked > 50 && changed < size * size / 10;  // edges blend twice; another icon differs in hundreds
}

void PressButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Pause(int ms) {
    DWORD start = GetTickCount();
    while (static_cast<int>(GetTickCount() - start) < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

std::string UnixPath(const std::string& windowsPath) {
    std::wstring wide(windowsPath.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), static_cast<int>(wide.size()))));
    if (!wide.empty() && wide.back() == L'\0') wide.pop_back();
    return WineUnixPath(wide);
}

int RunHostCommand(const std::string& command, int timeoutMs) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string base = std::string(temp) + "hostcmd-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount());
    std::string script = base + ".sh", done = base + ".exit", partial = base + ".part";
    FILE* out = std::fopen(script.c_str(), "wb");
    if (!out) return -1;
    std::fprintf(out, "%s\necho $? > '%s'\nmv '%s' '%s'\n", command.c_str(), UnixPath(partial).c_str(),
                 UnixPath(partial).c_str(), UnixPath(done).c_str());
    std::fclose(out);
    std::string params = "\"" + UnixPath(script) + "\"";
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = "Z:\\bin\\sh";
    info.lpParameters = params.c_str();
    info.nShow = SW_HIDE;
    int code = -1;
    if (ShellExecuteExA(&info)) {
        if (info.hProcess) CloseHandle(info.hProcess);
        DWORD start = GetTickCount();
        while (GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES &&
               static_cast<int>(GetTickCount() - start) < timeoutMs)
            Pause(20);
        if (FILE* in = std::fopen(done.c_str(), "rb")) {
            if (std::fscanf(in, "%d", &code) != 1) code = -1;
            std::fclose(in);
        }
    }
    DeleteFileA(script.c_str());
    DeleteFileA(done.c_str());
    DeleteFileA(partial.c_str());
    return code;
}

void ClickWithMouse(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    Pause(100);
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &input[0], sizeof(INPUT));
    Pause(50);
    SendInput(1, &input[1], sizeof(INPUT));
}

bool XMovePointer(int x, int y) {
    return RunHostCommand("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y)) == 0;
}

bool XClick(int x, int y) {
    bool ok = RunHostCommand("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
                             " sleep 0.2 click 1") == 0;
    Pause(300);
    return ok;
}

bool XKeys(const std::string& keys) {
    bool ok = RunHostCommand("xdotool key --delay 120 " + keys) == 0;
    Pause(300);
    return ok;
}

RECT MenuBarItemRect(HWND window, const std::vector<std::string>& captions, int index) {
    RECT result{0, 0, 0, 0};
    HMENU bar = CreateMenu();
    for (const std::string& caption : captions)
        AppendMenuA(bar, MF_STRING | MF_POPUP, (UINT_PTR)CreatePopupMenu(), caption.c_str());
    RECT target{};
    GetWindowRect(window, &target);
    LONG style = GetWindowLongA(window, GWL_STYLE), exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    HWND like = CreateWindowExA(exStyle & ~WS_EX_ACCEPTFILES, "STATIC", "",
                                (style & 0xFFFF0000 & ~WS_VISIBLE) | WS_OVERLAPPED, 0, 0, target.right - target.left,
                                target.bottom - target.top, nullptr, bar, nullptr, nullptr);
    if (!like) return result;
    SetWindowPos(like, HWND_BOTTOM, -3000, -3000, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    DrawMenuBar(like);
    Pause(50);
    RECT item{}, own{};
    if (GetMenuItemRect(like, bar, static_cast<UINT>(index), &item) && GetWindowRect(like, &own)) {
        result = RECT{item.left - own.left + target.left, item.top - own.top + target.top,
                      item.right - own.left + target.left, item.bottom - own.top + target.top};
    }
    DestroyWindow(like);  // destroys the menu with it
    return result;
}

namespace {
const char* const kUrlCommandKey = "http\\shell\\open\\command";
}

UrlRecorder::UrlRecorder() {
    char value[2048] = {0};
    LONG size = sizeof(value);
    hadCommand_ = RegQueryValueA(HKEY_CLASSES_ROOT, kUrlCommandKey, value, &size) == ERROR_SUCCESS;
    savedCommand_ = value;
    std::string command = "\"" + BinFolder() + "standins\\urlrecorder.exe\" \"%1\"";
    RegSetValueA(HKEY_CLASSES_ROOT, kUrlCommandKey, REG_SZ, command.c_str(), DWORD(command.size()));
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    record_ = std::string(temp) + "recorded_urls_" + std::to_string(GetCurrentProcessId()) + ".txt";
    DeleteFileA(record_.c_str());
    SetEnvironmentVariableA("URL_RECORD_FILE", record_.c_str());
}

UrlRecorder::~UrlRecorder() {
    if (hadCommand_)
        RegSetValueA(HKEY_CLASSES_ROOT, kUrlCommandKey, REG_SZ, savedCommand_.c_str(), DWORD(savedCommand_.size()));
    else
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kUrlCommandKey);
    SetEnvironmentVariableA("URL_RECORD_FILE", nullptr);
    DeleteFileA(record_.c_str());
}

std::string UrlRecorder::Recorded(int timeoutMs) const {
    for (int waited = 0; waited < timeoutMs && NothingRecorded(); waited += 100) Pause(100);
    HANDLE file = CreateFileA(record_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    char buffer[8192] = {0};
    DWORD got = 0;
    ReadFile(file, buffer, sizeof(buffer) - 1, &got, nullptr);
    CloseHandle(file);
    return std::string(buffer, got);
}

bool UrlRecorder::NothingRecorded() const { return GetFileAttributesA(record_.c_str()) == INVALID_FILE_ATTRIBUTES; }

void Click(HWND control) {
    PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    PostMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

}  // namespace ui
