// The Linux path Wine maps a Windows path to: Wine's own mapping when it offers it, else Z:\ is /.
// Shared by the bridge ffmpeg.exe and the test driver, which both hand paths to host programs.
#pragma once
#include <windows.h>

#include <string>

inline std::string WineUnixPath(const std::wstring& windowsPath) {
    wchar_t full[4096];
    DWORD n = GetFullPathNameW(windowsPath.c_str(), 4096, full, nullptr);
    std::wstring path = n > 0 && n < 4096 ? std::wstring(full) : windowsPath;
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix) {
        if (char* unix = toUnix(path.c_str())) {
            std::string result(unix);
            HeapFree(GetProcessHeap(), 0, unix);
            return result;
        }
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, result.data(), size, nullptr, nullptr);
    result.resize(result.size() - 1);
    if (result.size() >= 2 && (result[0] == 'Z' || result[0] == 'z') && result[1] == ':') result.erase(0, 2);
    for (char& c : result)
        if (c == '\\') c = '/';
    return result;
}
