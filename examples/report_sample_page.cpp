// Writes the study report of a synthetic study, for the browser test and for
// measuring the page's size and the time to write it:
//   report_sample_page OUT.html [RUNS [VOLUMES]]
// Run r has VOLUMES volumes, 17 more when r is odd (default 2 runs, 157
// volumes), and a carpet of 5000 + 1234 (r mod 2) voxels whose signal
// drifts, breathes in a fifth of the voxels and drops across all of them at
// the spikes; its motion drifts and jumps at the spikes. Prints the page's
// size and the times taken.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "designmatrix/atomic_file.h"
#include "report/carpet.h"
#include "report/study_report.h"

namespace {

using tsl::VolumeFlag;

constexpr double kHeadRadiusMm = 50.0;
constexpr double kPi = 3.14159265358979323846;

// A reproducible, roughly normal noise source (sum of uniforms).
class Noise {
 public:
  double next() {
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) {
      state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
      sum += static_cast<double>(state_ >> 11) / 9007199254740992.0 - 0.5;
    }
    return sum * std::sqrt(3.0);
  }

 private:
  std::uint64_t state_ = 88172645463325252ULL;
};

double msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

std::string fixed6(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}

tsl::RunSection syntheticRun(std::size_t index, std::size_t volumes, Noise& noise,
                             double& carpetMs) {
  const std::vector<std::size_t> spikes =
      index % 2 == 0 ? std::vector<std::size_t>{volumes / 3, volumes / 3 + 6, 2 * volumes / 3}
                     : std::vector<std::size_t>{volumes / 2};
  tsl::RunSection run;
  run.motionFile = "/study/sub-0" + std::to_string(index + 1) + " & co/run" +
                   std::to_string(index + 1) + "_3DMC.sdm";
  run.volumes = volumes;
  run.repetitionTimeSeconds = index % 2 == 0 ? 2.0 : 0.0;

  // Motion: drift, wobble and a jump at each spike in all six parameters.
  const std::array<const char*, 6> names = {"Translation X", "Translation Y", "Translation Z",
                                            "Rotation X",    "Rotation Y",    "Rotation Z"};
  std::array<std::vector<double>, 6> motion;
  for (std::size_t p = 0; p < 6; ++p) {
    double jump = 0.0;
    for (std::size_t t = 0; t < volumes; ++t) {
      if (std::find(spikes.begin(), spikes.end(), t) != spikes.end()) {
        jump += 0.4 * (p % 2 == 0 ? 1.0 : -0.7);
      }
      const double td = static_cast<double>(t);
      motion[p].push_back(0.002 * td * static_cast<double>(p + 1) - 0.1 +
                          0.05 * std::sin(0.3 * td + static_cast<double>(p)) + jump +
                          0.01 * noise.next());
    }
  }
  std::vector<double> fd(volumes, 0.0), rms(volumes, 0.0);
  for (std::size_t t = 1; t < volumes; ++t) {
    double squares = 0.0;
    for (std::size_t p = 0; p < 6; ++p) {
      const double change = motion[p][t] - motion[p][t - 1];
      fd[t] += p < 3 ? std::fabs(change) : kHeadRadiusMm * std::fabs(change) * kPi / 180.0;
      if (p < 3) squares += change * change;
    }
    rms[t] = std::sqrt(squares);
  }
  tsl::Trace translations{"Translations (mm)", {}, std::nullopt};
  tsl::Trace rotations{"Rotations (degrees)", {}, std::nullopt};
  for (std::size_t p = 0; p < 6; ++p) {
    (p < 3 ? translations : rotations).lines.push_back({names[p], motion[p], false});
  }
  std::vector<double> unfiltered = fd;
  for (std::size_t t = 1; t < volumes; ++t) unfiltered[t] += 0.05 * std::fabs(noise.next());
  run.traces = {translations, rotations,
                tsl::Trace{"Framewise displacement (mm)",
                           {{"unfiltered", unfiltered, true}, {"FD", fd, false}},
                           0.5},
                tsl::Trace{"Relative RMS displacement (mm)", {{"RMS", rms, false}}, 0.3}};

  // Flags: three non-steady volumes, the spikes, one volume before and two
  // after each, and the short stretch left between the first two spikes.
  run.flags.assign(volumes, VolumeFlag::kNone);
  for (std::size_t t = 0; t < 3; ++t) run.flags[t] = VolumeFlag::kNonSteady;
  for (const std::size_t s : spikes) {
    for (std::size_t t = s - 1; t <= std::min(volumes - 1, s + 2); ++t) {
      if (run.flags[t] == VolumeFlag::kNone) run.flags[t] = VolumeFlag::kNeighbour;
    }
  }
  for (const std::size_t s : spikes) run.flags[s] = VolumeFlag::kSpike;
  if (spikes.size() > 1) {
    for (std::size_t t = spikes[0] + 3; t < spikes[1] - 1; ++t) {
      run.flags[t] = VolumeFlag::kShortSegment;
    }
  }

  // The carpet, voxel by voxel, with a DVARS-like trace of the same data;
  // only the carpet's own work is timed.
  const std::size_t voxels = 5000 + 1234 * (index % 2);
  tsl::CarpetPlot carpet(voxels, volumes);
  std::vector<double> series(volumes), change(volumes, 0.0);
  for (std::size_t v = 0; v < voxels; ++v) {
    const double base = 800.0 + 3.0 * static_cast<double>(v % 97);
    const bool breathing = v < voxels / 5;
    for (std::size_t t = 0; t < volumes; ++t) {
      const double td = static_cast<double>(t);
      double x = base + 0.05 * td + 4.0 * noise.next();
      if (breathing) x += 6.0 * std::sin(2.0 * kPi * td / 4.3);
      if (std::find(spikes.begin(), spikes.end(), t) != spikes.end()) x -= 25.0;
      series[t] = x;
      if (t > 0) change[t] += (x - series[t - 1]) * (x - series[t - 1]);
    }
    const auto started = std::chrono::steady_clock::now();
    carpet.addVoxel(series);
    carpetMs += msSince(started);
  }
  const auto started = std::chrono::steady_clock::now();
  run.carpet = carpet.image();
  carpetMs += msSince(started);
  std::vector<double> dvars(volumes, 0.0);
  for (std::size_t t = 1; t < volumes; ++t) {
    dvars[t] = std::sqrt(change[t] / static_cast<double>(voxels)) / (4.0 * std::sqrt(2.0));
  }
  run.traces.push_back({"std DVARS", {{"std DVARS", dvars, false}}, 1.5});

  const auto flagged = static_cast<std::size_t>(std::count_if(
      run.flags.begin(), run.flags.end(), [](VolumeFlag f) { return f != VolumeFlag::kNone; }));
  double fdSum = 0.0;
  for (const double f : fd) fdSum += f;
  run.meanFdMm = fdSum / static_cast<double>(volumes - 1);
  run.flaggedPercent = 100.0 * static_cast<double>(flagged) / static_cast<double>(volumes);
  run.overMeanFd = run.meanFdMm > 0.3;
  run.overFlaggedPercent = run.flaggedPercent > 10.0;
  run.qcCells = {run.motionFile,
                 std::to_string(volumes),
                 fixed6(run.meanFdMm),
                 std::to_string(spikes.size()),
                 std::to_string(flagged),
                 fixed6(run.flaggedPercent),
                 run.overMeanFd || run.overFlaggedPercent ? "yes" : "no"};
  const std::string stem = run.motionFile.substr(0, run.motionFile.size() - 4);
  run.filesWritten = {stem + "_spikes.sdm", stem + "_detr.sdm"};
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::cerr << "usage: report_sample_page OUT.html [RUNS [VOLUMES]]\n";
    return 2;
  }
  const std::size_t runs = argc > 2 ? std::stoul(argv[2]) : 2;
  const std::size_t volumes = argc > 3 ? std::stoul(argv[3]) : 157;
  if (volumes < 20) {
    std::cerr << "report_sample_page: runs need at least 20 volumes\n";
    return 2;
  }

  tsl::StudyReport report;
  report.studyFile = "/study/study.mdm";
  report.toolName = "Tessel";
  report.toolVersion = "1.2 (synthetic sample)";
  report.qcColumns = {"run",     "volumes",         "mean_fd",    "spikes",
                      "flagged", "flagged_percent", "over_limits"};
  report.maxMeanFdMm = 0.3;
  report.maxFlaggedPercent = 10.0;
  report.parameters = {
      {"spike_threshold", "0.3"}, {"qc_max_mean_fd", "0.3"}, {"qc_max_flagged_percent", "10"}};
  report.inputs.push_back({report.studyFile, 321});
  Noise noise;
  double carpetMs = 0.0;
  for (std::size_t r = 0; r < runs; ++r) {
    report.runs.push_back(syntheticRun(r, volumes + 17 * (r % 2), noise, carpetMs));
    report.inputs.push_back({report.runs.back().motionFile, 12000 + 77 * r});
  }

  const auto started = std::chrono::steady_clock::now();
  tsl::writeFileAtomically(argv[1], [&](std::ostream& out) { tsl::writeStudyReport(out, report); });
  const double pageMs = msSince(started);
  std::cout << "Wrote " << argv[1] << ": " << std::filesystem::file_size(argv[1]) << " bytes, "
            << runs << " runs; carpets " << carpetMs << " ms, page " << pageMs << " ms\n";
  return 0;
}
