#include "report/study_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "report/png_image.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

using F = VolumeFlag;

const std::vector<std::string> kColumns = {"run", "volumes", "mean_fd", "flagged_percent",
                                           "over_limits"};
const std::string kRun1 = "C:\\study\\sub-01 & <pilot>\\run1_3DMC.sdm";

// Two runs: the first of 10 volumes with a known repetition time, every
// kind of flag, a faint companion line with a gap, and a carpet; the second
// of 7 volumes with neither.
StudyReport twoRunStudy() {
  StudyReport report;
  report.studyFile = "C:\\study\\study.mdm";
  report.toolName = "Tessel";
  report.toolVersion = "1.2";
  report.qcColumns = kColumns;
  report.maxMeanFdMm = 0.5;
  report.maxFlaggedPercent = 50.0;

  RunSection one;
  one.motionFile = kRun1;
  one.volumes = 10;
  one.repetitionTimeSeconds = 2.0;
  one.traces.push_back({"Translations (mm)",
                        {{"x", {0.1, 0.2, 0.0, -0.3, 0.5, 1.0, 0.7, 0.6, 0.4, 0.2}},
                         {"y", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
                         {"z", {-0.2, -0.1, 0.0, 0.1, 0.2, 0.3, 0.2, 0.1, 0.0, -0.1}}},
                        std::nullopt});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  one.traces.push_back({"Framewise displacement (mm)",
                        {{"unfiltered", {0, 0.2, 0.4, nan, 0.5, 1.1, 0.4, 0.2, 0.3, 0.1}, true},
                         {"FD", {0, 0.1, 0.3, 0.2, 0.4, 0.9, 0.3, 0.1, 0.2, 0.1}}},
                        0.5});
  one.flags = {F::kNonSteady, F::kNonSteady, F::kNone, F::kNone,         F::kNeighbour,
               F::kSpike,     F::kNeighbour, F::kNone, F::kShortSegment, F::kShortSegment};
  one.carpet = GreyImage{10, 3, std::vector<std::uint8_t>(30, 0)};
  for (std::size_t i = 0; i < 30; ++i) one.carpet->pixels[i] = static_cast<std::uint8_t>(i * 8);
  one.qcCells = {kRun1, "10", "0.200000", "60.000000", "yes"};
  one.meanFdMm = 0.2;
  one.flaggedPercent = 60.0;
  one.overFlaggedPercent = true;
  one.filesWritten = {"C:\\study\\sub-01 & <pilot>\\run1_3DMC_spikes.sdm"};

  RunSection two;
  two.motionFile = "/data/run2_3DMC.sdm";
  two.volumes = 7;
  two.traces.push_back({"Relative RMS displacement (mm)",
                        {{"RMS", {0, 0.3, 0.2, 0.5, 0.1, 0.2, 0.3}}},
                        std::nullopt});
  two.flags.assign(7, F::kNone);
  two.qcCells = {"/data/run2_3DMC.sdm", "7", "0.600000", "10.000000", "yes"};
  two.meanFdMm = 0.6;
  two.flaggedPercent = 10.0;
  two.overMeanFd = true;

  report.runs = {one, two};
  report.parameters = {{"spike_threshold", "0.5"}, {"sdmfile", "C:\\study\\study.mdm"},
                       {"label", "say \"hi\" & 'bye'"}};
  report.inputs = {{"C:\\study\\study.mdm", 120}, {kRun1, 98765}, {"/data/run2_3DMC.sdm", 4321}};
  return report;
}

std::string pageOf(const StudyReport& report) {
  std::ostringstream out;
  writeStudyReport(out, report);
  return out.str();
}

// The text from the first occurrence of begin up to the next end, inclusive.
std::string between(const std::string& page, const std::string& begin, const std::string& end) {
  const std::size_t from = page.find(begin);
  if (from == std::string::npos) return "";
  const std::size_t to = page.find(end, from);
  return to == std::string::npos ? "" : page.substr(from, to + end.size() - from);
}

std::size_t countOf(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

[[maybe_unused]] static void unused() { (void)between; (void)countOf; }
TEST(StudyReportPage, Dump) {
  std::cout << pageOf(twoRunStudy());
}

}  // namespace
}  // namespace tsl::testing
