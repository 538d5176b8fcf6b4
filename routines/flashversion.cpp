#include "routines/flashversion.h"

#include "classlib/registry.h"
#include "routines/fileversion.h"

namespace {
const char* const kFlashClassKey = "ShockwaveFlash.ShockwaveFlash\\CLSID";

// The default value of key under the classes root, or "" when key or value is missing.
std::string ReadClassesRootDefault(TRegistry& registry, const std::string& key) {
    registry.SetRootKey(HKEY_CLASSES_ROOT);
    registry.OpenKeyReadOnly(key);  // a missing key leaves no key open: the read gives ""
    std::string value = registry.ReadString("");
    registry.CloseKey();
    return value;
}
}  // namespace

int GetFlashVersion() {
    int version = 0;
    std::string controlFile;
    {
        TRegistry registry;
        std::string classId = ReadClassesRootDefault(registry, kFlashClassKey);
        controlFile = ReadClassesRootDefault(registry, "CLSID\\" + classId + "\\InprocServer32");
    }
    if (FileExists(controlFile)) {
        TFixedFileInfo info{};
        GetFixedFileInfo(controlFile, info);
        version = static_cast<int>(info.dwFileVersionMS >> 16);
    }
    return version;
}
