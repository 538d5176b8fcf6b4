#include "classlib/extctrls.h"

// --- TImage -----------------------------------------------------------------

TImage::TImage(TComponent* owner, TWinControl* parent) : TWinControl(owner, parent) {
    RegisterLibraryClass("TImage");
    width_ = 105;
    height_ = 105;
    CreateWindowHandle("TImage", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, parent ? parent->Handle() : nullptr);
    picture_.OnChange = [this](TObject*) { Invalidate(); };
}

void TImage::SetStretch(bool stretch) {
    stretch_ = stretch;
    Invalidate();
}

void TImage::SetCenter(bool center) {
    center_ = center;
    Invalidate();
}

RECT TImage::DestRect() const {
    int w = ClientWidth(), h = ClientHeight();
    if (stretch_) return RECT{0, 0, w, h};
    int pw = picture_.Width(), ph = picture_.Height();
    int left = center_ ? (w - pw) / 2 : 0;
    int top = center_ ? (h - ph) / 2 : 0;
    return RECT{left, top, left + pw, top + ph};
}

// Paints into a bitmap first, so that a moving picture does not flicker.
void TImage::Paint(HDC dc) {
    int w = ClientWidth(), h = ClientHeight();
    if (w <= 0 || h <= 0) return;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all{0, 0, w, h};
    FillRect(memory, &all, GetSysColorBrush(COLOR_BTNFACE));
    if (TGraphic* graphic = picture_.Graphic(); graphic && !graphic->Empty()) {
        TCanvas canvas(memory);
        graphic->Draw(canvas, DestRect());
    }
    BitBlt(dc, 0, 0, w, h, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

LRESULT TImage::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(handle_, &ps);
        Paint(dc);
        EndPaint(handle_, &ps);
        return 0;
    }
    case WM_SIZE: Invalidate(); break;
    default: break;
    }
    return TWinControl::WndProc(message, wParam, lParam);
}

// --- TBevel -----------------------------------------------------------------

TBevel::TBevel(TComponent* owner, TWinControl* parent) : TWinControl(owner, parent) {
    RegisterLibraryClass("TBevel");
    width_ = 50;
    height_ = 50;
    CreateWindowHandle("TBevel", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, WS_EX_TRANSPARENT,
                       parent ? parent->Handle() : nullptr);
}

void TBevel::SetShape(TBevelShape shape) {
    shape_ = shape;
    Invalidate();
}

void TBevel::SetStyle(TBevelStyle style) {
    style_ = style;
    Invalidate();
}

LRESULT TBevel::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(handle_, &ps);
        RECT r;
        GetClientRect(handle_, &r);
        UINT edge = style_ == bsLowered ? (shape_ == bsFrame ? EDGE_ETCHED : BDR_SUNKENOUTER)
                                        : (shape_ == bsFrame ? EDGE_BUMP : BDR_RAISEDINNER);
        UINT sides = 0;
        switch (shape_) {
        case bsBox:
        case bsFrame: sides = BF_RECT; break;
        case bsTopLine:
            sides = BF_TOP;
            r.bottom = r.top + 2;
            edge = style_ == bsLowered ? EDGE_ETCHED : EDGE_BUMP;
            break;
        case bsBottomLine:
            sides = BF_BOTTOM;
            r.top = r.bottom - 2;
            edge = style_ == bsLowered ? EDGE_ETCHED : EDGE_BUMP;
            break;
        case bsLeftLine:
            sides = BF_LEFT;
            r.right = r.left + 2;
            edge = style_ == bsLowered ? EDGE_ETCHED : EDGE_BUMP;
            break;
        case bsRightLine:
            sides = BF_RIGHT;
            r.left = r.right - 2;
            edge = style_ == bsLowered ? EDGE_ETCHED : EDGE_BUMP;
            break;
        case bsSpacer: break;
        }
        if (sides) DrawEdge(dc, &r, edge, sides);
        EndPaint(handle_, &ps);
        return 0;
    }
    return TWinControl::WndProc(message, wParam, lParam);
}

// --- TLabeledEdit -----------------------------------------------------------

namespace {
const int LabelSpacing = 3;
}  // namespace

TLabeledEdit::TLabeledEdit(TComponent* owner, TWinControl* parent) : TEdit(owner, parent) {
    label_ = new TLabel(this, parent);
    BoundsChanged();
}

void TLabeledEdit::SetBounds(int left, int top, int width, int height) {
    TEdit::SetBounds(left, top, width, height);
    BoundsChanged();
}

void TLabeledEdit::BoundsChanged() {
    if (!label_) return;
    label_->SetBounds(left_, top_ - label_->Height() - LabelSpacing, label_->Width(), label_->Height());
}
