// A recording ffmpeg.exe: appends its argument string, exactly as it came, as one line to
// ffmpeg-calls.txt beside itself, echoes it on its error output, and writes the output file
// (its last argument). A file ffmpeg-delay.txt beside it holds milliseconds to wait first.
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

// The command line without the program's own name and the blank after it.
std::string ArgumentString() {
    const char* p = GetCommandLineA();
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    if (*p == ' ' || *p == '\t') ++p;
    return p;
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
    std::string line = ArgumentString();
    {
        std::ofstream calls(folder + "ffmpeg-calls.txt", std::ios::app | std::ios::binary);
        calls << line << "\n";
    }
    std::ifstream delayFile(folder + "ffmpeg-delay.txt");
    int delay = 0;
    if (delayFile >> delay && delay > 0) Sleep(static_cast<DWORD>(delay));
    std::fprintf(stderr, "ffmpeg stand-in called with: %s\n", line.c_str());
    std::vector<std::string> args = Arguments(line);
    if (args.size() >= 2 && args[args.size() - 2] != "-i") {
        std::ofstream output(args.back(), std::ios::binary);
        output << "converted by the ffmpeg stand-in\n";
    }
    return 0;
}
