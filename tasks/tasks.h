// The plug-in's three tasks, as the dialog names them. Each reads its own
// dialog parameters through host, writes its progress to host's log, keeps
// nothing after it returns, and throws a standard exception whose text tells
// the user what went wrong and with which file.
#ifndef TESSEL_TASKS_TASKS_H
#define TESSEL_TASKS_TASKS_H

#include "tasks/host.h"

namespace tsl {

// The plug-in's version, as it reports it and writes it into its files.
inline constexpr const char* kTesselVersion = "1.2";

// "select_3dmcsdm": asks for the motion SDM or MDM, reads every run of it
// (relocating moved studies with the user's help), warns when the first
// run's volume count differs from the current run's, and hands the path back
// to the dialog. Throws std::runtime_error "You must choose a valid file!"
// when the user cancels; the dialog's motion file then stays as it was.
void selectMotionFile(Host& host);

// "displacement": the voxel displacement maps of every run of the chosen
// motion file, measured on the current run's grid and added to it as maps,
// with the optional motion plots.
void computeDisplacementMaps(Host& host);

// "confound": per run of the chosen motion file, spike detection (with the
// volumes flagged around the spikes) and the standardised confound models
// written as SDM files beside the run's motion file (all of a run's files or
// none), with the optional motion plots; then, when asked for, the study's
// QC table beside the chosen file, and per run the confounds table. Throws
// std::invalid_argument before anything is read or written when a count of
// volumes is negative, the censoring rule is unknown, or a threshold it
// uses is not above 0.
void createConfoundModels(Host& host);

}  // namespace tsl

#endif
