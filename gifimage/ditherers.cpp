#include "gifimage/ditherers.h"

#include <algorithm>

#include "gifimage/giferror.h"
#include "gifimage/messages.h"

// --- Plain engine --------------------------------------------------------------

TDitherEngine::TDitherEngine(int32_t width, TColorLookup* lookup) : lookup_(lookup), width_(width) {
    if (width < 0) RaiseGIFError(sInvalidImageDimensions);
    if (!lookup) RaiseGIFError(sNoDitherLookup);
}

uint8_t TDitherEngine::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                   uint8_t& outBlue) {
    const uint8_t index = lookup_->MatchColor(red, green, blue, outRed, outGreen, outBlue);
    StepColumn();
    return index;
}

void TDitherEngine::NextRow() {
    direction_ = -direction_;
    column_ = direction_ > 0 ? 0 : width_ - 1;
    pixelsInRow_ = 0;
}

uint8_t TDitherEngine::MapCorrected(const int32_t accumulated[3], int32_t divisor, uint8_t red, uint8_t green,
                                    uint8_t blue, uint8_t& outRed, uint8_t& outGreen, uint8_t& outBlue,
                                    int32_t errors[3]) {
    const uint8_t inputs[3] = {red, green, blue};
    const int32_t half = divisor / 2;
    uint8_t values[3];
    for (int channel = 0; channel < 3; ++channel) {
        const int32_t value = inputs[channel] + (accumulated[channel] + half) / divisor;
        values[channel] = static_cast<uint8_t>(std::clamp(value, 0, 255));
    }
    outRed = values[0];
    outGreen = values[1];
    outBlue = values[2];
    const uint8_t index = TDitherEngine::DitherPixel(values[0], values[1], values[2], outRed, outGreen, outBlue);
    errors[0] = values[0] - outRed;
    errors[1] = values[1] - outGreen;
    errors[2] = values[2] - outBlue;
    ++pixelsInRow_;
    return index;
}

// --- Error rows ----------------------------------------------------------------

template <int Lines, int Margin>
TErrorRows<Lines, Margin>::TErrorRows(int32_t width) : width_(width) {
    for (int line = 0; line < Lines; ++line)
        for (int channel = 0; channel < 3; ++channel) {
            storage_[line][channel].reset(new int32_t[width + 2 * Margin]());
            rows_[line][channel] = storage_[line][channel].get();
            position_[line][channel] = rows_[line][channel] + Margin;
        }
}

template <int Lines, int Margin>
void TErrorRows<Lines, Margin>::Rotate(int32_t direction) {
    const int32_t first = direction > 0 ? Margin : width_ - 1 + Margin;
    for (int channel = 0; channel < 3; ++channel) {
        int32_t* cleared = rows_[0][channel];
        std::fill(cleared, cleared + width_ + 2 * Margin, 0);
        for (int line = 0; line + 1 < Lines; ++line) rows_[line][channel] = rows_[line + 1][channel];
        rows_[Lines - 1][channel] = cleared;
        for (int line = 0; line < Lines; ++line) position_[line][channel] = rows_[line][channel] + first;
    }
}

// --- Floyd-Steinberg -----------------------------------------------------------

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int32_t width, TColorLookup* lookup) : TDitherEngine(width, lookup) {
    for (auto& row : errorRows_) row.reset(new int32_t[width + 2]());
    PlacePosition();
}

// Left to right, column c is entry c; right to left, entry c + 1.
void TFloydSteinbergDitherer::PlacePosition() {
    const int32_t first = Direction() > 0 ? 0 : Width();
    for (int channel = 0; channel < 3; ++channel) position_[channel] = errorRows_[channel].get() + first;
}

// The entry just read takes the finished next-row sum of the column behind the pixel
// (1 share of the pixel two behind, 5 of the one behind, 3 of this one); 7 shares go on.
uint8_t TFloydSteinbergDitherer::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                                             uint8_t& outGreen, uint8_t& outBlue) {
    if (!RowHasRoom()) return TDitherEngine::DitherPixel(red, green, blue, outRed, outGreen, outBlue);
    int32_t accumulated[3];
    for (int channel = 0; channel < 3; ++channel) accumulated[channel] = *position_[channel] + working_[channel];
    int32_t errors[3];
    const uint8_t index = MapCorrected(accumulated, 16, red, green, blue, outRed, outGreen, outBlue, errors);
    for (int channel = 0; channel < 3; ++channel) {
        const int32_t e = errors[channel];
        *position_[channel] = pendingSum_[channel] + 3 * e;
        pendingSum_[channel] = lastError_[channel] + 5 * e;
        lastError_[channel] = e;
        working_[channel] = 7 * e;
        position_[channel] += Direction();
    }
    return index;
}

void TFloydSteinbergDitherer::NextRow() {
    for (int channel = 0; channel < 3; ++channel) {
        *position_[channel] = pendingSum_[channel];
        working_[channel] = lastError_[channel] = pendingSum_[channel] = 0;
    }
    TDitherEngine::NextRow();
    PlacePosition();
}

// --- Row-based kernels ----------------------------------------------------------

template <int Lines, int Margin>
TRowDitherer<Lines, Margin>::TRowDitherer(int32_t width, TColorLookup* lookup, int32_t divisor)
    : TDitherEngine(width, lookup)
    , rows_(width)
    , divisor_(divisor) {}

template <int Lines, int Margin>
void TRowDitherer<Lines, Margin>::NextRow() {
    TDitherEngine::NextRow();
    rows_.Rotate(Direction());
}

template <const auto& Kernel>
TKernelDitherer<Kernel>::TKernelDitherer(int32_t width, TColorLookup* lookup)
    : TRowsOfKernel<Kernel>(width, lookup, Kernel.Divisor) {}

// Unrolled and inlined, so that every weight is a constant and the empty places of the kernel
// cost nothing.
template <const auto& Kernel>
[[gnu::always_inline]] inline void TKernelDitherer<Kernel>::SpreadError(int channel, int32_t error) {
    using K = std::remove_cvref_t<decltype(Kernel)>;
    const int32_t direction = this->Direction();
#pragma GCC unroll 8
    for (int line = 0; line < K::Lines; ++line) {
        int32_t* position = this->Rows().Position(line, channel);
#pragma GCC unroll 8
        for (int column = 0; column < K::Columns; ++column) {
            const int32_t weight = Kernel.Weights[line][column];
            if (weight != 0) position[(column - K::Margin) * direction] += weight * error;
        }
    }
}

template <const auto& Kernel>
uint8_t TKernelDitherer<Kernel>::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                                             uint8_t& outGreen, uint8_t& outBlue) {
    return this->DitherWithRows(this->Rows(), Kernel.Divisor, red, green, blue, outRed, outGreen, outBlue,
                                [this](int channel, int32_t error) { SpreadError(channel, error); });
}

namespace {
// A kernel's divisor is the sum of its weights: what a pixel sends on is exactly its error.
template <class K>
constexpr bool DivisorIsSumOfWeights(const K& kernel) {
    int32_t sum = 0;
    for (const auto& line : kernel.Weights)
        for (int32_t weight : line) sum += weight;
    return sum == kernel.Divisor;
}
static_assert(DivisorIsSumOfWeights(kStuckiKernel));
static_assert(DivisorIsSumOfWeights(kSierraKernel));
static_assert(DivisorIsSumOfWeights(kJarvisJudiceNinkeKernel));
static_assert(DivisorIsSumOfWeights(kStevensonArceKernel));
static_assert(DivisorIsSumOfWeights(kBurkesKernel));
}  // namespace

template class TRowDitherer<3, 2>;
template class TRowDitherer<4, 3>;
template class TRowDitherer<2, 2>;
template class TKernelDitherer<kStuckiKernel>;
template class TKernelDitherer<kSierraKernel>;
template class TKernelDitherer<kJarvisJudiceNinkeKernel>;
template class TKernelDitherer<kStevensonArceKernel>;
template class TKernelDitherer<kBurkesKernel>;

// --- Choice by dither mode -----------------------------------------------------

std::unique_ptr<TDitherEngine> CreateDitherer(TDitherKind kind, int32_t width, TColorLookup* lookup) {
    switch (kind) {
    case dkNone: return std::make_unique<TDitherEngine>(width, lookup);
    case dkFloydSteinberg: return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
    case dkStucki: return std::make_unique<TStuckiDitherer>(width, lookup);
    case dkSierra: return std::make_unique<TSierraDitherer>(width, lookup);
    case dkJarvisJudiceNinke: return std::make_unique<TJaJuNiDitherer>(width, lookup);
    case dkStevensonArce: return std::make_unique<TSteveArcheDitherer>(width, lookup);
    case dkBurkes: return std::make_unique<TBurkesDitherer>(width, lookup);
    }
    return nullptr;
}
