#include "report/study_report.h"

#include <ostream>
#include <stdexcept>
#include <string>

#include "designmatrix/path_functions.h"
#include "report/html_text.h"
#include "report/svg_figures.h"

namespace tsl {

namespace {

// The line colours l0 ... l5 (curves, k0 ... k5 their legend keys) and the
// flag shades f1 ... f4 are the ones svg_figures.h names.
constexpr const char* kStyleSheet = R"css(
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em auto;max-width:1250px;padding:0 1em;color:#222;background:#fff}
h1{font-size:1.6em;margin:0 0 .2em}
h2{font-size:1.25em;margin:1.4em 0 .2em;border-bottom:1px solid #ccc}
h3{font-size:1em;margin:.8em 0 .2em}
.path{color:#555;font-size:.9em;overflow-wrap:anywhere;margin:0 0 .6em}
nav ol{columns:3;font-size:.9em}
table{border-collapse:collapse;font-size:.85em}
th,td{border:1px solid #ccc;padding:2px 6px;text-align:left;vertical-align:top}
td.long{overflow-wrap:anywhere}
.table-box td.long{min-width:16em}
thead th{background:#f3f3f3}
tr.over td{background:#fde0dc}
.mark{color:#b00;font-weight:bold}
.table-box{overflow-x:auto}
.charts{display:grid;grid-template-columns:1fr 1fr;gap:1em;margin-top:1em}
.run-body{display:grid;grid-template-columns:minmax(0,1fr) 18em;gap:1em;align-items:start}
.files{padding-left:1.2em;font-size:.85em;overflow-wrap:anywhere}
svg{display:block;width:100%;height:auto}
svg text{font:11px sans-serif;fill:#333}
.tick-y,.bar-label,.threshold-label,.axis-label{text-anchor:end}
.tick-x{text-anchor:middle}
.axis-label{font-style:italic}
.chart-title{font-weight:bold}
.frame{fill:none;stroke:#bbb;stroke-width:.8}
.grid{stroke:#e4e4e4;stroke-width:.6}
.axis{stroke:#999}
.threshold{stroke:#a00;stroke-width:1;stroke-dasharray:5 3}
.threshold-label{fill:#a00}
polyline{fill:none;stroke-width:1.2;stroke-linejoin:round}
.l0{stroke:#1f77b4}.l1{stroke:#d62728}.l2{stroke:#2ca02c}.l3{stroke:#9467bd}.l4{stroke:#ff7f0e}.l5{stroke:#17becf}
.k0{fill:#1f77b4}.k1{fill:#d62728}.k2{fill:#2ca02c}.k3{fill:#9467bd}.k4{fill:#ff7f0e}.k5{fill:#17becf}
.lf{stroke:#9a9a9a;stroke-width:.8;stroke-opacity:.7}.kf{fill:#9a9a9a}
.f1{fill:#9e9ac8;fill-opacity:.45}.f2{fill:#e31a1c;fill-opacity:.35}.f3{fill:#fd8d3c;fill-opacity:.3}.f4{fill:#41b6c4;fill-opacity:.3}
.flag-legend tspan{fill-opacity:1}
image.carpet{image-rendering:pixelated}
.bar{fill:#6b8fb8}.bar.over{fill:#c0392b}
.limit{stroke:#c0392b;stroke-width:1.2;stroke-dasharray:4 3}
.limit-label{fill:#c0392b}
@media (max-width:900px){.run-body,.charts{grid-template-columns:1fr}}
@media print{
@page{size:A4;margin:12mm}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
body{max-width:none;margin:0;padding:0;font-size:10pt}
nav{display:none}
section.run{break-before:page}
.run-body{display:block}
svg.run-figure{max-height:235mm}
svg,tr,li{break-inside:avoid}
.table-box{overflow:visible}
}
)css";

constexpr std::size_t kLongCell = 24;

struct Paper {
  const char* citation;
  const char* url;
};
constexpr Paper kPapers[] = {
    {"Power JD, Barnes KA, Snyder AZ, Schlaggar BL, Petersen SE (2012). Spurious but systematic "
     "correlations in functional connectivity MRI networks arise from subject motion. "
     "NeuroImage 59(3):2142-2154 (framewise displacement).",
     "https://doi.org/10.1016/j.neuroimage.2011.10.018"},
    {"Power JD (2017). A simple but useful way to assess fMRI scan qualities. "
     "NeuroImage 154:150-158 (the carpet plot).",
     "https://doi.org/10.1016/j.neuroimage.2016.08.009"},
};

std::string runLabel(std::size_t index, const RunSection& run) {
  return "run " + std::to_string(index + 1) + " (" + run.motionFile + ")";
}

// what "has <actual> <unit> for <expected> <of>", unless the counts agree.
void requireCount(const std::string& what, std::size_t actual, const char* unit,
                  std::size_t expected, const char* of) {
  if (actual != expected) {
    throw std::invalid_argument("Study report, " + what + " has " + std::to_string(actual) + " " +
                                unit + " for " + std::to_string(expected) + " " + of);
  }
}

void checkReport(const StudyReport& report) {
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    const RunSection& run = report.runs[i];
    const std::string label = runLabel(i, run);
    if (run.volumes == 0) throw std::invalid_argument("Study report, " + label + " has no volumes");
    requireCount(label + ": the flag list", run.flags.size(), "entries", run.volumes, "volumes");
    for (const Trace& trace : run.traces) {
      for (const TraceLine& line : trace.lines) {
        requireCount(label + ": line \"" + line.name + "\" of trace \"" + trace.title + "\"",
                     line.values.size(), "values", run.volumes, "volumes");
      }
    }
    if (run.carpet) {
      const GreyImage& carpet = *run.carpet;
      requireCount(label + ": the carpet image", carpet.width, "columns", run.volumes, "volumes");
      if (carpet.height == 0 || carpet.pixels.size() / carpet.width != carpet.height ||
          carpet.pixels.size() % carpet.width != 0) {
        throw std::invalid_argument("Study report, " + label + ": the carpet image has " +
                                    std::to_string(carpet.pixels.size()) + " pixels for " +
                                    std::to_string(carpet.height) + " rows of " +
                                    std::to_string(carpet.width));
      }
    }
    requireCount(label + ": the QC row", run.qcCells.size(), "cells", report.qcColumns.size(),
                 "columns");
  }
}

// A table cell of text; a long one (a path) may break anywhere, so that
// the table fits the page, but numbers never do.
std::string cellOf(const std::string& text) {
  return (text.size() > kLongCell ? "<td class=\"long\">" : "<td>") + escapeHtml(text) + "</td>";
}

void writeQcTable(std::ostream& out, const StudyReport& report) {
  out << "<div class=\"table-box\"><table class=\"qc\">\n<thead><tr><th>run</th>";
  for (const std::string& column : report.qcColumns) out << "<th>" << escapeHtml(column) << "</th>";
  out << "</tr></thead>\n<tbody>\n";
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    const RunSection& run = report.runs[i];
    const bool over = run.overMeanFd || run.overFlaggedPercent;
    out << (over ? "<tr class=\"over\">" : "<tr>") << "<td><a href=\"#run-" << i + 1 << "\">"
        << i + 1 << "</a>";
    if (over) out << " <span class=\"mark\">over limit</span>";
    out << "</td>";
    for (const std::string& cell : run.qcCells) out << cellOf(cell);
    out << "</tr>\n";
  }
  out << "</tbody></table></div>\n";
}

void writeCharts(std::ostream& out, const StudyReport& report) {
  std::vector<Bar> fd;
  std::vector<Bar> flagged;
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    const RunSection& run = report.runs[i];
    const std::string label = std::to_string(i + 1) + " " + fileNameOf(run.motionFile);
    fd.push_back({label, run.meanFdMm, run.overMeanFd});
    flagged.push_back({label, run.flaggedPercent, run.overFlaggedPercent});
  }
  out << "<div class=\"charts\">\n<div class=\"chart-mean-fd\">\n";
  writeBarChart(out, "Mean framewise displacement", "mm", fd, report.maxMeanFdMm);
  out << "</div>\n<div class=\"chart-flagged\">\n";
  writeBarChart(out, "Flagged volumes", "%", flagged, report.maxFlaggedPercent);
  out << "</div>\n</div>\n";
}

void writeRunSection(std::ostream& out, const StudyReport& report, std::size_t index) {
  const RunSection& run = report.runs[index];
  out << "<section class=\"run\" id=\"run-" << index + 1 << "\">\n<h2>Run " << index + 1 << ": "
      << escapeHtml(fileNameOf(run.motionFile)) << "</h2>\n<p class=\"path\">"
      << escapeHtml(run.motionFile) << ", " << run.volumes << " volumes";
  if (run.repetitionTimeSeconds > 0.0) {
    out << ", TR " << numberText(run.repetitionTimeSeconds) << " s";
  }
  out << "</p>\n<div class=\"run-body\">\n<div class=\"figure\">\n";
  writeRunFigure(out, run);
  out << "</div>\n<aside>\n<table class=\"qc-row\">\n";
  if (run.overMeanFd || run.overFlaggedPercent) {
    out << "<caption class=\"mark\">over limit:";
    if (run.overMeanFd) out << " mean framewise displacement";
    if (run.overMeanFd && run.overFlaggedPercent) out << ',';
    if (run.overFlaggedPercent) out << " flagged percentage";
    out << "</caption>\n";
  }
  for (std::size_t k = 0; k < report.qcColumns.size(); ++k) {
    out << "<tr><th>" << escapeHtml(report.qcColumns[k]) << "</th>" << cellOf(run.qcCells[k])
        << "</tr>\n";
  }
  out << "</table>\n<h3>Files written</h3>\n<ul class=\"files\">\n";
  for (const std::string& file : run.filesWritten) {
    out << "<li title=\"" << escapeHtml(file) << "\">" << escapeHtml(fileNameOf(file)) << "</li>\n";
  }
  if (run.filesWritten.empty()) out << "<li>none</li>\n";
  out << "</ul>\n</aside>\n</div>\n</section>\n";
}

void writeProvenance(std::ostream& out, const StudyReport& report) {
  out << "<section id=\"provenance\">\n<h2>What produced it</h2>\n<p class=\"tool\">"
      << escapeHtml(report.toolName) << " version " << escapeHtml(report.toolVersion)
      << "</p>\n<h3>Parameters</h3>\n<table class=\"parameters\">\n<thead><tr><th>parameter</th>"
         "<th>value</th></tr></thead>\n<tbody>\n";
  for (const NamedValue& parameter : report.parameters) {
    out << "<tr><td>" << escapeHtml(parameter.name) << "</td><td>" << escapeHtml(parameter.value)
        << "</td></tr>\n";
  }
  out << "</tbody></table>\n<h3>Input files</h3>\n<table "
         "class=\"inputs\">\n<thead><tr><th>file</th>"
         "<th>bytes</th></tr></thead>\n<tbody>\n";
  for (const InputFile& input : report.inputs) {
    out << "<tr>" << cellOf(input.path) << "<td>" << input.bytes << "</td></tr>\n";
  }
  out << "</tbody></table>\n</section>\n";
}

}  // namespace

void writeStudyReport(std::ostream& out, const StudyReport& report) {
  checkReport(report);
  const std::string title = "Study report: " + fileNameOf(report.studyFile);
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>"
      << escapeHtml(title) << "</title>\n<style>" << kStyleSheet << "</style>\n</head>\n<body>\n"
      << "<header>\n<h1>" << escapeHtml(title) << "</h1>\n<p class=\"path\">"
      << escapeHtml(report.studyFile) << ", " << report.runs.size()
      << (report.runs.size() == 1 ? " run" : " runs") << "; written by "
      << escapeHtml(report.toolName) << ' ' << escapeHtml(report.toolVersion)
      << "</p>\n</header>\n<nav>\n<ol>\n<li><a href=\"#glance\">The study at a glance</a></li>\n";
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    out << "<li><a href=\"#run-" << i + 1 << "\">"
        << escapeHtml(fileNameOf(report.runs[i].motionFile)) << "</a></li>\n";
  }
  out << "<li><a href=\"#provenance\">What produced it</a></li>\n</ol>\n</nav>\n"
      << "<section id=\"glance\">\n<h2>The study at a glance</h2>\n";
  writeQcTable(out, report);
  writeCharts(out, report);
  out << "<p>Shaded volumes are flagged. In a carpet plot, a band across every row at the same "
         "volume is a change of the whole brain's signal (motion, most often); a pattern in a "
         "few rows is local.</p>\n</section>\n";
  for (std::size_t i = 0; i < report.runs.size(); ++i) writeRunSection(out, report, i);
  writeProvenance(out, report);
  out << "<footer>\n<h2>References</h2>\n<ul>\n";
  for (const Paper& paper : kPapers) {
    out << "<li>" << paper.citation << " <a href=\"" << paper.url << "\">" << paper.url
        << "</a></li>\n";
  }
  out << "</ul>\n</footer>\n</body>\n</html>\n";
}

}  // namespace tsl
