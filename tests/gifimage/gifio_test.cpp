// Byte and data sub-block input and output.
#include <gtest/gtest.h>

#include "classlib/stringlist.h"
#include "gifimage/gifio.h"
#include "gifimage/messages.h"
#include "tests/support/gifbuilder.h"

namespace {

TEST(GifRoutines, StringsAsBlocksRoundTrip) {
    TStringList lines;
    lines.Add("");
    lines.Add(std::string(300, 'q'));
    TMemoryStream stream;
    WriteStringsAsBlocks(stream, lines);
    ASSERT_EQ(stream.Size(), 1 + 255 + 1 + 45 + 1);
    const uint8_t* bytes = static_cast<const uint8_t*>(stream.Memory());
    EXPECT_EQ(bytes[0], 255);
    EXPECT_EQ(bytes[256], 45);
    EXPECT_EQ(bytes[302], 0);
    stream.SetPosition(0);
    TStringList back;
    back.Add("old");
    ReadStringsFromBlocks(stream, back);
    ASSERT_EQ(back.Count(), 2);
    EXPECT_EQ(back[0], std::string(255, 'q'));
    EXPECT_EQ(back[1], std::string(45, 'q'));
}

TEST(GifRoutines, StringsFromBlocksEdges) {
    TStringList lines;
    auto cut = StreamOf({3, 'a', 0, 'b', 2, 'x'});
    EXPECT_THROW(ReadStringsFromBlocks(*cut, lines), GIFException) << "sub-block shorter than its length";
    auto open = StreamOf({3, 'a', 0, 'b'});
    ReadStringsFromBlocks(*open, lines);
    ASSERT_EQ(lines.Count(), 1) << "the end of the stream ends the list";
    EXPECT_EQ(lines[0], "a") << "cut at the zero byte";
}

TEST(GifRoutines, GetByteAtEndIsZero) {
    auto stream = StreamOf({7});
    EXPECT_EQ(GetByte(*stream), 7);
    EXPECT_EQ(GetByte(*stream), 0);
}

}  // namespace
