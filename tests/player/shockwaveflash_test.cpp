// ActiveX hosting with the Flash control stand-in, in this process: creation from the program
// identifier, in-place activation, properties by dispatch identifier, the call and the event.
#include <gtest/gtest.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "classlib/forms.h"
#include "player/shockwaveflash.h"
#include "tests/player/flash_standin.h"

namespace {
// A property read back through the control's dispatch interface.
VARIANT GetProperty(TOleControl& control, DISPID id) {
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{};
    control.DefaultDispatch()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                                      nullptr);
    return result;
}

std::wstring GetText(TOleControl& control, DISPID id) {
    VARIANT v = GetProperty(control, id);
    std::wstring text = v.vt == VT_BSTR && v.bstrVal ? v.bstrVal : L"";
    VariantClear(&v);
    return text;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

const wchar_t* const kResize =
    L"<invoke name=\"Resize\" "
    L"returntype=\"xml\"><arguments><string>320</string><string>240</string></arguments></invoke>";

// The control's XML call through its dispatch interface, as a client sees it come back.
struct RawCall {
    HRESULT hr;
    SCODE scode;
};
RawCall CallThroughDispatch(TOleControl& control, const std::wstring& request) {
    IDispatch* dispatch = control.DefaultDispatch();
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"CallFunction")};
    if (FAILED(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return {E_UNEXPECTED, 0};
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocStringLen(request.data(), static_cast<UINT>(request.size()));
    DISPPARAMS params{&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &info, nullptr);
    SysFreeString(arg.bstrVal);
    VariantClear(&result);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return {hr, info.scode};
}

// Watches, from a thread of its own, for a message box of this process while the test's thread
// is held inside it; reads what it says and presses OK.
class BoxWatch {
public:
    struct Seen {
        bool shown = false;
        std::string caption, text;
    };
    BoxWatch() : thread_([this] { Watch(); }) {}
    ~BoxWatch() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Ends the watch (after a short grace for a box still coming) and tells what was seen.
    Seen Result() {
        Sleep(300);
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return seen_;
    }

private:
    void Watch() {
        while (!stop_ && !seen_.shown) {
            EnumWindows(
                [](HWND window, LPARAM data) WINAPI -> BOOL {
                    auto* self = reinterpret_cast<BoxWatch*>(data);
                    DWORD pid = 0;
                    GetWindowThreadProcessId(window, &pid);
                    char cls[64] = {0};
                    GetClassNameA(window, cls, sizeof(cls));
                    if (pid != GetCurrentProcessId() || std::string(cls) != "#32770" || !IsWindowVisible(window))
                        return TRUE;
                    char text[1024] = {0};
                    GetWindowTextA(window, text, sizeof(text));
                    self->seen_.caption = text;
                    text[0] = 0;
                    GetDlgItemTextA(window, 0xFFFF, text, sizeof(text));
                    self->seen_.text = text;
                    self->seen_.shown = true;
                    PostMessageA(window, WM_COMMAND, IDOK, 0);
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(this));
            Sleep(50);
        }
    }
    Seen seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class Hosting : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(standin::RegisterFlashStandIn()); }
    void SetUp() override {
        Application->Initialize();
        form_ = new TForm(nullptr, "THostingTestForm");
        form_->SetClientSize(400, 300);
        flash_ = new TShockwaveFlash(form_, form_);
        flash_->SetBounds(0, 0, 400, 280);
        flash_->OnFlashCall = [this](TObject*, const std::wstring& request) { requests_.push_back(request); };
        form_->Show();
    }
    void TearDown() override {
        delete form_;
        if (!scratch_.empty()) DeleteFileA(scratch_.c_str());
    }
    HWND ControlWindow() { return GetWindow(flash_->Handle(), GW_CHILD); }

    TForm* form_ = nullptr;
    TShockwaveFlash* flash_ = nullptr;
    std::vector<std::wstring> requests_;
    std::string scratch_;
};
}  // namespace

TEST_F(Hosting, ControlIsActivatedInPlaceAndFollowsItsWindow) {
    ASSERT_TRUE(flash_->HasControl());
    EXPECT_NE(flash_->EventInterface(), IID_NULL);
    HWND inner = ControlWindow();
    ASSERT_NE(inner, nullptr);
    RECT r;
    GetClientRect(inner, &r);
    EXPECT_EQ(r.right, 400);
    EXPECT_EQ(r.bottom, 280);
    flash_->SetBounds(0, 0, 250, 120);
    GetClientRect(inner, &r);
    EXPECT_EQ(r.right, 250);
    EXPECT_EQ(r.bottom, 120);
}

TEST_F(Hosting, PropertiesGoByTheirDispatchIdentifiers) {
    flash_->SetMovie(L"C:\\movies\\a.swf");
    flash_->SetScale(L"showall");
    flash_->SetSAlign(L"none");
    flash_->SetAlignMode(5);
    flash_->SetBackgroundColor(0x336699);
    EXPECT_EQ(GetText(*flash_, 102), L"C:\\movies\\a.swf");
    EXPECT_EQ(GetText(*flash_, 137), L"showall");
    EXPECT_EQ(GetText(*flash_, 134), L"none");
    VARIANT align = GetProperty(*flash_, 121), color = GetProperty(*flash_, 123);
    EXPECT_EQ(align.lVal, 5);
    EXPECT_EQ(color.lVal, 0x336699);
    EXPECT_THROW(flash_->SetIntegerProp(4242, 1), EOleSysError) << "a property the control lacks";
}

TEST_F(Hosting, CallReturnsTheReplyAndEventsReachTheHandler) {
    flash_->SetMovie(Wide(standin::BinFolder() + "fvp.swf"));
    EXPECT_EQ(flash_->CallFunction(kResize), L"<null/>");
    std::wstring request =
        L"<invoke name=\"ready\"><arguments><number>1</number><number>2</number></arguments></invoke>";
    COPYDATASTRUCT data{0x464C, static_cast<DWORD>(request.size() * sizeof(wchar_t)), request.data()};
    ASSERT_TRUE(SendMessageA(ControlWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)));
    Application->ProcessMessages();
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(requests_[0], request);
}

// What a user sees of an error raised by an event handler: the application's error box (the
// error's text with a full stop, the application's title as caption), and afterwards the control
// goes on delivering events. An EAbort is the silent error: no box.
TEST_F(Hosting, WhatAnEventHandlerRaisesEndsInTheErrorBox) {
    Application->SetTitle("Hosting test");
    struct Case {
        const char* what;
        std::function<void()> raise;
        const char* shown;  // nullptr: no box
    } cases[] = {
        {"error", [] { throw Exception("The request was refused"); }, "The request was refused."},
        {"error ending in a full stop", [] { throw EOleError("Not a movie."); }, "Not a movie."},
        {"abort", [] { throw EAbort("stop"); }, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int raised = 0;
        flash_->OnFlashCall = [&](TObject*, const std::wstring&) {
            ++raised;
            c.raise();
        };
        BoxWatch watch;
        std::wstring request = L"<a/>";
        COPYDATASTRUCT data{0x464C, static_cast<DWORD>(request.size() * sizeof(wchar_t)), request.data()};
        SendMessageA(ControlWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
        EXPECT_NO_THROW(Application->ProcessMessages());
        BoxWatch::Seen seen = watch.Result();
        EXPECT_EQ(raised, 1);
        if (c.shown) {
            EXPECT_TRUE(seen.shown) << "no error box";
            EXPECT_EQ(seen.caption, "Hosting test");
            EXPECT_EQ(seen.text, c.shown);
        } else {
            EXPECT_FALSE(seen.shown) << seen.text;
        }
        ASSERT_TRUE(IsWindow(ControlWindow()));
        // The next event still reaches its handler.
        flash_->OnFlashCall = [this](TObject*, const std::wstring& r) { requests_.push_back(r); };
        requests_.clear();
        SendMessageA(ControlWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
        Application->ProcessMessages();
        EXPECT_EQ(requests_.size(), 1u);
    }
}

// The real control delivers a call only to a loaded movie that offers the function; anything
// else fails the call with E_FAIL (through the dispatch interface: an exception of that code).
TEST_F(Hosting, CallThatNoLoadedMovieTakesFails) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string notAMovieDir = std::string(temp) + "hosting_not_a_movie\\";
    CreateDirectoryA(notAMovieDir.c_str(), nullptr);
    scratch_ = notAMovieDir + "fvp.swf";
    if (FILE* f = std::fopen(scratch_.c_str(), "wb")) {
        std::fputs("not a movie", f);
        std::fclose(f);
    }
    std::wstring companion = Wide(standin::BinFolder() + "fvp.swf");
    std::wstring play =
        L"<invoke name=\"Play\" returntype=\"xml\"><arguments><string>C:\\none.flv</string></arguments></invoke>";
    struct Case {
        const char* what;
        std::wstring movie;  // empty: none put
        std::wstring request;
        bool delivered;
    } cases[] = {
        {"no movie", L"", kResize, false},
        {"a movie that is not the companion", Wide(standin::BinFolder() + "SteelExternalAll.swf"), kResize, false},
        {"a companion file that is no movie", Wide(scratch_), kResize, false},
        {"request not well-formed", companion, L"<invoke name=\"Resize\"><arguments>", false},
        {"not an invocation", companion, L"<call name=\"Resize\"/>", false},
        {"a function the movie does not offer", companion, L"<invoke name=\"Stop\" returntype=\"xml\"/>", false},
        {"Resize to the companion", companion, kResize, true},
        {"Play to the companion", companion, play, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.movie.empty()) flash_->SetMovie(c.movie);
        RawCall raw = CallThroughDispatch(*flash_, c.request);
        if (c.delivered) {
            EXPECT_EQ(raw.hr, S_OK);
            EXPECT_EQ(flash_->CallFunction(c.request), L"<null/>");
        } else {
            EXPECT_EQ(raw.hr, DISP_E_EXCEPTION);
            EXPECT_EQ(raw.scode, E_FAIL);
            EXPECT_THROW(flash_->CallFunction(c.request), EOleSysError);
        }
    }
}
