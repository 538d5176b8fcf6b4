#include "gifimage/encoders.h"

#include <algorithm>
#include <cstring>
#include <intrin.h>
#include <type_traits>

#include "gifimage/messages.h"

namespace {
constexpr int kMaxLZWBits = 12;
constexpr int16_t kLZWTableFull = 4095;
}  // namespace

// --- TGIFStream --------------------------------------------------------------

TGIFStream::TGIFStream(TStream& target) : target_(&target) { std::memset(buffer_, 0, sizeof buffer_); }

void TGIFStream::InvalidOperation() { throw Exception(sInvalidStreamOperation); }

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

void TGIFEncoder::EncodeFrame(TStream& stream, uint8_t bitsPerPixel, int32_t width, int32_t height, bool interlaced,
                              const uint8_t* pixelData, int32_t maxColor) {
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
    if (OnError) OnError(sColorNotInColorTable);
    throw EInvalidGraphic(sColorNotInColorTable);
}

// --- TLZWEncoder -------------------------------------------------------------

// The strings of THashTable, found by one multiplicative hash and linear probing over eight
// times as many buckets as entries, so that a lookup mostly ends at its first bucket. A bucket
// holds only a code, and the key of each code stands in a table of its own: the buckets take no
// more room than those of a table a quarter the size, and a hit has its code from the first load.
// THashTable can refuse a store: its probe from a bucket visits only one of the two cycles of its
// probe step (bucket 0 leads into one of them), and when that cycle is full the entry is not
// kept. This table refuses the same stores, by counting what THashTable would hold on each cycle
// once enough entries exist for a cycle to fill.
class TLZWEncoder::TStringTable {
public:
    static constexpr uint32_t kBits = 15;
    static constexpr uint32_t kMask = (1u << kBits) - 1;
    static constexpr uint16_t kEmpty = 0xFFFF;
    static constexpr uint32_t kMultiplier = 0x9E3779B1u;

    // Holds anything until the first Reset, which the encoder's opening clear code brings.
    explicit TStringTable(int firstCode) : firstCode_(firstCode) {}

    // A string store fills the table several times faster than the C library's memset does.
    void Reset() {
        __stosd(reinterpret_cast<unsigned long*>(buckets_), 0xFFFFFFFFul, sizeof buckets_ / 4);
        __stosd(reinterpret_cast<unsigned long*>(repeat_), 0xFFFFFFFFul, sizeof repeat_ / 4);
        count_ = 0;
        counting_ = false;
    }

    // A multiplicative hash of key = prefix << 8 | c, taken apart so that only the multiplication
    // of the prefix waits for the code that the lookup before found.
    static uint32_t Start(uint32_t prefix, uint32_t c) {
        return (prefix * (kMultiplier << 8) + c * kMultiplier) >> (32 - kBits);
    }
    static uint32_t Next(uint32_t h) { return (h + 1) & kMask; }

    // The code of key, or -1 with h on the empty bucket where it would go.
    inline __attribute__((always_inline)) int Lookup(uint32_t prefix, uint32_t c, uint32_t& h) const {
        const uint32_t key = (prefix << 8) | c;
        h = Start(prefix, c);
        for (;;) {
            const int code = buckets_[h];
            if (code == kEmpty) return -1;
            if (keys_[code] == key) return code;
            h = Next(h);
        }
    }

    // Runs from p until end, a pixel not below maxColor, or a string end whose new entry needs more
    // than a plain store (its code at or above limit): the prefix and next free code carry on from
    // and into prefixIO and nextFreeIO, and the entries it makes are counted in. The codes of the
    // strings it ends are not written out: each is the prefix of the key stored under the new code.
    // With Runs it takes the encoder's shortcut through runs of one colour; second is the second
    // pixel of the stretch that p lies in. Returns where it stopped. Its loop starts on a 32-byte
    // boundary: where the compiler otherwise put it, the same code measured up to 8 % slower.
    template <bool Runs>
    __attribute__((noinline, optimize("align-loops=32"))) const uint8_t* RunPlain(const uint8_t* p, const uint8_t* end, const uint8_t* second,
                                                      uint32_t& prefixIO, uint32_t& nextFreeIO, uint32_t limit,
                                                      uint32_t maxColor);

    // The first code at which a new entry needs more than a plain store: a wider code, a full
    // table, or a store that THashTable might refuse.
    int PlainStoreLimit(int nextFree, int maxCode) const {
        return std::min({maxCode + 1, static_cast<int>(kLZWTableFull), nextFree - count_ + kShortestCycle});
    }
    // The key stored under code since the last Reset.
    uint32_t KeyOf(int code) const { return keys_[code]; }

    // Stores key at h (from a missed Lookup) unless THashTable would have had no room for it;
    // repeated tells that the key's character is the last one of its prefix's string.
    inline __attribute__((always_inline)) void StoreAt(uint32_t h, uint32_t key, int code, bool repeated) {
        if (count_ >= kShortestCycle && !Admit(key)) return;
        buckets_[h] = static_cast<uint16_t>(code);
        keys_[code] = key;
        if (repeated) repeat_[key >> 8] = static_cast<int16_t>(code);
        ++count_;
    }

    // The code of prefix's string followed by its own last character again, -1 when not stored:
    // a run of one colour finds its strings with one load each.
    int Repeat(int prefix) const { return repeat_[prefix]; }

private:
    // Bucket 0 of THashTable and, for every other bucket, which of the two cycles it lies on.
    struct Cycles {
        uint8_t of[THashTable::kBuckets];
        int length[2] = {0, 0};
        Cycles() {
            std::memset(of, 0, sizeof of);
            for (int h = 1; h < THashTable::kBuckets; ++h) of[h] = 2;
            for (int start = 1, cycle = 0; start < THashTable::kBuckets && cycle < 2; ++start) {
                if (of[start] != 2) continue;
                int h = start;
                do {
                    of[h] = static_cast<uint8_t>(cycle);
                    ++length[cycle];
                    h = THashTable::NextHashBucket(h);
                } while (h != start);
                ++cycle;
            }
        }
    };
    static const Cycles& CycleMap() {
        static const Cycles cycles;
        return cycles;
    }
    static constexpr int kShortestCycle = 4004;

    // Whether THashTable would find an empty bucket for key; counts it in when so.
    bool Admit(uint32_t key) {
        const Cycles& cycles = CycleMap();
        if (!counting_) {
            // Until now no cycle could fill: count what THashTable holds on each.
            counting_ = true;
            zeroTaken_ = false;
            held_[0] = held_[1] = 0;
            // No store was refused so far: the codes from the first on hold one key each.
            for (int code = firstCode_; code < firstCode_ + count_; ++code)
                Place(cycles, static_cast<int>(keys_[code]));
        }
        const int h = THashTable::HashBucket(key);
        if (h == 0 && !zeroTaken_) {
            zeroTaken_ = true;
            return true;
        }
        const int cycle = cycles.of[h == 0 ? THashTable::kBuckets - 1 : h];
        if (held_[cycle] >= cycles.length[cycle]) return false;
        ++held_[cycle];
        return true;
    }

    void Place(const Cycles& cycles, int key) {
        const int h = THashTable::HashBucket(static_cast<uint32_t>(key));
        if (h == 0 && !zeroTaken_)
            zeroTaken_ = true;
        else
            ++held_[cycles.of[h == 0 ? THashTable::kBuckets - 1 : h]];
    }

    // The code in each bucket, and the key of each code stored since the last Reset.
    uint16_t buckets_[1u << kBits];
    uint32_t keys_[4096];
    const int firstCode_;
    int16_t repeat_[4096];
    int count_ = 0;
    bool counting_ = false;
    bool zeroTaken_ = false;
    int held_[2] = {0, 0};
};

template <bool Runs>
const uint8_t* TLZWEncoder::TStringTable::RunPlain(const uint8_t* p, const uint8_t* end, const uint8_t* second,
                                                   uint32_t& prefixIO, uint32_t& nextFreeIO, uint32_t limit,
                                                   uint32_t maxColor) {
    uint32_t prefix = prefixIO;
    uint32_t nextFree = nextFreeIO;
    for (; p != end; ++p) {
        const uint32_t c = *p;
        if (c >= maxColor) break;
        if constexpr (Runs) {
            if (p > second && ((c == p[-1]) & (c == p[-2]))) {
                int found = repeat_[prefix];
                if (found >= 0) {
                    // Along the run up to its last pixel, or to the last string of it that is stored.
                    for (;;) {
                        prefix = static_cast<uint32_t>(found);
                        if (p + 1 == end || p[1] != c || (found = repeat_[prefix]) < 0) break;
                        ++p;
                    }
                    continue;
                }
            }
        }
        uint32_t h;
        const int found = Lookup(prefix, c, h);
        if (found >= 0) {
            prefix = static_cast<uint32_t>(found);
            continue;
        }
        if (nextFree >= limit) break;
        buckets_[h] = static_cast<uint16_t>(nextFree);
        keys_[nextFree] = (prefix << 8) | c;
        if (Runs && p >= second && c == p[-1]) repeat_[prefix] = static_cast<int16_t>(nextFree);
        ++nextFree;
        prefix = c;
    }
    count_ += static_cast<int>(nextFree - nextFreeIO);
    prefixIO = prefix;
    nextFreeIO = nextFree;
    return p;
}

// Whether most pixels, in a sample spread over the frame, repeat the pixel to their left.
bool TLZWEncoder::MostlyRuns() const {
    const int64_t n = int64_t{width_} * height_;
    if (n < 2) return false;
    // At most 4096 pairs, and no more than every eighth pixel of a small frame. The pairs start
    // at 0, step, 2 * step, ... up to the last pixel but one; counted in the pointer's width.
    const int64_t step = std::max<int64_t>(8, n / 4096);
    const size_t pairs = static_cast<size_t>((n - 2) / step + 1);
    const size_t stride = static_cast<size_t>(step);
    size_t alike = 0;
    const uint8_t* pair = pixelData_;
    for (size_t i = 0; i < pairs; ++i, pair += stride) alike += pair[0] == pair[1];
    return 2 * alike >= pairs;
}

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
    if (table_) table_->Reset();
    nextFreeCode_ = static_cast<int16_t>(clearCode_ + 2);
}

// The state the loop keeps in registers while it runs: the packer's bits, code width and table
// position, the current prefix, and how many packed bytes are gathered before they go to the
// writer, which sees the same bytes in the same order as through EmitCode. Every function that
// takes it is inlined, so that it never lives in memory.
struct TLZWEncoder::TLoopState {
    static constexpr int kGather = 4096;
    uint8_t* gathered;  // kGather + 8 bytes
    // The encoder's table (table_), known here as the local it is, so that the loop addresses
    // it from the frame and keeps a register for itself.
    TStringTable* strings;
    uint32_t bucket = 0;
    int bits = 0;
    int width = 0;
    int maxCode = 0;
    int nextFree = 0;
    int prefix = 0;
    int gatheredCount = 0;
    // Codes below limit are stored plainly; the strings ended from pendingFrom on are not packed yet.
    int limit = 0;
    int pendingFrom = 0;
};

// The packer's state taken over from EmitCode and the members.
inline __attribute__((always_inline)) void TLZWEncoder::TakeOverPacker(TLoopState& state) const {
    state.bucket = bitsInBucket_ > 0 ? bitBucket_ & ((1u << bitsInBucket_) - 1) : 0;
    state.bits = bitsInBucket_;
    state.width = static_cast<int>(codeWidth_);
    state.maxCode = maxCode_;
    state.nextFree = nextFreeCode_;
    state.pendingFrom = state.nextFree;
    state.prefix = prefix_;
}

inline __attribute__((always_inline)) void TLZWEncoder::FlushGathered(TLoopState& state) {
    if (state.gatheredCount > 0) writer_->BufferBytes(state.gathered, state.gatheredCount);
    state.gatheredCount = 0;
}

// Hands the state back, so that EmitCode and the writer carry on where the loop stopped.
inline __attribute__((always_inline)) void TLZWEncoder::HandBackPacker(TLoopState& state) {
    PackPending(state);
    FlushGathered(state);
    bitBucket_ = state.bucket;
    bitsInBucket_ = state.bits;
    codeWidth_ = static_cast<uint32_t>(state.width);
    maxCode_ = static_cast<int16_t>(state.maxCode);
    nextFreeCode_ = static_cast<int16_t>(state.nextFree);
    prefix_ = static_cast<int16_t>(state.prefix);
}

// Stores four bytes and keeps the whole ones: no branch on how many a code completes.
inline __attribute__((always_inline)) void TLZWEncoder::Pack(TLoopState& state, int code) {
    state.bucket |= static_cast<uint32_t>(code) << state.bits;
    state.bits += state.width;
    std::memcpy(state.gathered + state.gatheredCount, &state.bucket, 4);
    const int whole = state.bits >> 3;
    state.gatheredCount += whole;
    state.bucket >>= whole * 8;
    state.bits &= 7;
    if (state.gatheredCount >= TLoopState::kGather) FlushGathered(state);
}

// Packs the codes of the strings that the plain run ended: the prefix of each key stored since.
inline __attribute__((always_inline)) void TLZWEncoder::PackPending(TLoopState& state) {
    for (int code = state.pendingFrom; code < state.nextFree; ++code)
        Pack(state, static_cast<int>(state.strings->KeyOf(code) >> 8));
    state.pendingFrom = state.nextFree;
}

// A string the table lacks ends the prefix's: its code goes out, the code widens when the next
// entry needs it, and key is stored under the next free code, or the full table is cleared.
inline __attribute__((always_inline)) void TLZWEncoder::EndString(TLoopState& state, uint32_t key, uint32_t slot,
                                                                  bool repeated) {
    PackPending(state);
    Pack(state, state.prefix);
    if (state.nextFree > state.maxCode) {
        ++state.width;
        state.maxCode = state.width == kMaxLZWBits ? 4096 : (1 << state.width) - 1;
    }
    if (state.nextFree >= kLZWTableFull) {
        Pack(state, clearCode_);
        state.width = static_cast<int>(initialCodeWidth_);
        state.maxCode = (1 << state.width) - 1;
        state.strings->Reset();
        state.nextFree = clearCode_ + 2;
    } else {
        state.strings->StoreAt(slot, key, state.nextFree, repeated);
        ++state.nextFree;
    }
    state.pendingFrom = state.nextFree;
    state.limit = state.strings->PlainStoreLimit(state.nextFree, state.maxCode);
}

inline __attribute__((always_inline)) void TLZWEncoder::PixelNotInTable(TLoopState& state) {
    HandBackPacker(state);
    ColorNotInTable();
}

// Codes for one stretch of pixels adjacent in coding order. With Runs, a run of one colour (three
// alike) finds its strings without hashing; on busy pictures that test costs more than it saves.
// Both write the same codes. The table's plain run takes the pixels; here go those it stops at.
template <bool Runs>
inline __attribute__((always_inline)) void TLZWEncoder::EncodeStretch(TLoopState& state, const uint8_t* pixels,
                                                                      int64_t count) {
    const int32_t maxColor = maxColor_;
    TStringTable& strings = *state.strings;
    const uint8_t* p = pixels;
    if (state.prefix < 0) {
        if (*p >= maxColor) PixelNotInTable(state);
        state.prefix = *p++;
    }
    // From the stretch's second pixel on, p[-1] is the last character of the prefix's string.
    const uint8_t* const second = pixels + 1;
    const uint8_t* const end = pixels + count;
    while (p != end) {
        uint32_t prefix = static_cast<uint32_t>(state.prefix);
        uint32_t nextFree = static_cast<uint32_t>(state.nextFree);
        p = strings.template RunPlain<Runs>(p, end, second, prefix, nextFree, static_cast<uint32_t>(state.limit),
                                            static_cast<uint32_t>(maxColor));
        state.prefix = static_cast<int>(prefix);
        state.nextFree = static_cast<int>(nextFree);
        if (p == end) break;
        // A pixel outside the table, or the end of a string whose entry needs more than a plain store.
        const uint8_t c = *p;
        if (c >= maxColor) PixelNotInTable(state);
        uint32_t slot;
        const int found = strings.Lookup(prefix, c, slot);
        if (found >= 0) {
            state.prefix = found;
        } else {
            EndString(state, (prefix << 8) | c, slot, Runs && p >= second && c == p[-1]);
            state.prefix = c;
        }
        ++p;
    }
}

void TLZWEncoder::EncodePixels() {
    // On the stack: a frame's encoding allocates nothing.
    TStringTable table(clearCode_ + 2);
    table_ = &table;
    try {
        EmitClear();
        prefix_ = -1;
        uint8_t gathered[TLoopState::kGather + 8];
        TLoopState state{gathered, &table};
        TakeOverPacker(state);
        state.limit = table.PlainStoreLimit(state.nextFree, state.maxCode);
        if (MostlyRuns())
            VisitPixels([&](const uint8_t* pixels, int64_t count) { EncodeStretch<true>(state, pixels, count); });
        else
            VisitPixels([&](const uint8_t* pixels, int64_t count) { EncodeStretch<false>(state, pixels, count); });
        HandBackPacker(state);
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
                       bool interlaced, const uint8_t* pixelData, int32_t maxColor, const TGIFEncodeWarning& onWarning,
                       const TGIFEncodeError& onError) {
    std::unique_ptr<TGIFEncoder> encoder;
    if (compression == 1)
        encoder = std::make_unique<TRLEEncoder>();
    else
        encoder = std::make_unique<TLZWEncoder>();
    encoder->OnWarning = onWarning;
    encoder->OnError = onError;
    encoder->EncodeFrame(stream, bitsPerPixel, width, height, interlaced, pixelData, maxColor);
}
