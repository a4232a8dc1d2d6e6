// What the confound task takes from a run's voxel data: the FMR of each run
// of the chosen motion file, checked before anything is written, and then,
// run by run, its non-steady-state volumes and DVARS.
#ifndef TESSEL_TASKS_RUN_SIGNAL_H
#define TESSEL_TASKS_RUN_SIGNAL_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "designmatrix/motion_parameter_source.h"
#include "fmr/fmr_header.h"
#include "report/png_image.h"
#include "signal/dvars.h"
#include "tasks/host.h"

namespace tsl {

// Why a run's voxel data are read; the reason names what a refusal stops.
struct SignalNeeds {
  bool dvars = false;
  bool detectNonSteady = false;
  bool repetitionTime = false;  // the motion filter's TR, from the header alone
  bool voxelData() const { return dvars || detectNonSteady; }
  bool any() const { return voxelData() || repetitionTime; }
};

// One run's FMR header, found and checked.
struct RunData {
  std::string fmrPath;  // empty when no voxel data are read
  FmrFileHeader header;
};

// The FMR of every run when needs.any() (otherwise every RunData is empty):
// a study's data file, or the host's current run for a single SDM. Reads
// each header and, when the voxel data are needed, opens each STC file, so
// that a run that cannot be read stops the task before anything is written.
// Throws IOError
//   "MDM file <mdm>: study <j>'s data file <path> is not an FMR run; DVARS
//    need the run's voxel data" (or "...; non-steady-state detection needs
//    the run's voxel data", "...; the motion filter needs the run's TR" when
//    only those need them),
//   "FMR file <fmr> holds <n> volumes, but the motion file <sdm> has <m>
//    data points",
//   "FMR file <fmr>: TR is missing; the motion filter needs the repetition
//    time" (also for a TR not above 0),
// and what the FMR header and STC readers throw.
std::vector<RunData> findRunData(Host& host, const std::vector<MotionRun>& runs,
                                 const SignalNeeds& needs);

// A run's measures of its voxel data.
struct RunSignal {
  std::size_t nonSteady = 0;
  bool nonSteadyDetected = false;
  std::optional<DvarsSeries> dvars;
  int trMs = 0;                     // when the motion filter needs it
  std::optional<GreyImage> carpet;  // with DVARS, when asked for
};

// Throws IOError "SDM file <sdm>: <D> non-steady-state volumes leave fewer
// than 2 of its <points> volumes" when a run of points volumes with D =
// nonSteady > 0 keeps fewer than two steady volumes.
void requireSteadyVolumes(const std::string& sdm, std::size_t nonSteady, std::size_t points);

// The measures of one run: its non-steady-state volumes (detected when
// needs.detectNonSteady, else dummyVolumes), when needs.dvars its DVARS on
// the voxels of the first volume above fmrThreshold, and its TR when
// needs.repetitionTime. Throws what the
// signal measures throw, and what requireSteadyVolumes throws.
// With carpet, the DVARS pass also makes the run's carpet plot.
RunSignal measureRunSignal(const MotionRun& run, const RunData& data, const SignalNeeds& needs,
                           std::size_t dummyVolumes, float fmrThreshold, bool carpet);

}  // namespace tsl

#endif
