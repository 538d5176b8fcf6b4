#include "routines/swfinfo.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "classlib/streams.h"
#include "classlib/zstream.h"

namespace {
constexpr int kHeaderBufSize = 50;
constexpr int kHeaderOffset = 8;
constexpr int32_t kMinFileLength = 21;
constexpr uint8_t kBackgroundTagLow = 0x43, kBackgroundTagHigh = 0x02;

// Module state, used by one read at a time (the player reads from its GUI thread only).
uint8_t HeaderBuf[kHeaderBufSize];
int32_t HeaderPos = 0;
uint32_t CurByte = 0;
int32_t BitsLeft = 0;
int32_t RectBits = 0;
uint8_t SwfHeader[8];

uint8_t ReadByte() {
    // Past the buffer the reader sees zeros; a RECT never needs more than 17 bytes.
    uint8_t b = HeaderPos < kHeaderBufSize ? HeaderBuf[HeaderPos] : 0;
    ++HeaderPos;
    return b;
}

uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void LoadHeaderBytes(const std::string& path) {
    TFileStream file(path, fmOpenRead | fmShareDenyWrite);
    file.SetPosition(kHeaderOffset);
    std::memset(HeaderBuf, 0, sizeof(HeaderBuf));  // a short file leaves zeros, not an old header
    file.Read(HeaderBuf, kHeaderBufSize);
}

void WriteUncompressedSwf(const std::string& t1, const std::string& t2) {
    TFileStream body(t1, fmOpenRead | fmShareDenyWrite);
    TFileStream movie(t2, fmCreate);
    SwfHeader[0] = 'F';
    movie.WriteBuffer(SwfHeader, sizeof(SwfHeader));
    if (body.Size() > 0) movie.CopyFrom(body, 0);
}

// The temporary files of one compressed movie, deleted in the order they were made when the
// read ends, however it ends: a body that does not inflate leaves nothing behind either.
class TempFiles {
public:
    explicit TempFiles(const std::string& path) { swf::MakeTempNames(path, t0, t1, t2); }
    ~TempFiles() {
        DeleteFileA(t0.c_str());
        DeleteFileA(t1.c_str());
        DeleteFileA(t2.c_str());
    }
    TempFiles(const TempFiles&) = delete;
    TempFiles& operator=(const TempFiles&) = delete;
    std::string t0, t1, t2;
};

std::string TempFolder() {
    char buffer[256] = {0};
    DWORD n = GetTempPathA(255, buffer);
    return n > 0 && n < 255 ? std::string(buffer, n) : std::string();
}
}  // namespace

namespace swf {

void SplitCompressedSwf(const std::string& path, const std::string& t0) {
    TFileStream movie(path, fmOpenRead | fmShareDenyWrite);
    movie.SetPosition(0);
    movie.ReadBuffer(SwfHeader, sizeof(SwfHeader));
    TFileStream body(t0, fmCreate);
    int64_t rest = movie.Size() - kHeaderOffset;
    if (rest > 0) body.CopyFrom(movie, rest);
}

// Inflates T0 into T1, stopping at the end of the zlib stream or at the end of T0: a body cut
// short is read as far as it goes, like an uncompressed movie cut at the same place. Against
// a small file that inflates without end, the body is also cut once it reaches the length the
// movie's header states, but never before the bytes the header reader looks at, whatever
// that length says, so that the answer is the one of the uncompressed twin.
void InflateFile(const std::string& t0, const std::string& t1) {
    const int64_t statedBody = int64_t(LittleEndian32(SwfHeader + 4)) - kHeaderOffset;
    const int64_t bound = std::max<int64_t>(statedBody, kHeaderBufSize);
    TFileStream source(t0, fmOpenRead | fmShareDenyWrite);
    TFileStream target(t1, fmCreate);
    TDecompressionStream inflater(source);
    std::vector<uint8_t> buffer(0x10000);
    int64_t written = 0;
    while (written < bound) {
        int32_t want = static_cast<int32_t>(std::min<int64_t>(int64_t(buffer.size()), bound - written));
        int32_t n = inflater.Read(buffer.data(), want);
        if (n <= 0) break;
        target.WriteBuffer(buffer.data(), n);
        written += n;
    }
    // A body that fills the bound may end right there; one more byte asked for lets the
    // inflater reach the check value even when it lies in T0's next block, so a wrong one
    // raises. A byte that does come belongs to a body longer than the bound and is dropped.
    if (written == bound && !inflater.Finished()) {
        uint8_t beyond;
        inflater.Read(&beyond, 1);
    }
}

int GetSwfKind(const std::string& path) {
    uint8_t head[8];
    int32_t got;
    {
        TFileStream file(path, fmOpenRead | fmShareDenyWrite);
        file.SetPosition(0);
        got = file.Read(head, sizeof(head));
    }
    if (got < 8) return NotSwf;
    if (static_cast<int32_t>(LittleEndian32(head + 4)) < kMinFileLength) return NotSwf;
    if (head[1] != 'W' || head[2] != 'S') return NotSwf;
    if (head[0] == 'F') return Uncompressed;
    if (head[0] == 'C') return Compressed;
    return NotSwf;
}

void MakeTempNames(const std::string& path, std::string& t0, std::string& t1, std::string& t2) {
    std::string folder = TempFolder();
    std::string name = ExtractFileName(path);
    t2 = folder + "_$2$_" + name;
    t1 = folder + "_$1$_" + name;
    t0 = folder + "_$$$_" + name;
}

void SetHeaderBuffer(const uint8_t* bytes, int count) {
    std::memset(HeaderBuf, 0, sizeof(HeaderBuf));
    std::memcpy(HeaderBuf, bytes, static_cast<size_t>(std::min(count, kHeaderBufSize)));
    HeaderPos = 0;
}

void ResetBits() {
    BitsLeft = 0;
    CurByte = 0;
}

uint32_t ReadBits(int n) {
    uint32_t result = 0;
    while (n > BitsLeft) {
        int d = n - BitsLeft;
        result |= CurByte << d;
        n = d;
        CurByte = ReadByte();
        BitsLeft = 8;
    }
    result |= CurByte >> (BitsLeft - n);
    BitsLeft -= n;
    CurByte &= 255u >> (8 - BitsLeft);
    return result;
}

int32_t ReadSignedBits(int n) {
    if (n == 0) return 0;
    uint32_t v = ReadBits(n);
    if (v & (1u << (n - 1))) v |= ~0u << n;  // n is at most 31, so the shift is defined
    return static_cast<int32_t>(v);
}

void ReadFrameSize(int& width, int& height) {
    ResetBits();
    HeaderPos = 0;
    RectBits = static_cast<int32_t>(ReadBits(5));
    int32_t xMin = ReadSignedBits(RectBits);
    int32_t xMax = ReadSignedBits(RectBits);
    int32_t yMin = ReadSignedBits(RectBits);
    int32_t yMax = ReadSignedBits(RectBits);
    // In 64 bits: the difference of two 31-bit fields may not fit 32 bits.
    width = static_cast<int>((int64_t(xMax) - xMin) / 20);
    height = static_cast<int>((int64_t(yMax) - yMin) / 20);
}

int ReadBackgroundColor() {
    int p = HeaderPos + 4;
    if (p + 4 >= kHeaderBufSize) return 0;
    if (HeaderBuf[p] == kBackgroundTagLow && HeaderBuf[p + 1] == kBackgroundTagHigh)
        return (HeaderBuf[p + 2] << 16) + (HeaderBuf[p + 3] << 8) + HeaderBuf[p + 4];
    return 0;
}

int HeaderPosition() { return HeaderPos; }

}  // namespace swf

bool ReadSwfInfo(const std::string& path, int& width, int& height, int& color) {
    switch (swf::GetSwfKind(path)) {
    case swf::Uncompressed:
        LoadHeaderBytes(path);
        swf::ReadFrameSize(width, height);
        color = swf::ReadBackgroundColor();
        return true;
    case swf::Compressed: {
        TempFiles temp(path);
        swf::SplitCompressedSwf(path, temp.t0);
        swf::InflateFile(temp.t0, temp.t1);
        WriteUncompressedSwf(temp.t1, temp.t2);
        LoadHeaderBytes(temp.t2);
        swf::ReadFrameSize(width, height);
        color = swf::ReadBackgroundColor();
        return true;
    }
    default: return false;
    }
}
