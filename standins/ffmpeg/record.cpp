// A recording ffmpeg.exe. Beside itself it appends one line per call to ffmpeg-calls.txt (the
// argument string exactly as it came), to ffmpeg-programs.txt (the program name that started
// it), to ffmpeg-show.txt (the show command it was started with, 0 for hidden) and to
// ffmpeg-found.txt ("existing" or "new": whether the output file was already there).
// It echoes the arguments on its error output and writes the output file (its last argument).
// A file ffmpeg-delay.txt beside it holds milliseconds to wait before it does so.
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
            if (line[i] == '"') quoted = !quoted;
            else arg += line[i];
        }
        args.push_back(arg);
    }
    return args;
}
} // namespace

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
    if (args.size() >= 2 && args[args.size() - 2] != "-i") {
        AppendLine(folder + "ffmpeg-found.txt",
                   GetFileAttributesA(args.back().c_str()) != INVALID_FILE_ATTRIBUTES ? "existing" : "new");
        std::ofstream output(args.back(), std::ios::binary);
        output << "converted by the ffmpeg stand-in\n";
    }
    return 0;
}
