// ActiveX hosting as a control sees it: the calls it receives when it goes, in order and with
// live windows, and the error text it leaves to be filled in on request.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>

#include "classlib/forms.h"
#include "classlib/olectrls.h"
#include "tests/classlib/probecontrol.h"

namespace {

class Hosting : public ::testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        registration_ = std::make_unique<probe::Registration>();
        ASSERT_TRUE(registration_->Ok()) << "the probe control could not be registered";
        probe::Calls().clear();
        form_ = new TForm(nullptr, "THostingTestForm");
        form_->SetBounds(20, 20, 300, 200);
        control_ = new TOleControl(form_, form_, probe::kProgId);
        control_->SetBounds(0, 0, 200, 100);
        ASSERT_TRUE(control_->HasControl());
    }
    void TearDown() override {
        delete form_;
        registration_.reset();
    }

    std::unique_ptr<probe::Registration> registration_;
    TForm* form_ = nullptr;
    TOleControl* control_ = nullptr;
};

TEST_F(Hosting, ControlIsDeactivatedAndClosedWhileItsWindowsLive) {
    struct Case {
        const char* name;
        std::function<void(TForm*& form, TOleControl*& control)> free;
    } cases[] = {
        {"the form is freed",
         [](TForm*& form, TOleControl*&) {
             delete form;
             form = nullptr;
         }},
        {"the control alone is freed",
         [](TForm*&, TOleControl*& control) {
             delete control;
             control = nullptr;
         }},
        {"the form's window is destroyed first",
         [](TForm*& form, TOleControl*&) {
             DestroyWindow(form->Handle());
             delete form;
             form = nullptr;
         }},
    };
    const std::vector<std::string> expected = {
        "InPlaceDeactivate own=alive container=alive",
        "Close container=alive",
        "SetClientSite(null) container=alive",
        "Released",
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!form_) SetUp();
        ASSERT_EQ(probe::CallsNamed({"DoVerb"}), std::vector<std::string>{"DoVerb own=alive container=alive"});
        c.free(form_, control_);
        EXPECT_EQ(probe::CallsNamed({"InPlaceDeactivate", "Close", "SetClientSite(null)", "Released"}), expected);
        EXPECT_EQ(probe::LiveControls(), 0);
        delete form_;
        form_ = nullptr;
        registration_.reset();
    }
}

TEST_F(Hosting, ControlsDeferredExceptionTextIsTheError) {
    try {
        control_->SetIntegerProp(probe::kDeferredFailure, 1);
        ADD_FAILURE() << "the failing put raised nothing";
    } catch (const EOleSysError& error) {
        EXPECT_STREQ(error.what(), probe::kDeferredText);
        EXPECT_EQ(error.ErrorCode(), probe::kDeferredError);
    }
    EXPECT_NO_THROW(control_->SetIntegerProp(probe::kDeferredFailure + 1, 1)) << "other puts succeed";
}

}  // namespace
