#include "signal/dvars.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <locale>
#include <sstream>
#include <string>

#include "designmatrix/io_error.h"
#include "fmr/stc_slice_reader.h"
#include "fmr/voxel_mask.h"
#include "signal/exact_median.h"
#include "signal/voxel_series_terms.h"

namespace tsl {
namespace {

// Voxels whose series are gathered together from a slice's images, so that
// each image row is read once for several of them.
constexpr std::size_t kGatheredVoxels = 16;

// As the log prints numbers: default notation, six significant digits.
std::string numberText(double value) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << value;
  return text.str();
}

enum class VoxelState : std::uint8_t { pending, kept, dropped };

// The zero-variance rule, "robust standard deviation of the scaled values >
// tolerance", is spread / median > tolerance (VoxelSeriesTerms::spread) with
// the median unknown until the last pass, only bounded. As spread >
// tolerance x median it is monotone in the median, so the bounds decide most
// voxels early; a spread of 0 never varies. A median that is not positive is
// refused, so needs no decision.
VoxelState decide(double spread, double lowerMedian, double upperMedian) {
  if (spread == 0.0) return VoxelState::dropped;
  if (spread > kDvarsVarianceTolerance * upperMedian) return VoxelState::kept;
  if (lowerMedian > 0.0 && spread <= kDvarsVarianceTolerance * lowerMedian) {
    return VoxelState::dropped;
  }
  return VoxelState::pending;
}

// The passes over a run. 16-bit data: one pass computes each voxel's terms,
// counts every value for the median (whose range bounds decide every voxel:
// a spread is 0 or at least 1000 / 1.349 for integers, and the median at
// most 32767), and adds the kept voxels' differences. Float data: the first
// pass computes the terms and narrows the median; the second finds it
// exactly and adds the differences of the voxels its bounds decide; a third
// adds those of the few that needed the exact median.
class DvarsPasses {
 public:
  DvarsPasses(StcSliceReader& reader, const std::string& fmrPath, float threshold,
              MaskedSeriesVisitor* visitor = nullptr)
      : reader_(reader),
        visitor_(visitor),
        fmrPath_(fmrPath),
        volumes_(reader.volumes()),
        imageValues_(reader.imageValues()),
        median_(!reader.holdsFloats()),
        analyser_(!reader.holdsFloats()) {
    mask_ = voxelMask(reader.readFirstVolume(), threshold);
    if (mask_.empty()) {
      throw IOError("FMR file " + fmrPath + ": no voxel of the first volume is above the " +
                    "threshold of " + numberText(threshold));
    }
    const auto slices = static_cast<std::size_t>(reader.dims().z);
    for (std::size_t z = 0; z <= slices; ++z) {
      const auto first = static_cast<std::int64_t>(z * imageValues_);
      sliceStart_.push_back(static_cast<std::size_t>(
          std::lower_bound(mask_.begin(), mask_.end(), first) - mask_.begin()));
    }
    if (visitor_ != nullptr) visitor_->begin(mask_.size(), volumes_);
    spread_.assign(mask_.size(), 0.0);
    factor_.assign(mask_.size(), 0.0);
    state_.assign(mask_.size(), VoxelState::pending);
    squareSums_.assign(volumes_, 0.0);
  }

  DvarsSeries run() {
    bool first = true;
    while (first || !median_.known() ||
           std::find(state_.begin(), state_.end(), VoxelState::pending) != state_.end()) {
      pass(first);
      first = false;
      if (median_.endPass() && !(median_.median() > 0.0)) {
        throw IOError("FMR file " + fmrPath_ + ": the median intensity in the mask is " +
                      numberText(median_.median()) + "; DVARS need a positive one");
      }
    }
    return result();
  }

 private:
  // One read of the run, slice by slice: the first computes every voxel's
  // terms; each adds the differences of the voxels it decides to keep, and
  // counts the values while the median needs them.
  void pass(bool first) {
    const double lower = median_.lowerBound();
    const double upper = median_.upperBound();
    const bool countValues = !median_.known();
    for (std::size_t z = 0; z + 1 < sliceStart_.size(); ++z) {
      const std::size_t begin = sliceStart_[z];
      const std::size_t end = sliceStart_[z + 1];
      if (begin == end) continue;
      kept_.clear();
      if (!first) {
        for (std::size_t v = begin; v < end; ++v) {
          if (state_[v] != VoxelState::pending) continue;
          state_[v] = decide(spread_[v], lower, upper);
          if (state_[v] == VoxelState::kept) kept_.push_back(v);
        }
        if (!countValues && kept_.empty()) continue;
      }
      reader_.readSlice(z, series_);
      const std::size_t origin = z * imageValues_;
      if (first) {
        for (std::size_t v = begin; v < end; ++v) kept_.push_back(v);
        forEachSeries(origin, [&](std::size_t v, const float* series) {
          if (visitor_ != nullptr) visitor_->visit(series, volumes_);
          const VoxelSeriesTerms terms = analyser_.analyse(series, volumes_);
          spread_[v] = terms.spread;
          factor_[v] = terms.factor;
          if (countValues && analyser_.counted()) {
            median_.addCounts(analyser_.lowest(), analyser_.counts().data(),
                              analyser_.counts().size());
          } else if (countValues) {
            median_.add(series, volumes_);
          }
          state_[v] = decide(terms.spread, lower, upper);
          if (state_[v] == VoxelState::kept) {
            addSquaredDifferences(series, volumes_, squareSums_.data());
          }
        });
        continue;
      }
      if (countValues) countSliceValues(begin, end, origin);
      forEachSeries(origin, [&](std::size_t, const float* series) {
        addSquaredDifferences(series, volumes_, squareSums_.data());
      });
    }
  }

  // Calls work(v, series) for each voxel v of kept_, with its series of the
  // slice read (whose first voxel index is origin), gathered a few voxels at
  // a time from the images.
  template <typename Work>
  void forEachSeries(std::size_t origin, Work&& work) {
    for (std::size_t group = 0; group < kept_.size(); group += kGatheredVoxels) {
      const std::size_t members = std::min(kGatheredVoxels, kept_.size() - group);
      std::size_t offsets[kGatheredVoxels];
      for (std::size_t m = 0; m < members; ++m) {
        offsets[m] = static_cast<std::size_t>(mask_[kept_[group + m]]) - origin;
      }
      gathered_.resize(members * volumes_);
      for (std::size_t t = 0; t < volumes_; ++t) {
        const float* image = series_.data() + t * imageValues_;
        for (std::size_t m = 0; m < members; ++m) gathered_[m * volumes_ + t] = image[offsets[m]];
      }
      for (std::size_t m = 0; m < members; ++m) {
        work(kept_[group + m], gathered_.data() + m * volumes_);
      }
    }
  }

  void countSliceValues(std::size_t begin, std::size_t end, std::size_t origin) {
    gathered_.resize(end - begin);
    for (std::size_t t = 0; t < volumes_; ++t) {
      const float* image = series_.data() + t * imageValues_;
      for (std::size_t v = begin; v < end; ++v) {
        gathered_[v - begin] = image[static_cast<std::size_t>(mask_[v]) - origin];
      }
      median_.add(gathered_.data(), gathered_.size());
    }
  }

  DvarsSeries result() const {
    DvarsSeries out;
    out.median = median_.median();
    double factorSum = 0.0;
    for (std::size_t v = 0; v < mask_.size(); ++v) {
      if (state_[v] != VoxelState::kept) continue;
      ++out.voxels;
      factorSum += factor_[v] * spread_[v];
    }
    if (out.voxels == 0) {
      throw IOError("FMR file " + fmrPath_ +
                    ": no voxel in the mask varies over time; DVARS cannot be computed");
    }
    const auto voxels = static_cast<double>(out.voxels);
    // The differences were summed in the file's units; the scaling is linear.
    const double scale = kDvarsIntensityScale / out.median;
    const double meanDifferenceSd = factorSum / voxels / out.median;
    out.dvars.assign(volumes_, 0.0);
    out.stdDvars.assign(volumes_, 0.0);
    for (std::size_t t = 1; t < volumes_; ++t) {
      out.dvars[t] = std::sqrt(squareSums_[t] / voxels) * scale;
      out.stdDvars[t] = out.dvars[t] / meanDifferenceSd;
    }
    return out;
  }

  StcSliceReader& reader_;
  MaskedSeriesVisitor* visitor_;
  const std::string fmrPath_;
  const std::size_t volumes_;
  const std::size_t imageValues_;
  ExactMedian median_;
  VoxelSeriesAnalyser analyser_;
  std::vector<std::int32_t> mask_;
  // Per slice, the place of its first voxel in the mask; then the mask's size.
  std::vector<std::size_t> sliceStart_;
  // Per masked voxel: its terms and where the passes stand with it.
  std::vector<double> spread_;
  std::vector<double> factor_;
  std::vector<VoxelState> state_;
  std::vector<double> squareSums_;  // per volume, over the kept voxels
  // Work space, reused from slice to slice.
  std::vector<float> series_;
  std::vector<float> gathered_;
  std::vector<std::size_t> kept_;  // the voxels of a slice to be worked on
};

}  // namespace

DvarsSeries computeDvars(const FmrFileHeader& header, float threshold) {
  return computeDvars(header, threshold, nullptr);
}

DvarsSeries computeDvars(const FmrFileHeader& header, float threshold,
                         MaskedSeriesVisitor* visitor) {
  StcSliceReader reader(header);
  return DvarsPasses(reader, header.path, threshold, visitor).run();
}

DvarsSeries computeDvars(const FmrFileHeader& header, float threshold, std::string_view stcBytes) {
  StcSliceReader reader(header, stcBytes);
  return DvarsPasses(reader, header.path, threshold).run();
}

}  // namespace tsl
