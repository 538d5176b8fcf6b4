// The fixed version information of a file's version resource.
#pragma once
#include <cstdint>
#include <string>

// The leading eleven fields of the platform's VS_FIXEDFILEINFO block, in its order.
struct TFixedFileInfo {
    uint32_t dwSignature;
    uint32_t dwStrucVersion;
    uint32_t dwFileVersionMS;
    uint32_t dwFileVersionLS;
    uint32_t dwProductVersionMS;
    uint32_t dwProductVersionLS;
    uint32_t dwFileFlagsMask;
    uint32_t dwFileFlags;
    uint32_t dwFileOS;
    uint32_t dwFileType;
    uint32_t dwFileSubtype;
};
static_assert(sizeof(TFixedFileInfo) == 44);

// Fills info from fileName's version resource; leaves it untouched when there is none.
void GetFixedFileInfo(const std::string& fileName, TFixedFileInfo& info);
