// The confound task in-process, through a recording host: what it reads,
// logs, plots and writes for the runs of a motion SDM or MDM, and what it
// refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "designmatrix/sdm_document.h"
#include "examples/motion_file_writer.h"
#include "motion/motion_series.h"
#include "tasks/dialog_parameters.h"
#include "tasks/tasks.h"
#include "tests/support/confound_runs.h"
#include "tests/support/recording_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;

const std::vector<std::string> kSwitches = {
    "create_detrended", "create_derivative", "create_spikes",   "create_squared",
    "create_delayed1",  "create_delayed1sq", "create_delayed2", "create_delayed2sq",
    "plot_regular",     "plot_detrended"};

const std::string kSaving = "Tessel>  Saving SDMs";
const std::string kDetrendedTitle = " + Displacement for Spike Detection";

// The spike lines of the hand run at a threshold of 0.5: r(7) and r(9) equal
// it and are no spikes.
const std::vector<std::string> kHandSpikeLog = {
    "Tessel>  Detecting Spikes", "Tessel>  Found spike at position 4 with displacement 1.25 mm",
    "Tessel>  Found spike at position 12 with displacement 1.25 mm"};

const char* const kHandSpikesFile =
    "FileVersion:            1\r\n"
    "\r\n"
    "NrOfPredictors:         2\r\n"
    "NrOfDataPoints:         16\r\n"
    "IncludesConstant:       0\r\n"
    "FirstConfoundPredictor: 1\r\n"
    "\r\n"
    "250 250 250   250 250 250\r\n"
    "\"Spike Volume 4\" \"Spike Volume 12\"\r\n"
    "  0.000000   0.000000\r\n  0.000000   0.000000\r\n  0.000000   0.000000\r\n"
    "  0.000000   0.000000\r\n  1.000000   0.000000\r\n  0.000000   0.000000\r\n"
    "  0.000000   0.000000\r\n  0.000000   0.000000\r\n  0.000000   0.000000\r\n"
    "  0.000000   0.000000\r\n  0.000000   0.000000\r\n  0.000000   0.000000\r\n"
    "  0.000000   1.000000\r\n  0.000000   0.000000\r\n  0.000000   0.000000\r\n"
    "  0.000000   0.000000\r\n";

// tx / sd(tx) = +-sqrt(15/16) = +-0.968246; ty / sd(ty) with sd(ty) =
// sqrt(4.25 / 15): 0.5 -> 0.939336, 0.75 -> 1.409005, 0.25 -> 0.469668. The
// four constant columns are 0 after detrending and only centred.
const char* const kHandDetrendedFile =
    "FileVersion:            1\r\n"
    "\r\n"
    "NrOfPredictors:         6\r\n"
    "NrOfDataPoints:         16\r\n"
    "IncludesConstant:       0\r\n"
    "FirstConfoundPredictor: 1\r\n"
    "\r\n"
    "255 0 0   0 255 0   0 0 255   255 255 0   255 0 255   0 255 255\r\n"
    "\"Translation X [mm] detrended\" \"Translation Y [mm] detrended\" "
    "\"Translation Z [mm] detrended\" \"Rotation X [deg] detrended\" "
    "\"Rotation Y [deg] detrended\" \"Rotation Z [deg] detrended\"\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   1.409005   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.469668   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.469668   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   1.409005   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n";

// A host for the task on sdmfile with the switches in on set to 2 (any value
// but 0 is on) and every other one to 0.
RecordingHost confoundHost(const std::string& sdmfile, float threshold,
                           const std::set<std::string>& on) {
  RecordingHost host;
  host.set("sdmfile", sdmfile);
  host.set("spike_threshold", threshold);
  for (const std::string& name : kSwitches) host.set(name, on.count(name) != 0 ? 2 : 0);
  return host;
}

// The host after the task ran on it as confoundHost sets it up; what the task
// throws fails the test.
RecordingHost confound(const std::string& sdmfile, float threshold,
                       const std::set<std::string>& on) {
  RecordingHost host = confoundHost(sdmfile, threshold, on);
  createConfoundModels(host);
  return host;
}

// Expects the task on sdmfile with the switches in on to throw an Error with
// the text refusal before it calls the host at all.
template <typename Error>
void expectRefusal(const std::string& sdmfile, const std::set<std::string>& on,
                   const std::string& refusal) {
  SCOPED_TRACE(sdmfile);
  RecordingHost host = confoundHost(sdmfile, 0.5f, on);
  EXPECT_THROW_MSG(createConfoundModels(host), Error, refusal);
  EXPECT_TRUE(host.calls.empty());
}

std::set<std::string> allModels() {
  std::set<std::string> on;
  for (const ConfoundOutput& o : kConfoundOutputs) on.insert(o.parameter);
  return on;
}

std::vector<std::string> suffixed(const std::string& suffix) {
  std::vector<std::string> names;
  for (const std::string& name : kMotionPredictorNames) names.push_back(name + suffix);
  return names;
}

std::array<int, 3> colourOf(const SdmDocument& document, std::size_t predictor) {
  return {document.red[predictor], document.green[predictor], document.blue[predictor]};
}

// The header entries of an SDM file's text, as written.
std::string headerOf(const std::string& text) {
  return text.substr(0, text.find("\r\n", text.find("FirstConfoundPredictor:")));
}

std::string fileName(const std::string& path) { return fs::path(path).filename().string(); }

// Detrending in single precision, in the order the sums and formulas are
// defined, written here from those definitions.
std::vector<float> detrendedByHand(const std::vector<float>& y) {
  const float n = static_cast<float>(y.size());
  float sx = 0, sy = 0, sxy = 0, sxx = 0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    const float x = static_cast<float>(i);
    sx += x;
    sy += y[i];
    sxy += y[i] * x;
    sxx += static_cast<float>(static_cast<int>(i * i));
  }
  const float b = (sxy * n - sy * sx) / (sxx * n - sx * sx);
  const float c = (sy - b * sx) / n;
  std::vector<float> d(y.size());
  for (std::size_t i = 0; i < y.size(); ++i) d[i] = y[i] - (static_cast<float>(i) * b + c);
  return d;
}

// The column as the task must write it, computed in the precision of T: mean
// and sample standard deviation, divided only when the spread is at least
// 0.0001 (in float, the order of the operations is the task's own).
template <typename T>
std::vector<T> standardized(std::vector<T> v) {
  T sum = 0;
  for (T x : v) sum += x;
  const T mean = sum / static_cast<T>(v.size());
  T ss = 0;
  for (T x : v) ss += (x - mean) * (x - mean);
  const T sd = std::sqrt(ss / static_cast<T>(v.size() - 1));
  for (T& x : v) x = (x - mean) / (sd < static_cast<T>(0.0001) ? T(1) : sd);
  return v;
}

// The standardised model of output kConfoundOutputs[index] (1..7) from the
// detrended column d, in double precision.
std::vector<double> modelOf(std::size_t index, const std::vector<float>& column) {
  const std::vector<double> d(column.begin(), column.end());
  const std::size_t n = d.size();
  auto delayed = [&](std::size_t k) {
    std::vector<double> v(n, 0.0);
    for (std::size_t i = k; i < n; ++i) v[i] = d[i - k];
    return v;
  };
  auto squared = [](std::vector<double> v) {
    for (double& x : v) x *= x;
    return v;
  };
  std::vector<double> v;
  switch (index) {
    case 1:
      v = d;
      break;
    case 2:
      v.assign(n, 0.0);
      for (std::size_t i = 1; i + 1 < n; ++i) v[i] = (d[i + 1] - d[i - 1]) * 0.5;
      break;
    case 3:
      v = squared(d);
      break;
    case 4:
      v = delayed(1);
      break;
    case 5:
      v = delayed(2);
      break;
    case 6:
      v = squared(delayed(1));
      break;
    default:
      v = squared(delayed(2));
      break;
  }
  return standardized(v);
}

class ConfoundTask : public ::testing::Test {
 protected:
  std::string motionFile(const std::string& relative, const std::vector<MotionRow>& rows) {
    const std::string file = dir.file(relative);
    fs::create_directories(fs::path(file).parent_path());
    writeHostMotionSdm(file, rows);
    return file;
  }

  // The hand run in s1/, twice as large in s2/ and a quarter as large in s3/,
  // listed in that order by study_3DMC.mdm.
  std::vector<std::string> threeHandRuns() {
    const std::vector<std::string> sdms = {motionFile("s1/run1_3DMC.sdm", handRows()),
                                           motionFile("s2/run2_3DMC.sdm", handRows(2.0f)),
                                           motionFile("s3/run3_3DMC.sdm", handRows(0.25f))};
    writeMdm(dir.file("study_3DMC.mdm"), sdms,
             {dir.file("s1/run1.fmr"), dir.file("s2/run2.fmr"), dir.file("s3/run3.fmr")});
    return sdms;
  }

  TempDir dir;
};

TEST_F(ConfoundTask, EveryOutputOfADriftingRunComesFromItsSinglePrecisionDetrending) {
  // All six parameters drift (about 2 mm and 1 degree over an odd number of
  // volumes) and wobble; the head jumps at volume 40 and stays, and volume
  // 101 is an outlier of its own. The drift alone would make every volume
  // move more than the threshold.
  constexpr std::size_t kVolumes = 157;
  const float drift[6] = {0.0125f, -0.0105f, 0.009f, 0.0075f, -0.006f, 0.0065f};
  std::vector<MotionRow> rows(kVolumes);
  for (std::size_t t = 0; t < kVolumes; ++t) {
    const float f = static_cast<float>(t);
    for (std::size_t p = 0; p < 6; ++p) {
      rows[t][p] = drift[p] * f + 0.004f * std::sin(0.7f * f + static_cast<float>(p));
    }
    if (t >= 40) rows[t][0] += 0.75f;
    if (t == 101) rows[t][4] += 0.9f;
  }
  const std::string sdm = motionFile("a/b/run1_3DMC.sdm", rows);
  const float threshold = 0.02f;
  const RecordingHost host =
      confound(sdm, threshold, std::set<std::string>(kSwitches.begin(), kSwitches.end()));
  EXPECT_EQ(
      host.parametersRead,
      (std::vector<std::string>{
          "spike_threshold", "create_detrended", "create_derivative", "create_spikes",
          "create_squared", "create_delayed1", "create_delayed1sq", "create_delayed2",
          "create_delayed2sq", "plot_regular", "plot_detrended", "sdmfile",
          // the scrubbing and quality options, after the others
          "spike_before", "spike_after", "spike_min_segment", "create_derivativesq",
          "create_combined", "create_qc", "qc_max_mean_fd", "qc_max_flagged_percent",
          // the signal and censoring options
          "spike_measure", "fd_threshold", "dvars_threshold", "compute_dvars", "dummy_volumes",
          "detect_dummy_volumes", "create_confounds_tsv", "qc_min_remaining", "fmr_threshold",
                // the motion filter
                "motion_filter", "band_stop_min", "band_stop_max", "motion_filter_order",
                "create_filtered",
                // the study report
                "create_report"}));

  const SdmDocument motion(sdm);  // the parameters as the task reads them
  SdmDocument detrended = motion;
  for (std::size_t p = 0; p < 6; ++p) detrended.columns[p] = detrendedByHand(motion.columns[p]);
  detrended.names = suffixed(" detrended");
  const std::vector<float> r = relativeRmsDisplacement(detrended);

  // The plain plot comes first, the detrended one after the spike lines.
  const std::vector<std::size_t> spikes = {40, 101, 102};
  std::vector<std::string> calls = {"plot " + sdm, "log Tessel>  Detecting Spikes"};
  for (const std::size_t k : spikes) {
    std::ostringstream line;
    line << "log Tessel>  Found spike at position " << k << " with displacement " << r[k] << " mm";
    calls.push_back(line.str());
  }
  calls.push_back("plot " + sdm + kDetrendedTitle);
  calls.push_back("log " + kSaving);
  EXPECT_EQ(host.calls, calls);

  // Both plots to the last bit.
  ASSERT_EQ(host.plots.size(), 2u);
  const std::vector<std::array<int, 3>> colours(kMotionPredictorColours.begin(),
                                                kMotionPredictorColours.end());
  EXPECT_EQ(host.plots[0].names, motion.names);
  EXPECT_EQ(host.plots[0].columns, motion.columns);
  EXPECT_EQ(host.plots[0].colours, colours);
  std::vector<std::string> curves = detrended.names;
  curves.insert(curves.end(), {"relative RMS displacement", "Spike threshold"});
  std::vector<std::vector<float>> values = detrended.columns;
  values.insert(values.end(), {r, std::vector<float>(kVolumes, threshold)});
  std::vector<std::array<int, 3>> detrendedColours = colours;
  detrendedColours.insert(detrendedColours.end(), {{250, 250, 250}, {150, 0, 0}});
  EXPECT_EQ(host.plots[1].names, curves);
  EXPECT_EQ(host.plots[1].columns, values);
  EXPECT_EQ(host.plots[1].colours, detrendedColours);

  std::set<std::string> files = {"run1_3DMC.sdm"};
  for (const ConfoundOutput& o : kConfoundOutputs)
    files.insert(fileName(withSuffix(sdm, o.suffix)));
  EXPECT_EQ(filesIn(dir.file("a/b")), files);

  // The spike file: one predictor per spike, 1 at its volume and 0 elsewhere.
  const SdmDocument spikeFile(withSuffix(sdm, "_spikes"));
  EXPECT_EQ(spikeFile.names,
            (std::vector<std::string>{"Spike Volume 40", "Spike Volume 101", "Spike Volume 102"}));
  EXPECT_EQ(spikeFile.FirstConfoundPredictor.value, 1);
  EXPECT_FALSE(spikeFile.IncludesConstant.value);
  for (std::size_t s = 0; s < spikes.size() && s < spikeFile.columns.size(); ++s) {
    std::vector<float> column(kVolumes, 0.0f);
    column[spikes[s]] = 1.0f;
    EXPECT_EQ(spikeFile.columns[s], column) << spikes[s];
    EXPECT_EQ(colourOf(spikeFile, s), (std::array<int, 3>{250, 250, 250}));
  }

  // The detrended file to the last bit, header entries as the motion file's.
  SdmDocument standardizedDetrended = detrended;
  for (std::vector<float>& column : standardizedDetrended.columns) column = standardized(column);
  std::ostringstream bytes;
  standardizedDetrended.write(bytes);
  EXPECT_EQ(readFile(withSuffix(sdm, "_detr")), bytes.str());

  // Every model keeps the motion file's header, derives from the detrended
  // values and is standardised.
  for (std::size_t m = 1; m < kConfoundOutputs.size(); ++m) {
    const SdmDocument model(withSuffix(sdm, kConfoundOutputs[m].suffix));
    SCOPED_TRACE(model.path);
    EXPECT_EQ(headerOf(readFile(model.path)), headerOf(readFile(sdm)));
    EXPECT_EQ(model.names, suffixed(kConfoundOutputs[m].nameSuffix));
    ASSERT_EQ(model.columns.size(), 6u);
    for (std::size_t p = 0; p < 6; ++p) {
      EXPECT_EQ(colourOf(model, p), colours[p]);
      const std::vector<double> expected = modelOf(m, detrended.columns[p]);
      for (std::size_t i = 0; i < kVolumes; ++i) {
        // Six decimals in the file, float rounding of values up to about 10.
        EXPECT_NEAR(model.columns[p][i], expected[i], 2e-6 + 1e-6 * std::fabs(expected[i]))
            << "predictor " << p << " row " << i;
      }
    }
  }
}

TEST_F(ConfoundTask, EachSwitchAloneDoesItsOwnPartOnly) {
  const std::string sdm = motionFile("run1_3DMC.sdm", handRows());
  RecordingHost host = confound(sdm, 0.5f, {});
  EXPECT_EQ(host.calls, std::vector<std::string>{"log " + kSaving});
  EXPECT_EQ(filesIn(dir.path().string()), std::set<std::string>{"run1_3DMC.sdm"});

  for (const ConfoundOutput& o : kConfoundOutputs) {
    SCOPED_TRACE(o.parameter);
    const std::string file = withSuffix(sdm, o.suffix);
    host = confound(sdm, 0.5f, {o.parameter});
    const bool isSpikes = o.suffix == std::string("_spikes");
    std::vector<std::string> log = isSpikes ? kHandSpikeLog : std::vector<std::string>{};
    log.push_back(kSaving);
    EXPECT_EQ(host.logLines, log);
    EXPECT_TRUE(host.plots.empty());
    EXPECT_EQ(filesIn(dir.path().string()),
              (std::set<std::string>{"run1_3DMC.sdm", fileName(file)}));
    if (fs::is_regular_file(file)) {
      const std::vector<std::string> names =
          isSpikes ? std::vector<std::string>{"Spike Volume 4", "Spike Volume 12"}
                   : suffixed(o.nameSuffix);
      EXPECT_EQ(SdmDocument(file).names, names);
    }
    fs::remove(file);
  }

  // Plots alone write no file.
  host = confound(sdm, 0.5f, {"plot_regular"});
  EXPECT_EQ(host.calls, (std::vector<std::string>{"plot " + sdm, "log " + kSaving}));
  host = confound(sdm, 0.5f, {"plot_detrended"});
  EXPECT_EQ(host.calls,
            (std::vector<std::string>{"plot " + sdm + kDetrendedTitle, "log " + kSaving}));
  EXPECT_EQ(filesIn(dir.path().string()), std::set<std::string>{"run1_3DMC.sdm"});
}

TEST_F(ConfoundTask, SpikesAreDisplacementsStrictlyAboveTheThreshold) {
  const std::string sdm = motionFile("run1_3DMC.sdm", handRows());
  const std::string spikes = withSuffix(sdm, "_spikes");

  // The largest displacement itself is no spike; no spike file then.
  RecordingHost host = confound(sdm, 1.25f, {"create_spikes"});
  EXPECT_EQ(host.logLines,
            (std::vector<std::string>{
                "Tessel>  Detecting Spikes",
                "Tessel>  No spikes found with displacement greater than 1.25 mm", kSaving}));
  host = confound(sdm, 2.0f, {"create_spikes"});
  EXPECT_EQ(host.logLines.at(1), "Tessel>  No spikes found with displacement greater than 2 mm");
  EXPECT_EQ(filesIn(dir.path().string()), std::set<std::string>{"run1_3DMC.sdm"});

  // Below every value: each volume is a spike, volume 0 included.
  host = confound(sdm, -0.125f, {"create_spikes"});
  const std::vector<std::string>& lines = host.logLines;
  ASSERT_EQ(lines.size(), kHandVolumes + 3);
  EXPECT_EQ(lines[1], "Tessel>  Found spike at position 0 with displacement 0 mm");
  EXPECT_EQ(
      lines[kHandVolumes + 1],
      "Tessel>  Warning: " + sdm + ": every volume is flagged; its spike model leaves no data");
  EXPECT_EQ(lines[5], "Tessel>  Found spike at position 4 with displacement 1.25 mm");
  EXPECT_EQ(lines[7], "Tessel>  Found spike at position 6 with displacement 0.25 mm");
  EXPECT_EQ(lines[8], "Tessel>  Found spike at position 7 with displacement 0.5 mm");
  EXPECT_EQ(lines[16], "Tessel>  Found spike at position 15 with displacement 0 mm");
  const SdmDocument all(spikes);
  ASSERT_EQ(all.NrOfPredictors.value, 16);
  for (std::size_t k = 0; k < kHandVolumes; ++k) {
    EXPECT_EQ(all.names[k], "Spike Volume " + std::to_string(k));
    for (std::size_t i = 0; i < kHandVolumes; ++i)
      EXPECT_EQ(all.columns[k][i], i == k ? 1.0f : 0.0f);
  }
  fs::remove(spikes);

  // Off: no detection whatever the threshold.
  host = confound(sdm, -1.0f, {"create_detrended"});
  EXPECT_EQ(host.logLines, std::vector<std::string>{kSaving});
  EXPECT_EQ(filesIn(dir.path().string()),
            (std::set<std::string>{"run1_3DMC.sdm", "run1_3DMC_detr.sdm"}));
}

TEST_F(ConfoundTask, ARunsFilesArriveTogetherInTheirOrderOrNotAtAll) {
  const std::string sdm = motionFile("run1_3DMC.sdm", handRows());
  // Folders in the places of outputs j and j + 1: the run fails at j, the
  // first of them to be put in place, and every file is left as it was (the
  // outputs put in place before j are taken back, no temporary file stays).
  for (std::size_t j = 0; j < kConfoundOutputs.size(); ++j) {
    for (std::size_t k = 0; k < kConfoundOutputs.size(); ++k) {
      const std::string path = withSuffix(sdm, kConfoundOutputs[k].suffix);
      if (k == j || k == j + 1) {
        fs::create_directory(path);
      } else {
        writeFile(path, std::string("earlier ") + kConfoundOutputs[k].suffix);
      }
    }
    const auto before = folderContents(dir.path());
    RecordingHost host = confoundHost(sdm, 0.5f, allModels());
    EXPECT_THROW_MSG(createConfoundModels(host), std::runtime_error,
                     "Cannot Create file: " + withSuffix(sdm, kConfoundOutputs[j].suffix));
    EXPECT_EQ(folderContents(dir.path()), before) << kConfoundOutputs[j].suffix;
    for (const ConfoundOutput& o : kConfoundOutputs) fs::remove(withSuffix(sdm, o.suffix));
  }

  // In a study list, the runs before the failing one keep their outputs; the
  // failing run and those after it add nothing.
  const std::vector<std::string> sdms = threeHandRuns();
  fs::create_directory(withSuffix(sdms[1], "_t1"));
  RecordingHost host = confoundHost(dir.file("study_3DMC.mdm"), 0.5f, allModels());
  EXPECT_THROW_MSG(createConfoundModels(host), std::runtime_error,
                   "Cannot Create file: " + withSuffix(sdms[1], "_t1"));
  EXPECT_EQ(filesIn(dir.file("s1")).size(), 1 + kConfoundOutputs.size());
  EXPECT_EQ(filesIn(dir.file("s2")), (std::set<std::string>{"run2_3DMC.sdm", "run2_3DMC_t1.sdm"}));
  EXPECT_EQ(filesIn(dir.file("s3")), std::set<std::string>{"run3_3DMC.sdm"});
  const std::vector<std::string>& log = host.logLines;
  EXPECT_EQ(std::count(log.begin(), log.end(), "Tessel>  Detecting Spikes"), 2);
  EXPECT_EQ(std::count(log.begin(), log.end(), kSaving), 2);
}

TEST_F(ConfoundTask, ThreeRunsOfAnMdmEachBesideItsOwnSdm) {
  const std::vector<std::string> sdms = threeHandRuns();
  const std::string mdm = dir.file("study_3DMC.mdm");
  const std::string mdmBytes = readFile(mdm);

  const RecordingHost host = confound(mdm, 0.5f, allModels());
  // Steps of 1.25 mm, 2.5 mm (the second run moves twice as far; its 0.5 mm
  // steps become 1 mm) and 0.3125 mm.
  std::vector<std::string> log = kHandSpikeLog;
  log.insert(log.end(),
             {kSaving, "Tessel>  Detecting Spikes",
              "Tessel>  Found spike at position 4 with displacement 2.5 mm",
              "Tessel>  Found spike at position 7 with displacement 1 mm",
              "Tessel>  Found spike at position 9 with displacement 1 mm",
              "Tessel>  Found spike at position 12 with displacement 2.5 mm", kSaving,
              "Tessel>  Detecting Spikes",
              "Tessel>  No spikes found with displacement greater than 0.5 mm", kSaving});
  EXPECT_EQ(host.logLines, log);
  for (std::size_t r = 0; r < sdms.size(); ++r) {
    std::set<std::string> expected = {fileName(sdms[r])};
    for (const ConfoundOutput& o : kConfoundOutputs) {
      if (r < 2 || o.suffix != std::string("_spikes"))
        expected.insert(fileName(withSuffix(sdms[r], o.suffix)));
    }
    EXPECT_EQ(filesIn(fs::path(sdms[r]).parent_path().string()), expected);
  }
  // Byte for byte, so that every build writes the same files.
  EXPECT_EQ(readFile(withSuffix(sdms[0], "_spikes")), kHandSpikesFile);
  EXPECT_EQ(readFile(withSuffix(sdms[0], "_detr")), kHandDetrendedFile);
  // Scaling a column does not change its z-scores.
  EXPECT_EQ(readFile(withSuffix(sdms[1], "_detr")), kHandDetrendedFile);
  // No MDM is written or rewritten.
  EXPECT_EQ(filesIn(dir.path().string()),
            (std::set<std::string>{"s1", "s2", "s3", "study_3DMC.mdm"}));
  EXPECT_EQ(readFile(mdm), mdmBytes);
}

TEST_F(ConfoundTask, NoSpikeRemovesTheSpikeFileOfAnEarlierRun) {
  const std::string sdm = motionFile("run1_3DMC.sdm", handRows());
  const std::string spikes = withSuffix(sdm, "_spikes");
  writeFile(spikes, kHandSpikesFile);

  // Without detection the earlier file is not this run's business.
  confound(sdm, 2.0f, {"create_detrended"});
  EXPECT_EQ(readFile(spikes), kHandSpikesFile);

  // A run that fails removes nothing.
  fs::remove(withSuffix(sdm, "_detr"));
  fs::create_directory(withSuffix(sdm, "_detr"));
  RecordingHost failing = confoundHost(sdm, 2.0f, {"create_spikes", "create_detrended"});
  EXPECT_THROW_MSG(createConfoundModels(failing), std::runtime_error,
                   "Cannot Create file: " + withSuffix(sdm, "_detr"));
  EXPECT_EQ(readFile(spikes), kHandSpikesFile);
  fs::remove(withSuffix(sdm, "_detr"));

  const RecordingHost host = confound(sdm, 2.0f, {"create_spikes", "create_detrended"});
  EXPECT_EQ(host.logLines,
            (std::vector<std::string>{
                "Tessel>  Detecting Spikes",
                "Tessel>  No spikes found with displacement greater than 2 mm", kSaving,
                "Tessel>  Removed the spike file of an earlier run: " + spikes}));
  EXPECT_EQ(filesIn(dir.path().string()),
            (std::set<std::string>{"run1_3DMC.sdm", "run1_3DMC_detr.sdm"}));
}

TEST_F(ConfoundTask, RunsTooShortToDetrendAreRefusedBeforeAnythingIsDone) {
  const std::string single =
      motionFile("s2/single_3DMC.sdm", {MotionRow{0.5f, -0.25f, 0.125f, 1, -2, 3}});
  const std::string refusal =
      "SDM file " + single + ": holds 1 data point, a detrended series needs at least 2";
  std::set<std::string> everything(kSwitches.begin(), kSwitches.end());
  expectRefusal<IOError>(single, everything, refusal);
  for (const ConfoundOutput& o : kConfoundOutputs) {
    SCOPED_TRACE(o.parameter);
    expectRefusal<IOError>(single, {o.parameter}, refusal);
  }
  expectRefusal<IOError>(single, {"plot_detrended"}, refusal);

  // Every run of a study list is checked before the first one is processed.
  const std::string first = motionFile("s1/run1_3DMC.sdm", handRows());
  const std::string mdm = dir.file("study_3DMC.mdm");
  writeMdm(mdm, {first, single}, {dir.file("s1/run1.fmr"), dir.file("s2/single.fmr")});
  expectRefusal<IOError>(mdm, everything, refusal);
  EXPECT_EQ(filesIn(dir.file("s1")), std::set<std::string>{"run1_3DMC.sdm"});
  EXPECT_EQ(filesIn(dir.file("s2")), std::set<std::string>{"single_3DMC.sdm"});

  // The plain plot needs no detrending.
  const RecordingHost host = confound(single, 0.5f, {"plot_regular"});
  EXPECT_EQ(host.calls, (std::vector<std::string>{"plot " + single, "log " + kSaving}));
}

TEST_F(ConfoundTask, RefusesMotionFilesItCannotUseBeforeAnythingIsDone) {
  const std::string sdm = motionFile("run1_3DMC.sdm", handRows());
  const std::string text = readFile(sdm);
  // Refused rather than finished with nothing done.
  const std::vector<std::string> misnamed = {dir.file("run1_3DMC.txt"),
                                             dir.file("run1_3DMC.sdm.bak")};
  for (const std::string& path : misnamed) writeFile(path, text);
  // Five predictors cannot be motion parameters.
  SdmDocument five(sdm);
  for (auto* list : {&five.red, &five.green, &five.blue}) list->pop_back();
  five.columns.pop_back();
  five.names.pop_back();
  five.NrOfPredictors.value = 5;
  const std::string fivePath = dir.file("five_3DMC.sdm");
  five.writeToFile(fivePath);
  const std::string missing = dir.file("missing_3DMC.sdm");

  const std::set<std::string> everything(kSwitches.begin(), kSwitches.end());
  const auto before = folderContents(dir.path());
  for (const std::string& path : misnamed) {
    expectRefusal<std::runtime_error>(
        path, everything, "Not an SDM or MDM file (the name must end in .sdm or .mdm): " + path);
  }
  expectRefusal<OpenFileError>(missing, everything, "Failed opening for reading: " + missing);
  expectRefusal<IOError>(
      fivePath, everything,
      "SDM file " + fivePath + ": holds 5 predictors, the six motion parameters need 6");
  EXPECT_EQ(folderContents(dir.path()), before);
}

TEST_F(ConfoundTask, TinySpreadIsOnlyCentred) {
  // Translation Z wobbles by 0.00005 mm: after detrending its sample standard
  // deviation is below 0.0001, so it is centred and not scaled up.
  std::vector<MotionRow> rows = handRows();
  for (std::size_t t = 0; t < kHandVolumes; ++t) rows[t][2] = (t % 2 == 0) ? 0.00005f : -0.00005f;
  const std::string sdm = motionFile("run1_3DMC.sdm", rows);
  confound(sdm, 0.5f, {"create_detrended"});
  const SdmDocument detrended(withSuffix(sdm, "_detr"));
  double sum = 0;
  for (float v : detrended.columns[2]) {
    EXPECT_LT(std::fabs(v), 0.0001f);
    EXPECT_GT(std::fabs(v), 0.00003f);
    sum += v;
  }
  EXPECT_NEAR(sum, 0.0, 1e-5);
  EXPECT_EQ(detrended.columns[0][0], -0.968246f);
}

// The host hands a typed 2.8 over as the float nearest it; the task takes it
// back to the decimal typed.
TEST(DialogParameters, TypedDecimalIsTheShortestDecimalOfTheFloat) {
  EXPECT_EQ(typedDecimal(2.8f), 2.8);
  EXPECT_EQ(typedDecimal(0.3f), 0.3);
  EXPECT_EQ(typedDecimal(1.5e-7f), 1.5e-7);
  EXPECT_EQ(typedDecimal(16777216.0f), 16777216.0);
  EXPECT_EQ(typedDecimal(-0.25f), -0.25);
  EXPECT_TRUE(std::isnan(typedDecimal(std::nanf(""))));
  EXPECT_EQ(typedDecimal(std::numeric_limits<float>::infinity()),
            std::numeric_limits<double>::infinity());
}

}  // namespace
}  // namespace tsl::testing
