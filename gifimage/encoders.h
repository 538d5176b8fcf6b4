// Writing a frame's image data: the sub-block writer and the LZW and run-length encoders.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "classlib/classes.h"
#include "classlib/streams.h"

// (sender, severity, message): the route warnings of an encoding take to their image.
using TGIFEncodeWarning = std::function<void(TObject* sender, int severity, const std::string& message)>;
// (done, total): progress of a writer, when anyone listens.
using TGIFEncodeProgress = std::function<void(int done, int total)>;
// Raises the library's error for a message; must not return.
using TGIFEncodeError = std::function<void(const std::string& message)>;

// The stream base of the sub-block writer: reading, writing and seeking are rejected.
class TGIFStream : public TStream {
public:
    explicit TGIFStream(TStream& target);
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    virtual void SignalProgress(int done, int total);

    TGIFEncodeWarning OnWarning;
    TGIFEncodeProgress OnProgress;

protected:
    [[noreturn]] static void InvalidOperation();

    TStream* target_;
    // Byte 0 takes the length of a sub-block when it is written, bytes 1 to 255 its data.
    uint8_t buffer_[256];
    // Position of the next data byte: 1 when empty, 256 when full.
    int32_t bufferCount_ = 1;
};

// Write-only stream that cuts what is written to it into data sub-blocks on its target.
class TGIFWriter : public TGIFStream {
public:
    explicit TGIFWriter(TStream& target) : TGIFStream(target) {}
    // Writes the last partial sub-block if one is pending; a failure here is swallowed,
    // so call Finish on the normal path to have it raised.
    ~TGIFWriter() override;
    TGIFWriter(const TGIFWriter&) = delete;
    TGIFWriter& operator=(const TGIFWriter&) = delete;

    int32_t Write(const void* buffer, int32_t count) override { return BufferBytes(buffer, count); }
    int32_t BufferBytes(const void* data, int32_t count);
    void PutCodeByte(uint8_t byte) {
        dirty_ = true;
        buffer_[bufferCount_++] = byte;
        if (bufferCount_ == 256) FlushBlock();
    }
    void FlushBlock();
    // Writes the last partial sub-block, raising the target's write error.
    void Finish();

private:
    bool dirty_ = false;
};

// String table of the LZW encoder: open addressing over a fixed array of buckets.
// A bucket holds key << 12 | code; keys are below 2^20.
class THashTable {
public:
    static constexpr int kBuckets = 8009;

    THashTable() { Reset(); }
    void Reset();
    void Store(uint32_t key, int16_t code);
    // The code stored for key, -1 when none.
    int16_t Find(uint32_t key) const {
        int freeBucket;
        return Lookup(key, freeBucket);
    }

    // Find that also tells where Store would put the key after a miss (-1 when the path is full),
    // so that the encoder's store after a miss needs no second probe.
    int16_t Lookup(uint32_t key, int& freeBucket) const {
        int h = HashBucket(key);
        // A probe path need not meet an empty bucket; it ends after one round of the table.
        for (int probes = 0; probes < kBuckets; ++probes) {
            const uint32_t stored = buckets_[h] >> 12;
            if (stored == kEmptyKey) {
                freeBucket = h;
                return -1;
            }
            if (stored == key) return static_cast<int16_t>(buckets_[h] & 0xFFF);
            h = NextHashBucket(h);
        }
        freeBucket = -1;
        return -1;
    }
    void StoreAt(int bucket, uint32_t key, int16_t code) {
        if (bucket >= 0) buckets_[bucket] = (key << 12) | (static_cast<uint32_t>(code) & 0xFFF);
    }

    static int HashBucket(uint32_t key) { return static_cast<int>((key ^ (key >> 4)) % kBuckets); }
    static int NextHashBucket(int h) {
        if (h == 0) return kBuckets - 1;
        h -= kBuckets - h;
        return h < 0 ? h + kBuckets : h;
    }

private:
    static constexpr uint32_t kEmptyKey = 0xFFFFF;
    uint32_t buckets_[kBuckets];
};

// Writes one frame's image data: minimum code size, sub-blocks of codes, terminator.
// Each encoder object serves one EncodeFrame.
class TGIFEncoder {
public:
    virtual ~TGIFEncoder() = default;

    // pixelData: width * height colour indexes, rows top to bottom; every one must be below maxColor.
    void EncodeFrame(TStream& stream, uint8_t bitsPerPixel, int32_t width, int32_t height, bool interlaced,
                     const uint8_t* pixelData, int32_t maxColor);

    static int16_t CodeLimit(int bits) { return static_cast<int16_t>((1 << bits) - 1); }
    // Moves to the next pixel in coding order; false when none is left.
    bool AdvancePixel();

    virtual void EmitCode(int16_t code);
    virtual void EmitClear();
    virtual void EncodePixels() = 0;

    // Handed to the writer; the encoders never call it.
    TGIFEncodeWarning OnWarning;
    // Raises "Color not in color table"; EInvalidGraphic with that message when unset.
    TGIFEncodeError OnError;

protected:
    [[noreturn]] void ColorNotInTable();
    // Calls visit(first, count) for each stretch of pixels that are adjacent in coding order.
    template <class Visit>
    void VisitPixels(Visit&& visit) {
        do {
            const int64_t n = pixelsLeftInRow_;
            visit(pixelCursor_, n);
            pixelCursor_ += n;
            pixelsLeftInRow_ = 1;
        } while (AdvancePixel());
    }

    int32_t maxColor_ = 0;
    uint8_t bitsPerPixel_ = 0;
    TStream* stream_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool interlaced_ = false;
    const uint8_t* pixelData_ = nullptr;
    TGIFWriter* writer_ = nullptr;
    uint32_t bitBucket_ = 0;
    int32_t bitsInBucket_ = 0;
    bool clearFlag_ = false;
    uint32_t codeWidth_ = 0;
    uint32_t initialCodeWidth_ = 0;
    int16_t maxCode_ = 0;
    int16_t clearCode_ = 0;
    int16_t endCode_ = 0;
    int16_t firstFreeCode_ = 0;
    const uint8_t* pixelCursor_ = nullptr;
    // 64 bits so that width * height of a large frame cannot overflow.
    int64_t pixelsLeftInRow_ = 0;
    int32_t currentRow_ = 0;
    int32_t interlacePass_ = 0;
};

// LZW compression with a hashed string table. It keeps the strings that THashTable would keep,
// in a table of its own that answers a lookup with fewer steps.
class TLZWEncoder final : public TGIFEncoder {
public:
    void EmitCode(int16_t code) override;
    void EmitClear() override;
    void EncodePixels() override;

    class TStringTable;

private:
    struct TLoopState;
    bool MostlyRuns() const;
    void TakeOverPacker(TLoopState& state) const;
    void FlushGathered(TLoopState& state);
    void HandBackPacker(TLoopState& state);
    void Pack(TLoopState& state, int code);
    void PackPending(TLoopState& state);
    void EndString(TLoopState& state, uint32_t key, uint32_t slot, bool repeated);
    [[noreturn]] void PixelNotInTable(TLoopState& state);
    template <bool Runs>
    void EncodeStretch(TLoopState& state, const uint8_t* pixels, int64_t count);
    int16_t prefix_ = 0;
    int16_t nextFreeCode_ = 0;
    TStringTable* table_ = nullptr;
};

// Run-length coding in LZW codes that any decoder reads; keeps no string table.
class TRLEEncoder : public TGIFEncoder {
public:
    void EmitClear() override;
    void EncodePixels() override;

    void EmitPlain(int16_t code);
    static int32_t TriangleCount(int32_t count, int32_t limit);
    static int32_t IntSqrt(int32_t value);
    void SetClearLimit() { clearLimit_ = runCodeLimit_; }
    void ResetClearCountdown();
    void FlushRun(int32_t count);
    void FlushAfterClear(int32_t count);
    void FlushRunPlainOrRepeat(int32_t count);
    void FlushRunWithTable(int32_t count);

private:
    int32_t runCodeLimit_ = 0;
    int32_t wideningStart_ = 0;
    int32_t clearInterval_ = 0;
    int32_t runPixel_ = -1;
    int32_t tableRunLength_ = 0;
    int32_t tablePixel_ = 0;
    int32_t codesSinceClear_ = 0;
    int32_t clearLimit_ = 0;
    int32_t nextWidening_ = 0;
};

// The frame save's entry: compression 1 picks run-length coding, anything else LZW.
// Writes minimum code size, sub-blocks and terminator of one frame to stream.
void WriteGIFPixelData(TStream& stream, int compression, uint8_t bitsPerPixel, int32_t width, int32_t height,
                       bool interlaced, const uint8_t* pixelData, int32_t maxColor,
                       const TGIFEncodeWarning& onWarning = {}, const TGIFEncodeError& onError = {});
