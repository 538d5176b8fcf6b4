// Ditherers: map a picture's pixels, one row at a time in serpentine order, to palette
// indices through a colour lookup; the error-diffusion kinds spread each pixel's error
// over the pixels not yet visited.
#pragma once
#include <cstdint>
#include <memory>
#include <type_traits>

#include "gifimage/colorreduction.h"
#include "gifimage/lookups.h"

// The plain engine: each pixel is mapped on its own.
class TDitherEngine {
public:
    // Raises GIFException for a negative width or a missing lookup; the lookup is not owned.
    TDitherEngine(int32_t width, TColorLookup* lookup);
    virtual ~TDitherEngine() = default;
    TDitherEngine(const TDitherEngine&) = delete;
    TDitherEngine& operator=(const TDitherEngine&) = delete;

    // Maps the pixel at the current column, writes the answered colour and steps the column.
    virtual uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                uint8_t& outBlue);
    // Ends the row; the next one runs the other way.
    virtual void NextRow();
    // Passes over one pixel: only the column moves.
    void StepColumn() { column_ += direction_; }

    int32_t Direction() const { return direction_; }
    int32_t Column() const { return column_; }
    int32_t Width() const { return width_; }

protected:
    // Adds (accumulated + divisor / 2) / divisor to each input, clamps to 0..255, maps the
    // result through the plain step and answers the error of each channel against the
    // lookup's colour. An output the lookup leaves alone counts as an error of 0.
    uint8_t MapCorrected(const int32_t accumulated[3], int32_t divisor, uint8_t red, uint8_t green, uint8_t blue,
                         uint8_t& outRed, uint8_t& outGreen, uint8_t& outBlue, int32_t errors[3]);
    // False once the row has had width pixels mapped: the error rows have no room for more.
    bool RowHasRoom() const { return pixelsInRow_ < width_; }
    // The steps of a row-based kernel: read the current row's numerators, map, spread every
    // channel's non-zero error with spread(channel, error), move the positions.
    template <class Rows, class Spread>
    uint8_t DitherWithRows(Rows& rows, int32_t divisor, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                           uint8_t& outGreen, uint8_t& outBlue, Spread spread) {
        if (!RowHasRoom()) return TDitherEngine::DitherPixel(red, green, blue, outRed, outGreen, outBlue);
        const int32_t accumulated[3] = {*rows.Position(0, 0), *rows.Position(0, 1), *rows.Position(0, 2)};
        int32_t errors[3];
        const uint8_t index = MapCorrected(accumulated, divisor, red, green, blue, outRed, outGreen, outBlue, errors);
        for (int channel = 0; channel < 3; ++channel)
            if (errors[channel] != 0) spread(channel, errors[channel]);
        rows.Advance(direction_);
        return index;
    }

private:
    int32_t direction_ = 1;
    int32_t column_ = 0;
    TColorLookup* lookup_;
    int32_t width_;
    int32_t pixelsInRow_ = 0;
};

// Error numerators of a kernel that reaches Lines rows (the current one included) down and
// Margin columns to each side. Column c of the picture is entry c + Margin of a row.
template <int Lines, int Margin>
class TErrorRows {
public:
    explicit TErrorRows(int32_t width);
    // Clears the current row, moves every row up one line, the cleared one to the bottom,
    // and places each position on the first column of the new row in that direction.
    void Rotate(int32_t direction);
    void Advance(int32_t direction) {
        for (auto& line : position_)
            for (int32_t*& p : line) p += direction;
    }
    // The numerator of the current column in a line (0 is the current row) and channel (red,
    // green, blue).
    int32_t* Position(int line, int channel) const { return position_[line][channel]; }

private:
    int32_t* position_[Lines][3];
    int32_t width_;
    std::unique_ptr<int32_t[]> storage_[Lines][3];
    int32_t* rows_[Lines][3];
};

class TFloydSteinbergDitherer : public TDitherEngine {
public:
    TFloydSteinbergDitherer(int32_t width, TColorLookup* lookup);
    uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                        uint8_t& outBlue) override;
    void NextRow() override;

private:
    void PlacePosition();

    std::unique_ptr<int32_t[]> errorRows_[3];
    int32_t* position_[3];
    // Between pixels: the 7/16 share carried to the next pixel of the row.
    int32_t working_[3] = {0, 0, 0};
    int32_t lastError_[3] = {0, 0, 0};
    int32_t pendingSum_[3] = {0, 0, 0};
};

// The weights of a row-based kernel that reaches Lines rows down (the current one included)
// and Margin columns to each side: Weights[line][Margin + offset], where an offset counts in the
// scan direction, so that [0][Margin] is the pixel itself. Divisor is the sum of the weights.
template <int LinesDown, int MarginColumns>
struct TDitherKernel {
    static constexpr int Lines = LinesDown;
    static constexpr int Margin = MarginColumns;
    static constexpr int Columns = 2 * Margin + 1;
    int32_t Divisor;
    int32_t Weights[Lines][Columns];
};

// clang-format off
inline constexpr TDitherKernel<3, 2> kStuckiKernel{42, {
    {0, 0, 0, 8, 4},
    {2, 4, 8, 4, 2},
    {1, 2, 4, 2, 1}}};
inline constexpr TDitherKernel<3, 2> kSierraKernel{32, {
    {0, 0, 0, 5, 3},
    {2, 4, 5, 4, 2},
    {0, 2, 3, 2, 0}}};
inline constexpr TDitherKernel<3, 2> kJarvisJudiceNinkeKernel{48, {
    {0, 0, 0, 7, 5},
    {3, 5, 7, 5, 3},
    {1, 3, 5, 3, 1}}};
inline constexpr TDitherKernel<4, 3> kStevensonArceKernel{200, {
    { 0,  0,  0,  0,  0, 32,  0},
    {12,  0, 26,  0, 30,  0, 16},
    { 0, 12,  0, 26,  0, 12,  0},
    { 5,  0, 12,  0, 12,  0,  5}}};
inline constexpr TDitherKernel<2, 2> kBurkesKernel{32, {
    {0, 0, 0, 8, 4},
    {2, 4, 8, 4, 2}}};
// clang-format on

// The error rows of the kernels that keep one row of numerators per kernel line.
template <int Lines, int Margin>
class TRowDitherer : public TDitherEngine {
public:
    void NextRow() override;
    int32_t Divisor() const { return divisor_; }

protected:
    TRowDitherer(int32_t width, TColorLookup* lookup, int32_t divisor);
    // The error numerators the kernel spreads into.
    TErrorRows<Lines, Margin>& Rows() { return rows_; }

private:
    TErrorRows<Lines, Margin> rows_;
    int32_t divisor_;
};

// The rows of the three 5-wide, 3-row kernels.
using T5by3Ditherer = TRowDitherer<3, 2>;

template <const auto& Kernel>
using TRowsOfKernel =
    TRowDitherer<std::remove_cvref_t<decltype(Kernel)>::Lines, std::remove_cvref_t<decltype(Kernel)>::Margin>;

// The one engine of the row-based kernels: the current row's numerator corrects the pixel, and
// the pixel's error goes to the places Kernel weighs, mirrored on backward rows.
template <const auto& Kernel>
class TKernelDitherer : public TRowsOfKernel<Kernel> {
public:
    TKernelDitherer(int32_t width, TColorLookup* lookup);
    uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                        uint8_t& outBlue) override;

private:
    void SpreadError(int channel, int32_t error);
};

using TStuckiDitherer = TKernelDitherer<kStuckiKernel>;
using TSierraDitherer = TKernelDitherer<kSierraKernel>;
using TJaJuNiDitherer = TKernelDitherer<kJarvisJudiceNinkeKernel>;
using TSteveArcheDitherer = TKernelDitherer<kStevensonArceKernel>;
using TBurkesDitherer = TKernelDitherer<kBurkesKernel>;

// Made once, in ditherers.cpp.
extern template class TKernelDitherer<kStuckiKernel>;
extern template class TKernelDitherer<kSierraKernel>;
extern template class TKernelDitherer<kJarvisJudiceNinkeKernel>;
extern template class TKernelDitherer<kStevensonArceKernel>;
extern template class TKernelDitherer<kBurkesKernel>;

// The ditherer a dither mode names, or none for a mode above dkBurkes.
std::unique_ptr<TDitherEngine> CreateDitherer(TDitherKind kind, int32_t width, TColorLookup* lookup);
