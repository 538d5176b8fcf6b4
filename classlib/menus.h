// Menus: a form's main menu, its items and their keyboard shortcuts.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/classes.h"

class TForm;

// A shortcut as the class library stores it: the virtual key in the low byte, plus
// scShift, scCtrl and scAlt.
using TShortCut = uint16_t;
constexpr TShortCut scShift = 0x2000;
constexpr TShortCut scCtrl = 0x4000;
constexpr TShortCut scAlt = 0x8000;

// "Ctrl+O", "Shift+Ctrl+F2", "" for none.
std::string ShortCutToText(TShortCut shortCut);
// The shortcut of a key press with the modifier keys held now.
TShortCut ShortCutFromKey(WORD virtualKey);

class TMenuItem : public TComponent {
public:
    // Owned by owner (the form); added to parentItem's list when one is given.
    TMenuItem(TComponent* owner, TMenuItem* parentItem, const std::string& caption, TShortCut shortCut = 0);

    std::string Caption;
    TShortCut ShortCut = 0;
    bool Enabled = true;
    TNotifyEvent OnClick;

    bool IsLine() const { return Caption == "-"; }
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Item(int index) const { return items_[index]; }
    void Add(TMenuItem* item) { items_.push_back(item); }
    // Runs OnClick the way every event handler runs.
    void Click();
    WORD Command() const { return command_; }

private:
    friend class TMainMenu;
    std::vector<TMenuItem*> items_;
    WORD command_ = 0;
};

// The menu bar of a form: its top-level items, the menu commands and the shortcuts.
class TMainMenu : public TComponent {
public:
    explicit TMainMenu(TForm* form);
    ~TMainMenu() override;

    // A top-level entry ("File", ...); its entries are added to it.
    TMenuItem* Items() { return root_; }
    // Builds the window menu from the items and attaches it to the form.
    void Rebuild();
    TMenuItem* FindCommand(WORD command) const;
    TMenuItem* FindShortCut(TShortCut shortCut) const;
    // Runs the item whose shortcut the key message carries; true when one did.
    bool IsShortCut(const MSG& msg);

private:
    HMENU BuildPopup(TMenuItem* parentItem, WORD& nextCommand);
    TForm* form_;
    TMenuItem* root_;
    HMENU menu_ = nullptr;
    int filterId_ = 0;
    std::shared_ptr<TMainMenu*> self_;
};
