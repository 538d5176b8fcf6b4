// A conversion the tool rejects ends silently: the converter does not look at the tool's exit
// code, output or log. No message, the dialog back as it was, the input untouched, no output;
// with Shift held the log tells why. Through the recorder and through the host's real ffmpeg.
// An input that is missing or cannot be read costs no old output: nothing is deleted for a
// conversion that cannot take place.
#include "tests/e2e/converter_fixture.h"

namespace {
using conv::ConverterTest;
using conv::Tool;

// Locked: a Flash video that another program holds open without letting anyone read it.
enum class Input { Missing, NotAVideo, Locked };

struct RejectedCase {
    const char* name;
    Tool tool;
    Input input;
    bool shift;
    const char* logged;      // the tool's words in the log (Shift only)
    bool oldOutput = false;  // an output of an earlier conversion is there, and stays
};
void PrintTo(const RejectedCase& c, std::ostream* os) { *os << c.name; }

const char* const kNoSuchFile = "No such file or directory";
const char* const kInvalidData = "Invalid data found when processing input";
const char* const kCalled = "ffmpeg stand-in called with";

const RejectedCase kRejectedCases[] = {
    {"missing_input", Tool::Recorder, Input::Missing, false, nullptr},
    {"not_a_video", Tool::Recorder, Input::NotAVideo, false, nullptr},
    {"missing_input_shift", Tool::Recorder, Input::Missing, true, kNoSuchFile},
    {"not_a_video_shift", Tool::Recorder, Input::NotAVideo, true, kInvalidData},
    {"missing_input_real_tool", Tool::Bridge, Input::Missing, false, nullptr},
    {"not_a_video_real_tool", Tool::Bridge, Input::NotAVideo, false, nullptr},
    {"missing_input_real_tool_shift", Tool::Bridge, Input::Missing, true, kNoSuchFile},
    {"missing_input_old_output", Tool::Recorder, Input::Missing, false, nullptr, true},
    {"missing_input_old_output_shift", Tool::Recorder, Input::Missing, true, kNoSuchFile, true},
    {"missing_input_old_output_real_tool", Tool::Bridge, Input::Missing, false, nullptr, true},
    {"locked_input", Tool::Recorder, Input::Locked, false, nullptr},
    {"locked_input_old_output", Tool::Recorder, Input::Locked, false, nullptr, true},
    {"locked_input_old_output_shift", Tool::Recorder, Input::Locked, true, kCalled, true},
};

// Holds a file open, sharing nothing, for its lifetime (or until Release).
struct HeldFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    explicit HeldFile(const std::string& path) {
        handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~HeldFile() { Release(); }
    void Release() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
};

class ConverterRejected : public ConverterTest, public ::testing::WithParamInterface<RejectedCase> {};

TEST_P(ConverterRejected, RejectedConversionEndsSilently) {
    const RejectedCase& c = GetParam();
    if (c.tool == Tool::Bridge && ui::RunHostCommand("test -x /usr/bin/ffmpeg") != 0)
        GTEST_SKIP() << "the host has no ffmpeg";
    UseTool(c.tool);
    std::string input = dataDir_ + "rejected clip.flv", output = dataDir_ + "rejected clip.avi",
                log = dataDir_ + "rejected clip.log";
    const std::string content = c.input == Input::Locked ? conv::Video() : "this is no Flash video";
    const std::string oldOutput = "the output of an earlier conversion";
    DeleteFileA(input.c_str());
    DeleteFileA(output.c_str());
    DeleteFileA(log.c_str());
    if (c.input != Input::Missing) conv::WriteFile(input, content);
    if (c.oldOutput) conv::WriteFile(output, oldOutput);
    HeldFile held(c.input == Input::Locked ? input : "");
    if (c.input == Input::Locked) {
        ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
    }
    StartDialog(Quoted(input));
    Fields before = CurrentFields();
    ClickConvert(c.shift);
    ASSERT_TRUE(WaitForConversion(60000));
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 1000).window) << "a rejected conversion ends silently";
    EXPECT_TRUE(IsWindowEnabled(dialog_));
    ExpectFields(before);
    held.Release();
    if (c.oldOutput) {
        EXPECT_EQ(conv::ReadFile(output), oldOutput) << "the old output was lost";
    } else {
        EXPECT_FALSE(conv::Exists(output)) << "the tool wrote an output";
    }
    if (c.input == Input::Missing)
        EXPECT_FALSE(conv::Exists(input));
    else
        EXPECT_EQ(conv::ReadFile(input), content);
    if (c.tool == Tool::Recorder) {
        EXPECT_EQ(Calls().size(), 1u) << "the tool was started";
        EXPECT_EQ(conv::ReadLines(runDir_ + "ffmpeg-exit.txt"), std::vector<std::string>{"1"}) << "the tool failed";
    }
    if (c.logged) {
        std::string logged = conv::ReadFile(log);
        EXPECT_NE(logged.find(c.logged), std::string::npos) << "log: " << logged;
    } else {
        EXPECT_FALSE(conv::Exists(log));
    }
    EXPECT_EQ(Exit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ConverterRejected, ::testing::ValuesIn(kRejectedCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
