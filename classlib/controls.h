// Windowed controls: the base every form and control of the programs is built on.
#pragma once
#include <windows.h>

#include <string>

#include "classlib/classes.h"

class TFont;

// A control with a window of its own. The window is created by the derived class's
// constructor through CreateWindowHandle; messages reach WndProc.
class TWinControl : public TComponent {
public:
    TWinControl(TComponent* owner, TWinControl* parent);
    ~TWinControl() override;

    HWND Handle() const { return handle_; }
    TWinControl* Parent() const { return parent_; }

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetBounds(int left, int top, int width, int height);
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    int ClientWidth() const;
    int ClientHeight() const;
    virtual void SetClientSize(int width, int height);
    void SetClientWidth(int v) { SetClientSize(v, ClientHeight()); }
    void SetClientHeight(int v) { SetClientSize(ClientWidth(), v); }

    std::string Caption() const;
    void SetCaption(const std::string& text);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& text) { SetCaption(text); }

    bool Visible() const;
    virtual void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const;
    void SetEnabled(bool enabled);
    int TabOrder() const { return tabOrder_; }
    // Places this control at position order among its siblings for the Tab key.
    void SetTabOrder(int order);
    void SetFocus();
    bool Focused() const;
    void Invalidate();
    void Repaint();
    // Uses a font that the caller keeps alive (a form's font or a control's own).
    void SetFont(const TFont& font);

    // Finds the control object of a window of this library.
    static TWinControl* FromHandle(HWND window);

protected:
    // Creates the window; a className of nullptr registers and uses this library's class.
    void CreateWindowHandle(const char* className, DWORD style, DWORD exStyle, HWND parentWindow, HMENU menu = nullptr);
    // Handles a message; the default hands it to the window class's own procedure.
    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam);
    // A WM_COMMAND notification sent to the parent for this control.
    virtual void CommandNotify(WORD code) {}
    // A WM_NOTIFY notification sent to the parent for this control.
    virtual LRESULT Notify(NMHDR* header) { return 0; }
    // A WM_CTLCOLOR* message sent to the parent for this control: true with brush set when handled.
    virtual bool CtlColor(HDC dc, HBRUSH& brush) { return false; }
    // Keeps the stored bounds in step with the window.
    virtual void BoundsChanged() {}

    HWND handle_ = nullptr;
    TWinControl* parent_;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    int tabOrder_ = -1;

private:
    static LRESULT CALLBACK StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void UpdateBoundsFromWindow();
    void ForgetWindow();
    WNDPROC defaultProc_ = nullptr;
};

// Registers (once) the window class of this library with the given name.
void RegisterLibraryClass(const char* className, UINT style = CS_DBLCLKS, HBRUSH background = nullptr);
