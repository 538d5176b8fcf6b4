#include "routines/fileversion.h"

#include <windows.h>

#include <cstring>
#include <vector>

void GetFixedFileInfo(const std::string& fileName, TFixedFileInfo& info) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(fileName.c_str(), &ignored);
    if (size == 0) return;
    std::vector<char> buffer(size);  // released on every path
    if (!GetFileVersionInfoA(fileName.c_str(), 0, size, buffer.data())) return;
    void* block = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(buffer.data(), "\\", &block, &length) || !block || length < sizeof(TFixedFileInfo)) return;
    std::memcpy(&info, block, sizeof(TFixedFileInfo));
}
