#include "classlib/comctrls.h"

#include <commctrl.h>

TStatusBar::TStatusBar(TComponent* owner, TWinControl* parent) : TWinControl(owner, parent) {
    height_ = 19;
    // The bar neither sizes nor places itself: its owner keeps it at the bottom with its own height.
    CreateWindowHandle(STATUSCLASSNAMEA, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_NOPARENTALIGN | CCS_NORESIZE, 0,
                       parent->Handle());
    AlignToParent();
}

void TStatusBar::SetSimplePanel(bool simple) {
    simplePanel_ = simple;
    SendMessageA(handle_, SB_SIMPLE, simple ? TRUE : FALSE, 0);
    if (simple) SendMessageA(handle_, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(simpleText_.c_str()));
}

void TStatusBar::SetSimpleText(const std::string& text) {
    simpleText_ = text;
    if (simplePanel_) SendMessageA(handle_, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(simpleText_.c_str()));
}

void TStatusBar::AlignToParent() {
    if (!parent_) return;
    int height = height_;
    SetBounds(0, parent_->ClientHeight() - height, parent_->ClientWidth(), height);
}
