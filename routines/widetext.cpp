#include "routines/widetext.h"

#include <windows.h>

std::wstring StringToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    // First pass: the length including the terminating zero (the input's own zero is counted).
    int length = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.c_str(), -1, nullptr, 0);
    if (length <= 1) return std::wstring();
    std::wstring wide(static_cast<size_t>(length - 1), L'\0');
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.c_str(), -1, wide.data(), length);
    return wide;
}
