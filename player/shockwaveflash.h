// The Flash Player ActiveX control as the player uses it: five properties put by dispatch
// identifier, the XML call into the loaded movie and the movie's FlashCall event.
#pragma once
#include <functional>
#include <string>

#include "classlib/olectrls.h"

using TFlashCallEvent = std::function<void(TObject* sender, const std::wstring& request)>;

class TShockwaveFlash : public TOleControl {
public:
    static constexpr DISPID DispidMovie = 102;
    static constexpr DISPID DispidAlignMode = 121;
    static constexpr DISPID DispidBackgroundColor = 123;
    static constexpr DISPID DispidSAlign = 134;
    static constexpr DISPID DispidScale = 137;
    static constexpr DISPID DispidFlashCall = 197;

    TShockwaveFlash(TComponent* owner, TWinControl* parent);

    void SetMovie(const std::wstring& path) { SetWideStringProp(DispidMovie, path); }
    void SetAlignMode(int mode) { SetIntegerProp(DispidAlignMode, mode); }
    void SetBackgroundColor(int rgb) { SetIntegerProp(DispidBackgroundColor, rgb); }
    void SetSAlign(const std::wstring& align) { SetWideStringProp(DispidSAlign, align); }
    void SetScale(const std::wstring& scale) { SetWideStringProp(DispidScale, scale); }
    // Hands an XML request to the loaded movie and returns its XML reply.
    std::wstring CallFunction(const std::wstring& request) { return CallStringMethod(L"CallFunction", request); }

    // A request from the movie (one XML text).
    TFlashCallEvent OnFlashCall;

protected:
    void InvokeEvent(DISPID id, DISPPARAMS* params) override;
};
