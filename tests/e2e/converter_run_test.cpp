// Convert runs ffmpeg.exe: the argument string the tool sees, the Shift variant that logs the
// tool's error output, a missing tool, the dialog's state while the tool runs, and the input
// never being overwritten.
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
    conv::WriteFile(input, "flv");
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
    EXPECT_EQ(conv::ReadFile(input), "flv");
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window) << "no message after a run";
    EXPECT_EQ(Exit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Paths, ConverterParams, ::testing::ValuesIn(kParamsCases),
                         [](const auto& info) { return std::string(info.param.name); });

std::string ShortPath(const std::string& path) {
    char buffer[MAX_PATH * 2] = {0};
    GetShortPathNameA(path.c_str(), buffer, sizeof(buffer));
    return buffer;
}

TEST_F(ConverterTest, ShiftAtTheClickRunsTheToolThroughCmdAndLogsItsErrorOutput) {
    UseTool(Tool::Recorder);
    std::string input = dataDir_ + "clip.flv", output = dataDir_ + "clip.avi", log = dataDir_ + "clip.log";
    conv::WriteFile(input, "flv");
    DeleteFileA(log.c_str());
    StartDialog(Quoted(input));
    ClickConvertWithShift(true);
    ASSERT_TRUE(WaitForCalls(1, 15000));
    ASSERT_TRUE(WaitUntilIdle(10000));
    std::string params = Params(input, conv::kAviOptions, output);
    std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(conv::Trimmed(calls[0]), params);
    std::string shortTool = ShortPath(runDir_ + "ffmpeg.exe");
    ASSERT_FALSE(shortTool.empty());
    EXPECT_EQ(shortTool.find(' '), std::string::npos) << shortTool;
    std::vector<std::string> programs = conv::ReadLines(runDir_ + "ffmpeg-programs.txt");
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0], shortTool) << "cmd starts the tool by its short path";
    EXPECT_NE(conv::ReadFile(log).find("ffmpeg stand-in called with: " + params), std::string::npos)
        << "log: " << conv::ReadFile(log);
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window);
    EXPECT_EQ(Exit(), 0u);
}

TEST_F(ConverterTest, ShiftReleasedBeforeTheClickRunsThePlainTool) {
    UseTool(Tool::Recorder);
    std::string input = dataDir_ + "clip.flv", log = dataDir_ + "clip.log";
    conv::WriteFile(input, "flv");
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
    EXPECT_TRUE(conv::Exists(log)) << "cmd ran and redirected its error output";
    EXPECT_EQ(Exit(), 0u);
}

// An output that cannot be deleted is left to the tool, which (run without an overwrite
// option) asks whether to overwrite it; hidden, no answer comes, so it keeps the file, writes
// nothing and fails. The converter does not look at the result: no message, the dialog back;
// only the log of the Shift variant tells why.
struct LockedOutputCase {
    const char* name;
    bool shift;
    // How the old output resists deletion: read-only, or held open by another program that
    // lets others read and write it but not delete it (the tool could write it).
    bool heldOpen;
};
void PrintTo(const LockedOutputCase& c, std::ostream* os) { *os << c.name; }

class ConverterLockedOutput : public ConverterTest, public ::testing::WithParamInterface<LockedOutputCase> {};

TEST_P(ConverterLockedOutput, OutputThatCannotBeDeletedIsLeftToTheTool) {
    const LockedOutputCase& c = GetParam();
    UseTool(Tool::Recorder);
    std::string input = dataDir_ + "clip.flv", output = dataDir_ + "clip.avi", log = dataDir_ + "clip.log";
    conv::WriteFile(input, "flv");
    DeleteFileA(log.c_str());
    SetFileAttributesA(output.c_str(), FILE_ATTRIBUTE_NORMAL);
    conv::WriteFile(output, "locked old output");
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (c.heldOpen) {
        holder = CreateFileA(output.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    } else {
        ASSERT_TRUE(SetFileAttributesA(output.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    StartDialog(Quoted(input));
    if (c.shift)
        ClickConvertWithShift(true);
    else
        Click("Convert");
    ASSERT_TRUE(WaitForCalls(1, 15000));
    ASSERT_TRUE(WaitUntilIdle(15000));
    EXPECT_EQ(conv::ReadLines(runDir_ + "ffmpeg-found.txt"), std::vector<std::string>{"existing"});
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window) << "the failed deletion is not reported";
    EXPECT_TRUE(IsWindowEnabled(dialog_));
    EXPECT_EQ(conv::ReadFile(output), "locked old output") << "the tool overwrote it unasked";
    EXPECT_EQ(conv::ReadLines(runDir_ + "ffmpeg-exit.txt"), std::vector<std::string>{"1"}) << "the tool failed";
    if (c.shift) {
        std::string logged = conv::ReadFile(log);
        EXPECT_NE(logged.find("File '" + output + "' already exists. Overwrite? [y/N] Not overwriting - exiting"),
                  std::string::npos)
            << "log: " << logged;
    } else {
        EXPECT_FALSE(conv::Exists(log));
    }
    EXPECT_EQ(conv::ReadFile(input), "flv");
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    SetFileAttributesA(output.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Exit(), 0u);
}

const LockedOutputCase kLockedOutputCases[] = {{"read_only", false, false},
                                               {"read_only_shift", true, false},
                                               {"held_open", false, true},
                                               {"held_open_shift", true, true}};
INSTANTIATE_TEST_SUITE_P(Runs, ConverterLockedOutput, ::testing::ValuesIn(kLockedOutputCases),
                         [](const auto& info) { return std::string(info.param.name); });

// While the tool runs: the dialog is disabled but alive, the progress window stands over it.
TEST_F(ConverterTest, WhileTheToolRunsTheDialogIsDisabledAndRepaints) {
    UseTool(Tool::Recorder);
    conv::WriteFile(runDir_ + "ffmpeg-delay.txt", "3000");
    std::string input = dataDir_ + "clip.flv";
    conv::WriteFile(input, "flv");
    StartDialog(Quoted(input));
    Click("Convert");
    ASSERT_TRUE(WaitForCalls(1, 10000)) << "the tool has started";
    HWND progress = ProgressWindow();
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
    if (c.shift)
        ClickConvertWithShift(true);
    else
        Click("Convert");
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

}  // namespace
