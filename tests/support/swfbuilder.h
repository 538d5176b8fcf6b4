// Builds SWF files byte by byte for the header reader's tests, its benchmark and fuzz run, and
// the movies the black-box tests play.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace swftest {

// Writes bit fields most significant bit first, as a SWF RECT is packed.
class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= uint8_t(0x80 >> used_);
            used_ = (used_ + 1) % 8;
        }
    }
    std::vector<uint8_t> bytes;

private:
    int used_ = 0;
};

inline std::vector<uint8_t> Rect(int nbits, int32_t xMin, int32_t xMax, int32_t yMin, int32_t yMax) {
    BitWriter w;
    w.Put(uint32_t(nbits), 5);
    for (int32_t v : {xMin, xMax, yMin, yMax}) w.Put(uint32_t(v) & (nbits == 32 ? ~0u : ((1u << nbits) - 1)), nbits);
    return w.bytes;
}

// Frame rate 12.0, frame count 1, the first tag, then ShowFrame and End.
inline std::vector<uint8_t> Body(const std::vector<uint8_t>& rect, const std::vector<uint8_t>& firstTag) {
    std::vector<uint8_t> body = rect;
    for (uint8_t b : {0x00, 0x0C, 0x01, 0x00}) body.push_back(b);
    body.insert(body.end(), firstTag.begin(), firstTag.end());
    for (uint8_t b : {0x40, 0x00, 0x00, 0x00}) body.push_back(b);
    return body;
}

inline std::vector<uint8_t> BackgroundTag(uint8_t r, uint8_t g, uint8_t b) { return {0x43, 0x02, r, g, b}; }
inline std::vector<uint8_t> ShowFrameTag() { return {0x40, 0x00}; }

inline std::vector<uint8_t> Header(const char* signature, uint32_t length) {
    return {uint8_t(signature[0]), uint8_t(signature[1]), uint8_t(signature[2]), 8,
            uint8_t(length),       uint8_t(length >> 8),  uint8_t(length >> 16), uint8_t(length >> 24)};
}

inline std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
    uLongf size = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, data.data(), uLong(data.size()), 6);
    out.resize(size);
    return out;
}

// An uncompressed movie: header with the true length (or the one given), then the body.
inline std::vector<uint8_t> Fws(const std::vector<uint8_t>& body, uint32_t length = 0) {
    std::vector<uint8_t> file = Header("FWS", length ? length : uint32_t(body.size() + 8));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// The compressed twin: the same header with "CWS" and the zlib-compressed body.
inline std::vector<uint8_t> Cws(const std::vector<uint8_t>& body, uint32_t length = 0) {
    std::vector<uint8_t> file = Header("CWS", length ? length : uint32_t(body.size() + 8));
    std::vector<uint8_t> packed = Deflate(body);
    file.insert(file.end(), packed.begin(), packed.end());
    return file;
}

}  // namespace swftest
