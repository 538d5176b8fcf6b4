#include "gifimage/encoders.h"

#include <algorithm>
#include <cstring>

namespace {
const char kInvalidStreamOperation[] = "Invalid stream operation";
const char kColorNotInColorTable[] = "Color not in color table";
constexpr int kMaxLZWBits = 12;
constexpr int16_t kLZWTableFull = 4095;
}  // namespace

// --- TGIFStream --------------------------------------------------------------

TGIFStream::TGIFStream(TStream& target) : target_(&target) { std::memset(buffer_, 0, sizeof buffer_); }

void TGIFStream::InvalidOperation() { throw Exception(kInvalidStreamOperation); }

int32_t TGIFStream::Read(void*, int32_t) { InvalidOperation(); }
int32_t TGIFStream::Write(const void*, int32_t) { InvalidOperation(); }
int64_t TGIFStream::Seek(int64_t, TSeekOrigin) { InvalidOperation(); }

void TGIFStream::SignalProgress(int done, int total) {
    if (OnProgress) OnProgress(done, total);
}

// --- TGIFWriter --------------------------------------------------------------

TGIFWriter::~TGIFWriter() {
    if (!dirty_) return;
    try {
        FlushBlock();
    } catch (...) {
        // Only reached while another error is already on its way to the caller.
    }
}

// Bytes left over after a full sub-block keep the writer dirty, so that they reach the target.
int32_t TGIFWriter::BufferBytes(const void* data, int32_t count) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    int32_t left = count;
    while (left > 0) {
        const int32_t n = std::min(left, 256 - bufferCount_);
        std::memcpy(buffer_ + bufferCount_, bytes, static_cast<size_t>(n));
        dirty_ = true;
        bufferCount_ += n;
        bytes += n;
        left -= n;
        if (bufferCount_ == 256) FlushBlock();
    }
    return count;
}

void TGIFWriter::FlushBlock() {
    buffer_[0] = static_cast<uint8_t>(bufferCount_ - 1);
    const int32_t length = bufferCount_;
    bufferCount_ = 1;
    dirty_ = false;
    target_->WriteBuffer(buffer_, length);
}

void TGIFWriter::Finish() {
    if (dirty_) FlushBlock();
}

// --- THashTable --------------------------------------------------------------

void THashTable::Reset() { std::memset(buckets_, 0xFF, sizeof buckets_); }

void THashTable::Store(uint32_t key, int16_t code) {
    int h = HashBucket(key);
    // When the probe path is full the entry is not kept: the encoder then only misses a
    // longer match, and the codes stay valid.
    for (int probes = 0; probes < kBuckets; ++probes) {
        if ((buckets_[h] >> 12) == kEmptyKey) {
            buckets_[h] = (key << 12) | (static_cast<uint32_t>(code) & 0xFFF);
            return;
        }
        h = NextHashBucket(h);
    }
}

// --- TGIFEncoder -------------------------------------------------------------

void TGIFEncoder::EncodeFrame(TStream& stream, uint8_t bitsPerPixel, int32_t width, int32_t height,
                              bool interlaced, const uint8_t* pixelData, int32_t maxColor) {
    // Pixels are bytes, so 8 bits always suffice; wider codes would leave no room in a 12-bit table.
    bitsPerPixel = std::clamp<uint8_t>(bitsPerPixel, 2, 8);
    stream_ = &stream;
    bitsPerPixel_ = bitsPerPixel;
    width_ = width;
    height_ = height;
    interlaced_ = interlaced;
    pixelData_ = pixelData;
    maxColor_ = maxColor;

    stream.WriteBuffer(&bitsPerPixel, 1);

    initialCodeWidth_ = codeWidth_ = bitsPerPixel + 1u;
    maxCode_ = CodeLimit(static_cast<int>(initialCodeWidth_));
    clearCode_ = static_cast<int16_t>(1 << bitsPerPixel);
    endCode_ = static_cast<int16_t>(clearCode_ + 1);
    firstFreeCode_ = static_cast<int16_t>(clearCode_ + 2);
    bitBucket_ = 0;
    bitsInBucket_ = 0;

    pixelsLeftInRow_ = interlaced ? int64_t{width} : int64_t{width} * height;
    currentRow_ = 0;
    interlacePass_ = 0;
    pixelCursor_ = pixelData;

    TGIFWriter writer(stream);
    writer.OnWarning = OnWarning;
    writer_ = &writer;
    try {
        if (pixelData && width > 0 && height > 0) EncodePixels();
        EmitCode(endCode_);
        writer.Finish();
    } catch (...) {
        writer_ = nullptr;
        throw;
    }
    writer_ = nullptr;

    const uint8_t terminator = 0;
    stream.WriteBuffer(&terminator, 1);
}

bool TGIFEncoder::AdvancePixel() {
    if (--pixelsLeftInRow_ > 0) return true;
    if (!interlaced_) return false;

    static const int32_t kStep[4] = {8, 8, 4, 2};
    static const int32_t kStart[4] = {0, 4, 2, 1};
    pixelsLeftInRow_ = width_;
    currentRow_ += kStep[interlacePass_];
    while (currentRow_ >= height_) {
        if (++interlacePass_ > 3) return false;
        currentRow_ = kStart[interlacePass_];
    }
    pixelCursor_ = pixelData_ + static_cast<int64_t>(currentRow_) * width_;
    return true;
}

// The bit packer: codes go out least significant bit first.
void TGIFEncoder::EmitCode(int16_t code) {
    if (bitsInBucket_ > 0)
        bitBucket_ = (bitBucket_ & ((1u << bitsInBucket_) - 1)) | (static_cast<uint32_t>(code) << bitsInBucket_);
    else
        bitBucket_ = static_cast<uint32_t>(code);
    bitsInBucket_ += static_cast<int32_t>(codeWidth_);
    while (bitsInBucket_ >= 8) {
        writer_->PutCodeByte(static_cast<uint8_t>(bitBucket_));
        bitBucket_ >>= 8;
        bitsInBucket_ -= 8;
    }
    if (code == endCode_) {
        while (bitsInBucket_ > 0) {
            writer_->PutCodeByte(static_cast<uint8_t>(bitBucket_));
            bitBucket_ >>= 8;
            bitsInBucket_ -= 8;
        }
    }
}

void TGIFEncoder::EmitClear() {
    clearFlag_ = true;
    EmitCode(clearCode_);
}

void TGIFEncoder::ColorNotInTable() {
    if (OnError) OnError(kColorNotInColorTable);
    throw EInvalidGraphic(kColorNotInColorTable);
}

// --- TLZWEncoder -------------------------------------------------------------

void TLZWEncoder::EmitCode(int16_t code) {
    TGIFEncoder::EmitCode(code);
    if (clearFlag_) {
        codeWidth_ = initialCodeWidth_;
        maxCode_ = CodeLimit(static_cast<int>(initialCodeWidth_));
        clearFlag_ = false;
    } else if (nextFreeCode_ > maxCode_) {
        ++codeWidth_;
        maxCode_ = codeWidth_ == kMaxLZWBits ? int16_t{4096} : CodeLimit(static_cast<int>(codeWidth_));
    }
}

void TLZWEncoder::EmitClear() {
    TGIFEncoder::EmitClear();
    table_->Reset();
    nextFreeCode_ = static_cast<int16_t>(clearCode_ + 2);
}

void TLZWEncoder::EncodePixels() {
    auto table = std::make_unique<THashTable>();
    table_ = table.get();
    try {
        EmitClear();
        prefix_ = -1;
        const int32_t maxColor = maxColor_;
        VisitPixels([&](const uint8_t* pixels, int64_t count) {
            int64_t i = 0;
            if (prefix_ < 0) {
                if (pixels[0] >= maxColor) ColorNotInTable();
                prefix_ = pixels[0];
                i = 1;
            }
            int16_t prefix = prefix_;
            for (const uint8_t *p = pixels + i, *end = pixels + count; p != end; ++p) {
                const uint8_t c = *p;
                if (c >= maxColor) {
                    prefix_ = prefix;
                    ColorNotInTable();
                }
                const uint32_t key = (static_cast<uint32_t>(prefix) << 8) | c;
                int freeBucket;
                const int16_t found = table_->Lookup(key, freeBucket);
                if (found >= 0) {
                    prefix = found;
                    continue;
                }
                EmitCode(prefix);
                prefix = c;
                if (nextFreeCode_ >= kLZWTableFull) {
                    EmitClear();
                } else {
                    table_->StoreAt(freeBucket, key, nextFreeCode_);
                    ++nextFreeCode_;
                }
            }
            prefix_ = prefix;
        });
        EmitCode(prefix_);
    } catch (...) {
        table_ = nullptr;
        throw;
    }
    table_ = nullptr;
}

// --- TRLEEncoder -------------------------------------------------------------

void TRLEEncoder::EmitClear() {
    nextWidening_ = wideningStart_;
    clearLimit_ = clearInterval_;
    codesSinceClear_ = 0;
    tableRunLength_ = 0;
    TGIFEncoder::EmitClear();
    codeWidth_ = initialCodeWidth_;
}

// Emits a code and follows the decoder: its code width and the forced clears.
void TRLEEncoder::EmitPlain(int16_t code) {
    clearFlag_ = false;
    TGIFEncoder::EmitCode(code);
    ++codesSinceClear_;
    if (codesSinceClear_ == nextWidening_) {
        ++codeWidth_;
        nextWidening_ += 1 << (codeWidth_ - 1);
    }
    if (codesSinceClear_ >= clearLimit_) EmitClear();
}

int32_t TRLEEncoder::IntSqrt(int32_t value) {
    if (value < 2) return value;
    int k = 0;
    for (int32_t a = value; a > 0; a /= 4) ++k;
    int32_t r = 1 << k;
    for (;;) {
        const int32_t b = (r + value / r) / 2;
        if (b == r || b == r + 1) return r;
        r = b;
    }
}

// Codes needed to write a run of count pixels as growing repeats, with at most limit codes between clears.
int32_t TRLEEncoder::TriangleCount(int32_t count, int32_t limit) {
    const int64_t triangle = int64_t{limit} * (limit + 1) / 2;
    int64_t n = count;
    int32_t result = 0;
    while (n >= triangle) {
        n -= triangle;
        result += limit;
    }
    if (n > 0) {
        int64_t b = IntSqrt(static_cast<int32_t>(n));
        while (b > 0 && b * (b + 1) >= 2 * n) --b;
        while (b * (b + 1) < 2 * n) ++b;
        result += static_cast<int32_t>(b);
    }
    return result;
}

void TRLEEncoder::ResetClearCountdown() {
    clearLimit_ = clearInterval_;
    if (codesSinceClear_ >= clearLimit_) EmitClear();
}

// Runs of 1, 2, 3, ... pixels, each code teaching the decoder the next longer run.
void TRLEEncoder::FlushAfterClear(int32_t count) {
    SetClearLimit();
    tablePixel_ = runPixel_;
    int32_t k = 1;
    int32_t n = count;
    while (n > 0) {
        if (k == 1) {
            tableRunLength_ = 1;
            EmitPlain(static_cast<int16_t>(runPixel_));
            n -= 1;
        } else if (k <= n) {
            tableRunLength_ = k;
            EmitPlain(static_cast<int16_t>(firstFreeCode_ + k - 2));
            n -= k;
        } else {
            ++tableRunLength_;
            EmitPlain(static_cast<int16_t>(n == 1 ? runPixel_ : firstFreeCode_ + n - 2));
            break;
        }
        k = codesSinceClear_ == 0 ? 1 : k + 1;
    }
    ResetClearCountdown();
}

void TRLEEncoder::FlushRunPlainOrRepeat(int32_t count) {
    if (TriangleCount(count, runCodeLimit_) + 1 < count) {
        EmitClear();
        FlushAfterClear(count);
        return;
    }
    for (int32_t i = 0; i < count; ++i) EmitPlain(static_cast<int16_t>(runPixel_));
}

// Repeats the longest run code the decoder holds for this pixel, when that costs fewer codes.
void TRLEEncoder::FlushRunWithTable(int32_t count) {
    const int32_t m = tableRunLength_;
    int32_t q = count / m;
    int32_t r = count % m;
    int32_t extra = r > 0 ? 1 : 0;
    if (codesSinceClear_ + q + extra > runCodeLimit_) {
        q = runCodeLimit_ - codesSinceClear_;
        r = count - m * q;
        extra = TriangleCount(r, runCodeLimit_) + 1;
    }
    if (TriangleCount(count, runCodeLimit_) + 1 < q + extra) {
        EmitClear();
        FlushAfterClear(count);
        return;
    }
    SetClearLimit();
    const int16_t runCode = static_cast<int16_t>(firstFreeCode_ + m - 2);
    for (int32_t i = 0; i < q; ++i) EmitPlain(runCode);
    if (r > 0) {
        if (clearFlag_)
            FlushAfterClear(r);
        else
            EmitPlain(static_cast<int16_t>(r == 1 ? runPixel_ : firstFreeCode_ + r - 2));
    }
    ResetClearCountdown();
}

void TRLEEncoder::FlushRun(int32_t count) {
    if (count == 1)
        EmitPlain(static_cast<int16_t>(runPixel_));
    else if (clearFlag_)
        FlushAfterClear(count);
    else if (tableRunLength_ >= 2 && tablePixel_ == runPixel_)
        FlushRunWithTable(count);
    else
        FlushRunPlainOrRepeat(count);
}

void TRLEEncoder::EncodePixels() {
    wideningStart_ = clearCode_ - 1;
    clearInterval_ = bitsPerPixel_ <= 3 ? 9 : clearCode_ - 2;
    runCodeLimit_ = CodeLimit(kMaxLZWBits) - firstFreeCode_;
    EmitClear();
    runPixel_ = -1;
    int32_t runLength = 0;
    const int32_t maxColor = maxColor_;
    VisitPixels([&](const uint8_t* pixels, int64_t count) {
        for (int64_t i = 0; i < count; ++i) {
            const int32_t p = pixels[i];
            if (p >= maxColor) ColorNotInTable();
            if (p == runPixel_) {
                ++runLength;
                continue;
            }
            if (runLength > 0) FlushRun(runLength);
            runPixel_ = p;
            runLength = 1;
        }
    });
    FlushRun(runLength);
}

// --- Entry for the frame save ------------------------------------------------

void WriteGIFPixelData(TStream& stream, int compression, uint8_t bitsPerPixel, int32_t width, int32_t height,
                       bool interlaced, const uint8_t* pixelData, int32_t maxColor,
                       const TGIFEncodeWarning& onWarning, const TGIFEncodeError& onError) {
    std::unique_ptr<TGIFEncoder> encoder;
    if (compression == 1)
        encoder = std::make_unique<TRLEEncoder>();
    else
        encoder = std::make_unique<TLZWEncoder>();
    encoder->OnWarning = onWarning;
    encoder->OnError = onError;
    encoder->EncodeFrame(stream, bitsPerPixel, width, height, interlaced, pixelData, maxColor);
}
