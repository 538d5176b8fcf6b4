#include "player/shockwaveflash.h"

TShockwaveFlash::TShockwaveFlash(TComponent* owner, TWinControl* parent)
    : TOleControl(owner, parent, L"ShockwaveFlash.ShockwaveFlash") {}

void TShockwaveFlash::InvokeEvent(DISPID id, DISPPARAMS* params) {
    if (id != DispidFlashCall || params->cArgs < 1 || !OnFlashCall) return;
    // The one argument may come by value or by reference; anything else is made text.
    VARIANT& argument = params->rgvarg[params->cArgs - 1];
    std::wstring request;
    if (argument.vt == VT_BSTR) {
        if (argument.bstrVal) request.assign(argument.bstrVal, SysStringLen(argument.bstrVal));
    } else if (argument.vt == (VT_BSTR | VT_BYREF)) {
        if (argument.pbstrVal && *argument.pbstrVal)
            request.assign(*argument.pbstrVal, SysStringLen(*argument.pbstrVal));
    } else {
        VARIANT text;
        VariantInit(&text);
        OleCheck(VariantChangeType(&text, &argument, 0, VT_BSTR));
        if (text.bstrVal) request.assign(text.bstrVal, SysStringLen(text.bstrVal));
        VariantClear(&text);
    }
    OnFlashCall(this, request);
}
