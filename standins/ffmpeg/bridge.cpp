// A bridge ffmpeg.exe: runs the host's real ffmpeg (a Linux program) with the same arguments.
// Under Wine a Linux program starts through Z:\bin\sh but yields no process handle, so the
// shell script writes ffmpeg's exit code to a file that the bridge polls for; the bridge then
// copies ffmpeg's error output to its own and exits with ffmpeg's code.
// ffmpeg runs with -nostdin: its standard input here is the Wine session's, not the hidden console
// the tool has on Windows, and without the option it would read keys from it while it converts.
// The option also turns the question about an existing output into a refusal (exit 1) where the
// tool on Windows would wait for ever; that path is never reached through the converter, which
// refuses to start the tool while the output still exists (the black-box tests see its message).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "standins/ffmpeg/unixpath.h"

namespace {
const char* const HostFfmpeg = "/usr/bin/ffmpeg";
const DWORD PollMs = 50;
const DWORD GiveUpMs = 60 * 60 * 1000;
const int StartFailed = 127;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return "";
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string UnixPath(const std::wstring& windowsPath) { return WineUnixPath(windowsPath); }

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    // The input (after -i) and the output (the last argument) are paths; the rest passes as it is.
    std::string command = std::string(HostFfmpeg) + " -nostdin";
    for (int i = 1; i < argc; ++i) {
        bool isPath = i == argc - 1 || (i > 1 && std::wstring(argv[i - 1]) == L"-i");
        command += " " + ShellQuote(isPath ? UnixPath(argv[i]) : Utf8(argv[i]));
    }
    LocalFree(argv);

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring work = std::wstring(temp) + L"ffbridge-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount()) + L"\\";
    CreateDirectoryW(work.c_str(), nullptr);
    std::wstring script = work + L"run.sh", errors = work + L"err.txt", done = work + L"exit.txt",
                 partial = work + L"exit.tmp";
    {
        std::ofstream out(script.c_str(), std::ios::binary);
        out << command << " 2> " << ShellQuote(UnixPath(errors)) << "\n"
            << "echo $? > " << ShellQuote(UnixPath(partial)) << "\n"
            << "mv " << ShellQuote(UnixPath(partial)) << " " << ShellQuote(UnixPath(done)) << "\n";
    }
    std::string unixScript = UnixPath(script);
    std::wstring wideScript(unixScript.size(), L'\0');
    wideScript.resize(
        static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, unixScript.data(), static_cast<int>(unixScript.size()),
                                                wideScript.data(), static_cast<int>(wideScript.size()))));
    std::wstring params = L"\"" + wideScript + L"\"";
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = L"Z:\\bin\\sh";
    info.lpParameters = params.c_str();
    info.nShow = SW_HIDE;
    int code = StartFailed;
    if (ShellExecuteExW(&info)) {
        if (info.hProcess) CloseHandle(info.hProcess);
        DWORD start = GetTickCount();
        while (!Exists(done) && GetTickCount() - start < GiveUpMs) Sleep(PollMs);
        std::string exitText = ReadAll(done);
        if (!exitText.empty()) code = std::atoi(exitText.c_str());
        std::string errorText = ReadAll(errors);
        std::fwrite(errorText.data(), 1, errorText.size(), stderr);
    } else {
        std::fprintf(stderr, "ffmpeg bridge: cannot start the host shell\n");
    }
    for (const std::wstring& file : {script, errors, done, partial}) DeleteFileW(file.c_str());
    RemoveDirectoryW(work.c_str());
    return code;
}
