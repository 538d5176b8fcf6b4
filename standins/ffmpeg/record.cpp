// A recording ffmpeg.exe. Beside itself it appends one line per call to ffmpeg-calls.txt (the
// argument string exactly as it came), to ffmpeg-programs.txt (the program name that started
// it), to ffmpeg-show.txt (the show command it was started with, 0 for hidden) and to
// ffmpeg-found.txt ("existing" or "new": whether the output file was already there).
// It echoes the arguments on its error output and writes the output file (its last argument).
// A file ffmpeg-delay.txt beside it holds milliseconds to wait before it does so.
// It fails where the real tool fails, with the tool's words on its error output and no output
// written: a missing input ("No such file or directory") and an input that is no Flash video
// ("Invalid data found when processing input") end it with code 1. Nor does it overwrite an
// existing output unasked: -y allows it, -n refuses, and otherwise it asks on its standard input
// and waits for as long as that stays open (started hidden, no one can answer: it waits for
// ever, as the tool does); at end of input or any answer but yes it keeps the file and fails.
// Its exit code goes to ffmpeg-exit.txt.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {
std::string OwnFolder() {
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path);
    return p.substr(0, p.rfind('\\') + 1);
}

// Splits the command line into the program's own name and the argument string after the blank.
std::string ArgumentString(std::string& program) {
    const char* start = GetCommandLineA();
    const char* p = start;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    program.assign(start, p);
    if (*p == ' ' || *p == '\t') ++p;
    return p;
}

// The answer to the tool's yes/no question: one line from the standard input. Like the tool, it
// waits for as long as the input stays open; empty at end of input or when there is none.
std::string AnswerFromInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    if (!input || input == INVALID_HANDLE_VALUE) return line;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(input, &c, 1, &got, nullptr) && got == 1 && c != '\n') line += c;
    return line;
}

uint32_t BigEndian(const std::string& bytes, size_t at, int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

// A Flash video the tool can convert: the FLV signature and header, then at least one whole audio
// (8) or video (9) tag. A header without such a tag the tool rejects as invalid data too.
bool IsFlashVideo(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    const std::string bytes = content.str();
    const size_t headerSize = 9, tagHeaderSize = 11, previousSizeField = 4;
    if (bytes.size() < headerSize || bytes.compare(0, 3, "FLV") != 0 || bytes[3] != 1) return false;
    size_t at = BigEndian(bytes, 5, 4);
    if (at < headerSize) return false;
    for (at += previousSizeField; at + tagHeaderSize <= bytes.size();) {
        uint32_t type = static_cast<uint8_t>(bytes[at]) & 0x1F, dataSize = BigEndian(bytes, at + 1, 3);
        if (at + tagHeaderSize + dataSize > bytes.size()) return false;
        if ((type == 8 || type == 9) && dataSize > 0) return true;
        at += tagHeaderSize + dataSize + previousSizeField;
    }
    return false;
}

// The input's path: the argument after the first -i; empty when there is none.
std::string InputPath(const std::vector<std::string>& args) {
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "-i") return args[i + 1];
    return "";
}

bool HasArgument(const std::vector<std::string>& args, const char* option) {
    for (const std::string& a : args)
        if (a == option) return true;
    return false;
}

void AppendLine(const std::string& file, const std::string& line) {
    std::ofstream out(file, std::ios::app | std::ios::binary);
    out << line << "\n";
}

// The arguments as a Windows program's run-time splits them.
std::vector<std::string> Arguments(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string arg;
        bool quoted = false;
        for (; i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')); ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else
                arg += line[i];
        }
        args.push_back(arg);
    }
    return args;
}

// Whether the tool may write onto an existing output: -y yes, -n no, else the answer on its input.
bool MayOverwrite(const std::vector<std::string>& args, const std::string& target) {
    if (HasArgument(args, "-y")) return true;
    if (HasArgument(args, "-n")) {
        std::fprintf(stderr, "File '%s' already exists. Exiting.\n", target.c_str());
        return false;
    }
    std::fprintf(stderr, "File '%s' already exists. Overwrite? [y/N] ", target.c_str());
    std::fflush(stderr);
    std::string answer = AnswerFromInput();
    bool yes = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
    if (!yes) std::fprintf(stderr, "Not overwriting - exiting\n");
    return yes;
}

// Opens the input as the tool does before it looks at the output; 0 when it can be converted.
int CheckInput(const std::string& input) {
    if (input.empty()) return 0;
    if (GetFileAttributesA(input.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "%s: No such file or directory\n", input.c_str());
        return 1;
    }
    if (!IsFlashVideo(input)) {
        std::fprintf(stderr, "%s: Invalid data found when processing input\n", input.c_str());
        return 1;
    }
    return 0;
}

int WriteOutput(const std::string& folder, const std::vector<std::string>& args) {
    const std::string& target = args.back();
    bool existing = GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES;
    AppendLine(folder + "ffmpeg-found.txt", existing ? "existing" : "new");
    if (existing && !MayOverwrite(args, target)) return 1;
    std::ofstream output(target, std::ios::binary);
    output << "converted by the ffmpeg stand-in\n";
    return output ? 0 : 1;
}
}  // namespace

int main() {
    std::string folder = OwnFolder();
    std::string program;
    std::string line = ArgumentString(program);
    AppendLine(folder + "ffmpeg-calls.txt", line);
    AppendLine(folder + "ffmpeg-programs.txt", program);
    STARTUPINFOA startup{};
    GetStartupInfoA(&startup);
    AppendLine(folder + "ffmpeg-show.txt",
               (startup.dwFlags & STARTF_USESHOWWINDOW) ? std::to_string(startup.wShowWindow) : "default");
    std::ifstream delayFile(folder + "ffmpeg-delay.txt");
    int delay = 0;
    if (delayFile >> delay && delay > 0) Sleep(static_cast<DWORD>(delay));
    std::fprintf(stderr, "ffmpeg stand-in called with: %s\n", line.c_str());
    std::vector<std::string> args = Arguments(line);
    int code = CheckInput(InputPath(args));
    if (code == 0 && args.size() >= 2 && args[args.size() - 2] != "-i") code = WriteOutput(folder, args);
    AppendLine(folder + "ffmpeg-exit.txt", std::to_string(code));
    return code;
}
