#include "classlib/metafile.h"

#include <gtest/gtest.h>

#include "classlib/bitmap.h"
#include "classlib/streams.h"
#include "tests/support/bitmaps.h"

namespace {

// Left half red, right half untouched.
HENHMETAFILE HalfRed(int width, int height) {
    return MetafileFilling(width, height, RECT{0, 0, width / 2, height}, RGB(255, 0, 0));
}

Bytes SavedBytes(TMetafile& metafile) {
    TMemoryStream stream;
    metafile.SaveToStream(stream);
    const auto* p = static_cast<const uint8_t*>(stream.Memory());
    return Bytes(p, p + stream.Size());
}

// The picture played at its own size over white, as colours.
Rgbs Played(TMetafile& metafile) {
    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(metafile.Width(), metafile.Height());
    FillArea(target.Canvas().Handle(), RECT{0, 0, metafile.Width(), metafile.Height()}, RGB(255, 255, 255));
    target.Canvas().Draw(0, 0, metafile);
    GdiFlush();
    Rgbs out;
    for (int y = 0; y < target.Height(); ++y)
        for (int x = 0; x < target.Width(); ++x) out.push_back(GetPixel(target.Canvas().Handle(), x, y) & 0xFFFFFF);
    return out;
}

Rgbs HalfRedColors(int width, int height) {
    Rgbs out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.push_back(x < width / 2 ? RGB(255, 0, 0) : RGB(255, 255, 255));
    return out;
}

TEST(Metafile, SizeComesFromThePictureFrame) {
    const struct { int width, height; } cases[] = {{20, 10}, {1, 1}, {33, 7}, {100, 64}};
    for (const auto& c : cases) {
        TMetafile metafile;
        metafile.SetHandle(HalfRed(c.width, c.height));
        EXPECT_FALSE(metafile.Empty());
        EXPECT_EQ(metafile.Width(), c.width) << c.width << "x" << c.height;
        EXPECT_EQ(metafile.Height(), c.height) << c.width << "x" << c.height;
    }
    TMetafile empty;
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Width(), 0);
    EXPECT_EQ(SavedBytes(empty).size(), 0u);
}

TEST(Metafile, DrawPlaysTheRecordsIntoTheRectangle) {
    TMetafile metafile;
    metafile.SetHandle(HalfRed(20, 10));
    EXPECT_EQ(Played(metafile), HalfRedColors(20, 10));
}

TEST(Metafile, SavedFileLoadsBackTheSamePicture) {
    TMetafile metafile;
    metafile.SetHandle(HalfRed(20, 10));
    const Bytes saved = SavedBytes(metafile);
    ASSERT_GT(saved.size(), 88u);
    TMemoryStream stream;
    stream.WriteBuffer(saved.data(), static_cast<int32_t>(saved.size()));
    stream.SetPosition(0);
    TMetafile loaded;
    int changes = 0;
    loaded.OnChange = [&](TObject*) { ++changes; };
    loaded.LoadFromStream(stream);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(loaded.Width(), 20);
    EXPECT_EQ(loaded.Height(), 10);
    EXPECT_EQ(SavedBytes(loaded), saved);
    EXPECT_EQ(Played(loaded), HalfRedColors(20, 10));
}

TEST(Metafile, InvalidFilesRaiseAndKeepThePicture) {
    TMetafile original;
    original.SetHandle(HalfRed(20, 10));
    const Bytes good = SavedBytes(original);
    auto damaged = [&](size_t offset, uint8_t value) {
        Bytes b = good;
        b[offset] = value;
        return b;
    };
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"shorter than a header", Bytes(good.begin(), good.begin() + 40)},
        {"truncated records", Bytes(good.begin(), good.end() - 8)},
        {"not a header record", damaged(0, 2)},
        {"wrong signature", damaged(40, 'X')},
        {"a BMP file",
         Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
               0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
               0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        TMetafile metafile;
        metafile.SetHandle(HalfRed(20, 10));
        HENHMETAFILE before = metafile.Handle();
        TMemoryStream stream;
        if (!c.bytes.empty()) stream.WriteBuffer(c.bytes.data(), static_cast<int32_t>(c.bytes.size()));
        stream.SetPosition(0);
        try {
            metafile.LoadFromStream(stream);
            ADD_FAILURE() << c.name << ": loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), "Metafile is not valid") << c.name;
        }
        EXPECT_EQ(metafile.Handle(), before) << c.name;
        EXPECT_EQ(metafile.Width(), 20) << c.name;
    }
}

TEST(Metafile, AssignMakesAnIndependentCopy) {
    auto original = std::make_unique<TMetafile>();
    original->SetHandle(HalfRed(20, 10));
    original->SetTransparent(true);
    TMetafile copy;
    copy.Assign(*original);
    EXPECT_NE(copy.Handle(), original->Handle());
    EXPECT_TRUE(copy.Transparent());
    EXPECT_EQ(copy.Width(), 20);
    original.reset();
    EXPECT_EQ(Played(copy), HalfRedColors(20, 10));

    TMetafile fromEmpty;
    fromEmpty.SetHandle(HalfRed(4, 4));
    TMetafile nothing;
    fromEmpty.Assign(nothing);
    EXPECT_TRUE(fromEmpty.Empty());

    TBitmap bitmap;
    EXPECT_THROW(copy.Assign(bitmap), EConvertError);
}

TEST(Metafile, ReleaseHandleHandsTheMetafileOver) {
    TMetafile metafile;
    metafile.SetHandle(HalfRed(8, 8));
    HENHMETAFILE handle = metafile.ReleaseHandle();
    EXPECT_TRUE(metafile.Empty());
    EXPECT_EQ(metafile.Width(), 0);
    ENHMETAHEADER header{};
    EXPECT_NE(GetEnhMetaFileHeader(handle, sizeof header, &header), 0u);
    DeleteEnhMetaFile(handle);
}

}  // namespace
