// Variable-length-code LZW decoding of a frame's image data, straight from the source stream.
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "gifimage/extensions.h"
#include "gifimage/gifio.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"

namespace {

constexpr int kTableSize = 4096;
constexpr int kNoMoreBits = -1;

// What a code stands for, decided once per code. A code below the clear code is a character; a
// known entry writes its string; the next entry (the one about to be defined) and any code beyond
// it write the previous string followed by that string's first character. Only the next entry
// keeps the table's strings where they were written.
enum class CodeKind { Root, Known, Next, Beyond, Clear, End };

inline __attribute__((always_inline)) CodeKind Classify(int code, int clearCode, int nextCode) {
    if (static_cast<unsigned>(code - clearCode) < 2) return code == clearCode ? CodeKind::Clear : CodeKind::End;
    if (code < nextCode) return code < clearCode ? CodeKind::Root : CodeKind::Known;
    return code == nextCode ? CodeKind::Next : CodeKind::Beyond;
}

// Every character's string (spare bytes at the end let a string be read in whole pieces), and
// the table's places and lengths of the characters, copied in at the start of every frame.
constexpr std::array<uint8_t, 256 + 8> kCharacters = [] {
    std::array<uint8_t, 256 + 8> characters{};
    for (int i = 0; i < 256; ++i) characters[i] = static_cast<uint8_t>(i);
    return characters;
}();

constexpr std::array<const uint8_t*, 256> kCharacterPlaces = [] {
    std::array<const uint8_t*, 256> places{};
    for (int i = 0; i < 256; ++i) places[i] = kCharacters.data() + i;
    return places;
}();

constexpr std::array<uint16_t, 256> kCharacterLengths = [] {
    std::array<uint16_t, 256> lengths{};
    lengths.fill(1);
    return lengths;
}();

// The state one decoding step changes, kept in registers by the copying loop.
struct Cursor {
    int bitPos = 0;   // next bit of buffer_ to read
    int lastBit = 0;  // end of the valid bits
    int codeSize = 0;
    int codeLimit = 0;
    int nextCode = 0;
    int oldCode = 0;     // the code before this one
    int lastLength = 1;  // characters of the string it wrote
};

// The state of one DecodePixels call. Tables hold only what reaches the pixels: the low byte of
// each character, which is all that a pixel keeps.
class LZWDecoder {
public:
    LZWDecoder(TGIFSubImage& frame, TStream& stream, int minCodeSize)
        : frame_(frame)
        , stream_(stream)
        , streamSize_(stream.Size()) {
        minCodeSize_ = std::min(minCodeSize, 8);
        clearCode_ = 1 << minCodeSize_;
        EmptyTable();
        std::memset(buffer_, 0, sizeof buffer_);
        std::memcpy(where_, kCharacterPlaces.data(), clearCode_ * sizeof where_[0]);
        std::memcpy(length_, kCharacterLengths.data(), clearCode_ * sizeof length_[0]);
        // The chunk loop takes the clear and end codes for long strings, which it leaves.
        for (int i = clearCode_; i < clearCode_ + 2; ++i) {
            where_[i] = kCharacters.data();
            length_[i] = kTableSize;
        }
    }

    // Stores decoded pixels into dst until count are stored or the data ends; stored tells how
    // many, after an error too. Pixels past them may have been written over.
    void Fill(uint8_t* __restrict dst, int64_t count, int64_t& stored) {
        failedAt_ = dst;
        try {
            stored = FillRange(dst, dst + count) - dst;
        } catch (...) {
            stored = failedAt_ - dst;
            throw;
        }
    }

    // After the last pixel, the code that follows is decoded like any other (in a well-formed
    // stream the end code, which skips to the terminator), unless the last string ran past the
    // pixels: then nothing more is read.
    void DecodeCodeAfterLastPixel() {
        if (overflowed_) return;
        const int code = ReadCode();
        if (code < 0) return;
        uint8_t spare = 0;
        DecodeCode(code, &spare, &spare + 1);
    }

private:
    // Strings are copied in pieces of this many bytes; a copy may run up to kSpill bytes past
    // its string (into pixels not decoded yet).
    static constexpr int kPiece = 8;
    static constexpr int kSpill = kPiece - 1;

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
            CopyPieces(dst, src, len);
        } else {
            for (int i = 0; i < len; ++i) dst[i] = src[i];
        }
    }

    // len bytes (at least one) in 8-byte pieces, up to kSpill bytes past dst + len.
    static inline __attribute__((always_inline)) void CopyPieces(uint8_t* dst, const uint8_t* src, int len) {
        if (len > kLongString) {
            for (int i = 0; i < len; i += kPiece) CopyPieceInHalves(dst + i, src + i);
            return;
        }
        int i = 0;
        do {
            CopyPiece(dst + i, src + i);
            i += kPiece;
        } while (i < len);
    }

    // Strings longer than this many bytes are copied in pieces of two 4-byte moves, which follow
    // each other faster than the x87 unit's stores.
    static constexpr int kLongString = 32;

    static inline __attribute__((always_inline)) void CopyPieceInHalves(uint8_t* dst, const uint8_t* src) {
        uint32_t low, high;
        std::memcpy(&low, src, 4);
        std::memcpy(&high, src + 4, 4);
        std::memcpy(dst, &low, 4);
        std::memcpy(dst + 4, &high, 4);
    }

    // One piece, in one load and one store: without SSE2 a 32-bit build has no 8-byte integer
    // move but the x87 unit's, which loads any 64-bit integer exactly and stores it back
    // unchanged, whatever the precision and rounding settings.
    static inline __attribute__((always_inline)) void CopyPiece(uint8_t* dst, const uint8_t* src) {
#if defined(__i386__) && !defined(__SSE2__)
        asm("fildll %1\n\tfistpll %0"
            : "=m"(*reinterpret_cast<uint8_t(*)[kPiece]>(dst))
            : "m"(*reinterpret_cast<const uint8_t(*)[kPiece]>(src))
            : "st(7)");
#else
        uint64_t piece;
        std::memcpy(&piece, src, kPiece);
        std::memcpy(dst, &piece, kPiece);
#endif
    }

    // While the table's strings lie where they were written, codes are taken by the copying loop;
    // whatever it leaves is decoded one code at a time by walking the table.
    uint8_t* FillRange(uint8_t* dst, uint8_t* const end) {
        while (dst < end) {
            failedAt_ = dst;
            int code;
            if (inPlace_) {
                dst = CopyStrings(dst, end, code);
                if (dst == end) break;
                failedAt_ = dst;
            } else {
                code = ReadCode();
            }
            if (code < 0) return dst;
            dst = DecodeCode(code, dst, end);
            if (!dst) return failedAt_;
        }
        return dst;
    }

    // One code, whatever it is: the string is found by walking the table, so it need not lie in
    // the pixels. Returns the end of what it wrote; null at the end code or when the bits ran out.
    uint8_t* DecodeCode(int code, uint8_t* dst, uint8_t* const end) {
        const CodeKind kind = Classify(code, clearCode_, at_.nextCode);
        if (kind == CodeKind::Clear) return ClearTable(dst);
        if (kind == CodeKind::End) {
            if (!zeroBlock_) SkipSubBlocks();
            return nullptr;
        }
        // From here to the next clear, strings are found in the table only.
        inPlace_ = false;
        const bool next = kind == CodeKind::Next || kind == CodeKind::Beyond;
        const int length = WalkString(next ? at_.oldCode : code, next, dst, end);
        AddWalkedEntry(at_, code, length, firstChar_);
        return dst + std::min<int64_t>(length, end - dst);
    }

    // Takes codes while every string is a copy of one already written: an entry's string lies
    // where it was last written (a character's in kCharacters), and the next entry's is the
    // previous string plus its first character. Leaves at the first code it does not take (in
    // pending, or -1 when the bits ran out) or when the pixels are full. The codes of a sub-block
    // that share a width go through the chunk loops while the pixels have room for them; the rest
    // one at a time.
    uint8_t* CopyStrings(uint8_t* dst, uint8_t* const end, int& pending) {
        uint8_t* const start = dst;
        int code = -1;
        while (dst != end) {
            const int count = std::min(CodesOfOneWidth(), CodesWithRoom(dst, end));
            if (count > 0 && TakeChunk(dst, end, count)) continue;
            failedAt_ = dst;
            code = ReadCode();
            if (code < 0 || !TakeOneString(code, dst, end)) break;
            code = -1;
        }
        if (dst != start) firstChar_ = *(dst - at_.lastLength);
        pending = code;
        return dst;
    }

    // How many codes from the bit position on end before the last valid bit (the codes ReadCode
    // takes without a refill) and are read at the present width.
    int CodesOfOneWidth() const {
        const int bits = at_.lastBit - at_.bitPos - 1;
        if (bits < at_.codeSize) return 0;
        const int count = bits / at_.codeSize;
        if (at_.nextCode >= kTableSize) return std::min(count, kTableSize);
        // The width grows after the code that brings nextCode to the limit (the first code does
        // when the limit is behind, as with the smallest minimum code sizes).
        return std::min(count, std::max(at_.codeLimit - at_.nextCode, 1));
    }

    // How many strings of at most one piece fit from dst on, each with the spill of its piece.
    static int CodesWithRoom(const uint8_t* dst, const uint8_t* end) {
        const ptrdiff_t room = end - dst;
        if (room < kPiece) return 0;
        return static_cast<int>(std::min<ptrdiff_t>((room - kPiece) / kPiece + 1, kTableSize));
    }

    // Takes the count codes that follow, or those before the first one it leaves (answering
    // false): the bits then stand at that code. The pixels from dst on have room for count strings
    // of one piece. The chunk loops copy those strings; the longer ones, and the next entry's, are
    // copied between their runs.
    bool TakeChunk(uint8_t*& dst, uint8_t* const end, int count) {
        const int width = at_.codeSize;
        const bool growing = at_.nextCode < kTableSize;
        // While the table grows, codes_[n] holds the code read when n is the next entry.
        const int first = growing ? at_.nextCode : 0;
        UnpackCodes(codes_ + first, count, width);
        if (growing) {
            // Each entry's string starts where the string before it does, one character longer.
            where_[first] = dst - at_.lastLength;
            length_[first] = static_cast<uint16_t>(at_.lastLength + 1);
        }
        int last = first + count;
        int n = first;
        for (;;) {
            // The room beyond a piece for each code, which longer strings take up.
            const int slack = static_cast<int>(std::min<ptrdiff_t>(end - dst - (last - n) * kPiece, INT_MAX));
            n = growing ? CopyGrowingChunk(dst, n, last, slack) : CopyFullChunk(dst, n, last, slack);
            if (n == last) break;
            const int room = CopyLeftString(dst, end, n, growing);
            if (room < 0) break;
            ++n;
            last = std::min(last, n + room);
        }
        const int taken = n - first;
        at_.bitPos += taken * width;
        if (taken == 0) return false;
        at_.oldCode = codes_[n - 1];
        if (growing) {
            at_.lastLength = static_cast<int>(dst - where_[n]);
            at_.nextCode = n;
            if (at_.nextCode >= at_.codeLimit && at_.codeLimit < kTableSize) {
                at_.codeLimit *= 2;
                ++at_.codeSize;
            }
        } else {
            at_.lastLength = length_[at_.oldCode];
        }
        return n == first + count;
    }

    // Reads count codes of the given width from the bit position on (which stays) into out.
    void UnpackCodes(uint16_t* out, int count, int width) const {
        static constexpr UnpackFunction kUnpackers[] = {nullptr,          UnpackWidth<1>,  UnpackWidth<2>,
                                                        UnpackWidth<3>,   UnpackWidth<4>,  UnpackWidth<5>,
                                                        UnpackWidth<6>,   UnpackWidth<7>,  UnpackWidth<8>,
                                                        UnpackWidth<9>,   UnpackWidth<10>, UnpackWidth<11>,
                                                        UnpackWidth<12>};
        kUnpackers[width](buffer_, static_cast<uint32_t>(at_.bitPos), out, count);
    }

    using UnpackFunction = void (*)(const uint8_t*, uint32_t, uint16_t*, int);

    // Codes of one width, as many from each 4-byte load as it holds whatever the bit position
    // within its first byte.
    template <int width>
    static void UnpackWidth(const uint8_t* buffer, uint32_t bit, uint16_t* __restrict out, int count) {
        constexpr int kPerLoad = std::min(4, (32 - 7) / width);
        constexpr uint32_t kMask = (1u << width) - 1;
        int k = 0;
        for (; k + kPerLoad <= count; k += kPerLoad) {
            const uint32_t bits = Load32(buffer + (bit >> 3)) >> (bit & 7);
#pragma GCC unroll 4
            for (int j = 0; j < kPerLoad; ++j) out[k + j] = static_cast<uint16_t>((bits >> (j * width)) & kMask);
            bit += kPerLoad * width;
        }
        for (; k < count; ++k) {
            out[k] = static_cast<uint16_t>((Load32(buffer + (bit >> 3)) >> (bit & 7)) & kMask);
            bit += width;
        }
    }

    // The strings of codes_[n] up to codes_[last - 1] while the table grows, with entry n defined
    // by each and the next entry's place and length set ahead, up to a code beyond the next entry,
    // the clear or end code, or a string longer than slack (the room beyond a piece for each code)
    // holds. Answers where it stopped.
    __attribute__((noinline)) int CopyGrowingChunk(uint8_t*& dstIo, int n, const int last, int slack) {
        uint8_t* dst = dstIo;
        for (; n != last; ++n) {
            const int code = codes_[n];
            if (code > n) break;
            CopyPiece(dst, where_[code]);
            const int length = length_[code];
            if (__builtin_expect(length > kPiece || code == n, 0) && !CopyStringRest(dst, length, n, true, slack))
                break;
            where_[n + 1] = dst;
            length_[n + 1] = static_cast<uint16_t>(length + 1);
            dst += length;
        }
        dstIo = dst;
        return n;
    }

    // The strings of codes_[k] up to codes_[last - 1] while the table is full (every code is a
    // root or an entry written in the pixels), up to the clear or end code or a string longer than
    // slack holds. Answers where it stopped.
    __attribute__((noinline)) int CopyFullChunk(uint8_t*& dstIo, int k, const int last, int slack) {
        uint8_t* dst = dstIo;
        for (; k != last; ++k) {
            const int code = codes_[k];
            CopyPiece(dst, where_[code]);
            const int length = length_[code];
            if (__builtin_expect(length > kPiece, 0) && !CopyStringRest(dst, length, k, false, slack)) break;
            dst += length;
        }
        dstIo = dst;
        return k;
    }

    // The rest of the string of codes_[index] after its first piece: the pieces of a string longer
    // than one, when it is a real string (the clear and end codes pass as long ones) and slack
    // holds them; while the table grows, the last character of the next entry's string (the
    // previous string, which ends at dst, and its first character), which its first piece could
    // not read yet.
    inline __attribute__((always_inline)) bool CopyStringRest(uint8_t* dst, int length, int index, bool growing,
                                                               int& slack) const {
        // The code and its place are read again here: kept from the first piece, they would hold
        // registers (or stack slots written for every code) in the loops.
        const int code = codes_[index];
        if (length > kPiece) {
            slack -= length - kPiece;
            if (slack < kSpill || static_cast<unsigned>(code - clearCode_) < 2) return false;
            const uint8_t* const src = where_[code];
            for (int i = kPiece; i < length; i += kPiece) CopyPieceInHalves(dst + i, src + i);
        }
        if (growing && code == index) dst[length - 1] = *dst;
        return true;
    }

    // The string of codes_[n] where a chunk loop stopped, when it fits with its spill: a string
    // longer than a piece, or the next entry's (the previous string, which ends at dst, and its
    // first character, set ahead as entry n). Leaves the clear and end codes, which pass as long
    // strings, and codes beyond the next entry. Answers how many strings of one piece fit after
    // it, or -1 when it is not taken.
    __attribute__((noinline)) int CopyLeftString(uint8_t*& dst, const uint8_t* end, int n, bool growing) {
        const int code = codes_[n];
        if (growing && code > n) return -1;
        if (static_cast<unsigned>(code - clearCode_) < 2) return -1;
        const int length = length_[code];
        if (end - dst < length + kSpill) return -1;
        if (growing && code == n) {
            CopyPieces(dst, where_[n], length - 1);
            dst[length - 1] = *dst;
        } else {
            CopyPieces(dst, where_[code], length);
        }
        if (growing) {
            where_[n + 1] = dst;
            length_[n + 1] = static_cast<uint16_t>(length + 1);
        }
        dst += length;
        return CodesWithRoom(dst, end);
    }

    // One code by the rules of the chunk loop but with exact room checks: false when it is not
    // taken.
    bool TakeOneString(int code, uint8_t*& dst, uint8_t* const end) {
        const CodeKind kind = Classify(code, clearCode_, at_.nextCode);
        int length;
        if (kind == CodeKind::Root || kind == CodeKind::Known) {
            length = length_[code];
            if (length > end - dst) return false;
            CopyString(dst, where_[code], length, end);
        } else if (kind == CodeKind::Next) {
            // The previous string, which ends at dst, and its first character.
            length = at_.lastLength + 1;
            if (length > end - dst) return false;
            CopyString(dst, dst - at_.lastLength, at_.lastLength, end);
            dst[at_.lastLength] = *dst;
        } else {
            return false;
        }
        AddCopiedEntry(at_, code, length, dst - at_.lastLength);
        dst += length;
        return true;
    }

    // Entry nextCode := the previous string + the first character of this one, whose copy starts
    // at previous in the pixels; the table walk reads it from there.
    inline __attribute__((always_inline)) void AddCopiedEntry(Cursor& s, int code, int length,
                                                              const uint8_t* previous) {
        if (s.nextCode < kTableSize) where_[s.nextCode] = previous;
        AddEntry(s, code, length);
    }

    // Entry nextCode := the previous string + first, known by the previous code and first only.
    void AddWalkedEntry(Cursor& s, int code, int length, uint8_t first) {
        if (s.nextCode < kTableSize) {
            prefix_[s.nextCode] = static_cast<uint16_t>(s.oldCode);
            suffix_[s.nextCode] = first;
            where_[s.nextCode] = nullptr;
        }
        AddEntry(s, code, length);
    }

    // The new entry's length; the code widens at the limit. Then code, with its length
    // characters, becomes the previous string.
    inline __attribute__((always_inline)) void AddEntry(Cursor& s, int code, int length) {
        if (s.nextCode < kTableSize) {
            length_[s.nextCode] = static_cast<uint16_t>(s.lastLength + 1);
            ++s.nextCode;
            if (s.nextCode >= s.codeLimit && s.codeLimit < kTableSize) {
                s.codeLimit *= 2;
                ++s.codeSize;
            }
        }
        s.oldCode = code;
        s.lastLength = length;
    }

    // An entry holds a string from its definition after the last clear on; the others (the
    // clear and end codes among them) read as the string of two zero characters.
    bool Defined(int code) const { return code >= clearCode_ + 2 && code < at_.nextCode; }

    // Writes the string of entry (followed by the previous string's first character when
    // repeatFirst) as far as the pixels reach, by walking the table from its last character to its
    // first; answers its whole length. A chain that never reaches a character is an error.
    int WalkString(int entry, bool repeatFirst, uint8_t* dst, const uint8_t* end) {
        int top = 0;
        if (repeatFirst) stack_[top++] = firstChar_;
        int c = entry;
        while (c >= clearCode_) {
            // A chain longer than the table can hold loops over several entries.
            if (top >= kTableSize) RaiseGIFError(sCircularTable);
            if (!Defined(c)) {
                stack_[top++] = 0;
                c = 0;
                continue;
            }
            if (const uint8_t* copy = where_[c]) {
                // The rest of the string lies in the pixels: its characters go onto the stack as
                // the walk of its entries would put them (and would find the chain too long).
                if (top + length_[c] - 2 >= kTableSize) RaiseGIFError(sCircularTable);
                for (int i = length_[c] - 1; i > 0; --i) stack_[top++] = copy[i];
                c = copy[0];
                break;
            }
            stack_[top++] = suffix_[c];
            if (prefix_[c] == c) RaiseGIFError(sCircularTable);
            c = prefix_[c];
        }
        firstChar_ = static_cast<uint8_t>(c);
        stack_[top++] = firstChar_;
        const int n = static_cast<int>(std::min<int64_t>(top, end - dst));
        for (int i = 0; i < n; ++i) dst[i] = stack_[top - 1 - i];
        if (n < top) overflowed_ = true;
        return top;
    }

    void EmptyTable() {
        at_.codeSize = minCodeSize_ + 1;
        at_.codeLimit = 2 * clearCode_;
        at_.nextCode = clearCode_ + 2;
    }

    // Empties the table. The first code after it (and after any further clears) is written as a
    // character, whatever it is; only a real character keeps the strings in the pixels.
    uint8_t* ClearTable(uint8_t* dst) {
        EmptyTable();
        int code;
        do {
            code = ReadCode();
        } while (code == clearCode_);
        if (code < 0) return nullptr;
        *dst = static_cast<uint8_t>(code);
        firstChar_ = static_cast<uint8_t>(code);
        at_.oldCode = code;
        at_.lastLength = 1;
        inPlace_ = code < clearCode_;
        return dst + 1;
    }

    // The next code, or -1 when no more bits can be had.
    inline __attribute__((always_inline)) int ReadCode() {
        // A code that ends before the last valid bit needs no refill (nor is the first call).
        if (at_.bitPos + at_.codeSize < at_.lastBit) return TakeCode(at_.codeSize);
        return ReadCodeAtBoundary(at_.codeSize);
    }

    inline __attribute__((always_inline)) int TakeCode(int codeSize) {
        const int start = at_.bitPos >> 3;
        const uint32_t raw = buffer_[start] | (buffer_[start + 1] << 8) | (buffer_[start + 2] << 16);
        const int code = static_cast<int>((raw >> (at_.bitPos & 7)) & ((1u << codeSize) - 1));
        at_.bitPos += codeSize;
        return code;
    }

    // The first code (a clear, whether the stream has one or not) and codes that need the next
    // sub-block.
    __attribute__((noinline)) int ReadCodeAtBoundary(int codeSize) {
        if (firstCall_) {
            firstCall_ = false;
            return clearCode_;
        }
        if (at_.bitPos + codeSize >= at_.lastBit) {
            if (done_) {
                if (at_.bitPos >= at_.lastBit) frame_.ReportWarning(1, sBitBufferUnderrun);
                return kNoMoreBits;
            }
            // A sub-block shorter than a code leaves the code unfinished: take the next one too.
            do {
                if (!Refill()) return kNoMoreBits;
            } while (!done_ && at_.bitPos + codeSize > at_.lastBit);
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
        at_.bitPos = at_.bitPos - at_.lastBit + 16;
        at_.lastBit = (length + 2) * 8;
        return true;
    }

    // Skips the rest of the data sub-blocks through the terminator.
    void SkipSubBlocks() {
        uint8_t length = 0;
        while (ReadByte(stream_, length) && length != 0) stream_.Seek(length, soCurrent);
    }

    TGIFSubImage& frame_;
    TStream& stream_;
    const int64_t streamSize_;
    int minCodeSize_ = 0;
    int clearCode_ = 0;
    Cursor at_;
    uint8_t firstChar_ = 0;  // first character of the previous string
    // Entries from clearCode_ + 2 up to at_.nextCode; characters have only length_ and where_.
    // prefix_ and suffix_ hold only the entries whose strings do not lie in the pixels.
    uint16_t prefix_[kTableSize];
    uint8_t suffix_[kTableSize];
    // The chunk loop sets the next entry's place and length ahead, at kTableSize too.
    uint16_t length_[kTableSize + 1];
    // Where each entry's string lies in the pixels (characters point into kCharacters); null for
    // the entries known by prefix_ and suffix_.
    const uint8_t* where_[kTableSize + 1];
    bool inPlace_ = false;
    // The codes of one chunk (see TakeChunk).
    uint16_t codes_[kTableSize];
    uint8_t stack_[kTableSize + 2];
    bool overflowed_ = false;  // the last string ran past the last pixel
    // Positions 0 and 1 carry the previous sub-block's last two bytes; spare bytes at the end
    // let a code always be assembled from four.
    uint8_t buffer_[258 + 4];
    int lastByteCount_ = 2;
    bool firstCall_ = true;
    bool done_ = false;
    bool zeroBlock_ = false;
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

// The pixel buffer starts unset: each pixel is written once, decoded or, past the last one decoded
// (whatever ended the decoding), given the fill value.
void TGIFSubImage::DecodePixels(TStream& stream) {
    AllocPixels(false);
    uint8_t fill = 0;
    if (transparent_ && graphicControlExtension_) fill = graphicControlExtension_->TransparentIndex();
    // An interlaced frame is decoded as its rows come, then the rows are put in their places.
    const bool interlaced = IsInterlaced() && pixelsSize_ > 0;
    int64_t stored = 0;
    bool finished = false;
    auto finishPixels = [&] {
        finished = true;
        if (pixelsSize_ > stored) std::memset(pixels_ + stored, fill, static_cast<size_t>(pixelsSize_ - stored));
        if (interlaced) DeinterlaceRows(pixels_, Width(), Height());
    };
    try {
        uint8_t minCodeSize = 0;
        if (ReadByte(stream, minCodeSize)) {
            LZWDecoder decoder(*this, stream, minCodeSize);
            decoder.Fill(pixels_, pixelsSize_, stored);
            finishPixels();
            if (stored == pixelsSize_) decoder.DecodeCodeAfterLastPixel();
            return;
        }
    } catch (...) {
        if (!finished) finishPixels();
        throw;
    }
    finishPixels();
}
