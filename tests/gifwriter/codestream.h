// A reference reader of GIF image data for the writer's tests: checks the sub-block framing,
// reads the codes with the decoder's width rules and expands them into pixels.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct CodeStream {
    int minCodeSize = 0;
    std::vector<int> blockLengths;
    bool terminated = false;  // a zero block closed the data
    size_t consumed = 0;      // bytes from the minimum code size up to and including the terminator
    std::vector<int> codes;
    std::vector<int> widths;       // width each code was read at
    std::vector<int> nextAtClear;  // the decoder's next free entry when each clear code arrived
    std::vector<uint8_t> pixels;   // in coding order
    bool endCodeSeen = false;
    std::string error;  // empty when the stream decoded cleanly
};

inline CodeStream ReadCodeStream(const std::vector<uint8_t>& data, size_t offset = 0) {
    CodeStream out;
    if (offset >= data.size()) {
        out.error = "no data";
        return out;
    }
    out.minCodeSize = data[offset];
    std::vector<uint8_t> bytes;
    size_t pos = offset + 1;
    while (pos < data.size()) {
        const int length = data[pos++];
        if (length == 0) {
            out.terminated = true;
            break;
        }
        if (pos + length > data.size()) {
            out.error = "sub-block runs past the data";
            return out;
        }
        out.blockLengths.push_back(length);
        bytes.insert(bytes.end(), data.begin() + pos, data.begin() + pos + length);
        pos += length;
    }
    out.consumed = pos - offset;

    const int clear = 1 << out.minCodeSize;
    const int end = clear + 1;
    std::vector<int> prefix(4096, -1), suffix(4096, 0), length(4096, 1);
    for (int i = 0; i < clear; ++i) suffix[i] = i;
    int width = out.minCodeSize + 1;
    int next = clear + 2;
    int previous = -1;
    size_t bitPos = 0;
    std::vector<uint8_t> string;
    auto expand = [&](int code) {
        string.assign(length[code], 0);
        for (int c = code, i = length[code] - 1; i >= 0; --i, c = prefix[c])
            string[i] = static_cast<uint8_t>(suffix[c]);
    };
    for (;;) {
        if (bitPos + width > bytes.size() * 8) {
            out.error = "codes end without an end code";
            return out;
        }
        int code = 0;
        for (int b = 0; b < width; ++b, ++bitPos)
            if (bytes[bitPos / 8] & (1 << (bitPos % 8))) code |= 1 << b;
        out.codes.push_back(code);
        out.widths.push_back(width);
        if (code == clear) {
            out.nextAtClear.push_back(next);
            width = out.minCodeSize + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == end) {
            out.endCodeSeen = true;
            if ((bytes.size() * 8 - bitPos) >= 8) out.error = "bytes after the end code";
            return out;
        }
        if (previous < 0) {
            if (code >= clear) {
                out.error = "first code after a clear is not a pixel";
                return out;
            }
            out.pixels.push_back(static_cast<uint8_t>(code));
            previous = code;
            continue;
        }
        uint8_t first;
        if (code < next) {
            expand(code);
            first = string[0];
        } else if (code == next && next < 4096) {
            expand(previous);
            first = string[0];
            string.push_back(first);
        } else {
            out.error = "code beyond the table";
            return out;
        }
        out.pixels.insert(out.pixels.end(), string.begin(), string.end());
        if (next < 4096) {
            prefix[next] = previous;
            suffix[next] = first;
            length[next] = length[previous] + 1;
            ++next;
            if (next == (1 << width) && width < 12) ++width;
        }
        previous = code;
    }
}
