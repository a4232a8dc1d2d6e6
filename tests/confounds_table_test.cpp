// The confounds table and its sidecar against values numpy printed in float64
// from the same float parameters (np.deg2rad, np.diff, squares; see the
// comments), and the layout other tools read.
#include "confound/confounds_table.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "confound/qc_measures.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

using test::split;

SdmDocument threeVolumes() {
  return test::motionSdmOf({{0.1f, -0.2f, 0.3f, 1.5f, -0.5f, 0.25f},
                            {0.4f, -0.1f, 0.2f, 1.0f, 0.5f, -0.75f},
                            {0.35f, 0.05f, 0.0f, 2.0f, 0.0f, 0.5f}},
                           "s/run1_3DMC.sdm");
}

TEST(ConfoundsTable, ColumnsValuesAndMissingCells) {
  const SdmDocument motion = threeVolumes();
  ConfoundSeries s;
  s.motion = &motion;
  s.framewiseDisplacement = framewiseDisplacement(motion);
  s.relativeRms = {0.0f, 0.7f, 1.25f};
  s.nonSteady = 1;
  s.flagged = {2};
  std::ostringstream out;
  writeConfoundsTable(out, s);
  const std::vector<std::string> lines = split(out.str(), '\n');
  ASSERT_EQ(lines.size(), 4u);
  const std::vector<std::string> header = split(lines[0], '\t');
  ASSERT_EQ(header.size(), 24u + 4u + 2u);
  EXPECT_EQ(header[0], "trans_x");
  EXPECT_EQ(header[1], "trans_x_derivative1");
  EXPECT_EQ(header[2], "trans_x_power2");
  EXPECT_EQ(header[3], "trans_x_derivative1_power2");
  EXPECT_EQ(header[12], "rot_x");
  EXPECT_EQ(header[23], "rot_z_derivative1_power2");
  EXPECT_EQ(
      std::vector<std::string>(header.begin() + 24, header.end()),
      (std::vector<std::string>{"framewise_displacement", "relative_rms", "dvars", "std_dvars",
                                "non_steady_state_outlier00", "motion_outlier00"}));
  std::vector<std::vector<std::string>> rows;
  for (std::size_t t = 1; t < 4; ++t) rows.push_back(split(lines[t], '\t'));
  for (const auto& row : rows) ASSERT_EQ(row.size(), header.size());
  // rot_x in radians and its expansions.
  EXPECT_EQ(rows[0][12], "0.026179938779914945");
  EXPECT_EQ(rows[1][12], "0.017453292519943295");
  EXPECT_EQ(rows[1][13], "-0.00872664625997165");
  EXPECT_EQ(rows[2][15], "0.00030461741978670857");
  EXPECT_EQ(rows[1][15], "7.615435494667718e-05");
  EXPECT_EQ(rows[0][6], "0.040000001192092904");  // trans_y squared
  EXPECT_EQ(rows[1][24], "2.6816615798940733");
  EXPECT_EQ(rows[2][24], "2.7998277386285384");  // np.sum(np.abs(diff), axis=1), rotations x 50
  EXPECT_EQ(rows[2][25], "1.25");                // the float as it is
  // Row 0 has no change; DVARS were not computed.
  for (const std::size_t c : {1u, 3u, 13u, 23u, 24u, 25u, 26u, 27u}) EXPECT_EQ(rows[0][c], "n/a");
  EXPECT_EQ(rows[2][26], "n/a");
  EXPECT_EQ(rows[0][28] + rows[1][28] + rows[2][28], "100");
  EXPECT_EQ(rows[0][29] + rows[1][29] + rows[2][29], "001");

  s.dvars = {0.0, 12.5, 30.25};
  s.stdDvars = {0.0, 0.75, 1.8};
  std::ostringstream withDvars;
  writeConfoundsTable(withDvars, s);
  EXPECT_EQ(split(split(withDvars.str(), '\n')[3], '\t')[26], "30.25");
  EXPECT_EQ(split(split(withDvars.str(), '\n')[3], '\t')[27], "1.8");

  s.flagged = {3};
  EXPECT_THROW_MSG(writeConfoundsTable(out, s), std::invalid_argument,
                   "Confounds table: flagged volume 3 outside the run");
}

TEST(ConfoundsTable, SidecarDescribesEveryColumnAndTheCensoring) {
  const SdmDocument motion = threeVolumes();
  ConfoundSeries s;
  s.motion = &motion;
  s.framewiseDisplacement = framewiseDisplacement(motion);
  s.relativeRms = {0.0f, 0.7f, 1.25f};
  s.flagged = {1, 2};
  ConfoundsProvenance p;
  p.version = "1.2";
  p.motionFile = "C:\\data\\s01\\run1_3DMC.sdm";
  p.rule = "framewise displacement above 0.5 mm or std DVARS above 1.5";
  p.spikeMeasure = 2;
  p.fdThreshold = 0.5;
  p.dvarsThreshold = 1.5;
  std::ostringstream out;
  writeConfoundsSidecar(out, s, p);
  const std::string json = out.str();
  for (const std::string& name : confoundColumnNames(s)) {
    EXPECT_NE(json.find("\"" + name + "\": {\"Description\": "), std::string::npos) << name;
  }
  EXPECT_NE(json.find("\"rot_y\": {\"Description\": \"Rotation about y as estimated by the motion "
                      "correction\", \"Units\": \"rad\"}"),
            std::string::npos);
  EXPECT_NE(json.find("\"MotionFile\": \"C:\\\\data\\\\s01\\\\run1_3DMC.sdm\", \"DataFile\": null"),
            std::string::npos);
  EXPECT_NE(json.find("\"FdThreshold\": 0.5, \"DvarsThreshold\": 1.5"), std::string::npos);
  EXPECT_NE(json.find("\"NonSteadyStateFound\": \"as set\", \"CensoredVolumes\": 2}"),
            std::string::npos);
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(json.substr(json.size() - 2), "}\n");

  // Two digits or more.
  s.flagged.clear();
  for (std::size_t k = 0; k < 3; ++k) s.flagged.push_back(k);
  s.nonSteady = 0;
  EXPECT_EQ(confoundColumnNames(s).back(), "motion_outlier02");
}

}  // namespace
}  // namespace tsl::testing
