#include "converter/toolrun.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "classlib/forms.h"

namespace {
const DWORD WaitSliceMs = 100;

// Waits for the process while the application's messages are handled, until it ends or the
// application terminates. A null handle (a program that is not a Windows one) ends it at once.
void WaitHandlingMessages(HANDLE process) {
    while (WaitForSingleObject(process, WaitSliceMs) == WAIT_TIMEOUT) {
        Application->ProcessMessages();
        if (Application->Terminated()) break;
    }
}

// A handle the started program inherits: the log file made anew, or the null device.
HANDLE OpenInheritable(const std::string& path, DWORD access, DWORD creation) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The system's words for an error code, without the line break they end with.
std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

void WriteText(HANDLE file, const std::string& text) {
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}
}  // namespace

bool ExecuteAndWait(const std::string& program, const std::string& params) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof(info);
    // The converter reports a failed start itself: the shell shows no error box of its own.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = Application->Handle();
    info.lpFile = program.c_str();
    info.lpParameters = params.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExA(&info)) return false;
    WaitHandlingMessages(info.hProcess);
    if (info.hProcess) CloseHandle(info.hProcess);
    return true;
}

bool ExecuteAndWaitLogging(const std::string& program, const std::string& params, const std::string& errorLog) {
    HANDLE log = OpenInheritable(errorLog, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE nothing = OpenInheritable("NUL", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nothing;
    startup.hStdOutput = nothing;
    // A log that cannot be made does not stop the conversion; the error output is then lost.
    startup.hStdError = log != INVALID_HANDLE_VALUE ? log : nothing;
    // All three standard handles are given, so the tool needs no console: it gets none (a console
    // would be a further process holding the log open after the tool has ended).
    std::string line = "\"" + program + "\" " + params;
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    PROCESS_INFORMATION process{};
    bool started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS,
                                  nullptr, nullptr, &startup, &process);
    const DWORD startError = started ? ERROR_SUCCESS : GetLastError();
    if (!started && log != INVALID_HANDLE_VALUE) WriteText(log, program + ": " + SystemMessage(startError) + "\r\n");
    if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
    if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
    if (!started) return false;
    CloseHandle(process.hThread);
    WaitHandlingMessages(process.hProcess);
    CloseHandle(process.hProcess);
    return true;
}

bool IsShiftDown() {
    BYTE state[256] = {0};
    GetKeyboardState(state);
    return (state[VK_SHIFT] & 0x80) != 0;
}
