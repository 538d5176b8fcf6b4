// The standard controls: buttons, labels, edits, combo boxes, check boxes and static text.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "classlib/controls.h"

// A child control over one of the system's window classes, with a tab stop and a hint.
class TStdControl : public TWinControl {
public:
    TStdControl(TComponent* owner, TWinControl* parent) : TWinControl(owner, parent) {}
    ~TStdControl() override;

    bool TabStop() const;
    void SetTabStop(bool tabStop);
    // The tooltip text shown while the pointer rests on the control ("" shows none).
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint);

protected:
    // Creates the child window at the stored bounds inside the parent.
    void CreateChild(const char* className, DWORD style, DWORD exStyle = 0);
    // Labels, check boxes and static text show the parent's face colour behind them.
    bool CtlColor(HDC dc, HBRUSH& brush) override;
    bool parentColor_ = false;

private:
    std::string hint_;
    HWND tooltip_ = nullptr;
};

class TButton : public TStdControl {
public:
    TButton(TComponent* owner, TWinControl* parent);
    // Acts as if the user clicked the button.
    void Click();
    // A default button shows the thicker frame and answers Enter.
    void SetDefault(bool isDefault);
    TNotifyEvent OnClick;

protected:
    void CommandNotify(WORD code) override;
};

// Text on the form. With AutoSize (the default) the label takes the size of its caption.
class TLabel : public TStdControl {
public:
    TLabel(TComponent* owner, TWinControl* parent);
    void SetCaption(const std::string& text);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool autoSize);

private:
    void AdjustSize();
    bool autoSize_ = true;
};

class TEdit : public TStdControl {
public:
    TEdit(TComponent* owner, TWinControl* parent);
    bool ReadOnly() const;
    void SetReadOnly(bool readOnly);
    TNotifyEvent OnChange;

protected:
    void CommandNotify(WORD code) override;
    // Read-only edits keep the window colour, as editable ones do.
    bool CtlColor(HDC dc, HBRUSH& brush) override;
};

enum TComboBoxStyle { csDropDown, csDropDownList };

class TComboBox : public TStdControl {
public:
    // The style is fixed at creation: csDropDownList takes no free text.
    TComboBox(TComponent* owner, TWinControl* parent, TComboBoxStyle style = csDropDown);
    TComboBoxStyle Style() const { return style_; }
    void AddItem(const std::string& text);
    void ClearItems();
    int ItemCount() const;
    std::string Item(int index) const;
    // -1 when nothing is selected.
    int ItemIndex() const;
    void SetItemIndex(int index);
    // The control's closed height is the system's; width and top follow SetBounds.
    void SetBounds(int left, int top, int width, int height = 21);
    TNotifyEvent OnChange;

protected:
    void CommandNotify(WORD code) override;

private:
    TComboBoxStyle style_;
};

class TCheckBox : public TStdControl {
public:
    TCheckBox(TComponent* owner, TWinControl* parent);
    bool Checked() const;
    void SetChecked(bool checked);
    TNotifyEvent OnClick;

protected:
    void CommandNotify(WORD code) override;
};

// Static text in a window of its own; it can take part in the tab order and carry a hint.
class TStaticText : public TStdControl {
public:
    TStaticText(TComponent* owner, TWinControl* parent);
    // Whether "&" marks an accelerator (on by default) or stands for itself.
    void SetShowAccelChar(bool show);
    // On one line, with the middle of a text too long for the control (a path) replaced by "...".
    void SetPathEllipsis(bool ellipsis);
};
