#include "confound/spike_flags.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace tsl {

std::vector<std::size_t> detectSpikes(const std::vector<float>& series, float threshold) {
  std::vector<std::size_t> spikes;
  for (std::size_t k = 0; k < series.size(); ++k) {
    if (series[k] > threshold) spikes.push_back(k);
  }
  return spikes;
}

namespace {

void requireSpikesWithin(const std::vector<std::size_t>& spikes, std::size_t volumeCount) {
  for (std::size_t i = 0; i < spikes.size(); ++i) {
    if (spikes[i] >= volumeCount) {
      throw std::invalid_argument("Spike volume " + std::to_string(spikes[i]) +
                                  " is outside a run of " + std::to_string(volumeCount) +
                                  " volumes");
    }
    if (i > 0 && spikes[i] <= spikes[i - 1]) {
      throw std::invalid_argument("Spike volumes are not in increasing order at volume " +
                                  std::to_string(spikes[i]));
    }
  }
}

// Flags [first, last) of the stretch of unflagged volumes that ends at last
// when it is shorter than minSegment.
void flagIfShort(std::vector<bool>& flagged, std::size_t first, std::size_t last,
                 std::size_t minSegment) {
  if (last - first < minSegment) std::fill(flagged.begin() + first, flagged.begin() + last, true);
}

}  // namespace

FlaggedVolumes flagVolumes(const std::vector<std::size_t>& spikes, std::size_t volumeCount,
                           const FlagOptions& options, std::size_t nonSteady) {
  requireSpikesWithin(spikes, volumeCount);
  if (nonSteady > volumeCount) {
    throw std::invalid_argument(std::to_string(nonSteady) +
                                " non-steady-state volumes are more than a run of " +
                                std::to_string(volumeCount) + " volumes");
  }
  if (!spikes.empty() && spikes.front() < nonSteady) {
    throw std::invalid_argument("Spike volume " + std::to_string(spikes.front()) +
                                " is one of the run's " + std::to_string(nonSteady) +
                                " non-steady-state volumes");
  }
  FlaggedVolumes result;
  result.flagged.assign(volumeCount, false);
  for (const std::size_t k : spikes) {
    // Written so that huge counts cannot wrap around; the non-steady volumes
    // have predictors of their own and are never reached.
    const std::size_t first = options.before >= k - nonSteady ? nonSteady : k - options.before;
    const std::size_t last =
        options.after >= volumeCount - 1 - k ? volumeCount - 1 : k + options.after;
    std::fill(result.flagged.begin() + first, result.flagged.begin() + last + 1, true);
  }

  if ((!spikes.empty() || nonSteady > 0) && options.minSegment > 0) {
    // Flagging a whole maximal stretch only joins flagged ones, so the other
    // stretches stay as they are and one pass is enough. The non-steady
    // volumes end a stretch as flagged ones do.
    std::size_t stretchStart = nonSteady;
    for (std::size_t v = nonSteady; v < volumeCount; ++v) {
      if (!result.flagged[v]) continue;
      flagIfShort(result.flagged, stretchStart, v, options.minSegment);
      stretchStart = v + 1;
    }
    flagIfShort(result.flagged, stretchStart, volumeCount, options.minSegment);
  }

  for (std::size_t v = nonSteady; v < volumeCount; ++v) {
    if (result.flagged[v]) result.volumes.push_back(v);
  }
  result.extra = result.volumes.size() - spikes.size();
  return result;
}

std::vector<FlagReason> flagReasons(const FlaggedVolumes& flags,
                                    const std::vector<std::size_t>& spikes,
                                    const FlagOptions& options, std::size_t nonSteady) {
  const std::size_t n = flags.flagged.size();
  std::vector<FlagReason> reasons(n, FlagReason::none);
  for (std::size_t v = 0; v < n; ++v) {
    if (flags.flagged[v]) reasons[v] = FlagReason::shortSegment;
  }
  for (const std::size_t k : spikes) {
    if (k >= n) continue;
    const std::size_t first = options.before >= k ? 0 : k - options.before;
    const std::size_t last = options.after >= n - 1 - k ? n - 1 : k + options.after;
    for (std::size_t v = first; v <= last; ++v) {
      if (flags.flagged[v]) reasons[v] = FlagReason::neighbour;
    }
  }
  for (const std::size_t k : spikes) {
    if (k < n) reasons[k] = FlagReason::spike;
  }
  for (std::size_t v = 0; v < std::min(nonSteady, n); ++v) reasons[v] = FlagReason::nonSteady;
  return reasons;
}

std::size_t longestUnflaggedStretch(const std::vector<bool>& flagged) {
  std::size_t longest = 0;
  std::size_t current = 0;
  for (const bool f : flagged) {
    current = f ? 0 : current + 1;
    longest = std::max(longest, current);
  }
  return longest;
}

}  // namespace tsl
