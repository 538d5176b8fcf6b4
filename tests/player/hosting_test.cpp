// ActiveX hosting with the Flash control stand-in, in this process: creation from the program
// identifier, in-place activation, properties by dispatch identifier, the call and the event.
#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

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
    void TearDown() override { delete form_; }
    HWND ControlWindow() { return GetWindow(flash_->Handle(), GW_CHILD); }

    TForm* form_ = nullptr;
    TShockwaveFlash* flash_ = nullptr;
    std::vector<std::wstring> requests_;
};
} // namespace

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
    EXPECT_EQ(flash_->CallFunction(L"<invoke name=\"x\"/>"), L"<null/>");
    std::wstring request = L"<invoke name=\"ready\"><arguments><number>1</number><number>2</number></arguments></invoke>";
    COPYDATASTRUCT data{0x464C, static_cast<DWORD>(request.size() * sizeof(wchar_t)), request.data()};
    ASSERT_TRUE(SendMessageA(ControlWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)));
    Application->ProcessMessages();
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(requests_[0], request);
}

TEST_F(Hosting, WhatAnEventHandlerRaisesStaysInTheHandler) {
    flash_->OnFlashCall = [](TObject*, const std::wstring&) { throw EAbort("stop"); };
    std::wstring request = L"<a/>";
    COPYDATASTRUCT data{0x464C, static_cast<DWORD>(request.size() * sizeof(wchar_t)), request.data()};
    SendMessageA(ControlWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    EXPECT_NO_THROW(Application->ProcessMessages());
    EXPECT_TRUE(IsWindow(ControlWindow()));
}
