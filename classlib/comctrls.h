// Common controls: the status bar.
#pragma once
#include <string>

#include "classlib/controls.h"

// A status bar at the bottom of its parent. With SimplePanel on it shows one text across
// its whole width; its height is fixed (the parent places it).
class TStatusBar : public TWinControl {
public:
    TStatusBar(TComponent* owner, TWinControl* parent);

    bool SimplePanel() const { return simplePanel_; }
    void SetSimplePanel(bool simple);
    std::string SimpleText() const { return simpleText_; }
    void SetSimpleText(const std::string& text);

    // Places the bar along the bottom of its parent's client area, full width.
    void AlignToParent();

private:
    bool simplePanel_ = false;
    std::string simpleText_;
};
