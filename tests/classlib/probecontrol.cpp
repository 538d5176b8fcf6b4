#include "tests/classlib/probecontrol.h"

#include <ole2.h>
#include <olectl.h>

namespace probe {

const wchar_t* const kProgId = L"ClassLibTests.ProbeControl";
const char* const kDeferredText = "The probe refuses this value";

namespace {
// {6D1C3A52-8E47-4F0B-9C1D-2B7E5A9F4C31}
const CLSID kProbeClass = {0x6d1c3a52, 0x8e47, 0x4f0b, {0x9c, 0x1d, 0x2b, 0x7e, 0x5a, 0x9f, 0x4c, 0x31}};
const char* const kProgIdKey = "ClassLibTests.ProbeControl";
const char* const kWindowClass = "ProbeControlWindow";
int liveControls = 0;

std::string StateOf(HWND window) {
    if (!window) return "none";
    return IsWindow(window) ? "alive" : "dead";
}

// The window an in-place site hands out now.
std::string ContainerState(IOleInPlaceSite* site) {
    if (!site) return "none";
    HWND window = nullptr;
    if (FAILED(site->GetWindow(&window))) return "none";
    return StateOf(window);
}

HRESULT STDAPICALLTYPE FillInException(EXCEPINFO* info) {
    std::wstring text(kDeferredText, kDeferredText + strlen(kDeferredText));
    info->scode = kDeferredError;
    info->bstrSource = SysAllocString(L"ProbeControl");
    info->bstrDescription = SysAllocString(text.c_str());
    return S_OK;
}

// A windowed control as containers meet it: site, in-place activation in a child window of
// its own, deactivation that destroys that window, close, and a dispatch interface.
class Control : public IOleObject, public IOleInPlaceObject, public IDispatch {
public:
    Control() { ++liveControls; }
    virtual ~Control() { --liveControls; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleObject)
            *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            *out = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IDispatch)
            *out = static_cast<IDispatch*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            Calls().push_back("Released");
            delete this;
        }
        return left;
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        if (site) {
            Calls().push_back("SetClientSite(site)");
            site->AddRef();
        } else {
            Calls().push_back("SetClientSite(null) container=" + ContainerState(inPlaceSite_));
            if (inPlaceSite_) inPlaceSite_->Release();
            inPlaceSite_ = nullptr;
        }
        if (clientSite_) clientSite_->Release();
        clientSite_ = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = clientSite_;
        if (clientSite_) clientSite_->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override {
        Calls().push_back("Close container=" + ContainerState(inPlaceSite_));
        if (active_) InPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** data) override {
        if (data) *data = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT area) override {
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW) return OLEOBJ_E_NOVERBS;
        if (!site || !parent || !area) return E_INVALIDARG;
        if (inPlaceSite_) inPlaceSite_->Release();
        inPlaceSite_ = nullptr;
        if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlaceSite_))))
            return E_NOINTERFACE;
        if (inPlaceSite_->CanInPlaceActivate() != S_OK) return E_FAIL;
        inPlaceSite_->OnInPlaceActivate();
        window_ = CreateWindowExA(0, kWindowClass, "", WS_CHILD | WS_VISIBLE, area->left, area->top,
                                  area->right - area->left, area->bottom - area->top, parent, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        active_ = true;
        Calls().push_back("DoVerb own=" + StateOf(window_) + " container=" + ContainerState(inPlaceSite_));
        return S_OK;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override {
        if (verbs) *verbs = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* id) override {
        if (!id) return E_POINTER;
        *id = kProbeClass;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR* type) override {
        if (type) *type = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL* size) override {
        if (size) *size = SIZEL{2540, 2540};
        return S_OK;
    }
    STDMETHODIMP Advise(IAdviseSink*, DWORD* cookie) override {
        if (cookie) *cookie = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** data) override {
        if (data) *data = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
        if (!status) return E_POINTER;
        *status = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_RECOMPOSEONRESIZE;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = window_;
        return window_ ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    // As a windowed control does: its window goes, and the site hears of it.
    STDMETHODIMP InPlaceDeactivate() override {
        Calls().push_back("InPlaceDeactivate own=" + StateOf(window_) + " container=" + ContainerState(inPlaceSite_));
        if (!active_) return S_OK;
        active_ = false;
        if (IsWindow(window_)) DestroyWindow(window_);
        window_ = nullptr;
        if (inPlaceSite_) inPlaceSite_->OnInPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override {
        if (position && IsWindow(window_))
            MoveWindow(window_, position->left, position->top, position->right - position->left,
                       position->bottom - position->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // IDispatch: properties by identifier; kDeferredFailure fails with a deferred exception.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO* info, UINT*) override {
        if (result) VariantInit(result);
        if (id != kDeferredFailure) return S_OK;
        if (!info) return E_FAIL;
        *info = EXCEPINFO{};
        info->pfnDeferredFillIn = FillInException;
        return DISP_E_EXCEPTION;
    }

private:
    ULONG refs_ = 1;
    IOleClientSite* clientSite_ = nullptr;
    IOleInPlaceSite* inPlaceSite_ = nullptr;
    HWND window_ = nullptr;
    bool active_ = false;
};

class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // Lives as long as the program: no count.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Control* control = new Control;
        HRESULT hr = control->QueryInterface(iid, out);
        control->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory factory;
}  // namespace

Registration::Registration() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
    wchar_t clsid[64];
    StringFromGUID2(kProbeClass, clsid, 64);
    char text[64];
    WideCharToMultiByte(CP_ACP, 0, clsid, -1, text, sizeof(text), nullptr, nullptr);
    HKEY key;
    std::string path = std::string(kProgIdKey) + "\\CLSID";
    if (RegCreateKeyA(HKEY_CLASSES_ROOT, path.c_str(), &key) != ERROR_SUCCESS) return;
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), DWORD(strlen(text) + 1));
    RegCloseKey(key);
    if (FAILED(CoRegisterClassObject(kProbeClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_)))
        cookie_ = 0;
}

Registration::~Registration() {
    if (cookie_) CoRevokeClassObject(cookie_);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kProgIdKey);
}

std::vector<std::string>& Calls() {
    static std::vector<std::string> calls;
    return calls;
}

std::vector<std::string> CallsNamed(const std::vector<std::string>& names) {
    std::vector<std::string> kept;
    for (const std::string& call : Calls())
        for (const std::string& name : names)
            if (call.rfind(name, 0) == 0) {
                kept.push_back(call);
                break;
            }
    return kept;
}

int LiveControls() { return liveControls; }

}  // namespace probe
