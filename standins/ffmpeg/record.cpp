// A recording ffmpeg.exe. Beside itself it appends one line per call to ffmpeg-calls.txt (the
// argument string exactly as it came), to ffmpeg-programs.txt (the program name that started
// it), to ffmpeg-show.txt (the show command it was started with, 0 for hidden) and to
// ffmpeg-found.txt ("existing" or "new": whether the output file was already there).
// It echoes the arguments on its error output and writes the output file (its last argument).
// A file ffmpeg-delay.txt beside it holds milliseconds to wait before it does so.
// Like the real tool, it does not overwrite an existing output unasked: without -y it asks on
// its standard input, and with no answer (a hidden run has no one to give one) or any answer
// but yes it writes nothing and fails; -n refuses without asking. Its exit code goes to
// ffmpeg-exit.txt.
#include <windows.h>

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

// One line from the standard input, as the tool's yes/no question reads it; empty when none
// comes: end of input, no input at all, or nothing typed within a few seconds.
std::string AnswerFromInput() {
    struct Reading {
        HANDLE input;
        std::string line;
    };
    static Reading reading;
    reading.input = GetStdHandle(STD_INPUT_HANDLE);
    if (!reading.input || reading.input == INVALID_HANDLE_VALUE) return "";
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID) WINAPI -> DWORD {
            char c = 0;
            DWORD got = 0;
            while (ReadFile(reading.input, &c, 1, &got, nullptr) && got == 1 && c != '\n') reading.line += c;
            return 0;
        },
        nullptr, 0, nullptr);
    if (!thread) return "";
    bool answered = WaitForSingleObject(thread, 3000) == WAIT_OBJECT_0;
    CloseHandle(thread);  // a reader still waiting ends with the process
    return answered ? reading.line : "";
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
    int code = 0;
    if (args.size() >= 2 && args[args.size() - 2] != "-i") {
        const std::string& target = args.back();
        bool existing = GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES;
        AppendLine(folder + "ffmpeg-found.txt", existing ? "existing" : "new");
        bool overwrite = !existing;
        if (existing) {
            bool yes = false, no = false;
            for (const std::string& a : args) {
                if (a == "-y") yes = true;
                if (a == "-n") no = true;
            }
            if (yes) {
                overwrite = true;
            } else if (no) {
                std::fprintf(stderr, "File '%s' already exists. Exiting.\n", target.c_str());
            } else {
                std::fprintf(stderr, "File '%s' already exists. Overwrite? [y/N] ", target.c_str());
                std::fflush(stderr);
                std::string answer = AnswerFromInput();
                overwrite = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
                if (!overwrite) std::fprintf(stderr, "Not overwriting - exiting\n");
            }
        }
        if (overwrite) {
            std::ofstream output(target, std::ios::binary);
            output << "converted by the ffmpeg stand-in\n";
            if (!output) code = 1;
        } else {
            code = 1;
        }
    }
    AppendLine(folder + "ffmpeg-exit.txt", std::to_string(code));
    return code;
}
