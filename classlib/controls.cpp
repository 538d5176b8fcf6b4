#include "classlib/controls.h"

#include <set>
#include <vector>

#include "classlib/forms.h"
#include "classlib/graphics.h"

namespace {
const char* const kObjectProperty = "ClassLibControl";
}

void RegisterLibraryClass(const char* className, UINT style, HBRUSH background) {
    static std::set<std::string> registered;
    if (!registered.insert(className).second) return;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconA(GetModuleHandleA(nullptr), "MAINICON");
    wc.hbrBackground = background ? background : reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className;
    RegisterClassExA(&wc);
}

TWinControl::TWinControl(TComponent* owner, TWinControl* parent) : TComponent(owner), parent_(parent) {}

TWinControl::~TWinControl() {
    // What this control owns goes first, while the windows it lives in still exist: a hosted
    // control is deactivated in a live window, a menu comes off a live form, and no child is
    // left holding the handle of a window destroyed with this one.
    DestroyComponents();
    if (handle_) {
        RemovePropA(handle_, kObjectProperty);
        if (defaultProc_) SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(defaultProc_));
        DestroyWindow(handle_);
        handle_ = nullptr;
    }
}

TWinControl* TWinControl::FromHandle(HWND window) {
    return window ? static_cast<TWinControl*>(GetPropA(window, kObjectProperty)) : nullptr;
}

void TWinControl::CreateWindowHandle(const char* className, DWORD style, DWORD exStyle, HWND parentWindow, HMENU menu) {
    handle_ = CreateWindowExA(exStyle, className, "", style, left_, top_, width_, height_, parentWindow, menu,
                              GetModuleHandleA(nullptr), nullptr);
    if (!handle_) RaiseLastOSError();
    SetPropA(handle_, kObjectProperty, this);
    defaultProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWinControl::StaticWndProc)));
    UpdateBoundsFromWindow();
    if (parent_ && (style & WS_CHILD))
        SendMessageA(handle_, WM_SETFONT, SendMessageA(parent_->Handle(), WM_GETFONT, 0, 0), 0);
}

LRESULT CALLBACK TWinControl::StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TWinControl* control = FromHandle(window);
    if (!control) return DefWindowProcA(window, message, wParam, lParam);
    // Nothing may unwind through the system's frames: what a handler raises ends here.
    LRESULT result = 0;
    try {
        result = control->WndProc(message, wParam, lParam);
    } catch (const std::exception& error) {
        Application->HandleException(error);
    }
    if (message == WM_NCDESTROY) control->ForgetWindow();
    return result;
}

// The window went before its control (its parent window was destroyed first): the control
// keeps no handle that could later name another window.
void TWinControl::ForgetWindow() {
    RemovePropA(handle_, kObjectProperty);
    handle_ = nullptr;
    defaultProc_ = nullptr;
}

LRESULT TWinControl::DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam) {
    if (defaultProc_) return CallWindowProcA(defaultProc_, handle_, message, wParam, lParam);
    return DefWindowProcA(handle_, message, wParam, lParam);
}

LRESULT TWinControl::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (lParam) {
            if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam))) {
                child->CommandNotify(HIWORD(wParam));
                return 0;
            }
        }
        break;
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (TWinControl* child = FromHandle(header->hwndFrom)) return child->Notify(header);
        break;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HBRUSH brush = nullptr;
        TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam));
        if (child && child->CtlColor(reinterpret_cast<HDC>(wParam), brush)) return reinterpret_cast<LRESULT>(brush);
        break;
    }
    case WM_WINDOWPOSCHANGED: {
        LRESULT result = DefaultHandler(message, wParam, lParam);
        UpdateBoundsFromWindow();
        return result;
    }
    default: break;
    }
    return DefaultHandler(message, wParam, lParam);
}

void TWinControl::UpdateBoundsFromWindow() {
    if (!handle_) return;
    RECT r;
    GetWindowRect(handle_, &r);
    HWND parentWindow = GetParent(handle_);
    if (parentWindow && (GetWindowLongA(handle_, GWL_STYLE) & WS_CHILD))
        MapWindowPoints(HWND_DESKTOP, parentWindow, reinterpret_cast<POINT*>(&r), 2);
    int oldWidth = width_, oldHeight = height_, oldLeft = left_, oldTop = top_;
    left_ = r.left;
    top_ = r.top;
    width_ = r.right - r.left;
    height_ = r.bottom - r.top;
    if (oldWidth != width_ || oldHeight != height_ || oldLeft != left_ || oldTop != top_) BoundsChanged();
}

// The system may give the window another size than the one asked for (a top-level window is
// kept between its smallest size and the screen's), and says nothing when that size is the one
// it already had: the bounds are read back from the window itself.
void TWinControl::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (!handle_) return;
    SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateBoundsFromWindow();
}

int TWinControl::ClientWidth() const {
    RECT r{};
    if (handle_) GetClientRect(handle_, &r);
    return r.right - r.left;
}

int TWinControl::ClientHeight() const {
    RECT r{};
    if (handle_) GetClientRect(handle_, &r);
    return r.bottom - r.top;
}

void TWinControl::SetClientSize(int width, int height) {
    int dx = width - ClientWidth();
    int dy = height - ClientHeight();
    SetBounds(left_, top_, width_ + dx, height_ + dy);
    // A menu bar can wrap when the width changes: correct the height once more.
    int again = height - ClientHeight();
    if (again != 0) SetBounds(left_, top_, width_, height_ + again);
}

std::string TWinControl::Caption() const {
    if (!handle_) return "";
    int n = GetWindowTextLengthA(handle_);
    std::vector<char> text(n + 1, 0);
    GetWindowTextA(handle_, text.data(), n + 1);
    return std::string(text.data());
}

void TWinControl::SetCaption(const std::string& text) {
    if (handle_) SetWindowTextA(handle_, text.c_str());
}

bool TWinControl::Visible() const { return handle_ && (GetWindowLongA(handle_, GWL_STYLE) & WS_VISIBLE); }

void TWinControl::SetVisible(bool visible) {
    if (handle_) ShowWindow(handle_, visible ? SW_SHOW : SW_HIDE);
}

bool TWinControl::Enabled() const { return handle_ && IsWindowEnabled(handle_); }

void TWinControl::SetEnabled(bool enabled) {
    if (handle_) EnableWindow(handle_, enabled);
}

void TWinControl::SetTabOrder(int order) {
    tabOrder_ = order;
    if (!handle_ || !parent_) return;
    // Z order is tab order for dialog navigation: place after the sibling with the next lower order.
    HWND after = HWND_TOP;
    int best = -1;
    for (HWND sibling = GetWindow(parent_->Handle(), GW_CHILD); sibling; sibling = GetWindow(sibling, GW_HWNDNEXT)) {
        TWinControl* other = FromHandle(sibling);
        if (other && other != this && other->tabOrder_ >= 0 && other->tabOrder_ < order && other->tabOrder_ > best) {
            best = other->tabOrder_;
            after = sibling;
        }
    }
    SetWindowPos(handle_, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TWinControl::SetFocus() {
    if (handle_) ::SetFocus(handle_);
}

bool TWinControl::Focused() const { return handle_ && GetFocus() == handle_; }

void TWinControl::Invalidate() {
    if (handle_) InvalidateRect(handle_, nullptr, TRUE);
}

void TWinControl::Repaint() {
    if (handle_) {
        InvalidateRect(handle_, nullptr, TRUE);
        UpdateWindow(handle_);
    }
}

void TWinControl::SetFont(const TFont& font) {
    if (handle_) SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font.Handle()), TRUE);
}
