// Plain reference writers of GIF image data for the saving tests, written from the rules of the
// format as this library writes it.
// - LZW: a leading clear, a new string entry after every emitted prefix, a clear instead of the
//   entry once the next free code reaches 4095, code widths that grow after the code that used
//   up the current width. The string table is a plain map: the codes do not depend on how it is
//   stored.
// - Run-length: plain pixel codes, runs written as growing repeats after a clear or as repeats
//   of the longest run the decoder already holds, clears forced on a countdown, code widths
//   that follow the decoder's.
// Both pack codes least significant bit first into sub-blocks of 255 bytes and a terminator.
#pragma once
#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

namespace model {

// Rows in the order a frame codes them: top to bottom, or the four interlace passes.
inline std::vector<int> CodingRows(int height, bool interlaced) {
    std::vector<int> rows;
    if (!interlaced) {
        for (int y = 0; y < height; ++y) rows.push_back(y);
        return rows;
    }
    const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass]) rows.push_back(y);
    return rows;
}

class CodeWriter {
public:
    explicit CodeWriter(int bitsPerPixel)
        : bits_(bitsPerPixel < 2 ? 2 : bitsPerPixel)
        , clear_(1 << bits_)
        , initialWidth_(bits_ + 1)
        , width_(initialWidth_) {}
    virtual ~CodeWriter() = default;

    // Minimum code size, sub-blocks and terminator of the pixels (rows of width bytes).
    std::vector<uint8_t> ImageData(int width, int height, bool interlaced, const uint8_t* pixels) {
        if (pixels && width > 0 && height > 0) {
            std::vector<uint8_t> order;
            for (int y : CodingRows(height, interlaced))
                order.insert(order.end(), pixels + y * width, pixels + (y + 1) * width);
            Encode(order);
        }
        Pack(clear_ + 1);
        while (bitCount_ > 0) FlushByte();
        std::vector<uint8_t> out = {static_cast<uint8_t>(bits_)};
        for (size_t at = 0; at < bytes_.size(); at += 255) {
            const size_t n = std::min<size_t>(255, bytes_.size() - at);
            out.push_back(static_cast<uint8_t>(n));
            out.insert(out.end(), bytes_.begin() + at, bytes_.begin() + at + n);
        }
        out.push_back(0);
        return out;
    }

    std::vector<int> Codes() const { return codes_; }

protected:
    virtual void Encode(const std::vector<uint8_t>& order) = 0;

    // The code at the width in force.
    void Pack(int code) {
        codes_.push_back(code);
        bucket_ |= static_cast<uint64_t>(code) << bitCount_;
        bitCount_ += width_;
        while (bitCount_ >= 8) FlushByte();
    }

    int bits_, clear_, initialWidth_, width_;

private:
    void FlushByte() {
        bytes_.push_back(static_cast<uint8_t>(bucket_ & 0xFF));
        bucket_ >>= 8;
        bitCount_ = bitCount_ > 8 ? bitCount_ - 8 : 0;
    }

    uint64_t bucket_ = 0;
    int bitCount_ = 0;
    std::vector<int> codes_;
    std::vector<uint8_t> bytes_;
};

class LZWWriter : public CodeWriter {
public:
    using CodeWriter::CodeWriter;

private:
    void Encode(const std::vector<uint8_t>& order) override {
        EmitClear();
        int prefix = order[0];
        for (size_t i = 1; i < order.size(); ++i) {
            const int c = order[i];
            const auto found = table_.find({prefix, c});
            if (found != table_.end()) {
                prefix = found->second;
                continue;
            }
            Emit(prefix);
            const int previous = prefix;
            prefix = c;
            if (next_ >= 4095) {
                EmitClear();
            } else {
                table_[{previous, c}] = next_++;
            }
        }
        Emit(prefix);
    }

    void EmitClear() {
        Pack(clear_);
        width_ = initialWidth_;
        table_.clear();
        next_ = clear_ + 2;
    }

    // Widens for the next code once the next free code no longer fits.
    void Emit(int code) {
        Pack(code);
        if (next_ > (1 << width_) - 1 && width_ < 12) ++width_;
    }

    int next_ = 0;
    std::map<std::pair<int, int>, int> table_;
};

class RunLengthWriter : public CodeWriter {
public:
    using CodeWriter::CodeWriter;

private:
    void Encode(const std::vector<uint8_t>& order) override {
        firstFree_ = clear_ + 2;
        runCodeLimit_ = 4095 - firstFree_;
        clearInterval_ = bits_ <= 3 ? 9 : clear_ - 2;
        EmitClear();
        int length = 0;
        for (const uint8_t p : order) {
            if (length > 0 && p != runPixel_) {
                FlushRun(length);
                length = 0;
            }
            if (p == runPixel_) {
                ++length;
            } else {
                runPixel_ = p;
                length = 1;
            }
        }
        FlushRun(length);
    }

    void EmitClear() {
        nextWidening_ = clear_ - 1;
        clearLimit_ = clearInterval_;
        sinceClear_ = 0;
        tableRun_ = 0;
        afterClear_ = true;
        Pack(clear_);
        width_ = initialWidth_;
    }

    // Every code but a clear: counted, widening with the decoder, clearing on the countdown.
    void Emit(int code) {
        afterClear_ = false;
        Pack(code);
        ++sinceClear_;
        if (sinceClear_ == nextWidening_) {
            ++width_;
            nextWidening_ += 1 << (width_ - 1);
        }
        if (sinceClear_ >= clearLimit_) EmitClear();
    }

    // The code of a run of n pixels of the run pixel, once the decoder holds it.
    int RunCode(int n) const { return n == 1 ? runPixel_ : firstFree_ + n - 2; }

    static int64_t Sqrt(int64_t a) {
        if (a < 2) return a;
        int64_t r = 1;
        for (int64_t v = a; v > 0; v /= 4) r *= 2;
        for (;;) {
            const int64_t b = (r + a / r) / 2;
            if (b == r || b == r + 1) return r;
            r = b;
        }
    }

    // Codes for n pixels written as growing repeats, at most m codes between two clears.
    static int64_t Triangle(int64_t n, int64_t m) {
        const int64_t full = m * (m + 1) / 2;
        int64_t codes = 0;
        while (n >= full) n -= full, codes += m;
        if (n > 0) {
            int64_t b = Sqrt(n);
            while (b * (b + 1) >= 2 * n) --b;
            while (b * (b + 1) < 2 * n) ++b;
            codes += b;
        }
        return codes;
    }

    void CountdownToClear() {
        clearLimit_ = clearInterval_;
        if (sinceClear_ >= clearLimit_) EmitClear();
    }

    void GrowingRuns(int n) {
        clearLimit_ = runCodeLimit_;
        tablePixel_ = runPixel_;
        for (int k = 1; n > 0;) {
            if (k == 1) {
                tableRun_ = 1;
                Emit(runPixel_);
                n -= 1;
            } else if (k <= n) {
                tableRun_ = k;
                Emit(firstFree_ + k - 2);
                n -= k;
            } else {
                ++tableRun_;
                Emit(RunCode(n));
                break;
            }
            k = sinceClear_ == 0 ? 1 : k + 1;
        }
        CountdownToClear();
    }

    void PlainOrGrowing(int n) {
        if (Triangle(n, runCodeLimit_) + 1 < n) {
            EmitClear();
            GrowingRuns(n);
            return;
        }
        for (int i = 0; i < n; ++i) Emit(runPixel_);
    }

    void KnownRuns(int n) {
        const int m = tableRun_;
        int64_t q = n / m, r = n % m, extra = r > 0 ? 1 : 0;
        if (sinceClear_ + q + extra > runCodeLimit_) {
            q = runCodeLimit_ - sinceClear_;
            r = n - m * q;
            extra = Triangle(r, runCodeLimit_) + 1;
        }
        if (Triangle(n, runCodeLimit_) + 1 < q + extra) {
            EmitClear();
            GrowingRuns(n);
            return;
        }
        clearLimit_ = runCodeLimit_;
        for (int64_t i = 0; i < q; ++i) Emit(firstFree_ + m - 2);
        if (r > 0) {
            if (afterClear_) {
                GrowingRuns(static_cast<int>(r));
            } else {
                Emit(RunCode(static_cast<int>(r)));
            }
        }
        CountdownToClear();
    }

    void FlushRun(int n) {
        if (n == 1) {
            Emit(runPixel_);
        } else if (afterClear_) {
            GrowingRuns(n);
        } else if (tableRun_ >= 2 && tablePixel_ == runPixel_) {
            KnownRuns(n);
        } else {
            PlainOrGrowing(n);
        }
    }

    int firstFree_ = 0, runCodeLimit_ = 0, clearInterval_ = 0;
    int runPixel_ = -1, tableRun_ = 0, tablePixel_ = -1;
    int sinceClear_ = 0, clearLimit_ = 0, nextWidening_ = 0;
    bool afterClear_ = false;
};

}  // namespace model
