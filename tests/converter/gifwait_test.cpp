// The wait animation the converter carries: the structure its progress window is built around.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"

TEST(GifWaitResource, IsTenTransparentFramesOnAnEndlessLoop) {
    TGIFImage image;
    image.LoadFromNamedResource(GetModuleHandleA(nullptr), "GIF_WAIT");
    EXPECT_EQ(image.RequiredVersion(), Version89a);
    EXPECT_EQ(image.ScreenWidth(), 220);
    EXPECT_EQ(image.ScreenHeight(), 19);
    ASSERT_NE(image.GlobalColors(), nullptr);
    EXPECT_EQ(image.GlobalColors()->Count(), 32);
    ASSERT_EQ(image.Frames()->ItemCount(), 10);
    bool loops = false;
    for (int i = 0; i < image.Frames()->ItemCount(); ++i) {
        SCOPED_TRACE(i);
        TGIFSubImage* frame = image.Frames()->FrameAt(i);
        EXPECT_EQ(frame->Width(), 220);
        EXPECT_EQ(frame->Height(), 19);
        EXPECT_EQ(frame->Left(), 0);
        EXPECT_EQ(frame->Top(), 0);
        ASSERT_NE(frame->GraphicControlExtension(), nullptr);
        EXPECT_EQ(frame->GraphicControlExtension()->DelayUnits(), 10);
        EXPECT_EQ(frame->GraphicControlExtension()->DisposalMethod(), 2);
        EXPECT_TRUE(frame->GraphicControlExtension()->IsTransparent());
        EXPECT_EQ(frame->GraphicControlExtension()->TransparentIndex(), 0);
        for (int e = 0; e < frame->Extensions()->ItemCount(); ++e)
            if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(frame->Extensions()->ItemAt(e)))
                loops = loops || loop->LoopCount() == 0;
    }
    EXPECT_TRUE(loops) << "no endless loop extension";
}

// The resource's bytes as the program carries them, read without the GIF library.
std::vector<uint8_t> RawGifWait() {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(10) /* RT_RCDATA */, "GIF_WAIT",
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!found) return {};
    const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
    return std::vector<uint8_t>(data, data + SizeofResource(module, found));
}

// White, black, then thirty distinct greys from 0x96 to 0xF8 (hex byte values), not in order of
// brightness; the stream ends with its trailer and 9 zero bytes.
TEST(GifWaitResource, ColourTableHoldsWhiteBlackAndThirtyGreysFrom96ToF8) {
    const std::vector<uint8_t> raw = RawGifWait();
    ASSERT_GT(raw.size(), 13u + 96u + 10u) << "no GIF_WAIT data resource in language 1033";
    EXPECT_EQ(std::string(raw.begin(), raw.begin() + 6), "GIF89a");
    EXPECT_EQ(raw[10], 0xF4) << "global table of 32 entries, 8 colour bits";
    const uint8_t* table = raw.data() + 13;
    EXPECT_EQ(std::vector<uint8_t>(table, table + 6), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0, 0, 0}));
    std::vector<int> greys;
    for (int i = 2; i < 32; ++i) {
        SCOPED_TRACE(i);
        const uint8_t* entry = table + 3 * i;
        EXPECT_EQ(entry[0], entry[1]);
        EXPECT_EQ(entry[0], entry[2]);
        greys.push_back(entry[0]);
    }
    EXPECT_EQ(*std::min_element(greys.begin(), greys.end()), 0x96);
    EXPECT_EQ(*std::max_element(greys.begin(), greys.end()), 0xF8);
    EXPECT_EQ(std::set<int>(greys.begin(), greys.end()).size(), 30u) << "thirty different greys";
    EXPECT_FALSE(std::is_sorted(greys.begin(), greys.end()));
    EXPECT_FALSE(std::is_sorted(greys.rbegin(), greys.rend()));
    EXPECT_EQ(std::vector<uint8_t>(raw.end() - 10, raw.end()), (std::vector<uint8_t>{';', 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}
