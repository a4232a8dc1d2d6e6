// The confound task's study report: what the task knows of each run turned
// into the report's model, and the page written beside the chosen file.
#ifndef TESSEL_TASKS_CONFOUND_REPORT_H
#define TESSEL_TASKS_CONFOUND_REPORT_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "confound/censoring_rule.h"
#include "confound/qc_measures.h"
#include "confound/spike_flags.h"
#include "designmatrix/motion_parameters.h"
#include "report/study_report.h"

namespace tsl {

// One run as the task computed it.
struct ReportedRun {
  std::string motionFile;
  std::string dataFile;                   // the FMR read; empty when none was
  int trMs = 0;                           // 0 when unknown
  const MotionColumns* motion = nullptr;  // as the task used them (filtered or not)
  bool filtered = false;
  std::vector<double> fd;            // of motion
  std::vector<double> fdUnfiltered;  // with a filter: of the parameters as estimated
  std::vector<float> relativeRms;    // of the detrended parameters
  std::vector<double> stdDvars;      // empty without DVARS
  std::vector<FlagReason> reasons;   // one per volume
  std::optional<GreyImage> carpet;
  RunQuality quality;
  std::vector<std::string> filesWritten;
};

// The report's section of run, the rule's thresholds drawn on its series.
RunSection reportSection(const ReportedRun& run, const CensoringRule& rule);

// The page's model: the study's QC table and limits, every run's section,
// the parameters read (name, value) in order, and the input files (the
// chosen file, each run's SDM and FMR) with their sizes.
StudyReport studyReport(const std::string& chosenFile, const QcLimits& limits,
                        const std::vector<RunSection>& runs,
                        const std::vector<std::pair<std::string, std::string>>& parameters,
                        const std::vector<ReportedRun>& reported);

// study.mdm gives study_report.html, in the same folder.
std::string studyReportPath(const std::string& chosenFile);

}  // namespace tsl

#endif
