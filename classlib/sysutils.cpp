#include "classlib/sysutils.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <vector>

std::string SysErrorMessage(unsigned long code) {
    char* buffer = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = n && buffer ? std::string(buffer, n) : "System error " + IntToStr(code);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

void RaiseLastOSError() {
    DWORD code = GetLastError();
    throw EOSError("System Error.  Code: " + IntToStr(code) + ".\r\n" + SysErrorMessage(code), code);
}

std::string IntToStr(long long value) { return std::to_string(value); }

int StrToInt(const std::string& text) {
    const std::string s = Trim(text);
    const bool negative = !s.empty() && s[0] == '-';
    size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    bool digits = i < s.size();
    long long value = 0;
    for (; i < s.size() && digits; ++i) {
        if (s[i] < '0' || s[i] > '9')
            digits = false;
        else
            value = value * 10 + (s[i] - '0');
        if (value > 0x80000000LL) digits = false;
    }
    if (negative) value = -value;
    if (!digits || value > 0x7FFFFFFF || value < -0x7FFFFFFFLL - 1)
        throw EConvertError("'" + s + "' is not a valid integer value");
    return static_cast<int>(value);
}

std::string LowerCase(const std::string& s) {
    std::string r = s;
    std::transform(r.begin(), r.end(), r.begin(),
                   [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : char(c); });
    return r;
}

std::string UpperCase(const std::string& s) {
    std::string r = s;
    std::transform(r.begin(), r.end(), r.begin(),
                   [](unsigned char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : char(c); });
    return r;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

namespace {
bool IsPathDelimiter(char c) { return c == '\\' || c == '/' || c == ':'; }
size_t NameStart(const std::string& path) {
    size_t i = path.size();
    while (i > 0 && !IsPathDelimiter(path[i - 1])) --i;
    return i;
}
}  // namespace

std::string ExtractFileName(const std::string& path) { return path.substr(NameStart(path)); }
std::string ExtractFilePath(const std::string& path) { return path.substr(0, NameStart(path)); }

std::string ExtractFileExt(const std::string& path) {
    size_t start = NameStart(path);
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < start) return "";
    return path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    size_t start = NameStart(path);
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < start) return path + ext;
    return path.substr(0, dot) + ext;
}

bool FileExists(const std::string& path) {
    if (path.empty()) return false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ExeName() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExeFolder() { return ExtractFilePath(ExeName()); }

namespace {
// Splits the command line the way the class library's ParamStr does: blanks separate,
// double quotes group and are removed.
std::vector<std::string> SplitCommandLine() {
    std::vector<std::string> args;
    const char* p = GetCommandLineA();
    for (;;) {
        while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
        if (!*p) break;
        std::string arg;
        bool quoted = false;
        while (*p && (quoted || static_cast<unsigned char>(*p) > ' ')) {
            if (*p == '"')
                quoted = !quoted;
            else
                arg += *p;
            ++p;
        }
        args.push_back(arg);
    }
    return args;
}
}  // namespace

int ParamCount() {
    auto args = SplitCommandLine();
    return args.empty() ? 0 : static_cast<int>(args.size()) - 1;
}

std::string ParamStr(int index) {
    if (index == 0) return ExeName();
    auto args = SplitCommandLine();
    return index > 0 && index < static_cast<int>(args.size()) ? args[index] : std::string();
}

std::string WideToAnsi(const std::wstring& text) {
    if (text.empty()) return "";
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), n, nullptr, nullptr);
    return result;
}
