#include "tests/support/gifbuilder.h"
#include "gifimage/giferror.h"

#include <map>

GifBytes& GifBytes::Raw(std::initializer_list<int> bytes) {
    for (int v : bytes) b.push_back(static_cast<uint8_t>(v));
    return *this;
}

GifBytes& GifBytes::Raw(const Bytes& bytes) {
    b.insert(b.end(), bytes.begin(), bytes.end());
    return *this;
}

GifBytes& GifBytes::Text(const std::string& text) {
    b.insert(b.end(), text.begin(), text.end());
    return *this;
}

GifBytes& GifBytes::Word(int value) { return Raw({value & 0xFF, (value >> 8) & 0xFF}); }

GifBytes& GifBytes::Header(int width, int height, int colors, const char* signature) {
    Text(signature).Word(width).Word(height);
    int bits = 0;
    while (colors > 0 && (2 << bits) < colors) ++bits;
    Raw({colors > 0 ? 0x80 | 0x70 | bits : 0, 0, 0});
    for (int i = 0; colors > 0 && i < (2 << bits); ++i) Raw({i * 17 & 0xFF, i * 5 & 0xFF, i * 3 & 0xFF});
    return *this;
}

GifBytes& GifBytes::Gce(int packed, int delay, int transparentIndex) {
    Raw({0x21, 0xF9, 4, packed}).Word(delay);
    return Raw({transparentIndex, 0});
}

GifBytes& GifBytes::Descriptor(int left, int top, int width, int height, int packed) {
    Raw({','}).Word(left).Word(top).Word(width).Word(height);
    return Raw({packed});
}

GifBytes& GifBytes::Data(int minCodeSize, const Bytes& packed, int blockSize) {
    Raw({minCodeSize});
    for (size_t done = 0; done < packed.size();) {
        const size_t n = std::min<size_t>(blockSize, packed.size() - done);
        Raw({static_cast<int>(n)});
        b.insert(b.end(), packed.begin() + done, packed.begin() + done + n);
        done += n;
    }
    return Raw({0});
}

GifBytes& GifBytes::Frame(int left, int top, int width, int height, const Bytes& pixels, int minCodeSize, int packed) {
    Descriptor(left, top, width, height, packed);
    return Data(minCodeSize, EncodeLZW((packed & 0x40) ? Interlace(pixels, width, height) : pixels, minCodeSize));
}

Bytes PackCodes(const std::vector<std::pair<int, int>>& codesAndWidths) {
    Bytes out;
    uint32_t bucket = 0;
    int bits = 0;
    for (auto [code, width] : codesAndWidths) {
        bucket |= static_cast<uint32_t>(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<uint8_t>(bucket));
            bucket >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) out.push_back(static_cast<uint8_t>(bucket));
    return out;
}

std::vector<std::pair<int, int>> WithDecoderWidths(const std::vector<int>& codes, int minCodeSize) {
    const int clear = 1 << minCodeSize;
    int width = minCodeSize + 1, limit = 2 * clear, next = clear + 2;
    bool first = true;
    std::vector<std::pair<int, int>> out;
    for (int code : codes) {
        out.push_back({code, width});
        if (code == clear) {
            width = minCodeSize + 1;
            limit = 2 * clear;
            next = clear + 2;
            first = true;
            continue;
        }
        if (code == clear + 1) continue;
        if (first) {
            first = false;
            continue;
        }
        if (next < 4096) {
            ++next;
            if (next >= limit && limit < 4096) {
                limit *= 2;
                ++width;
            }
        }
    }
    return out;
}

std::vector<int> EncodeCodes(const Bytes& pixels, int minCodeSize, const EncodeOptions& options) {
    const int clear = 1 << minCodeSize;
    std::vector<int> codes;
    if (options.leadingClear) codes.push_back(clear);
    std::map<std::pair<int, int>, int> table;
    int next = clear + 2;
    int prefix = -1;
    for (uint8_t p : pixels) {
        if (prefix < 0) {
            prefix = p;
            continue;
        }
        auto it = table.find({prefix, p});
        if (it != table.end()) {
            prefix = it->second;
            continue;
        }
        codes.push_back(prefix);
        if (next < 4096) {
            table[{prefix, p}] = next++;
        } else if (options.clearWhenFull) {
            codes.push_back(clear);
            table.clear();
            next = clear + 2;
        }
        prefix = p;
    }
    if (prefix >= 0) codes.push_back(prefix);
    if (options.endCode) codes.push_back(clear + 1);
    return codes;
}

Bytes EncodeLZW(const Bytes& pixels, int minCodeSize, const EncodeOptions& options) {
    return PackCodes(WithDecoderWidths(EncodeCodes(pixels, minCodeSize, options), minCodeSize));
}

Bytes Interlace(const Bytes& pixels, int width, int height) {
    Bytes out;
    const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = starts[pass]; y < height; y += steps[pass])
            out.insert(out.end(), pixels.begin() + y * width, pixels.begin() + (y + 1) * width);
    return out;
}

void WarningLog::Attach(TGIFImage& image) {
    image.OnWarningMessage = [this](TObject* sender, uint8_t severity, const std::string& message) {
        entries.emplace_back(sender, severity, message);
    };
}

std::vector<std::string> WarningLog::Messages() const {
    std::vector<std::string> out;
    for (auto& e : entries) out.push_back(std::get<2>(e));
    return out;
}

std::unique_ptr<TGIFImage> LoadGif(const Bytes& bytes, WarningLog* log) {
    auto image = std::make_unique<TGIFImage>();
    if (log) log->Attach(*image);
    auto stream = StreamOf(bytes);
    image->LoadFromStream(*stream);
    return image;
}

std::string GIFErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const GIFException& e) {
        return e.what();
    }
    return "";
}

std::string LoadError(const Bytes& bytes, int64_t* position) {
    TGIFImage image;
    auto stream = StreamOf(bytes);
    std::string message = GIFErrorOf([&] { image.LoadFromStream(*stream); });
    if (position) *position = stream->Position();
    return message;
}
