#include "routines/swfinfo.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>

#include "classlib/streams.h"
#include "classlib/zstream.h"
#include "tests/support/swfbuilder.h"

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

// What a reader of a movie's header must answer for the body bytes from offset 8, read bit by
// bit: the first 50 bytes, zeros after the end of the data.
struct Answer {
    int width, height, color;
};

Answer ModelAnswer(const std::vector<uint8_t>& body) {
    std::vector<uint8_t> bytes(50, 0);
    std::copy_n(body.begin(), std::min<size_t>(body.size(), bytes.size()), bytes.begin());
    size_t bit = 0;
    auto field = [&](int n) {
        int64_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) v = v * 2 + ((bytes[bit / 8] >> (7 - bit % 8)) & 1);
        return v;
    };
    auto signedField = [&](int n) {
        int64_t v = field(n);
        return n > 0 && v >= (int64_t(1) << (n - 1)) ? v - (int64_t(1) << n) : v;
    };
    int n = int(field(5));
    int64_t xMin = signedField(n), xMax = signedField(n), yMin = signedField(n), yMax = signedField(n);
    size_t tag = (bit + 7) / 8 + 4;  // after the frame rate and count
    int color = bytes[tag] == 0x43 && bytes[tag + 1] == 0x02
                    ? bytes[tag + 2] << 16 | bytes[tag + 3] << 8 | bytes[tag + 4]
                    : 0;
    return {int((xMax - xMin) / 20), int((yMax - yMin) / 20), color};
}

// What zlib itself yields from the start of a zlib stream, up to where its data ends.
std::vector<uint8_t> InflatedPrefix(const std::vector<uint8_t>& packed) {
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    std::vector<uint8_t> out(1 << 16);
    std::vector<uint8_t> in = packed;
    z.next_in = in.data();
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int rc = inflate(&z, Z_SYNC_FLUSH);
    EXPECT_TRUE(rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR) << rc;
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

}  // namespace

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

// The length field says nothing about how much of the body the reader looks at: an
// uncompressed movie is read from its first 50 body bytes whatever the field says, and its
// compressed twin must give the same answer.
TEST_F(SwfFiles, CompressedTwinsAgreeWhateverTheLengthFieldSays) {
    std::vector<Movie> movies = Movies();
    Movie longBody = movies[0];  // a body far longer than the header, its tail not zero
    longBody.name = "550x400 with a long body";
    longBody.body.resize(600, 0xA5);
    movies.push_back(longBody);
    struct Length {
        const char* name;
        uint32_t (*of)(size_t bodySize);
    } lengths[] = {
        {"understated: 21", [](size_t) { return 21u; }},
        {"understated: colour cut off", [](size_t) { return 8u + 14u; }},
        {"understated by one", [](size_t n) { return uint32_t(8 + n - 1); }},
        {"understated, above the header bytes", [](size_t n) { return uint32_t(8 + std::min<size_t>(n - 1, 60)); }},
        {"exact", [](size_t n) { return uint32_t(8 + n); }},
        {"overstated by one", [](size_t n) { return uint32_t(8 + n + 1); }},
        {"overstated: largest accepted", [](size_t) { return 0x7FFFFFFFu; }},
    };
    for (const Movie& m : movies) {
        SCOPED_TRACE(m.name);
        for (const Length& l : lengths) {
            SCOPED_TRACE(l.name);
            uint32_t length = l.of(m.body.size());
            for (bool compressed : {false, true}) {
                SCOPED_TRACE(compressed ? "CWS" : "FWS");
                std::string name = std::string(compressed ? "c" : "f") + "length.swf";
                std::vector<uint8_t> bytes = compressed ? Cws(m.body, length) : Fws(m.body, length);
                int w = -1, h = -1, c = -1;
                ASSERT_TRUE(ReadSwfInfo(Write(name, bytes), w, h, c));
                EXPECT_EQ(w, m.width);
                EXPECT_EQ(h, m.height);
                EXPECT_EQ(c, m.color);
                for (const char* prefix : {"_$$$_", "_$1$_", "_$2$_"}) EXPECT_FALSE(TempExists(prefix, name)) << prefix;
            }
        }
    }
}

// A compressed movie cut anywhere (a download that stopped) reads as the uncompressed movie
// made of what its bytes inflate to: the reader carries on with what there is, zeros after it.
TEST_F(SwfFiles, CutCompressedBodyReadsLikeTheSameCutUncompressed) {
    ForgetTemps("cut.swf");  // a failed run may have left them
    const std::vector<Movie> movies = Movies();
    for (const Movie* m : {&movies[0], &movies[5]}) {  // RECTs of 9 and 17 bytes, with colour
        SCOPED_TRACE(m->name);
        const uint32_t length = uint32_t(8 + m->body.size());
        const std::vector<uint8_t> packed = Deflate(m->body);
        for (size_t keep = 0; keep <= packed.size(); ++keep) {
            SCOPED_TRACE("compressed bytes kept: " + std::to_string(keep));
            std::vector<uint8_t> cut(packed.begin(), packed.begin() + keep);
            std::vector<uint8_t> inflated = InflatedPrefix(cut);
            Answer expected = ModelAnswer(inflated);
            if (keep == packed.size()) {  // the whole stream: the model agrees with the table
                EXPECT_EQ(expected.width, m->width);
                EXPECT_EQ(expected.height, m->height);
                EXPECT_EQ(expected.color, m->color);
            }
            std::vector<uint8_t> cws = Header("CWS", length);
            cws.insert(cws.end(), cut.begin(), cut.end());
            std::vector<uint8_t> fws = Header("FWS", length);
            fws.insert(fws.end(), inflated.begin(), inflated.end());
            for (bool compressed : {false, true}) {
                SCOPED_TRACE(compressed ? "CWS" : "FWS");
                int w = -1, h = -1, c = -1;
                bool read = false;
                EXPECT_NO_THROW(read = ReadSwfInfo(Write("cut.swf", compressed ? cws : fws), w, h, c));
                EXPECT_TRUE(read);
                EXPECT_EQ(w, expected.width);
                EXPECT_EQ(h, expected.height);
                EXPECT_EQ(c, expected.color);
                for (const char* p : {"_$$$_", "_$1$_", "_$2$_"}) EXPECT_FALSE(TempExists(p, "cut.swf")) << p;
                ForgetTemps("cut.swf");
            }
        }
    }
}

// Damage raises, unlike a stream that is merely short: bad data, and a wrong check value
// wherever inflation reaches it (a body that ends within the bytes the reader needs or at its
// stated length), whatever the length field says. The temporary files go all the same.
TEST_F(SwfFiles, DamagedCompressedBodyRaisesAndLeavesNoTemporaryFile) {
    std::vector<uint8_t> shortBody = Body(Rect(15, 0, 11000, 0, 8000), BackgroundTag(1, 2, 3));
    std::vector<uint8_t> longBody = shortBody;
    for (uint32_t i = 0; longBody.size() < 5000; ++i) longBody.push_back(uint8_t(i * 7 + (i >> 5)));
    auto zeroHeader = [](std::vector<uint8_t>& z) { z[0] = z[1] = 0; };
    auto reservedBlock = [](std::vector<uint8_t>& z) { z[2] |= 0x06; };  // block type 3
    auto badCheck = [](std::vector<uint8_t>& z) { z.back() ^= 0x01; };
    struct Case {
        const char* name;
        const std::vector<uint8_t>& body;
        int64_t lengthChange;  // to the exact length; 0 states the body's own length
        void (*damage)(std::vector<uint8_t>&);
        const char* message;  // zlib's own words, where they tell the damage apart
    } cases[] = {
        {"not a zlib header", shortBody, 0, zeroHeader, "unknown compression method"},
        {"reserved block type", shortBody, 0, reservedBlock, "invalid block type"},
        {"reserved block type, long body", longBody, 0, reservedBlock, "invalid block type"},
        {"wrong check value", shortBody, 0, badCheck, "incorrect data check"},
        {"wrong check value, length 21", shortBody, 21 - int64_t(8 + shortBody.size()), badCheck, nullptr},
        {"wrong check value, overstated length", shortBody, 1000, badCheck, nullptr},
        {"wrong check value, long body", longBody, 0, badCheck, nullptr},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ForgetTemps("damaged.swf");
        std::vector<uint8_t> packed = Deflate(k.body);
        k.damage(packed);
        std::vector<uint8_t> bytes = Header("CWS", uint32_t(int64_t(8 + k.body.size()) + k.lengthChange));
        bytes.insert(bytes.end(), packed.begin(), packed.end());
        int w = 5, h = 5, c = 5;
        try {
            ReadSwfInfo(Write("damaged.swf", bytes), w, h, c);
            ADD_FAILURE() << "no error";
        } catch (const EZDecompressionError& error) {
            if (k.message) EXPECT_STREQ(error.what(), k.message);
        }
        for (const char* prefix : {"_$$$_", "_$1$_", "_$2$_"}) EXPECT_FALSE(TempExists(prefix, "damaged.swf")) << prefix;
        EXPECT_EQ(w, 5);
        EXPECT_EQ(h, 5);
        EXPECT_EQ(c, 5);
        ForgetTemps("damaged.swf");
    }
}

// The body inflates to exactly its stated length, and the check value that follows lies
// past the first 64 KiB of the compressed data: a wrong one must still be seen.
TEST_F(SwfFiles, WrongCheckValueAfterAnExactLengthRaises) {
    std::vector<uint8_t> body = Body(Rect(15, 0, 11000, 0, 8000), BackgroundTag(1, 2, 3));
    uint32_t noise = 12345;
    std::vector<uint8_t> packed;
    // Incompressible bytes, as many as put the last data byte in the first 64 KiB and the
    // check value across its end.
    while (packed.size() <= 0x10000) {
        noise = noise * 1103515245u + 12345u;
        body.push_back(uint8_t(noise >> 24));
        if (body.size() > 0x10000 - 64) packed = Deflate(body);
    }
    ASSERT_LE(packed.size(), size_t(0x10000 + 4));
    packed.back() ^= 0x01;
    std::vector<uint8_t> bytes = Header("CWS", uint32_t(8 + body.size()));
    bytes.insert(bytes.end(), packed.begin(), packed.end());
    int w, h, c;
    EXPECT_THROW(ReadSwfInfo(Write("check.swf", bytes), w, h, c), EZDecompressionError);
    ForgetTemps("check.swf");
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

// The uncompressed copy cannot be made (a folder of its name is in the way): the error
// passes, and the two files made before it go.
TEST_F(SwfFiles, FailureAfterInflatingLeavesNoTemporaryFile) {
    ForgetTemps("blocked.swf");
    std::string blocker = TempFolder() + "_$2$_blocked.swf";
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), nullptr));
    int w = 5, h = 5, c = 5;
    EXPECT_THROW(ReadSwfInfo(Write("blocked.swf", Cws(Body(Rect(15, 0, 400, 0, 200), ShowFrameTag()))), w, h, c),
                 EFCreateError);
    RemoveDirectoryA(blocker.c_str());
    EXPECT_FALSE(TempExists("_$$$_", "blocked.swf"));
    EXPECT_FALSE(TempExists("_$1$_", "blocked.swf"));
    EXPECT_EQ(w, 5);
    ForgetTemps("blocked.swf");
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
        {{0b11100000}, 3, -1},
        {{0b10000000}, 3, -4},
        {{0b01100000}, 3, 3},
        {{0b10000000}, 1, -1},
        {{0x80, 0, 0, 0}, 31, -1073741824},
        {{0x7F, 0xFF, 0xFF, 0xFE}, 31, 1073741823},
        {{0xFF}, 0, 0},
    };
    for (const Case& c : cases) {
        swf::SetHeaderBuffer(c.bytes.data(), int(c.bytes.size()));
        swf::ResetBits();
        EXPECT_EQ(swf::ReadSignedBits(c.n), c.expected) << "width " << c.n;
    }
}
