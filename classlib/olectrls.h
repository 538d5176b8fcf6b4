// ActiveX control hosting: a windowed control that creates an ActiveX control from its
// program identifier, activates it in place inside its own window, sets its properties
// through its dispatch interface and receives its events through its connection point.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <oleidl.h>

#include <memory>
#include <string>

#include "classlib/controls.h"

class TOleControl : public TWinControl {
public:
    // Creates the control progId names inside a child window of parent. A control that
    // cannot be created is reported in the default error box; the window then stays empty
    // and every later property or method raises EOleError.
    TOleControl(TComponent* owner, TWinControl* parent, const std::wstring& progId);
    ~TOleControl() override;

    bool HasControl() const { return dispatch_ != nullptr; }
    // The control's default dispatch interface (not AddRef'ed), nullptr without a control.
    IDispatch* DefaultDispatch() const { return dispatch_; }
    // The interface identifier of the event interface the control's connection point serves.
    const IID& EventInterface() const { return eventIid_; }

    // Property put by dispatch identifier; a failing result raises EOleSysError.
    void SetProperty(DISPID id, const VARIANT& value);
    void SetIntegerProp(DISPID id, int value);
    void SetWideStringProp(DISPID id, const std::wstring& value);
    // Calls the method of that name with one wide-string argument and returns its result as text.
    std::wstring CallStringMethod(const wchar_t* name, const std::wstring& argument);

protected:
    // One event of the control, on the GUI thread. What it raises is shown in the default error box.
    virtual void InvokeEvent(DISPID id, DISPPARAMS* params) {}
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void BoundsChanged() override;

private:
    class Site;
    class EventSink;
    friend class Site;
    friend class EventSink;
    void CreateControl(const std::wstring& progId);
    void ConnectEvents();
    void UpdateObjectRects();
    void Disconnect();
    IDispatch* CheckedDispatch() const;
    bool TranslateKey(MSG& msg);

    Site* site_ = nullptr;
    EventSink* sink_ = nullptr;
    IOleObject* oleObject_ = nullptr;
    IOleInPlaceObject* inPlaceObject_ = nullptr;
    IOleInPlaceActiveObject* activeObject_ = nullptr;
    IDispatch* dispatch_ = nullptr;
    IConnectionPoint* connectionPoint_ = nullptr;
    DWORD cookie_ = 0;
    IID eventIid_ = IID_NULL;
    std::string creationError_;
    int filterId_ = 0;
};

// Raises EOleSysError for a failing result code, with the text of the exception info if any.
void OleCheck(HRESULT hr, const EXCEPINFO* info = nullptr);
