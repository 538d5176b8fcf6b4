#include "gifimage/ditherers.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <typeinfo>

#include "gifimage/gdiutils.h"
#include "gifimage/giferror.h"
#include "gifimage/gifstream.h"
#include "gifimage/lookups.h"
#include "gifimage/messages.h"
#include "tests/giflookups/palettes.h"
#include "tests/gifquant/models.h"

namespace {

const TDitherKind DiffusionKinds[] = {dkFloydSteinberg,    dkStucki,        dkSierra,
                                      dkJarvisJudiceNinke, dkStevensonArce, dkBurkes};

const char* KindName(TDitherKind kind) {
    switch (kind) {
    case dkNone: return "none";
    case dkFloydSteinberg: return "Floyd-Steinberg";
    case dkStucki: return "Stucki";
    case dkSierra: return "Sierra";
    case dkJarvisJudiceNinke: return "Jarvis-Judice-Ninke";
    case dkStevensonArce: return "Stevenson-Arce";
    case dkBurkes: return "Burkes";
    }
    return "?";
}

// The sum of each kernel's weights.
int DivisorOf(TDitherKind kind) {
    switch (kind) {
    case dkFloydSteinberg: return 16;
    case dkStucki: return 42;
    case dkSierra:
    case dkBurkes: return 32;
    case dkJarvisJudiceNinke: return 48;
    case dkStevensonArce: return 200;
    default: return 1;
    }
}

// Answers every request with its own colour (no error), except the calls given a fixed
// answer; with an inner lookup, the unscripted calls go to it. Records every request.
class ScriptedLookup : public TColorLookup {
public:
    explicit ScriptedLookup(TColorLookup* inner = nullptr) : TColorLookup(nullptr), inner_(inner) { SetColorCount(256); }
    uint8_t MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                       uint8_t& outBlue) override {
        const int call = static_cast<int>(Requests.size());
        Requests.push_back({red, green, blue});
        const auto scripted = AnswerAt.find(call);
        if (scripted == AnswerAt.end() && inner_)
            return inner_->MatchColor(red, green, blue, outRed, outGreen, outBlue);
        const Rgb answer = scripted != AnswerAt.end() ? scripted->second : Rgb{red, green, blue};
        outRed = static_cast<uint8_t>(answer.r);
        outGreen = static_cast<uint8_t>(answer.g);
        outBlue = static_cast<uint8_t>(answer.b);
        return static_cast<uint8_t>(call);
    }

    std::map<int, Rgb> AnswerAt;
    std::vector<Rgb> Requests;

private:
    TColorLookup* inner_;
};

// Never writes its outputs, like a system lookup without a copy of the entries.
class SilentLookup : public TColorLookup {
public:
    SilentLookup() : TColorLookup(nullptr) { SetColorCount(1); }
    uint8_t MatchColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t&, uint8_t&, uint8_t&) override {
        Requests.push_back({red, green, blue});
        return 7;
    }
    std::vector<Rgb> Requests;
};

using Picture = std::vector<std::vector<Rgb>>;
template <class T>
using Grid = std::vector<std::vector<T>>;

Picture Flat(int width, int height, Rgb color) { return Picture(height, std::vector<Rgb>(width, color)); }

struct DitherRun {
    Grid<Rgb> requested;  // what the lookup was asked for at each pixel
    Grid<int> indices;
};

// The driving loop of the colour reduction: each row from the ditherer's column in its direction.
template <class Lookup>
DitherRun Drive(TDitherEngine& ditherer, Lookup& lookup, const Picture& picture) {
    const int height = static_cast<int>(picture.size()), width = height ? static_cast<int>(picture[0].size()) : 0;
    DitherRun run{Grid<Rgb>(height, std::vector<Rgb>(width, Rgb{-1, -1, -1})),
                  Grid<int>(height, std::vector<int>(width, -1))};
    for (int y = 0; y < height; ++y) {
        while (ditherer.Column() >= 0 && ditherer.Column() < width) {
            const int x = ditherer.Column();
            const Rgb& p = picture[y][x];
            uint8_t r = 0, g = 0, b = 0;
            run.indices[y][x] = ditherer.DitherPixel(static_cast<uint8_t>(p.r), static_cast<uint8_t>(p.g),
                                                     static_cast<uint8_t>(p.b), r, g, b);
            run.requested[y][x] = lookup.Requests.back();
        }
        ditherer.NextRow();
    }
    return run;
}

int CallOf(int row, int column, int width) { return row * width + (row % 2 == 0 ? column : width - 1 - column); }

// --- Kernels -------------------------------------------------------------------

// One pixel at (row, column) of a flat 220 picture leaves an error of exactly the divisor in
// red and blue (none in green); every other pixel is answered exactly. Each later pixel then
// asks for 220 + its weight. Rows 0, 2, 4 run left to right, rows 1 and 3 right to left.
struct KernelCase {
    const char* what;
    TDitherKind kind;
    int row, column;
    Grid<int> shares;
};

const KernelCase KernelCases[] = {
    {"row 0 forward", dkFloydSteinberg, 0, 3, {{0, 0, 0, 0, 7, 0, 0}, {0, 0, 3, 5, 1, 0, 0}, {0, 0, 0, 0, 0, 0, 0}}},
    {"row 1 backward",
     dkFloydSteinberg,
     1,
     3,
     {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 7, 0, 0, 0, 0}, {0, 0, 1, 5, 3, 0, 0}, {0, 0, 0, 0, 0, 0, 0}}},
    {"first column forward",
     dkFloydSteinberg,
     0,
     0,
     {{0, 7, 0, 0, 0, 0, 0}, {5, 1, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}}},
    {"last column forward",
     dkFloydSteinberg,
     0,
     6,
     {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 3, 5}, {0, 0, 0, 0, 0, 0, 0}}},
    {"first column backward",
     dkFloydSteinberg,
     1,
     0,
     {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {5, 3, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}}},

    {"row 0 forward",
     dkStucki,
     0,
     3,
     {{0, 0, 0, 0, 8, 4, 0}, {0, 2, 4, 8, 4, 2, 0}, {0, 1, 2, 4, 2, 1, 0}, {0, 0, 0, 0, 0, 0, 0}}},
    {"row 1 backward",
     dkStucki,
     1,
     3,
     {{0, 0, 0, 0, 0, 0, 0},
      {0, 4, 8, 0, 0, 0, 0},
      {0, 2, 4, 8, 4, 2, 0},
      {0, 1, 2, 4, 2, 1, 0},
      {0, 0, 0, 0, 0, 0, 0}}},
    {"first column forward",
     dkStucki,
     0,
     0,
     {{0, 8, 4, 0, 0, 0, 0}, {8, 4, 2, 0, 0, 0, 0}, {4, 2, 1, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}}},

    {"row 0 forward",
     dkSierra,
     0,
     3,
     {{0, 0, 0, 0, 5, 3, 0}, {0, 2, 4, 5, 4, 2, 0}, {0, 0, 2, 3, 2, 0, 0}, {0, 0, 0, 0, 0, 0, 0}}},
    {"row 1 backward",
     dkSierra,
     1,
     3,
     {{0, 0, 0, 0, 0, 0, 0},
      {0, 3, 5, 0, 0, 0, 0},
      {0, 2, 4, 5, 4, 2, 0},
      {0, 0, 2, 3, 2, 0, 0},
      {0, 0, 0, 0, 0, 0, 0}}},

    {"row 0 forward",
     dkJarvisJudiceNinke,
     0,
     3,
     {{0, 0, 0, 0, 7, 5, 0}, {0, 3, 5, 7, 5, 3, 0}, {0, 1, 3, 5, 3, 1, 0}, {0, 0, 0, 0, 0, 0, 0}}},
    {"row 1 backward",
     dkJarvisJudiceNinke,
     1,
     3,
     {{0, 0, 0, 0, 0, 0, 0},
      {0, 5, 7, 0, 0, 0, 0},
      {0, 3, 5, 7, 5, 3, 0},
      {0, 1, 3, 5, 3, 1, 0},
      {0, 0, 0, 0, 0, 0, 0}}},
    {"last column forward",
     dkJarvisJudiceNinke,
     0,
     6,
     {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 3, 5, 7}, {0, 0, 0, 0, 1, 3, 5}, {0, 0, 0, 0, 0, 0, 0}}},

    {"row 0 forward", dkBurkes, 0, 3, {{0, 0, 0, 0, 8, 4, 0}, {0, 2, 4, 8, 4, 2, 0}, {0, 0, 0, 0, 0, 0, 0}}},
    {"row 1 backward",
     dkBurkes,
     1,
     3,
     {{0, 0, 0, 0, 0, 0, 0}, {0, 4, 8, 0, 0, 0, 0}, {0, 2, 4, 8, 4, 2, 0}, {0, 0, 0, 0, 0, 0, 0}}},
    {"first column backward",
     dkBurkes,
     1,
     0,
     {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {8, 4, 2, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}}},

    {"row 0 forward",
     dkStevensonArce,
     0,
     3,
     {{0, 0, 0, 0, 0, 32, 0},
      {12, 0, 26, 0, 30, 0, 16},
      {0, 12, 0, 26, 0, 12, 0},
      {5, 0, 12, 0, 12, 0, 5},
      {0, 0, 0, 0, 0, 0, 0}}},
    {"row 1 backward",
     dkStevensonArce,
     1,
     3,
     {{0, 0, 0, 0, 0, 0, 0},
      {0, 32, 0, 0, 0, 0, 0},
      {16, 0, 30, 0, 26, 0, 12},
      {0, 12, 0, 26, 0, 12, 0},
      {5, 0, 12, 0, 12, 0, 5},
      {0, 0, 0, 0, 0, 0, 0}}},
    {"second column forward",
     dkStevensonArce,
     0,
     1,
     {{0, 0, 0, 32, 0, 0, 0},
      {26, 0, 30, 0, 16, 0, 0},
      {0, 26, 0, 12, 0, 0, 0},
      {12, 0, 12, 0, 5, 0, 0},
      {0, 0, 0, 0, 0, 0, 0}}},
    {"sixth column backward",
     dkStevensonArce,
     1,
     5,
     {{0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 32, 0, 0, 0},
      {0, 0, 16, 0, 30, 0, 26},
      {0, 0, 0, 12, 0, 26, 0},
      {0, 0, 5, 0, 12, 0, 12},
      {0, 0, 0, 0, 0, 0, 0}}},

    // Width 1: every share beside the pixel is lost; those sent straight down arrive.
    {"width 1", dkFloydSteinberg, 0, 0, {{0}, {5}, {0}, {0}}},
    {"width 1", dkStucki, 0, 0, {{0}, {8}, {4}, {0}}},
    {"width 1", dkSierra, 0, 0, {{0}, {5}, {3}, {0}}},
    {"width 1", dkJarvisJudiceNinke, 0, 0, {{0}, {7}, {5}, {0}}},
    {"width 1", dkBurkes, 0, 0, {{0}, {8}, {0}, {0}}},
    {"width 1", dkStevensonArce, 0, 0, {{0}, {0}, {26}, {0}, {0}}},
};

TEST(Ditherer, EachKernelSpreadsItsWeightsMirroredOnBackwardRowsAndDropsSharesPastTheEdges) {
    for (const auto& c : KernelCases) {
        SCOPED_TRACE(std::string(KindName(c.kind)) + ", " + c.what);
        const int width = static_cast<int>(c.shares[0].size()), height = static_cast<int>(c.shares.size());
        const int divisor = DivisorOf(c.kind);
        ScriptedLookup lookup;
        lookup.AnswerAt[CallOf(c.row, c.column, width)] = {220 - divisor, 220, 220 - divisor};
        auto ditherer = CreateDitherer(c.kind, width, &lookup);
        const DitherRun run = Drive(*ditherer, lookup, Flat(width, height, {220, 220, 220}));
        Grid<int> red(height, std::vector<int>(width)), green = red, blue = red;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                red[y][x] = run.requested[y][x].r - 220;
                green[y][x] = run.requested[y][x].g - 220;
                blue[y][x] = run.requested[y][x].b - 220;
            }
        EXPECT_EQ(red, c.shares);
        EXPECT_EQ(blue, c.shares);
        EXPECT_EQ(green, Grid<int>(height, std::vector<int>(width, 0)));
    }
}

// --- Arithmetic ----------------------------------------------------------------

// The first pixel of a flat 128 row leaves the error e; the pixel at `receiver` asks for
// 128 + (weight * e + half) / divisor, the division truncating toward zero.
struct RoundingCase {
    TDitherKind kind;
    int error, receiver, expectedShare;
};

TEST(Ditherer, SharesRoundByAddingHalfTheDivisorAndTruncatingTowardZero) {
    const RoundingCase cases[] = {
        {dkFloydSteinberg, 1, 1, 0},  {dkFloydSteinberg, 2, 1, 1},    // 22 / 16
        {dkFloydSteinberg, -1, 1, 0}, {dkFloydSteinberg, -2, 1, 0},   // -6 / 16 is 0, not -1
        {dkFloydSteinberg, -3, 1, 0}, {dkFloydSteinberg, -4, 1, -1},  // -20 / 16
        {dkStucki, 2, 1, 0},          {dkStucki, 3, 1, 1},            // 45 / 42
        {dkStucki, -5, 1, 0},         {dkStucki, -8, 1, -1},          // -19 / 42, -43 / 42
        {dkStevensonArce, 3, 2, 0},   {dkStevensonArce, 4, 2, 1},     // 228 / 200
        {dkStevensonArce, -4, 2, 0},  {dkStevensonArce, -10, 2, -1},  // -28 / 200, -220 / 200
        {dkStevensonArce, 100, 1, 0},                                 // no weight right beside
        {dkBurkes, -2, 2, 0},         {dkBurkes, -5, 2, 0},           // -8 + 16, -20 + 16
        {dkBurkes, -13, 2, -1},                                       // -52 + 16 = -36
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(KindName(c.kind)) + " error " + std::to_string(c.error));
        ScriptedLookup lookup;
        lookup.AnswerAt[0] = {128 - c.error, 128 - c.error, 128 - c.error};
        auto ditherer = CreateDitherer(c.kind, 5, &lookup);
        const DitherRun run = Drive(*ditherer, lookup, Flat(5, 1, {128, 128, 128}));
        EXPECT_EQ(run.requested[0][c.receiver],
                  (Rgb{128 + c.expectedShare, 128 + c.expectedShare, 128 + c.expectedShare}));
    }
}

TEST(Ditherer, MidGrayInBlackAndWhitePassesMinus127ToItsNeighbour) {
    TMonochromeLookup mono(nullptr);
    ScriptedLookup lookup(&mono);
    TFloydSteinbergDitherer ditherer(2, &lookup);
    const DitherRun run = Drive(ditherer, lookup, Flat(2, 1, {128, 128, 128}));
    EXPECT_EQ(run.indices[0], (std::vector<int>{1, 0}));
    EXPECT_EQ(run.requested[0][1], (Rgb{73, 73, 73}));  // 128 + (-889 + 8) / 16
}

// Corrected values clamp to 0..255, and the error is measured from the clamped value.
struct ClampCase {
    const char* what;
    TDitherKind kind;
    std::vector<int> row;        // gray inputs of one row
    std::map<int, int> answers;  // call -> gray answered
    std::vector<int> expected;   // gray asked for at each pixel
};

TEST(Ditherer, CorrectedValuesClampAndPassOnTheClampedError) {
    const ClampCase cases[] = {
        {"above 255", dkFloydSteinberg, {255, 200, 100}, {{0, 0}, {1, 0}}, {255, 255, 212}},
        {"below 0", dkFloydSteinberg, {0, 50, 150}, {{0, 255}, {1, 255}}, {0, 0, 39}},
        {"above 255", dkBurkes, {255, 200, 100}, {{0, 0}, {1, 0}}, {255, 255, 196}},
        {"below 0", dkBurkes, {0, 50, 150}, {{0, 255}, {1, 255}}, {0, 0, 55}},
        {"above 255", dkStevensonArce, {255, 255, 240, 100, 100}, {{0, 0}, {2, 0}}, {255, 255, 255, 100, 141}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(KindName(c.kind)) + " " + c.what);
        ScriptedLookup lookup;
        for (const auto& [call, gray] : c.answers) lookup.AnswerAt[call] = {gray, gray, gray};
        Picture picture(1);
        for (int v : c.row) picture[0].push_back({v, v, v});
        auto ditherer = CreateDitherer(c.kind, static_cast<int>(c.row.size()), &lookup);
        const DitherRun run = Drive(*ditherer, lookup, picture);
        for (size_t x = 0; x < c.row.size(); ++x) EXPECT_EQ(run.requested[0][x].r, c.expected[x]) << "pixel " << x;
    }
}

// --- Walking the rows ----------------------------------------------------------

TEST(Ditherer, RowsRunForwardThenBackwardFromTheRightEnd) {
    for (int k = dkNone; k <= dkBurkes; ++k) {
        const auto kind = static_cast<TDitherKind>(k);
        SCOPED_TRACE(KindName(kind));
        ScriptedLookup lookup;
        auto ditherer = CreateDitherer(kind, 4, &lookup);
        EXPECT_EQ(ditherer->Width(), 4);
        const int expected[][3] = {{1, 0, 4}, {-1, 3, -1}, {1, 0, 4}};  // direction, first column, column after
        for (const auto& row : expected) {
            EXPECT_EQ(ditherer->Direction(), row[0]);
            EXPECT_EQ(ditherer->Column(), row[1]);
            uint8_t r, g, b;
            for (int x = 0; x < 4; ++x) ditherer->DitherPixel(10, 20, 30, r, g, b);
            EXPECT_EQ(ditherer->Column(), row[2]);
            ditherer->NextRow();
        }
    }
}

// Passing over a pixel moves only the column; the next mapped pixel reads the error meant for
// the skipped one.
TEST(Ditherer, StepColumnLeavesTheErrorPositionsWhereTheyWere) {
    const struct {
        TDitherKind kind;
        int share;
    } cases[] = {{dkFloydSteinberg, 7}, {dkStucki, 8}, {dkSierra, 5}, {dkBurkes, 8}, {dkStevensonArce, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(KindName(c.kind));
        const int divisor = DivisorOf(c.kind);
        ScriptedLookup lookup;
        lookup.AnswerAt[0] = {220 - divisor, 220 - divisor, 220 - divisor};
        auto ditherer = CreateDitherer(c.kind, 5, &lookup);
        uint8_t r, g, b;
        ditherer->DitherPixel(220, 220, 220, r, g, b);
        ditherer->StepColumn();
        EXPECT_EQ(ditherer->Column(), 2);
        ditherer->DitherPixel(220, 220, 220, r, g, b);
        EXPECT_EQ(ditherer->Column(), 3);
        EXPECT_EQ(lookup.Requests.back().r, 220 + c.share);
    }
}

// More pixels than the width in one row: the extra ones are mapped without error, and the
// next row gets only the shares of the pixels inside the row.
TEST(Ditherer, PixelsBeyondTheRowAreMappedPlainlyAndDisturbNothing) {
    const struct {
        TDitherKind kind;
        int nextInRow;
        std::vector<int> belowInVisitOrder;  // row 1 runs backward: column 1, then column 0
    } cases[] = {
        {dkFloydSteinberg, 7, {1, 5}},
        {dkBurkes, 8, {4, 8}},
        {dkStucki, 8, {4, 8}},
        {dkStevensonArce, 0, {30, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(KindName(c.kind));
        const int divisor = DivisorOf(c.kind);
        ScriptedLookup lookup;
        for (int call : {0, 2, 3, 4}) lookup.AnswerAt[call] = {220 - divisor, 220 - divisor, 220 - divisor};
        auto ditherer = CreateDitherer(c.kind, 2, &lookup);
        uint8_t r, g, b;
        for (int i = 0; i < 5; ++i) ditherer->DitherPixel(220, 220, 220, r, g, b);
        ditherer->NextRow();
        for (int i = 0; i < 2; ++i) ditherer->DitherPixel(220, 220, 220, r, g, b);
        std::vector<int> asked;
        for (const Rgb& request : lookup.Requests) asked.push_back(request.r - 220);
        EXPECT_EQ(asked, (std::vector<int>{0, c.nextInRow, 0, 0, 0, c.belowInVisitOrder[0], c.belowInVisitOrder[1]}));
    }
}

// Whole pictures against the reference diffusion, through real lookups: every kind, widths
// from 1 up, rows enough for the deepest kernel to reach past the last row.
TEST(Ditherer, EveryKindMatchesTheReferenceDiffusionOverWholePictures) {
    const std::vector<Rgb> grays = GrayRamp(16);
    OwnedPalette grayPalette(grays);
    const struct { int width, height; } sizes[] = {{1, 5}, {2, 4}, {7, 9}, {33, 8}};
    for (int k = dkNone; k <= dkBurkes; ++k)
        for (const auto& size : sizes)
            for (int which = 0; which < 3; ++which) {
                const auto kind = static_cast<TDitherKind>(k);
                SCOPED_TRACE(std::string(KindName(kind)) + ", " + std::to_string(size.width) + " x " +
                             std::to_string(size.height) + ", lookup " + std::to_string(which));
                model::Picture picture(size.height, std::vector<Rgb>(size.width));
                for (int y = 0; y < size.height; ++y)
                    for (int x = 0; x < size.width; ++x)
                        picture[y][x] = {(x * 37 + y * 11) % 256, (200 - x * 5 + y * 19) & 0xFF,
                                         (x * y * 7 + 90) % 256};
                std::unique_ptr<TColorLookup> lookup;
                std::unique_ptr<model::Lookup> reference;
                if (which == 0) {
                    lookup = std::make_unique<TNetscapeColorLookup>(nullptr);
                    reference = std::make_unique<model::WebLookup>();
                } else if (which == 1) {
                    lookup = std::make_unique<TMonochromeLookup>(nullptr);
                    reference = std::make_unique<model::MonochromeLookup>();
                } else {
                    lookup = std::make_unique<TFastColorLookup>(grayPalette.get());
                    reference = std::make_unique<model::FastLookup>(grays);
                }
                auto ditherer = CreateDitherer(kind, size.width, lookup.get());
                Grid<int> got(size.height, std::vector<int>(size.width, -1));
                for (int y = 0; y < size.height; ++y) {
                    for (int x = ditherer->Column(); x >= 0 && x < size.width; x = ditherer->Column()) {
                        const Rgb& p = picture[y][x];
                        uint8_t r, g, b;
                        got[y][x] = ditherer->DitherPixel(static_cast<uint8_t>(p.r), static_cast<uint8_t>(p.g),
                                                          static_cast<uint8_t>(p.b), r, g, b);
                    }
                    ditherer->NextRow();
                }
                EXPECT_EQ(got, model::Dither(picture, k, *reference));
            }
}

TEST(Ditherer, PlainEngineCarriesNoErrorAndAnswersTheSameIndexForTheSameColour) {
    OwnedPalette web(CreateWebSafePalette());
    TNetscapeColorLookup netscape(web.get());
    ScriptedLookup lookup(&netscape);
    lookup.AnswerAt[0] = {0, 0, 0};
    TDitherEngine ditherer(3, &lookup);
    const Picture picture = {{{250, 250, 250}, {100, 150, 200}, {100, 150, 200}},
                             {{100, 150, 200}, {100, 150, 200}, {100, 150, 200}}};
    const DitherRun run = Drive(ditherer, lookup, picture);
    EXPECT_EQ(run.requested, picture);
    const int index = 2 * 36 + 3 * 6 + 3;
    EXPECT_EQ(run.indices, (Grid<int>{{0, index, index}, {index, index, index}}));
}

// A lookup that writes no colour leaves the pixel without error.
TEST(Ditherer, ALookupThatWritesNoColourSpreadsNoError) {
    for (TDitherKind kind : DiffusionKinds) {
        SCOPED_TRACE(KindName(kind));
        SilentLookup lookup;
        auto ditherer = CreateDitherer(kind, 3, &lookup);
        const Picture picture = {{{10, 200, 30}, {40, 50, 60}, {70, 80, 90}}, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}};
        const DitherRun run = Drive(*ditherer, lookup, picture);
        EXPECT_EQ(run.requested, picture);
        EXPECT_EQ(run.indices, (Grid<int>{{7, 7, 7}, {7, 7, 7}}));
    }
}

// Error diffusion keeps a flat area's mean: the share of white pixels follows the gray level.
TEST(Ditherer, FlatGrayInBlackAndWhiteKeepsItsMeanLevel) {
    TMonochromeLookup mono(nullptr);
    for (TDitherKind kind : DiffusionKinds)
        for (int level : {32, 64, 128, 192, 224}) {
            SCOPED_TRACE(std::string(KindName(kind)) + " level " + std::to_string(level));
            ScriptedLookup lookup(&mono);
            auto ditherer = CreateDitherer(kind, 128, &lookup);
            const DitherRun run = Drive(*ditherer, lookup, Flat(128, 128, {level, level, level}));
            int white = 0;
            for (const auto& row : run.indices)
                for (int index : row) white += index;
            EXPECT_NEAR(white * 255.0 / (128 * 128), level, 3.0);
        }
}

TEST(Ditherer, FlatColourInTheWebPaletteKeepsItsMeanColour) {
    TNetscapeColorLookup netscape(nullptr);
    const Rgb color{100, 150, 230};
    for (TDitherKind kind : DiffusionKinds) {
        SCOPED_TRACE(KindName(kind));
        ScriptedLookup lookup(&netscape);
        auto ditherer = CreateDitherer(kind, 32, &lookup);
        const DitherRun run = Drive(*ditherer, lookup, Flat(32, 32, color));
        double sum[3] = {0, 0, 0};
        for (const auto& row : run.indices)
            for (int index : row) {
                sum[0] += index / 36 * 51;
                sum[1] += index / 6 % 6 * 51;
                sum[2] += index % 6 * 51;
            }
        EXPECT_NEAR(sum[0] / 1024, color.r, 3.0);
        EXPECT_NEAR(sum[1] / 1024, color.g, 3.0);
        EXPECT_NEAR(sum[2] / 1024, color.b, 3.0);
    }
}

// --- Construction --------------------------------------------------------------

TEST(Ditherer, RefusesANegativeWidthOrAMissingLookup) {
    TGrayScaleLookup gray(nullptr);
    const struct {
        const char* what;
        int width;
        TColorLookup* lookup;
        const char* message;
    } cases[] = {{"width -1", -1, &gray, sInvalidImageDimensions}, {"no lookup", 4, nullptr, sNoDitherLookup}};
    for (int k = dkNone; k <= dkBurkes; ++k)
        for (const auto& c : cases) {
            const auto kind = static_cast<TDitherKind>(k);
            SCOPED_TRACE(std::string(KindName(kind)) + ", " + c.what);
            try {
                CreateDitherer(kind, c.width, c.lookup);
                ADD_FAILURE() << "no exception";
            } catch (const GIFException& e) {
                EXPECT_STREQ(e.what(), c.message);
            }
        }
}

TEST(Ditherer, WidthZeroMapsNothingAndStillTurnsRows) {
    TGrayScaleLookup gray(nullptr);
    for (int k = dkNone; k <= dkBurkes; ++k) {
        const auto kind = static_cast<TDitherKind>(k);
        SCOPED_TRACE(KindName(kind));
        auto ditherer = CreateDitherer(kind, 0, &gray);
        for (int row = 0; row < 4; ++row) {
            EXPECT_EQ(ditherer->Column(), row % 2 == 0 ? 0 : -1);
            ditherer->NextRow();
        }
    }
}

TEST(Ditherer, EachDitherModeMakesItsClass) {
    TGrayScaleLookup gray(nullptr);
    auto is = [&](TDitherKind kind, auto* sample) {
        auto ditherer = CreateDitherer(kind, 3, &gray);
        return dynamic_cast<decltype(sample)>(ditherer.get()) != nullptr;
    };
    EXPECT_TRUE(is(dkFloydSteinberg, static_cast<TFloydSteinbergDitherer*>(nullptr)));
    EXPECT_TRUE(is(dkStucki, static_cast<TStuckiDitherer*>(nullptr)));
    EXPECT_TRUE(is(dkSierra, static_cast<TSierraDitherer*>(nullptr)));
    EXPECT_TRUE(is(dkJarvisJudiceNinke, static_cast<TJaJuNiDitherer*>(nullptr)));
    EXPECT_TRUE(is(dkStevensonArce, static_cast<TSteveArcheDitherer*>(nullptr)));
    EXPECT_TRUE(is(dkBurkes, static_cast<TBurkesDitherer*>(nullptr)));
    auto plain = CreateDitherer(dkNone, 3, &gray);
    EXPECT_EQ(typeid(*plain), typeid(TDitherEngine));
    EXPECT_EQ(CreateDitherer(static_cast<TDitherKind>(7), 3, &gray), nullptr);
    EXPECT_EQ(static_cast<T5by3Ditherer&>(*CreateDitherer(dkStucki, 3, &gray)).Divisor(), 42);
    EXPECT_EQ(static_cast<T5by3Ditherer&>(*CreateDitherer(dkSierra, 3, &gray)).Divisor(), 32);
    EXPECT_EQ(static_cast<T5by3Ditherer&>(*CreateDitherer(dkJarvisJudiceNinke, 3, &gray)).Divisor(), 48);
}

}  // namespace
