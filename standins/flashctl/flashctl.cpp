// Stand-in for the Flash Player ActiveX control in a test Wine prefix. It registers under
// the control's program identifier, is hosted in place, takes the properties and the XML
// call the player uses, plays the companion movie's part for videos and logs everything
// it receives, in order, to the file named by FLASHCTL_LOG. It refuses what the real control
// refuses: a call no loaded movie takes fails.
#include <windows.h>
#include <msxml2.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "standins/flashctl/flvsize.h"

namespace {

// {6C1E3F1A-9B2D-4E57-A0C4-7D5B1E2F3A90}
const CLSID CLSID_FlashStandIn = {0x6c1e3f1a, 0x9b2d, 0x4e57, {0xa0, 0xc4, 0x7d, 0x5b, 0x1e, 0x2f, 0x3a, 0x90}};
// The event interface of the stand-in: {6C1E3F1B-9B2D-4E57-A0C4-7D5B1E2F3A90}
const IID IID_FlashStandInEvents = {0x6c1e3f1b, 0x9b2d, 0x4e57, {0xa0, 0xc4, 0x7d, 0x5b, 0x1e, 0x2f, 0x3a, 0x90}};
const char* const kProgId = "ShockwaveFlash.ShockwaveFlash";
const char* const kWindowClass = "FlashStandIn";
// WM_COPYDATA with this tag raises FlashCall with the UTF-16 text it carries (a test hook).
const ULONG_PTR kCopyDataFlashCall = 0x464C;
const UINT WM_FIRE_READY = WM_APP + 1;

const DISPID DISPID_MOVIE = 102, DISPID_ALIGNMODE = 121, DISPID_BACKGROUNDCOLOR = 123, DISPID_SALIGN = 134,
             DISPID_SCALE = 137, DISPID_FLASHCALL = 197, DISPID_CALLFUNCTION = 198;

HINSTANCE g_module = nullptr;
LONG g_objects = 0, g_locks = 0;

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return "";
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), s.data(), n, nullptr, nullptr);
    return s;
}

void Log(const std::string& line) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("FLASHCTL_LOG", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    if (FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

std::wstring FileNameOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool SameTextAscii(std::wstring a, std::wstring b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (towlower(a[i]) != towlower(b[i])) return false;
    return true;
}

// The request's element, its name attribute and its text arguments, read with MSXML; false
// when not well-formed.
bool ParseInvoke(const std::wstring& xml, std::wstring& element, std::wstring& name,
                 std::vector<std::wstring>& arguments) {
    CLSID cls;
    IXMLDOMDocument* doc = nullptr;
    if (FAILED(CLSIDFromProgID(L"Msxml2.DOMDocument", &cls)) ||
        FAILED(CoCreateInstance(cls, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, (void**)&doc)))
        return false;
    BSTR text = SysAllocStringLen(xml.data(), UINT(xml.size()));
    VARIANT_BOOL ok = VARIANT_FALSE;
    doc->loadXML(text, &ok);
    SysFreeString(text);
    IXMLDOMElement* root = nullptr;
    if (ok == VARIANT_TRUE && doc->get_documentElement(&root) == S_OK && root) {
        BSTR tag = nullptr;
        if (root->get_tagName(&tag) == S_OK && tag) element = tag;
        SysFreeString(tag);
        VARIANT v;
        VariantInit(&v);
        BSTR key = SysAllocString(L"name");
        if (root->getAttribute(key, &v) == S_OK && v.vt == VT_BSTR) name = v.bstrVal;
        SysFreeString(key);
        VariantClear(&v);
        IXMLDOMNodeList* list = nullptr;
        BSTR query = SysAllocString(L"arguments/*");
        if (root->selectNodes(query, &list) == S_OK && list) {
            IXMLDOMNode* node = nullptr;
            while (list->nextNode(&node) == S_OK && node) {
                BSTR value = nullptr;
                node->get_text(&value);
                arguments.push_back(value ? value : L"");
                SysFreeString(value);
                node->Release();
            }
            list->Release();
        }
        SysFreeString(query);
        root->Release();
    }
    doc->Release();
    return ok == VARIANT_TRUE;
}

// Whether the file holds a movie the control can load: a Flash file signature, plain or compressed.
bool IsMovieFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char head[3] = {0};
    DWORD got = 0;
    ReadFile(file, head, sizeof(head), &got, nullptr);
    CloseHandle(file);
    return got == 3 && (head[0] == 'F' || head[0] == 'C') && head[1] == 'W' && head[2] == 'S';
}

bool ReadFlvFile(const std::wstring& path, int& width, int& height) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<uint8_t> bytes(1 << 20);
    DWORD got = 0;
    ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return FlvPictureSize(bytes, width, height);
}

class StandIn;

// The one connection point, for the stand-in's event interface.
class EventPoint : public IConnectionPoint {
public:
    explicit EventPoint(StandIn* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* iid) override {
        *iid = IID_FlashStandInEvents;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
        IDispatch* dispatch = nullptr;
        if (!sink || sink->QueryInterface(IID_FlashStandInEvents, (void**)&dispatch) != S_OK || !dispatch) {
            Log("advise refused");
            return CONNECT_E_CANNOTCONNECT;
        }
        sinks_.push_back(dispatch);
        *cookie = DWORD(sinks_.size());
        Log("advise");
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override {
        if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) return CONNECT_E_NOCONNECTION;
        sinks_[cookie - 1]->Release();
        sinks_[cookie - 1] = nullptr;
        return S_OK;
    }
    STDMETHODIMP EnumConnections(IEnumConnections** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
    void Fire(const std::wstring& request) {
        Log("event FlashCall " + Narrow(request));
        for (size_t i = 0; i < sinks_.size(); ++i) {
            IDispatch* sink = sinks_[i];
            if (!sink) continue;
            sink->AddRef();
            VARIANT arg;
            arg.vt = VT_BSTR;
            arg.bstrVal = SysAllocStringLen(request.data(), UINT(request.size()));
            DISPPARAMS params{&arg, nullptr, 1, 0};
            sink->Invoke(DISPID_FLASHCALL, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                         nullptr);
            SysFreeString(arg.bstrVal);
            sink->Release();
        }
    }
    void ReleaseSinks() {
        for (IDispatch*& sink : sinks_)
            if (sink) {
                sink->Release();
                sink = nullptr;
            }
    }

private:
    StandIn* owner_;
    std::vector<IDispatch*> sinks_;
};

class StandIn : public IOleObject,
                public IOleInPlaceObject,
                public IDispatch,
                public IPersistStreamInit,
                public IConnectionPointContainer,
                public IProvideClassInfo2 {
public:
    StandIn() : point_(this) {
        InterlockedIncrement(&g_objects);
        Log("create");
    }
    virtual ~StandIn() {
        point_.ReleaseSinks();
        if (window_) DestroyWindow(window_);
        if (site_) site_->Release();
        if (inPlaceSite_) inPlaceSite_->Release();
        InterlockedDecrement(&g_objects);
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleObject)
            *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            *out = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IDispatch)
            *out = static_cast<IDispatch*>(this);
        else if (iid == IID_IPersistStreamInit || iid == IID_IPersist)
            *out = static_cast<IPersistStreamInit*>(this);
        else if (iid == IID_IConnectionPointContainer)
            *out = static_cast<IConnectionPointContainer*>(this);
        else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2)
            *out = static_cast<IProvideClassInfo2*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return ULONG(left);
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        if (site) site->AddRef();
        if (site_) site_->Release();
        site_ = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        *site = site_;
        if (site_) site_->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override {
        InPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override {
        *m = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** d) override {
        *d = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT position) override {
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW && verb != OLEIVERB_UIACTIVATE &&
            verb != OLEIVERB_PRIMARY)
            return OLEOBJ_E_NOVERBS;
        if (window_) return S_OK;
        IOleClientSite* from = site ? site : site_;
        if (!from || from->QueryInterface(IID_IOleInPlaceSite, (void**)&inPlaceSite_) != S_OK) return E_UNEXPECTED;
        if (inPlaceSite_->CanInPlaceActivate() != S_OK) return E_FAIL;
        inPlaceSite_->OnInPlaceActivate();
        HWND host = parent;
        inPlaceSite_->GetWindow(&host);
        RECT r = position ? *position : RECT{0, 0, 100, 100};
        window_ = CreateWindowExA(0, kWindowClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, r.left,
                                  r.top, r.right - r.left, r.bottom - r.top, host, nullptr, g_module, nullptr);
        SetWindowLongPtrA(window_, GWLP_USERDATA, LONG_PTR(this));
        LogRect("activate", r);
        return S_OK;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** e) override {
        *e = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* id) override {
        *id = CLSID_FlashStandIn;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR* t) override {
        *t = nullptr;
        return OLE_S_USEREG;
    }
    STDMETHODIMP SetExtent(DWORD, SIZEL* size) override {
        extent_ = *size;
        return S_OK;
    }
    STDMETHODIMP GetExtent(DWORD, SIZEL* size) override {
        *size = extent_;
        return S_OK;
    }
    STDMETHODIMP Advise(IAdviseSink*, DWORD* c) override {
        *c = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** e) override {
        *e = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
        *status = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                  OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* w) override {
        *w = window_;
        return window_ ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override {
        if (!window_) return S_OK;
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
        window_ = nullptr;
        if (inPlaceSite_) {
            inPlaceSite_->OnInPlaceDeactivate();
            inPlaceSite_->Release();
            inPlaceSite_ = nullptr;
        }
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override {
        if (!window_ || !position) return S_OK;
        RECT now;
        GetWindowRect(window_, &now);
        MapWindowPoints(HWND_DESKTOP, GetParent(window_), (POINT*)&now, 2);
        if (!EqualRect(&now, position)) {
            MoveWindow(window_, position->left, position->top, position->right - position->left,
                       position->bottom - position->top, TRUE);
            LogRect("rect", *position);
        }
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** t) override {
        *t = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const struct {
            const wchar_t* name;
            DISPID id;
        } known[] = {
            {L"Movie", DISPID_MOVIE},   {L"AlignMode", DISPID_ALIGNMODE}, {L"BackgroundColor", DISPID_BACKGROUNDCOLOR},
            {L"SAlign", DISPID_SALIGN}, {L"Scale", DISPID_SCALE},         {L"CallFunction", DISPID_CALLFUNCTION}};
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (auto& k : known)
                if (_wcsicmp(k.name, names[i]) == 0) ids[i] = k.id;
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                        UINT*) override {
        if (result) VariantInit(result);
        if ((flags & DISPATCH_PROPERTYPUT) && params && params->cArgs == 1) return PutProperty(id, params->rgvarg[0]);
        if ((flags & DISPATCH_METHOD) && id == DISPID_CALLFUNCTION) {
            if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
            VARIANT text;
            VariantInit(&text);
            if (FAILED(VariantChangeType(&text, &params->rgvarg[0], 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
            std::wstring request(text.bstrVal ? text.bstrVal : L"", text.bstrVal ? SysStringLen(text.bstrVal) : 0);
            VariantClear(&text);
            std::wstring reply;
            HRESULT hr = CallFunction(request, reply);
            if (FAILED(hr)) {
                // The control's dispatch goes through its type library: a failing method comes
                // back as an exception whose code is the method's result, with no description.
                if (excepInfo) {
                    *excepInfo = EXCEPINFO{};
                    excepInfo->scode = hr;
                }
                return DISP_E_EXCEPTION;
            }
            if (result) {
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(reply.c_str());
            }
            return S_OK;
        }
        if ((flags & DISPATCH_PROPERTYGET) && result) return GetProperty(id, *result);
        return DISP_E_MEMBERNOTFOUND;
    }

    // IPersistStreamInit
    STDMETHODIMP GetClassID(CLSID* id) override {
        *id = CLSID_FlashStandIn;
        return S_OK;
    }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(LPSTREAM) override { return S_OK; }
    STDMETHODIMP Save(LPSTREAM, BOOL) override { return S_OK; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override {
        size->QuadPart = 0;
        return S_OK;
    }
    STDMETHODIMP InitNew() override { return S_OK; }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** e) override {
        *e = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        *point = nullptr;
        if (iid != IID_FlashStandInEvents) return CONNECT_E_NOCONNECTION;
        *point = &point_;
        point_.AddRef();
        return S_OK;
    }

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override {
        *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override {
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
        *guid = IID_FlashStandInEvents;
        return S_OK;
    }

    void Paint(HDC dc);
    void FireReady() {
        wchar_t text[256];
        wsprintfW(text,
                  L"<invoke name=\"ready\" returntype=\"xml\"><arguments><number>%d</number><number>%d</number>"
                  L"</arguments></invoke>",
                  videoWidth_, videoHeight_);
        point_.Fire(text);
    }
    void FireText(const std::wstring& text) { point_.Fire(text); }

private:
    void LogRect(const char* what, const RECT& r) {
        char line[96];
        std::snprintf(line, sizeof(line), "%s %ld %ld %ld %ld", what, r.left, r.top, r.right - r.left,
                      r.bottom - r.top);
        Log(line);
    }

    HRESULT PutProperty(DISPID id, const VARIANT& value) {
        VARIANT v;
        VariantInit(&v);
        bool text = id == DISPID_MOVIE || id == DISPID_SALIGN || id == DISPID_SCALE;
        if (id != DISPID_MOVIE && id != DISPID_ALIGNMODE && id != DISPID_BACKGROUNDCOLOR && id != DISPID_SALIGN &&
            id != DISPID_SCALE) {
            Log("put #" + std::to_string(id));
            return DISP_E_MEMBERNOTFOUND;
        }
        if (FAILED(VariantChangeType(&v, const_cast<VARIANT*>(&value), 0, text ? VT_BSTR : VT_I4)))
            return DISP_E_TYPEMISMATCH;
        std::wstring s = text && v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"";
        int n = text ? 0 : int(v.lVal);
        VariantClear(&v);
        switch (id) {
        case DISPID_MOVIE:
            movie_ = s;
            Log("put Movie " + Narrow(s));
            movieLoaded_ = IsMovieFile(s);
            if (!movieLoaded_) Log("movie not loaded");
            videoWidth_ = videoHeight_ = 0;
            videoPath_.clear();
            break;
        case DISPID_ALIGNMODE:
            alignMode_ = n;
            Log("put AlignMode " + std::to_string(n));
            break;
        case DISPID_BACKGROUNDCOLOR: {
            background_ = n;
            char hex[16];
            std::snprintf(hex, sizeof(hex), "0x%06X", unsigned(n));
            Log(std::string("put BackgroundColor ") + hex);
            break;
        }
        case DISPID_SALIGN:
            salign_ = s;
            Log("put SAlign " + Narrow(s));
            break;
        case DISPID_SCALE:
            scale_ = s;
            Log("put Scale " + Narrow(s));
            break;
        }
        if (window_) InvalidateRect(window_, nullptr, TRUE);
        return S_OK;
    }

    HRESULT GetProperty(DISPID id, VARIANT& result) {
        switch (id) {
        case DISPID_MOVIE:
            result.vt = VT_BSTR;
            result.bstrVal = SysAllocString(movie_.c_str());
            return S_OK;
        case DISPID_SALIGN:
            result.vt = VT_BSTR;
            result.bstrVal = SysAllocString(salign_.c_str());
            return S_OK;
        case DISPID_SCALE:
            result.vt = VT_BSTR;
            result.bstrVal = SysAllocString(scale_.c_str());
            return S_OK;
        case DISPID_ALIGNMODE:
            result.vt = VT_I4;
            result.lVal = alignMode_;
            return S_OK;
        case DISPID_BACKGROUNDCOLOR:
            result.vt = VT_I4;
            result.lVal = background_;
            return S_OK;
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }

    bool CompanionLoaded() const { return movieLoaded_ && SameTextAscii(FileNameOf(movie_), L"fvp.swf"); }

    // The companion movie's side of the exchange: "Play" finds the video's size and answers
    // "ready" from the message loop, as the movie would once it knows it; "Resize" sets the video area.
    // As with the real control, a call that no loaded movie takes fails with E_FAIL: a request
    // that is not a well-formed invocation, no movie (or one that did not load), or a function
    // the movie does not offer.
    HRESULT CallFunction(const std::wstring& request, std::wstring& reply) {
        Log("call " + Narrow(request));
        std::wstring element, name;
        std::vector<std::wstring> args;
        if (!ParseInvoke(request, element, name, args) || element != L"invoke") {
            Log("refused: malformed request");
            return E_FAIL;
        }
        if (!CompanionLoaded()) {
            Log("refused: no movie offers " + Narrow(name));
            return E_FAIL;
        }
        if (name != L"Play" && name != L"Resize") {
            Log("refused: the movie offers no " + Narrow(name));
            return E_FAIL;
        }
        if (name == L"Play" && args.size() == 1) {
            videoPath_ = args[0];
            Log("play " + Narrow(videoPath_));
            int w = 0, h = 0;
            if (ReadFlvFile(videoPath_, w, h)) {
                videoWidth_ = w;
                videoHeight_ = h;
                areaWidth_ = w;
                areaHeight_ = h;
                if (window_) PostMessageA(window_, WM_FIRE_READY, 0, 0);
            } else {
                Log("no video size");
            }
        } else if (name == L"Resize" && args.size() == 2) {
            areaWidth_ = _wtoi(args[0].c_str());
            areaHeight_ = _wtoi(args[1].c_str());
        }
        if (window_) InvalidateRect(window_, nullptr, TRUE);
        reply = L"<null/>";
        return S_OK;
    }

    LONG refs_ = 1;
    EventPoint point_;
    IOleClientSite* site_ = nullptr;
    IOleInPlaceSite* inPlaceSite_ = nullptr;
    HWND window_ = nullptr;
    SIZEL extent_{0, 0};
    std::wstring movie_, salign_, scale_, videoPath_;
    bool movieLoaded_ = false;
    int alignMode_ = 0, background_ = 0xFFFFFF;
    int videoWidth_ = 0, videoHeight_ = 0, areaWidth_ = 0, areaHeight_ = 0;

    friend class EventPoint;
};

STDMETHODIMP_(ULONG) EventPoint::AddRef() { return owner_->AddRef(); }
STDMETHODIMP_(ULONG) EventPoint::Release() { return owner_->Release(); }
STDMETHODIMP EventPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    *container = owner_;
    owner_->AddRef();
    return S_OK;
}

void DrawLine(HDC dc, int x, int& y, const std::wstring& text) {
    TextOutW(dc, x, y, text.c_str(), int(text.size()));
    y += 16;
}

// What a screenshot shows: the background colour, what was loaded and with which settings;
// for the companion movie the video area and its control bar in the bottom 40 pixels.
void StandIn::Paint(HDC dc) {
    RECT client;
    GetClientRect(window_, &client);
    COLORREF back = RGB((background_ >> 16) & 0xFF, (background_ >> 8) & 0xFF, background_ & 0xFF);
    HBRUSH brush = CreateSolidBrush(back);
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    SetBkMode(dc, TRANSPARENT);
    int luminance = (GetRValue(back) * 3 + GetGValue(back) * 6 + GetBValue(back)) / 10;
    COLORREF ink = luminance > 128 ? RGB(0, 0, 0) : RGB(255, 255, 255);
    SetTextColor(dc, ink);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    int y = 8;
    if (CompanionLoaded()) {
        int barTop = client.bottom - 40;
        RECT video{0, 0, areaWidth_ > 0 ? areaWidth_ : client.right, barTop};
        if (video.right > client.right) video.right = client.right;
        HBRUSH screen = CreateSolidBrush(RGB(24, 40, 64));
        FillRect(dc, &video, screen);
        DeleteObject(screen);
        RECT bar{0, barTop, client.right, client.bottom};
        HBRUSH steel = CreateSolidBrush(RGB(150, 156, 166));
        FillRect(dc, &bar, steel);
        DeleteObject(steel);
        POINT play[] = {{14, barTop + 10}, {14, barTop + 30}, {32, barTop + 20}};
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(BLACK_BRUSH));
        Polygon(dc, play, 3);
        SelectObject(dc, oldBrush);
        SetTextColor(dc, RGB(255, 255, 255));
        DrawLine(dc, 8, y, L"Companion movie: " + FileNameOf(movie_));
        DrawLine(dc, 8, y, L"Video: " + (videoPath_.empty() ? L"(none)" : FileNameOf(videoPath_)));
        wchar_t line[128];
        wsprintfW(line, L"Video size %d x %d, area %d x %d", videoWidth_, videoHeight_, areaWidth_, areaHeight_);
        DrawLine(dc, 8, y, line);
        wsprintfW(line, L"Scale %s, AlignMode %d", scale_.c_str(), alignMode_);
        DrawLine(dc, 8, y, line);
        SetTextColor(dc, RGB(0, 0, 0));
        wsprintfW(line, L"%d x %d", areaWidth_, areaHeight_);
        TextOutW(dc, 44, barTop + 13, line, lstrlenW(line));
    } else if (!movie_.empty()) {
        HPEN pen = CreatePen(PS_DOT, 1, ink);
        HGDIOBJ oldPen = SelectObject(dc, pen);
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, 2, 2, client.right - 2, client.bottom - 2);
        MoveToEx(dc, 2, 2, nullptr);
        LineTo(dc, client.right - 2, client.bottom - 2);
        MoveToEx(dc, client.right - 2, 2, nullptr);
        LineTo(dc, 2, client.bottom - 2);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
        DrawLine(dc, 8, y, L"Movie: " + FileNameOf(movie_));
        wchar_t line[128];
        wsprintfW(line, L"Background 0x%06X, Scale %s, SAlign %s", background_, scale_.c_str(), salign_.c_str());
        DrawLine(dc, 8, y, line);
        wsprintfW(line, L"Area %d x %d", int(client.right), int(client.bottom));
        DrawLine(dc, 8, y, line);
    } else {
        DrawLine(dc, 8, y, L"Flash control stand-in: no movie");
    }
    SelectObject(dc, oldFont);
}

LRESULT CALLBACK StandInWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* control = reinterpret_cast<StandIn*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (control) control->Paint(dc);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_SIZE: InvalidateRect(window, nullptr, TRUE); return 0;
    case WM_FIRE_READY:
        if (control) {
            control->AddRef();
            control->FireReady();
            control->Release();
        }
        return 0;
    case WM_COPYDATA: {
        auto* data = reinterpret_cast<COPYDATASTRUCT*>(lParam);
        if (!control || !data || data->dwData != kCopyDataFlashCall) return FALSE;
        std::wstring text(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
        // Raised from the loop, like every event of the control, not inside the sender's call.
        auto* copy = new std::wstring(text);
        PostMessageA(window, WM_APP + 2, 0, reinterpret_cast<LPARAM>(copy));
        return TRUE;
    }
    case WM_APP + 2: {
        auto* text = reinterpret_cast<std::wstring*>(lParam);
        if (control) {
            control->AddRef();
            control->FireText(*text);
            control->Release();
        }
        delete text;
        return 0;
    }
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* control = new StandIn();
        HRESULT hr = control->QueryInterface(iid, out);
        control->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&g_locks);
        else
            InterlockedDecrement(&g_locks);
        return S_OK;
    }
};
Factory g_factory;

bool SetDefault(const std::string& key, const std::string& name, const std::string& value) {
    HKEY k;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(k, name.empty() ? nullptr : name.c_str(), 0, REG_SZ, (const BYTE*)value.c_str(),
                             DWORD(value.size() + 1));
    RegCloseKey(k);
    return rc == ERROR_SUCCESS;
}

std::string ClsidText() {
    wchar_t text[64];
    StringFromGUID2(CLSID_FlashStandIn, text, 64);
    return Narrow(text);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        WNDCLASSA wc{};
        wc.lpfnWndProc = StandInWindowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = kWindowClass;
        RegisterClassA(&wc);
    } else if (reason == DLL_PROCESS_DETACH) {
        UnregisterClassA(kWindowClass, instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (clsid != CLSID_FlashStandIn) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    char path[MAX_PATH];
    GetModuleFileNameA(g_module, path, MAX_PATH);
    std::string clsid = ClsidText();
    std::string classKey = "CLSID\\" + clsid;
    bool ok = SetDefault(kProgId, "", "Flash control stand-in") &&
              SetDefault(std::string(kProgId) + "\\CLSID", "", clsid) &&
              SetDefault(classKey, "", "Flash control stand-in") &&
              SetDefault(classKey + "\\InprocServer32", "", path) &&
              SetDefault(classKey + "\\InprocServer32", "ThreadingModel", "Apartment") &&
              SetDefault(classKey + "\\ProgID", "", kProgId);
    return ok ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + ClsidText()).c_str());
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kProgId);
    return S_OK;
}
