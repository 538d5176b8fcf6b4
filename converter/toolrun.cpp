#include "converter/toolrun.h"

#include <windows.h>
#include <shellapi.h>

#include "classlib/forms.h"

namespace {
const DWORD WaitSliceMs = 100;
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
    // Without a process handle (a program that is not a Windows one) the wait fails at once.
    while (WaitForSingleObject(info.hProcess, WaitSliceMs) == WAIT_TIMEOUT) {
        Application->ProcessMessages();
        if (Application->Terminated()) break;
    }
    if (info.hProcess) CloseHandle(info.hProcess);
    return true;
}

bool IsShiftDown() {
    BYTE state[256] = {0};
    GetKeyboardState(state);
    return (state[VK_SHIFT] & 0x80) != 0;
}
