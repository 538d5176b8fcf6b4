// Drives the real programs from a test running in the same Wine session: starts them,
// finds their windows, reads texts, presses buttons, clicks and types through the X server.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace ui {

// How long a healthy program may take to answer a message sent to one of its windows. Under
// Xvfb, with no window manager, Wine holds a program's thread for 2 s whenever it hides a
// window (it waits for a withdrawal that only a manager would confirm), so that a message box
// being closed, or the progress window going, keeps its program from answering that long.
constexpr int kAnswerTimeoutMs = 10000;

struct Program {
    HANDLE process = nullptr;
    DWORD pid = 0;
};

// The folder of the built programs (…\bin\ beside the test's build folder), with a trailing '\'.
std::string BinFolder();
// Starts exe with the given argument string (quoted as the caller wrote it).
Program Start(const std::string& exe, const std::string& args = "", const std::string& workDir = "");
// True when the program ended within timeoutMs; its exit code in *exitCode.
bool WaitForExit(Program& program, int timeoutMs, DWORD* exitCode = nullptr);
// Ends the program if it still runs and closes its handle.
void Kill(Program& program);

// Top-level windows of the process (visible ones only, unless all).
std::vector<HWND> TopLevelWindows(DWORD pid, bool visibleOnly = true);
// Waits for a visible top-level window of pid with that class and/or caption (nullptr: any).
HWND WaitForWindow(DWORD pid, const char* className, const char* caption, int timeoutMs);
// The text of a window of any process; "" when the program does not answer in time.
std::string WindowText(HWND window);
std::string ClassName(HWND window);
SIZE ClientSize(HWND window);
SIZE WindowSize(HWND window);
// The first child (any depth) with that class and/or text.
HWND FindChild(HWND parent, const char* className, const char* text);

// A standard message box as the user sees it.
struct MessageBoxInfo {
    HWND window = nullptr;
    std::string caption;
    std::string text;
    std::vector<std::string> buttons;  // button captions, in the box's order
};
// Waits for a message box (dialog class "#32770") of pid; window is null on timeout.
MessageBoxInfo WaitForMessageBox(DWORD pid, int timeoutMs);
// Whether the message box shows the system icon named by id (IDI_WARNING, IDI_ERROR, ...),
// judged by the pixels the two icons draw.
bool MessageBoxShowsIcon(HWND box, LPCSTR iconId);
// Presses the button with that id (IDOK, IDYES, ...) of a dialog.
void PressButton(HWND dialog, int id);

// Routes the prefix's http addresses to the recording stand-in browser while it lives, and
// puts the previous handler back afterwards.
class UrlRecorder {
public:
    UrlRecorder();
    ~UrlRecorder();
    UrlRecorder(const UrlRecorder&) = delete;
    UrlRecorder& operator=(const UrlRecorder&) = delete;
    // What the browser was asked to open so far (one line per start; waits up to timeoutMs for one).
    std::string Recorded(int timeoutMs = 10000) const;
    bool NothingRecorded() const;

private:
    std::string record_;
    std::string savedCommand_;
    bool hadCommand_ = false;
};

// Clicks a control with the left mouse button, as the user would.
void Click(HWND control);

// Pauses while the test's own message queue keeps being served.
void Pause(int ms);

// The Linux path Wine maps a Windows path to.
std::string UnixPath(const std::string& windowsPath);
// Runs a shell command on the host (Linux) through Z:\bin\sh, which yields no process handle:
// the command's exit code comes back through a file. -1 when it could not start or timed out.
int RunHostCommand(const std::string& command, int timeoutMs = 60000);
// Moves the pointer to the middle of the window and clicks it with real mouse input.
void ClickWithMouse(HWND window);

// Real input through the X server (xdotool), as a user's mouse and keyboard give it. Under
// Wine a menu of another process cannot be read nor sent commands by handle, but it takes
// real clicks; keys go to the window under the pointer. True when xdotool ran.
bool XClick(int x, int y);
bool XKeys(const std::string& keys);  // xdotool key names, blank-separated ("Down Return", "ctrl+o")
bool XMovePointer(int x, int y);
// Where the top-level entry index of a menu bar with these captions lies on window's menu bar,
// in screen coordinates: the same menu bar is laid out in a window of this process (same
// fonts, same metrics) and the rectangle moved to window.
RECT MenuBarItemRect(HWND window, const std::vector<std::string>& captions, int index);

}  // namespace ui
