// The standard and extra controls on a real form: sizes, texts, states and their events.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "classlib/extctrls.h"
#include "classlib/forms.h"
#include "classlib/jpeg.h"
#include "classlib/stdctrls.h"

namespace {

class Controls : public ::testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        form_ = new TForm(nullptr, "TControlsTestForm", bsDialog);
        form_->SetClientSize(400, 300);
    }
    void TearDown() override { delete form_; }
    TForm* form_ = nullptr;
};

TEST_F(Controls, ChildrenUseTheFormsFont) {
    auto* button = new TButton(form_, form_);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(button->Handle(), WM_GETFONT, 0, 0));
    LOGFONTA lf{};
    ASSERT_TRUE(GetObjectA(font, sizeof(lf), &lf));
    EXPECT_STREQ(lf.lfFaceName, "Tahoma");
    EXPECT_EQ(lf.lfHeight, -11);
}

TEST_F(Controls, LabelTakesTheSizeOfItsCaption) {
    auto* label = new TLabel(form_, form_);
    label->SetBounds(10, 20, 0, 0);
    label->SetCaption("Convert to:");
    int shortWidth = label->Width();
    EXPECT_GT(shortWidth, 30);
    EXPECT_EQ(label->Height(), 13);
    label->SetCaption("Convert to: something much longer");
    EXPECT_GT(label->Width(), shortWidth);
    EXPECT_EQ(label->Left(), 10);
    EXPECT_EQ(label->Top(), 20);
    label->SetAutoSize(false);
    label->SetBounds(10, 20, 50, 30);
    label->SetCaption("x");
    EXPECT_EQ(label->Width(), 50);
}

TEST_F(Controls, LabeledEditKeepsItsLabelAbove) {
    auto* edit = new TLabeledEdit(form_, form_);
    edit->EditLabel()->SetCaption("Input:");
    edit->SetBounds(16, 120, 345, 21);
    EXPECT_EQ(edit->EditLabel()->Left(), 16);
    EXPECT_EQ(edit->EditLabel()->Top(), 120 - 13 - 3);
    edit->SetBounds(30, 60, 100, 21);
    EXPECT_EQ(edit->EditLabel()->Left(), 30);
    EXPECT_EQ(edit->EditLabel()->Top(), 60 - 13 - 3);
}

TEST_F(Controls, EditReadOnlyAndTabStop) {
    auto* edit = new TEdit(form_, form_);
    EXPECT_TRUE(edit->TabStop());
    EXPECT_FALSE(edit->ReadOnly());
    edit->SetReadOnly(true);
    edit->SetTabStop(false);
    EXPECT_TRUE(edit->ReadOnly());
    EXPECT_FALSE(edit->TabStop());
    edit->SetText("C:\\v\\clip.flv");
    EXPECT_EQ(edit->Text(), "C:\\v\\clip.flv");
}

TEST_F(Controls, ComboBoxItemsSelectionAndChange) {
    auto* combo = new TComboBox(form_, form_, csDropDownList);
    combo->SetBounds(280, 155, 81);
    EXPECT_EQ(combo->Width(), 81);
    EXPECT_EQ(GetWindowLongA(combo->Handle(), GWL_STYLE) & 3, CBS_DROPDOWNLIST);
    EXPECT_EQ(combo->ItemIndex(), -1);
    combo->AddItem("AVI");
    combo->AddItem("MPEG2");
    EXPECT_EQ(combo->ItemCount(), 2);
    EXPECT_EQ(combo->Item(1), "MPEG2");
    EXPECT_EQ(combo->Item(5), "");
    int changes = 0;
    combo->OnChange = [&](TObject*) { ++changes; };
    combo->SetItemIndex(1);
    EXPECT_EQ(combo->ItemIndex(), 1);
    EXPECT_EQ(changes, 0) << "only the user's choice is a change";
    SendMessageA(form_->Handle(), WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo->Handle()));
    EXPECT_EQ(changes, 1);
    RECT closed;
    GetWindowRect(combo->Handle(), &closed);
    SendMessageA(combo->Handle(), CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&closed));
    EXPECT_GT(closed.bottom - closed.top, 60) << "room for the dropped list";
}

TEST_F(Controls, ButtonAndCheckBoxClicks) {
    auto* button = new TButton(form_, form_);
    auto* check = new TCheckBox(form_, form_);
    int clicks = 0, checks = 0;
    button->OnClick = [&](TObject*) { ++clicks; };
    check->OnClick = [&](TObject*) { ++checks; };
    SendMessageA(form_->Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(button->Handle()));
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(check->Checked());
    check->SetChecked(true);
    EXPECT_TRUE(check->Checked());
    check->SetVisible(false);
    EXPECT_FALSE(check->Visible());
    EXPECT_EQ(checks, 0);
}

TEST_F(Controls, StaticTextCarriesCaptionAndHint) {
    auto* text = new TStaticText(form_, form_);
    text->SetBounds(16, 192, 377, 17);
    text->SetShowAccelChar(false);
    text->SetPathEllipsis(true);
    EXPECT_TRUE(GetWindowLongA(text->Handle(), GWL_STYLE) & SS_NOPREFIX);
    EXPECT_EQ(GetWindowLongA(text->Handle(), GWL_STYLE) & SS_ELLIPSISMASK, SS_PATHELLIPSIS);
    text->SetCaption("C:\\Tom & Jerry\\clip.avi");
    text->SetHint("C:\\Tom & Jerry\\clip.avi");
    EXPECT_EQ(text->Caption(), "C:\\Tom & Jerry\\clip.avi");
    EXPECT_EQ(text->Hint(), "C:\\Tom & Jerry\\clip.avi");
    text->SetHint("C:\\other.avi");
    EXPECT_EQ(text->Hint(), "C:\\other.avi");
}

// A picture of a known size, drawn as one colour.
class SolidGraphic : public TGraphic {
public:
    SolidGraphic(int w, int h) : w_(w), h_(h) {}
    bool Empty() const override { return false; }
    int Width() const override { return w_; }
    int Height() const override { return h_; }
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}
    void Draw(TCanvas& canvas, const RECT& rect) override {
        ++draws;
        canvas.FillRect(rect, clRed);
    }
    std::unique_ptr<TGraphic> CreateNew() const override { return std::make_unique<SolidGraphic>(w_, h_); }
    void Touch() { Changed(); }
    int draws = 0;

private:
    int w_, h_;
};

TEST_F(Controls, ImagePlacesItsPicture) {
    auto* image = new TImage(form_, form_);
    image->SetBounds(46, 20, 220, 19);
    EXPECT_EQ(image->DestRect().right - image->DestRect().left, 0) << "empty picture";
    image->Picture().SetGraphic(std::make_unique<SolidGraphic>(100, 9));
    struct Case {
        bool stretch, center;
        RECT expected;
    } cases[] = {
        {false, false, {0, 0, 100, 9}},
        {false, true, {60, 5, 160, 14}},
        {true, false, {0, 0, 220, 19}},
        {true, true, {0, 0, 220, 19}},
    };
    for (const Case& c : cases) {
        image->SetStretch(c.stretch);
        image->SetCenter(c.center);
        RECT r = image->DestRect();
        EXPECT_TRUE(EqualRect(&r, &c.expected))
            << c.stretch << c.center << " " << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    }
}

TEST_F(Controls, ImageRepaintsWhenItsPictureChanges) {
    form_->Show();
    auto* image = new TImage(form_, form_);
    image->SetBounds(0, 0, 50, 50);
    image->Picture().SetGraphic(std::make_unique<SolidGraphic>(50, 50));
    auto* graphic = static_cast<SolidGraphic*>(image->Picture().Graphic());
    UpdateWindow(image->Handle());
    int before = graphic->draws;
    EXPECT_GE(before, 1);
    graphic->Touch();
    UpdateWindow(image->Handle());
    EXPECT_EQ(graphic->draws, before + 1) << "a change of the graphic repaints the control";
}

TEST_F(Controls, BevelPaintsItsShapes) {
    form_->Show();
    auto* bevel = new TBevel(form_, form_);
    bevel->SetBounds(10, 10, 100, 40);
    for (TBevelShape shape : {bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer}) {
        bevel->SetShape(shape);
        bevel->SetStyle(bsRaised);
        UpdateWindow(bevel->Handle());
        EXPECT_FALSE(GetUpdateRect(bevel->Handle(), nullptr, FALSE));
    }
}

}  // namespace

// A sizeable form asked for sizes the system will not give it (narrower than the smallest
// window, larger than the screen), then for one it can have. What the form holds as its
// bounds must be the real window after every request, or the next client size is worked out
// from a size the window never had.
TEST(ControlBounds, StoredBoundsFollowTheWindowThroughSizesItCannotGet) {
    Application->Initialize();
    struct Case {
        const char* name;
        std::vector<SIZE> clients;  // the last one fits the screen and is reached exactly
    } cases[] = {
        {"too narrow twice", {{16, 35}, {16, 35}, {200, 169}}},
        {"too narrow once", {{16, 35}, {200, 169}}},
        {"larger than the screen twice", {{3000, 2500}, {3000, 2500}, {200, 169}}},
        {"too wide, then too narrow", {{1400, 1019}, {1400, 1019}, {10, 10}, {10, 10}, {700, 519}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TForm form(nullptr, "TBoundsTestForm");
        form.SetBounds(100, 100, 556, 471);
        form.Show();
        for (const SIZE& client : c.clients) {
            SCOPED_TRACE(std::to_string(client.cx) + " x " + std::to_string(client.cy));
            form.SetClientSize(client.cx, client.cy);
            RECT real;
            GetWindowRect(form.Handle(), &real);
            EXPECT_EQ(form.Left(), real.left);
            EXPECT_EQ(form.Top(), real.top);
            EXPECT_EQ(form.Width(), real.right - real.left);
            EXPECT_EQ(form.Height(), real.bottom - real.top);
        }
        EXPECT_EQ(form.ClientWidth(), c.clients.back().cx);
        EXPECT_EQ(form.ClientHeight(), c.clients.back().cy);
    }
}
