#include "confound/censoring_rule.h"

#include <stdexcept>
#include <string>

#include "confound/spike_flags.h"

namespace tsl {
namespace {

void requireSeries(const std::vector<double>& series, std::size_t volumes, const char* what) {
  if (series.size() != volumes) {
    throw std::invalid_argument(std::string("The ") + what + " series holds " +
                                std::to_string(series.size()) + " values for a run of " +
                                std::to_string(volumes) + " volumes");
  }
}

}  // namespace

std::vector<Spike> findSpikes(const CensoringRule& rule, const std::vector<float>& relativeRms,
                              const std::vector<double>& fd, const std::vector<double>& stdDvars,
                              std::size_t nonSteady) {
  const std::size_t volumes = relativeRms.size();
  std::vector<Spike> spikes;
  if (rule.measure == SpikeMeasure::relativeRms) {
    for (const std::size_t k : detectSpikes(relativeRms, rule.spikeThreshold)) {
      if (nonSteady == 0 || k > nonSteady) spikes.push_back({k, false, false});
    }
    return spikes;
  }
  if (rule.usesFd()) requireSeries(fd, volumes, "framewise displacement");
  if (rule.usesDvars()) requireSeries(stdDvars, volumes, "std DVARS");
  for (std::size_t k = nonSteady + 1; k < volumes; ++k) {
    Spike s{k, rule.usesFd() && fd[k] > rule.fdThreshold,
            rule.usesDvars() && stdDvars[k] > rule.dvarsThreshold};
    if (s.byFd || s.byDvars) spikes.push_back(s);
  }
  return spikes;
}

std::vector<std::size_t> spikeVolumes(const std::vector<Spike>& spikes) {
  std::vector<std::size_t> volumes;
  volumes.reserve(spikes.size());
  for (const Spike& s : spikes) volumes.push_back(s.volume);
  return volumes;
}

}  // namespace tsl
