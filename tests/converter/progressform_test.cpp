// The progress window's wait animation: shown at the first paint, moving while messages are
// handled, stopped safely with the window.
#include <gtest/gtest.h>

#include <vector>

#include "classlib/forms.h"
#include "converter/progressform.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/painter.h"
#include "gifimage/subimage.h"

namespace {

// The image control's pixels as they are on the screen.
std::vector<COLORREF> ScreenPixels(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    HDC screen = GetDC(nullptr);
    std::vector<COLORREF> pixels;
    for (int y = r.top; y < r.bottom; y += 2)
        for (int x = r.left; x < r.right; x += 2) pixels.push_back(GetPixel(screen, x, y));
    ReleaseDC(nullptr, screen);
    return pixels;
}

int GreyPixels(const std::vector<COLORREF>& pixels) {
    int count = 0;
    for (COLORREF c : pixels)
        if (GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c) && GetRValue(c) < 250) ++count;
    return count;
}

void Pump(int ms) {
    DWORD start = GetTickCount();
    while (static_cast<int>(GetTickCount() - start) < ms) {
        Application->ProcessMessages();
        Sleep(10);
    }
}

class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        owner_ = new TForm(Application, "TProgressOwner");
        owner_->SetBounds(100, 100, 420, 300);
        owner_->Show();
        Form2 = new TForm2(owner_);
    }
    void TearDown() override {
        delete owner_;  // also frees a progress window still standing
        Pump(100);
    }
    TForm* owner_ = nullptr;
};

}  // namespace

TEST_F(ProgressWindow, HoldsACopyOfTheWaitAnimation) {
    auto* gif = dynamic_cast<TGIFImage*>(Form2->Image1->Picture().Graphic());
    ASSERT_NE(gif, nullptr);
    EXPECT_EQ(gif->Frames()->ItemCount(), 10);
    EXPECT_EQ(gif->Width(), 220);
    EXPECT_EQ(gif->Height(), 19);
}

TEST_F(ProgressWindow, ShowsTheFirstFrameAtOnceAndAnimates) {
    Form2->Show();
    UpdateWindow(Form2->Handle());
    Application->ProcessMessages();
    std::vector<COLORREF> first = ScreenPixels(Form2->Image1->Handle());
    EXPECT_GT(GreyPixels(first), 200) << "the bar is drawn at the first paint";
    bool moved = false;
    for (int i = 0; i < 10 && !moved; ++i) {
        Pump(150);
        moved = ScreenPixels(Form2->Image1->Handle()) != first;
    }
    EXPECT_TRUE(moved) << "the frames follow one another while messages are handled";
}

TEST_F(ProgressWindow, ReleasedDuringTheAnimationStopsItsPainter) {
    Form2->Show();
    Pump(300);
    auto* gif = dynamic_cast<TGIFImage*>(Form2->Image1->Picture().Graphic());
    ASSERT_NE(gif, nullptr);
    std::vector<TGIFPainter*>& painters = gif->Painters()->LockList();
    EXPECT_EQ(painters.size(), 1u) << "one painter animates the picture";
    // A handle of our own on the painter's thread: the painter closes its own when it ends.
    HANDLE painterThread = painters.empty() ? nullptr : OpenThread(SYNCHRONIZE, FALSE, painters[0]->ThreadID());
    gif->Painters()->UnlockList();
    ASSERT_NE(painterThread, nullptr);
    EXPECT_EQ(WaitForSingleObject(painterThread, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "animating";
    HWND window = Form2->Handle();
    HWND image = Form2->Image1->Handle();

    Form2->Release();
    EXPECT_TRUE(IsWindow(window)) << "the release waits for its message";
    Pump(300);  // the release is handled, the painter stopped before its image is freed
    EXPECT_EQ(Form2, nullptr) << "the window is freed";
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(image));
    EXPECT_EQ(WaitForSingleObject(painterThread, 2000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the painter lives on";
    CloseHandle(painterThread);

    // Later messages find nothing of the old window: the owner answers and repaints, and a new
    // progress window animates as the first did.
    Pump(300);
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutA(owner_->Handle(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer));
    InvalidateRect(owner_->Handle(), nullptr, TRUE);
    Pump(100);
    EXPECT_FALSE(GetUpdateRect(owner_->Handle(), nullptr, FALSE)) << "the owner repainted";
    Form2 = new TForm2(owner_);
    Form2->Show();
    UpdateWindow(Form2->Handle());
    Pump(300);
    EXPECT_GT(GreyPixels(ScreenPixels(Form2->Image1->Handle())), 200) << "a new window shows its bar";
}

TEST_F(ProgressWindow, GoesWithItsOwner) {
    Form2->Show();
    Pump(200);
    delete owner_;
    owner_ = nullptr;
    EXPECT_EQ(Form2, nullptr);
    Pump(200);
}

// The window stands while the tool runs: a close asked of it (Alt+F4 comes as WM_CLOSE) is refused.
TEST_F(ProgressWindow, RefusesToBeClosed) {
    Form2->Show();
    HWND progress = Form2->Handle();
    SendMessageA(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageA(progress, WM_CLOSE, 0, 0);
    Pump(100);
    ASSERT_TRUE(IsWindow(progress));
    EXPECT_TRUE(IsWindowVisible(progress));
    EXPECT_EQ(Form2->Handle(), progress);
}
