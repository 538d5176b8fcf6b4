#include "classlib/olectrls.h"

#include <ocidl.h>
#include <olectl.h>
#include <oleidl.h>

#include "classlib/forms.h"

namespace {
const char* const kContainerClass = "TOleControl";

template <typename T>
void ReleaseRef(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// Pixels to the HIMETRIC units of an extent.
SIZEL PixelsToHimetric(int width, int height) {
    HDC screen = GetDC(nullptr);
    int dpiX = GetDeviceCaps(screen, LOGPIXELSX), dpiY = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return SIZEL{MulDiv(width, 2540, dpiX), MulDiv(height, 2540, dpiY)};
}
}  // namespace

namespace {
// Frees what an Invoke left in info and raises for a failing result. A control may leave
// its exception's code and text to be filled in only when asked.
void CheckInvoke(HRESULT hr, EXCEPINFO& info) {
    if (hr == DISP_E_EXCEPTION && info.pfnDeferredFillIn) {
        auto fillIn = info.pfnDeferredFillIn;
        info.pfnDeferredFillIn = nullptr;
        fillIn(&info);
    }
    std::string description = info.bstrDescription
                                  ? WideToAnsi(std::wstring(info.bstrDescription, SysStringLen(info.bstrDescription)))
                                  : "";
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    // An exception raised by the control is told by the code it handed back, not by the
    // dispatch's own DISP_E_EXCEPTION, which has no text of its own.
    const HRESULT raised = info.scode;
    info = EXCEPINFO{};
    if (hr == DISP_E_EXCEPTION && FAILED(raised)) hr = raised;
    if (FAILED(hr) && !description.empty()) throw EOleSysError(description, hr);
    OleCheck(hr);
}
}  // namespace

void OleCheck(HRESULT hr, const EXCEPINFO* info) {
    if (SUCCEEDED(hr)) return;
    std::string message;
    if (info && info->bstrDescription)
        message = WideToAnsi(std::wstring(info->bstrDescription, SysStringLen(info->bstrDescription)));
    if (message.empty()) message = SysErrorMessage(static_cast<unsigned long>(hr));
    if (message.empty()) {
        char code[32];
        wsprintfA(code, "OLE error %08X", static_cast<unsigned>(hr));
        message = code;
    }
    throw EOleSysError(message, hr);
}

// A dispatch interface reached only by dispatch identifiers: no type information, no names.
class IdOnlyDispatch : public IDispatch {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
};

namespace {
// A COM object of the hosting, made of Interfaces: created with one reference (its creator's),
// it frees itself with its last reference and answers QueryInterface through Find.
template <typename... Interfaces>
class RefCounted : public Interfaces... {
public:
    virtual ~RefCounted() = default;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = Find(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    // The interface that answers for iid, nullptr when none does.
    virtual void* Find(REFIID iid) = 0;

private:
    ULONG refs_ = 1;
};
}  // namespace

// --- the client site -------------------------------------------------------

// The container side of the hosting: client site, in-place site and frame, control site
// and the ambient properties. Reference counted; the control drops it when it is freed.
class TOleControl::Site
    : public RefCounted<IOleClientSite, IOleInPlaceSite, IOleInPlaceFrame, IOleControlSite, IdOnlyDispatch> {
public:
    explicit Site(TOleControl* owner) : owner_(owner) {}
    void Detach() { owner_ = nullptr; }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (in-place site and frame)
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = owner_ ? owner_->Handle() : nullptr;
        return *window ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return owner_ ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        if (frame) {
            *frame = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
        }
        if (document) *document = nullptr;
        RECT area{};
        if (owner_) GetClientRect(owner_->Handle(), &area);
        if (position) *position = area;
        if (clip) *clip = area;
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = owner_ ? GetAncestor(owner_->Handle(), GA_ROOT) : nullptr;
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT position) override {
        if (owner_ && owner_->inPlaceObject_ && position) owner_->inPlaceObject_->SetObjectRects(position, position);
        return S_OK;
    }

    // IOleInPlaceUIWindow and IOleInPlaceFrame: no tool space, menus or status text of the control.
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override {
        if (!owner_) return S_OK;
        if (active) active->AddRef();
        ReleaseRef(owner_->activeObject_);
        owner_->activeObject_ = active;
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** control) override {
        if (control) *control = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG, DWORD) override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

    // IDispatch: the ambient properties. The control runs in user mode.
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
        switch (id) {
        case DISPID_AMBIENT_USERMODE:
        case DISPID_AMBIENT_MESSAGEREFLECT:
            result->vt = VT_BOOL;
            result->boolVal = id == DISPID_AMBIENT_USERMODE ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }

protected:
    void* Find(REFIID iid) override {
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) return static_cast<IOleClientSite*>(this);
        if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) return static_cast<IOleInPlaceSite*>(this);
        if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) return static_cast<IOleInPlaceFrame*>(this);
        if (iid == IID_IOleControlSite) return static_cast<IOleControlSite*>(this);
        if (iid == IID_IDispatch) return static_cast<IDispatch*>(this);
        return nullptr;
    }

private:
    TOleControl* owner_;
};

// --- the event sink --------------------------------------------------------

// Answers as the control's event interface (learned from the control) and hands every
// event to the control object, on the GUI thread where the control raises it.
class TOleControl::EventSink : public RefCounted<IdOnlyDispatch> {
public:
    EventSink(TOleControl* owner, const IID& events) : owner_(owner), events_(events) {}
    void Detach() { owner_ = nullptr; }

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (result) VariantInit(result);
        if (!owner_) return S_OK;
        AddRef();  // the handler may free the control
        DISPPARAMS none{};
        TOleControl* owner = owner_;
        SafeCall([&] { owner->InvokeEvent(id, params ? params : &none); });
        Release();
        return S_OK;
    }

protected:
    void* Find(REFIID iid) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == events_) return static_cast<IDispatch*>(this);
        return nullptr;
    }

private:
    TOleControl* owner_;
    IID events_;
};

// --- TOleControl -----------------------------------------------------------

TOleControl::TOleControl(TComponent* owner, TWinControl* parent, const std::wstring& progId)
    : TWinControl(owner, parent) {
    RegisterLibraryClass(kContainerClass, CS_DBLCLKS, reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    width_ = 100;
    height_ = 100;
    CreateWindowHandle(kContainerClass, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_TABSTOP, 0,
                       parent->Handle());
    site_ = new Site(this);
    try {
        CreateControl(progId);
    } catch (const std::exception& error) {
        creationError_ = error.what();
        Disconnect();
        Application->HandleException(error);
    }
    // Keys for the control (arrows, Tab inside a movie) go to it before the form sees them.
    filterId_ = Application->AddMessageFilter([this](MSG& msg) { return TranslateKey(msg); });
}

TOleControl::~TOleControl() {
    Application->RemoveMessageFilter(filterId_);
    Disconnect();
    if (site_) {
        site_->Detach();
        site_->Release();
        site_ = nullptr;
    }
}

void TOleControl::CreateControl(const std::wstring& progId) {
    CLSID classId;
    OleCheck(CLSIDFromProgID(progId.c_str(), &classId));
    OleCheck(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                              reinterpret_cast<void**>(&oleObject_)));
    DWORD status = 0;
    oleObject_->GetMiscStatus(DVASPECT_CONTENT, &status);
    IOleClientSite* clientSite = static_cast<IOleClientSite*>(site_);
    bool siteFirst = (status & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (siteFirst) OleCheck(oleObject_->SetClientSite(clientSite));
    // The control starts from its own defaults: no stored property block.
    IPersistStreamInit* persist = nullptr;
    if (oleObject_->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)) == S_OK) {
        persist->InitNew();
        persist->Release();
    }
    if (!siteFirst) OleCheck(oleObject_->SetClientSite(clientSite));
    OleSetContainedObject(oleObject_, TRUE);
    SIZEL extent = PixelsToHimetric(ClientWidth(), ClientHeight());
    oleObject_->SetExtent(DVASPECT_CONTENT, &extent);
    OleCheck(oleObject_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch_)));
    RECT area;
    GetClientRect(handle_, &area);
    OleCheck(oleObject_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, clientSite, 0, handle_, &area));
    oleObject_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlaceObject_));
    UpdateObjectRects();
    ConnectEvents();
}

// Finds the control's default source interface: from its class information when it gives
// it, otherwise the first connection point that is not the property-change one.
void TOleControl::ConnectEvents() {
    IConnectionPointContainer* container = nullptr;
    if (oleObject_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)) != S_OK) return;
    bool found = false;
    IProvideClassInfo2* info2 = nullptr;
    if (oleObject_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info2)) == S_OK) {
        found = info2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &eventIid_) == S_OK;
        info2->Release();
    }
    IProvideClassInfo* info = nullptr;
    if (!found && oleObject_->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&info)) == S_OK) {
        ITypeInfo* classInfo = nullptr;
        TYPEATTR* attributes = nullptr;
        if (info->GetClassInfo(&classInfo) == S_OK && classInfo->GetTypeAttr(&attributes) == S_OK) {
            for (UINT i = 0; i < attributes->cImplTypes && !found; ++i) {
                INT flags = 0;
                HREFTYPE reference = 0;
                ITypeInfo* source = nullptr;
                TYPEATTR* sourceAttributes = nullptr;
                if (classInfo->GetImplTypeFlags(i, &flags) != S_OK ||
                    (flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) !=
                        (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
                    continue;
                if (classInfo->GetRefTypeOfImplType(i, &reference) == S_OK &&
                    classInfo->GetRefTypeInfo(reference, &source) == S_OK &&
                    source->GetTypeAttr(&sourceAttributes) == S_OK) {
                    eventIid_ = sourceAttributes->guid;
                    found = true;
                    source->ReleaseTypeAttr(sourceAttributes);
                }
                ReleaseRef(source);
            }
            classInfo->ReleaseTypeAttr(attributes);
        }
        ReleaseRef(classInfo);
        info->Release();
    }
    if (!found) {
        IEnumConnectionPoints* points = nullptr;
        if (container->EnumConnectionPoints(&points) == S_OK && points) {
            IConnectionPoint* point = nullptr;
            while (!found && points->Next(1, &point, nullptr) == S_OK) {
                IID iid;
                if (point->GetConnectionInterface(&iid) == S_OK && iid != IID_IPropertyNotifySink) {
                    eventIid_ = iid;
                    found = true;
                }
                point->Release();
            }
            points->Release();
        }
    }
    if (found && container->FindConnectionPoint(eventIid_, &connectionPoint_) == S_OK) {
        sink_ = new EventSink(this, eventIid_);
        if (connectionPoint_->Advise(static_cast<IDispatch*>(sink_), &cookie_) != S_OK) {
            cookie_ = 0;
            ReleaseRef(connectionPoint_);
        }
    }
    container->Release();
}

void TOleControl::Disconnect() {
    if (connectionPoint_) {
        if (cookie_) connectionPoint_->Unadvise(cookie_);
        ReleaseRef(connectionPoint_);
    }
    if (sink_) {
        sink_->Detach();
        sink_->Release();
        sink_ = nullptr;
    }
    ReleaseRef(activeObject_);
    if (inPlaceObject_) {
        inPlaceObject_->InPlaceDeactivate();
        ReleaseRef(inPlaceObject_);
    }
    ReleaseRef(dispatch_);
    if (oleObject_) {
        oleObject_->Close(OLECLOSE_NOSAVE);
        oleObject_->SetClientSite(nullptr);
        ReleaseRef(oleObject_);
    }
}

void TOleControl::UpdateObjectRects() {
    if (!inPlaceObject_ || !handle_) return;
    RECT area;
    GetClientRect(handle_, &area);
    inPlaceObject_->SetObjectRects(&area, &area);
}

void TOleControl::BoundsChanged() {
    if (!oleObject_) return;
    SIZEL extent = PixelsToHimetric(ClientWidth(), ClientHeight());
    oleObject_->SetExtent(DVASPECT_CONTENT, &extent);
    UpdateObjectRects();
}

LRESULT TOleControl::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETFOCUS:
        // The focus belongs to the control's own window inside this one.
        if (HWND inner = GetWindow(handle_, GW_CHILD)) {
            ::SetFocus(inner);
            return 0;
        }
        break;
    case WM_SIZE: UpdateObjectRects(); break;
    case WM_DESTROY:
        // Destroyed from outside (with a parent window): the control leaves while its own
        // window, a child of this one, still exists.
        Disconnect();
        break;
    default: break;
    }
    return TWinControl::WndProc(message, wParam, lParam);
}

bool TOleControl::TranslateKey(MSG& msg) {
    if (!activeObject_ || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    if (msg.hwnd != handle_ && !IsChild(handle_, msg.hwnd)) return false;
    return activeObject_->TranslateAccelerator(&msg) == S_OK;
}

IDispatch* TOleControl::CheckedDispatch() const {
    if (!dispatch_)
        throw EOleError("The control is not available" + (creationError_.empty() ? "" : ": " + creationError_));
    return dispatch_;
}

void TOleControl::SetProperty(DISPID id, const VARIANT& value) {
    IDispatch* dispatch = CheckedDispatch();
    VARIANT argument = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&argument, &named, 1, 1};
    EXCEPINFO info{};
    UINT argumentError = 0;
    HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &info,
                                  &argumentError);
    CheckInvoke(hr, info);
}

void TOleControl::SetIntegerProp(DISPID id, int value) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = value;
    SetProperty(id, v);
}

void TOleControl::SetWideStringProp(DISPID id, const std::wstring& value) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    try {
        SetProperty(id, v);
    } catch (...) {
        SysFreeString(v.bstrVal);
        throw;
    }
    SysFreeString(v.bstrVal);
}

std::wstring TOleControl::CallStringMethod(const wchar_t* name, const std::wstring& argument) {
    IDispatch* dispatch = CheckedDispatch();
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    OleCheck(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocStringLen(argument.data(), static_cast<UINT>(argument.size()));
    DISPPARAMS params{&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    UINT argumentError = 0;
    HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &info,
                                  &argumentError);
    SysFreeString(arg.bstrVal);
    std::wstring reply;
    if (SUCCEEDED(hr) && result.vt == VT_BSTR && result.bstrVal)
        reply.assign(result.bstrVal, SysStringLen(result.bstrVal));
    VariantClear(&result);
    CheckInvoke(hr, info);
    return reply;
}
