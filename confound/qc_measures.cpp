#include "confound/qc_measures.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <string>

#include "designmatrix/io_error.h"
#include "designmatrix/motion_parameters.h"

namespace tsl {

namespace {

// Columns 0-2 of a motion document are the translations along the three
// axes, columns 3-5 the rotations about them.
constexpr std::size_t kAxisCount = 3;

constexpr int kTableDecimals = 6;
constexpr double kPercent = 100.0;
constexpr const char* kEol = "\r\n";
constexpr const char* kTableHeader =
    "run\tvolumes\tmean_rms\tmax_rms\tmean_fd\tmax_fd\tspikes\tflagged\tflagged_percent\t"
    "remaining\tlongest_clean\tmax_translation\tmax_rotation\tover_limits";

struct Summary {
  double mean = 0.0;
  double max = 0.0;
};

// Mean and largest value of series[1..N-1]: volume 0 has no predecessor.
Summary summariseChanges(const std::vector<double>& series) {
  Summary s;
  if (series.size() < 2) return s;
  double sum = 0.0;
  for (std::size_t i = 1; i < series.size(); ++i) {
    sum += series[i];
    if (series[i] > s.max) s.max = series[i];
  }
  s.mean = sum / static_cast<double>(series.size() - 1);
  return s;
}

double largestMagnitude(const SdmDocument& motion, std::size_t firstColumn, std::size_t points) {
  double largest = 0.0;
  for (std::size_t c = firstColumn; c < firstColumn + kAxisCount; ++c) {
    for (std::size_t i = 0; i < points; ++i) {
      const double magnitude = std::fabs(double{motion.columns[c][i]});
      if (magnitude > largest) largest = magnitude;
    }
  }
  return largest;
}

void requireOnePerVolume(const SdmDocument& motion, std::size_t values, std::size_t points,
                         const char* what) {
  if (values != points) {
    throw std::invalid_argument("SDM file " + motion.path + ": " + what + " holds " +
                                std::to_string(values) + " values, NrOfDataPoints is " +
                                std::to_string(points));
  }
}

// Numbers are converted here, not by the stream, whose locale could group
// digits or change the decimal point.
std::string fixedText(double value) {
  char digits[64];
  const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed,
                                    kTableDecimals);
  return std::string(digits, result.ptr);
}

std::string countText(std::size_t count) {
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, count);
  return std::string(digits, result.ptr);
}

}  // namespace

std::vector<double> framewiseDisplacement(const SdmDocument& motion) {
  requireMotionParameters(motion);
  const auto n = static_cast<std::size_t>(motion.NrOfDataPoints.value);
  std::vector<double> fd(n, 0.0);
  for (std::size_t i = 1; i < n; ++i) {
    double sum = 0.0;
    for (std::size_t c = 0; c < kAxisCount; ++c) {
      sum += std::fabs(double{motion.columns[c][i]} - double{motion.columns[c][i - 1]});
    }
    for (std::size_t c = kAxisCount; c < kMotionParameterCount; ++c) {
      const double change = radiansOf(motion.columns[c][i]) - radiansOf(motion.columns[c][i - 1]);
      sum += kFramewiseRadiusMm * std::fabs(change);
    }
    fd[i] = sum;
  }
  return fd;
}

RunQuality measureRunQuality(const SdmDocument& motion, const std::vector<double>& relativeRms,
                             const FlaggedVolumes& flags, const QcLimits& limits) {
  const std::vector<double> fd = framewiseDisplacement(motion);
  const std::size_t n = fd.size();
  requireOnePerVolume(motion, relativeRms.size(), n, "the displacement series");
  requireOnePerVolume(motion, flags.flagged.size(), n, "the list of flags");

  RunQuality q;
  q.run = motion.path;
  q.volumes = n;
  const Summary rms = summariseChanges(relativeRms);
  q.meanRms = rms.mean;
  q.maxRms = rms.max;
  const Summary framewise = summariseChanges(fd);
  q.meanFd = framewise.mean;
  q.maxFd = framewise.max;
  q.flagged = flags.volumes.size();
  q.spikes = q.flagged - flags.extra;
  q.flaggedPercent =
      n == 0 ? 0.0 : kPercent * static_cast<double>(q.flagged) / static_cast<double>(n);
  q.remaining = n - q.flagged;
  q.longestClean = longestUnflaggedStretch(flags.flagged);
  q.maxTranslation = largestMagnitude(motion, 0, n);
  q.maxRotation = largestMagnitude(motion, kAxisCount, n);
  q.overMeanFd = limits.maxMeanFdMm > 0.0 && q.meanFd > limits.maxMeanFdMm;
  q.overFlaggedPercent =
      limits.maxFlaggedPercent > 0.0 && q.flaggedPercent > limits.maxFlaggedPercent;
  return q;
}

void writeQualityTable(std::ostream& out, const std::vector<RunQuality>& rows) {
  for (const RunQuality& row : rows) {
    if (row.run.find_first_of("\t\r\n") != std::string::npos) {
      throw IOError("SDM file " + row.run +
                    ": its path holds a tab or a line break, which the QC table cannot hold");
    }
  }
  out << kTableHeader << kEol;
  for (const RunQuality& row : rows) {
    const std::string cells[] = {row.run,
                                 countText(row.volumes),
                                 fixedText(row.meanRms),
                                 fixedText(row.maxRms),
                                 fixedText(row.meanFd),
                                 fixedText(row.maxFd),
                                 countText(row.spikes),
                                 countText(row.flagged),
                                 fixedText(row.flaggedPercent),
                                 countText(row.remaining),
                                 countText(row.longestClean),
                                 fixedText(row.maxTranslation),
                                 fixedText(row.maxRotation),
                                 row.overLimits() ? "yes" : "no"};
    for (std::size_t c = 0; c < std::size(cells); ++c) out << (c == 0 ? "" : "\t") << cells[c];
    out << kEol;
  }
}

}  // namespace tsl
