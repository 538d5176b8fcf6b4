// The application object, forms, the message loop and the standard message dialogs.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/controls.h"
#include "classlib/graphics.h"

enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : uint8_t { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
enum TPosition { poDesigned, poDefault, poScreenCenter, poMainFormCenter, poOwnerFormCenter };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7 };

using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;

// A top-level window built in code. className is the window class the form registers,
// by convention the form's own class name ("TForm1"), so that it can be found by class.
class TForm : public TWinControl {
public:
    TForm(TComponent* owner, const char* className, TBorderStyle borderStyle = bsSizeable,
          uint8_t borderIcons = biSystemMenu | biMinimize | biMaximize);
    ~TForm() override;

    TFont& Font() { return font_; }
    TPosition Position() const { return position_; }
    void SetPosition(TPosition position) { position_ = position; }
    TWindowState WindowState() const;
    void SetWindowState(TWindowState state);
    void SetVisible(bool visible) override;

    // Shows the form modally: other windows of the program are disabled until ModalResult is set.
    int ShowModal();
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }
    // Asks the form to close: runs OnClose; the main form's close ends the application.
    void Close();
    // Frees the form once the messages already queued for it have been handled.
    void Release();

    // Whether Tab, Enter and Esc move between controls as in a dialog (on by default).
    bool DialogKeys = true;
    // Menu commands (WM_COMMAND from a menu) go here; a main menu sets it.
    std::function<bool(WORD id)> MenuCommand;

    TNotifyEvent OnShow;
    TNotifyEvent OnResize;
    TNotifyEvent OnDestroy;
    TCloseEvent OnClose;

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void PlaceOnShow();

private:
    // The keyboard focus, as a dialog keeps it: kept when the form is left (deactivated, or
    // disabled for a modal phase), given back when it is active again; the first tab stop takes
    // it when no control had it.
    void RememberFocus();
    void RestoreFocus();
    HWND FirstTabStop() const;

    TFont font_;
    HWND focusedControl_ = nullptr;
    TPosition position_ = poDesigned;
    int modalResult_ = 0;
    bool inModal_ = false;
    bool shownOnce_ = false;
};

// Disables the program's visible, enabled top-level windows but one for its life, and enables
// them again when it ends: what a modal window does to the rest of the program.
class TDisabledWindows {
public:
    explicit TDisabledWindows(HWND except);
    ~TDisabledWindows();
    TDisabledWindows(const TDisabledWindows&) = delete;
    TDisabledWindows& operator=(const TDisabledWindows&) = delete;

private:
    HWND except_;
    std::vector<HWND> windows_;
};

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // Initialises common controls and COM for the GUI thread.
    void Initialize();
    std::string Title() const { return title_; }
    void SetTitle(const std::string& title);
    HWND Handle() const { return handle_; }
    TForm* MainForm() const { return mainForm_; }
    bool Terminated() const { return terminated_; }
    bool ShowMainForm = true;

    // Creates a form owned by the application; the first one becomes the main form.
    // A form builds its controls and runs its own FormCreate in its constructor.
    template <typename T>
    void CreateForm(T*& reference) {
        T* form = new T(this);
        reference = form;
        AdoptForm(form);
    }
    // Shows the main form and runs the message loop until Terminate.
    void Run();
    void Terminate();
    // Handles the messages waiting in the queue, then returns.
    void ProcessMessages();
    // One message: handled and true, or false when the queue is empty.
    bool HandleMessage(bool wait);

    // A filter sees every message before it is dispatched; true means handled (menu
    // shortcuts, an ActiveX control's keys). Its owner removes it by the number it is given;
    // a filter removed while the filters run is not called any more.
    using TMessageFilter = std::function<bool(MSG&)>;
    int AddMessageFilter(TMessageFilter filter);
    void RemoveMessageFilter(int id);
    int MessageFilterCount() const { return static_cast<int>(filters_.size()); }

    // A message box owned by the active form (or by no window before any exists).
    int MessageBox(const std::string& text, const std::string& caption, UINT flags);
    // The default error box for an exception that escaped an event handler.
    void HandleException(const std::exception& error);
    void ShowException(const std::exception& error);

private:
    friend class TForm;
    void AdoptForm(TForm* form);
    bool PreTranslate(MSG& msg);
    HWND handle_ = nullptr;
    struct RegisteredFilter {
        int id;
        TMessageFilter handles;
        bool removed = false;
    };
    std::vector<std::shared_ptr<RegisteredFilter>> filters_;
    int nextFilterId_ = 1;
    std::string title_;
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
    bool initialised_ = false;
};

extern TApplication* Application;

// Runs handler and shows what escapes it in the default error box: the way every event
// handler of a form is called.
void SafeCall(const std::function<void()>& handler);

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : uint16_t { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8, mbAbort = 16, mbRetry = 32, mbIgnore = 64 };
// The standard message dialog: caption "Warning", "Error", "Information", "Confirm" or the title.
int MessageDlg(const std::string& text, TMsgDlgType type, uint16_t buttons, int helpContext);
