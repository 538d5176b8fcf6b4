#include "classlib/stdctrls.h"

#include <commctrl.h>

#include "classlib/graphics.h"

namespace {
// The parent's face colour behind labels, check boxes and static text.
HBRUSH FaceBrush(HDC dc) {
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    return GetSysColorBrush(COLOR_BTNFACE);
}
}  // namespace

// --- TStdControl ------------------------------------------------------------

TStdControl::~TStdControl() {
    if (tooltip_) DestroyWindow(tooltip_);
}

void TStdControl::CreateChild(const char* className, DWORD style, DWORD exStyle) {
    CreateWindowHandle(className, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, exStyle,
                       parent_ ? parent_->Handle() : nullptr);
}

bool TStdControl::CtlColor(HDC dc, HBRUSH& brush) {
    if (!parentColor_) return false;
    brush = FaceBrush(dc);
    return true;
}

bool TStdControl::TabStop() const { return handle_ && (GetWindowLongA(handle_, GWL_STYLE) & WS_TABSTOP); }

void TStdControl::SetTabStop(bool tabStop) {
    if (!handle_) return;
    LONG style = GetWindowLongA(handle_, GWL_STYLE);
    SetWindowLongA(handle_, GWL_STYLE, tabStop ? style | WS_TABSTOP : style & ~WS_TABSTOP);
}

void TStdControl::SetHint(const std::string& hint) {
    hint_ = hint;
    if (!handle_) return;
    bool added = tooltip_ != nullptr;
    if (!tooltip_)
        tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                   GetAncestor(handle_, GA_ROOT), nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!tooltip_) return;
    TOOLINFOA tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(handle_);
    tool.uId = reinterpret_cast<UINT_PTR>(handle_);
    tool.lpszText = const_cast<char*>(hint_.c_str());
    SendMessageA(tooltip_, added ? TTM_UPDATETIPTEXTA : TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

// --- TButton ----------------------------------------------------------------

TButton::TButton(TComponent* owner, TWinControl* parent) : TStdControl(owner, parent) {
    width_ = 75;
    height_ = 25;
    CreateChild("BUTTON", BS_PUSHBUTTON | WS_TABSTOP);
}

void TButton::Click() {
    if (OnClick) OnClick(this);
}

void TButton::SetDefault(bool isDefault) {
    SendMessageA(handle_, BM_SETSTYLE, isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    // Enter in a form presses the control with the id IDOK: that is the default button.
    SetWindowLongPtrA(handle_, GWLP_ID, isDefault ? IDOK : 0);
}

void TButton::CommandNotify(WORD code) {
    if (code == BN_CLICKED) Click();
}

// --- TLabel -----------------------------------------------------------------

TLabel::TLabel(TComponent* owner, TWinControl* parent) : TStdControl(owner, parent) {
    width_ = 65;
    height_ = 13;
    parentColor_ = true;
    CreateChild("STATIC", SS_LEFT);
}

void TLabel::SetCaption(const std::string& text) {
    TWinControl::SetCaption(text);
    AdjustSize();
}

void TLabel::SetAutoSize(bool autoSize) {
    autoSize_ = autoSize;
    AdjustSize();
}

void TLabel::AdjustSize() {
    if (!autoSize_ || !handle_) return;
    std::string text = Caption();
    HDC dc = GetDC(handle_);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(handle_, WM_GETFONT, 0, 0)));
    RECT r{0, 0, 0, 0};
    DrawTextA(dc, text.empty() ? " " : text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, old);
    ReleaseDC(handle_, dc);
    TWinControl::SetBounds(left_, top_, r.right - r.left, r.bottom - r.top);
}

// --- TEdit ------------------------------------------------------------------

TEdit::TEdit(TComponent* owner, TWinControl* parent) : TStdControl(owner, parent) {
    width_ = 121;
    height_ = 21;
    CreateChild("EDIT", ES_AUTOHSCROLL | ES_LEFT | WS_TABSTOP, WS_EX_CLIENTEDGE);
}

bool TEdit::ReadOnly() const { return handle_ && (GetWindowLongA(handle_, GWL_STYLE) & ES_READONLY); }

void TEdit::SetReadOnly(bool readOnly) { SendMessageA(handle_, EM_SETREADONLY, readOnly, 0); }

void TEdit::CommandNotify(WORD code) {
    if (code == EN_CHANGE && OnChange) OnChange(this);
}

bool TEdit::CtlColor(HDC dc, HBRUSH& brush) {
    if (!IsWindowEnabled(handle_)) return false;
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    brush = GetSysColorBrush(COLOR_WINDOW);
    return true;
}

// --- TComboBox --------------------------------------------------------------

namespace {
// Room for the dropped list: eight items, as the class library shows by default.
const int DropDownHeight = 8 * 16 + 24;
}  // namespace

TComboBox::TComboBox(TComponent* owner, TWinControl* parent, TComboBoxStyle style)
    : TStdControl(owner, parent)
    , style_(style) {
    width_ = 145;
    height_ = DropDownHeight;
    CreateChild("COMBOBOX", (style == csDropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN | CBS_AUTOHSCROLL) | WS_VSCROLL |
                                WS_TABSTOP);
}

void TComboBox::SetBounds(int left, int top, int width, int) {
    TWinControl::SetBounds(left, top, width, DropDownHeight);
}

void TComboBox::AddItem(const std::string& text) {
    SendMessageA(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void TComboBox::ClearItems() { SendMessageA(handle_, CB_RESETCONTENT, 0, 0); }

int TComboBox::ItemCount() const { return static_cast<int>(SendMessageA(handle_, CB_GETCOUNT, 0, 0)); }

std::string TComboBox::Item(int index) const {
    LRESULT length = SendMessageA(handle_, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) return "";
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(handle_, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

int TComboBox::ItemIndex() const { return static_cast<int>(SendMessageA(handle_, CB_GETCURSEL, 0, 0)); }

void TComboBox::SetItemIndex(int index) { SendMessageA(handle_, CB_SETCURSEL, index, 0); }

void TComboBox::CommandNotify(WORD code) {
    if (code == CBN_SELCHANGE && OnChange) OnChange(this);
}

// --- TCheckBox --------------------------------------------------------------

TCheckBox::TCheckBox(TComponent* owner, TWinControl* parent) : TStdControl(owner, parent) {
    width_ = 97;
    height_ = 17;
    parentColor_ = true;
    CreateChild("BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP);
}

bool TCheckBox::Checked() const { return SendMessageA(handle_, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TCheckBox::SetChecked(bool checked) {
    SendMessageA(handle_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::CommandNotify(WORD code) {
    if (code == BN_CLICKED && OnClick) OnClick(this);
}

// --- TStaticText ------------------------------------------------------------

TStaticText::TStaticText(TComponent* owner, TWinControl* parent) : TStdControl(owner, parent) {
    width_ = 65;
    height_ = 17;
    parentColor_ = true;
    CreateChild("STATIC", SS_LEFT | SS_NOTIFY);
}

void TStaticText::SetShowAccelChar(bool show) {
    LONG style = GetWindowLongA(handle_, GWL_STYLE);
    SetWindowLongA(handle_, GWL_STYLE, show ? style & ~SS_NOPREFIX : style | SS_NOPREFIX);
    Invalidate();
}

void TStaticText::SetPathEllipsis(bool ellipsis) {
    LONG style = GetWindowLongA(handle_, GWL_STYLE);
    SetWindowLongA(handle_, GWL_STYLE, ellipsis ? style | SS_PATHELLIPSIS : style & ~SS_PATHELLIPSIS);
    Invalidate();
}
