#include "routines/swfinfo.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>

#include "classlib/streams.h"
#include "classlib/zstream.h"
#include "tests/routines/swf_fixture.h"

using namespace swftest;

namespace {

std::string TempFolder() {
    char buffer[MAX_PATH];
    GetTempPathA(MAX_PATH, buffer);
    return buffer;
}

// A file in a folder of its own under the temporary folder, removed with the fixture.
class SwfFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = TempFolder() + "swfinfo_test_" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
    }
    void TearDown() override {
        for (auto& f : written_) DeleteFileA(f.c_str());
        RemoveDirectoryA(folder_.c_str());
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = folder_ + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        written_.push_back(path);
        return path;
    }
    static bool TempExists(const std::string& prefix, const std::string& name) {
        return GetFileAttributesA((TempFolder() + prefix + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    void ForgetTemps(const std::string& name) {
        for (const char* p : {"_$$$_", "_$1$_", "_$2$_"}) DeleteFileA((TempFolder() + p + name).c_str());
    }
    std::string folder_;
    std::vector<std::string> written_;
};

struct Movie {
    const char* name;
    std::vector<uint8_t> body;
    int width, height, color;
};

std::vector<Movie> Movies() {
    return {
        {"550x400 with background", Body(Rect(15, 0, 11000, 0, 8000), BackgroundTag(0x33, 0x66, 0x99)), 550, 400,
         0x336699},
        {"other first tag", Body(Rect(15, 0, 11000, 0, 8000), ShowFrameTag()), 550, 400, 0},
        {"negative Xmin", Body(Rect(15, -200, 10800, 0, 8000), BackgroundTag(1, 2, 3)), 550, 400, 0x010203},
        {"30 twips give 1 pixel", Body(Rect(6, 0, 30, 0, 30), BackgroundTag(0xFF, 0, 0)), 1, 1, 0xFF0000},
        {"Nbits 0", Body(Rect(0, 0, 0, 0, 0), BackgroundTag(9, 8, 7)), 0, 0, 0x090807},
        {"Nbits 31 widest rect", Body(Rect(31, -1000000000, 1000000000, 0, 20), BackgroundTag(0xAB, 0xCD, 0xEF)),
         100000000, 1, 0xABCDEF},
        {"max below min", Body(Rect(15, 2000, 0, 0, 20), BackgroundTag(0, 0, 0)), -100, 1, 0},
        {"long-form record header not matched", Body(Rect(15, 0, 200, 0, 200), {0x7F, 0x02, 3, 0, 0, 0, 1, 2, 3}), 10,
         10, 0},
    };
}

} // namespace

TEST_F(SwfFiles, UncompressedAndCompressedTwinsGiveTheFrameAndColour) {
    for (const Movie& m : Movies()) {
        SCOPED_TRACE(m.name);
        for (bool compressed : {false, true}) {
            SCOPED_TRACE(compressed ? "CWS" : "FWS");
            std::string name = std::string(compressed ? "c" : "f") + "movie.swf";
            std::string path = Write(name, compressed ? Cws(m.body) : Fws(m.body));
            int w = -1, h = -1, c = -1;
            ASSERT_TRUE(ReadSwfInfo(path, w, h, c));
            EXPECT_EQ(w, m.width);
            EXPECT_EQ(h, m.height);
            EXPECT_EQ(c, m.color);
            for (const char* prefix : {"_$$$_", "_$1$_", "_$2$_"}) EXPECT_FALSE(TempExists(prefix, name)) << prefix;
        }
    }
}

TEST_F(SwfFiles, NbitsZeroLeavesTheReaderOnTheSecondByte) {
    std::vector<uint8_t> buffer = Body(Rect(0, 0, 0, 0, 0), BackgroundTag(1, 2, 3));
    swf::SetHeaderBuffer(buffer.data(), int(buffer.size()));
    int w, h;
    swf::ReadFrameSize(w, h);
    EXPECT_EQ(swf::HeaderPosition(), 1);
    EXPECT_EQ(swf::ReadBackgroundColor(), 0x010203);  // looked for at index 5
}

TEST_F(SwfFiles, FilesThatAreNotMoviesGiveFalseAndLeaveTheResultsAlone) {
    std::vector<uint8_t> body = Body(Rect(15, 0, 11000, 0, 8000), BackgroundTag(0x33, 0x66, 0x99));
    auto withHeader = [&](const char* sig, uint32_t length) {
        std::vector<uint8_t> f = Header(sig, length);
        f.insert(f.end(), body.begin(), body.end());
        return f;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"length 20", withHeader("FWS", 20)},
        {"length 0x80000000 counts as negative", withHeader("FWS", 0x80000000u)},
        {"signature ZWS", withHeader("ZWS", 100)},
        {"lower-case fws", withHeader("fws", 100)},
        {"lower-case cws", withHeader("cws", 100)},
        {"FWT", withHeader("FWT", 100)},
        {"empty file", {}},
        {"seven bytes", {'F', 'W', 'S', 8, 21, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = Write("not.swf", c.bytes);
        int w = 7, h = 8, col = 9;
        EXPECT_FALSE(ReadSwfInfo(path, w, h, col));
        EXPECT_EQ(w, 7);
        EXPECT_EQ(h, 8);
        EXPECT_EQ(col, 9);
    }
}

TEST_F(SwfFiles, LengthTwentyOneIsAcceptedEvenWhenTheFileIsShorter) {
    std::vector<uint8_t> bytes = Header("FWS", 21);
    std::vector<uint8_t> rect = Rect(15, 0, 2000, 0, 1000);
    bytes.insert(bytes.end(), rect.begin(), rect.end());
    int w, h, c;
    ASSERT_TRUE(ReadSwfInfo(Write("short.swf", bytes), w, h, c));
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 50);
    EXPECT_EQ(c, 0);  // the missing tail reads as zeros
}

TEST_F(SwfFiles, VersionByteIsIgnored) {
    std::vector<uint8_t> bytes = Fws(Body(Rect(15, 0, 2000, 0, 1000), BackgroundTag(1, 1, 1)));
    bytes[3] = 0xFF;
    int w, h, c;
    EXPECT_TRUE(ReadSwfInfo(Write("v.swf", bytes), w, h, c));
}

TEST_F(SwfFiles, MissingOrLockedFileRaisesTheOpenError) {
    int w, h, c;
    EXPECT_THROW(ReadSwfInfo(folder_ + "absent.swf", w, h, c), EFOpenError);
    std::string path = Write("locked.swf", Fws(Body(Rect(15, 0, 2000, 0, 1000), ShowFrameTag())));
    HANDLE exclusive = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_THROW(ReadSwfInfo(path, w, h, c), EFOpenError);
    CloseHandle(exclusive);
    EXPECT_TRUE(ReadSwfInfo(path, w, h, c));
}

TEST_F(SwfFiles, DamagedCompressedBodyRaisesAndKeepsTheFirstTwoTemporaryFiles) {
    std::vector<uint8_t> bytes = Cws(Body(Rect(15, 0, 11000, 0, 8000), BackgroundTag(1, 2, 3)));
    bytes[8] = 0x00;  // not a zlib header
    bytes[9] = 0x00;
    int w = 5, h = 5, c = 5;
    EXPECT_THROW(ReadSwfInfo(Write("damaged.swf", bytes), w, h, c), EZDecompressionError);
    EXPECT_TRUE(TempExists("_$$$_", "damaged.swf"));
    EXPECT_TRUE(TempExists("_$1$_", "damaged.swf"));
    EXPECT_FALSE(TempExists("_$2$_", "damaged.swf"));
    EXPECT_EQ(w, 5);
    ForgetTemps("damaged.swf");
}

TEST_F(SwfFiles, CompressedBodyCutBeforeItsRectangleRaises) {
    std::vector<uint8_t> bytes = Cws(Body(Rect(31, 0, 11000, 0, 8000), BackgroundTag(1, 2, 3)));
    for (size_t keep : {size_t(0), size_t(2), size_t(4)}) {
        SCOPED_TRACE(keep);
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 8 + keep);
        int w, h, c;
        EXPECT_THROW(ReadSwfInfo(Write("cut.swf", cut), w, h, c), EZDecompressionError);
        ForgetTemps("cut.swf");
    }
}

TEST_F(SwfFiles, CompressedBodyCutAfterItsHeaderStillReads) {
    std::vector<uint8_t> body = Body(Rect(15, 0, 11000, 0, 8000), BackgroundTag(0x33, 0x66, 0x99));
    body.resize(body.size() + 100000, 0x5A);  // a long movie body after the header
    std::vector<uint8_t> bytes = Cws(body);
    bytes.resize(bytes.size() / 2);  // a download that stopped half way
    int w, h, c;
    ASSERT_TRUE(ReadSwfInfo(Write("half.swf", bytes), w, h, c));
    EXPECT_EQ(w, 550);
    EXPECT_EQ(c, 0x336699);
    EXPECT_FALSE(TempExists("_$1$_", "half.swf"));
}

// A body that inflates to far more than the header states is cut at the stated length:
// here the zlib data is damaged only well after that point, so a reader that stops in
// time succeeds, one that inflates on fills the disk and then fails.
TEST_F(SwfFiles, InflationStopsAtTheStatedLength) {
    std::vector<uint8_t> body = Body(Rect(15, 0, 11000, 0, 8000), BackgroundTag(0x33, 0x66, 0x99));
    body.resize(8 << 20, 0);
    std::vector<uint8_t> packed = Deflate(body);
    for (size_t i = packed.size() - 64; i < packed.size(); ++i) packed[i] ^= 0xFF;  // damage the end
    std::vector<uint8_t> bytes = Header("CWS", 200);
    bytes.insert(bytes.end(), packed.begin(), packed.end());
    int w, h, c;
    ASSERT_TRUE(ReadSwfInfo(Write("bomb.swf", bytes), w, h, c));
    EXPECT_EQ(w, 550);
    EXPECT_EQ(c, 0x336699);
}

TEST_F(SwfFiles, TemporaryNamesFollowTheMovieName) {
    std::string t0, t1, t2;
    swf::MakeTempNames("C:\\movies\\My Movie.swf", t0, t1, t2);
    EXPECT_EQ(t0, TempFolder() + "_$$$_My Movie.swf");
    EXPECT_EQ(t1, TempFolder() + "_$1$_My Movie.swf");
    EXPECT_EQ(t2, TempFolder() + "_$2$_My Movie.swf");
}

TEST_F(SwfFiles, AnOldTemporaryFileIsOverwritten) {
    std::string stale = TempFolder() + "_$1$_stale.swf";
    std::ofstream(stale, std::ios::binary) << std::string(100000, 'x');
    int w, h, c;
    ASSERT_TRUE(ReadSwfInfo(Write("stale.swf", Cws(Body(Rect(15, 0, 400, 0, 200), ShowFrameTag()))), w, h, c));
    EXPECT_EQ(w, 20);
    EXPECT_FALSE(TempExists("_$1$_", "stale.swf"));
}

TEST(SwfBitReader, ReadsFieldsMostSignificantBitFirst) {
    const uint8_t bytes[] = {0b10110011, 0b01011100, 0xFF, 0x00};
    swf::SetHeaderBuffer(bytes, sizeof(bytes));
    swf::ResetBits();
    struct Step {
        int n;
        uint32_t expected;
    } steps[] = {{0, 0}, {3, 0b101}, {1, 1}, {6, 0b001101}, {6, 0b011100}, {8, 0xFF}, {0, 0}, {4, 0}};
    for (const Step& s : steps) EXPECT_EQ(swf::ReadBits(s.n), s.expected) << "width " << s.n;
}

TEST(SwfBitReader, SignedFieldsExtendTheirTopBit) {
    struct Case {
        std::vector<uint8_t> bytes;
        int n;
        int32_t expected;
    } cases[] = {
        {{0b11100000}, 3, -1}, {{0b10000000}, 3, -4}, {{0b01100000}, 3, 3}, {{0b10000000}, 1, -1},
        {{0x80, 0, 0, 0}, 31, -1073741824}, {{0x7F, 0xFF, 0xFF, 0xFE}, 31, 1073741823}, {{0xFF}, 0, 0},
    };
    for (const Case& c : cases) {
        swf::SetHeaderBuffer(c.bytes.data(), int(c.bytes.size()));
        swf::ResetBits();
        EXPECT_EQ(swf::ReadSignedBits(c.n), c.expected) << "width " << c.n;
    }
}
