// The recording ffmpeg.exe fails where the host's real ffmpeg fails: each case runs both on the
// same input, output and standard input and holds both to the rule written in the table (exit
// code, what became of the output, the tool's words on its error output).
#include "tests/e2e/converter_fixture.h"

namespace {

enum class Source { Video, Missing, NotAVideo, HeaderOnly };
enum class Answer { EndOfInput, Yes, No, OpenAWhile };
enum class Result { Written, Kept, None };

struct ToolCase {
    const char* name;
    Source input;
    bool oldOutput;       // an output file is there before the run
    const char* options;  // before -i
    Answer answer;        // what the standard input gives
    int exitCode;
    Result output;
    const char* said;  // on the error output; nullptr: not checked
};
void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.name; }

const ToolCase kToolCases[] = {
    {"new_output", Source::Video, false, "", Answer::EndOfInput, 0, Result::Written, nullptr},
    {"missing_input", Source::Missing, false, "", Answer::EndOfInput, 1, Result::None, "No such file or directory"},
    {"missing_input_old_output_kept_unasked", Source::Missing, true, "", Answer::OpenAWhile, 1, Result::Kept,
     "No such file or directory"},
    {"not_a_video", Source::NotAVideo, false, "", Answer::EndOfInput, 1, Result::None,
     "Invalid data found when processing input"},
    {"flv_header_without_tags", Source::HeaderOnly, false, "", Answer::EndOfInput, 1, Result::None,
     "Invalid data found when processing input"},
    {"existing_output_end_of_input", Source::Video, true, "", Answer::EndOfInput, 1, Result::Kept,
     "already exists. Overwrite? [y/N] Not overwriting - exiting"},
    {"existing_output_answered_yes", Source::Video, true, "", Answer::Yes, 0, Result::Written,
     "already exists. Overwrite? [y/N] "},
    {"existing_output_answered_no", Source::Video, true, "", Answer::No, 1, Result::Kept, "Not overwriting - exiting"},
    {"existing_output_waits_while_input_is_open", Source::Video, true, "", Answer::OpenAWhile, 1, Result::Kept,
     "Not overwriting - exiting"},
    {"existing_output_overwrite_option", Source::Video, true, "-y ", Answer::EndOfInput, 0, Result::Written, nullptr},
    {"existing_output_no_overwrite_option", Source::Video, true, "-n ", Answer::EndOfInput, 1, Result::Kept,
     "already exists. Exiting."},
};

const char* const kOldOutput = "an old output";
// Longer than any give-up time a kinder stand-in might have.
const int kOpenMs = 4000;

struct ToolRun {
    int exitCode = -1;
    std::string said;
    bool waitedForInput = false;  // still running when its open input was closed
};

class StandInTool : public ::testing::TestWithParam<ToolCase> {
protected:
    std::string folder_ = conv::CurrentFolder() + "standin " + conv::ExeBaseName() + "\\";
    std::string recorder_ = folder_ + "ffmpeg.exe";

    void SetUp() override {
        CreateDirectoryA(folder_.c_str(), nullptr);
        ASSERT_TRUE(
            CopyFileA((ui::BinFolder() + "..\\standins\\ffmpeg-record\\ffmpeg.exe").c_str(), recorder_.c_str(), FALSE));
        DeleteFileA((folder_ + "ffmpeg-delay.txt").c_str());
    }

    std::string MakeInput(Source source) {
        std::string path = folder_ + "input.flv";
        DeleteFileA(path.c_str());
        if (source == Source::Video) conv::WriteVideo(path);
        if (source == Source::NotAVideo) conv::WriteFile(path, "this is no Flash video");
        if (source == Source::HeaderOnly) conv::WriteFile(path, std::string("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13));
        return path;
    }

    static std::string Arguments(const ToolCase& c, const std::string& input, const std::string& output) {
        return std::string(c.options) + "-i \"" + input + "\" " + conv::kAviOptions + " \"" + output + "\"";
    }

    // The recorder with its standard input on a pipe and its error output in a file; a run that
    // does not end within 20 s is ended and fails.
    ToolRun RunRecorder(const ToolCase& c, const std::string& input, const std::string& output) {
        ToolRun run;
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
        SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
        std::string errors = folder_ + "recorder-errors.txt";
        HANDLE errorFile = CreateFileA(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0,
                                       nullptr);
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = readEnd;
        si.hStdOutput = errorFile;
        si.hStdError = errorFile;
        std::string line = "\"" + recorder_ + "\" " + Arguments(c, input, output);
        std::vector<char> command(line.begin(), line.end());
        command.push_back('\0');
        PROCESS_INFORMATION pi{};
        bool started = CreateProcessA(recorder_.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, folder_.c_str(), &si, &pi);
        EXPECT_TRUE(started);
        CloseHandle(readEnd);
        CloseHandle(errorFile);
        if (!started) {
            CloseHandle(writeEnd);
            return run;
        }
        CloseHandle(pi.hThread);
        DWORD written = 0;
        if (c.answer == Answer::Yes) WriteFile(writeEnd, "y\n", 2, &written, nullptr);
        if (c.answer == Answer::No) WriteFile(writeEnd, "n\n", 2, &written, nullptr);
        if (c.answer == Answer::OpenAWhile) {
            Sleep(kOpenMs);
            run.waitedForInput = WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT;
        }
        CloseHandle(writeEnd);
        if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(pi.hProcess, &code);
            run.exitCode = static_cast<int>(code);
        } else {
            ADD_FAILURE() << "the recorder did not end at end of its input";
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 5000);
        }
        CloseHandle(pi.hProcess);
        run.said = conv::ReadFile(errors);
        return run;
    }

    // The host's ffmpeg on the same arguments, its standard input fed the same way; the shell
    // notes when ffmpeg itself ended, apart from the feeding command.
    ToolRun RunHostTool(const ToolCase& c, const std::string& input, const std::string& output) {
        ToolRun run;
        std::string errors = folder_ + "host-errors.txt", times = folder_ + "host-times.txt";
        std::string feed = c.answer == Answer::Yes          ? "printf 'y\\n'"
                           : c.answer == Answer::No         ? "printf 'n\\n'"
                           : c.answer == Answer::OpenAWhile ? "sleep " + std::to_string(kOpenMs / 1000)
                                                            : "cat /dev/null";
        std::string timesFile = "'" + ui::UnixPath(times) + "'";
        std::string command = "date +%s%3N > " + timesFile + "; " + feed + " | { ffmpeg -hide_banner " + c.options +
                              "-i '" + ui::UnixPath(input) + "' " + conv::kAviOptions + " '" + ui::UnixPath(output) +
                              "' 2> '" + ui::UnixPath(errors) + "'; code=$?; date +%s%3N >> " + timesFile +
                              "; exit $code; }";
        run.exitCode = ui::RunHostCommand(command, 20000);
        run.said = conv::ReadFile(errors);
        std::istringstream stamps(conv::ReadFile(times));
        long long started = 0, ended = 0;
        if (stamps >> started >> ended) run.waitedForInput = ended - started >= kOpenMs - 100;
        return run;
    }

    std::string PrepareOutput(const char* name, bool old) {
        std::string path = folder_ + name;
        DeleteFileA(path.c_str());
        if (old) conv::WriteFile(path, kOldOutput);
        return path;
    }

    static void ExpectRule(const ToolCase& c, const ToolRun& run, const std::string& output) {
        EXPECT_EQ(run.exitCode, c.exitCode);
        bool exists = conv::Exists(output);
        std::string content = conv::ReadFile(output);
        Result result = !exists ? Result::None : content == kOldOutput ? Result::Kept : Result::Written;
        EXPECT_EQ(static_cast<int>(result), static_cast<int>(c.output)) << "0 written, 1 kept, 2 none";
        if (c.said) {
            EXPECT_NE(run.said.find(c.said), std::string::npos) << run.said;
        }
        if (c.answer == Answer::OpenAWhile) {
            // Only a question waits for the input; a missing input ends the run at once.
            EXPECT_EQ(run.waitedForInput, c.input == Source::Video) << "waited while the input was open";
        }
    }
};

TEST_P(StandInTool, FailsWhereTheRealToolFails) {
    const ToolCase& c = GetParam();
    std::string input = MakeInput(c.input);
    {
        SCOPED_TRACE("the host's ffmpeg");
        std::string output = PrepareOutput("host.avi", c.oldOutput);
        ExpectRule(c, RunHostTool(c, input, output), output);
    }
    {
        SCOPED_TRACE("the recorder");
        std::string output = PrepareOutput("recorded.avi", c.oldOutput);
        ExpectRule(c, RunRecorder(c, input, output), output);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StandInTool, ::testing::ValuesIn(kToolCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
