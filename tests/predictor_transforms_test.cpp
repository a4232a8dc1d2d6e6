#include "confound/predictor_transforms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

using Column = std::vector<float>;

using test::sdmOf;

TEST(PredictorTransforms, Detrend) {
  SdmDocument doc = sdmOf({{0, 1, 2, 3}, {1, 4, 9, 16}, {7, 7, 7, 7}});
  detrendPredictors(doc);
  for (float v : doc.columns[0]) EXPECT_NEAR(v, 0.0f, 1e-6f);
  // Slope 5, intercept 0: residuals 1, -1, -1, 1 exactly.
  EXPECT_EQ(doc.columns[1], (Column{1, -1, -1, 1}));
  EXPECT_EQ(doc.columns[2], (Column{0, 0, 0, 0}));
  EXPECT_EQ(doc.names, (std::vector<std::string>{"P0 detrended", "P1 detrended", "P2 detrended"}));

  // One value: zero denominator, not-a-number by design.
  SdmDocument single = sdmOf({{3.5f}});
  detrendPredictor(single, 0);
  EXPECT_TRUE(std::isnan(single.columns[0][0]));
  EXPECT_EQ(single.names[0], "P0 detrended");

  // A long rising column stays a line after detrending: all near 0.
  Column ramp(1000);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = 0.25f * static_cast<float>(i) - 3.0f;
  SdmDocument rising = sdmOf({ramp});
  detrendPredictors(rising);
  for (float v : rising.columns[0]) EXPECT_NEAR(v, 0.0f, 2e-3f);
}

TEST(PredictorTransforms, Derivative) {
  SdmDocument doc = sdmOf({{1, 4, 9, 16}, {-1, 1, -1, 1}});
  differentiatePredictors(doc);
  EXPECT_EQ(doc.columns[0], (Column{0, 4, 6, 0}));
  EXPECT_EQ(doc.columns[1], (Column{0, 0, 0, 0}));
  EXPECT_EQ(doc.names[1], "P1 derivative");

  SdmDocument one = sdmOf({{5}});
  differentiatePredictors(one);
  EXPECT_EQ(one.columns[0], (Column{0}));
  SdmDocument two = sdmOf({{5, 9}});
  differentiatePredictors(two);
  EXPECT_EQ(two.columns[0], (Column{0, 0}));

  // Empty columns are left as they are; the name still tells the transform.
  SdmDocument empty = sdmOf({{}, {}});
  differentiatePredictors(empty);
  EXPECT_TRUE(empty.columns[0].empty());
  EXPECT_EQ(empty.names[1], "P1 derivative");
}

TEST(PredictorTransforms, DelayAndSquare) {
  SdmDocument doc = sdmOf({{5, 6, 7}});
  SdmDocument d1 = doc, d2 = doc, d3 = doc, dHuge = doc;
  delayPredictors(d1, 1);
  delayPredictors(d2, 2);
  delayPredictors(d3, 3);
  delayPredictor(dHuge, 0, 4000000000u);
  EXPECT_EQ(d1.columns[0], (Column{0, 5, 6}));
  EXPECT_EQ(d1.names[0], "P0 t-1");
  EXPECT_EQ(d2.columns[0], (Column{0, 0, 5}));
  EXPECT_EQ(d2.names[0], "P0 t-2");
  EXPECT_EQ(d3.columns[0], (Column{0, 0, 0}));
  EXPECT_EQ(dHuge.columns[0], (Column{0, 0, 0}));
  EXPECT_EQ(dHuge.names[0], "P0 t-4000000000");

  SdmDocument sq = sdmOf({{-2, 3}, {0, 0}});
  squarePredictors(sq);
  EXPECT_EQ(sq.columns[0], (Column{4, 9}));
  EXPECT_EQ(sq.columns[1], (Column{0, 0}));
  EXPECT_EQ(sq.names, (std::vector<std::string>{"P0 squared", "P1 squared"}));
}

TEST(PredictorTransforms, Standardize) {
  const float atLimit = 0x1.289502p-13f;  // {0, atLimit} has sd == 0.0001f exactly
  const float belowLimit = std::nextafter(atLimit, 0.0f);
  ASSERT_EQ(meanAndStdDev({0.0f, atLimit}).second, kMinimumSpread);
  ASSERT_LT(meanAndStdDev({0.0f, belowLimit}).second, kMinimumSpread);

  SdmDocument doc = sdmOf({{2, 4, 6}, {5, 5, 5}});
  standardizePredictors(doc);
  EXPECT_EQ(doc.columns[0], (Column{-1, 0, 1}));
  EXPECT_EQ(doc.columns[1], (Column{0, 0, 0}));
  EXPECT_EQ(doc.names[0], "P0");

  // The test is strict: an sd equal to the limit divides, one below only
  // centres.
  SdmDocument edge = sdmOf({{0.0f, atLimit}, {0.0f, belowLimit}});
  standardizePredictors(edge);
  const float mean = atLimit / 2.0f;
  EXPECT_EQ(edge.columns[0][0], (0.0f - mean) / kMinimumSpread);
  EXPECT_NEAR(edge.columns[0][1], 0.70710678f, 1e-6f);
  EXPECT_EQ(edge.columns[1], (Column{-belowLimit / 2.0f, belowLimit / 2.0f}));

  SdmDocument single = sdmOf({{3}});
  standardizePredictors(single);
  EXPECT_TRUE(std::isnan(single.columns[0][0]));

  const auto [m, sd] = meanAndStdDev({1, 2, 3, 4});
  EXPECT_EQ(m, 2.5f);
  EXPECT_EQ(sd, std::sqrt(5.0f / 3.0f));
}

TEST(PredictorTransforms, NamesChainAndTheRestStays) {
  SdmDocument d = sdmOf({{1, 2, 4, 8}, {0, 1, 0, 1}});
  d.names[0] = "Translation X";
  d.path = "a/run1_3DMC.sdm";
  d.FirstConfoundPredictor.value = 7;
  detrendPredictors(d);
  SdmDocument deriv = d, sq = d, t1 = d, t2 = d;
  differentiatePredictors(deriv);
  squarePredictors(sq);
  delayPredictors(t1, 1);
  delayPredictors(t2, 2);
  SdmDocument t1sq = t1, t2sq = t2;
  squarePredictors(t1sq);
  squarePredictors(t2sq);
  for (SdmDocument* doc : {&d, &deriv, &sq, &t1, &t2, &t1sq, &t2sq}) standardizePredictors(*doc);

  EXPECT_EQ(d.names[0], "Translation X detrended");
  EXPECT_EQ(deriv.names[0], "Translation X detrended derivative");
  EXPECT_EQ(sq.names[0], "Translation X detrended squared");
  EXPECT_EQ(t1.names[0], "Translation X detrended t-1");
  EXPECT_EQ(t2.names[0], "Translation X detrended t-2");
  EXPECT_EQ(t1sq.names[0], "Translation X detrended t-1 squared");
  EXPECT_EQ(t2sq.names[0], "Translation X detrended t-2 squared");
  EXPECT_EQ(t2sq.names[1], "P1 detrended t-2 squared");

  for (const SdmDocument* doc : {&d, &deriv, &sq, &t1, &t2, &t1sq, &t2sq}) {
    EXPECT_EQ(doc->red, (std::vector<int>{0, 1}));
    EXPECT_EQ(doc->green, (std::vector<int>{0, 2}));
    EXPECT_EQ(doc->blue, (std::vector<int>{0, 3}));
    EXPECT_EQ(doc->NrOfPredictors.value, 2);
    EXPECT_EQ(doc->NrOfDataPoints.value, 4);
    EXPECT_EQ(doc->FirstConfoundPredictor.value, 7);
    EXPECT_EQ(doc->path, "a/run1_3DMC.sdm");
    EXPECT_EQ(doc->columns[0].size(), 4u);
  }
}

TEST(PredictorTransforms, NumberTexts) {
  EXPECT_EQ(unsignedText(0), "0");
  EXPECT_EQ(unsignedText(4294967295u), "4294967295");
  EXPECT_EQ(signedText(57), "57");
  EXPECT_EQ(signedText(-57), "-57");
  EXPECT_EQ(signedText(-2147483647 - 1), "-2147483648");
}

}  // namespace
}  // namespace tsl::testing
