#include "standins/flashctl/flvsize.h"

#include <cstring>
#include <string>

namespace {
// A cursor over bytes that reports running past the end instead of reading it.
struct Reader {
    const uint8_t* p;
    size_t left;
    bool ok = true;
    bool Need(size_t n) {
        if (left < n) ok = false;
        return ok;
    }
    uint32_t Uint(int n) {
        if (!Need(static_cast<size_t>(n))) return 0;
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
        p += n;
        left -= static_cast<size_t>(n);
        return v;
    }
    void Skip(size_t n) {
        if (!Need(n)) return;
        p += n;
        left -= n;
    }
    double Double() {
        if (!Need(8)) return 0;
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
        Skip(8);
        double d;
        std::memcpy(&d, &bits, sizeof(d));
        return d;
    }
    std::string Text(size_t n) {
        if (!Need(n)) return "";
        std::string s(reinterpret_cast<const char*>(p), n);
        Skip(n);
        return s;
    }
};

struct MetaSize {
    double width = 0, height = 0;
};

void ReadAmfValue(Reader& r, const std::string& key, MetaSize& size, int depth);

// Name/value pairs up to the end marker (an empty name followed by type 9).
void ReadAmfProperties(Reader& r, MetaSize& size, int depth) {
    while (r.ok) {
        std::string name = r.Text(r.Uint(2));
        if (name.empty()) {
            r.Uint(1);
            return;
        }
        ReadAmfValue(r, name, size, depth);
    }
}

void ReadAmfValue(Reader& r, const std::string& key, MetaSize& size, int depth) {
    if (depth > 16) {
        r.ok = false;
        return;
    }
    uint32_t type = r.Uint(1);
    switch (type) {
    case 0: {  // number
        double v = r.Double();
        if (depth == 1 && key == "width") size.width = v;
        if (depth == 1 && key == "height") size.height = v;
        break;
    }
    case 1: r.Skip(1); break;                              // boolean
    case 2: r.Skip(r.Uint(2)); break;                      // string
    case 3: ReadAmfProperties(r, size, depth + 1); break;  // object
    case 5:
    case 6: break;  // null, undefined
    case 8:
        r.Skip(4);
        ReadAmfProperties(r, size, depth + 1);
        break;  // ECMA array
    case 10: {  // strict array
        uint32_t n = r.Uint(4);
        for (uint32_t i = 0; i < n && r.ok; ++i) ReadAmfValue(r, "", size, depth + 1);
        break;
    }
    case 11: r.Skip(10); break;         // date
    case 12: r.Skip(r.Uint(4)); break;  // long string
    default: r.ok = false; break;
    }
}

bool SizeFromMetaData(Reader r, int& width, int& height) {
    if (r.Uint(1) != 2 || r.Text(r.Uint(2)) != "onMetaData") return false;
    MetaSize size;
    ReadAmfValue(r, "", size, 0);
    if (size.width < 1 || size.height < 1 || size.width > 65535 || size.height > 65535) return false;
    width = static_cast<int>(size.width);
    height = static_cast<int>(size.height);
    return true;
}

// Bits of a Sorenson H.263 picture header, most significant first.
struct BitReader {
    const uint8_t* p;
    size_t size;
    size_t bit = 0;
    bool ok = true;
    uint32_t Bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (bit / 8 >= size) {
                ok = false;
                return 0;
            }
            v = (v << 1) | ((p[bit / 8] >> (7 - bit % 8)) & 1);
            ++bit;
        }
        return v;
    }
};

bool SizeFromH263(const uint8_t* data, size_t size, int& width, int& height) {
    BitReader b{data, size};
    if (b.Bits(17) != 1) return false;
    b.Bits(5);  // version
    b.Bits(8);  // temporal reference
    static const int fixed[][2] = {{352, 288}, {176, 144}, {128, 96}, {320, 240}, {160, 120}};
    uint32_t format = b.Bits(3);
    if (format == 0 || format == 1) {
        int bits = format == 0 ? 8 : 16;
        width = static_cast<int>(b.Bits(bits));
        height = static_cast<int>(b.Bits(bits));
    } else if (format <= 6) {
        width = fixed[format - 2][0];
        height = fixed[format - 2][1];
    } else {
        return false;
    }
    return b.ok && width > 0 && height > 0;
}

bool SizeFromVp6(const uint8_t* data, size_t size, int& width, int& height) {
    if (size < 7) return false;
    uint8_t adjust = data[0];
    const uint8_t* frame = data + 1;
    if (frame[0] & 0x80) return false;  // not a key frame
    size_t at = (frame[0] & 1) ? 4 : 2;
    if (at + 2 > size - 1) return false;
    int rows = frame[at], cols = frame[at + 1];
    width = cols * 16 - (adjust >> 4);
    height = rows * 16 - (adjust & 0x0F);
    return width > 0 && height > 0;
}
}  // namespace

bool FlvPictureSize(const std::vector<uint8_t>& bytes, int& width, int& height) {
    if (bytes.size() < 9 || std::memcmp(bytes.data(), "FLV", 3) != 0) return false;
    Reader r{bytes.data(), bytes.size()};
    r.Skip(5);
    uint32_t headerSize = r.Uint(4);
    r = Reader{bytes.data(), bytes.size()};
    r.Skip(headerSize);
    r.Skip(4);  // size of the (absent) previous tag
    while (r.ok) {
        uint32_t type = r.Uint(1);
        uint32_t dataSize = r.Uint(3);
        r.Skip(7);  // time stamp and stream id
        if (!r.Need(dataSize)) return false;
        const uint8_t* data = r.p;
        if (type == 18 && SizeFromMetaData(Reader{data, dataSize}, width, height)) return true;
        if (type == 9 && dataSize > 1) {
            int codec = data[0] & 0x0F;
            if (codec == 2) return SizeFromH263(data + 1, dataSize - 1, width, height);
            if (codec == 4 || codec == 5) return SizeFromVp6(data + 1, dataSize - 1, width, height);
            return false;
        }
        r.Skip(dataSize);
        r.Skip(4);
    }
    return false;
}
