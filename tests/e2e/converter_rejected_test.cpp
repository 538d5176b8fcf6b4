// A conversion the tool rejects ends silently: the converter does not look at the tool's exit
// code, output or log. No message, the dialog back as it was, the input untouched, no output;
// with Shift held the log tells why. Through the recorder and through the host's real ffmpeg.
#include "tests/e2e/converter_fixture.h"

namespace {
using conv::ConverterTest;
using conv::Tool;

enum class Input { Missing, NotAVideo };

struct RejectedCase {
    const char* name;
    Tool tool;
    Input input;
    bool shift;
    const char* logged;  // the tool's words in the log (Shift only)
};
void PrintTo(const RejectedCase& c, std::ostream* os) { *os << c.name; }

const char* const kNoSuchFile = "No such file or directory";
const char* const kInvalidData = "Invalid data found when processing input";

const RejectedCase kRejectedCases[] = {
    {"missing_input", Tool::Recorder, Input::Missing, false, nullptr},
    {"not_a_video", Tool::Recorder, Input::NotAVideo, false, nullptr},
    {"missing_input_shift", Tool::Recorder, Input::Missing, true, kNoSuchFile},
    {"not_a_video_shift", Tool::Recorder, Input::NotAVideo, true, kInvalidData},
    {"missing_input_real_tool", Tool::Bridge, Input::Missing, false, nullptr},
    {"not_a_video_real_tool", Tool::Bridge, Input::NotAVideo, false, nullptr},
    {"missing_input_real_tool_shift", Tool::Bridge, Input::Missing, true, kNoSuchFile},
};

class ConverterRejected : public ConverterTest, public ::testing::WithParamInterface<RejectedCase> {};

TEST_P(ConverterRejected, RejectedConversionEndsSilently) {
    const RejectedCase& c = GetParam();
    if (c.tool == Tool::Bridge && ui::RunHostCommand("test -x /usr/bin/ffmpeg") != 0)
        GTEST_SKIP() << "the host has no ffmpeg";
    UseTool(c.tool);
    std::string input = dataDir_ + "rejected clip.flv", output = dataDir_ + "rejected clip.avi",
                log = dataDir_ + "rejected clip.log";
    const std::string content = "this is no Flash video";
    DeleteFileA(input.c_str());
    DeleteFileA(output.c_str());
    DeleteFileA(log.c_str());
    if (c.input == Input::NotAVideo) conv::WriteFile(input, content);
    StartDialog(Quoted(input));
    Fields before = CurrentFields();
    ClickConvert(c.shift);
    ASSERT_TRUE(WaitForConversion(60000));
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 1000).window) << "a rejected conversion ends silently";
    EXPECT_TRUE(IsWindowEnabled(dialog_));
    ExpectFields(before);
    EXPECT_FALSE(conv::Exists(output)) << "the tool wrote an output";
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
