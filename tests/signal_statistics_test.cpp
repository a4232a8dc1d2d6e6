// The statistics beneath DVARS, against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "signal/exact_median.h"
#include "signal/series_statistics.h"
#include "signal/voxel_series_terms.h"

namespace tsl::testing {
namespace {

TEST(SeriesStatisticsTest, PercentilesAutocorrelationAndMedian) {
  // floor(q / 100 x (n - 1)) for the quartiles.
  const std::size_t counts[] = {1, 2, 3, 4, 5, 7, 400, 1001};
  const std::size_t lower[] = {0, 0, 0, 0, 1, 1, 99, 250};
  const std::size_t upper[] = {0, 0, 1, 2, 3, 4, 299, 750};
  for (std::size_t i = 0; i < std::size(counts); ++i) {
    EXPECT_EQ(lowerPercentileIndex(counts[i], 25), lower[i]) << counts[i];
    EXPECT_EQ(lowerPercentileIndex(counts[i], 75), upper[i]) << counts[i];
  }
  EXPECT_EQ(lowerPercentileIndex(9, 100), 8u);

  // 1 2 4 3: mean 2.5, x = -1.5 -0.5 1.5 0.5, r0 = 5, r1 = 0.75.
  const float rising[] = {1, 2, 4, 3};
  EXPECT_DOUBLE_EQ(lag1Autocorrelation(rising, 4), 0.15);
  // 1 -1 1 -1 1 -1 1: mean 1/7; r1 / r0 = -288/336 = -6/7.
  const float alternating[] = {1, -1, 1, -1, 1, -1, 1};
  EXPECT_DOUBLE_EQ(lag1Autocorrelation(alternating, 7), -6.0 / 7.0);
  const float constant[] = {5, 5, 5};
  EXPECT_EQ(lag1Autocorrelation(constant, 3), 0.0);
  EXPECT_EQ(lag1Autocorrelation(constant, 1), 0.0);
  // Integers, exactly: the same series, and shifted far from 0 either way.
  for (const std::int32_t shift : {0, 29999, -32769}) {
    const std::int32_t integers[] = {1 + shift, 2 + shift, 4 + shift, 3 + shift};
    EXPECT_DOUBLE_EQ(lag1Autocorrelation(integers, 4), 0.15) << shift;
  }
  const std::int32_t signs[] = {1, -1, 1, -1, 1, -1, 1};
  EXPECT_DOUBLE_EQ(lag1Autocorrelation(signs, 7), -6.0 / 7.0);
  const std::int32_t flat[] = {-7, -7, -7};
  EXPECT_EQ(lag1Autocorrelation(flat, 3), 0.0);

  EXPECT_EQ(medianOf({3, 1, 2}), 2.0);
  EXPECT_EQ(medianOf({4, 1, 3, 2}), 2.5);
  EXPECT_EQ(medianOf({-7}), -7.0);
  EXPECT_EQ(medianOf({10, -10, 10, -10, 10, 9}), 9.5);
}

TEST(ExactMedianTest, SixteenBitValuesInOnePass) {
  ExactMedian median(true);
  EXPECT_FALSE(median.known());
  EXPECT_EQ(median.lowerBound(), -32768.0);
  EXPECT_EQ(median.upperBound(), 32767.0);
  const float values[] = {-5, 3, 32767, 7, 3, -32768, 0};
  median.add(values, 7);
  ASSERT_TRUE(median.endPass());
  EXPECT_EQ(median.median(), 3.0);

  // Counted values, as add counts them: 1, 4, 4, 6 x 2 and -2 x 3 (even
  // count: -2 -2 -2 1 4 4 6 6, middle 1 and 4).
  ExactMedian counted(true);
  const std::uint32_t counts[] = {2, 0, 1};  // 4, 4, 6
  counted.addCounts(4, counts, 3);
  counted.add(1.0f);
  counted.add(6.0f);
  const std::uint32_t minusTwo[] = {3};
  counted.addCounts(-2, minusTwo, 1);
  ASSERT_TRUE(counted.endPass());
  EXPECT_EQ(counted.median(), 2.5);
  EXPECT_THROW(counted.add(1.0f), std::logic_error);
  EXPECT_THROW(ExactMedian(true).endPass(), std::logic_error);
}

TEST(ExactMedianTest, FloatsInTwoPasses) {
  // Middle values in one bucket of the first pass (1000 and the next floats
  // share their top 16 bits), in two buckets, both negative.
  const float close[] = {1000.003f, -2.5f, 1000.0f, 3e38f, 1000.001f, 1e-30f, -0.0f, 1000.002f};
  const float apart[] = {2.0f, 1.0f};
  const float negative[] = {-3.25f, -1.0f, -7.0f};
  const struct {
    const float* values;
    std::size_t count;
    double median;
  } cases[] = {{close, 8, (1000.0 + static_cast<double>(1000.001f)) / 2.0},
               {apart, 2, 1.5},
               {negative, 3, -3.25}};
  for (const auto& c : cases) {
    ExactMedian median(false);
    median.add(c.values, c.count);
    ASSERT_FALSE(median.endPass());
    EXPECT_LE(median.lowerBound(), c.median);
    EXPECT_GE(median.upperBound(), c.median);
    // The second pass sees the values in another order.
    for (std::size_t i = c.count; i-- > 0;) median.add(c.values[i]);
    ASSERT_TRUE(median.endPass());
    EXPECT_EQ(median.median(), c.median);
    EXPECT_EQ(median.lowerBound() + median.upperBound(), 2 * c.median);
  }
  // The first pass bounds the median to its bucket: 1000 up to 1004 (2^16
  // steps of 2^-14).
  ExactMedian median(false);
  median.add(close, 8);
  median.endPass();
  EXPECT_EQ(median.lowerBound(), 1000.0);
  EXPECT_EQ(median.upperBound(), 1004.0 - 0x1p-14);
  median.add(close, 7);
  EXPECT_THROW(median.endPass(), std::logic_error);

  // Passes counted in two copies and merged: the same median.
  ExactMedian shared(false);
  for (int pass = 0; pass < 2; ++pass) {
    ExactMedian front = shared;
    ExactMedian back = shared;
    front.add(close, 3);
    back.add(close + 3, 5);
    shared.merge(front);
    shared.merge(back);
    EXPECT_EQ(shared.endPass(), pass == 1);
  }
  EXPECT_EQ(shared.median(), cases[0].median);
  ExactMedian other(false);
  other.add(close, 8);
  other.endPass();
  EXPECT_THROW(other.merge(ExactMedian(false)), std::logic_error);
}

TEST(VoxelSeriesTermsTest, CountedAndSelectedQuartilesAgree) {
  // 3 1 2 5 4: quartiles 2 and 4; mean 3, x = 0 -2 -1 2 1, r0 = 10, r1 = 2.
  const float narrow[] = {3, 1, 2, 5, 4};
  for (const bool integral : {true, false}) {
    VoxelSeriesAnalyser analyser(integral);
    const VoxelSeriesTerms terms = analyser.analyse(narrow, 5);
    EXPECT_DOUBLE_EQ(terms.spread, 2.0 / 1.349 * 1000.0);
    EXPECT_DOUBLE_EQ(terms.factor, std::sqrt(2.0 * (1.0 - 0.2)));
    EXPECT_EQ(analyser.counted(), integral);
    if (integral) {
      EXPECT_EQ(analyser.lowest(), 1);
      EXPECT_EQ(analyser.counts(), (std::vector<std::uint32_t>{1, 1, 1, 1, 1}));
    }
  }
  // A range too wide to count: -30000 0 5 7 30000, quartiles 0 and 7.
  VoxelSeriesAnalyser analyser(true);
  const float wide[] = {30000, 0, -30000, 5, 7};
  EXPECT_DOUBLE_EQ(analyser.analyse(wide, 5).spread, 7.0 / 1.349 * 1000.0);
  EXPECT_FALSE(analyser.counted());
  // Equal quartiles: no spread, no factor, though the series moves.
  const float flat[] = {8, 8, 8, 9, 8};
  const VoxelSeriesTerms terms = analyser.analyse(flat, 5);
  EXPECT_EQ(terms.spread, 0.0);
  EXPECT_EQ(terms.factor, 0.0);
}

}  // namespace
}  // namespace tsl::testing
