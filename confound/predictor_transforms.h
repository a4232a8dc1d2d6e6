// In-place transforms of the predictor columns of a design matrix. Each
// transform visits the stored columns from first to last (their number is
// taken from the columns, not from NrOfPredictors) and appends its suffix to
// every predictor name, so that a written file tells how its columns were made.
// Nothing else of the document changes: colours, header entries, the path and
// the column lengths stay as they were.
//
// Arithmetic is single precision in a fixed order; a count n enters formulas
// as a float, sums run in index order from 0.
#ifndef TESSEL_CONFOUND_PREDICTOR_TRANSFORMS_H
#define TESSEL_CONFOUND_PREDICTOR_TRANSFORMS_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "designmatrix/sdm_document.h"

namespace tsl {

inline constexpr const char* kDetrendedSuffix = " detrended";
inline constexpr const char* kDerivativeSuffix = " derivative";
inline constexpr const char* kSquaredSuffix = " squared";
inline constexpr const char* kDelaySuffix = " t-";  // followed by the delay

// A column whose sample standard deviation is below this is only centred.
inline constexpr float kMinimumSpread = 0.0001f;

// Removes the least-squares straight line over the data-point index from
// every column. A column of one value becomes not-a-number (the slope's
// denominator is zero and is deliberately not guarded).
void detrendPredictors(SdmDocument& doc);
// REQUIRES (for both single-column forms): column < doc.columns.size() and
// doc.names.size() == doc.columns.size().
void detrendPredictor(SdmDocument& doc, std::size_t column);

// A straight line needs two points; detrending fewer gives not-a-number.
inline constexpr int kMinimumDetrendPoints = 2;

// For a task about to use the detrended series of doc: throws IOError
// "SDM file <path>: holds <n> data point(s), a detrended series needs at
// least 2" when NrOfDataPoints is below kMinimumDetrendPoints.
void requireDetrendable(const SdmDocument& doc);

// Central differences (o(i+1) - o(i-1)) * 0.5; the first and last values
// become exactly 0. An empty column keeps its (no) values; its name still
// gains the suffix.
void differentiatePredictors(SdmDocument& doc);
void differentiatePredictor(SdmDocument& doc, std::size_t column);

// Every value squared.
void squarePredictors(SdmDocument& doc);

// Shifts every column k data points later, filling the first k with 0; never
// wraps around (k >= the column length gives zeros).
void delayPredictors(SdmDocument& doc, unsigned k);
void delayPredictor(SdmDocument& doc, std::size_t column, unsigned k);

// Every column to z-scores: (v - mean) / sd, or (v - mean) when
// sd < kMinimumSpread (strictly). Names stay. A column of one value gives
// not-a-number values (sd is 0/0, and a not-a-number sd is used as divisor).
void standardizePredictors(SdmDocument& doc);

// (mean, sample standard deviation) of values: sum / n, then
// sqrtf(ss / (n - 1)) with ss the squared deviations from the float mean.
std::pair<float, float> meanAndStdDev(const std::vector<float>& values);

// Decimal text, as "%u" and "%d" write it.
std::string unsignedText(unsigned value);
std::string signedText(int value);

}  // namespace tsl

#endif
