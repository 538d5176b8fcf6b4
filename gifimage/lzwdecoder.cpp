// Variable-length-code LZW decoding of a frame's image data, straight from the source stream.
#include <algorithm>
#include <cstring>

#include "gifimage/extensions.h"
#include "gifimage/gifio.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"

namespace {

constexpr int kTableSize = 4096;
constexpr int kStackSize = 8192;
constexpr int kNoMoreBits = -1;
constexpr int kEndOfInformation = -2;

// The state of one DecodePixels call. Tables and stack hold only what reaches the pixels:
// the low byte of each character, which is all that a pixel keeps.
class LZWDecoder {
public:
    LZWDecoder(TGIFSubImage& frame, TStream& stream, int minCodeSize, uint8_t fill)
        : frame_(frame)
        , stream_(stream)
        , streamSize_(stream.Size())
        , fill_(fill) {
        minCodeSize_ = std::min(minCodeSize, 8);
        clearCode_ = 1 << minCodeSize_;
        endCode_ = clearCode_ + 1;
        codeSize_ = minCodeSize_ + 1;
        codeLimit_ = 2 * clearCode_;
        nextCode_ = clearCode_ + 2;
        for (int i = 0; i < kTableSize; ++i) {
            prefix_[i] = 0;
            suffix_[i] = i < clearCode_ ? static_cast<uint8_t>(i) : 0;
            length_[i] = i < clearCode_ ? 1 : 2;
        }
        definedUpTo_ = nextCode_;
        std::memset(buffer_, 0, sizeof buffer_);
        for (int i = 0; i < 256; ++i) literals_[i] = static_cast<uint8_t>(i);
        std::memset(literals_ + 256, 0, sizeof literals_ - 256);
        for (int i = 0; i < clearCode_; ++i) where_[i] = literals_ + i;
    }

    // Stores decoded pixels into dst until count are stored or the data ends; answers how many.
    // Pixels past the answer keep what they held before (the fill value), even after an error.
    int64_t Fill(uint8_t* __restrict dst, int64_t count) {
        uint8_t* const end = dst + count;
        uint8_t* at = dst;
        try {
            at = FillRange(dst, end);
        } catch (...) {
            RestoreFill(failedAt_, end);
            throw;
        }
        RestoreFill(at, end);
        return at - dst;
    }
    int NextDecodedPixel() { return top_ > 0 ? stack_[--top_] : DecodeNextCode(); }

private:
    // Copies of a string may run up to this many bytes past it (into pixels not decoded yet).
    static constexpr int kSpill = 7;

    void RestoreFill(uint8_t* at, uint8_t* end) {
        if (at) std::memset(at, fill_, static_cast<size_t>(std::min<int64_t>(end - at, kSpill)));
    }

    static inline __attribute__((always_inline)) uint32_t Load32(const uint8_t* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }

    // len bytes from src, which ends at or before dst (or lies outside the pixels), in 8-byte
    // pieces that may spill up to kSpill bytes past dst + len when room allows.
    static inline __attribute__((always_inline)) void CopyString(uint8_t* dst, const uint8_t* src, int len,
                                                                 const uint8_t* end) {
        if (end - dst >= len + kSpill) {
            int i = 0;
            do {
                uint64_t piece;
                std::memcpy(&piece, src + i, 8);
                std::memcpy(dst + i, &piece, 8);
                i += 8;
            } while (i < len);
        } else {
            for (int i = 0; i < len; ++i) dst[i] = src[i];
        }
    }

    uint8_t* FillRange(uint8_t* dst, uint8_t* const end) {
        while (dst < end) {
            failedAt_ = dst;
            if (top_ > 0) {
                const int64_t n = std::min<int64_t>(top_, end - dst);
                const uint8_t* s = stack_ + top_;
                for (int64_t i = 0; i < n; ++i) dst[i] = *--s;
                top_ -= static_cast<int>(n);
                dst += n;
                continue;
            }
            int code;
            if (fast_) {
                dst = FastRun(dst, end, code);
                if (dst == end) break;
                failedAt_ = dst;
            } else {
                code = ReadCodeBits(codeSize_);
            }
            if (code < 0) return dst;
            dst = Step(code, dst, end);
            if (!dst) return failedAt_;
        }
        return dst;
    }

    // One code the fast run leaves alone, the way the table-walking decoder takes it; null at
    // the end code or when the bits ran out.
    uint8_t* Step(int code, uint8_t* dst, uint8_t* const end) {
        if (code == clearCode_) {
            ResetTables();
            do {
                code = ReadCodeBits(codeSize_);
            } while (code == clearCode_);
            if (code < 0) return nullptr;
            firstCode_ = code;
            oldCode_ = code;
            // Only a first code below the clear code has its string where the pixel goes.
            fast_ = code < clearCode_;
            lastLength_ = 1;
            *dst = static_cast<uint8_t>(code);
            return dst + 1;
        }
        fast_ = false;
        if (code != endCode_ && chainsDescend_) {
            const int length = code < nextCode_ ? length_[code] : length_[oldCode_] + 1;
            if (length <= end - dst) {
                WriteString(code, dst, length);
                return dst + length;
            }
        }
        const int value = DecodeCode(code);
        if (value < 0) return nullptr;
        *dst = static_cast<uint8_t>(value);
        return dst + 1;
    }

    // Decodes while every string is a copy of one already written: a defined code's string
    // lies where it was last written, and the next entry is the last string where it was just
    // written plus one pixel. Leaves at the first code it does not take (in code, or -1 when
    // the bits ran out) or when the pixels are full.
    uint8_t* FastRun(uint8_t* dst, uint8_t* const end, int& pending) {
        int bitPos = bitPos_;
        int lastBit = lastBit_;
        int codeSize = codeSize_;
        int next = nextCode_;
        int oldCode = oldCode_;
        int lastLength = lastLength_;
        int limit = codeLimit_;
        const int clear = clearCode_;
        int code = -1;
        bool decoded = false;
        while (dst != end) {
            if (__builtin_expect(bitPos + codeSize < lastBit, 1)) {
                code = static_cast<int>((Load32(buffer_ + (bitPos >> 3)) >> (bitPos & 7)) & ((1u << codeSize) - 1));
                bitPos += codeSize;
            } else {
                bitPos_ = bitPos;
                failedAt_ = dst;
                code = ReadCodeBitsAtBoundary(codeSize);
                bitPos = bitPos_;
                lastBit = lastBit_;
                if (code < 0) break;
            }
            int length;
            if (code < next) {
                if (static_cast<unsigned>(code - clear) < 2) break;
                length = length_[code];
                if (length > end - dst) break;
                CopyString(dst, where_[code], length, end);
            } else if (code == next) {
                length = lastLength + 1;
                if (length > end - dst) break;
                const uint8_t* last = dst - lastLength;
                CopyString(dst, last, lastLength, end);
                dst[lastLength] = *last;
            } else {
                break;
            }
            if (next < kTableSize) {
                prefix_[next] = static_cast<uint16_t>(oldCode);
                suffix_[next] = *dst;
                length_[next] = static_cast<uint16_t>(lastLength + 1);
                where_[next] = dst - lastLength;
                ++next;
                if (next >= limit && limit < kTableSize) {
                    limit *= 2;
                    ++codeSize;
                }
            }
            oldCode = code;
            lastLength = length;
            dst += length;
            decoded = true;
            code = -1;
        }
        bitPos_ = bitPos;
        lastBit_ = lastBit;
        codeSize_ = codeSize;
        codeLimit_ = limit;
        nextCode_ = next;
        definedUpTo_ = std::max(definedUpTo_, next);
        oldCode_ = oldCode;
        lastLength_ = lastLength;
        if (decoded) firstCode_ = *(dst - lastLength);
        pending = code;
        return dst;
    }

    // The next code of codeSize bits, or -1 when no more bits can be had.
    inline __attribute__((always_inline)) int ReadCodeBits(int codeSize) {
        // A code that ends before the last valid bit needs no refill (nor is the first call).
        if (bitPos_ + codeSize < lastBit_) return TakeCode(codeSize);
        return ReadCodeBitsAtBoundary(codeSize);
    }

    inline __attribute__((always_inline)) int TakeCode(int codeSize) {
        const int start = bitPos_ >> 3;
        const uint32_t raw = buffer_[start] | (buffer_[start + 1] << 8) | (buffer_[start + 2] << 16);
        const int code = static_cast<int>((raw >> (bitPos_ & 7)) & ((1u << codeSize) - 1));
        bitPos_ += codeSize;
        return code;
    }

    __attribute__((noinline)) int ReadCodeBitsAtBoundary(int codeSize) {
        if (firstCall_) {
            firstCall_ = false;
            return clearCode_;
        }
        if (bitPos_ + codeSize >= lastBit_) {
            if (done_) {
                if (bitPos_ >= lastBit_) frame_.ReportWarning(1, sBitBufferUnderrun);
                return kNoMoreBits;
            }
            // A sub-block shorter than a code leaves the code unfinished: take the next one too.
            do {
                if (!Refill()) return kNoMoreBits;
            } while (!done_ && bitPos_ + codeSize > lastBit_);
        }
        return TakeCode(codeSize);
    }

    // Carries the last two bytes to the front and reads the next sub-block behind them.
    bool Refill() {
        buffer_[0] = buffer_[lastByteCount_ - 2];
        buffer_[1] = buffer_[lastByteCount_ - 1];
        uint8_t length = 0;
        if (!ReadByte(stream_, length)) return false;
        if (length == 0) {
            zeroBlock_ = true;
            done_ = true;
        } else {
            const int64_t left = streamSize_ - stream_.Position();
            if (length > left) {
                frame_.ReportWarning(1, sPrematureEndOfData);
                length = static_cast<uint8_t>(std::max<int64_t>(left, 0));
            }
            if (length > 0) ReadExact(stream_, buffer_ + 2, length);
        }
        lastByteCount_ = length + 2;
        bitPos_ = bitPos_ - lastBit_ + 16;
        lastBit_ = (length + 2) * 8;
        return true;
    }

    void ResetTables() {
        for (int i = clearCode_ + 2; i < definedUpTo_; ++i) {
            prefix_[i] = 0;
            suffix_[i] = 0;
            length_[i] = 2;
        }
        chainsDescend_ = true;
        codeSize_ = minCodeSize_ + 1;
        codeLimit_ = 2 * clearCode_;
        nextCode_ = clearCode_ + 2;
        definedUpTo_ = nextCode_;
        top_ = 0;
    }

    // Skips the rest of the data sub-blocks through the terminator.
    void SkipSubBlocks() {
        uint8_t length = 0;
        while (ReadByte(stream_, length) && length != 0) stream_.Seek(length, soCurrent);
    }

    // One LZW step: the first pixel of the next string (the rest waits on the stack),
    // -1 when the bits ran out, -2 at the end-of-information code.
    int DecodeNextCode() {
        const int code = ReadCodeBits(codeSize_);
        return code < 0 ? code : DecodeCode(code);
    }

    // The same step for a string that fits at dst: written in place instead of through the stack.
    // Only while every entry's prefix is below the entry, so that length_ is exact.
    void WriteString(int code, uint8_t* __restrict dst, int length) {
        uint8_t* __restrict end = dst + length;
        int c = code;
        if (code >= nextCode_) {
            *--end = static_cast<uint8_t>(firstCode_);
            c = oldCode_;
        }
        while (c >= clearCode_ && end > dst + 1) {
            *--end = suffix_[c];
            c = prefix_[c];
        }
        if (c >= clearCode_ || end != dst + 1) RaiseGIFError(sCircularTable);
        firstCode_ = suffix_[c];
        *--end = static_cast<uint8_t>(firstCode_);
        AddEntry();
        oldCode_ = code;
    }

    // Entry nextCode_ := old string + first character; the code widens at the limit.
    void AddEntry() {
        if (nextCode_ >= kTableSize) return;
        prefix_[nextCode_] = static_cast<uint16_t>(oldCode_);
        suffix_[nextCode_] = static_cast<uint8_t>(firstCode_);
        length_[nextCode_] = static_cast<uint16_t>(std::min(length_[oldCode_] + 1, 0xFFFF));
        if (oldCode_ >= nextCode_) chainsDescend_ = false;
        ++nextCode_;
        definedUpTo_ = std::max(definedUpTo_, nextCode_);
        if (nextCode_ >= codeLimit_ && codeLimit_ < kTableSize) {
            codeLimit_ *= 2;
            ++codeSize_;
        }
    }

    int DecodeCode(int code) {
        if (code == clearCode_) {
            ResetTables();
            do {
                code = ReadCodeBits(codeSize_);
            } while (code == clearCode_);
            if (code < 0) return code;
            firstCode_ = code;
            oldCode_ = code;
            return code;
        }
        if (code == endCode_) {
            if (!zeroBlock_) SkipSubBlocks();
            return kEndOfInformation;
        }
        const int inCode = code;
        if (code >= nextCode_) {
            stack_[top_++] = static_cast<uint8_t>(firstCode_);
            code = oldCode_;
        }
        while (code >= clearCode_) {
            // A chain longer than the table can hold loops over several entries.
            if (top_ >= kTableSize) RaiseGIFError(sCircularTable);
            stack_[top_++] = suffix_[code];
            if (prefix_[code] == code) RaiseGIFError(sCircularTable);
            code = prefix_[code];
        }
        firstCode_ = suffix_[code];
        stack_[top_++] = static_cast<uint8_t>(firstCode_);
        AddEntry();
        oldCode_ = inCode;
        return stack_[--top_];
    }

    TGIFSubImage& frame_;
    TStream& stream_;
    const int64_t streamSize_;
    int minCodeSize_ = 0;
    int clearCode_ = 0;
    int endCode_ = 0;
    int codeSize_ = 0;
    int codeLimit_ = 0;
    int nextCode_ = 0;
    int definedUpTo_ = 0;  // entries from nextCode_ on below this still hold an old definition
    int firstCode_ = 0;
    int oldCode_ = 0;
    uint16_t prefix_[kTableSize];
    uint8_t suffix_[kTableSize];
    uint16_t length_[kTableSize];  // characters of each entry's string
    bool chainsDescend_ = true;    // every defined entry's prefix lies below it
    uint8_t stack_[kStackSize];
    int top_ = 0;
    // Positions 0 and 1 carry the previous sub-block's last two bytes; spare bytes at the end
    // let a code always be assembled from four.
    uint8_t buffer_[258 + 4];
    int bitPos_ = 0;
    int lastBit_ = 0;
    int lastByteCount_ = 2;
    bool firstCall_ = true;
    bool done_ = false;
    bool zeroBlock_ = false;
    const uint8_t fill_;
    // While fast_: where each entry's string was written (characters point into literals_),
    // and the length of the string last written, which ends at the next pixel.
    bool fast_ = true;
    int lastLength_ = 1;
    const uint8_t* where_[kTableSize];
    uint8_t literals_[256 + 8];
    uint8_t* failedAt_ = nullptr;
};

// Rows decoded one after the other in the order of the four interlace passes (start rows 0, 4,
// 2, 1 with steps 8, 8, 4, 2) are moved to their places, a cycle of the row permutation at a time.
void DeinterlaceRows(uint8_t* pixels, int width, int height) {
    const int pass0 = (height + 7) / 8, pass1 = (height + 3) / 8, pass2 = (height + 1) / 4;
    // The decoding order's index of each row.
    auto decodedAs = [&](int row) {
        if (row % 8 == 0) return row / 8;
        if (row % 8 == 4) return pass0 + row / 8;
        if (row % 4 == 2) return pass0 + pass1 + row / 4;
        return pass0 + pass1 + pass2 + row / 2;
    };
    auto rowAt = [&](int row) { return pixels + static_cast<int64_t>(row) * width; };
    constexpr int kPiece = 4096;
    uint8_t piece[kPiece];
    uint8_t done[65536 / 8] = {};
    for (int first = 0; first < height; ++first) {
        if (done[first >> 3] & (1 << (first & 7))) continue;
        int row = first;
        do {
            done[row >> 3] |= static_cast<uint8_t>(1 << (row & 7));
            row = decodedAs(row);
        } while (row != first);
        if (decodedAs(first) == first) continue;
        for (int x = 0; x < width; x += kPiece) {
            const size_t n = static_cast<size_t>(std::min(kPiece, width - x));
            std::memcpy(piece, rowAt(first) + x, n);
            row = first;
            for (;;) {
                const int from = decodedAs(row);
                if (from == first) {
                    std::memcpy(rowAt(row) + x, piece, n);
                    break;
                }
                std::memcpy(rowAt(row) + x, rowAt(from) + x, n);
                row = from;
            }
        }
    }
}

}  // namespace

void TGIFSubImage::DecodePixels(TStream& stream) {
    AllocPixels();
    uint8_t fill = 0;
    if (Transparent && GraphicControlExtension) fill = GraphicControlExtension->TransparentIndex();
    // The new buffer is already zeroed.
    if (fill != 0 && PixelsSize > 0) std::memset(Pixels, fill, PixelsSize);
    uint8_t minCodeSize = 0;
    if (!ReadByte(stream, minCodeSize)) return;

    LZWDecoder decoder(*this, stream, minCodeSize, fill);
    // An interlaced frame is decoded as its rows come, then the rows are put in their places.
    const bool interlaced = IsInterlaced() && PixelsSize > 0;
    int64_t stored = 0;
    try {
        stored = decoder.Fill(Pixels, PixelsSize);
    } catch (...) {
        if (interlaced) DeinterlaceRows(Pixels, Width(), Height());
        throw;
    }
    if (interlaced) DeinterlaceRows(Pixels, Width(), Height());
    if (stored < PixelsSize) return;
    // In a well-formed stream this reads the end code, which skips to the terminator.
    decoder.NextDecodedPixel();
}
