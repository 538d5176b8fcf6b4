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
    LZWDecoder(TGIFSubImage& frame, TStream& stream, int minCodeSize)
        : frame_(frame), stream_(stream), streamSize_(stream.Size()) {
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
    }

    // Stores decoded pixels into dst until count are stored or the data ends; answers how many.
    int64_t Fill(uint8_t* __restrict dst, int64_t count) {
        int64_t stored = 0;
        while (stored < count) {
            if (top_ > 0) {
                const int64_t n = std::min<int64_t>(top_, count - stored);
                const uint8_t* s = stack_ + top_;
                uint8_t* d = dst + stored;
                for (int64_t i = 0; i < n; ++i) d[i] = *--s;
                top_ -= static_cast<int>(n);
                stored += n;
                continue;
            }
            const int code = ReadCodeBits(codeSize_);
            if (code < 0) return stored;
            if (code != clearCode_ && code != endCode_ && chainsDescend_) {
                const int length = code < nextCode_ ? length_[code] : length_[oldCode_] + 1;
                if (length <= count - stored) {
                    WriteString(code, dst + stored, length);
                    stored += length;
                    continue;
                }
            }
            const int value = DecodeCode(code);
            if (value < 0) return stored;
            dst[stored++] = static_cast<uint8_t>(value);
        }
        return stored;
    }

    int NextDecodedPixel() { return top_ > 0 ? stack_[--top_] : DecodeNextCode(); }

private:
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
    // Positions 0 and 1 carry the previous sub-block's last two bytes; one spare byte at the end
    // lets a code always be assembled from three bytes.
    uint8_t buffer_[258 + 1];
    int bitPos_ = 0;
    int lastBit_ = 0;
    int lastByteCount_ = 2;
    bool firstCall_ = true;
    bool done_ = false;
    bool zeroBlock_ = false;
};


} // namespace

void TGIFSubImage::DecodePixels(TStream& stream) {
    AllocPixels();
    uint8_t fill = 0;
    if (Transparent && GraphicControlExtension) fill = GraphicControlExtension->TransparentIndex();
    // The new buffer is already zeroed.
    if (fill != 0 && PixelsSize > 0) std::memset(Pixels, fill, PixelsSize);
    uint8_t minCodeSize = 0;
    if (!ReadByte(stream, minCodeSize)) return;

    LZWDecoder decoder(*this, stream, minCodeSize);
    const int width = Width();
    const int height = Height();
    if (!IsInterlaced()) {
        if (decoder.Fill(Pixels, PixelsSize) < PixelsSize) return;
    } else if (PixelsSize > 0) {
        // Rows in the order of the four passes: start rows 0, 4, 2, 1 with steps 8, 8, 4, 2.
        int pass = 0;
        int step = 8;
        int row = 0;
        for (int n = 0; n < height; ++n) {
            if (decoder.Fill(Pixels + static_cast<int64_t>(row) * width, width) < width) return;
            row += step;
            while (row >= height) {
                if (pass > 0) step /= 2;
                ++pass;
                row = step / 2;
            }
        }
    }
    // In a well-formed stream this reads the end code, which skips to the terminator.
    decoder.NextDecodedPixel();
}
