// The confound task's scrubbing and quality options, in-process through a
// recording host: the volumes flagged around spikes, the squared derivative
// and combined models, the study's QC table, and today's outputs when every
// new option is off.
//
// Expected values are worked out here without the task's code: the flags by
// hand, the displacements and models in double precision from the motion
// rows as the files hold them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "designmatrix/sdm_document.h"
#include "examples/motion_file_writer.h"
#include "tasks/tasks.h"
#include "tests/support/hand_motion.h"
#include "tests/support/recording_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

namespace fs = std::filesystem;
// Motion with all six parameters drifting and jittering, and a step of about
// 1 mm of head movement at each volume of steps, alternately up and down so
// that the run's trend stays small. Between steps the relative RMS
// displacement stays well below 0.3 mm; a step lifts it to about 1 mm. The
// jitter is a fixed pattern of whole numbers, not a library function, so the
// files are the same bytes on every platform.
std::vector<MotionRow> driftingRun(int volumes, const std::vector<int>& steps,
                                   double restless = 1.0) {
  const double drift[6] = {0.004, -0.006, 0.003, 0.005, -0.004, 0.003};
  const double jitter[6] = {0.02, 0.03, 0.025, 0.02, 0.015, 0.03};
  const double jump[6] = {0.5, -0.4, 0.3, 0.6, -0.5, 0.4};
  std::vector<MotionRow> rows(static_cast<std::size_t>(volumes));
  for (int t = 0; t < volumes; ++t) {
    for (int p = 0; p < 6; ++p) {
      const double pattern = ((t * (3 + p) + 5 * p) % 7 - 3) / 3.0;  // -1 to 1
      double value = drift[p] * t + restless * jitter[p] * pattern;
      for (std::size_t s = 0; s < steps.size(); ++s) {
        if (t >= steps[s]) value += (s % 2 == 0 ? 1.0 : -1.0) * jump[p];
      }
      rows[static_cast<std::size_t>(t)][static_cast<std::size_t>(p)] = static_cast<float>(value);
    }
  }
  return rows;
}

using Row = std::array<double, 6>;

// The motion rows as the file holds them (six significant digits).
std::vector<Row> rowsOf(const std::string& path) {
  const SdmDocument doc(path);
  std::vector<Row> rows(doc.columns.at(0).size());
  for (std::size_t p = 0; p < 6; ++p) {
    for (std::size_t t = 0; t < rows.size(); ++t) rows[t][p] = doc.columns.at(p).at(t);
  }
  return rows;
}

// Each parameter less its least-squares line over the volume index.
std::vector<Row> detrendedByHand(std::vector<Row> rows) {
  const double n = static_cast<double>(rows.size());
  const double xMean = (n - 1.0) / 2.0;
  for (std::size_t p = 0; p < 6; ++p) {
    double yMean = 0.0;
    for (const Row& r : rows) yMean += r[p] / n;
    double sxy = 0.0, sxx = 0.0;
    for (std::size_t t = 0; t < rows.size(); ++t) {
      sxy += (static_cast<double>(t) - xMean) * (rows[t][p] - yMean);
      sxx += (static_cast<double>(t) - xMean) * (static_cast<double>(t) - xMean);
    }
    const double slope = sxy / sxx;
    for (std::size_t t = 0; t < rows.size(); ++t) {
      rows[t][p] -= yMean + slope * (static_cast<double>(t) - xMean);
    }
  }
  return rows;
}

// Volume 0 has no predecessor and moves by 0.
std::vector<double> seriesByHand(const std::vector<Row>& rows,
                                 double (*change)(const double*, const double*)) {
  std::vector<double> series(rows.size(), 0.0);
  for (std::size_t t = 1; t < rows.size(); ++t)
    series[t] = change(rows[t - 1].data(), rows[t].data());
  return series;
}

std::vector<double> rmsByHand(const std::vector<Row>& rows) {
  return seriesByHand(rows, rmsChangeByHand<double>);
}

// The volumes whose displacement of the detrended parameters exceeds
// threshold. The fixtures keep every value far from it, so that rounding
// cannot move a volume across.
std::vector<std::size_t> spikesByHand(const std::vector<Row>& rows, double threshold) {
  const std::vector<double> r = rmsByHand(detrendedByHand(rows));
  std::vector<std::size_t> spikes;
  for (std::size_t t = 0; t < r.size(); ++t) {
    EXPECT_GT(std::fabs(r[t] - threshold), 0.1) << "volume " << t;
    if (r[t] > threshold) spikes.push_back(t);
  }
  return spikes;
}

std::vector<double> standardizedByHand(std::vector<double> v) {
  const double n = static_cast<double>(v.size());
  double mean = 0.0, ss = 0.0;
  for (double x : v) mean += x / n;
  for (double x : v) ss += (x - mean) * (x - mean);
  const double sd = std::sqrt(ss / (n - 1.0));
  for (double& x : v) x = (x - mean) / (sd < 0.0001 ? 1.0 : sd);
  return v;
}

// Checks line against pattern, in which every "#" stands for a number within
// a relative 1e-5 of the next of numbers.
void expectLine(const std::string& line, const std::string& pattern,
                const std::vector<double>& numbers) {
  SCOPED_TRACE(line);
  std::size_t at = 0, next = 0;
  for (std::size_t from = 0;;) {
    const std::size_t hash = pattern.find('#', from);
    const std::string literal = pattern.substr(from, hash - from);
    ASSERT_EQ(line.substr(at, literal.size()), literal);
    at += literal.size();
    if (hash == std::string::npos) break;
    char* end = nullptr;
    const double value = std::strtod(line.c_str() + at, &end);
    ASSERT_NE(end, line.c_str() + at) << "no number at " << at;
    ASSERT_LT(next, numbers.size());
    EXPECT_NEAR(value, numbers[next], 1e-5 * std::fabs(numbers[next]));
    ++next;
    at = static_cast<std::size_t>(end - line.c_str());
    from = hash + 1;
  }
  EXPECT_EQ(at, line.size());
  EXPECT_EQ(next, numbers.size());
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(separator, from)) != std::string::npos;) {
    parts.push_back(text.substr(from, at - from));
    from = at + separator.size();
  }
  parts.push_back(text.substr(from));
  return parts;
}

std::vector<std::string> spikeNames(const std::vector<std::size_t>& volumes) {
  std::vector<std::string> names;
  for (std::size_t v : volumes) names.push_back("Spike Volume " + std::to_string(v));
  return names;
}

std::vector<std::size_t> range(std::size_t first, std::size_t last) {
  std::vector<std::size_t> volumes;
  for (std::size_t v = first; v <= last; ++v) volumes.push_back(v);
  return volumes;
}

template <typename T>
std::vector<T> joined(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ScrubbingTask : public ::testing::Test {
 protected:
  std::string motionFile(const std::string& name, const std::vector<MotionRow>& rows) {
    const std::string path = dir.file(name);
    writeHostMotionSdm(path, rows);
    return path;
  }

  // Every file of the folder with its bytes.
  std::map<std::string, std::string> folder() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      files[entry.path().filename().string()] =
          entry.is_regular_file() ? readFile(entry.path().string()) : "(folder)";
    }
    return files;
  }

  // The log lines with the folder's path written as "<dir>/".
  std::vector<std::string> log(const test::RecordingHost& host) const {
    std::vector<std::string> lines;
    const std::string prefix = dir.file("");
    for (std::string line : host.logLines) {
      for (std::size_t at; (at = line.find(prefix)) != std::string::npos;) {
        line.replace(at, prefix.size(), "<dir>/");
      }
      lines.push_back(line);
    }
    return lines;
  }

  TempDir dir;
};

std::uint64_t fnv1a(const std::string& bytes, std::uint64_t hash = 14695981039346656037ull) {
  for (const unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

std::string hex(std::uint64_t value) {
  std::ostringstream text;
  text << std::hex << value;
  return text.str();
}

// With every new option off the task writes what it wrote before they
// existed: the same files with the same bytes, the same log lines and plots.
// The digests below were taken from the task as it was then, on this study:
// two runs of odd length, one with a spike at its last volume and two side
// by side, one without spikes whose spike file is left from an earlier run.
TEST_F(ScrubbingTask, NewOptionsOffKeepTodaysOutputs) {
  const std::string run1 = motionFile("run1_3DMC.sdm", driftingRun(23, {5, 6, 22}));
  const std::string run2 = motionFile("run2_3DMC.sdm", driftingRun(18, {}));
  writeFile(dir.file("run2_3DMC_spikes.sdm"), "left from an earlier run");
  writeMdm(dir.file("study.mdm"), {run1, run2}, {dir.file("run1.fmr"), dir.file("run2.fmr")});

  test::RecordingHost host;
  host.set("sdmfile", dir.file("study.mdm"));
  host.set("spike_threshold", 0.3f);
  for (const char* name :
       {"create_detrended", "create_derivative", "create_spikes", "create_squared",
        "create_delayed1", "create_delayed1sq", "create_delayed2", "create_delayed2sq"}) {
    host.set(name, 1);
  }
  host.set("plot_regular", 1);
  host.set("plot_detrended", 1);
  createConfoundModels(host);

  // The new parameters are read after the old ones, which keep their order.
  EXPECT_EQ(
      host.parametersRead,
      (std::vector<std::string>{
          "spike_threshold", "create_detrended", "create_derivative", "create_spikes",
          "create_squared", "create_delayed1", "create_delayed1sq", "create_delayed2",
          "create_delayed2sq", "plot_regular", "plot_detrended", "sdmfile", "spike_before",
          "spike_after", "spike_min_segment", "create_derivativesq", "create_combined", "create_qc",
          "qc_max_mean_fd", "qc_max_flagged_percent",
          // the signal and censoring options
          "spike_measure", "fd_threshold", "dvars_threshold", "compute_dvars", "dummy_volumes",
          "detect_dummy_volumes", "create_confounds_tsv", "qc_min_remaining", "fmr_threshold",
                // the motion filter
                "motion_filter", "band_stop_min", "band_stop_max", "motion_filter_order",
                "create_filtered",
                // the study report
                "create_report"}));
  EXPECT_EQ(
      log(host),
      (std::vector<std::string>{
          "Tessel>  Detecting Spikes",
          "Tessel>  Found spike at position 5 with displacement 0.907164 mm",
          "Tessel>  Found spike at position 6 with displacement 0.916461 mm",
          "Tessel>  Found spike at position 22 with displacement 0.961183 mm",
          "Tessel>  Saving SDMs", "Tessel>  Detecting Spikes",
          "Tessel>  No spikes found with displacement greater than 0.3 mm", "Tessel>  Saving SDMs",
          "Tessel>  Removed the spike file of an earlier run: <dir>/run2_3DMC_spikes.sdm"}));
  std::string digests;
  for (const auto& [name, bytes] : folder()) {
    // The study's paths are those of the temporary folder.
    if (name != "study.mdm") digests += name + " " + hex(fnv1a(bytes)) + "\n";
  }
  std::uint64_t plots = fnv1a("");
  for (const test::RecordingHost::Plot& plot : host.plots) {
    plots = fnv1a(plot.path.substr(plot.path.rfind('/') + 1) + plot.titleSuffix, plots);
    for (const std::string& name : plot.names) plots = fnv1a(name, plots);
    for (const std::vector<float>& column : plot.columns) {
      plots = fnv1a(
          std::string(reinterpret_cast<const char*>(column.data()), column.size() * sizeof(float)),
          plots);
    }
  }
  digests += "plots " + hex(plots) + "\n";
  EXPECT_EQ(digests,
            "run1_3DMC.sdm 28a1497e6a2fcd36\n"
            "run1_3DMC_deriv.sdm a86b2827f344959e\n"
            "run1_3DMC_detr.sdm 10a9b4f2f04a3511\n"
            "run1_3DMC_spikes.sdm 5452d610c384b319\n"
            "run1_3DMC_sqr.sdm 852963e8d53fe597\n"
            "run1_3DMC_t1.sdm f4fbfecdd702a3d4\n"
            "run1_3DMC_t1sqr.sdm d2e6d6015fda8f59\n"
            "run1_3DMC_t2.sdm 5e03aa0f384e9a17\n"
            "run1_3DMC_t2sqr.sdm 264788a7e4762869\n"
            "run2_3DMC.sdm 5ea0ba13b3816309\n"
            "run2_3DMC_deriv.sdm d5dc198a5088ba33\n"
            "run2_3DMC_detr.sdm 747acac7cbe406be\n"
            "run2_3DMC_sqr.sdm 39d25292d2182c68\n"
            "run2_3DMC_t1.sdm b6395a6486f3e202\n"
            "run2_3DMC_t1sqr.sdm 6e8dc1d3bc1da8ae\n"
            "run2_3DMC_t2.sdm 97af96a2119157b0\n"
            "run2_3DMC_t2sqr.sdm 12ec4343ef0532cd\n"
            "plots 335071af062f4e93\n");
}

// The volumes around the spikes of the example worked out by hand: spikes at
// 3, 11, 13, 80 and 97 of 100 volumes, and no clean stretch shorter than 5.
TEST_F(ScrubbingTask, FlaggedVolumesSquaredDerivativeAndCombinedModel) {
  const std::string run = motionFile("run1_3DMC.sdm", driftingRun(100, {3, 11, 13, 80, 97}));
  const std::vector<Row> rows = rowsOf(run);
  const std::vector<std::size_t> spikes{3, 11, 13, 80, 97};
  ASSERT_EQ(spikesByHand(rows, 0.3), spikes);
  // The stretches 0-2, 12 and 98-99 are too short; 4-10 (7 volumes) stays.
  const std::vector<std::size_t> flagged{0, 1, 2, 3, 11, 12, 13, 80, 97, 98, 99};

  test::RecordingHost host;
  host.set("sdmfile", run);
  host.set("spike_threshold", 0.3f);
  host.set("spike_min_segment", 5);
  for (const char* name :
       {"create_spikes", "create_detrended", "create_derivative", "create_derivativesq",
        "create_squared", "create_delayed2sq", "create_combined"}) {
    host.set(name, 1);
  }
  createConfoundModels(host);

  const std::vector<std::string> lines = log(host);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "Tessel>  Detecting Spikes");
  const std::vector<double> r = rmsByHand(detrendedByHand(rows));
  for (std::size_t i = 0; i < spikes.size(); ++i) {
    expectLine(
        lines[1 + i],
        "Tessel>  Found spike at position " + std::to_string(spikes[i]) + " with displacement # mm",
        {r[spikes[i]]});
  }
  EXPECT_EQ(lines[6], "Tessel>  Flagged 6 more volumes around the spikes, 11 in all");
  EXPECT_EQ(lines[7], "Tessel>  Saving SDMs");

  std::set<std::string> names;
  for (const auto& [name, bytes] : folder()) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"run1_3DMC.sdm", "run1_3DMC_spikes.sdm",
                                          "run1_3DMC_detr.sdm", "run1_3DMC_deriv.sdm",
                                          "run1_3DMC_derivsqr.sdm", "run1_3DMC_sqr.sdm",
                                          "run1_3DMC_t2sqr.sdm", "run1_3DMC_combined.sdm"}));

  const SdmDocument spikeModel(dir.file("run1_3DMC_spikes.sdm"));
  EXPECT_EQ(spikeModel.NrOfPredictors.value, 11);
  EXPECT_FALSE(spikeModel.IncludesConstant.value);
  EXPECT_EQ(spikeModel.FirstConfoundPredictor.value, 1);
  EXPECT_EQ(spikeModel.names, spikeNames(flagged));
  for (std::size_t p = 0; p < flagged.size(); ++p) {
    std::vector<float> oneHot(100, 0.0f);
    oneHot[flagged[p]] = 1.0f;
    EXPECT_EQ(spikeModel.columns.at(p), oneHot) << p;
    EXPECT_EQ((std::array{spikeModel.red.at(p), spikeModel.green.at(p), spikeModel.blue.at(p)}),
              (std::array{250, 250, 250}));
  }

  // The derivative of the detrended parameters, squared, then z-scored.
  const std::vector<Row> d = detrendedByHand(rows);
  const SdmDocument derivativeSquared(dir.file("run1_3DMC_derivsqr.sdm"));
  ASSERT_EQ(derivativeSquared.columns.size(), 6u);
  for (std::size_t p = 0; p < 6; ++p) {
    EXPECT_EQ(derivativeSquared.names[p],
              kMotionPredictorNames[p] + " detrended derivative squared");
    EXPECT_EQ((std::array{derivativeSquared.red[p], derivativeSquared.green[p],
                          derivativeSquared.blue[p]}),
              kMotionPredictorColours[p]);
    std::vector<double> squares(100, 0.0);
    for (std::size_t t = 1; t + 1 < 100; ++t) {
      squares[t] = std::pow((d[t + 1][p] - d[t - 1][p]) * 0.5, 2);
    }
    const std::vector<double> expected = standardizedByHand(squares);
    for (std::size_t t = 0; t < 100; ++t) {
      EXPECT_NEAR(derivativeSquared.columns[p][t], expected[t], 5e-5) << p << " " << t;
    }
  }

  // Every column of every file written, in the combined order, as in its file.
  SdmDocument expected;
  for (const char* suffix : {"_detr", "_deriv", "_derivsqr", "_sqr", "_t2sqr", "_spikes"}) {
    const SdmDocument part(dir.file(std::string("run1_3DMC") + suffix + ".sdm"));
    expected.names = joined(expected.names, part.names);
    expected.red = joined(expected.red, part.red);
    expected.green = joined(expected.green, part.green);
    expected.blue = joined(expected.blue, part.blue);
    expected.columns = joined(expected.columns, part.columns);
  }
  const SdmDocument combined(dir.file("run1_3DMC_combined.sdm"));
  EXPECT_EQ(combined.NrOfPredictors.value, 41);
  EXPECT_EQ(combined.NrOfDataPoints.value, 100);
  EXPECT_FALSE(combined.IncludesConstant.value);
  EXPECT_EQ(combined.FirstConfoundPredictor.value, 1);
  EXPECT_EQ(combined.names, expected.names);
  EXPECT_EQ(combined.red, expected.red);
  EXPECT_EQ(combined.green, expected.green);
  EXPECT_EQ(combined.blue, expected.blue);
  EXPECT_EQ(combined.columns, expected.columns);

  // Nothing left to combine: the spike and combined files of this computation
  // must not stay as if they were the next one's.
  test::RecordingHost again;
  again.set("sdmfile", run);
  again.set("spike_threshold", 5.0f);
  again.set("create_spikes", 1);
  again.set("create_combined", 1);
  createConfoundModels(again);
  EXPECT_EQ(
      log(again),
      (std::vector<std::string>{
          "Tessel>  Detecting Spikes",
          "Tessel>  No spikes found with displacement greater than 5 mm", "Tessel>  Saving SDMs",
          "Tessel>  Removed the spike file of an earlier run: <dir>/run1_3DMC_spikes.sdm",
          "Tessel>  Removed the combined file of an earlier run: "
          "<dir>/run1_3DMC_combined.sdm"}));
  EXPECT_FALSE(fs::exists(dir.file("run1_3DMC_spikes.sdm")));
  EXPECT_FALSE(fs::exists(dir.file("run1_3DMC_combined.sdm")));

  // New spikes without the combined model: a combined file left from before
  // holds other spikes, so it goes with the new spike file's arrival.
  writeFile(dir.file("run1_3DMC_combined.sdm"), "earlier");
  test::RecordingHost spikesOnly;
  spikesOnly.set("sdmfile", run);
  spikesOnly.set("spike_threshold", 0.3f);
  spikesOnly.set("create_spikes", 1);
  createConfoundModels(spikesOnly);
  EXPECT_EQ(log(spikesOnly).back(),
            "Tessel>  Removed the combined file of an earlier run: <dir>/run1_3DMC_combined.sdm");
  EXPECT_TRUE(fs::exists(dir.file("run1_3DMC_spikes.sdm")));
  EXPECT_FALSE(fs::exists(dir.file("run1_3DMC_combined.sdm")));
}

TEST_F(ScrubbingTask, StudyQualityTable) {
  // Spikes at the first movable volume, side by side, and at the last volume;
  // a run without spikes; a restless run without spikes whose framewise
  // displacement is over the limit, while its RMS displacement is below that
  // of the first run.
  const std::string run1 = motionFile("run1_3DMC.sdm", driftingRun(41, {1, 8, 9, 40}));
  const std::string run2 = motionFile("run2_3DMC.sdm", driftingRun(37, {}));
  const std::string run3 = motionFile("run3_3DMC.sdm", driftingRun(29, {}, 2.5));
  writeMdm(dir.file("study.mdm"), {run1, run2, run3},
           {dir.file("run1.fmr"), dir.file("run2.fmr"), dir.file("run3.fmr")});
  ASSERT_EQ(spikesByHand(rowsOf(run1), 0.3), (std::vector<std::size_t>{1, 8, 9, 40}));
  ASSERT_TRUE(spikesByHand(rowsOf(run2), 0.3).empty());
  ASSERT_TRUE(spikesByHand(rowsOf(run3), 0.3).empty());

  test::RecordingHost host;
  host.set("sdmfile", dir.file("study.mdm"));
  host.set("spike_threshold", 0.3f);
  host.set("spike_before", 1);
  host.set("spike_after", 2);
  host.set("spike_min_segment", 5);
  host.set("create_qc", 1);
  host.set("qc_max_mean_fd", 0.25f);
  host.set("qc_max_flagged_percent", 20.0f);
  createConfoundModels(host);

  struct Expected {
    std::string run;
    std::size_t volumes, spikes, flagged, longestClean;
    std::string percent, over;
  };
  // run1: 1 flags 0-3, 8 and 9 flag 7-11, 40 flags 39-40; the 3 volumes 4-6
  // left between them are too few, 12-38 stays.
  const Expected expected[] = {{run1, 41, 4, 14, 27, "34.146341", "yes"},
                               {run2, 37, 0, 0, 37, "0.000000", "no"},
                               {run3, 29, 0, 0, 29, "0.000000", "yes"}};
  const std::string table = readFile(dir.file("study_qc.tsv"));
  const std::vector<std::string> lines = split(table, "\r\n");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0],
            "run\tvolumes\tmean_rms\tmax_rms\tmean_fd\tmax_fd\tspikes\tflagged\tflagged_percent\t"
            "remaining\tlongest_clean\tmax_translation\tmax_rotation\tover_limits\tdummy\t"
            "mean_fd_kept\tmean_dvars\tmean_std_dvars\tmax_std_dvars\tfd_dvars_correlation\t"
            "remaining_seconds\tdata_file\tmean_fd_unfiltered");
  EXPECT_EQ(lines[4], "");
  std::vector<double> meanFd;
  for (std::size_t i = 0; i < 3; ++i) {
    const Expected& e = expected[i];
    SCOPED_TRACE(e.run);
    const std::vector<Row> rows = rowsOf(e.run);
    const std::vector<double> rms = rmsByHand(rows);
    const std::vector<double> fd = seriesByHand(rows, framewiseChangeByHand<double>);
    double rmsSum = 0, rmsMax = 0, fdSum = 0, fdMax = 0, translation = 0, rotation = 0;
    double keptSum = 0, kept = 0;
    for (std::size_t t = 0; t < rows.size(); ++t) {
      // run1 keeps 12-38 (see above); the others every volume.
      if (t > 0 && (i > 0 || (t >= 12 && t <= 38))) {
        keptSum += fd[t];
        ++kept;
      }
      for (std::size_t p = 0; p < 3; ++p)
        translation = std::max(translation, std::fabs(rows[t][p]));
      for (std::size_t p = 3; p < 6; ++p) rotation = std::max(rotation, std::fabs(rows[t][p]));
      rmsSum += rms[t];
      rmsMax = std::max(rmsMax, rms[t]);
      fdSum += fd[t];
      fdMax = std::max(fdMax, fd[t]);
    }
    const double moves = static_cast<double>(rows.size() - 1);
    meanFd.push_back(fdSum / moves);

    const std::vector<std::string> cells = split(lines[1 + i], "\t");
    ASSERT_EQ(cells.size(), 23u);
    EXPECT_EQ(cells[0], e.run);
    EXPECT_EQ(cells[1], std::to_string(e.volumes));
    const std::pair<std::size_t, double> measures[] = {
        {2, rmsSum / moves}, {3, rmsMax},    {4, fdSum / moves},  {5, fdMax},
        {11, translation},   {12, rotation}, {15, keptSum / kept}};
    for (const auto& [cell, value] : measures) {
      const std::string& text = cells[cell];
      EXPECT_EQ(text.size() - text.find('.'), 7u) << "six decimals: " << text;
      // Figures in double: each the exact value rounded to six decimals.
      EXPECT_NEAR(std::stod(text), value, 5.000001e-7) << "column " << cell;
    }
    EXPECT_EQ(cells[6], std::to_string(e.spikes));
    EXPECT_EQ(cells[7], std::to_string(e.flagged));
    EXPECT_EQ(cells[8], e.percent);
    EXPECT_EQ(cells[9], std::to_string(e.volumes - e.flagged));
    EXPECT_EQ(cells[10], std::to_string(e.longestClean));
    EXPECT_EQ(cells[13], e.over);
    // No non-steady volumes, no voxel data read.
    EXPECT_EQ(cells[14], "0");
    for (std::size_t c = 16; c < 23; ++c) EXPECT_EQ(cells[c], "n/a") << c;
  }

  // Without the spike model the spikes are found silently, for the table.
  const std::vector<std::string> logged = log(host);
  ASSERT_EQ(logged.size(), 9u);
  const char* const qcLines[] = {
      "Tessel>  QC <dir>/run1_3DMC.sdm: mean framewise displacement # mm, 14 of 41 volumes "
      "flagged (34.1463 %)",
      "Tessel>  QC <dir>/run2_3DMC.sdm: mean framewise displacement # mm, 0 of 37 volumes "
      "flagged (0 %)",
      "Tessel>  QC <dir>/run3_3DMC.sdm: mean framewise displacement # mm, 0 of 29 volumes "
      "flagged (0 %)"};
  EXPECT_EQ(logged[0], "Tessel>  Saving SDMs");
  expectLine(logged[1], qcLines[0], {meanFd[0]});
  expectLine(logged[2],
             "Tessel>  Warning: <dir>/run1_3DMC.sdm is over the QC limits: mean framewise "
             "displacement # mm (limit 0.25 mm), 34.1463 % of the volumes flagged (limit 20 %)",
             {meanFd[0]});
  EXPECT_EQ(logged[3], "Tessel>  Saving SDMs");
  expectLine(logged[4], qcLines[1], {meanFd[1]});
  EXPECT_EQ(logged[5], "Tessel>  Saving SDMs");
  expectLine(logged[6], qcLines[2], {meanFd[2]});
  expectLine(logged[7],
             "Tessel>  Warning: <dir>/run3_3DMC.sdm is over the QC limits: mean framewise "
             "displacement # mm (limit 0.25 mm)",
             {meanFd[2]});
  EXPECT_EQ(logged[8], "Tessel>  Saved the QC table: <dir>/study_qc.tsv");
  std::set<std::string> names;
  for (const auto& [name, bytes] : folder()) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"run1_3DMC.sdm", "run2_3DMC.sdm", "run3_3DMC.sdm",
                                          "study.mdm", "study_qc.tsv"}));

  // A run that cannot be written stops the task before the table: the table
  // of the earlier computation stays as it was, though the limits changed.
  fs::create_directory(dir.file("run3_3DMC_detr.sdm"));
  host.set("create_spikes", 1);
  host.set("create_detrended", 1);
  host.set("qc_max_flagged_percent", 50.0f);
  host.logLines.clear();
  EXPECT_THROW_MSG(createConfoundModels(host), std::runtime_error,
                   "Cannot Create file: " + dir.file("run3_3DMC_detr.sdm"));
  EXPECT_EQ(readFile(dir.file("study_qc.tsv")), table);
  const std::vector<std::string> failing = log(host);
  EXPECT_EQ(std::count(failing.begin(), failing.end(),
                       "Tessel>  Flagged 10 more volumes around the spikes, 14 in all"),
            1);
  EXPECT_EQ(std::count_if(failing.begin(), failing.end(),
                          [](const std::string& l) { return l.find("QC table") != l.npos; }),
            0);
  EXPECT_EQ(SdmDocument(dir.file("run1_3DMC_spikes.sdm")).names,
            spikeNames(joined(range(0, 11), {39, 40})));
}

// 7 of 250 volumes flagged are 2.8 %: at a limit typed as 2.8 (which the
// host hands over as the float 2.7999999523), not over it.
TEST_F(ScrubbingTask, ARunExactlyAtATypedLimitIsNotOverIt) {
  const std::string run =
      motionFile("run1_3DMC.sdm", driftingRun(250, {20, 50, 80, 110, 140, 170, 200}));
  ASSERT_EQ(spikesByHand(rowsOf(run), 0.3).size(), 7u);
  for (const auto& [limit, over] : {std::pair{2.8f, "no"}, std::pair{2.79f, "yes"}}) {
    test::RecordingHost host;
    host.set("sdmfile", run);
    host.set("spike_threshold", 0.3f);
    host.set("create_qc", 1);
    host.set("qc_max_flagged_percent", limit);
    createConfoundModels(host);
    const std::vector<std::string> row =
        split(split(readFile(dir.file("run1_3DMC_qc.tsv")), "\r\n")[1], "\t");
    EXPECT_EQ(row[8], "2.800000");
    EXPECT_EQ(row[13], over) << limit;
  }
}

TEST_F(ScrubbingTask, NegativeCountsAreRefusedBeforeAnythingIsDone) {
  const std::string run = motionFile("run1_3DMC.sdm", driftingRun(9, {4}));
  for (const char* name : {"spike_before", "spike_after", "spike_min_segment"}) {
    test::RecordingHost host;
    host.set("sdmfile", run);
    host.set("spike_threshold", 0.3f);
    host.set("create_spikes", 1);
    host.set("create_qc", 1);
    host.set(name, -2);
    EXPECT_THROW_MSG(
        createConfoundModels(host), std::invalid_argument,
        std::string("Dialog parameter ") + name + " is -2: a number of volumes cannot be negative");
    EXPECT_EQ(host.calls, std::vector<std::string>{});
  }
  EXPECT_EQ(folder().size(), 1u);
}

}  // namespace
}  // namespace tsl::testing
