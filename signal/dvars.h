// DVARS of a functional run (Power et al. 2012): the root mean square over
// the brain's voxels of each volume's change from the one before, and its
// standardised form (Nichols 2013), as nipype's compute_dvars gives them with
// fMRIPrep's settings (zero-variance voxels removed with a tolerance of 1e-7,
// intensities normalised to a median of 1000).
#ifndef TESSEL_SIGNAL_DVARS_H
#define TESSEL_SIGNAL_DVARS_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "fmr/fmr_header.h"

namespace tsl {

// The intensity the median of the masked values is scaled to.
inline constexpr double kDvarsIntensityScale = 1000.0;
// A voxel whose robust standard deviation (of the scaled values) is not
// above this counts as not varying, and is left out.
inline constexpr double kDvarsVarianceTolerance = 1e-7;
// The interquartile range of a normal distribution in standard deviations.
inline constexpr double kInterquartileSigmas = 1.349;

struct DvarsSeries {
  // One value per volume of the run, in tenths of a percent of the median:
  // dvars[t] and stdDvars[t] measure the change from volume t - 1 to t.
  // Volume 0 has no volume before it: its elements are 0 (what a plot
  // shows), not measures.
  std::vector<double> dvars;
  std::vector<double> stdDvars;
  std::size_t voxels = 0;  // the masked voxels that vary over time, which the means are over
  double median = 0.0;     // of all masked values of all volumes, in the file's units
};

// DVARS of the run of header, on the voxels of its first volume whose value
// is strictly above threshold (voxelMask), all volumes, in double precision
// from the file's values:
//   1. every value is divided by the median of all masked values of all
//      volumes and multiplied by kDvarsIntensityScale;
//   2. each voxel's robust standard deviation is (P75 - P25) /
//      kInterquartileSigmas, with numpy's "lower" percentiles of its series;
//   3. voxels whose robust standard deviation is not above
//      kDvarsVarianceTolerance are left out;
//   4. each voxel's expected standard deviation of its differences is
//      sqrt(2 (1 - a)) times its robust standard deviation, a its lag-1
//      Yule-Walker coefficient (lag1Autocorrelation);
//   5. dvars[t] = sqrt(mean over voxels of (v[t] - v[t - 1])^2), and
//      stdDvars[t] = dvars[t] / the mean over voxels of step 4's values.
// The STC file is read slice by slice, once for 16-bit data and twice for
// floats (whose median needs a second look), rarely a third time (a float
// run with a voxel whose variation is within the tolerance's reach of where
// the median lies), by up to two threads, each holding one slice's series;
// beyond those, memory is a few numbers per masked voxel and per slice and
// volume. The result does not depend on the number of threads.
//
// Throws what StcSliceReader throws (the header checks, the STC file's
// opening, size and reading, values that are not finite numbers); IOError
// "FMR file <fmr>: NrOfVolumes is 0, the run has no first volume"; and, <t>,
// <m> printed as the log prints numbers, IOError
//   "FMR file <fmr>: no voxel of the first volume is above the threshold of <t>",
//   "FMR file <fmr>: the median intensity in the mask is <m>; DVARS need a positive one",
//   "FMR file <fmr>: no voxel in the mask varies over time; DVARS cannot be computed"
// (the last for every masked voxel constant, or a run too short for its
// quartiles to differ: fewer than 3 volumes).
DvarsSeries computeDvars(const FmrFileHeader& header, float threshold);

// Sees every masked voxel's whole series once during computeDvars's first
// pass: what else is made of the voxel data (a carpet plot) costs no further
// read of the run. The slices are read by up to two threads: the voxels of
// one slice come from one thread, in mask order (row, then column), while
// another slice's may come at the same time from another.
class MaskedSeriesVisitor {
 public:
  virtual ~MaskedSeriesVisitor() = default;
  // Called once, before the first series: the mask's size, the volumes, and
  // per slice the index of its first masked voxel (then the mask's size).
  virtual void begin(std::size_t voxels, std::size_t volumes,
                     const std::vector<std::size_t>& sliceStarts) = 0;
  // voxel is the index in the mask of slice's voxel; series holds its value
  // in every volume, in time order.
  virtual void visit(std::size_t slice, std::size_t voxel, const float* series,
                     std::size_t volumes) = 0;
};

// computeDvars, showing each masked voxel's series to visitor (when not
// null); throws what the visitor throws as well.
DvarsSeries computeDvars(const FmrFileHeader& header, float threshold,
                         MaskedSeriesVisitor* visitor);

// computeDvars over the STC file's bytes in memory, named stcPathOf(header)
// in messages.
DvarsSeries computeDvars(const FmrFileHeader& header, float threshold, std::string_view stcBytes);

}  // namespace tsl

#endif
