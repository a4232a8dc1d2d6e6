// The confound task's signal and censoring options, in-process through a
// recording host: the rules' spikes and log lines, non-steady-state volumes,
// DVARS read from the runs' files, the QC columns, the confounds table, the
// plot, and every refusal before anything is written. The measures
// themselves are checked against independent computations in their own
// tests; here the expectations are worked out by hand from the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "designmatrix/sdm_document.h"
#include "examples/motion_file_writer.h"
#include "examples/run_file_writer.h"
#include "tasks/tasks.h"
#include "tests/support/hand_motion.h"
#include "tests/support/recording_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

namespace fs = std::filesystem;
constexpr int kVolumes = 14;

using test::split;

class SignalTask : public ::testing::Test {
 protected:
  // Motion drifting in all six parameters, with jumps of the head into
  // volumes 5 and 10; every other change stays far below 0.5 mm of FD.
  std::vector<MotionRow> rows() const {
    std::vector<MotionRow> r(kVolumes);
    const double drift[6] = {0.01, -0.012, 0.008, 0.02, -0.015, 0.01};
    for (int t = 0; t < kVolumes; ++t) {
      for (int p = 0; p < 6; ++p) {
        double v = drift[p] * t + 0.01 * ((t * (p + 2)) % 3);
        if (t >= 5) v += p < 3 ? 0.4 : 0.3;
        if (t >= 10) v -= p < 3 ? 0.25 : 0.2;
        r[static_cast<std::size_t>(t)][static_cast<std::size_t>(p)] = static_cast<float>(v);
      }
    }
    return r;
  }

  // A run of 4 x 3 x 2 voxels: a bright brain whose every voxel varies a
  // little, a dark background, and all voxels brighter in volume 8 only.
  std::string writeRun(const std::string& name, int volumes = kVolumes, float extreme = 0.0f) {
    FmrLayout layout;
    layout.volumes = volumes;
    layout.slices = 2;
    layout.resolutionX = 4;
    layout.resolutionY = 3;
    layout.prefix = name;
    layout.tr = 800;
    layout.dataType = extreme != 0.0f ? 2 : 1;
    const std::string fmr = dir.file(name + ".fmr");
    writeFmrHeader(fmr, layout);
    writeStc(
        dir.file(name + ".stc"), 4, 3, 2, volumes,
        [extreme](int x, int y, int z, int t) {
          // With extreme, the first brain voxel swings between +-extreme in
          // a run of floats.
          if (extreme != 0.0f && x == 1 && y == 0 && z == 0) return t % 2 == 0 ? extreme : -extreme;
          const float brain =
              x > 0 ? 600.0f + 10.0f * static_cast<float>((x * 7 + y * 3 + z + t * 5) % 4) : 20.0f;
          return brain + (t == 8 ? 80.0f : 0.0f);
        },
        extreme != 0.0f);
    return fmr;
  }

  std::string motion(const std::string& name) {
    const std::string sdm = dir.file(name + "_3DMC.sdm");
    writeHostMotionSdm(sdm, rows());
    return sdm;
  }

  test::RecordingHost hostFor(const std::string& file, const std::string& fmr) {
    test::RecordingHost host;
    host.set("sdmfile", file);
    host.set("fmr_threshold", 100.0f);
    host.set("spike_threshold", 0.5f);
    host.run.path = fmr;
    return host;
  }

  std::vector<std::string> log(const test::RecordingHost& host) const {
    std::vector<std::string> lines;
    const std::string root = dir.path().generic_string();
    for (std::string line : host.logLines) {
      for (std::size_t at; (at = line.find(root)) != std::string::npos;)
        line.replace(at, root.size(), "<dir>");
      lines.push_back(line);
    }
    return lines;
  }

  double fdByHand(int t) const {
    const std::vector<MotionRow> r = rows();
    const SdmDocument doc(dir.file("run1_3DMC.sdm"));
    float a[6], b[6];
    for (std::size_t p = 0; p < 6; ++p) {
      a[p] = doc.columns[p][static_cast<std::size_t>(t - 1)];
      b[p] = doc.columns[p][static_cast<std::size_t>(t)];
    }
    return framewiseChangeByHand(a, b);
  }

  TempDir dir;
};

std::string logNumber(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

TEST_F(SignalTask, FramewiseDisplacementRuleFlagsTheJumpsAndPlotsItsSeries) {
  const std::string sdm = motion("run1");
  test::RecordingHost host = hostFor(sdm, writeRun("run1"));
  host.set("create_spikes", 1);
  host.set("plot_detrended", 1);
  host.set("spike_measure", 1);
  host.set("fd_threshold", 0.5f);
  host.set("dummy_volumes", 2);
  createConfoundModels(host);
  EXPECT_EQ(log(host),
            (std::vector<std::string>{
                "Tessel>  Non-steady-state volumes at the start of <dir>/run1_3DMC.sdm: 2 (as set)",
                "Tessel>  Detecting Spikes",
                "Tessel>  Found spike at position 5 with framewise displacement " +
                    logNumber(fdByHand(5)) + " mm",
                "Tessel>  Found spike at position 10 with framewise displacement " +
                    logNumber(fdByHand(10)) + " mm",
                "Tessel>  Saving SDMs"}));
  const SdmDocument spikes(dir.file("run1_3DMC_spikes.sdm"));
  EXPECT_EQ(spikes.names, (std::vector<std::string>{"Non-steady Volume 0", "Non-steady Volume 1",
                                                    "Spike Volume 5", "Spike Volume 10"}));
  ASSERT_EQ(host.plots.size(), 1u);
  const test::RecordingHost::Plot& plot = host.plots[0];
  ASSERT_EQ(plot.names.size(), 8u);
  EXPECT_EQ(plot.names[6], "framewise displacement");
  EXPECT_EQ(plot.names[7], "FD threshold");
  EXPECT_FLOAT_EQ(plot.columns[6][10], static_cast<float>(fdByHand(10)));
  EXPECT_EQ(plot.columns[7][3], 0.5f);

  // Above every change: none, named by the rule.
  host.set("fd_threshold", 5.0f);
  host.logLines.clear();
  createConfoundModels(host);
  EXPECT_EQ(log(host)[2], "Tessel>  No spikes found with framewise displacement greater than 5 mm");
  // The non-steady volumes still make a spike file.
  EXPECT_EQ(SdmDocument(dir.file("run1_3DMC_spikes.sdm")).NrOfPredictors.value, 2);
}

// fMRIPrep's rule on a run whose signal jumps in volume 8 (and back in 9):
// DVARS flag those, FD the head's jumps.
TEST_F(SignalTask, FmriprepsRuleDvarsQcColumnsAndTheConfoundsTable) {
  const std::string sdm = motion("run1");
  const std::string fmr = writeRun("run1");
  writeMdm(dir.file("study.mdm"), {sdm}, {fmr});
  test::RecordingHost host = hostFor(dir.file("study.mdm"), "");
  host.set("create_spikes", 1);
  host.set("create_qc", 1);
  host.set("spike_measure", 2);
  host.set("fd_threshold", 0.5f);
  host.set("dvars_threshold", 1.5f);
  host.set("create_confounds_tsv", 1);
  createConfoundModels(host);
  const std::vector<std::string> lines = log(host);
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[0].rfind(
                "Tessel>  DVARS of <dir>/run1_3DMC.sdm: 18 voxels of <dir>/run1.fmr, mean ", 0),
            0u)
      << lines[0];
  EXPECT_EQ(lines[1], "Tessel>  Detecting Spikes");
  std::vector<std::size_t> found;
  for (const std::string& line : lines) {
    const std::string at = "Found spike at position ";
    if (line.find(at) == std::string::npos) continue;
    found.push_back(std::stoul(line.substr(line.find(at) + at.size())));
    EXPECT_NE(line.find(" with framewise displacement "), std::string::npos);
    EXPECT_NE(line.find(" mm and std DVARS "), std::string::npos);
  }
  EXPECT_EQ(found, (std::vector<std::size_t>{5, 8, 9, 10}));
  EXPECT_EQ(lines[6], "Tessel>  Spikes by framewise displacement: 2, by std DVARS: 2, by both: 0");

  const std::vector<std::string> qc =
      split(split(readFile(dir.file("study_qc.tsv")), '\n')[1], '\t');
  ASSERT_EQ(qc.size(), 23u);
  EXPECT_EQ(qc[7], "4");          // flagged
  EXPECT_EQ(qc[14], "0");         // dummy
  EXPECT_NE(qc[16], "n/a");       // mean_dvars
  EXPECT_EQ(qc[20], "8.000000");  // 10 remaining x 0.8 s
  EXPECT_EQ(qc[21], fmr);
  EXPECT_EQ(qc[22], "n/a\r");  // no motion filter

  const std::vector<std::string> table =
      split(readFile(dir.file("run1_3DMC_desc-confounds_timeseries.tsv")), '\n');
  ASSERT_EQ(table.size(), 1u + kVolumes);
  const std::vector<std::string> header = split(table[0], '\t');
  EXPECT_EQ(header.back(), "motion_outlier03");
  EXPECT_EQ(header[27], "std_dvars");
  EXPECT_EQ(split(table[1], '\t')[27], "n/a");
  EXPECT_GT(std::stod(split(table[9], '\t')[27]), 1.5);
  EXPECT_LT(std::stod(split(table[8], '\t')[27]), 1.5);
  EXPECT_NE(readFile(dir.file("run1_3DMC_desc-confounds_timeseries.json"))
                .find("\"DataFile\": \"" + fmr + "\""),
            std::string::npos);

  // Without the table, a new spike file takes the old table with it.
  host.set("create_confounds_tsv", 0);
  host.logLines.clear();
  createConfoundModels(host);
  EXPECT_EQ(log(host).at(8),
            "Tessel>  Removed the confounds table of an earlier run: "
            "<dir>/run1_3DMC_desc-confounds_timeseries.tsv");
  EXPECT_FALSE(fs::exists(dir.file("run1_3DMC_desc-confounds_timeseries.tsv")));
  EXPECT_FALSE(fs::exists(dir.file("run1_3DMC_desc-confounds_timeseries.json")));
}

// Each refusal comes before anything is plotted or written.
TEST_F(SignalTask, RefusalsBeforeAnythingIsWritten) {
  const std::string sdm = motion("run1");
  const std::string fmr = writeRun("run1");
  auto refused = [&](test::RecordingHost host, const std::string& message) {
    host.set("create_spikes", 1);
    host.set("plot_regular", 1);
    EXPECT_THROW_MSG(createConfoundModels(host), std::exception, message);
    EXPECT_TRUE(host.plots.empty()) << message;
    EXPECT_FALSE(fs::exists(dir.file("run1_3DMC_spikes.sdm"))) << message;
  };
  test::RecordingHost rule = hostFor(sdm, fmr);
  rule.set("spike_measure", 1);
  refused(rule, "Dialog parameter fd_threshold is 0: the rule needs a threshold above 0");
  rule.set("spike_measure", 3);
  rule.set("dvars_threshold", -1.5f);
  refused(rule, "Dialog parameter dvars_threshold is -1.5: the rule needs a threshold above 0");
  rule.set("spike_measure", 4);
  refused(rule,
          "Dialog parameter spike_measure is 4: the rule is 0 (relative RMS), 1 (framewise "
          "displacement), 2 (framewise displacement or std DVARS) or 3 (std DVARS)");

  test::RecordingHost many = hostFor(sdm, fmr);
  many.set("dummy_volumes", 13);
  refused(many,
          "SDM file " + sdm + ": 13 non-steady-state volumes leave fewer than 2 of its 14 volumes");

  writeMdm(dir.file("vtc.mdm"), {sdm}, {dir.file("run1.vtc")});
  test::RecordingHost vtc = hostFor(dir.file("vtc.mdm"), fmr);
  vtc.set("compute_dvars", 1);
  refused(vtc, "MDM file " + dir.file("vtc.mdm") + ": study 1's data file " + dir.file("run1.vtc") +
                   " is not an FMR run; DVARS need the run's voxel data");
  vtc.set("compute_dvars", 0);
  vtc.set("detect_dummy_volumes", 1);
  refused(vtc, "MDM file " + dir.file("vtc.mdm") + ": study 1's data file " + dir.file("run1.vtc") +
                   " is not an FMR run; non-steady-state detection needs the run's voxel data");

  test::RecordingHost shorter = hostFor(sdm, writeRun("short", kVolumes - 1));
  shorter.set("compute_dvars", 1);
  refused(shorter, "FMR file " + dir.file("short.fmr") + " holds 13 volumes, but the motion file " +
                       sdm + " has 14 data points");
  test::RecordingHost dark = hostFor(sdm, fmr);
  dark.set("compute_dvars", 1);
  dark.set("fmr_threshold", 1000.0f);
  refused(dark,
          "FMR file " + fmr + ": no voxel of the first volume is above the threshold of 1000");
}

// A multiband run (TR 800 ms) breathing at 15 per minute in y: the notch
// takes the breathing out of framewise displacement, so the FD rule keeps the
// good volumes and flags the head's jump alone.
TEST_F(SignalTask, MotionFilterTakesBreathingOutOfTheRun) {
  constexpr int n = 120;
  std::vector<MotionRow> breathing(n);
  for (int t = 0; t < n; ++t) {
    const double phase = 2.0 * 3.14159265358979 * 15.0 / 60.0 * 0.8 * t;
    for (int p = 0; p < 6; ++p) {
      double v = 0.002 * (p + 1) * t + (t >= 60 ? 1.0 : 0.0);
      if (p == 1) v += 0.6 * std::sin(phase);
      breathing[static_cast<std::size_t>(t)][static_cast<std::size_t>(p)] = static_cast<float>(v);
    }
  }
  const std::string sdm = dir.file("mb_3DMC.sdm");
  writeHostMotionSdm(sdm, breathing);
  writeFile(dir.file("mb_3DMC_filtered.sdm"), "earlier");
  const std::string fmr = writeRun("mb", n);
  test::RecordingHost host = hostFor(sdm, fmr);
  host.set("create_spikes", 1);
  host.set("create_detrended", 1);
  host.set("create_qc", 1);
  host.set("plot_regular", 1);
  host.set("spike_measure", 1);
  host.set("fd_threshold", 0.5f);
  host.set("motion_filter", 1);
  host.set("band_stop_min", 12.0f);
  host.set("band_stop_max", 18.0f);
  host.set("motion_filter_order", 4);
  createConfoundModels(host);
  const std::vector<std::string> lines = log(host);
  const std::string filterLine =
      "Tessel>  Motion filter of <dir>/mb_3DMC.sdm: notch 12-18 breaths per minute at TR 800 ms; "
      "mean framewise displacement ";
  ASSERT_EQ(lines.at(0).rfind(filterLine, 0), 0u) << lines.at(0);
  const std::vector<std::string> means = split(lines[0].substr(filterLine.size()), ' ');
  EXPECT_GT(std::stod(means.at(0)), 0.5);  // before: the breathing
  EXPECT_LT(std::stod(means.at(3)), 0.2);  // after
  // Only the jump at 60 and the notch's ringing beside it; unfiltered, the
  // breathing makes most volumes spikes.
  std::vector<int> spikes;
  for (const std::string& l : lines) {
    const std::string at = "Found spike at position ";
    if (l.find(at) != std::string::npos)
      spikes.push_back(std::stoi(l.substr(l.find(at) + at.size())));
  }
  EXPECT_EQ(spikes, (std::vector<int>{57, 58, 60, 62, 63}));
  test::RecordingHost unfiltered = hostFor(sdm, fmr);
  unfiltered.set("create_spikes", 1);
  unfiltered.set("spike_measure", 1);
  unfiltered.set("fd_threshold", 0.5f);
  createConfoundModels(unfiltered);
  EXPECT_GT(unfiltered.logLines.size(), 60u);
  EXPECT_EQ(lines.back().rfind("Tessel>  Saved the QC table", 0), 0u);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Tessel>  Removed the filtered motion file of an earlier run: "
                      "<dir>/mb_3DMC_filtered.sdm"),
            lines.end());
  EXPECT_FALSE(fs::exists(dir.file("mb_3DMC_filtered.sdm")));
  EXPECT_EQ(SdmDocument(dir.file("mb_3DMC_detr.sdm")).names[1],
            "Translation Y [mm] filtered detrended");
  ASSERT_EQ(host.plots.size(), 2u);
  EXPECT_EQ(host.plots[1].titleSuffix, " filtered");
  const std::vector<std::string> qc =
      split(split(readFile(dir.file("mb_3DMC_qc.tsv")), '\n')[1], '\t');
  EXPECT_NEAR(std::stod(qc[22]), std::stod(means[0]), 1e-5);  // mean_fd_unfiltered
  EXPECT_NEAR(std::stod(qc[4]), std::stod(means[3]), 1e-5);

  host.set("create_filtered", 1);
  host.set("create_confounds_tsv", 1);
  createConfoundModels(host);
  const SdmDocument filtered(dir.file("mb_3DMC_filtered.sdm"));
  // The table keeps the estimated parameters and adds the filtered ones.
  const std::vector<std::string> table =
      split(readFile(dir.file("mb_3DMC_desc-confounds_timeseries.tsv")), '\n');
  const std::vector<std::string> header = split(table[0], '\t');
  EXPECT_EQ(header[28], "trans_x_filtered");
  EXPECT_EQ(header[34], "framewise_displacement_filtered");
  const std::vector<std::string> row31 = split(table[31], '\t');
  EXPECT_EQ(std::stof(row31[0]), SdmDocument(sdm).columns[0][30]);
  EXPECT_NEAR(std::stod(row31[29]), filtered.columns[1][30], 1e-6);
  EXPECT_NE(readFile(dir.file("mb_3DMC_desc-confounds_timeseries.json"))
                .find("\"MotionFilter\": \"notch 12-18 breaths per minute at TR 800 ms"),
            std::string::npos);
  host.set("create_confounds_tsv", 0);
  EXPECT_EQ(filtered.names[0], "Translation X [mm] filtered");
  EXPECT_LT(std::fabs(filtered.columns[1][30] - filtered.columns[1][31]), 0.05f);

  // Refused before anything is written: no TR, a band that folds to nothing
  // at TR 2000 ms, a study without an FMR.
  FmrLayout noTr;
  noTr.tr = 0;
  noTr.volumes = n;
  noTr.prefix = "mb";
  writeFmrHeader(dir.file("notr.fmr"), noTr);
  host.run.path = dir.file("notr.fmr");
  fs::remove(dir.file("mb_3DMC_filtered.sdm"));
  EXPECT_THROW_MSG(createConfoundModels(host), IOError,
                   "FMR file " + dir.file("notr.fmr") +
                       ": TR is missing; the motion filter needs the repetition time");
  noTr.tr = 2000;
  writeFmrHeader(dir.file("notr.fmr"), noTr);
  EXPECT_THROW(createConfoundModels(host), std::invalid_argument);
  writeMdm(dir.file("vtc.mdm"), {sdm}, {dir.file("mb.vtc")});
  host.set("sdmfile", dir.file("vtc.mdm"));
  EXPECT_THROW_MSG(createConfoundModels(host), IOError,
                   "MDM file " + dir.file("vtc.mdm") + ": study 1's data file " +
                       dir.file("mb.vtc") +
                       " is not an FMR run; the motion filter needs the run's TR");
  EXPECT_FALSE(fs::exists(dir.file("mb_3DMC_filtered.sdm")));
}

// The study report beside the chosen file: complete, with each run's carpet,
// the parameters read in order and the inputs with their sizes; when it
// cannot be written, or a run fails, an older report keeps its bytes.
TEST_F(SignalTask, StudyReportOfAnMdm) {
  const std::string run1 = motion("run1");
  const std::string fmr1 = writeRun("run1");
  writeMdm(dir.file("study.mdm"), {run1}, {fmr1});
  test::RecordingHost host = hostFor(dir.file("study.mdm"), "");
  host.set("create_spikes", 1);
  host.set("compute_dvars", 1);
  host.set("create_report", 1);
  createConfoundModels(host);
  EXPECT_EQ(log(host).back(), "Tessel>  Saved the study report: <dir>/study_report.html");
  EXPECT_FALSE(fs::exists(dir.file("study_qc.tsv")));  // the table needs create_qc
  const std::string page = readFile(dir.file("study_report.html"));
  auto at = [&page](const std::string& text) { return page.find(text); };
  EXPECT_NE(at("class=\"carpet\""), std::string::npos);
  EXPECT_LT(at("<td>spike_threshold</td><td>0.5</td>"), at("<td>compute_dvars</td><td>1</td>"));
  EXPECT_LT(at("<td>compute_dvars</td><td>1</td>"), at("<td>create_report</td><td>1</td>"));
  EXPECT_NE(at(fmr1 + "</td><td>" + std::to_string(fs::file_size(fmr1)) + "</td>"),
            std::string::npos);
  EXPECT_NE(at(run1 + "</td><td>" + std::to_string(fs::file_size(run1)) + "</td>"),
            std::string::npos);
  EXPECT_NE(at("run1_3DMC_spikes.sdm"), std::string::npos);  // the run's files
  // Std DVARS start at volume 1 (volume 0 has no change to measure), where
  // framewise displacement starts at volume 0.
  auto firstX = [&](const std::string& title) {
    const std::size_t points = page.find("points=\"", page.find(title)) + 8;
    return page.substr(points, page.find(',', points) - points);
  };
  EXPECT_LT(std::stod(firstX("Framewise displacement (mm)")), std::stod(firstX("Std DVARS")));

  fs::create_directory(dir.file("run1_3DMC_detr.sdm"));
  host.set("create_detrended", 1);
  EXPECT_THROW(createConfoundModels(host), std::runtime_error);
  fs::remove(dir.file("run1_3DMC_detr.sdm"));
  writeMdm(dir.file("other.mdm"), {run1}, {fmr1});
  fs::create_directory(dir.file("other_report.html"));
  host.set("sdmfile", dir.file("other.mdm"));
  EXPECT_THROW_MSG(createConfoundModels(host), std::runtime_error,
                   "Cannot Create file: " + dir.file("other_report.html"));
  EXPECT_EQ(readFile(dir.file("study_report.html")), page);
  EXPECT_TRUE(fs::is_directory(dir.file("other_report.html")));

  // A voxel the carpet cannot show stops the task with the run's FMR file
  // named, and the report stays as it was.
  const std::string wild = writeRun("wild", kVolumes, 3e38f);
  writeMdm(dir.file("study.mdm"), {run1}, {wild});
  host.set("sdmfile", dir.file("study.mdm"));
  EXPECT_THROW_MSG(
      createConfoundModels(host), IOError,
      "FMR file " + wild + ": Carpet plot: voxel 0 holds values too large to standardise");
  EXPECT_EQ(readFile(dir.file("study_report.html")), page);
}

}  // namespace
}  // namespace tsl::testing
