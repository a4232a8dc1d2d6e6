#include "confound/spike_flags.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "confound/censoring_rule.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

using Volumes = std::vector<std::size_t>;

// The flags the slow way: a volume is near a spike when it lies within the
// spike's window; an unflagged volume is then also flagged when the
// unflagged volumes around it, counted outwards from it, are too few.
std::vector<bool> flagsByHand(const Volumes& spikes, std::size_t n, const FlagOptions& o) {
  std::vector<bool> near(n, false);
  for (std::size_t v = 0; v < n; ++v) {
    for (const std::size_t k : spikes) {
      if (v + o.before >= k && v <= k + o.after) near[v] = true;
    }
  }
  if (spikes.empty() || o.minSegment == 0) return near;
  std::vector<bool> flagged = near;
  for (std::size_t v = 0; v < n; ++v) {
    if (near[v]) continue;
    std::size_t length = 1;
    for (std::size_t l = v; l > 0 && !near[l - 1]; --l) ++length;
    for (std::size_t r = v + 1; r < n && !near[r]; ++r) ++length;
    if (length < o.minSegment) flagged[v] = true;
  }
  return flagged;
}

std::size_t longestCleanByHand(const std::vector<bool>& flagged) {
  std::size_t longest = 0;
  for (std::size_t start = 0; start < flagged.size(); ++start) {
    std::size_t end = start;
    while (end < flagged.size() && !flagged[end]) ++end;
    if (end - start > longest) longest = end - start;
  }
  return longest;
}

TEST(SpikeFlags, DetectsValuesStrictlyAboveTheThreshold) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> r{0.0f, 0.2f, 0.9f, 0.5f, nan, 0.7f, 0.5000001f};
  EXPECT_EQ(detectSpikes(r, 0.5f), (Volumes{2, 5, 6}));
  EXPECT_EQ(detectSpikes(r, -1.0f), (Volumes{0, 1, 2, 3, 5, 6}));
  EXPECT_EQ(detectSpikes(r, 0.9f), Volumes{});
}

TEST(SpikeFlags, ShortCleanStretchesBetweenSpikesAndAtTheEnds) {
  const FlaggedVolumes f = flagVolumes({3, 11, 13, 80, 97}, 100, {0, 0, 5});
  EXPECT_EQ(f.volumes, (Volumes{0, 1, 2, 3, 11, 12, 13, 80, 97, 98, 99}));
  EXPECT_EQ(f.extra, 6u);
  EXPECT_EQ(longestUnflaggedStretch(f.flagged), 66u);  // 14 to 79
}

// Every set of spikes in a run of 11 volumes (edges, neighbours, none), with
// every small window and minimum stretch.
TEST(SpikeFlags, MatchFlagsWorkedOutVolumeByVolume) {
  constexpr std::size_t n = 11;
  for (unsigned mask = 0; mask < (1u << n); ++mask) {
    Volumes spikes;
    for (std::size_t v = 0; v < n; ++v) {
      if (mask & (1u << v)) spikes.push_back(v);
    }
    for (std::size_t before = 0; before <= 2; ++before) {
      for (std::size_t after = 0; after <= 2; ++after) {
        for (std::size_t minSegment = 0; minSegment <= 6; ++minSegment) {
          const FlagOptions options{before, after, minSegment};
          const std::vector<bool> expected = flagsByHand(spikes, n, options);
          const FlaggedVolumes f = flagVolumes(spikes, n, options);
          ASSERT_EQ(f.flagged, expected) << "spikes " << mask << " before " << before << " after "
                                         << after << " min " << minSegment;
          Volumes listed;
          for (std::size_t v = 0; v < n; ++v) {
            if (expected[v]) listed.push_back(v);
          }
          ASSERT_EQ(f.volumes, listed);
          ASSERT_EQ(f.extra, listed.size() - spikes.size());
          ASSERT_EQ(longestUnflaggedStretch(f.flagged), longestCleanByHand(expected));
        }
      }
    }
  }
}

TEST(SpikeFlags, HugeWindowsReachTheEndsAndBadSpikesAreRefused) {
  const std::size_t huge = std::numeric_limits<std::size_t>::max();
  const FlaggedVolumes all = flagVolumes({4}, 9, {huge, huge, huge});
  EXPECT_EQ(all.volumes, (Volumes{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(all.extra, 8u);
  EXPECT_EQ(longestUnflaggedStretch(all.flagged), 0u);
  // A run without spikes keeps every volume, however short.
  EXPECT_EQ(flagVolumes({}, 3, {1, 1, 5}).volumes, Volumes{});

  EXPECT_THROW_MSG((flagVolumes({2, 9}, 9, {})), std::invalid_argument,
                   "Spike volume 9 is outside a run of 9 volumes");
  EXPECT_THROW_MSG((flagVolumes({2, 5, 5}, 9, {})), std::invalid_argument,
                   "Spike volumes are not in increasing order at volume 5");
}

// Volumes 0-2 are not at steady state: never flagged, never reached from a
// spike, but they end the stretch that follows them.
TEST(SpikeFlags, NonSteadyVolumesEndStretchesAndAreNeverReached) {
  const FlaggedVolumes f = flagVolumes({5, 12}, 16, {1, 1, 3}, 3);
  // 4-6 and 11-13 around the spikes; 3 (one volume after the non-steady ones)
  // and 14-15 are too short.
  EXPECT_EQ(f.volumes, (Volumes{3, 4, 5, 6, 11, 12, 13, 14, 15}));
  EXPECT_EQ(f.extra, 7u);
  EXPECT_FALSE(f.flagged[0] || f.flagged[1] || f.flagged[2]);
  EXPECT_EQ(flagVolumes({3}, 6, {10, 0, 0}, 3).volumes, (Volumes{3}));
  // Without spikes the short-stretch rule still sees them.
  EXPECT_EQ(flagVolumes({}, 5, {0, 0, 3}, 3).volumes, (Volumes{3, 4}));
  EXPECT_TRUE(flagVolumes({}, 9, {0, 0, 3}, 3).volumes.empty());
  EXPECT_THROW_MSG(flagVolumes({2}, 9, {}, 3), std::invalid_argument,
                   "Spike volume 2 is one of the run's 3 non-steady-state volumes");
  EXPECT_THROW_MSG(flagVolumes({}, 2, {}, 3), std::invalid_argument,
                   "3 non-steady-state volumes are more than a run of 2 volumes");
}

// Volumes 0 and 1 are not at steady state: neither they nor volume 2 (no
// steady volume before it) can be spikes under the rules of FD and DVARS.
TEST(CensoringRules, EachRuleFindsItsSpikes) {
  const std::vector<float> rms = {0.0f, 0.9f, 0.9f, 0.6f, 0.2f, 0.5f, 0.51f, 0.1f};
  const std::vector<double> fd = {0.0, 0.9, 0.9, 0.6, 0.2, 0.5, 0.51, 0.1};
  const std::vector<double> dvars = {0.0, 2.0, 2.0, 1.7, 1.6, 1.5, 0.3, 1.51};
  CensoringRule rule{SpikeMeasure::framewiseDisplacement, 0.5f, 0.5, 1.5};
  EXPECT_EQ(spikeVolumes(findSpikes(rule, rms, fd, {}, 2)), (Volumes{3, 6}));
  EXPECT_EQ(spikeVolumes(findSpikes(rule, rms, fd, {}, 0)), (Volumes{1, 2, 3, 6}));
  rule.measure = SpikeMeasure::stdDvars;
  EXPECT_EQ(spikeVolumes(findSpikes(rule, rms, {}, dvars, 2)), (Volumes{3, 4, 7}));
  rule.measure = SpikeMeasure::fdOrDvars;
  const std::vector<Spike> either = findSpikes(rule, rms, fd, dvars, 2);
  EXPECT_EQ(spikeVolumes(either), (Volumes{3, 4, 6, 7}));
  EXPECT_TRUE(either[0].byFd && either[0].byDvars);
  EXPECT_TRUE(!either[1].byFd && either[1].byDvars);
  EXPECT_TRUE(either[2].byFd && !either[2].byDvars);
  // The relative RMS rule as ever without non-steady volumes (volume 0 too,
  // below a negative threshold), and from the first change between steady
  // volumes with them.
  rule.measure = SpikeMeasure::relativeRms;
  EXPECT_EQ(spikeVolumes(findSpikes(rule, rms, {}, {}, 0)), (Volumes{1, 2, 3, 6}));
  EXPECT_EQ(spikeVolumes(findSpikes(rule, rms, {}, {}, 2)), (Volumes{3, 6}));
  rule.spikeThreshold = -1.0f;
  EXPECT_EQ(findSpikes(rule, rms, {}, {}, 0).size(), 8u);
  rule.measure = SpikeMeasure::fdOrDvars;
  EXPECT_THROW_MSG(findSpikes(rule, rms, fd, {}, 0), std::invalid_argument,
                   "The std DVARS series holds 0 values for a run of 8 volumes");
}

// Non-steady volumes first, then spikes, their neighbours, short stretches.
TEST(SpikeFlags, ReasonsOfEachFlaggedVolume) {
  const FlagOptions options{1, 2, 3};
  const FlaggedVolumes f = flagVolumes({4, 9}, 16, options, 2);
  // 3-6 and 8-11 around the spikes, 7 between them too short, 2 after the
  // non-steady volumes too short, 12-15 kept.
  using R = FlagReason;
  const std::vector<R> expected = {R::nonSteady, R::nonSteady, R::shortSegment, R::neighbour,
                                   R::spike,     R::neighbour, R::neighbour,    R::shortSegment,
                                   R::neighbour, R::spike,     R::neighbour,    R::neighbour,
                                   R::none,      R::none,      R::none,         R::none};
  EXPECT_EQ(flagReasons(f, {4, 9}, options, 2), expected);
}

}  // namespace
}  // namespace tsl::testing
