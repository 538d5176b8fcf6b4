// ExecuteAndWait: a failed start, a Windows program waited for while messages are handled, a
// program without a process handle, and leaving the wait when the application terminates.
// ExecuteAndWaitLogging: the program's error output in a log made anew, a question that ends at
// once, a failed start told in the log, and no handle left behind by either run.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>

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

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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

TEST(ExecuteAndWaitLogging, ErrorOutputGoesIntoALogMadeAnew) {
    Application->Initialize();
    std::string tool = SlowTool(0), folder = TestFolder() + "slow tool\\";
    std::string input = folder + "in %OS% & (1).flv", output = folder + "out.avi", log = folder + "run.log";
    std::ofstream(input) << "no video";
    std::ofstream(log) << "an old log that is longer than what the new run writes into it, by far; "
                       << std::string(400, '.');
    DeleteFileA((folder + "ffmpeg-calls.txt").c_str());
    const std::string params = "-i \"" + input + "\" -f avi \"" + output + "\"";
    EXPECT_TRUE(ExecuteAndWaitLogging(tool, params, log));
    EXPECT_EQ(ReadText(folder + "ffmpeg-calls.txt"), params + "\n") << "the arguments as they were given";
    EXPECT_EQ(ReadText(log), "ffmpeg stand-in called with: " + params + "\r\n" + input +
                                 ": Invalid data found when processing input\r\n");
}

// The output exists and the program asks whether to replace it: its input is at its end at once,
// so it keeps the file and ends instead of waiting for an answer no one can give.
TEST(ExecuteAndWaitLogging, AQuestionEndsAtOnce) {
    Application->Initialize();
    std::string folder = TestFolder() + "slow tool\\";
    std::string tool = SlowTool(0), input = folder + "video.flv", output = folder + "exists.avi";
    // The smallest Flash video the stand-in takes: the header and one empty-bodied video tag.
    std::ofstream(input, std::ios::binary)
        << std::string("FLV\x01\x01\0\0\0\x09\0\0\0\0\x09\0\0\x01\0\0\0\0\0\0\0\x12", 25);
    std::ofstream(output) << "kept";
    DWORD start = GetTickCount();
    EXPECT_TRUE(ExecuteAndWaitLogging(tool, "-i \"" + input + "\" \"" + output + "\"", folder + "question.log"));
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_NE(ReadText(folder + "question.log").find("Overwrite? [y/N] Not overwriting"), std::string::npos)
        << ReadText(folder + "question.log");
    EXPECT_EQ(ReadText(output), "kept");
}

TEST(ExecuteAndWaitLogging, FailedStartIsFalseAndToldInTheLog) {
    Application->Initialize();
    std::string missing = TestFolder() + "no such tool.exe", log = TestFolder() + "slow tool\\failed.log";
    EXPECT_FALSE(ExecuteAndWaitLogging(missing, "-i x", log));
    std::string logged = ReadText(log);
    EXPECT_EQ(logged.rfind(missing + ": ", 0), 0u) << logged;
    EXPECT_GT(logged.size(), missing.size() + 4) << "the reason follows the name";
}

// Each run closes what it opened: process, thread, log and null device.
TEST(ExecuteAndWaitLogging, RunsLeaveNoHandleBehind) {
    Application->Initialize();
    std::string tool = SlowTool(0), folder = TestFolder() + "slow tool\\";
    const std::string params = "-i \"" + folder + "none.flv\" \"" + folder + "none.avi\"";
    ExecuteAndWait(tool, params);
    ExecuteAndWaitLogging(tool, params, folder + "handles.log");
    DWORD before = 0, after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(ExecuteAndWait(tool, params));
        EXPECT_TRUE(ExecuteAndWaitLogging(tool, params, folder + "handles.log"));
        EXPECT_FALSE(ExecuteAndWaitLogging(TestFolder() + "no such tool.exe", params, folder + "handles.log"));
    }
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
    EXPECT_EQ(after, before);
    EXPECT_TRUE(DeleteFileA((folder + "handles.log").c_str())) << "nothing holds the log open";
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
