// TJPEGImage: decoding through libjpeg, the registration with TPicture, copies and bad input.
#include <gtest/gtest.h>
#include <windows.h>

#include "classlib/jpeg.h"
#include "classlib/streams.h"

namespace {

std::string BannerBytes() {
    TResourceStream banner(GetModuleHandleA(nullptr), "BANNER", MAKEINTRESOURCEA(10));
    std::string bytes(static_cast<size_t>(banner.Size()), '\0');
    banner.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    return bytes;
}

// The stream a test hands to LoadFromStream.
struct BytesStream {
    explicit BytesStream(const std::string& bytes) {
        stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        stream.SetPosition(0);
    }
    TMemoryStream stream;
};

// Blue, green, red of the decoded pixel at x, y.
std::array<int, 3> PixelAt(const TJPEGImage& image, int x, int y) {
    int stride = (image.Width() * 3 + 3) & ~3;
    const uint8_t* p = image.Pixels().data() + y * stride + x * 3;
    return {p[0], p[1], p[2]};
}

TEST(JPEGImage, DecodesTheBanner) {
    BytesStream in(BannerBytes());
    TJPEGImage image;
    int changes = 0;
    image.OnChange = [&](TObject*) { ++changes; };
    image.LoadFromStream(in.stream);
    EXPECT_EQ(image.Width(), 408);
    EXPECT_EQ(image.Height(), 88);
    EXPECT_FALSE(image.Empty());
    EXPECT_EQ(changes, 1);
    // The banner is a blue gradient: at its bottom left blue clearly outweighs red.
    auto [blue, green, red] = PixelAt(image, 2, 85);
    EXPECT_GT(blue, red + 60) << blue << " " << green << " " << red;
}

TEST(JPEGImage, SavesTheBytesItLoaded) {
    std::string bytes = BannerBytes();
    BytesStream in(bytes);
    TJPEGImage image;
    image.LoadFromStream(in.stream);
    TMemoryStream out;
    image.SaveToStream(out);
    ASSERT_EQ(out.Size(), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(std::string(static_cast<const char*>(out.Memory()), bytes.size()), bytes);
}

TEST(JPEGImage, BadInputRaisesAndKeepsThePicture) {
    std::string bytes = BannerBytes();
    BytesStream good(bytes);
    TJPEGImage image;
    image.LoadFromStream(good.stream);
    const std::string cases[] = {"", "not a JPEG at all", bytes.substr(0, 2), bytes.substr(0, 200)};
    for (const std::string& bad : cases) {
        SCOPED_TRACE(bad.size());
        BytesStream in(bad);
        EXPECT_THROW(image.LoadFromStream(in.stream), EInvalidGraphic);
        EXPECT_EQ(image.Width(), 408);
        EXPECT_EQ(image.Height(), 88);
    }
}

TEST(JPEGImage, PictureKnowsTheExtensionsAndCopies) {
    for (const char* extension : {"jpg", ".JPG", "jpeg", ".Jpeg"}) {
        TGraphicFactory factory = TPicture::FindFileFormat(extension);
        ASSERT_TRUE(factory) << extension;
        EXPECT_TRUE(dynamic_cast<TJPEGImage*>(factory().get())) << extension;
    }
    BytesStream in(BannerBytes());
    TJPEGImage image;
    image.LoadFromStream(in.stream);
    TPicture picture;
    picture.Assign(image);
    auto* copy = dynamic_cast<TJPEGImage*>(picture.Graphic());
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, &image);
    EXPECT_EQ(copy->Width(), 408);
    EXPECT_EQ(copy->Pixels(), image.Pixels());
}

TEST(JPEGImage, DrawsStretchedIntoTheRectangle) {
    BytesStream in(BannerBytes());
    TJPEGImage image;
    image.LoadFromStream(in.stream);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 100, 40);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, 100, 40};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    TCanvas canvas(dc);
    image.Draw(canvas, RECT{10, 10, 60, 30});
    EXPECT_EQ(GetPixel(dc, 5, 5), RGB(255, 255, 255)) << "outside the rectangle";
    EXPECT_EQ(GetPixel(dc, 70, 35), RGB(255, 255, 255));
    COLORREF inside = GetPixel(dc, 12, 28);
    EXPECT_GT(GetBValue(inside), GetRValue(inside) + 40) << "the banner's blue inside";
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

}  // namespace
