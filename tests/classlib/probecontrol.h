// An ActiveX control of the tests' own, served from the test program itself: it records the
// calls a container makes on it, in order, with the state of the windows each call finds.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace probe {

// The program identifier the control is created by while a Registration lives.
extern const wchar_t* const kProgId;
// A property whose put fails with DISP_E_EXCEPTION and leaves its code and text to be
// filled in on request (kDeferredError and kDeferredText).
constexpr DISPID kDeferredFailure = 7;
constexpr HRESULT kDeferredError = static_cast<HRESULT>(0x80040207);
extern const char* const kDeferredText;

// Serves the control's class in this process and names it kProgId in the classes root.
class Registration {
public:
    Registration();
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    bool Ok() const { return cookie_ != 0; }

private:
    DWORD cookie_ = 0;
};

// The calls recorded since the last Clear, for instance
// "InPlaceDeactivate own=alive container=alive": own is the control's window, container the
// window its in-place site hands out at that moment (alive, dead or none).
std::vector<std::string>& Calls();
// The recorded calls that start with one of the names, in order.
std::vector<std::string> CallsNamed(const std::vector<std::string>& names);
// Controls created and not yet released to their end.
int LiveControls();

}  // namespace probe
