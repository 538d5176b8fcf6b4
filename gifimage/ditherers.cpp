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
            Position[line][channel] = rows_[line][channel] + Margin;
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
        for (int line = 0; line < Lines; ++line) Position[line][channel] = rows_[line][channel] + first;
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

// --- 5 by 3 kernels ------------------------------------------------------------

T5by3Ditherer::T5by3Ditherer(int32_t width, TColorLookup* lookup) : TDitherEngine(width, lookup), rows_(width) {}

uint8_t T5by3Ditherer::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                   uint8_t& outBlue) {
    return DitherWithRows(rows_, divisor_, red, green, blue, outRed, outGreen, outBlue, [this](int c, int32_t e) {
        SpreadError(rows_.Position[0][c], rows_.Position[1][c], rows_.Position[2][c], e);
    });
}

void T5by3Ditherer::NextRow() {
    TDitherEngine::NextRow();
    rows_.Rotate(Direction());
    direction2_ = 2 * Direction();
}

TStuckiDitherer::TStuckiDitherer(int32_t width, TColorLookup* lookup) : T5by3Ditherer(width, lookup) { divisor_ = 42; }

void TStuckiDitherer::SpreadError(int32_t* current, int32_t* next, int32_t* second, int32_t error) {
    const int32_t d = Direction(), d2 = direction2_;
    current[d] += 8 * error;
    current[d2] += 4 * error;
    next[-d2] += 2 * error;
    next[-d] += 4 * error;
    next[0] += 8 * error;
    next[d] += 4 * error;
    next[d2] += 2 * error;
    second[-d2] += error;
    second[-d] += 2 * error;
    second[0] += 4 * error;
    second[d] += 2 * error;
    second[d2] += error;
}

TSierraDitherer::TSierraDitherer(int32_t width, TColorLookup* lookup) : T5by3Ditherer(width, lookup) { divisor_ = 32; }

void TSierraDitherer::SpreadError(int32_t* current, int32_t* next, int32_t* second, int32_t error) {
    const int32_t d = Direction(), d2 = direction2_;
    current[d] += 5 * error;
    current[d2] += 3 * error;
    next[-d2] += 2 * error;
    next[-d] += 4 * error;
    next[0] += 5 * error;
    next[d] += 4 * error;
    next[d2] += 2 * error;
    second[-d] += 2 * error;
    second[0] += 3 * error;
    second[d] += 2 * error;
}

TJaJuNiDitherer::TJaJuNiDitherer(int32_t width, TColorLookup* lookup) : T5by3Ditherer(width, lookup) { divisor_ = 48; }

void TJaJuNiDitherer::SpreadError(int32_t* current, int32_t* next, int32_t* second, int32_t error) {
    const int32_t d = Direction(), d2 = direction2_;
    current[d] += 7 * error;
    current[d2] += 5 * error;
    next[-d2] += 3 * error;
    next[-d] += 5 * error;
    next[0] += 7 * error;
    next[d] += 5 * error;
    next[d2] += 3 * error;
    second[-d2] += error;
    second[-d] += 3 * error;
    second[0] += 5 * error;
    second[d] += 3 * error;
    second[d2] += error;
}

// --- Stevenson-Arce ------------------------------------------------------------

TSteveArcheDitherer::TSteveArcheDitherer(int32_t width, TColorLookup* lookup)
    : TDitherEngine(width, lookup)
    , rows_(width) {}

uint8_t TSteveArcheDitherer::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                         uint8_t& outBlue) {
    return DitherWithRows(rows_, 200, red, green, blue, outRed, outGreen, outBlue, [this](int c, int32_t e) {
        SpreadError(rows_.Position[0][c], rows_.Position[1][c], rows_.Position[2][c], rows_.Position[3][c], e);
    });
}

void TSteveArcheDitherer::NextRow() {
    TDitherEngine::NextRow();
    rows_.Rotate(Direction());
    direction2_ = 2 * Direction();
    direction3_ = 3 * Direction();
}

void TSteveArcheDitherer::SpreadError(int32_t* current, int32_t* next, int32_t* second, int32_t* third, int32_t error) {
    const int32_t d = Direction(), d2 = direction2_, d3 = direction3_;
    current[d2] += 32 * error;
    next[-d3] += 12 * error;
    next[-d] += 26 * error;
    next[d] += 30 * error;
    next[d3] += 16 * error;
    second[-d2] += 12 * error;
    second[0] += 26 * error;
    second[d2] += 12 * error;
    third[-d3] += 5 * error;
    third[-d] += 12 * error;
    third[d] += 12 * error;
    third[d3] += 5 * error;
}

// --- Burkes --------------------------------------------------------------------

TBurkesDitherer::TBurkesDitherer(int32_t width, TColorLookup* lookup) : TDitherEngine(width, lookup), rows_(width) {}

uint8_t TBurkesDitherer::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                     uint8_t& outBlue) {
    return DitherWithRows(rows_, 32, red, green, blue, outRed, outGreen, outBlue,
                          [this](int c, int32_t e) { SpreadError(rows_.Position[0][c], rows_.Position[1][c], e); });
}

void TBurkesDitherer::NextRow() {
    TDitherEngine::NextRow();
    rows_.Rotate(Direction());
    direction2_ = 2 * Direction();
}

void TBurkesDitherer::SpreadError(int32_t* current, int32_t* next, int32_t error) {
    const int32_t d = Direction(), d2 = direction2_;
    current[d] += 8 * error;
    current[d2] += 4 * error;
    next[-d2] += 2 * error;
    next[-d] += 4 * error;
    next[0] += 8 * error;
    next[d] += 4 * error;
    next[d2] += 2 * error;
}

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
