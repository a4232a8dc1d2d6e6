// The simulator's state: what its command line set up (the current
// document, the dialog's parameters, the file dialog's answers) and what the
// plug-in made of it (maps, plots, the transcript of every call). One value
// for the process: the exported host functions have no other way to reach it.
#ifndef TESSEL_HOSTSIM_SIMULATED_HOST_H
#define TESSEL_HOSTSIM_SIMULATED_HOST_H

#include <array>
#include <cstddef>
#include <deque>
#include <string>

#include "hostsim/maps.h"
#include "hostsim/options.h"
#include "hostsim/parameters.h"
#include "hostsim/plots.h"
#include "hostsim/run_header.h"
#include "hostsim/transcript.h"

namespace tsl::hostsim {

struct SimulatedHost {
  Options options;
  Parameters parameters;
  std::size_t answersUsed = 0;
  bool hasDocument = false;
  int documentType = 0;
  RunHeader run;
  HeaderRecord record{};
  std::array<int, 3> mapDims{0, 0, 0};
  MapStore maps;
  std::deque<Plot> plots;  // a deque: handles are element addresses and must stay valid
  Transcript transcript;
};

SimulatedHost& simulatedHost();

// A line on standard error, flushed at once.
void report(const std::string& text);

}  // namespace tsl::hostsim

#endif
