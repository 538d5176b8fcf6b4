// A message-only window that runs the work posted to it when the message is dispatched: the
// tests' way to have something happen inside a message loop of the code under test.
#pragma once
#include <windows.h>

#include <functional>
#include <utility>

class MessageSink {
public:
    MessageSink() {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kClassName;
        RegisterClassA(&windowClass);  // refused harmlessly when registered before
        window_ = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                                  nullptr);
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~MessageSink() {
        MSG msg;
        while (PeekMessageA(&msg, window_, WM_APP, WM_APP, PM_REMOVE)) {
        }
        DestroyWindow(window_);
    }
    MessageSink(const MessageSink&) = delete;
    MessageSink& operator=(const MessageSink&) = delete;
    bool Valid() const { return window_ != nullptr; }
    // Posts one message; its dispatch runs work once.
    void Post(std::function<void()> work) {
        work_ = std::move(work);
        PostMessageA(window_, WM_APP, 0, 0);
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != WM_APP) return DefWindowProcA(window, message, wParam, lParam);
        auto* self = reinterpret_cast<MessageSink*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && self->work_) {
            std::function<void()> work = std::move(self->work_);
            self->work_ = nullptr;
            work();
        }
        return 0;
    }
    static constexpr const char* kClassName = "TTestMessageSink";
    HWND window_ = nullptr;
    std::function<void()> work_;
};
