// The Flash control stand-in, registered in the test prefix the way regsvr32 does it.
#pragma once
#include <windows.h>

#include <string>

namespace standin {

// The folder of the built programs and the stand-in (…\bin\ beside the tests' folder).
inline std::string BinFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path);
    return p.substr(0, p.rfind("\\tests\\")) + "\\bin\\";
}

inline bool RegisterFlashStandIn() {
    HMODULE dll = LoadLibraryA((BinFolder() + "flashctl.dll").c_str());
    if (!dll) return false;
    auto doRegister = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(dll, "DllRegisterServer"));
    bool ok = doRegister && SUCCEEDED(doRegister());
    FreeLibrary(dll);
    return ok;
}

}  // namespace standin
