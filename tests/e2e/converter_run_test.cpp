// Convert runs ffmpeg.exe: the argument string the tool sees, the Shift variant that logs the
// tool's error output, a missing tool, an output that cannot be replaced, the dialog's state while
// the tool runs, and the input never being overwritten.
#include "tests/e2e/converter_fixture.h"

namespace {
using conv::ConverterTest;
using conv::Tool;

struct ParamsCase {
    const char* name;
    const char* input;   // in the data folder
    int format;          // 0 AVI, 1 MPEG2
    const char* output;  // in the data folder
    bool relative;       // the argument is the bare name, relative to the program's current folder
};
void PrintTo(const ParamsCase& c, std::ostream* os) { *os << c.name; }

const ParamsCase kParamsCases[] = {
    {"avi", "clip.flv", 0, "clip.avi"},
    {"mpeg", "clip.flv", 1, "clip.mpg"},
    {"no_extension", "clip", 0, "clip.avi"},
    {"two_dots", "a.b.flv", 0, "a.b.avi"},
    {"dot_in_folder", "v.d\\clip", 1, "v.d\\clip.mpg"},
    {"relative", "clip.flv", 1, "clip.mpg", true},
};

class ConverterParams : public ConverterTest, public ::testing::WithParamInterface<ParamsCase> {};

TEST_P(ConverterParams, ToolGetsInputOptionsAndDerivedOutput) {
    const ParamsCase& c = GetParam();
    UseTool(Tool::Recorder);
    CreateDirectoryA((dataDir_ + "v.d").c_str(), nullptr);
    std::string input = dataDir_ + c.input, output = dataDir_ + c.output;
    conv::WriteVideo(input);
    conv::WriteFile(output, "an old output");
    std::string argument = c.relative ? std::string(c.input) : input;
    std::string expectedOutput = c.relative ? std::string(c.output) : output;
    StartDialog(Quoted(argument));
    SelectFormat(c.format);
    EXPECT_EQ(OutputText(), expectedOutput);

    Click("Convert");
    ASSERT_TRUE(WaitForCalls(1, 10000));
    ASSERT_TRUE(WaitUntilIdle(10000));
    std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], Params(argument, c.format == 0 ? conv::kAviOptions : conv::kMpegOptions, expectedOutput));
    std::vector<std::string> programs = conv::ReadLines(runDir_ + "ffmpeg-programs.txt");
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0], Quoted(runDir_ + "ffmpeg.exe"));
    EXPECT_EQ(conv::ReadLines(runDir_ + "ffmpeg-found.txt"), std::vector<std::string>{"new"})
        << "the old output is deleted before the tool starts";
    EXPECT_EQ(conv::ReadLines(runDir_ + "ffmpeg-show.txt"), std::vector<std::string>{"0"}) << "started hidden";
    EXPECT_EQ(conv::ReadFile(output), "converted by the ffmpeg stand-in\n");
    EXPECT_EQ(conv::ReadFile(input), conv::Video());
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window) << "no message after a run";
    EXPECT_EQ(Exit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Paths, ConverterParams, ::testing::ValuesIn(kParamsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// With Shift the tool is started as without, hidden, and its error output goes into the log.
TEST_F(ConverterTest, ShiftAtTheClickLogsTheToolsErrorOutput) {
    UseTool(Tool::Recorder);
    std::string input = dataDir_ + "clip.flv", output = dataDir_ + "clip.avi", log = dataDir_ + "clip.log";
    conv::WriteVideo(input);
    conv::WriteFile(log, "the log of an earlier run, longer than the new one: " + std::string(600, '.'));
    StartDialog(Quoted(input));
    ClickConvertWithShift(true);
    ASSERT_TRUE(WaitForCalls(1, 15000));
    ASSERT_TRUE(WaitUntilIdle(10000));
    std::string params = Params(input, conv::kAviOptions, output);
    EXPECT_EQ(Calls(), std::vector<std::string>{params});
    EXPECT_EQ(conv::ReadLines(runDir_ + "ffmpeg-programs.txt"),
              std::vector<std::string>{Quoted(runDir_ + "ffmpeg.exe")});
    EXPECT_EQ(conv::ReadLines(runDir_ + "ffmpeg-show.txt"), std::vector<std::string>{"0"}) << "started hidden";
    EXPECT_EQ(conv::ReadFile(log), "ffmpeg stand-in called with: " + params + "\r\n") << "the log made anew";
    EXPECT_EQ(conv::ReadFile(output), "converted by the ffmpeg stand-in\n");
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window);
    EXPECT_EQ(Exit(), 0u);
}

TEST_F(ConverterTest, ShiftReleasedBeforeTheClickRunsThePlainTool) {
    UseTool(Tool::Recorder);
    std::string input = dataDir_ + "clip.flv", log = dataDir_ + "clip.log";
    conv::WriteVideo(input);
    DeleteFileA(log.c_str());
    StartDialog(Quoted(input));
    ClickConvertWithShift(false);
    ASSERT_TRUE(WaitForCalls(1, 15000));
    ASSERT_TRUE(WaitUntilIdle(10000));
    EXPECT_EQ(conv::ReadLines(runDir_ + "ffmpeg-programs.txt"),
              std::vector<std::string>{Quoted(runDir_ + "ffmpeg.exe")});
    EXPECT_FALSE(conv::Exists(log));
    EXPECT_EQ(Exit(), 0u);
}

TEST_F(ConverterTest, MissingToolShowsProgressThenTheCorruptedMessage) {
    UseTool(Tool::None);
    std::string input = dataDir_ + "clip.flv";
    conv::WriteFile(input, "flv");
    StartDialog(Quoted(input));
    Click("Convert");
    ui::MessageBoxInfo box = ui::WaitForMessageBox(program_.pid, 10000);
    ASSERT_TRUE(box.window);
    EXPECT_EQ(box.caption, conv::kCaption);
    EXPECT_EQ(box.text, conv::kToolMissing);
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(ui::MessageBoxShowsIcon(box.window, IDI_ERROR));
    EXPECT_FALSE(ProgressWindow()) << "the progress window has gone before the message";
    EXPECT_EQ(GetWindow(box.window, GW_OWNER), dialog_) << "the box belongs to the dialog";
    ui::PressButton(box.window, IDOK);
    EXPECT_TRUE(WaitUntilIdle(5000));
    EXPECT_TRUE(IsWindowVisible(dialog_));
    EXPECT_EQ(conv::ReadFile(input), "flv");
    EXPECT_EQ(Exit(), 0u);
}

TEST_F(ConverterTest, MissingToolWithShiftShowsNoMessage) {
    UseTool(Tool::None);
    std::string input = dataDir_ + "clip.flv", log = dataDir_ + "clip.log";
    conv::WriteFile(input, "flv");
    DeleteFileA(log.c_str());
    StartDialog(Quoted(input));
    ClickConvertWithShift(true);
    ASSERT_TRUE(WaitUntilIdle(10000));
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 1500).window);
    std::string logged = conv::ReadFile(log);
    EXPECT_EQ(logged.rfind(runDir_ + "ffmpeg.exe: ", 0), 0u) << "the log tells why nothing ran: " << logged;
    EXPECT_EQ(Exit(), 0u);
}

// An output that cannot be deleted is not left to the tool: given no overwrite option, the tool
// would ask whether to replace it on a console no one sees and wait for ever (the recorder, like
// the tool, waits while its input is open). The converter refuses, names the file and starts
// nothing; the dialog comes back as it was. A tool left waiting fails the test in TearDown.
// How the old output resists deletion: read-only, held open by another program that lets others
// read and write it but not delete it (the tool could write it), or a folder of that name.
enum class Lock { ReadOnly, HeldOpen, Folder };

struct LockedOutputCase {
    const char* name;
    Tool tool;
    bool shift;
    Lock lock;
};
void PrintTo(const LockedOutputCase& c, std::ostream* os) { *os << c.name; }

// Makes the old output resist deletion for its lifetime; afterwards it can be deleted again.
struct LockedOutput {
    std::string path;
    HANDLE holder = INVALID_HANDLE_VALUE;

    LockedOutput(const std::string& output, Lock lock) : path(output) {
        Unlock();
        if (lock == Lock::Folder)
            CreateDirectoryA(path.c_str(), nullptr);
        else
            conv::WriteFile(path, "locked old output");
        if (lock == Lock::HeldOpen)
            holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 0, nullptr);
        if (lock == Lock::ReadOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    ~LockedOutput() { Unlock(); }
    void Unlock() {
        if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
        holder = INVALID_HANDLE_VALUE;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        RemoveDirectoryA(path.c_str());
    }
    bool Resists() const { return !DeleteFileA(path.c_str()) && conv::Exists(path); }
};

class ConverterLockedOutput : public ConverterTest, public ::testing::WithParamInterface<LockedOutputCase> {};

TEST_P(ConverterLockedOutput, OutputThatCannotBeReplacedIsRefusedBeforeTheToolStarts) {
    const LockedOutputCase& c = GetParam();
    UseTool(c.tool);
    std::string input = dataDir_ + "clip.flv", output = dataDir_ + "clip.avi", log = dataDir_ + "clip.log";
    conv::WriteVideo(input);
    DeleteFileA(log.c_str());
    LockedOutput locked(output, c.lock);
    ASSERT_TRUE(locked.Resists());
    StartDialog(Quoted(input));
    Fields before = CurrentFields();
    ClickConvert(c.shift);
    ui::MessageBoxInfo box = CannotReplaceBox(output);
    ASSERT_TRUE(box.window);
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(ui::MessageBoxShowsIcon(box.window, IDI_ERROR));
    EXPECT_FALSE(ProgressWindow()) << "the progress window has gone before the message";
    EXPECT_EQ(GetWindow(box.window, GW_OWNER), dialog_) << "the box belongs to the dialog";
    if (c.tool == Tool::Recorder && c.shift)
        ui::RunHostCommand("import -window root '" +
                           ui::UnixPath(ui::BinFolder() + "..\\screenshot-Convert-cannot-replace.png") + "'");
    ui::PressButton(box.window, IDOK);
    EXPECT_TRUE(WaitUntilIdle(5000));
    EXPECT_TRUE(Calls().empty()) << "the tool was started";
    EXPECT_FALSE(conv::Exists(log)) << "nothing ran to write the log";
    if (c.lock == Lock::Folder) {
        EXPECT_TRUE(GetFileAttributesA(output.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    } else {
        EXPECT_EQ(conv::ReadFile(output), "locked old output");
    }
    EXPECT_EQ(conv::ReadFile(input), conv::Video());
    ExpectFields(before);
    EXPECT_EQ(Exit(), 0u);
}

// Through the bridge the real tool would meet the output too; the converter's answer comes first.
const LockedOutputCase kLockedOutputCases[] = {
    {"read_only", Tool::Recorder, false, Lock::ReadOnly},
    {"read_only_shift", Tool::Recorder, true, Lock::ReadOnly},
    {"held_open", Tool::Recorder, false, Lock::HeldOpen},
    {"held_open_shift", Tool::Recorder, true, Lock::HeldOpen},
    {"folder", Tool::Recorder, false, Lock::Folder},
    {"read_only_real_tool", Tool::Bridge, false, Lock::ReadOnly},
    {"held_open_real_tool", Tool::Bridge, false, Lock::HeldOpen},
};
INSTANTIATE_TEST_SUITE_P(Runs, ConverterLockedOutput, ::testing::ValuesIn(kLockedOutputCases),
                         [](const auto& info) { return std::string(info.param.name); });

// While the tool runs: the dialog is disabled but alive, the progress window stands over it.
TEST_F(ConverterTest, WhileTheToolRunsTheDialogIsDisabledAndRepaints) {
    HWND progress = StartSlowConversion(dataDir_ + "clip.flv", 3000);
    ASSERT_TRUE(progress);
    EXPECT_EQ(ui::WindowText(progress), "Converting ...");
    EXPECT_EQ(GetWindow(progress, GW_OWNER), dialog_);
    SIZE client = ui::ClientSize(progress);
    EXPECT_EQ(client.cx, 311);
    EXPECT_EQ(client.cy, 59);
    LONG style = GetWindowLongA(progress, GWL_STYLE);
    EXPECT_FALSE(style & WS_SYSMENU) << "no close box";
    EXPECT_TRUE(style & WS_CAPTION);
    RECT d, p;
    GetWindowRect(dialog_, &d);
    GetWindowRect(progress, &p);
    EXPECT_NEAR((p.left + p.right) / 2, (d.left + d.right) / 2, 1) << "centred over the dialog";
    EXPECT_NEAR((p.top + p.bottom) / 2, (d.top + d.bottom) / 2, 1);
    HWND image = ui::FindChild(progress, "TImage", nullptr);
    ASSERT_TRUE(image);
    RECT i;
    GetWindowRect(image, &i);
    MapWindowPoints(HWND_DESKTOP, progress, reinterpret_cast<POINT*>(&i), 2);
    EXPECT_EQ(i.left, 46);
    EXPECT_EQ(i.top, 20);
    EXPECT_EQ(i.right - i.left, 220);
    EXPECT_EQ(i.bottom - i.top, 19);
    EXPECT_FALSE(IsWindowEnabled(dialog_));

    ui::RunHostCommand("import -window root '" + ui::UnixPath(ui::BinFolder() + "..\\screenshot-Convert-progress.png") +
                       "'");
    InvalidateRect(dialog_, nullptr, FALSE);
    ui::Pause(400);
    EXPECT_FALSE(GetUpdateRect(dialog_, nullptr, FALSE)) << "the disabled dialog has repainted";
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutA(dialog_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result));
    EXPECT_FALSE(IsWindowEnabled(dialog_)) << "still converting";

    ASSERT_TRUE(WaitUntilIdle(10000));
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window);
    EXPECT_EQ(Exit(), 0u);
}

// The output path can name the input itself; the conversion is refused and nothing is touched.
struct SameFileCase {
    const char* name;
    const char* input;
    int format;
    bool shift;  // the log path (input with ".log") is the input when the input ends in ".log"
};
void PrintTo(const SameFileCase& c, std::ostream* os) { *os << c.name; }

const SameFileCase kSameFileCases[] = {
    {"avi_upper_case", "clip.AVI", 0, false},
    {"mpg", "clip.mpg", 1, false},
    {"log_with_shift", "notes.Log", 0, true},
};

class ConverterSameFile : public ConverterTest, public ::testing::WithParamInterface<SameFileCase> {};

TEST_P(ConverterSameFile, InputIsNeverDeletedNorOverwritten) {
    const SameFileCase& c = GetParam();
    UseTool(Tool::Recorder);
    std::string input = dataDir_ + c.input;
    conv::WriteFile(input, "the input video");
    StartDialog(Quoted(input));
    SelectFormat(c.format);
    ClickConvert(c.shift);
    ui::MessageBoxInfo box = ui::WaitForMessageBox(program_.pid, 10000);
    ASSERT_TRUE(box.window);
    EXPECT_EQ(box.caption, conv::kCaption);
    EXPECT_EQ(box.text, "The output file would replace the input file.\rPlease choose another output format.");
    ui::PressButton(box.window, IDOK);
    EXPECT_TRUE(WaitUntilIdle(5000));
    EXPECT_TRUE(Calls().empty()) << "the tool was not started";
    EXPECT_EQ(conv::ReadFile(input), "the input video");
    EXPECT_EQ(Exit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ConverterSameFile, ::testing::ValuesIn(kSameFileCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A path longer than the system's limit for a file name: the old output cannot be deleted nor
// looked at through the converter's calls, so it is not known to be gone, and the conversion is
// refused as for an output that cannot be replaced. The files are made and read back through the
// calls that take long paths.
struct LongPathCase {
    const char* name;
    bool inputPastLimit;  // else only the output (the input has no extension) is past it
    bool shift;
};
void PrintTo(const LongPathCase& c, std::ostream* os) { *os << c.name; }

const LongPathCase kLongPathCases[] = {
    {"output_past_limit", false, false},
    {"output_past_limit_shift", false, true},
    {"input_and_output_past_limit", true, false},
};

std::wstring LongPathName(const std::string& path) { return L"\\\\?\\" + std::wstring(path.begin(), path.end()); }

void WriteLongPathFile(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileW(LongPathName(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadLongPathFile(const std::string& path) {
    HANDLE file = CreateFileW(LongPathName(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(missing)";
    std::string content(1 << 16, '\0');
    DWORD got = 0;
    ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &got, nullptr);
    CloseHandle(file);
    content.resize(got);
    return content;
}

class ConverterLongPath : public ConverterTest, public ::testing::WithParamInterface<LongPathCase> {};

TEST_P(ConverterLongPath, OldOutputPastThePathLimitIsRefusedBeforeTheToolStarts) {
    const LongPathCase& c = GetParam();
    UseTool(Tool::Recorder);
    const size_t limit = MAX_PATH - 1;  // the longest name the converter's calls take
    std::string folder = dataDir_ + std::string(120, 'f') + "\\";
    CreateDirectoryW(LongPathName(folder).c_str(), nullptr);
    std::string input, output;
    if (c.inputPastLimit) {
        folder += std::string(limit + 20 - folder.size(), 'g') + "\\";
        CreateDirectoryW(LongPathName(folder).c_str(), nullptr);
        input = folder + "clip.flv";
        output = folder + "clip.avi";
    } else {
        input = folder + std::string(limit - 2 - folder.size(), 'v');
        output = input + ".avi";
    }
    ASSERT_EQ(input.size() > limit, c.inputPastLimit) << input.size();
    ASSERT_GT(output.size(), limit);
    WriteLongPathFile(input, conv::Video());
    WriteLongPathFile(output, "an old output");
    StartDialog(Quoted(input));
    ClickConvert(c.shift);
    ui::MessageBoxInfo box = CannotReplaceBox(output);
    ASSERT_TRUE(box.window);
    ui::PressButton(box.window, IDOK);
    EXPECT_TRUE(WaitUntilIdle(5000));
    EXPECT_TRUE(Calls().empty()) << "the tool was started";
    EXPECT_EQ(ReadLongPathFile(output), "an old output");
    EXPECT_EQ(ReadLongPathFile(input), conv::Video());
    EXPECT_EQ(Exit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Paths, ConverterLongPath, ::testing::ValuesIn(kLongPathCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
