#include "gifimage/encoders.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/gifwriter/gifwriter_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A target that takes at most budget bytes and then writes short.
class ShortStream : public TMemoryStream {
public:
    explicit ShortStream(int64_t budget) : budget_(budget) {}
    int32_t Write(const void* buffer, int32_t count) override {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, budget_));
        budget_ -= n;
        return n > 0 ? TMemoryStream::Write(buffer, n) : 0;
    }

private:
    int64_t budget_;
};

void ExpectInvalidOperation(const std::function<void()>& operation, const char* what) {
    try {
        operation();
        ADD_FAILURE() << what << ": no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Invalid stream operation") << what;
    }
}

TEST(GifWriterStream, RejectsReadingAndSeeking) {
    TMemoryStream target;
    TGIFWriter writer(target);
    TGIFStream plain(target);
    uint8_t byte = 0;
    ExpectInvalidOperation([&] { writer.Read(&byte, 1); }, "writer read");
    ExpectInvalidOperation([&] { writer.ReadBuffer(&byte, 1); }, "writer read buffer");
    ExpectInvalidOperation([&] { writer.Seek(0, soBeginning); }, "writer seek");
    ExpectInvalidOperation([&] { writer.Position(); }, "writer position");
    ExpectInvalidOperation([&] { writer.Size(); }, "writer size");
    ExpectInvalidOperation([&] { plain.Read(&byte, 1); }, "stream read");
    ExpectInvalidOperation([&] { plain.Write(&byte, 1); }, "stream write");
    ExpectInvalidOperation([&] { plain.Seek(0, soCurrent); }, "stream seek");
    EXPECT_EQ(target.Size(), 0);
}

TEST(GifWriterStream, CutsBytesIntoSubBlocks) {
    struct {
        std::vector<int> writes;
        std::vector<int> blocks;
    } cases[] = {
        {{}, {}},
        {{1}, {1}},
        {{255}, {255}},
        {{256}, {255, 1}},
        {{510}, {255, 255}},
        {{600}, {255, 255, 90}},
        {{100, 155}, {255}},
        {{200, 100, 0, 300}, {255, 255, 90}},
    };
    for (const auto& c : cases) {
        TMemoryStream target;
        Bytes written;
        {
            TGIFWriter writer(target);
            for (int n : c.writes) {
                Bytes chunk(n);
                for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>((written.size() + i) * 7);
                EXPECT_EQ(writer.Write(chunk.data(), n), n);
                written.insert(written.end(), chunk.begin(), chunk.end());
            }
        }
        const Bytes out = StreamBytes(target);
        Bytes expected;
        size_t from = 0;
        for (int length : c.blocks) {
            expected.push_back(static_cast<uint8_t>(length));
            expected.insert(expected.end(), written.begin() + from, written.begin() + from + length);
            from += length;
        }
        EXPECT_EQ(out, expected) << c.writes.size() << " writes";
    }
}

TEST(GifWriterStream, CodeBytesAndFinishWriteTheLastBlockOnce) {
    TMemoryStream target;
    TGIFWriter writer(target);
    for (int i = 0; i < 300; ++i) writer.PutCodeByte(static_cast<uint8_t>(i));
    EXPECT_EQ(target.Size(), 256);
    writer.Finish();
    writer.Finish();
    EXPECT_EQ(target.Size(), 256 + 46);
    const Bytes out = StreamBytes(target);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[256], 45);
    EXPECT_EQ(out[257], 255 & 0xFF);
    EXPECT_EQ(out.back(), static_cast<uint8_t>(299));
}

TEST(GifWriterStream, ProgressGoesToItsCallback) {
    TMemoryStream target;
    TGIFWriter writer(target);
    writer.SignalProgress(1, 2);  // no callback: nothing happens
    int done = 0, total = 0;
    writer.OnProgress = [&](int d, int t) { done = d, total = t; };
    writer.SignalProgress(3, 4);
    EXPECT_EQ(done, 3);
    EXPECT_EQ(total, 4);
}

TEST(GifWriterStream, FailingTargetRaisesWriteError) {
    // Budgets that fail at the minimum code size, in the first and a later sub-block, and at the terminator.
    const Bytes pixels = MakePixels(Pattern::Noise, 100, 30, 256, 5);
    const size_t full = EncodeImageData(false, 8, 100, 30, false, pixels.data(), 256).size();
    ASSERT_GT(full, 600u);
    const int64_t budgets[] = {0, 1, 100, 300, static_cast<int64_t>(full) - 2, static_cast<int64_t>(full) - 1};
    for (bool rle : {false, true})
        for (int64_t budget : budgets) {
            SCOPED_TRACE(budget);
            const size_t size = EncodeImageData(rle, 8, 100, 30, false, pixels.data(), 256).size();
            const int64_t b = budget >= static_cast<int64_t>(full) - 2 ? budget - int64_t(full) + int64_t(size)
                                                                       : budget;
            ShortStream target(b);
            EXPECT_THROW(WriteGIFPixelData(target, rle ? 1 : 0, 8, 100, 30, false, pixels.data(), 256), EWriteError);
        }
    ShortStream enough(static_cast<int64_t>(full));
    EXPECT_NO_THROW(WriteGIFPixelData(enough, 0, 8, 100, 30, false, pixels.data(), 256));
    EXPECT_EQ(enough.Size(), static_cast<int64_t>(full));
}

}  // namespace
