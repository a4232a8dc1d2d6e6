// The rules by which a volume becomes a spike: the relative RMS displacement
// of the detrended parameters (this plug-in's own measure), framewise
// displacement, standardised DVARS, or either of the last two, as the field's
// preprocessing tools write their censoring rules.
#ifndef TESSEL_CONFOUND_CENSORING_RULE_H
#define TESSEL_CONFOUND_CENSORING_RULE_H

#include <cstddef>
#include <vector>

namespace tsl {

enum class SpikeMeasure {
  relativeRms = 0,            // relative RMS displacement above spike_threshold
  framewiseDisplacement = 1,  // FD above fd_threshold
  fdOrDvars = 2,              // FD above fd_threshold or std DVARS above dvars_threshold
  stdDvars = 3,               // std DVARS above dvars_threshold
};
inline constexpr int kSpikeMeasureCount = 4;

struct CensoringRule {
  SpikeMeasure measure = SpikeMeasure::relativeRms;
  float spikeThreshold = 0.0f;  // mm, for relativeRms, compared as the float it is
  double fdThreshold = 0.0;     // mm, the decimal the user typed
  double dvarsThreshold = 0.0;  // the decimal the user typed

  bool usesFd() const {
    return measure == SpikeMeasure::framewiseDisplacement || measure == SpikeMeasure::fdOrDvars;
  }
  bool usesDvars() const {
    return measure == SpikeMeasure::fdOrDvars || measure == SpikeMeasure::stdDvars;
  }
};

struct Spike {
  std::size_t volume = 0;
  bool byFd = false;     // its FD is above the FD threshold
  bool byDvars = false;  // its std DVARS is above the DVARS threshold
};

// The spikes of a run by rule, in increasing order of volume; a value is
// above a threshold when strictly greater (not-a-number never is).
// - relativeRms: detectSpikes on relativeRms; with nonSteady > 0 only the
//   volumes from nonSteady + 1 on, which follow a steady volume.
// - the others: volumes nonSteady + 1 ... N-1 and never volume 0 (volume 0
//   and volume nonSteady have no steady volume before them).
// fd and stdDvars need one value per volume only when the rule uses them.
// Throws std::invalid_argument when a series the rule uses does not hold
// relativeRms.size() values.
std::vector<Spike> findSpikes(const CensoringRule& rule, const std::vector<float>& relativeRms,
                              const std::vector<double>& fd, const std::vector<double>& stdDvars,
                              std::size_t nonSteady);

// The volumes of spikes, in their order.
std::vector<std::size_t> spikeVolumes(const std::vector<Spike>& spikes);

}  // namespace tsl

#endif
