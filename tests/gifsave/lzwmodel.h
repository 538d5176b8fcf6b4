// A plain reference LZW writer for the saving tests, written from the rules of the format as
// this library writes it: a leading clear, a new string entry after every emitted prefix, a
// clear instead of the entry once the next free code reaches 4095, code widths that grow after
// the code that used up the current width, least significant bit first, sub-blocks of 255 bytes
// and the terminator. The string table is a plain map: the codes do not depend on how it is
// stored.
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

class LZWWriter {
public:
    explicit LZWWriter(int bitsPerPixel)
        : bits_(bitsPerPixel < 2 ? 2 : bitsPerPixel), clear_(1 << bits_), initialWidth_(bits_ + 1),
          width_(initialWidth_) {}

    // Minimum code size, sub-blocks and terminator of the pixels (rows of width bytes).
    std::vector<uint8_t> ImageData(int width, int height, bool interlaced, const uint8_t* pixels) {
        if (pixels && width > 0 && height > 0) {
            std::vector<uint8_t> order;
            for (int y : CodingRows(height, interlaced)) order.insert(order.end(), pixels + y * width, pixels + (y + 1) * width);
            Encode(order);
        }
        Emit(clear_ + 1);
        while (bitCount_ > 0) Flush();
        std::vector<uint8_t> out = {static_cast<uint8_t>(bits_)};
        for (size_t at = 0; at < bytes_.size(); at += 255) {
            const size_t n = std::min<size_t>(255, bytes_.size() - at);
            out.push_back(static_cast<uint8_t>(n));
            out.insert(out.end(), bytes_.begin() + at, bytes_.begin() + at + n);
        }
        out.push_back(0);
        return out;
    }

private:
    void Encode(const std::vector<uint8_t>& order) {
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
        resetWidth_ = true;
        Emit(clear_);
        table_.clear();
        next_ = clear_ + 2;
    }

    // Packs the code at the width in force, then widens (or, after a clear, narrows) for the
    // next one.
    void Emit(int code) {
        bucket_ |= static_cast<uint64_t>(code) << bitCount_;
        bitCount_ += width_;
        while (bitCount_ >= 8) Flush();
        if (resetWidth_) {
            resetWidth_ = false;
            width_ = initialWidth_;
        } else if (next_ > (1 << width_) - 1 && width_ < 12) {
            ++width_;
        }
    }

    void Flush() {
        bytes_.push_back(static_cast<uint8_t>(bucket_ & 0xFF));
        bucket_ >>= 8;
        bitCount_ = bitCount_ > 8 ? bitCount_ - 8 : 0;
    }

    int bits_, clear_, initialWidth_, width_;
    int next_ = 0;
    bool resetWidth_ = false;
    uint64_t bucket_ = 0;
    int bitCount_ = 0;
    std::map<std::pair<int, int>, int> table_;
    std::vector<uint8_t> bytes_;
};

}  // namespace model
