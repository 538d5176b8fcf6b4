// The wait animation the converter carries: the structure its progress window is built around.
#include <gtest/gtest.h>

#include "gifimage/extensions.h"
#include "gifimage/gifimage.h"
#include "gifimage/subimage.h"

TEST(GifWaitResource, IsTenTransparentFramesOnAnEndlessLoop) {
    TGIFImage image;
    image.LoadFromNamedResource(GetModuleHandleA(nullptr), "GIF_WAIT");
    EXPECT_EQ(image.RequiredVersion(), Version89a);
    EXPECT_EQ(image.ScreenWidth(), 220);
    EXPECT_EQ(image.ScreenHeight(), 19);
    ASSERT_NE(image.GlobalColors(), nullptr);
    EXPECT_EQ(image.GlobalColors()->Count(), 32);
    ASSERT_EQ(image.Frames->ItemCount(), 10);
    bool loops = false;
    for (int i = 0; i < image.Frames->ItemCount(); ++i) {
        SCOPED_TRACE(i);
        TGIFSubImage* frame = image.Frames->FrameAt(i);
        EXPECT_EQ(frame->Width(), 220);
        EXPECT_EQ(frame->Height(), 19);
        EXPECT_EQ(frame->Left(), 0);
        EXPECT_EQ(frame->Top(), 0);
        ASSERT_NE(frame->GraphicControlExtension, nullptr);
        EXPECT_EQ(frame->GraphicControlExtension->DelayUnits(), 10);
        EXPECT_EQ(frame->GraphicControlExtension->DisposalMethod(), 2);
        EXPECT_TRUE(frame->GraphicControlExtension->IsTransparent());
        EXPECT_EQ(frame->GraphicControlExtension->TransparentIndex(), 0);
        for (int e = 0; e < frame->Extensions->ItemCount(); ++e)
            if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(frame->Extensions->ItemAt(e)))
                loops = loops || loop->LoopCount == 0;
    }
    EXPECT_TRUE(loops) << "no endless loop extension";
}
