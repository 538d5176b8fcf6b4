#include "gifimage/lookups.h"
#include "gifimage/gdiutils.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <string>

#include "tests/giflookups/palettes.h"

namespace {

struct Answer {
    int index;
    Rgb color;
};

Answer Ask(TColorLookup& lookup, const Rgb& c) {
    uint8_t r = 0, g = 0, b = 0;
    const int index = lookup.MatchColor(static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.b),
                                        r, g, b);
    return {index, {r, g, b}};
}

std::string Describe(const Rgb& c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

struct NamedPalette {
    const char* name;
    std::vector<Rgb> colors;
};

std::vector<NamedPalette> PalettesThatMatter() {
    return {{"web", WebColors()}, {"16 grays", GrayRamp(16)}, {"256 grays", GrayRamp(256)}, {"ties", TiePalette()}};
}

// --- Fast lookup ---------------------------------------------------------------

// A colour of the given 15-bit key; salt chooses the three low bits of each channel.
Rgb ColorOfKey(int key, int salt) {
    const int r = (key & 0x1F) << 3, g = ((key >> 5) & 0x1F) << 3, b = ((key >> 10) & 0x1F) << 3;
    return {r | ((key + salt) & 7), g | ((key * 3 + salt) & 7), b | ((key * 5 + salt) & 7)};
}

int KeyOf(const Rgb& c) { return (c.r >> 3) | ((c.g & 0xF8) << 2) | ((c.b & 0xF8) << 7); }

TEST(FastColorLookup, EveryKeyAnswersItsSeedOrTheNearestByCityBlockThenKeepsThatAnswer) {
    for (const auto& palette : PalettesThatMatter()) {
        SCOPED_TRACE(palette.name);
        OwnedPalette handle(palette.colors);
        TFastColorLookup lookup(handle.get());
        std::map<int, int> seed;
        for (int i = 0; i < static_cast<int>(palette.colors.size()); ++i) seed.emplace(KeyOf(palette.colors[i]), i);

        std::vector<int> first(TFastColorLookup::CacheSize);
        int mismatches = 0;
        for (int key = 0; key < TFastColorLookup::CacheSize; ++key) {
            const Rgb wanted = ColorOfKey(key, 0);
            const auto seeded = seed.find(key);
            const int expected = seeded != seed.end() ? seeded->second
                                                      : NearestIndex(palette.colors, wanted, CityBlock);
            const Answer a = Ask(lookup, wanted);
            first[key] = a.index;
            if ((a.index != expected || !(a.color == palette.colors[expected])) && mismatches++ == 0)
                ADD_FAILURE() << Describe(wanted) << " answered " << a.index << " " << Describe(a.color)
                              << ", expected " << expected;
        }
        for (int key = 0; key < TFastColorLookup::CacheSize; ++key) {
            const Rgb sameKey = ColorOfKey(key, 5);
            const Answer a = Ask(lookup, sameKey);
            if (a.index != first[key] && mismatches++ == 0)
                ADD_FAILURE() << Describe(sameKey) << " answered " << a.index << " after " << first[key];
        }
        EXPECT_EQ(mismatches, 0);
    }
}

struct Request {
    Rgb wanted;
    Answer expected;
};

// Asks in the given order; each answer's index and colour must match.
void ExpectAnswers(TColorLookup& lookup, const std::vector<Request>& requests) {
    for (const auto& r : requests) {
        const Answer a = Ask(lookup, r.wanted);
        EXPECT_EQ(a.index, r.expected.index) << Describe(r.wanted);
        EXPECT_EQ(a.color, r.expected.color) << Describe(r.wanted);
    }
}

struct SequenceCase {
    const char* what;
    std::vector<Rgb> palette;
    std::vector<Request> requests;
};

TEST(FastColorLookup, AnswersDependOnSeedsAndEarlierRequests) {
    const SequenceCase cases[] = {
        {"first entry of a key seeds its cell", {{0, 0, 0}, {7, 7, 7}}, {{{7, 7, 7}, {0, {0, 0, 0}}}}},
        {"a later entry of the same key never seeds",
         {{200, 0, 0}, {0, 0, 0}, {7, 7, 7}},
         {{{7, 7, 7}, {1, {0, 0, 0}}}, {{3, 3, 3}, {1, {0, 0, 0}}}}},
        {"equal distances: lowest index, remembered for the key",
         {{10, 0, 0}, {0, 10, 0}},
         {{{5, 5, 0}, {0, {10, 0, 0}}}, {{0, 7, 0}, {0, {10, 0, 0}}}}},
        {"another key has its own answer",
         {{10, 0, 0}, {0, 10, 0}},
         {{{5, 5, 0}, {0, {10, 0, 0}}}, {{0, 8, 0}, {1, {0, 10, 0}}}}},
        {"distance is the sum of channel differences, not the squares",
         // (0,0,0): city block 150 to entry 0, 120 to entry 1; by squares entry 0 is nearer.
         {{50, 50, 50}, {120, 0, 0}},
         {{{0, 0, 0}, {1, {120, 0, 0}}}}},
        {"channels read in red, green, blue order",
         {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
         {{{20, 30, 240}, {2, {0, 0, 255}}}, {{240, 30, 20}, {0, {255, 0, 0}}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OwnedPalette handle(c.palette);
        TFastColorLookup lookup(handle.get());
        EXPECT_EQ(lookup.ColorCount(), static_cast<int>(c.palette.size()));
        ExpectAnswers(lookup, c.requests);
    }
}

// --- Slow lookup ---------------------------------------------------------------

TEST(SlowColorLookup, AnswersTheSystemsNearestEntryAndItsColour) {
    for (const auto& palette : PalettesThatMatter()) {
        SCOPED_TRACE(palette.name);
        OwnedPalette handle(palette.colors);
        TSlowColorLookup lookup(handle.get());
        EXPECT_EQ(lookup.ColorCount(), static_cast<int>(palette.colors.size()));
        int mismatches = 0;
        for (int r = 0; r < 256; r += 15)
            for (int g = 3; g < 256; g += 21)
                for (int b = 7; b < 256; b += 31) {
                    const Rgb wanted{r, g, b};
                    const int expected = NearestIndex(palette.colors, wanted, SquaredDistance);
                    const Answer a = Ask(lookup, wanted);
                    if ((a.index != expected || !(a.color == palette.colors[expected])) && mismatches++ == 0)
                        ADD_FAILURE() << Describe(wanted) << " answered " << a.index << ", expected " << expected;
                }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(SlowColorLookup, PassesTheColourAsRedPlusGreenTimes256PlusBlueTimes65536) {
    OwnedPalette handle(std::vector<Rgb>{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
    TSlowColorLookup lookup(handle.get());
    const std::vector<Request> cases = {
        {{250, 10, 5}, {0, {255, 0, 0}}},
        {{10, 250, 5}, {1, {0, 255, 0}}},
        {{5, 10, 250}, {2, {0, 0, 255}}},
    };
    ExpectAnswers(lookup, cases);
}

// A lookup without entries writes nothing: the outputs keep what the caller put there.
TEST(SlowColorLookup, WithoutEntriesLeavesTheOutputsAlone) {
    TSlowColorLookup lookup(nullptr);
    EXPECT_EQ(lookup.ColorCount(), 0);
    uint8_t r = 11, g = 22, b = 33;
    lookup.MatchColor(200, 100, 50, r, g, b);
    EXPECT_EQ((Rgb{r, g, b}), (Rgb{11, 22, 33}));
}

// Only 256 entries are copied; the system may still answer an index past them.
TEST(SlowColorLookup, AnIndexPastTheCopiedEntriesLeavesTheOutputsAlone) {
    std::vector<Rgb> colors(300, Rgb{0, 0, 0});
    colors[280] = {1, 2, 200};
    OwnedPalette handle(colors);
    TSlowColorLookup lookup(handle.get());
    EXPECT_EQ(lookup.ColorCount(), 256);
    uint8_t r = 11, g = 22, b = 33;
    EXPECT_EQ(lookup.MatchColor(1, 2, 200, r, g, b), 280 & 0xFF);
    EXPECT_EQ((Rgb{r, g, b}), (Rgb{11, 22, 33}));
}

// --- Computed lookups ----------------------------------------------------------

TEST(ColorLookup, ColourCountByKindAndPalette) {
    OwnedPalette three(std::vector<Rgb>{{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});
    OwnedPalette web(CreateWebSafePalette());
    struct Case {
        const char* what;
        std::unique_ptr<TColorLookup> lookup;
        int expected;
    };
    Case cases[] = {
        {"fast, no palette", std::make_unique<TFastColorLookup>(nullptr), 0},
        {"fast, 3 entries", std::make_unique<TFastColorLookup>(three.get()), 3},
        {"fast, web", std::make_unique<TFastColorLookup>(web.get()), 216},
        {"slow, no palette", std::make_unique<TSlowColorLookup>(nullptr), 0},
        {"slow, 3 entries", std::make_unique<TSlowColorLookup>(three.get()), 3},
        {"web, no palette", std::make_unique<TNetscapeColorLookup>(nullptr), 216},
        {"gray, any palette", std::make_unique<TGrayScaleLookup>(three.get()), 256},
        {"black and white", std::make_unique<TMonochromeLookup>(nullptr), 2},
    };
    for (const auto& c : cases) EXPECT_EQ(c.lookup->ColorCount(), c.expected) << c.what;
}

TEST(FastColorLookup, WithoutColoursAnswersIndexZeroAndLeavesTheOutputsAlone) {
    TFastColorLookup lookup(nullptr);
    uint8_t r = 11, g = 22, b = 33;
    EXPECT_EQ(lookup.MatchColor(200, 100, 50, r, g, b), 0);
    EXPECT_EQ((Rgb{r, g, b}), (Rgb{11, 22, 33}));
}

TEST(NetscapeColorLookup, LevelsChangeAt48_99_150_201_252) {
    TNetscapeColorLookup lookup(nullptr);
    const std::vector<Request> cases = {
        {{47, 47, 47}, {0, {0, 0, 0}}},
        {{48, 48, 48}, {43, {51, 51, 51}}},
        {{255, 0, 0}, {180, {255, 0, 0}}},
        {{0, 255, 0}, {30, {0, 255, 0}}},
        {{0, 0, 255}, {5, {0, 0, 255}}},
        {{26, 0, 0}, {0, {0, 0, 0}}},
        {{98, 99, 150}, {1 * 36 + 2 * 6 + 3, {51, 102, 153}}},
        {{200, 201, 251}, {3 * 36 + 4 * 6 + 4, {153, 204, 204}}},
        {{252, 252, 252}, {215, {255, 255, 255}}},
    };
    ExpectAnswers(lookup, cases);
}

// Against the real web palette: every answer names the entry holding the answered colour,
// and each channel's level follows the thresholds (which are not always the nearest level).
TEST(NetscapeColorLookup, EveryAnswerIsTheWebPaletteEntryOfTheThresholdLevels) {
    OwnedPalette web(CreateWebSafePalette());
    PALETTEENTRY entries[216];
    ASSERT_EQ(GetPaletteEntries(web.get(), 0, 216, entries), 216u);
    TNetscapeColorLookup lookup(web.get());
    const int thresholds[] = {48, 99, 150, 201, 252};
    auto level = [&](int v) {
        int l = 0;
        for (int t : thresholds) l += v >= t;
        return l;
    };
    int mismatches = 0, notNearest = 0;
    for (int v = 0; v < 256; ++v) {
        for (const Rgb& wanted : {Rgb{v, 0, 255 - v}, Rgb{255 - v, v, 128}, Rgb{v, v, v}}) {
            const Answer a = Ask(lookup, wanted);
            const PALETTEENTRY& e = entries[a.index];
            const int expected = level(wanted.r) * 36 + level(wanted.g) * 6 + level(wanted.b);
            if ((a.index != expected || !(a.color == Rgb{e.peRed, e.peGreen, e.peBlue})) && mismatches++ == 0)
                ADD_FAILURE() << Describe(wanted) << " answered " << a.index;
            notNearest += a.index != NearestIndex(WebColors(), wanted, SquaredDistance);
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(notNearest, 0);
}

TEST(GrayScaleLookup, GrayIsTheWeightedSumShiftedBy8) {
    TGrayScaleLookup lookup(nullptr);
    const std::vector<Request> cases = {
        {{255, 255, 255}, {255, {255, 255, 255}}},
        {{255, 0, 0}, {76, {76, 76, 76}}},
        {{0, 255, 0}, {149, {149, 149, 149}}},
        {{0, 0, 255}, {28, {28, 28, 28}}},
        {{0, 0, 0}, {0, {0, 0, 0}}},
        {{1, 1, 1}, {1, {1, 1, 1}}},
        {{10, 20, 30}, {18, {18, 18, 18}}},  // (770 + 3000 + 870) / 256 = 18.1
    };
    ExpectAnswers(lookup, cases);
}

// On the 256-gray palette the answer is the gray just below the exact luminance.
TEST(GrayScaleLookup, AnswerIsTheGrayAtOrJustBelowTheLuminance) {
    TGrayScaleLookup lookup(nullptr);
    int mismatches = 0;
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 17) {
                const double luminance = (77.0 * r + 150.0 * g + 29.0 * b) / 256.0;
                const Answer a = Ask(lookup, {r, g, b});
                const bool ok = a.index <= luminance && luminance < a.index + 1 &&
                                a.color == (Rgb{a.index, a.index, a.index});
                if (!ok && mismatches++ == 0) ADD_FAILURE() << Describe({r, g, b}) << " answered " << a.index;
            }
    EXPECT_EQ(mismatches, 0);
}

TEST(MonochromeLookup, WhiteOnlyAboveHalfTheWeightedSum) {
    TMonochromeLookup lookup(nullptr);
    const std::vector<Request> cases = {
        {{127, 127, 127}, {0, {0, 0, 0}}},   {{128, 128, 128}, {1, {255, 255, 255}}},
        {{0, 0, 0}, {0, {0, 0, 0}}},         {{255, 255, 255}, {1, {255, 255, 255}}},
        {{255, 0, 0}, {0, {0, 0, 0}}},       {{0, 255, 0}, {1, {255, 255, 255}}},
        {{255, 0, 255}, {0, {0, 0, 0}}},     {{0, 217, 0}, {1, {255, 255, 255}}},  // 32550
        {{0, 216, 2}, {0, {0, 0, 0}}},                                             // 32400 + 58 = 32458
        {{0, 216, 4}, {1, {255, 255, 255}}},                                       // 32400 + 116 = 32516
    };
    ExpectAnswers(lookup, cases);
}

}  // namespace
