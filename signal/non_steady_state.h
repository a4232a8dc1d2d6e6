// Non-steady-state volumes at the start of a run: the first volumes of an
// acquisition, before the magnetisation settles, are much brighter than the
// rest. They are found as nipype's NonSteadyStateDetector finds them: the
// leading outliers of the mean intensity of the first volumes.
#ifndef TESSEL_SIGNAL_NON_STEADY_STATE_H
#define TESSEL_SIGNAL_NON_STEADY_STATE_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "fmr/fmr_header.h"

namespace tsl {

// The volumes the detection looks at: the first this many, or all of a
// shorter run.
inline constexpr std::size_t kNonSteadyStateWindow = 50;
// Iglewicz and Hoaglin's modified z-score: kModifiedZScoreFactor x
// |g - median| / the median absolute deviation; an outlier scores above
// kOutlierScore.
inline constexpr double kModifiedZScoreFactor = 0.6745;
inline constexpr double kOutlierScore = 3.5;

// The number of leading values of means whose modified z-score is above
// kOutlierScore: 0 when the first one is not, all of them when none is
// below. A median absolute deviation of 0 (more than half of the values
// equal) scores nothing and gives 0, as does an empty series.
std::size_t leadingOutliers(const std::vector<double>& means);

// The mean intensity of all voxels (no mask) of each of the first
// min(kNonSteadyStateWindow, NrOfVolumes) volumes of the run of header, in
// double precision, read slice by slice and only those volumes' images.
// Throws what StcSliceReader throws (the header checks, the STC file's
// opening, size and reading, values that are not finite numbers).
std::vector<double> leadingVolumeMeans(const FmrFileHeader& header);
// The same over the STC file's bytes in memory, named stcPathOf(header).
std::vector<double> leadingVolumeMeans(const FmrFileHeader& header, std::string_view stcBytes);

// The run's number of non-steady-state volumes: leadingOutliers of
// leadingVolumeMeans, with its errors.
std::size_t detectNonSteadyStateVolumes(const FmrFileHeader& header);
std::size_t detectNonSteadyStateVolumes(const FmrFileHeader& header, std::string_view stcBytes);

}  // namespace tsl

#endif
