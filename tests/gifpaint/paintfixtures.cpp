#include "paintfixtures.h"

#include <mmsystem.h>
#include <tlhelp32.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/support/freedmemory.h"

namespace {
int ThreadsOfProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

// A painter thread frees itself just after its detach, so it may outlive the test briefly;
// the program waits for such threads so that it never ends while one is still running. Then
// no block that the program freed may have been written to.
class PainterThreadsGone : public testing::Environment {
public:
    void SetUp() override { threads_ = ThreadsOfProcess(); }
    void TearDown() override {
        for (int i = 0; i < 200 && ThreadsOfProcess() > threads_; ++i) Sleep(5);
        EXPECT_EQ(FreedBlocksWritten(), 0u) << "memory was written after it was freed";
    }

private:
    int threads_ = 0;
};
testing::Environment* const painterThreadsGone = testing::AddGlobalTestEnvironment(new PainterThreadsGone);

const COLORREF kTable[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};
}  // namespace

COLORREF ColorOfIndex(uint8_t index) { return kTable[index & 3]; }

std::vector<COLORREF> Colors(const std::vector<uint8_t>& indexes) {
    std::vector<COLORREF> colors;
    for (uint8_t index : indexes) colors.push_back(ColorOfIndex(index));
    return colors;
}

Bytes AnimationBytes(int screenWidth, int screenHeight, const std::vector<FrameSetup>& frames, LoopSetup loop) {
    GifBytes gif;
    gif.Text("GIF89a").Word(screenWidth).Word(screenHeight).Raw({0xF1, kWhite, 0});
    for (COLORREF c : kTable) gif.Raw({GetRValue(c), GetGValue(c), GetBValue(c)});
    for (size_t i = 0; i < frames.size(); ++i) {
        const FrameSetup& f = frames[i];
        if (loop.count >= 0 && static_cast<int>(i) == loop.atFrame) {
            gif.Raw({0x21, 0xFF, 0x0B}).Text("NETSCAPE2.0").Raw({3, 1}).Word(loop.count).Raw({0});
        }
        if (f.disposal >= 0) {
            const int transparent = f.transparentIndex >= 0 ? 1 : 0;
            gif.Gce(f.disposal << 2 | transparent, f.delay, std::max(f.transparentIndex, 0));
        }
        Bytes pixels = f.pixels;
        if (pixels.empty()) pixels.assign(static_cast<size_t>(f.width * f.height), f.color);
        gif.Frame(f.left, f.top, f.width, f.height, pixels);
    }
    return gif.Trailer().b;
}

std::unique_ptr<TGIFImage> Animation(int screenWidth, int screenHeight, const std::vector<FrameSetup>& frames,
                                     LoopSetup loop) {
    return LoadGif(AnimationBytes(screenWidth, screenHeight, frames, loop));
}

std::vector<FrameSetup> SolidFrames(int width, int height, const std::vector<uint8_t>& colors, int delay,
                                    int disposal) {
    std::vector<FrameSetup> frames;
    for (uint8_t color : colors) {
        FrameSetup f;
        f.width = width;
        f.height = height;
        f.color = color;
        f.delay = delay;
        f.disposal = disposal;
        frames.push_back(f);
    }
    return frames;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (static_cast<int>(GetTickCount() - start) > timeoutMs) return false;
        if (!CheckSynchronize()) Sleep(1);
    }
    return true;
}

size_t PainterCount(TGIFImage& image) {
    const size_t count = image.Painters()->LockList().size();
    image.Painters()->UnlockList();
    return count;
}

bool NoPainters(TGIFImage& image) { return PainterCount(image) == 0; }

void EventLog::Attach(TGIFImage& image) {
    auto note = [this](const std::string& name) {
        return [this, name](TObject* sender) {
            auto* painter = dynamic_cast<TGIFPainter*>(sender);
            const std::string entry = name == "start"
                                          ? name
                                          : name + " " + std::to_string(painter ? painter->CurrentFrame() : -99);
            entries.push_back(entry);
            if (name == "begin") beginTimes.push_back(timeGetTime());
            if (action && painter) action(*painter, entry);
        };
    };
    image.OnAnimationStart = note("start");
    image.OnFrameBegin = note("begin");
    image.OnFrameDone = note("done");
    image.OnLoopPass = note("loop");
    image.OnAnimationEnd = note("end");
}

std::vector<std::string> EventLog::Begun() const {
    std::vector<std::string> begun;
    for (const std::string& e : entries)
        if (e.rfind("begin ", 0) == 0) begun.push_back(e.substr(6));
    return begun;
}

bool EventLog::Has(const std::string& entry) const {
    return std::find(entries.begin(), entries.end(), entry) != entries.end();
}
