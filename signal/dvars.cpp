#include "signal/dvars.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <locale>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

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
// Threads reading and working on slices at once, the calling one included;
// each holds one slice's series.
constexpr unsigned kMaxSliceThreads = 2;

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

// What a thread works with: its own view of the file, its share of the
// pass's counts and its work space.
struct SliceWorker {
  SliceWorker(StcSliceReader r, const ExactMedian& m, bool integral)
      : reader(std::move(r)), median(m), analyser(integral) {}
  StcSliceReader reader;
  ExactMedian median;
  VoxelSeriesAnalyser analyser;
  std::vector<float> series;
  std::vector<float> gathered;
  std::vector<std::size_t> voxels;  // of the slice, to be worked on
};

// The passes over a run. 16-bit data: one pass computes each voxel's terms,
// counts every value for the median (whose range bounds decide every voxel:
// a spread is 0 or at least 1000 / 1.349 for integers, and the median at
// most 32767), and adds the kept voxels' differences. Float data: the first
// pass computes the terms and narrows the median; the second finds it
// exactly and adds the differences of the voxels its bounds decide; a third
// adds those of the few that needed the exact median. Slices are worked on
// by up to kMaxSliceThreads threads; each slice's differences are summed on
// their own and the slices added in order, so the result does not depend on
// the number of threads.
class DvarsPasses {
 public:
  DvarsPasses(const std::function<StcSliceReader()>& openReader, const std::string& fmrPath,
              float threshold, MaskedSeriesVisitor* visitor = nullptr)
      : fmrPath_(fmrPath), visitor_(visitor) {
    StcSliceReader reader = openReader();
    volumes_ = reader.volumes();
    imageValues_ = reader.imageValues();
    integral_ = !reader.holdsFloats();
    median_ = std::make_unique<ExactMedian>(integral_);
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
    if (visitor_ != nullptr) visitor_->begin(mask_.size(), volumes_, sliceStart_);
    spread_.assign(mask_.size(), 0.0);
    factor_.assign(mask_.size(), 0.0);
    state_.assign(mask_.size(), VoxelState::pending);
    sliceSums_.assign(slices * volumes_, 0.0);
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxSliceThreads);
    workers_.push_back(std::make_unique<SliceWorker>(std::move(reader), *median_, integral_));
    for (unsigned w = 1; w < std::min<std::size_t>(threads, slices); ++w) {
      workers_.push_back(std::make_unique<SliceWorker>(openReader(), *median_, integral_));
    }
  }

  DvarsSeries run() {
    bool first = true;
    while (first || !median_->known() ||
           std::find(state_.begin(), state_.end(), VoxelState::pending) != state_.end()) {
      pass(first);
      first = false;
      if (median_->endPass() && !(median_->median() > 0.0)) {
        throw IOError("FMR file " + fmrPath_ + ": the median intensity in the mask is " +
                      numberText(median_->median()) + "; DVARS need a positive one");
      }
    }
    return result();
  }

 private:
  // One read of the run, every slice once, shared among the workers. A
  // failure stops the work on later slices; the first failing slice's error
  // is the one thrown, as if the slices were read in order.
  void pass(bool first) {
    const std::size_t slices = sliceStart_.size() - 1;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> failedSlice{std::numeric_limits<std::size_t>::max()};
    std::mutex failureMutex;
    std::exception_ptr failure;
    const auto work = [&](SliceWorker& worker) {
      for (std::size_t z = next++; z < slices && z < failedSlice; z = next++) {
        try {
          slice(worker, z, first);
        } catch (...) {
          const std::lock_guard lock(failureMutex);
          if (z < failedSlice) {
            failedSlice = z;
            failure = std::current_exception();
          }
        }
      }
    };
    for (auto& worker : workers_) worker->median = *median_;
    {
      std::vector<std::jthread> started;
      for (std::size_t w = 1; w < workers_.size(); ++w) {
        try {
          started.emplace_back(work, std::ref(*workers_[w]));
        } catch (const std::system_error&) {
          // The threads that did start share its slices.
        }
      }
      work(*workers_[0]);
    }
    if (failure) std::rethrow_exception(failure);
    for (const auto& worker : workers_) median_->merge(worker->median);
  }

  // Slice z's work in one pass: the first computes its voxels' terms; each
  // adds the differences of the voxels it decides to keep, and counts the
  // values while the median needs them.
  void slice(SliceWorker& worker, std::size_t z, bool first) {
    const std::size_t begin = sliceStart_[z];
    const std::size_t end = sliceStart_[z + 1];
    if (begin == end) return;
    const double lower = median_->lowerBound();
    const double upper = median_->upperBound();
    const bool countValues = !median_->known();
    double* sums = sliceSums_.data() + z * volumes_;
    worker.voxels.clear();
    if (first) {
      for (std::size_t v = begin; v < end; ++v) worker.voxels.push_back(v);
    } else {
      for (std::size_t v = begin; v < end; ++v) {
        if (state_[v] != VoxelState::pending) continue;
        state_[v] = decide(spread_[v], lower, upper);
        if (state_[v] == VoxelState::kept) worker.voxels.push_back(v);
      }
      if (!countValues && worker.voxels.empty()) return;
    }
    worker.reader.readSlice(z, worker.series);
    const std::size_t origin = z * imageValues_;
    if (!first) {
      if (countValues) countSliceValues(worker, begin, end, origin);
      forEachSeries(worker, origin, [&](std::size_t, const float* series) {
        addSquaredDifferences(series, volumes_, sums);
      });
      return;
    }
    forEachSeries(worker, origin, [&](std::size_t v, const float* series) {
      if (visitor_ != nullptr) visitor_->visit(z, v, series, volumes_);
      const VoxelSeriesTerms terms = worker.analyser.analyse(series, volumes_);
      spread_[v] = terms.spread;
      factor_[v] = terms.factor;
      if (countValues && worker.analyser.counted()) {
        const auto& counts = worker.analyser.counts();
        worker.median.addCounts(worker.analyser.lowest(), counts.data(), counts.size());
      } else if (countValues) {
        worker.median.add(series, volumes_);
      }
      state_[v] = decide(terms.spread, lower, upper);
      if (state_[v] == VoxelState::kept) addSquaredDifferences(series, volumes_, sums);
    });
  }

  // Calls work(v, series) for each voxel v of worker.voxels, with its series
  // from the slice read (whose first voxel index is origin), gathered a few
  // voxels at a time from the images.
  template <typename Work>
  void forEachSeries(SliceWorker& worker, std::size_t origin, Work&& work) {
    const std::vector<std::size_t>& voxels = worker.voxels;
    for (std::size_t group = 0; group < voxels.size(); group += kGatheredVoxels) {
      const std::size_t members = std::min(kGatheredVoxels, voxels.size() - group);
      std::size_t offsets[kGatheredVoxels];
      for (std::size_t m = 0; m < members; ++m) {
        offsets[m] = static_cast<std::size_t>(mask_[voxels[group + m]]) - origin;
      }
      worker.gathered.resize(members * volumes_);
      for (std::size_t t = 0; t < volumes_; ++t) {
        const float* image = worker.series.data() + t * imageValues_;
        for (std::size_t m = 0; m < members; ++m) {
          worker.gathered[m * volumes_ + t] = image[offsets[m]];
        }
      }
      for (std::size_t m = 0; m < members; ++m) {
        work(voxels[group + m], worker.gathered.data() + m * volumes_);
      }
    }
  }

  void countSliceValues(SliceWorker& worker, std::size_t begin, std::size_t end,
                        std::size_t origin) {
    worker.gathered.resize(end - begin);
    for (std::size_t t = 0; t < volumes_; ++t) {
      const float* image = worker.series.data() + t * imageValues_;
      for (std::size_t v = begin; v < end; ++v) {
        worker.gathered[v - begin] = image[static_cast<std::size_t>(mask_[v]) - origin];
      }
      worker.median.add(worker.gathered.data(), worker.gathered.size());
    }
  }

  DvarsSeries result() const {
    DvarsSeries out;
    out.median = median_->median();
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
      double sum = 0.0;
      for (std::size_t z = 0; z + 1 < sliceStart_.size(); ++z) sum += sliceSums_[z * volumes_ + t];
      out.dvars[t] = std::sqrt(sum / voxels) * scale;
      out.stdDvars[t] = out.dvars[t] / meanDifferenceSd;
    }
    return out;
  }

  const std::string fmrPath_;
  MaskedSeriesVisitor* visitor_;
  std::size_t volumes_ = 0;
  std::size_t imageValues_ = 0;
  bool integral_ = false;  // 16-bit data
  std::unique_ptr<ExactMedian> median_;
  std::vector<std::int32_t> mask_;
  // Per slice, the place of its first voxel in the mask; then the mask's size.
  std::vector<std::size_t> sliceStart_;
  // Per masked voxel: its terms and where the passes stand with it.
  std::vector<double> spread_;
  std::vector<double> factor_;
  std::vector<VoxelState> state_;
  // Per slice and volume, the kept voxels' squared differences.
  std::vector<double> sliceSums_;
  std::vector<std::unique_ptr<SliceWorker>> workers_;
};

}  // namespace

DvarsSeries computeDvars(const FmrFileHeader& header, float threshold) {
  return computeDvars(header, threshold, nullptr);
}

DvarsSeries computeDvars(const FmrFileHeader& header, float threshold,
                         MaskedSeriesVisitor* visitor) {
  return DvarsPasses([&] { return StcSliceReader(header); }, header.path, threshold, visitor).run();
}

DvarsSeries computeDvars(const FmrFileHeader& header, float threshold, std::string_view stcBytes) {
  return DvarsPasses([&] { return StcSliceReader(header, stcBytes); }, header.path, threshold)
      .run();
}

}  // namespace tsl
