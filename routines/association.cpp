#include "routines/association.h"

#include <windows.h>
#include <shlobj.h>

#include "classlib/registry.h"

namespace {
void WriteDefault(TRegistry& registry, const std::string& key, const std::string& value) {
    if (!registry.OpenKey(key, true)) throw ERegistryException("Failed to create key " + key);
    registry.WriteString("", value);
    registry.CloseKey();
}
}  // namespace

void RegisterFileType(const std::string& ext, const std::string& progId) {
    const std::string program = ExeName();
    {
        TRegistry registry;
        registry.SetRootKey(HKEY_CLASSES_ROOT);
        WriteDefault(registry, "\\." + ext, progId);
        registry.CreateKey("\\" + progId);
        WriteDefault(registry, "\\" + progId + "\\DefaultIcon", program + ",0");
        WriteDefault(registry, "\\" + progId + "\\shell\\open\\command", program + " \"%1\"");
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
