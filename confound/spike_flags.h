// Spike volumes of a run and the volumes flagged around them for scrubbing:
// the neighbours of each spike, and the clean stretches too short to keep.
#ifndef TESSEL_CONFOUND_SPIKE_FLAGS_H
#define TESSEL_CONFOUND_SPIKE_FLAGS_H

#include <cstddef>
#include <vector>

namespace tsl {

// The indices k of series, in increasing order, with series[k] > threshold:
// strictly greater, so an equal value is no spike, nor is not-a-number.
std::vector<std::size_t> detectSpikes(const std::vector<float>& series, float threshold);

// What is flagged besides the spikes. Each count is a number of volumes; 0
// turns that part off. The callers refuse negative values before they get
// here.
struct FlagOptions {
  std::size_t before = 0;      // volumes before each spike
  std::size_t after = 0;       // volumes after each spike
  std::size_t minSegment = 0;  // shortest stretch of unflagged volumes kept
};

struct FlaggedVolumes {
  std::vector<bool> flagged;         // one per volume of the run
  std::vector<std::size_t> volumes;  // the flagged volumes, in increasing order
  // Flagged volumes that are not spikes themselves; volumes.size() - extra
  // is the number of spikes.
  std::size_t extra = 0;
};

// Flags every spike, the options.before volumes before and options.after
// volumes after it (as far as the run reaches), then, when anything is flagged
// and options.minSegment > 0, every maximal stretch of unflagged volumes
// shorter than options.minSegment, also one at the start or the end of the
// run. Without spikes nothing is flagged. Counts as large as SIZE_MAX are
// fine (they reach the run's ends).
//
// The first nonSteady volumes are not yet at steady state: they are never
// flagged here (they get predictors of their own), the flagging around a
// spike stops before them, and for the short-stretch rule they count as
// flagged (a stretch between them and a spike may be too short), also
// without spikes.
// Throws std::invalid_argument when spikes are not strictly increasing, one
// is not below volumeCount or one is below nonSteady, or when nonSteady
// exceeds volumeCount.
FlaggedVolumes flagVolumes(const std::vector<std::size_t>& spikes, std::size_t volumeCount,
                           const FlagOptions& options, std::size_t nonSteady = 0);

// Why a volume is censored, for showing it: the first of these that applies.
enum class FlagReason { none, nonSteady, spike, neighbour, shortSegment };

// One reason per volume of flags (flagVolumes of spikes with options and
// nonSteady): a non-steady-state volume, a spike, a volume within
// options.before / options.after of a spike, or else a flagged volume of a
// stretch too short to keep.
std::vector<FlagReason> flagReasons(const FlaggedVolumes& flags,
                                    const std::vector<std::size_t>& spikes,
                                    const FlagOptions& options, std::size_t nonSteady);

// The most consecutive false entries of flagged (flagged.size() when none is
// true, 0 for an empty run).
std::size_t longestUnflaggedStretch(const std::vector<bool>& flagged);

}  // namespace tsl

#endif
