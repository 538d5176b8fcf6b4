// Access to the Windows registry: one open key at a time under a root key.
#pragma once
#include <windows.h>

#include <string>

#include "classlib/sysutils.h"

class TRegistry {
public:
    explicit TRegistry(REGSAM access = KEY_ALL_ACCESS);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return root_; }
    // Setting the root key closes the open key.
    void SetRootKey(HKEY root);
    HKEY CurrentKey() const { return current_; }
    const std::string& CurrentPath() const { return path_; }

    // A key starting with '\' is taken from the root key, otherwise from the open key.
    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    bool KeyExists(const std::string& key);
    bool CreateKey(const std::string& key);
    void CloseKey();

    bool ValueExists(const std::string& name);
    // A missing value reads as ""; a value that is not text raises ERegistryException.
    std::string ReadString(const std::string& name);
    // A missing value or one that is not a 32-bit integer raises ERegistryException.
    int ReadInteger(const std::string& name);
    bool ReadBool(const std::string& name) { return ReadInteger(name) != 0; }
    // Writes raise ERegistryException "Failed to set data for '<name>'".
    void WriteString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, int value);
    void WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

private:
    HKEY BaseFor(const std::string& key, std::string& relative) const;
    REGSAM access_;
    HKEY root_ = HKEY_CURRENT_USER;
    HKEY current_ = nullptr;
    std::string path_;
};
