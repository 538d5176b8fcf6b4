#include "classlib/registry.h"

#include <vector>

TRegistry::TRegistry(REGSAM access) : access_(access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    root_ = root;
}

void TRegistry::CloseKey() {
    if (current_) RegCloseKey(current_);
    current_ = nullptr;
    path_.clear();
}

HKEY TRegistry::BaseFor(const std::string& key, std::string& relative) const {
    bool absolute = !key.empty() && key[0] == '\\';
    relative = absolute ? key.substr(1) : key;
    return (absolute || !current_) ? root_ : current_;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    std::string relative;
    HKEY base = BaseFor(key, relative);
    HKEY opened = nullptr;
    LONG rc = canCreate ? RegCreateKeyExA(base, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_, nullptr,
                                          &opened, nullptr)
                        : RegOpenKeyExA(base, relative.c_str(), 0, access_, &opened);
    if (rc != ERROR_SUCCESS) return false;
    std::string newPath = (base == current_ && current_) ? path_ + "\\" + relative : relative;
    CloseKey();
    current_ = opened;
    path_ = newPath;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    REGSAM saved = access_;
    access_ = KEY_READ;
    bool ok = OpenKey(key, false);
    access_ = saved;
    return ok;
}

bool TRegistry::KeyExists(const std::string& key) {
    std::string relative;
    HKEY base = BaseFor(key, relative);
    HKEY opened = nullptr;
    if (RegOpenKeyExA(base, relative.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

bool TRegistry::CreateKey(const std::string& key) {
    std::string relative;
    HKEY base = BaseFor(key, relative);
    HKEY created = nullptr;
    if (RegCreateKeyExA(base, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_, nullptr, &created,
                        nullptr) != ERROR_SUCCESS)
        throw ERegistryException("Failed to create key " + key);
    RegCloseKey(created);
    return true;
}

bool TRegistry::ValueExists(const std::string& name) {
    if (!current_) return false;
    return RegQueryValueExA(current_, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string TRegistry::ReadString(const std::string& name) {
    if (!current_) return "";
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(current_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return "";
    if (type != REG_SZ && type != REG_EXPAND_SZ) throw ERegistryException("Invalid data type for '" + name + "'");
    std::vector<char> data(size + 1, 0);
    if (RegQueryValueExA(current_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return "";
    return std::string(data.data());
}

int TRegistry::ReadInteger(const std::string& name) {
    DWORD type = 0, value = 0, size = sizeof(value);
    if (!current_ ||
        RegQueryValueExA(current_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        throw ERegistryException("Invalid data type for '" + name + "'");
    return static_cast<int>(value);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    if (!current_ || RegSetValueExA(current_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
        throw ERegistryException("Failed to set data for '" + name + "'");
}

void TRegistry::WriteInteger(const std::string& name, int value) {
    DWORD data = static_cast<DWORD>(value);
    if (!current_ || RegSetValueExA(current_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                    sizeof(data)) != ERROR_SUCCESS)
        throw ERegistryException("Failed to set data for '" + name + "'");
}
