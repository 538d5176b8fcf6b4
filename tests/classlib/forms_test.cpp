// Forms: keys (Enter and Esc must never read as menu commands), what a form's window still
// carries when it goes, the application's message filters, and a failed save of a picture.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "classlib/forms.h"
#include "classlib/menus.h"
#include "classlib/stdctrls.h"
#include "tests/support/freedmemory.h"

namespace {

class FormKeys : public ::testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        form_ = new TForm(Application, "TFormKeysTest");
        form_->SetBounds(10, 10, 300, 200);
        edit_ = new TEdit(form_, form_);
        edit_->SetBounds(10, 10, 120, 21);
        form_->MenuCommand = [this](WORD id) {
            commands_.push_back(id);
            return true;
        };
        form_->Show();
        edit_->SetFocus();
        Application->ProcessMessages();
    }
    void TearDown() override { delete form_; }

    void Press(HWND target, WPARAM key) {
        PostMessageA(target, WM_KEYDOWN, key, 0);
        PostMessageA(target, WM_KEYUP, key, 0xC0000000);
        Application->ProcessMessages();
    }

    TForm* form_ = nullptr;
    TEdit* edit_ = nullptr;
    std::vector<WORD> commands_;
};

TEST_F(FormKeys, EnterAndEscWithoutButtonsRunNoCommand) {
    Press(edit_->Handle(), VK_RETURN);
    Press(edit_->Handle(), VK_ESCAPE);
    EXPECT_TRUE(commands_.empty());
}

TEST_F(FormKeys, EnterPressesTheDefaultButton) {
    TButton* ok = new TButton(form_, form_);
    ok->SetBounds(150, 10, 75, 25);
    int clicks = 0;
    ok->OnClick = [&](TObject*) { ++clicks; };
    ok->SetDefault(true);
    Press(edit_->Handle(), VK_RETURN);
    EXPECT_EQ(clicks, 1);
    Press(edit_->Handle(), VK_ESCAPE);
    EXPECT_TRUE(commands_.empty());
}

TEST_F(FormKeys, TabMovesBetweenControls) {
    TEdit* second = new TEdit(form_, form_);
    second->SetBounds(10, 40, 120, 21);
    Press(edit_->Handle(), VK_TAB);
    EXPECT_EQ(GetFocus(), second->Handle());
}

TEST_F(FormKeys, EnterPressesTheFocusedButton) {
    TButton* button = new TButton(form_, form_);
    button->SetBounds(150, 10, 75, 25);
    int clicks = 0;
    button->OnClick = [&](TObject*) { ++clicks; };
    button->SetFocus();
    Press(button->Handle(), VK_RETURN);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(commands_.empty());
}

// A form gives the focus to its first tab stop when it is shown (by tab order; controls that are
// no tab stop, hidden or disabled are passed over) and gives it back to the control that had it
// when a modal phase ends: another form shown modally, or the form disabled while a window of
// its own stands over it.
class FormFocus : public ::testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        form_ = new TForm(Application, "TFormFocusTest", bsDialog);
        form_->SetBounds(40, 40, 300, 200);
        TEdit* noTabStop = new TEdit(form_, form_);
        noTabStop->SetTabStop(false);
        noTabStop->SetTabOrder(0);
        TButton* hidden = new TButton(form_, form_);
        hidden->SetTabOrder(1);
        hidden->SetVisible(false);
        TButton* disabled = new TButton(form_, form_);
        disabled->SetTabOrder(2);
        disabled->SetEnabled(false);
        second_ = AddButton(50, 4);
        first_ = AddButton(10, 3);
    }
    void TearDown() override { delete form_; }

    TButton* AddButton(int top, int order) {
        TButton* button = new TButton(form_, form_);
        button->SetBounds(10, top, 75, 25);
        button->SetTabOrder(order);
        return button;
    }

    TForm* form_ = nullptr;
    TButton* first_ = nullptr;
    TButton* second_ = nullptr;
};

TEST_F(FormFocus, ShownFormFocusesItsFirstTabStop) {
    form_->Show();
    Application->ProcessMessages();
    EXPECT_EQ(GetFocus(), first_->Handle());
}

TForm* modalForm = nullptr;
void CALLBACK EndModal(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    modalForm->SetModalResult(mrOk);
}

TEST_F(FormFocus, FocusComesBackAfterAModalForm) {
    form_->Show();
    second_->SetFocus();
    Application->ProcessMessages();
    modalForm = new TForm(form_, "TFormFocusModal", bsDialog);
    SetTimer(nullptr, 0, 200, EndModal);
    EXPECT_EQ(modalForm->ShowModal(), mrOk);
    Application->ProcessMessages();
    EXPECT_EQ(GetFocus(), second_->Handle());
    delete modalForm;
}

TEST_F(FormFocus, FocusComesBackAfterTheFormWasDisabledUnderItsOwnWindow) {
    form_->Show();
    second_->SetFocus();
    Application->ProcessMessages();
    EnableWindow(form_->Handle(), FALSE);
    TForm* over = new TForm(form_, "TFormFocusOver", bsDialog, 0);
    over->Show();
    Application->ProcessMessages();
    EXPECT_NE(GetFocus(), second_->Handle());
    EnableWindow(form_->Handle(), TRUE);
    over->Hide();
    Application->ProcessMessages();
    EXPECT_EQ(GetActiveWindow(), form_->Handle());
    EXPECT_EQ(GetFocus(), second_->Handle());
    delete over;
}

}  // namespace

// A picture whose saving fails after some bytes.
namespace {
class FailingPicture : public TGraphic {
public:
    bool Empty() const override { return false; }
    int Width() const override { return 1; }
    int Height() const override { return 1; }
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream& stream) override {
        stream.WriteBuffer("partial", 7);
        throw EInvalidGraphic("cannot save");
    }
    void Draw(TCanvas&, const RECT&) override {}
    std::unique_ptr<TGraphic> CreateNew() const override { return std::make_unique<FailingPicture>(); }
};
}  // namespace

TEST(GraphicFiles, AFailedSaveLeavesTheExistingFileAlone) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "graphic_save_test.bin";
    {
        TFileStream old(path, fmCreate);
        old.WriteBuffer("original", 8);
    }
    FailingPicture picture;
    EXPECT_THROW(picture.SaveToFile(path), EInvalidGraphic);
    TMemoryStream kept;
    kept.LoadFromFile(path);
    EXPECT_EQ(std::string(static_cast<const char*>(kept.Memory()), size_t(kept.Size())), "original");
    DeleteFileA(path.c_str());
}

namespace {
// What a window holds at the moment it is destroyed, seen from a window hook.
class DestroyWatch {
public:
    explicit DestroyWatch(HWND window) : window_(window) {
        watch_ = this;
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
    }
    ~DestroyWatch() {
        UnhookWindowsHookEx(hook_);
        watch_ = nullptr;
    }
    bool seen = false;
    HMENU menu = nullptr;
    int children = 0;

private:
    static BOOL CALLBACK CountChild(HWND, LPARAM count) {
        ++*reinterpret_cast<int*>(count);
        return TRUE;
    }
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        auto* call = reinterpret_cast<CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && watch_ && call->hwnd == watch_->window_ && call->message == WM_DESTROY) {
            watch_->seen = true;
            watch_->menu = GetMenu(call->hwnd);
            EnumChildWindows(call->hwnd, CountChild, reinterpret_cast<LPARAM>(&watch_->children));
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static DestroyWatch* watch_;
    HWND window_;
    HHOOK hook_ = nullptr;
};
DestroyWatch* DestroyWatch::watch_ = nullptr;

// "alive", "dead" or "none": what a window handle names.
std::string StateOf(HWND window) {
    if (!window) return "none";
    return IsWindow(window) ? "alive" : "dead";
}

// A button that tells what its handle names when its destructor starts.
class WatchedButton : public TButton {
public:
    WatchedButton(TForm* form, std::string& seen) : TButton(form, form), seen_(seen) {}
    ~WatchedButton() override { seen_ = StateOf(Handle()); }

private:
    std::string& seen_;
};

// A form with a child button that watches its handle and a menu with one entry.
TForm* FormWithButtonAndMenu(std::string& buttonSaw) {
    TForm* form = new TForm(nullptr, "TFormTeardownTest");
    new WatchedButton(form, buttonSaw);
    new TEdit(form, form);
    TMainMenu* menu = new TMainMenu(form);
    new TMenuItem(form, menu->Items(), "File");
    menu->Rebuild();
    return form;
}

TEST(FormTeardown, OwnedControlsAndMenuGoWhileTheFormsWindowLives) {
    Application->Initialize();
    std::string buttonSaw;
    TForm* form = FormWithButtonAndMenu(buttonSaw);
    ASSERT_NE(GetMenu(form->Handle()), nullptr);
    DestroyWatch watch(form->Handle());
    delete form;
    ASSERT_TRUE(watch.seen);
    EXPECT_EQ(watch.menu, nullptr) << "the menu is taken off the window before it is destroyed";
    EXPECT_EQ(watch.children, 0) << "the controls' windows are gone before the form's";
    EXPECT_EQ(buttonSaw, "alive");
}

TEST(FormTeardown, ControlsKeepNoHandleOfADestroyedWindow) {
    Application->Initialize();
    struct Case {
        const char* name;
        bool destroyWindowFirst;
        const char* buttonSees;
    } cases[] = {
        {"the form is freed", false, "alive"},
        {"the form's window is destroyed before the form", true, "none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string buttonSaw;
        TForm* form = FormWithButtonAndMenu(buttonSaw);
        if (c.destroyWindowFirst) {
            DestroyWindow(form->Handle());
            EXPECT_EQ(form->Handle(), nullptr);
        }
        delete form;
        EXPECT_EQ(buttonSaw, c.buttonSees);
    }
}

// A form with a menu whose entry has the shortcut Ctrl+Q.
struct MenuForm {
    MenuForm() : form(new TForm(nullptr, "TMessageFilterTest")) {
        TMainMenu* menu = new TMainMenu(form);
        TMenuItem* file = new TMenuItem(form, menu->Items(), "File");
        TMenuItem* quit = new TMenuItem(form, file, "Quit", scCtrl | 'Q');
        quit->OnClick = [this](TObject*) { ++clicks; };
        menu->Rebuild();
    }
    TForm* form;
    int clicks = 0;
};

TEST(MessageFilters, GoWithTheirOwners) {
    Application->Initialize();
    const int before = Application->MessageFilterCount();
    for (int i = 0; i < 20; ++i) {
        MenuForm menuForm;
        delete menuForm.form;
    }
    EXPECT_EQ(Application->MessageFilterCount(), before);
}

// Ctrl held through the keyboard state while the key messages of one key press are handled.
void PressWithCtrl(HWND window, WPARAM key) {
    BYTE keys[256] = {0};
    GetKeyboardState(keys);
    const BYTE saved = keys[VK_CONTROL];
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    PostMessageA(window, WM_KEYDOWN, key, 0);
    Application->ProcessMessages();
    keys[VK_CONTROL] = saved;
    SetKeyboardState(keys);
}

TEST(MessageFilters, AFilterMayAddAndRemoveFiltersWhileTheyRun) {
    Application->Initialize();
    const size_t writtenBefore = FreedBlocksWritten();
    TForm* target = new TForm(nullptr, "TMessageFilterTest");
    std::vector<MenuForm*> added;
    MenuForm* victim = nullptr;
    int seen = 0;
    // Runs before the victim's menu filter: frees the victim and adds many filters behind it.
    const int id = Application->AddMessageFilter([&](MSG& msg) {
        if (msg.hwnd != target->Handle() || msg.message != WM_KEYDOWN) return false;
        ++seen;
        delete victim->form;
        for (int i = 0; i < 40; ++i) added.push_back(new MenuForm);
        return false;
    });
    victim = new MenuForm;
    PressWithCtrl(target->Handle(), 'Q');
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(victim->clicks, 0);
    Application->RemoveMessageFilter(id);
    // The menus added meanwhile take their shortcuts from the next message on.
    PressWithCtrl(added.back()->form->Handle(), 'Q');
    EXPECT_EQ(added.back()->clicks, 1);
    for (MenuForm* menuForm : added) {
        delete menuForm->form;
        delete menuForm;
    }
    delete victim;
    delete target;
    EXPECT_EQ(FreedBlocksWritten(), writtenBefore);
}

}  // namespace
