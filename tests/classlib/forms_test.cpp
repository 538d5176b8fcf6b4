// Keys in forms: Enter and Esc must never read as menu commands.
#include <gtest/gtest.h>

#include "classlib/forms.h"
#include "classlib/stdctrls.h"

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
