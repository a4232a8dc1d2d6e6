// Zorvane.exe, the host simulator: loads the plug-in as the host does,
// provides the host functions the plug-in binds by name (host_exports.cpp),
// runs the tasks of its command line and records every host call.
// `Zorvane.exe --help` lists the options.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hostsim/file_output.h"
#include "hostsim/plugin_loader.h"
#include "hostsim/simulated_host.h"
#include "plugin/host_api.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#ifdef __MINGW32__
// No wildcard expansion of the command line: "*" in a task name stays "*".
extern "C" {
int _dowildcard = 0;
}
#endif

namespace {

using namespace tsl::hostsim;

// The current document and its header record from the command line.
void setUpDocument(SimulatedHost& h) {
  const Options& o = h.options;
  if (o.fmr) {
    std::ifstream in(*o.fmr, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    if (!in) report("note: cannot read the FMR header " + *o.fmr + "; its numbers are left 0");
    h.run = runHeaderFromText(*o.fmr, text.str());
    h.hasDocument = true;
    h.documentType = o.documentType.value_or(1);
  } else if (o.documentType) {
    h.hasDocument = true;
    h.documentType = *o.documentType;
  }
  if (o.dims) h.run.dims = *o.dims;
  if (o.voxelSize) h.run.voxelSize = *o.voxelSize;
  if (o.volumes) h.run.volumes = *o.volumes;
  if (h.run.path.size() >= tsl::host::kFmrRecordPathCapacity) {
    report("note: the FMR path is longer than the record holds and is cut to " +
           std::to_string(tsl::host::kFmrRecordPathCapacity - 1) + " bytes");
  }
  h.record = buildHeaderRecord(h.run);
  h.mapDims = o.mapDims.value_or(h.run.dims);
}

void writePlots(const SimulatedHost& h) {
  if (!h.options.plotsDir) return;
  for (std::size_t i = 0; i < h.plots.size(); ++i) {
    const std::string path =
        (std::filesystem::path(*h.options.plotsDir) / ("plot-" + std::to_string(i + 1) + ".svg"))
            .string();
    const std::string problem = writeFileAtomically(path, renderSvg(h.plots[i]));
    if (!problem.empty()) report("plot " + std::to_string(i + 1) + ": " + problem);
  }
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The log reaches standard output byte for byte: no "\n" -> "\r\n".
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  SimulatedHost& h = simulatedHost();
  try {
    h.options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& error) {
    std::fprintf(stderr, "Zorvane.exe: %s\n\n%s", error.what(), usageText().c_str());
    return 2;
  }
  if (h.options.help) {
    std::fputs(usageText().c_str(), stdout);
    return 0;
  }
  if (h.options.transcript && !h.transcript.open(*h.options.transcript)) {
    report("Zorvane.exe: cannot create the transcript " + *h.options.transcript);
    return 2;
  }
  if (h.options.plotsDir) {
    std::error_code error;
    std::filesystem::create_directories(*h.options.plotsDir, error);
    if (error) {
      report("Zorvane.exe: cannot create the plots folder " + *h.options.plotsDir);
      return 2;
    }
  }
  setUpDocument(h);
  for (const auto& [name, value] : h.options.params) h.parameters.set(name, value);

  LoadedPlugin plugin;
  const std::string problem = plugin.load(h.options.plugin.value_or(defaultPluginPath()));
  if (!problem.empty()) {
    report("Zorvane.exe: " + problem);
    return 1;
  }
  const bool started = plugin.initPlugin();
  // The host runs no task of a plug-in that refused to start (a careless one,
  // --ignore-refusal, does), and still destroys it.
  if (!started) report("initPlugin returned false");
  if (started || h.options.ignoreRefusal) {
    for (const std::string& task : h.options.tasks) {
      h.parameters.set("task", task);
      if (!plugin.execute()) report("note: execute returned false for task \"" + task + "\"");
    }
  }
  plugin.destroy();
  writePlots(h);
  return started ? 0 : 1;
}
