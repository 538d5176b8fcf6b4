// ExecuteAndWait: a failed start, a Windows program waited for while messages are handled, a
// program without a process handle, and leaving the wait when the application terminates.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>

#include "classlib/forms.h"
#include "converter/toolrun.h"

namespace {

std::string TestFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path);
    return p.substr(0, p.rfind('\\') + 1);
}

// A copy of the recording ffmpeg stand-in that runs for delayMs, in a folder of its own.
std::string SlowTool(int delayMs) {
    std::string folder = TestFolder() + "slow tool\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string tool = folder + "ffmpeg.exe";
    CopyFileA((TestFolder() + "..\\..\\standins\\ffmpeg-record\\ffmpeg.exe").c_str(), tool.c_str(), FALSE);
    std::ofstream(folder + "ffmpeg-delay.txt") << delayMs;
    DeleteFileA((folder + "ffmpeg-exit.txt").c_str());
    return tool;
}

int ticks = 0;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { ++ticks; }
void CALLBACK TerminateNow(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    Application->Terminate();
}

TEST(ExecuteAndWait, FailedStartIsFalse) {
    Application->Initialize();
    EXPECT_FALSE(ExecuteAndWait(TestFolder() + "no such tool.exe", "-i x"));
}

TEST(ExecuteAndWait, WaitsForTheProgramWhileMessagesAreHandled) {
    Application->Initialize();
    std::string tool = SlowTool(1500);
    ticks = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, CountTick);
    DWORD start = GetTickCount();
    EXPECT_TRUE(ExecuteAndWait(tool, "-i \"a.flv\" \"" + TestFolder() + "slow tool\\out.avi\""));
    DWORD elapsed = GetTickCount() - start;
    KillTimer(nullptr, timer);
    EXPECT_GE(elapsed, 1400u);
    EXPECT_GE(ticks, 5) << "timer messages were dispatched during the wait";
    // The stand-in writes its exit code last (here a failure: the input does not exist).
    EXPECT_TRUE(GetFileAttributesA((TestFolder() + "slow tool\\ffmpeg-exit.txt").c_str()) != INVALID_FILE_ATTRIBUTES)
        << "the program had ended when the wait returned";
}

TEST(ExecuteAndWait, ProgramWithoutProcessHandleReturnsAtOnce) {
    Application->Initialize();
    DWORD start = GetTickCount();
    EXPECT_TRUE(ExecuteAndWait("Z:\\bin\\sleep", "3"));
    EXPECT_LT(GetTickCount() - start, 2500u);
}

// Last in this program: the application stays terminated afterwards.
TEST(ExecuteAndWait, LeavesTheWaitWhenTheApplicationTerminates) {
    Application->Initialize();
    std::string tool = SlowTool(4000);
    SetTimer(nullptr, 0, 300, TerminateNow);
    DWORD start = GetTickCount();
    EXPECT_TRUE(ExecuteAndWait(tool, "-i \"a.flv\" \"b.avi\""));
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_TRUE(Application->Terminated());
}

}  // namespace
