// Small reference models of colour reduction, written from the rules rather than from the
// library: the octree quantiser, the five colour lookups, the error-diffusion kernels and the
// reduction loop that ties them together. The reduction tests take their expected palettes and
// pixels from here, and use the switches to prove that a fixture tells plausible wrong
// implementations apart.
#pragma once
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "tests/giflookups/palettes.h"

namespace model {

using Picture = std::vector<std::vector<Rgb>>;  // rows from the top, each of width colours
using Indices = std::vector<std::vector<int>>;

// --- Octree ----------------------------------------------------------------------

// The tree kept in a pool of nodes addressed by number; -1 is an empty slot.
class Octree {
public:
    // mergeEachPixel false merges only at the end of every row: a plausible wrong reading.
    Octree(int maximumColors, int colorBits, bool mergeEachPixel = true)
        : maximum_(maximumColors)
        , bits_(colorBits)
        , mergeEachPixel_(mergeEachPixel) {}

    void Add(const Picture& picture) {
        for (const auto& row : picture) {
            for (const Rgb& c : row) {
                Insert(c);
                if (mergeEachPixel_) Reduce();
            }
            if (!mergeEachPixel_) Reduce();
        }
    }

    // Leaf colours depth-first, child 0 first; channel sums divided with truncation.
    std::vector<Rgb> Colors() const {
        std::vector<Rgb> out;
        if (root_ >= 0) Collect(root_, out);
        return out;
    }

private:
    struct Node {
        bool leaf = false;
        int64_t count = 0, red = 0, green = 0, blue = 0;
        std::array<int, 8> child{-1, -1, -1, -1, -1, -1, -1, -1};
    };

    int NewNode(int level) {
        nodes_.push_back({});
        const int n = static_cast<int>(nodes_.size()) - 1;
        if (level == bits_) {
            nodes_[n].leaf = true;
            ++leaves_;
        } else {
            reducible_[level].push_back(n);  // the back is the newest
        }
        return n;
    }

    void Insert(const Rgb& c) {
        if (root_ < 0) root_ = NewNode(0);
        int n = root_;
        for (int level = 0;; ++level) {
            if (nodes_[n].leaf) {
                Node& leaf = nodes_[n];
                ++leaf.count;
                leaf.red += c.r;
                leaf.green += c.g;
                leaf.blue += c.b;
                return;
            }
            const int bit = 7 - level;
            const int index = ((c.r >> bit) & 1) * 4 + ((c.g >> bit) & 1) * 2 + ((c.b >> bit) & 1);
            if (nodes_[n].child[index] < 0) {
                const int created = NewNode(level + 1);
                nodes_[n].child[index] = created;
            }
            n = nodes_[n].child[index];
        }
    }

    void Reduce() {
        while (leaves_ > maximum_) {
            int level = bits_ - 1;
            while (level > 0 && reducible_[level].empty()) --level;
            if (reducible_[level].empty()) return;
            const int n = reducible_[level].back();
            reducible_[level].pop_back();
            Node& node = nodes_[n];
            int merged = 0;
            for (int& child : node.child) {
                if (child < 0) continue;
                node.count += nodes_[child].count;
                node.red += nodes_[child].red;
                node.green += nodes_[child].green;
                node.blue += nodes_[child].blue;
                child = -1;
                ++merged;
            }
            node.leaf = true;
            leaves_ -= merged - 1;
        }
    }

    void Collect(int n, std::vector<Rgb>& out) const {
        const Node& node = nodes_[n];
        if (node.leaf) {
            if (node.count == 0) {
                out.push_back({0, 0, 0});
            } else {
                out.push_back({static_cast<int>(node.red / node.count), static_cast<int>(node.green / node.count),
                               static_cast<int>(node.blue / node.count)});
            }
            return;
        }
        for (int child : node.child)
            if (child >= 0) Collect(child, out);
    }

    int maximum_, bits_;
    bool mergeEachPixel_;
    std::vector<Node> nodes_;
    int root_ = -1;
    int leaves_ = 0;
    std::array<std::vector<int>, 8> reducible_;
};

// The palette of `colors` entries made from the picture's own colours; entries past the last
// leaf are black.
inline std::vector<Rgb> OptimizedPalette(const Picture& picture, int colors, int colorBits = 8,
                                         bool mergeEachPixel = true) {
    Octree tree(colors, colorBits, mergeEachPixel);
    tree.Add(picture);
    std::vector<Rgb> palette = tree.Colors();
    palette.resize(colors, Rgb{0, 0, 0});
    return palette;
}

inline std::vector<Rgb> StockColors() {
    PALETTEENTRY entries[20];
    const UINT n = GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 20, entries);
    std::vector<Rgb> colors;
    for (UINT i = 0; i < n; ++i) colors.push_back({entries[i].peRed, entries[i].peGreen, entries[i].peBlue});
    return colors;
}

// 236 quantised colours between the first and the last ten static colours.
inline std::vector<Rgb> OptimizedSystemPalette(const Picture& picture, int colorBits = 8, bool mergeEachPixel = true) {
    const std::vector<Rgb> stock = StockColors();
    const std::vector<Rgb> quantised = OptimizedPalette(picture, 236, colorBits, mergeEachPixel);
    std::vector<Rgb> palette(stock.begin(), stock.begin() + 10);
    palette.insert(palette.end(), quantised.begin(), quantised.end());
    palette.insert(palette.end(), stock.begin() + 10, stock.end());
    return palette;
}

inline std::vector<Rgb> GrayLevels(std::initializer_list<int> levels) {
    std::vector<Rgb> colors;
    for (int v : levels) colors.push_back({v, v, v});
    return colors;
}

inline std::vector<Rgb> AllGrays() {
    std::vector<Rgb> colors;
    for (int i = 0; i < 256; ++i) colors.push_back({i, i, i});
    return colors;
}

inline std::vector<Rgb> HalftoneColors() {
    HDC screen = GetDC(nullptr);
    HPALETTE halftone = CreateHalftonePalette(screen);
    ReleaseDC(nullptr, screen);
    PALETTEENTRY entries[256];
    const UINT n = GetPaletteEntries(halftone, 0, 256, entries);
    DeleteObject(halftone);
    std::vector<Rgb> colors;
    for (UINT i = 0; i < n; ++i) colors.push_back({entries[i].peRed, entries[i].peGreen, entries[i].peBlue});
    return colors;
}

// --- Lookups ---------------------------------------------------------------------

class Lookup {
public:
    virtual ~Lookup() = default;
    virtual int Match(const Rgb& wanted, Rgb& answered) = 0;
};

// Nearest by the sum of channel differences, lowest index on ties, remembered per 15-bit key;
// the first palette entry of each key seeds its cell.
class FastLookup : public Lookup {
public:
    explicit FastLookup(std::vector<Rgb> palette) : palette_(std::move(palette)), cache_(32768, -1) {
        for (int i = 0; i < static_cast<int>(palette_.size()); ++i)
            if (cache_[Key(palette_[i])] < 0) cache_[Key(palette_[i])] = i;
    }
    int Match(const Rgb& wanted, Rgb& answered) override {
        int& cell = cache_[Key(wanted)];
        if (cell < 0) {
            int best = 0, bestDistance = 0x30000;
            for (int i = 0; i < static_cast<int>(palette_.size()); ++i) {
                const int d = CityBlock(palette_[i], wanted);
                if (d < bestDistance) best = i, bestDistance = d;
            }
            cell = best;
        }
        answered = palette_[cell];
        return cell;
    }

private:
    static int Key(const Rgb& c) { return (c.r >> 3) | ((c.g >> 3) << 5) | ((c.b >> 3) << 10); }
    std::vector<Rgb> palette_;
    std::vector<int> cache_;
};

// The system's nearest-entry search over a palette made here from the same colours.
class SystemLookup : public Lookup {
public:
    explicit SystemLookup(std::vector<Rgb> palette) : palette_(std::move(palette)), handle_(palette_) {}
    int Match(const Rgb& wanted, Rgb& answered) override {
        const UINT index = GetNearestPaletteIndex(handle_.get(), RGB(wanted.r, wanted.g, wanted.b));
        if (index < palette_.size()) answered = palette_[index];
        return static_cast<int>(index & 0xFF);
    }

private:
    std::vector<Rgb> palette_;
    OwnedPalette handle_;
};

// Six levels per channel, changing at 48, 99, 150, 201 and 252.
class WebLookup : public Lookup {
public:
    int Match(const Rgb& wanted, Rgb& answered) override {
        auto level = [](int v) { return v < 48 ? 0 : v < 99 ? 1 : v < 150 ? 2 : v < 201 ? 3 : v < 252 ? 4 : 5; };
        const int r = level(wanted.r), g = level(wanted.g), b = level(wanted.b);
        answered = {51 * r, 51 * g, 51 * b};
        return r * 36 + g * 6 + b;
    }
};

class GrayLookup : public Lookup {
public:
    int Match(const Rgb& wanted, Rgb& answered) override {
        const int gray = (77 * wanted.r + 150 * wanted.g + 29 * wanted.b) / 256;
        answered = {gray, gray, gray};
        return gray;
    }
};

class MonochromeLookup : public Lookup {
public:
    int Match(const Rgb& wanted, Rgb& answered) override {
        const bool white = 77 * wanted.r + 150 * wanted.g + 29 * wanted.b > 127 * 256;
        answered = white ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
        return white ? 1 : 0;
    }
};

// --- Error diffusion -------------------------------------------------------------

struct Share {
    int row, column, weight;  // row below the pixel, column in the scan direction
};
struct Kernel {
    int divisor;
    std::vector<Share> shares;
};

// Dither kinds 1 to 6; kind 0 has no kernel.
inline Kernel KernelOf(int kind) {
    switch (kind) {
    case 1: return {16, {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}}};
    case 2:
        return {42,
                {{0, 1, 8},
                 {0, 2, 4},
                 {1, -2, 2},
                 {1, -1, 4},
                 {1, 0, 8},
                 {1, 1, 4},
                 {1, 2, 2},
                 {2, -2, 1},
                 {2, -1, 2},
                 {2, 0, 4},
                 {2, 1, 2},
                 {2, 2, 1}}};
    case 3:
        return {32,
                {{0, 1, 5},
                 {0, 2, 3},
                 {1, -2, 2},
                 {1, -1, 4},
                 {1, 0, 5},
                 {1, 1, 4},
                 {1, 2, 2},
                 {2, -1, 2},
                 {2, 0, 3},
                 {2, 1, 2}}};
    case 4:
        return {48,
                {{0, 1, 7},
                 {0, 2, 5},
                 {1, -2, 3},
                 {1, -1, 5},
                 {1, 0, 7},
                 {1, 1, 5},
                 {1, 2, 3},
                 {2, -2, 1},
                 {2, -1, 3},
                 {2, 0, 5},
                 {2, 1, 3},
                 {2, 2, 1}}};
    case 5:
        return {200,
                {{0, 2, 32},
                 {1, -3, 12},
                 {1, -1, 26},
                 {1, 1, 30},
                 {1, 3, 16},
                 {2, -2, 12},
                 {2, 0, 26},
                 {2, 2, 12},
                 {3, -3, 5},
                 {3, -1, 12},
                 {3, 1, 12},
                 {3, 3, 5}}};
    case 6: return {32, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}};
    default: return {1, {}};
    }
}

// Serpentine walk (even rows left to right, odd rows right to left). Each pixel asks the lookup
// for its colour corrected by the shares it received, (sum + divisor / 2) / divisor truncated
// toward zero, clamped; its error from the clamped value goes to the pixels of the kernel that
// lie inside the picture.
inline Indices Dither(const Picture& picture, int kind, Lookup& lookup) {
    const int height = static_cast<int>(picture.size());
    const int width = height ? static_cast<int>(picture[0].size()) : 0;
    const Kernel kernel = KernelOf(kind);
    std::vector<std::vector<std::array<int, 3>>> received(height, std::vector<std::array<int, 3>>(width, {0, 0, 0}));
    Indices out(height, std::vector<int>(width, -1));
    for (int y = 0; y < height; ++y) {
        const int direction = y % 2 == 0 ? 1 : -1;
        for (int step = 0; step < width; ++step) {
            const int x = direction > 0 ? step : width - 1 - step;
            const Rgb& in = picture[y][x];
            int value[3] = {in.r, in.g, in.b};
            for (int ch = 0; ch < 3; ++ch)
                value[ch] = std::clamp(value[ch] + (received[y][x][ch] + kernel.divisor / 2) / kernel.divisor, 0, 255);
            Rgb answered{0, 0, 0};
            out[y][x] = lookup.Match({value[0], value[1], value[2]}, answered);
            if (kind == 0) continue;
            const int error[3] = {value[0] - answered.r, value[1] - answered.g, value[2] - answered.b};
            for (const Share& s : kernel.shares) {
                const int tx = x + s.column * direction, ty = y + s.row;
                if (tx < 0 || tx >= width || ty >= height) continue;
                for (int ch = 0; ch < 3; ++ch) received[ty][tx][ch] += s.weight * error[ch];
            }
        }
    }
    return out;
}

// --- Reduction -------------------------------------------------------------------

// What a reduction should give: the palette (before padding to 256 entries) and the pixels.
struct Reduced {
    std::vector<Rgb> palette;
    Indices pixels;
    bool operator==(const Reduced&) const = default;
};

// Plausible wrong implementations the reduction tests must tell apart from the rule.
struct Variant {
    bool slowLookupForOptimized = false;
    int optimizedColorBits = 8;
    bool mergeEachPixel = true;
};

// Reduction methods 1 to 9 (method numbers as stored), with reductionBits kept in 0 to 8.
inline Reduced Reduce(const Picture& picture, int method, int kind, int reductionBits, const std::vector<Rgb>& custom,
                      const Variant& variant = {}) {
    Reduced r;
    switch (method) {
    case 1: r.palette = StockColors(); break;
    case 2: r.palette = HalftoneColors(); break;
    case 3: r.palette = GrayLevels({0, 128, 192, 255}); break;
    case 4: r.palette = GrayLevels({0, 255}); break;
    case 5: r.palette = AllGrays(); break;
    case 6: r.palette = WebColors(); break;
    case 7:
        r.palette = OptimizedPalette(picture, 1 << std::clamp(reductionBits, 0, 8), variant.optimizedColorBits,
                                     variant.mergeEachPixel);
        break;
    case 8: r.palette = OptimizedSystemPalette(picture, variant.optimizedColorBits, variant.mergeEachPixel); break;
    case 9: r.palette = custom; break;
    }
    std::unique_ptr<Lookup> lookup;
    switch (method) {
    case 4: lookup = std::make_unique<MonochromeLookup>(); break;
    case 5: lookup = std::make_unique<GrayLookup>(); break;
    case 6: lookup = std::make_unique<WebLookup>(); break;
    case 7:
        if (!variant.slowLookupForOptimized) {
            lookup = std::make_unique<FastLookup>(r.palette);
            break;
        }
        [[fallthrough]];
    default: lookup = std::make_unique<SystemLookup>(r.palette);
    }
    r.pixels = Dither(picture, kind, *lookup);
    return r;
}

}  // namespace model
