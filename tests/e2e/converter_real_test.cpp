// A real conversion: Convert runs the bridge ffmpeg.exe, which hands the call to the host's
// ffmpeg; the results are examined with the host's ffprobe.
#include "tests/e2e/converter_fixture.h"

namespace {
using conv::ConverterTest;
using conv::Tool;

struct RealCase {
    const char* name;
    int format;
    const char* extension;
    const char* streams;  // ffprobe's codec_name,r_frame_rate per stream
};
void PrintTo(const RealCase& c, std::ostream* os) { *os << c.name; }

const RealCase kRealCases[] = {
    {"avi", 0, ".avi", "msmpeg4v2,25/1\nmp3,0/0\n"},
    {"mpeg", 1, ".mpg", "mpeg2video,30/1\nmp3,0/0\n"},
};

// ffprobe's lines without the empty ones and the trailing separators that side data leaves.
std::string StreamLines(const std::string& text) {
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == ',' || line.back() == '\r')) line.pop_back();
        if (!line.empty()) out += line + "\n";
    }
    return out;
}

class ConverterReal : public ConverterTest, public ::testing::WithParamInterface<RealCase> {};

TEST_P(ConverterReal, FlashVideoBecomesTheChosenFormat) {
    const RealCase& c = GetParam();
    UseTool(Tool::Bridge);
    std::string input = dataDir_ + "real clip.flv", output = dataDir_ + "real clip" + c.extension;
    std::string probe = dataDir_ + "probe.txt";
    DeleteFileA(input.c_str());
    DeleteFileA(output.c_str());
    DeleteFileA(probe.c_str());
    ASSERT_EQ(ui::RunHostCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=1:size=160x120:rate=25 "
                                 "-f lavfi -i sine=frequency=440:duration=1 -c:v flv1 -c:a libmp3lame -ar 44100 "
                                 "-f flv '" +
                                 ui::UnixPath(input) + "'"),
              0)
        << "making the test video";

    StartDialog(Quoted(input));
    SelectFormat(c.format);
    Click("Convert");
    ASSERT_TRUE(WaitForConversion(120000)) << "the conversion ended";
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window);
    ASSERT_TRUE(conv::Exists(output));
    ASSERT_EQ(ui::RunHostCommand("ffprobe -v error -show_entries stream=codec_name,r_frame_rate -of csv=p=0 '" +
                                 ui::UnixPath(output) + "' > '" + ui::UnixPath(probe) + "'"),
              0);
    EXPECT_EQ(StreamLines(conv::ReadFile(probe)), c.streams);
    EXPECT_EQ(Exit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Formats, ConverterReal, ::testing::ValuesIn(kRealCases),
                         [](const auto& info) { return std::string(info.param.name); });

// With Shift held the real tool's error output lands in the log beside the input.
TEST_F(ConverterTest, RealToolErrorOutputGoesToTheLogWithShift) {
    UseTool(Tool::Bridge);
    std::string input = dataDir_ + "not a video.flv", log = dataDir_ + "not a video.log";
    conv::WriteFile(input, "this is no Flash video");
    DeleteFileA(log.c_str());
    StartDialog(Quoted(input));
    ClickConvertWithShift(true);
    ASSERT_TRUE(WaitUntilIdle(60000));
    EXPECT_FALSE(ui::WaitForMessageBox(program_.pid, 500).window) << "a rejected input ends silently";
    std::string logged = conv::ReadFile(log);
    EXPECT_NE(logged.find("Invalid data found when processing input"), std::string::npos) << logged;
    EXPECT_EQ(conv::ReadFile(input), "this is no Flash video");
    EXPECT_EQ(Exit(), 0u);
}

}  // namespace
