#include "classlib/forms.h"

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

#include "classlib/threads.h"

namespace {
const UINT CM_RELEASE = WM_APP + 0x100;
const UINT CM_SYNCHRONIZE = WM_APP + 0x101;

TApplication& TheApplication() {
    static TApplication application;
    return application;
}

void WakeApplication() {
    if (Application->Handle()) PostMessageA(Application->Handle(), CM_SYNCHRONIZE, 0, 0);
}

LRESULT CALLBACK ApplicationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == CM_SYNCHRONIZE) {
        CheckSynchronize();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD StyleFor(TBorderStyle border, uint8_t icons) {
    DWORD style = WS_CLIPCHILDREN;
    switch (border) {
    case bsNone: style |= WS_POPUP; break;
    case bsSingle: style |= WS_OVERLAPPED | WS_CAPTION | WS_BORDER; break;
    case bsSizeable: style |= WS_OVERLAPPED | WS_CAPTION | WS_THICKFRAME; break;
    case bsDialog: style |= WS_POPUP | WS_CAPTION | DS_MODALFRAME; break;
    case bsToolWindow: style |= WS_POPUP | WS_CAPTION; break;
    case bsSizeToolWin: style |= WS_POPUP | WS_CAPTION | WS_THICKFRAME; break;
    }
    if (border != bsNone && (icons & biSystemMenu)) {
        style |= WS_SYSMENU;
        if (border != bsDialog && border != bsToolWindow && border != bsSizeToolWin) {
            if (icons & biMinimize) style |= WS_MINIMIZEBOX;
            if (icons & biMaximize) style |= WS_MAXIMIZEBOX;
        }
    }
    return style;
}

DWORD ExStyleFor(TBorderStyle border) {
    switch (border) {
    case bsDialog: return WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
    case bsToolWindow:
    case bsSizeToolWin: return WS_EX_TOOLWINDOW;
    default: return WS_EX_WINDOWEDGE;
    }
}
}  // namespace

TApplication* Application = &TheApplication();

// --- TForm -----------------------------------------------------------------

TForm::TForm(TComponent* owner, const char* className, TBorderStyle borderStyle, uint8_t borderIcons)
    : TWinControl(owner, nullptr) {
    RegisterLibraryClass(className);
    HWND ownerWindow = nullptr;
    if (auto* ownerForm = dynamic_cast<TForm*>(owner)) ownerWindow = ownerForm->Handle();
    width_ = 320;
    height_ = 240;
    CreateWindowHandle(className, StyleFor(borderStyle, borderIcons), ExStyleFor(borderStyle), ownerWindow);
    SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), FALSE);
    font_.OnChange = [this](TObject*) {
        SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), TRUE);
    };
}

TForm::~TForm() {
    if (OnDestroy) SafeCall([this] { OnDestroy(this); });
    if (Application->mainForm_ == this) Application->mainForm_ = nullptr;
}

TWindowState TForm::WindowState() const {
    if (IsZoomed(handle_)) return wsMaximized;
    if (IsIconic(handle_)) return wsMinimized;
    return wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
    if (!Visible()) {
        if (state == wsMaximized) ShowWindow(handle_, SW_SHOWMAXIMIZED);
        return;
    }
    ShowWindow(handle_, state == wsMaximized ? SW_MAXIMIZE : state == wsMinimized ? SW_MINIMIZE : SW_RESTORE);
}

void TForm::PlaceOnShow() {
    if (shownOnce_) return;
    shownOnce_ = true;
    RECT area{};
    if (position_ == poScreenCenter) {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    } else if (position_ == poOwnerFormCenter || position_ == poMainFormCenter) {
        TForm* around = position_ == poOwnerFormCenter ? dynamic_cast<TForm*>(Owner()) : Application->MainForm();
        if (!around || around == this) around = Application->MainForm();
        if (!around || around == this) {
            SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        } else {
            GetWindowRect(around->Handle(), &area);
        }
    } else {
        return;
    }
    int left = area.left + (area.right - area.left - width_) / 2;
    int top = area.top + (area.bottom - area.top - height_) / 2;
    SetBounds(left < 0 ? 0 : left, top < 0 ? 0 : top, width_, height_);
}

void TForm::SetVisible(bool visible) {
    if (visible == Visible()) return;
    if (visible) {
        PlaceOnShow();
        if (OnShow) OnShow(this);
        ShowWindow(handle_, SW_SHOWNORMAL);
        SetForegroundWindow(handle_);
    } else {
        ShowWindow(handle_, SW_HIDE);
    }
}

TDisabledWindows::TDisabledWindows(HWND except) : except_(except) {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) WINAPI -> BOOL {
            auto* self = reinterpret_cast<TDisabledWindows*>(data);
            if (window != self->except_ && IsWindowVisible(window) && IsWindowEnabled(window)) {
                EnableWindow(window, FALSE);
                self->windows_.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
}

TDisabledWindows::~TDisabledWindows() {
    for (HWND window : windows_)
        if (IsWindow(window)) EnableWindow(window, TRUE);
}

int TForm::ShowModal() {
    {
        TDisabledWindows others(handle_);
        modalResult_ = mrNone;
        inModal_ = true;
        Show();
        while (modalResult_ == mrNone && !Application->Terminated()) Application->HandleMessage(true);
        inModal_ = false;
    }
    Hide();
    return modalResult_;
}

void TForm::Close() {
    if (inModal_) {
        modalResult_ = mrCancel;
        return;
    }
    TCloseAction action = Application->MainForm() == this ? caFree : caHide;
    if (OnClose) OnClose(this, action);
    if (action == caNone) return;
    if (Application->MainForm() == this) {
        Application->Terminate();
    } else if (action == caHide) {
        Hide();
    } else if (action == caFree) {
        Release();
    }
}

void TForm::Release() { PostMessageA(handle_, CM_RELEASE, 0, 0); }

void TForm::RememberFocus() {
    HWND focus = GetFocus();
    if (focus && IsChild(handle_, focus)) focusedControl_ = focus;
}

namespace {
bool CanTakeFocus(HWND control) {
    LONG style = GetWindowLongA(control, GWL_STYLE);
    return (style & WS_VISIBLE) && !(style & WS_DISABLED);
}
}  // namespace

HWND TForm::FirstTabStop() const {
    // Tab order is the children's Z order.
    for (HWND child = GetWindow(handle_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongA(child, GWL_STYLE) & WS_TABSTOP) && CanTakeFocus(child)) return child;
    return nullptr;
}

void TForm::RestoreFocus() {
    HWND target = focusedControl_;
    if (!target || !IsWindow(target) || !IsChild(handle_, target) || !CanTakeFocus(target)) target = FirstTabStop();
    if (target) ::SetFocus(target);
}

LRESULT TForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case CM_RELEASE: delete this; return 0;
    case WM_CLOSE: Close(); return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            RememberFocus();
        } else if (!HIWORD(wParam)) {
            // The default gives the focus to the form's own window.
            LRESULT result = DefaultHandler(message, wParam, lParam);
            RestoreFocus();
            return result;
        }
        break;
    case WM_CANCELMODE:
        // Sent before the form is disabled, which takes the focus from it.
        RememberFocus();
        break;
    case WM_GETFONT:
        // Child controls take the form's font from here when they are created.
        return reinterpret_cast<LRESULT>(font_.Handle());
    case WM_SIZE: {
        LRESULT result = DefaultHandler(message, wParam, lParam);
        if (OnResize) OnResize(this);
        return result;
    }
    case WM_COMMAND:
        if (lParam == 0 && MenuCommand && MenuCommand(LOWORD(wParam))) return 0;
        break;
    default: break;
    }
    return TWinControl::WndProc(message, wParam, lParam);
}

// --- TApplication ----------------------------------------------------------

TApplication::TApplication() : TComponent(nullptr) {}

// The forms go while the application's own state (the message filters their controls and menus
// remove) still lives.
TApplication::~TApplication() { DestroyComponents(); }

void TApplication::Initialize() {
    if (initialised_) return;
    initialised_ = true;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    OleInitialize(nullptr);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ApplicationWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TApplication";
    RegisterClassExA(&wc);
    handle_ = CreateWindowExA(0, "TApplication", title_.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    WakeMainThread = WakeApplication;
}

void TApplication::SetTitle(const std::string& title) {
    title_ = title;
    if (handle_) SetWindowTextA(handle_, title.c_str());
}

void TApplication::AdoptForm(TForm* form) {
    if (!mainForm_) mainForm_ = form;
}

void TApplication::Run() {
    if (mainForm_ && ShowMainForm) {
        bool maximise = IsZoomed(mainForm_->Handle());
        mainForm_->Show();
        if (maximise) ShowWindow(mainForm_->Handle(), SW_MAXIMIZE);
    }
    while (!terminated_) HandleMessage(true);
}

void TApplication::Terminate() {
    if (!terminated_) PostQuitMessage(0);
    terminated_ = true;
}

namespace {
bool IsPushButton(HWND window) {
    char cls[16] = {0};
    GetClassNameA(window, cls, sizeof(cls));
    LONG buttonType = GetWindowLongA(window, GWL_STYLE) & BS_TYPEMASK;
    return lstrcmpiA(cls, "Button") == 0 && (buttonType == BS_PUSHBUTTON || buttonType == BS_DEFPUSHBUTTON);
}

// Esc in a form without a Cancel button, or Enter without a default button (and not on a
// button), would reach the form as command IDCANCEL or IDOK with no control, which reads like
// a menu command. Such keys go to the focused control as ordinary keys instead.
bool IsUnansweredDialogKey(HWND form, const MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_KEYUP && msg.message != WM_CHAR) return false;
    WPARAM key = msg.wParam;
    if (msg.message == WM_CHAR) key = key == 27 ? VK_ESCAPE : key == 13 ? VK_RETURN : 0;
    if (key == VK_ESCAPE) return !GetDlgItem(form, IDCANCEL);
    if (key != VK_RETURN || GetDlgItem(form, IDOK)) return false;
    return !IsPushButton(msg.hwnd);
}

// Enter on a push button that has the focus presses that button, default button or not, as in
// the system's dialogs.
bool PressFocusedButton(HWND form, const MSG& msg) {
    if (msg.message != WM_KEYDOWN || msg.wParam != VK_RETURN || !IsPushButton(msg.hwnd)) return false;
    SendMessageA(form, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(msg.hwnd), BN_CLICKED), reinterpret_cast<LPARAM>(msg.hwnd));
    return true;
}
}  // namespace

int TApplication::AddMessageFilter(TMessageFilter filter) {
    auto registered = std::make_shared<RegisteredFilter>();
    registered->id = nextFilterId_++;
    registered->handles = std::move(filter);
    filters_.push_back(registered);
    return registered->id;
}

void TApplication::RemoveMessageFilter(int id) {
    for (auto it = filters_.begin(); it != filters_.end(); ++it) {
        if ((*it)->id != id) continue;
        (*it)->removed = true;
        filters_.erase(it);
        return;
    }
}

bool TApplication::PreTranslate(MSG& msg) {
    // A filter may create or free controls and menus, which adds or removes filters: the walk
    // goes over a copy and skips what was removed meanwhile.
    const std::vector<std::shared_ptr<RegisteredFilter>> walk = filters_;
    for (const auto& filter : walk)
        if (!filter->removed && filter->handles(msg)) return true;
    if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) {
        HWND top = GetAncestor(msg.hwnd, GA_ROOT);
        TForm* form = dynamic_cast<TForm*>(TWinControl::FromHandle(top));
        if (!form || !form->DialogKeys) return false;
        if (PressFocusedButton(top, msg)) return true;
        if (IsUnansweredDialogKey(top, msg)) return false;
        return IsDialogMessageA(top, &msg) != FALSE;
    }
    return false;
}

bool TApplication::HandleMessage(bool wait) {
    MSG msg;
    bool got = wait ? GetMessageA(&msg, nullptr, 0, 0) >= 0 : PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
    if (!got) {
        CheckSynchronize();
        return false;
    }
    if (msg.message == WM_QUIT) {
        terminated_ = true;
        return true;
    }
    if (!PreTranslate(msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    CheckSynchronize();
    return true;
}

void TApplication::ProcessMessages() {
    while (HandleMessage(false)) {
        if (terminated_) break;
    }
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
    HWND owner = GetActiveWindow();
    if (!owner && mainForm_ && mainForm_->Visible()) owner = mainForm_->Handle();
    return ::MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
}

void TApplication::ShowException(const std::exception& error) {
    std::string text = error.what();
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    MessageBox(text, title_, MB_OK | MB_ICONSTOP);
}

void TApplication::HandleException(const std::exception& error) {
    if (dynamic_cast<const EAbort*>(&error)) return;
    ShowException(error);
}

void SafeCall(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        Application->HandleException(error);
    }
}

int MessageDlg(const std::string& text, TMsgDlgType type, uint16_t buttons, int) {
    static const char* const captions[] = {"Warning", "Error", "Information", "Confirm", nullptr};
    static const UINT icons[] = {MB_ICONWARNING, MB_ICONERROR, MB_ICONINFORMATION, MB_ICONQUESTION, 0};
    UINT flags = icons[type];
    if ((buttons & mbYes) && (buttons & mbNo))
        flags |= (buttons & mbCancel) ? MB_YESNOCANCEL : MB_YESNO;
    else if ((buttons & mbOK) && (buttons & mbCancel))
        flags |= MB_OKCANCEL;
    else if (buttons & mbAbort)
        flags |= MB_ABORTRETRYIGNORE;
    else if ((buttons & mbRetry) && (buttons & mbCancel))
        flags |= MB_RETRYCANCEL;
    else
        flags |= MB_OK;
    const char* caption = captions[type] ? captions[type] : Application->Title().c_str();
    return Application->MessageBox(text, caption, flags);
}
