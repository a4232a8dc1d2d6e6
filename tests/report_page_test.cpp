#include "report/study_report.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
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
  report.parameters = {{"spike_threshold", "0.5"},
                       {"sdmfile", "C:\\study\\study.mdm"},
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

TEST(StudyReportPage, StudyTableAndChartsOfATwoRunStudy) {
  const std::string page = pageOf(twoRunStudy());
  EXPECT_NE(page.find("<thead><tr><th>run</th><th>run</th><th>volumes</th><th>mean_fd</th>"
                      "<th>flagged_percent</th><th>over_limits</th></tr></thead>"),
            std::string::npos);
  EXPECT_NE(
      page.find(
          "<tr class=\"over\"><td><a href=\"#run-1\">1</a> <span class=\"mark\">over "
          "limit</span></td><td class=\"long\">C:\\study\\sub-01 &amp; &lt;pilot&gt;\\run1_3DMC.sdm"
          "</td><td>10</td><td>0.200000</td><td>60.000000</td><td>yes</td></tr>"),
      std::string::npos);
  EXPECT_NE(page.find("<tr class=\"over\"><td><a href=\"#run-2\">2</a> <span class=\"mark\">over "
                      "limit</span></td><td>/data/run2_3DMC.sdm</td><td>7</td>"),
            std::string::npos);

  // Bars 240 wide for a scale to 0.8 mm (0.6 mm and 10 % headroom, in
  // steps of 0.2) and to 80 % (steps of 20): 0.2 mm is 60 wide, 0.6 mm 180,
  // 60 % 180 and 10 % 30; both limits lie at 170 + 5/8 x 240 = 320.
  const std::string fd = between(page, "<div class=\"chart-mean-fd\">", "</svg>");
  EXPECT_NE(fd.find("<text class=\"bar-label\" x=\"165\" y=\"35\">1 run1_3DMC.sdm</text>"
                    "<rect class=\"bar\" x=\"170\" y=\"25\" width=\"60\" height=\"11\"/>"),
            std::string::npos);
  EXPECT_NE(fd.find("<rect class=\"bar over\" x=\"170\" y=\"41\" width=\"180\" height=\"11\"/>"),
            std::string::npos);
  EXPECT_NE(fd.find(">0.6 mm</text>"), std::string::npos);
  EXPECT_NE(fd.find("<line class=\"limit\" x1=\"320\" x2=\"320\""), std::string::npos);
  EXPECT_NE(fd.find(">limit 0.5 mm</text>"), std::string::npos);
  const std::string flagged = between(page, "<div class=\"chart-flagged\">", "</svg>");
  EXPECT_NE(flagged.find("<rect class=\"bar over\" x=\"170\" y=\"25\" width=\"180\""),
            std::string::npos);
  EXPECT_NE(flagged.find("<rect class=\"bar\" x=\"170\" y=\"41\" width=\"30\""), std::string::npos);
  EXPECT_NE(flagged.find("<line class=\"limit\" x1=\"320\" x2=\"320\""), std::string::npos);
  EXPECT_NE(flagged.find(">limit 50 %</text>"), std::string::npos);

  // Without limits nothing is over them and no limit is drawn.
  StudyReport unlimited = twoRunStudy();
  unlimited.maxMeanFdMm = 0.0;
  unlimited.maxFlaggedPercent = 0.0;
  for (RunSection& run : unlimited.runs) run.overMeanFd = run.overFlaggedPercent = false;
  const std::string plain = pageOf(unlimited);
  EXPECT_EQ(countOf(plain, "class=\"limit"), 0u);
  EXPECT_EQ(countOf(plain, "over limit"), 0u);
  EXPECT_EQ(countOf(plain, "class=\"bar over\""), 0u);
  EXPECT_EQ(countOf(plain, "<tr class=\"over\">"), 0u);
}

TEST(StudyReportPage, FlaggedVolumesShadedAcrossEveryTraceWithTheirLegend) {
  const std::string page = pageOf(twoRunStudy());
  const std::string one = between(page, "<section class=\"run\" id=\"run-1\">", "</section>");
  // 10 volumes 89 units wide from 70; the two panels' frames span 38 ... 202.
  const std::string shading = between(one, "<g class=\"traces\">", "<text");
  EXPECT_EQ(countOf(shading, "<rect class=\"f"), 5u);
  for (const char* stretch :
       {"<rect class=\"f1\" x=\"70\" y=\"38\" width=\"178\" height=\"164\"/>",
        "<rect class=\"f3\" x=\"426\" y=\"38\" width=\"89\" height=\"164\"/>",
        "<rect class=\"f2\" x=\"515\" y=\"38\" width=\"89\" height=\"164\"/>",
        "<rect class=\"f3\" x=\"604\" y=\"38\" width=\"89\" height=\"164\"/>",
        "<rect class=\"f4\" x=\"782\" y=\"38\" width=\"178\" height=\"164\"/>"}) {
    EXPECT_NE(shading.find(stretch), std::string::npos) << stretch;
  }
  EXPECT_NE(one.find("Flagged volumes:<tspan class=\"f1\" dx=\"14\">&#9632;</tspan><tspan "
                     "dx=\"3\">non-steady (2)</tspan><tspan class=\"f2\" dx=\"14\">&#9632;</tspan>"
                     "<tspan dx=\"3\">spike (1)</tspan><tspan class=\"f3\" dx=\"14\">&#9632;"
                     "</tspan><tspan dx=\"3\">neighbour of a spike (2)</tspan><tspan class=\"f4\" "
                     "dx=\"14\">&#9632;</tspan><tspan dx=\"3\">short segment (2)</tspan></text>"),
            std::string::npos);
  const std::string two = between(page, "<section class=\"run\" id=\"run-2\">", "</section>");
  for (const char* shade : {"f1", "f2", "f3", "f4"}) {
    EXPECT_EQ(countOf(two, std::string("<rect class=\"") + shade), 0u) << shade;
  }
  EXPECT_NE(two.find("short segment (0)"), std::string::npos);
}

TEST(StudyReportPage, TracesThresholdCarpetAndTimeAxes) {
  const StudyReport report = twoRunStudy();
  const std::string page = pageOf(report);
  const std::string one = between(page, "<section class=\"run\" id=\"run-1\">", "</section>");
  // The FD panel's frame spans 132 ... 202 for 0 ... 1.5 mm: the threshold
  // 0.5 lies at 178.7, 0.9 mm at 160. The faint line breaks at its gap and
  // lies beneath FD, which takes the first colour.
  EXPECT_NE(one.find("<line class=\"threshold\" x1=\"70\" x2=\"960\" y1=\"178.7\" y2=\"178.7\"/>"),
            std::string::npos);
  EXPECT_NE(one.find(">threshold 0.5</text>"), std::string::npos);
  const std::string fdPanel = between(one, ">Framewise displacement (mm)", "</g>");
  EXPECT_NE(fdPanel.find("<polyline class=\"lf\" points=\"114.5,202 203.5,192.7 292.5,183.3\"/>"
                         "<polyline class=\"lf\" points=\"470.5,178.7 "),
            std::string::npos);
  EXPECT_NE(fdPanel.find("<polyline class=\"l0\" points=\"114.5,202 203.5,197.3 292.5,188 "
                         "381.5,192.7 470.5,183.3 559.5,160 "),
            std::string::npos);
  EXPECT_LT(fdPanel.find("class=\"lf\""), fdPanel.find("class=\"l0\""));
  EXPECT_NE(one.find("<tspan class=\"kf\" dx=\"14\">&#9632;</tspan><tspan dx=\"3\">unfiltered"),
            std::string::npos);

  // The carpet under the traces on the same horizontal extent.
  EXPECT_NE(one.find("<image class=\"carpet\" x=\"70\" y=\"230\" width=\"890\" height=\"240\" "
                     "preserveAspectRatio=\"none\" href=\"" +
                     pngDataUrl(encodePng(*report.runs[0].carpet)) + "\"/>"),
            std::string::npos);
  // Volumes every 2, seconds every 5 (2.5 volumes at a TR of 2 s).
  EXPECT_NE(one.find("<text class=\"tick-x\" x=\"292.5\" y=\"486\">2</text>"), std::string::npos);
  EXPECT_NE(one.find("<text class=\"tick-x\" x=\"337\" y=\"502\">5</text>"), std::string::npos);
  EXPECT_NE(one.find("<text class=\"tick-x\" x=\"782\" y=\"502\">15</text><text "
                     "class=\"axis-label\" x=\"66\" y=\"502\">s</text>"),
            std::string::npos);
  EXPECT_EQ(countOf(one, "y=\"502\">20<"), 0u);

  const std::string two = between(page, "<section class=\"run\" id=\"run-2\">", "</section>");
  EXPECT_EQ(countOf(two, "<image"), 0u);
  EXPECT_EQ(countOf(two, ">s</text>"), 0u);
  EXPECT_NE(two.find(">volume</text>"), std::string::npos);
  EXPECT_LT(page.find("id=\"run-1\""), page.find("id=\"run-2\""));
  EXPECT_NE(page.find("<h2>Run 2: run2_3DMC.sdm</h2>"), std::string::npos);
}

TEST(StudyReportPage, ExtremeValuesGiveAFiniteDrawing) {
  StudyReport report = twoRunStudy();
  // Flat at a magnitude where adding 1 changes nothing, and a range far
  // below the values' precision in units of a step.
  report.runs[1].traces = {
      {"flat", {{"a", std::vector<double>(7, 1e20)}}, std::nullopt},
      {"narrow", {{"b", {1e6, 1e6 + 1e-9, 1e6, 1e6, 1e6, 1e6, 1e6}}}, std::nullopt},
      {"empty", {{"c", std::vector<double>(7, std::nan(""))}}, 1e300}};
  const std::string two = between(pageOf(report), "id=\"run-2\"", "</section>");
  EXPECT_EQ(countOf(two, "nan"), 0u);
  EXPECT_EQ(countOf(two, "inf"), 0u);
  EXPECT_LT(countOf(two, "class=\"tick-y\""), 3u * 21u);
}

TEST(StudyReportPage, ProvenanceListsToolParametersAndInputsInOrder) {
  const std::string page = pageOf(twoRunStudy());
  const std::string provenance = between(page, "<section id=\"provenance\">", "</section>");
  EXPECT_NE(provenance.find("<p class=\"tool\">Tessel version 1.2</p>"), std::string::npos);
  EXPECT_NE(provenance.find("<tbody>\n<tr><td>spike_threshold</td><td>0.5</td></tr>\n"
                            "<tr><td>sdmfile</td><td>C:\\study\\study.mdm</td></tr>\n"
                            "<tr><td>label</td><td>say &quot;hi&quot; &amp; &#39;bye&#39;</td>"
                            "</tr>\n</tbody>"),
            std::string::npos);
  EXPECT_NE(provenance.find(
                "<tbody>\n<tr><td>C:\\study\\study.mdm</td><td>120</td></tr>\n"
                "<tr><td class=\"long\">C:\\study\\sub-01 &amp; &lt;pilot&gt;\\run1_3DMC.sdm</td>"
                "<td>98765</td></tr>\n<tr><td>/data/run2_3DMC.sdm</td><td>4321</td>"
                "</tr>\n</tbody>"),
            std::string::npos);
}

// A text that breaks out of element content and attribute values alike,
// short enough for a chart's label, without a path separator.
const std::string kHostile = "<i src=\"x:y\" b='2'>&amp;";
const std::string kEscaped = "&lt;i src=&quot;x:y&quot; b=&#39;2&#39;&gt;&amp;amp;";

TEST(StudyReportPage, EveryTextOfTheModelIsEscaped) {
  StudyReport report = twoRunStudy();
  report.studyFile = report.toolName = report.toolVersion = kHostile;
  for (std::string& column : report.qcColumns) column = kHostile;
  for (RunSection& run : report.runs) {
    run.motionFile = kHostile;
    for (std::string& cell : run.qcCells) cell = kHostile;
    run.filesWritten = {kHostile};
    for (Trace& trace : run.traces) {
      trace.title = kHostile;
      for (TraceLine& line : trace.lines) line.name = kHostile;
    }
  }
  report.parameters = {{kHostile, kHostile}};
  report.inputs = {{kHostile, 1}};
  const std::string page = pageOf(report);
  EXPECT_EQ(countOf(page, "<i "), 0u);
  EXPECT_EQ(countOf(page, "'2'"), 0u);
  EXPECT_EQ(countOf(page, "\"x:y"), 0u);
  // Title and heading 2, header 3, nav 2, table 5 + 2 x 5, chart labels
  // 2 x 2; per run a heading, a path, a figure label, 5 QC names and 5
  // cells, a file's name and title: 2 x 15; trace titles and line names
  // 2 + 5 + 2; tool and version 2, parameters 2, inputs 1.
  EXPECT_EQ(countOf(page, kEscaped), 2u + 3u + 2u + 15u + 4u + 30u + 9u + 5u);
}

// Every attribute of every tag of page, as name and value (quoted).
std::vector<std::pair<std::string, std::string>> attributesOf(const std::string& page) {
  static const std::regex tag(R"re(<[A-Za-z][^>]*>)re");
  static const std::regex attribute(
      R"re(([A-Za-z_:][-A-Za-z0-9_:.]*)\s*=\s*("[^"]*"|'[^']*'|[^\s>]+))re");
  std::vector<std::pair<std::string, std::string>> found;
  for (std::sregex_iterator t(page.begin(), page.end(), tag), end; t != end; ++t) {
    const std::string text = t->str();
    for (std::sregex_iterator a(text.begin(), text.end(), attribute); a != end; ++a) {
      std::string name = (*a)[1].str();
      for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      found.emplace_back(name, (*a)[2].str());
    }
  }
  return found;
}

TEST(StudyReportPage, LoadsNothingFromOutside) {
  StudyReport report = twoRunStudy();
  report.runs[1].motionFile = kHostile;
  report.runs[1].filesWritten = {"C:\\x\\\" src=\"http:\\evil.example\\a.png"};
  const std::string page = pageOf(report);
  std::string lower = page;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (const char* banned :
       {"<script", "<link", "<iframe", "<object", "<embed", "<base", "url(", "@import"}) {
    EXPECT_EQ(countOf(lower, banned), 0u) << banned;
  }
  std::size_t references = 0;
  for (const auto& [name, value] : attributesOf(page)) {
    if (name.rfind("on", 0) == 0) ADD_FAILURE() << "event handler " << name;
    if (name != "src" && name != "href" && name != "xlink:href" && name != "srcset" &&
        name != "action" && name != "data" && name != "poster") {
      continue;
    }
    ++references;
    const bool allowed =
        (name == "href" || name == "src") &&
        (value.rfind("\"data:image/png;base64,", 0) == 0 || value.rfind("\"#", 0) == 0 ||
         value == "\"https://doi.org/10.1016/j.neuroimage.2011.10.018\"" ||
         value == "\"https://doi.org/10.1016/j.neuroimage.2016.08.009\"");
    EXPECT_TRUE(allowed) << name << '=' << value.substr(0, 80);
  }
  // The nav's 4 and the table's 2 anchors, one carpet, two papers.
  EXPECT_EQ(references, 9u);
}

TEST(StudyReportPage, RefusesAModelThatDoesNotFitItsRunsBeforeWriting) {
  const auto refusal = [](const StudyReport& report, const std::string& message) {
    std::ostringstream out;
    EXPECT_THROW_MSG(writeStudyReport(out, report), std::invalid_argument, message);
    EXPECT_EQ(out.str(), "");
  };
  const std::string run2 = "Study report, run 2 (/data/run2_3DMC.sdm)";
  StudyReport report = twoRunStudy();
  report.runs[1].volumes = 0;
  refusal(report, run2 + " has no volumes");
  report = twoRunStudy();
  report.runs[1].flags.pop_back();
  refusal(report, run2 + ": the flag list has 6 entries for 7 volumes");
  report = twoRunStudy();
  report.runs[0].traces[1].lines[0].values.push_back(0.0);
  refusal(report, "Study report, run 1 (" + kRun1 +
                      "): line \"unfiltered\" of trace \"Framewise displacement (mm)\" has 11 "
                      "values for 10 volumes");
  report = twoRunStudy();
  report.runs[1].carpet = GreyImage{6, 2, std::vector<std::uint8_t>(12)};
  refusal(report, run2 + ": the carpet image has 6 columns for 7 volumes");
  report.runs[1].carpet = GreyImage{7, 2, std::vector<std::uint8_t>(13)};
  refusal(report, run2 + ": the carpet image has 13 pixels for 2 rows of 7");
  report.runs[1].carpet = GreyImage{7, 0, {}};
  refusal(report, run2 + ": the carpet image has 0 pixels for 0 rows of 7");
  report = twoRunStudy();
  report.runs[1].qcCells.pop_back();
  refusal(report, run2 + ": the QC row has 4 cells for 5 columns");
}

}  // namespace
}  // namespace tsl::testing
