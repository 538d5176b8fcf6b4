// The LZW encoder's codes against a plain encoder written here from the rules, with the
// 8009-bucket string table and its probe step, on inputs that make the table refuse stores.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <vector>

#include "gifimage/encoders.h"
#include "tests/gifwriter/gifwriter_fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kBuckets = 8009;
int Bucket(uint32_t key) { return static_cast<int>((key ^ (key >> 4)) % kBuckets); }
int NextBucket(int h) { return h == 0 ? kBuckets - 1 : (2 * h) % kBuckets; }

struct Reference {
    Bytes data;
    int refused = 0;  // stores the table had no room for
};

// Image data of pixels (in coding order): minimum code size, 255-byte sub-blocks, terminator.
Reference ReferenceLZW(const Bytes& pixels, int bitsPerPixel, bool withPixels = true) {
    Reference r;
    const int bpp = std::clamp(bitsPerPixel, 2, 8);
    const int clear = 1 << bpp, end = clear + 1;
    int width = bpp + 1, maxCode = (1 << width) - 1, nextFree = clear + 2;
    std::vector<uint32_t> table(kBuckets, 0xFFFFFFFFu);
    Bytes packed;
    uint32_t bucket = 0;
    int bits = 0;
    auto pack = [&](int code) {
        bucket |= static_cast<uint32_t>(code) << bits;
        bits += width;
        for (; bits >= 8; bits -= 8, bucket >>= 8) packed.push_back(static_cast<uint8_t>(bucket));
    };
    auto emit = [&](int code) {
        pack(code);
        if (code == clear) {
            width = bpp + 1;
            maxCode = (1 << width) - 1;
        } else if (nextFree > maxCode) {
            ++width;
            maxCode = width == 12 ? 4096 : (1 << width) - 1;
        }
    };
    auto emitClear = [&] {
        emit(clear);
        std::fill(table.begin(), table.end(), 0xFFFFFFFFu);
        nextFree = clear + 2;
    };
    if (withPixels && !pixels.empty()) {
        emitClear();
        int prefix = pixels[0];
        for (size_t i = 1; i < pixels.size(); ++i) {
            const int c = pixels[i];
            const uint32_t key = (static_cast<uint32_t>(prefix) << 8) | c;
            int h = Bucket(key), found = -1, free = -1;
            for (int probes = 0; probes < kBuckets; ++probes, h = NextBucket(h)) {
                if ((table[h] >> 12) == 0xFFFFF) {
                    free = h;
                    break;
                }
                if ((table[h] >> 12) == key) {
                    found = static_cast<int>(table[h] & 0xFFF);
                    break;
                }
            }
            if (found >= 0) {
                prefix = found;
                continue;
            }
            emit(prefix);
            prefix = c;
            if (nextFree >= 4095) {
                emitClear();
                continue;
            }
            if (free >= 0)
                table[free] = (key << 12) | static_cast<uint32_t>(nextFree);
            else
                ++r.refused;
            ++nextFree;
        }
        emit(prefix);
    }
    pack(end);
    for (; bits > 0; bits -= 8, bucket >>= 8) packed.push_back(static_cast<uint8_t>(bucket));
    r.data.push_back(static_cast<uint8_t>(bpp));
    for (size_t i = 0; i < packed.size(); i += 255) {
        const size_t n = std::min<size_t>(255, packed.size() - i);
        r.data.push_back(static_cast<uint8_t>(n));
        r.data.insert(r.data.end(), packed.begin() + i, packed.begin() + i + n);
    }
    r.data.push_back(0);
    return r;
}

// Four-colour pixels chosen one at a time so that nearly every string the encoder adds hashes
// onto the probe cycle of bucket 1, which then fills: looks a few steps ahead along strings
// already in the table to avoid a store on the other cycle.
Bytes CrowdingPixels(unsigned seed, size_t count) {
    std::vector<bool> onCycle(kBuckets, false);
    for (int h = 1; !onCycle[h]; h = NextBucket(h)) onCycle[h] = true;
    std::map<uint32_t, int> strings;
    std::mt19937 random(seed);
    int nextFree = 6, prefix = 0;
    Bytes pixels = {0};
    std::function<bool(int, int)> canAvoidOther = [&](int code, int depth) {
        for (int c = 0; c < 4; ++c) {
            const uint32_t key = (static_cast<uint32_t>(code) << 8) | c;
            if (!strings.count(key) && onCycle[Bucket(key)]) return true;
        }
        if (depth == 0) return false;
        for (int c = 0; c < 4; ++c) {
            auto it = strings.find((static_cast<uint32_t>(code) << 8) | c);
            if (it != strings.end() && canAvoidOther(it->second, depth - 1)) return true;
        }
        return false;
    };
    while (pixels.size() < count) {
        std::vector<int> onCycleMisses, hits, goodHits;
        for (int c = 0; c < 4; ++c) {
            const uint32_t key = (static_cast<uint32_t>(prefix) << 8) | c;
            auto it = strings.find(key);
            if (it != strings.end()) {
                hits.push_back(c);
                if (canAvoidOther(it->second, 3)) goodHits.push_back(c);
            } else if (onCycle[Bucket(key)]) {
                onCycleMisses.push_back(c);
            }
        }
        int c;
        if (!onCycleMisses.empty())
            c = onCycleMisses[random() % onCycleMisses.size()];
        else if (!goodHits.empty())
            c = goodHits[random() % goodHits.size()];
        else if (!hits.empty())
            c = hits[random() % hits.size()];
        else
            c = static_cast<int>(random() % 4);
        pixels.push_back(static_cast<uint8_t>(c));
        const uint32_t key = (static_cast<uint32_t>(prefix) << 8) | c;
        auto it = strings.find(key);
        if (it != strings.end()) {
            prefix = it->second;
            continue;
        }
        if (nextFree >= 4095) {
            strings.clear();
            nextFree = 6;
        } else {
            strings[key] = nextFree++;
        }
        prefix = c;
    }
    return pixels;
}

TEST(GifWriterLZWTable, CodesMatchAPlainEncoder) {
    struct Case {
        std::string name;
        int bitsPerPixel, width, height;
        bool interlaced;
        Bytes pixels;
        bool mustRefuse = false;
    };
    std::vector<Case> cases;
    for (unsigned seed : {1u, 2u, 3u}) {
        Bytes pixels = CrowdingPixels(seed, 40000);
        cases.push_back({"crowded " + std::to_string(seed), 2, 200, 200, false, pixels, true});
        cases.push_back({"crowded interlaced " + std::to_string(seed), 2, 160, 250, true, pixels, false});
    }
    std::mt19937 random(9);
    for (int bpp : {1, 2, 3, 5, 7, 8}) {
        const int colours = 1 << std::max(bpp, 1);
        Bytes noise(300 * 200), runs(300 * 200), mixed(300 * 200);
        for (auto& p : noise) p = static_cast<uint8_t>(random() % colours);
        for (size_t i = 0; i < runs.size();) {
            const size_t n = std::min<size_t>(runs.size() - i, 1 + random() % 900);
            std::fill(runs.begin() + i, runs.begin() + i + n, static_cast<uint8_t>(random() % colours));
            i += n;
        }
        for (size_t i = 0; i < mixed.size(); ++i) mixed[i] = random() % 4 == 0 ? noise[i] : runs[i];
        for (bool interlaced : {false, true}) {
            const std::string tail = " bpp " + std::to_string(bpp) + (interlaced ? " interlaced" : "");
            cases.push_back({"noise" + tail, bpp, 300, 200, interlaced, noise});
            cases.push_back({"runs" + tail, bpp, 300, 200, interlaced, runs});
            cases.push_back({"mixed" + tail, bpp, 300, 200, interlaced, mixed});
        }
    }
    cases.push_back({"one pixel", 8, 1, 1, false, Bytes{7}});
    cases.push_back({"one long run", 8, 4000, 1000, false, Bytes(4000 * 1000, 3)});
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.pixels.resize(static_cast<size_t>(c.width) * c.height);
        Bytes order;
        for (int row : c.interlaced ? InterlacedRows(c.height) : [&] {
                 std::vector<int> rows(c.height);
                 for (int y = 0; y < c.height; ++y) rows[y] = y;
                 return rows;
             }())
            order.insert(order.end(), c.pixels.begin() + row * c.width, c.pixels.begin() + (row + 1) * c.width);
        const Reference expected = ReferenceLZW(order, c.bitsPerPixel);
        if (c.mustRefuse) {
            EXPECT_GT(expected.refused, 0) << "the case no longer fills a probe cycle";
        }
        const Bytes got = EncodeImageData(false, c.bitsPerPixel, c.width, c.height, c.interlaced, c.pixels.data(),
                                          1 << std::clamp(c.bitsPerPixel, 2, 8));
        ASSERT_EQ(got.size(), expected.data.size());
        EXPECT_TRUE(got == expected.data);
    }
}

}  // namespace
