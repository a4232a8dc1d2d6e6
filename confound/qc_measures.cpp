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
constexpr const char* kColumns[] = {"run",
                                    "volumes",
                                    "mean_rms",
                                    "max_rms",
                                    "mean_fd",
                                    "max_fd",
                                    "spikes",
                                    "flagged",
                                    "flagged_percent",
                                    "remaining",
                                    "longest_clean",
                                    "max_translation",
                                    "max_rotation",
                                    "over_limits",
                                    "dummy",
                                    "mean_fd_kept",
                                    "mean_dvars",
                                    "mean_std_dvars",
                                    "max_std_dvars",
                                    "fd_dvars_correlation",
                                    "remaining_seconds",
                                    "data_file",
                                    "mean_fd_unfiltered"};
constexpr const char* kNotAvailable = "n/a";
constexpr double kMillisecondsPerSecond = 1000.0;

struct Summary {
  double mean = 0.0;
  double max = 0.0;
};

// Mean and largest value of series[first..N-1].
Summary summarise(const std::vector<double>& series, std::size_t first) {
  Summary s;
  if (series.size() <= first) return s;
  double sum = 0.0;
  for (std::size_t i = first; i < series.size(); ++i) {
    sum += series[i];
    if (series[i] > s.max) s.max = series[i];
  }
  s.mean = sum / static_cast<double>(series.size() - first);
  return s;
}

// Pearson's correlation of a and b over [first, N); nothing when either is
// constant there (or holds fewer than two values).
std::optional<double> correlation(const std::vector<double>& a, const std::vector<double>& b,
                                  std::size_t first) {
  const std::size_t n = a.size();
  if (n < first + 2) return std::nullopt;
  const double count = static_cast<double>(n - first);
  double meanA = 0.0, meanB = 0.0;
  for (std::size_t i = first; i < n; ++i) {
    meanA += a[i];
    meanB += b[i];
  }
  meanA /= count;
  meanB /= count;
  double sab = 0.0, saa = 0.0, sbb = 0.0;
  for (std::size_t i = first; i < n; ++i) {
    sab += (a[i] - meanA) * (b[i] - meanB);
    saa += (a[i] - meanA) * (a[i] - meanA);
    sbb += (b[i] - meanB) * (b[i] - meanB);
  }
  if (saa == 0.0 || sbb == 0.0) return std::nullopt;
  return sab / std::sqrt(saa * sbb);
}

double largestMagnitude(const MotionColumns& motion, std::size_t firstColumn, std::size_t first,
                        std::size_t points) {
  double largest = 0.0;
  for (std::size_t c = firstColumn; c < firstColumn + kAxisCount; ++c) {
    for (std::size_t i = first; i < points; ++i) {
      const double magnitude = std::fabs(motion[c][i]);
      if (magnitude > largest) largest = magnitude;
    }
  }
  return largest;
}

void requireOnePerVolume(const std::string& run, std::size_t values, std::size_t points,
                         const char* what) {
  if (values != points) {
    throw std::invalid_argument("SDM file " + run + ": " + what + " holds " +
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

std::string optionalText(const std::optional<double>& value) {
  return value ? fixedText(*value) : kNotAvailable;
}

std::string countText(std::size_t count) {
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, count);
  return std::string(digits, result.ptr);
}

}  // namespace

std::vector<double> framewiseDisplacement(const SdmDocument& motion) {
  return framewiseDisplacement(motionColumnsOf(motion));
}

std::vector<double> framewiseDisplacement(const MotionColumns& motion) {
  const std::size_t n = motion[0].size();
  std::vector<double> fd(n, 0.0);
  for (std::size_t i = 1; i < n; ++i) {
    double sum = 0.0;
    for (std::size_t c = 0; c < kAxisCount; ++c) {
      sum += std::fabs(motion[c][i] - motion[c][i - 1]);
    }
    for (std::size_t c = kAxisCount; c < kMotionParameterCount; ++c) {
      const double change = radiansOf(motion[c][i]) - radiansOf(motion[c][i - 1]);
      sum += kFramewiseRadiusMm * std::fabs(change);
    }
    fd[i] = sum;
  }
  return fd;
}

RunQuality measureRunQuality(const SdmDocument& motion, const std::vector<double>& relativeRms,
                             const FlaggedVolumes& flags, const QcLimits& limits,
                             std::size_t nonSteady, const SignalMeasures& signal) {
  return measureRunQuality(motion.path, motionColumnsOf(motion), relativeRms, flags, limits,
                           nonSteady, signal);
}

RunQuality measureRunQuality(const std::string& run, const MotionColumns& motion,
                             const std::vector<double>& relativeRms, const FlaggedVolumes& flags,
                             const QcLimits& limits, std::size_t nonSteady,
                             const SignalMeasures& signal) {
  const std::vector<double> fd = framewiseDisplacement(motion);
  const std::size_t n = fd.size();
  requireOnePerVolume(run, relativeRms.size(), n, "the displacement series");
  requireOnePerVolume(run, flags.flagged.size(), n, "the list of flags");
  const bool haveDvars = !signal.dvars.empty() || !signal.stdDvars.empty();
  if (haveDvars) {
    requireOnePerVolume(run, signal.dvars.size(), n, "the DVARS series");
    requireOnePerVolume(run, signal.stdDvars.size(), n, "the std DVARS series");
  }
  if (nonSteady > n) {
    throw std::invalid_argument("SDM file " + run + ": " + std::to_string(nonSteady) +
                                " non-steady-state volumes, NrOfDataPoints is " +
                                std::to_string(n));
  }
  // A change needs a steady volume before it.
  const std::size_t firstChange = nonSteady + 1;

  RunQuality q;
  q.run = run;
  q.volumes = n;
  q.dummy = nonSteady;
  const Summary rms = summarise(relativeRms, firstChange);
  q.meanRms = rms.mean;
  q.maxRms = rms.max;
  const Summary framewise = summarise(fd, firstChange);
  q.meanFd = framewise.mean;
  q.maxFd = framewise.max;
  q.flagged = flags.volumes.size();
  q.spikes = q.flagged - flags.extra;
  const std::size_t steady = n - nonSteady;
  q.flaggedPercent =
      steady == 0 ? 0.0 : kPercent * static_cast<double>(q.flagged) / static_cast<double>(steady);
  q.remaining = steady - q.flagged;
  q.longestClean = longestUnflaggedStretch(std::vector<bool>(
      flags.flagged.begin() + static_cast<std::ptrdiff_t>(nonSteady), flags.flagged.end()));
  q.maxTranslation = largestMagnitude(motion, 0, nonSteady, n);
  q.maxRotation = largestMagnitude(motion, kAxisCount, nonSteady, n);

  double keptSum = 0.0;
  std::size_t kept = 0;
  for (std::size_t i = firstChange; i < n; ++i) {
    if (flags.flagged[i]) continue;
    keptSum += fd[i];
    ++kept;
  }
  if (kept > 0) q.meanFdKept = keptSum / static_cast<double>(kept);
  if (haveDvars && n > firstChange) {
    q.meanDvars = summarise(signal.dvars, firstChange).mean;
    const Summary standardised = summarise(signal.stdDvars, firstChange);
    q.meanStdDvars = standardised.mean;
    q.maxStdDvars = standardised.max;
    q.fdDvarsCorrelation = correlation(fd, signal.stdDvars, firstChange);
  }
  if (signal.trMs > 0) {
    q.remainingSeconds = static_cast<double>(q.remaining) * signal.trMs / kMillisecondsPerSecond;
  }
  q.dataFile = signal.dataFile;

  q.overMeanFd = limits.maxMeanFdMm > 0.0 && q.meanFd > limits.maxMeanFdMm;
  q.overFlaggedPercent =
      limits.maxFlaggedPercent > 0.0 && q.flaggedPercent > limits.maxFlaggedPercent;
  q.underMinRemaining = limits.minRemaining > 0 && q.remaining < limits.minRemaining;
  return q;
}

std::vector<std::string> qualityTableColumns() {
  return std::vector<std::string>(std::begin(kColumns), std::end(kColumns));
}

std::vector<std::string> qualityTableCells(const RunQuality& row) {
  return {row.run,
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
          row.overLimits() ? "yes" : "no",
          countText(row.dummy),
          optionalText(row.meanFdKept),
          optionalText(row.meanDvars),
          optionalText(row.meanStdDvars),
          optionalText(row.maxStdDvars),
          optionalText(row.fdDvarsCorrelation),
          optionalText(row.remainingSeconds),
          row.dataFile.empty() ? kNotAvailable : row.dataFile,
          optionalText(row.meanFdUnfiltered)};
}

void writeQualityTable(std::ostream& out, const std::vector<RunQuality>& rows) {
  for (const RunQuality& row : rows) {
    if (row.run.find_first_of("\t\r\n") != std::string::npos) {
      throw IOError("SDM file " + row.run +
                    ": its path holds a tab or a line break, which the QC table cannot hold");
    }
    if (row.dataFile.find_first_of("\t\r\n") != std::string::npos) {
      throw IOError("FMR file " + row.dataFile +
                    ": its path holds a tab or a line break, which the QC table cannot hold");
    }
  }
  const std::vector<std::string> columns = qualityTableColumns();
  for (std::size_t c = 0; c < columns.size(); ++c) out << (c == 0 ? "" : "\t") << columns[c];
  out << kEol;
  for (const RunQuality& row : rows) {
    const std::vector<std::string> cells = qualityTableCells(row);
    for (std::size_t c = 0; c < cells.size(); ++c) out << (c == 0 ? "" : "\t") << cells[c];
    out << kEol;
  }
}

}  // namespace tsl
