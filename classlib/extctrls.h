// Extra controls: the picture control, the bevel and the edit with a label of its own.
#pragma once
#include <windows.h>

#include "classlib/graphics.h"
#include "classlib/stdctrls.h"

// Shows its picture: at the top left, centred, or stretched over the whole control.
// Every change of the picture (a new graphic, a new animation frame) repaints it.
class TImage : public TWinControl {
public:
    TImage(TComponent* owner, TWinControl* parent);
    TPicture& Picture() { return picture_; }
    bool Stretch() const { return stretch_; }
    void SetStretch(bool stretch);
    bool Center() const { return center_; }
    void SetCenter(bool center);
    // Where the picture lands in the control's client area.
    RECT DestRect() const;

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint(HDC dc);
    TPicture picture_;
    bool stretch_ = false;
    bool center_ = false;
};

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

// A sunken or raised box, frame or line.
class TBevel : public TWinControl {
public:
    TBevel(TComponent* owner, TWinControl* parent);
    void SetShape(TBevelShape shape);
    void SetStyle(TBevelStyle style);

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    TBevelShape shape_ = bsBox;
    TBevelStyle style_ = bsLowered;
};

// An edit whose label stands above it, left-aligned, three pixels apart, and moves with it.
class TLabeledEdit : public TEdit {
public:
    TLabeledEdit(TComponent* owner, TWinControl* parent);
    TLabel* EditLabel() const { return label_; }
    void SetBounds(int left, int top, int width, int height);

protected:
    void BoundsChanged() override;

private:
    TLabel* label_ = nullptr;
};
