#include "confound/combined_model.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

// A model of 5 data points whose values, names and colours tell its
// predictors apart, also from those of the other models.
SdmDocument model(const std::string& path, int predictors, float scale) {
  std::vector<std::vector<float>> columns;
  for (int p = 0; p < predictors; ++p) {
    std::vector<float> column;
    for (int i = 0; i < 5; ++i)
      column.push_back(scale * static_cast<float>((p + 1) * (i - 2)) - 0.125f);
    columns.push_back(column);
  }
  SdmDocument doc = test::sdmOf(columns, path);
  for (std::size_t p = 0; p < columns.size(); ++p) {
    doc.names[p] = path.substr(0, 4).append(std::to_string(p));
    doc.green[p] = static_cast<int>(scale);
    doc.blue[p] = 7 - static_cast<int>(p);
  }
  return doc;
}

std::vector<std::string> linesOf(const SdmDocument& doc) {
  std::ostringstream out;
  doc.write(out);
  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The written file of the combined model is the files of its parts joined
// line by line: colours, names and every data row.
TEST(CombinedModel, ModelsSideBySideInTheirOrder) {
  SdmDocument detrended = model("detr.sdm", 3, 1.5f);
  detrended.FileVersion.value = 3;
  detrended.FileVersion.width = 30;
  detrended.IncludesConstant.value = true;
  detrended.FirstConfoundPredictor.value = 4;
  const SdmDocument derivative = model("driv.sdm", 2, -0.75f);
  SdmDocument spikes = model("spik.sdm", 1, 4.0f);
  spikes.FileVersion.value = 1;

  const SdmDocument combined = combineModels({detrended, derivative, spikes});
  EXPECT_EQ(combined.path, "detr.sdm");
  EXPECT_EQ(combined.FileVersion.value, 3);
  EXPECT_EQ(combined.FileVersion.width, 30);
  EXPECT_EQ(combined.NrOfPredictors.value, 6);
  EXPECT_EQ(combined.NrOfDataPoints.value, 5);
  EXPECT_FALSE(combined.IncludesConstant.value);
  EXPECT_EQ(combined.FirstConfoundPredictor.value, 1);

  const auto a = linesOf(detrended), b = linesOf(derivative), c = linesOf(spikes);
  const auto all = linesOf(combined);
  constexpr std::size_t kColourLine = 7;  // after the header and its blank lines
  ASSERT_EQ(all.size(), kColourLine + 2 + 5);
  auto trim = [](std::string s) { return s.substr(0, s.size() - 1); };  // the CR
  EXPECT_EQ(trim(all[kColourLine]),
            trim(a[kColourLine]) + "   " + trim(b[kColourLine]) + "   " + trim(c[kColourLine]));
  for (std::size_t line = kColourLine + 1; line < all.size(); ++line) {
    EXPECT_EQ(trim(all[line]), trim(a[line]) + " " + trim(b[line]) + " " + trim(c[line]));
  }
}

TEST(CombinedModel, RefusesModelsThatDoNotFit) {
  SdmDocument shorter = model("spik.sdm", 1, 4.0f);
  shorter.NrOfDataPoints.value = 4;
  shorter.columns[0].pop_back();
  EXPECT_THROW_MSG(combineModels({model("detr.sdm", 2, 1.0f), shorter}), std::invalid_argument,
                   "SDM file spik.sdm: NrOfDataPoints is 4, the models it is combined with have 5");
  EXPECT_THROW_MSG(combineModels({}), std::invalid_argument, "No models to combine");
}

}  // namespace
}  // namespace tsl::testing
