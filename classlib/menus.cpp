#include "classlib/menus.h"

#include <functional>

#include "classlib/forms.h"

namespace {
std::string KeyName(WORD key) {
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return std::string(1, static_cast<char>(key));
    if (key >= VK_F1 && key <= VK_F24) return "F" + std::to_string(key - VK_F1 + 1);
    switch (key) {
    case VK_BACK: return "BkSp";
    case VK_TAB: return "Tab";
    case VK_RETURN: return "Enter";
    case VK_ESCAPE: return "Esc";
    case VK_SPACE: return "Space";
    case VK_PRIOR: return "PgUp";
    case VK_NEXT: return "PgDn";
    case VK_END: return "End";
    case VK_HOME: return "Home";
    case VK_LEFT: return "Left";
    case VK_UP: return "Up";
    case VK_RIGHT: return "Right";
    case VK_DOWN: return "Down";
    case VK_INSERT: return "Ins";
    case VK_DELETE: return "Del";
    default: return "";
    }
}

void ForEachItem(TMenuItem* item, const std::function<bool(TMenuItem*)>& visit) {
    for (int i = 0; i < item->Count(); ++i) {
        if (visit(item->Item(i))) return;
        ForEachItem(item->Item(i), visit);
    }
}
}  // namespace

std::string ShortCutToText(TShortCut shortCut) {
    std::string name = KeyName(shortCut & 0xFF);
    if (name.empty()) return "";
    std::string text;
    if (shortCut & scShift) text += "Shift+";
    if (shortCut & scCtrl) text += "Ctrl+";
    if (shortCut & scAlt) text += "Alt+";
    return text + name;
}

TShortCut ShortCutFromKey(WORD virtualKey) {
    TShortCut shortCut = virtualKey & 0xFF;
    if (GetKeyState(VK_SHIFT) < 0) shortCut |= scShift;
    if (GetKeyState(VK_CONTROL) < 0) shortCut |= scCtrl;
    if (GetKeyState(VK_MENU) < 0) shortCut |= scAlt;
    return shortCut;
}

TMenuItem::TMenuItem(TComponent* owner, TMenuItem* parentItem, const std::string& caption, TShortCut shortCut)
    : TComponent(owner)
    , Caption(caption)
    , ShortCut(shortCut) {
    if (parentItem) parentItem->Add(this);
}

void TMenuItem::Click() {
    if (Enabled && OnClick) SafeCall([this] { OnClick(this); });
}

TMainMenu::TMainMenu(TForm* form)
    : TComponent(form)
    , form_(form)
    , root_(new TMenuItem(this, nullptr, ""))
    , self_(std::make_shared<TMainMenu*>(this)) {
    form_->MenuCommand = [self = std::weak_ptr<TMainMenu*>(self_)](WORD command) {
        auto menu = self.lock();
        if (!menu || !*menu) return false;
        TMenuItem* item = (*menu)->FindCommand(command);
        if (!item) return false;
        item->Click();
        return true;
    };
    // Shortcuts work wherever the keyboard focus is inside the form, also in a hosted control.
    filterId_ = Application->AddMessageFilter([this](MSG& msg) { return IsShortCut(msg); });
}

TMainMenu::~TMainMenu() {
    *self_ = nullptr;
    Application->RemoveMessageFilter(filterId_);
    // A form's window frees the menu it carries: once that window is gone, so is the menu.
    HWND window = form_->Handle();
    if (!menu_ || !window) return;
    if (GetMenu(window) == menu_) SetMenu(window, nullptr);
    DestroyMenu(menu_);
}

HMENU TMainMenu::BuildPopup(TMenuItem* parentItem, WORD& nextCommand) {
    HMENU menu = parentItem == root_ ? CreateMenu() : CreatePopupMenu();
    for (int i = 0; i < parentItem->Count(); ++i) {
        TMenuItem* item = parentItem->Item(i);
        if (item->IsLine()) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        std::string text = item->Caption;
        std::string keys = ShortCutToText(item->ShortCut);
        if (!keys.empty()) text += "\t" + keys;
        UINT flags = MF_STRING | (item->Enabled ? 0 : MF_GRAYED);
        if (item->Count() > 0) {
            HMENU popup = BuildPopup(item, nextCommand);
            AppendMenuA(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(popup), text.c_str());
        } else {
            item->command_ = nextCommand++;
            AppendMenuA(menu, flags, item->command_, text.c_str());
        }
    }
    return menu;
}

void TMainMenu::Rebuild() {
    WORD nextCommand = 1;
    HMENU menu = BuildPopup(root_, nextCommand);
    SetMenu(form_->Handle(), menu);
    if (menu_) DestroyMenu(menu_);
    menu_ = menu;
    DrawMenuBar(form_->Handle());
}

TMenuItem* TMainMenu::FindCommand(WORD command) const {
    TMenuItem* found = nullptr;
    ForEachItem(root_, [&](TMenuItem* item) {
        if (item->Count() == 0 && !item->IsLine() && item->Command() == command) found = item;
        return found != nullptr;
    });
    return found;
}

TMenuItem* TMainMenu::FindShortCut(TShortCut shortCut) const {
    TMenuItem* found = nullptr;
    if (shortCut == 0) return nullptr;
    ForEachItem(root_, [&](TMenuItem* item) {
        if (item->ShortCut == shortCut && item->Count() == 0) found = item;
        return found != nullptr;
    });
    return found;
}

bool TMainMenu::IsShortCut(const MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
    if (!form_->Handle() || GetAncestor(msg.hwnd, GA_ROOT) != form_->Handle()) return false;
    if (!IsWindowEnabled(form_->Handle())) return false;
    TMenuItem* item = FindShortCut(ShortCutFromKey(static_cast<WORD>(msg.wParam)));
    if (!item || !item->Enabled) return false;
    item->Click();
    return true;
}
