// The simulator's parts that other tests rely on: parameter conversion, the
// run's header record, map layout and the NIfTI-1 image, the transcript's
// JSON, the SVG plots, the command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>

#include "hostsim/file_output.h"
#include "hostsim/maps.h"
#include "hostsim/options.h"
#include "hostsim/parameters.h"
#include "hostsim/plots.h"
#include "hostsim/run_header.h"
#include "hostsim/transcript.h"
#include "tests/support/json_lines.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::hostsim {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

template <typename T>
T readAt(const std::string& bytes, std::size_t offset) {
  T value{};
  EXPECT_LE(offset + sizeof(T), bytes.size());
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

template <typename T>
T readAt(const char* bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes + offset, sizeof(T));
  return value;
}

TEST(HostsimParameters, ValuesAreTextConvertedByTheReader) {
  EXPECT_EQ(textToInt("1"), 1);
  EXPECT_EQ(textToInt("0"), 0);
  EXPECT_EQ(textToInt("-3"), -3);
  EXPECT_EQ(textToInt("+4"), 4);
  EXPECT_EQ(textToInt("  7"), 7);
  EXPECT_EQ(textToInt("0.5"), 0);
  EXPECT_EQ(textToInt("12abc"), 12);
  EXPECT_EQ(textToInt(""), 0);
  EXPECT_EQ(textToInt("abc"), 0);
  EXPECT_EQ(textToInt("-"), 0);
  EXPECT_EQ(textToInt("+-1"), 0);
  EXPECT_EQ(textToInt("99999999999"), 0);  // does not fit an int

  EXPECT_EQ(textToFloat("0.5"), 0.5f);
  EXPECT_EQ(textToFloat("1"), 1.0f);
  EXPECT_EQ(textToFloat("-2.25"), -2.25f);
  EXPECT_EQ(textToFloat("+0.75"), 0.75f);
  EXPECT_EQ(textToFloat("1e3"), 1000.0f);
  EXPECT_EQ(textToFloat("0.1"), 0.1f);  // rounded once, to the nearest float
  EXPECT_EQ(textToFloat("3.5mm"), 3.5f);
  EXPECT_EQ(textToFloat(""), 0.0f);
  EXPECT_EQ(textToFloat("x1"), 0.0f);
  EXPECT_EQ(textToFloat("1e999"), 0.0f);  // out of float range
  EXPECT_EQ(textToFloat("0,5"), 0.0f);    // never the user's locale: the comma ends the number

  Parameters p;
  EXPECT_EQ(p.text("task"), "");
  EXPECT_EQ(p.integer("map_max_abs"), 0);
  EXPECT_EQ(p.real("fmr_threshold"), 0.0f);
  p.set("fmr_threshold", "100.5");
  p.set("task", "confound");
  EXPECT_EQ(p.real("fmr_threshold"), 100.5f);
  EXPECT_EQ(p.integer("fmr_threshold"), 100);
  EXPECT_EQ(p.text("task"), "confound");
  EXPECT_EQ(p.integer("task"), 0);
  p.set("task", "");
  EXPECT_EQ(p.text("task"), "");
}

// A header file as the host writes it, with CRLF line ends, a position block
// whose SliceThickness is not the run's, and a key the simulator ignores.
std::string headerText() {
  return "\r\nFileVersion:          7\r\n"
         "NrOfVolumes:          120\r\n"
         "NrOfSlices:           25\r\n"
         "Prefix:               \"run1\"\r\n"
         "ResolutionX:          64\r\n"
         "ResolutionY:          62\r\n"
         "InplaneResolutionX:   3.5\r\n"
         "InplaneResolutionY:   3.25\r\n"
         "SliceThickness:       3\r\n"
         "SliceGap:             0.5\r\n"
         "PositionInformationFromImageHeaders\r\n"
         "NRows:                64\r\n"
         "SliceThickness:       9\r\n"
         "GapThickness:         1\r\n"
         "NrOfPastSpatialTransformations: 0\r\n";
}

TEST(HostsimRunHeader, KeysOfTheHeaderFileFillTheRecord) {
  const RunHeader header = runHeaderFromText("C:\\data\\run1.fmr", headerText());
  EXPECT_EQ(header.path, "C:\\data\\run1.fmr");
  EXPECT_EQ(header.volumes, 120);
  EXPECT_THAT(header.dims, ElementsAre(64, 62, 25));
  EXPECT_THAT(header.voxelSize, ElementsAre(3.5f, 3.25f, 3.5f));

  const HeaderRecord record = buildHeaderRecord(header);
  ASSERT_EQ(record.size(), 1168u);
  EXPECT_STREQ(record.data(), "C:\\data\\run1.fmr");
  EXPECT_EQ(readAt<int>(record.data(), 304), 120);
  EXPECT_EQ(readAt<int>(record.data(), 308), 64);
  EXPECT_EQ(readAt<int>(record.data(), 312), 62);
  EXPECT_EQ(readAt<int>(record.data(), 316), 25);
  EXPECT_EQ(readAt<float>(record.data(), 320), 3.5f);
  EXPECT_EQ(readAt<float>(record.data(), 324), 3.25f);
  EXPECT_EQ(readAt<float>(record.data(), 328), 3.5f);
  // Nothing else is written.
  for (std::size_t i = 332; i < record.size(); ++i) ASSERT_EQ(record[i], '\0') << i;
  for (std::size_t i = header.path.size(); i < 304; ++i) ASSERT_EQ(record[i], '\0') << i;
}

TEST(HostsimRunHeader, DamagedHeaderTextsLeaveZeros) {
  const std::string valid = headerText();
  // A key removed: its field stays 0, the others are read.
  std::string noSlices = valid;
  noSlices.replace(noSlices.find("NrOfSlices:"), 11, "NrOfSlicez:");
  EXPECT_THAT(runHeaderFromText("a", noSlices).dims, ElementsAre(64, 62, 0));
  // A value that is not a number.
  std::string badVolumes = valid;
  badVolumes.replace(badVolumes.find("120"), 3, "x20");
  EXPECT_EQ(runHeaderFromText("a", badVolumes).volumes, 0);
  // Every truncation is read without failing; a key at the very end has no value.
  for (std::size_t n = 0; n <= valid.size(); ++n) {
    const RunHeader header = runHeaderFromText("a", valid.substr(0, n));
    EXPECT_LE(header.volumes, 120);
  }
  const RunHeader cut = runHeaderFromText("a", "NrOfVolumes:");
  EXPECT_EQ(cut.volumes, 0);
  // An unterminated position block hides everything after it.
  const RunHeader open =
      runHeaderFromText("a", "PositionInformationFromImageHeaders\nNrOfVolumes: 5\n");
  EXPECT_EQ(open.volumes, 0);
  EXPECT_EQ(runHeaderFromText("a", "").voxelSize[2], 0.0f);
}

TEST(HostsimRunHeader, LongPathIsCutToTheRecord) {
  RunHeader header;
  header.path = std::string(400, 'p');
  const HeaderRecord record = buildHeaderRecord(header);
  EXPECT_EQ(std::strlen(record.data()), 303u);
  EXPECT_EQ(record[303], '\0');
  header.path = std::string(303, 'q');
  EXPECT_EQ(std::strlen(buildHeaderRecord(header).data()), 303u);
}

TEST(HostsimMaps, SlicesAndMapRecord) {
  MapStore store;
  EXPECT_EQ(store.last(), nullptr);
  ASSERT_TRUE(store.create({3, 2, 4}));
  Map& map = *store.last();
  ASSERT_EQ(map.values.size(), 24u);
  ASSERT_EQ(map.slices.size(), 5u);  // one per slice, then null
  EXPECT_EQ(map.slices[4], nullptr);
  for (float v : map.values) ASSERT_EQ(v, 0.0f);
  for (int z = 0; z < 4; ++z) EXPECT_EQ(map.slices[z], map.values.data() + 6 * z);

  char record[64];
  std::memset(record, 0x5a, sizeof record);
  fillMapRecord(map, record);
  EXPECT_EQ(readAt<int>(record, 0), 3);
  EXPECT_EQ(readAt<int>(record, 4), 2);
  EXPECT_EQ(readAt<int>(record, 8), 4);
  for (std::size_t i = 12; i < 64; ++i) EXPECT_EQ(record[i], 0x5a) << i;

  const int type = 1;
  const float lower = 0.01f, upper = 7.5f;
  const std::int32_t cluster = 0;
  std::memcpy(record + 12, &type, 4);
  std::memcpy(record + 16, &lower, 4);
  std::memcpy(record + 20, &upper, 4);
  std::memcpy(record + 28, &cluster, 4);
  applyMapRecord(record, map);
  EXPECT_EQ(map.type, 1);
  EXPECT_EQ(map.lower, 0.01f);
  EXPECT_EQ(map.upper, 7.5f);
  EXPECT_EQ(map.clusterSize, 0);

  // Grids with a dim <= 0 have no values but still a slice array.
  ASSERT_TRUE(store.create({0, 2, 3}));
  EXPECT_TRUE(store.last()->values.empty());
  EXPECT_EQ(store.last()->slices.size(), 4u);
  ASSERT_TRUE(store.create({4, 4, -1}));
  EXPECT_EQ(store.last()->slices.size(), 1u);
  // A grid too large for the machine is refused and nothing is added.
  EXPECT_FALSE(store.create({100000, 100000, 100}));
  EXPECT_EQ(store.all().size(), 3u);
}

TEST(HostsimMaps, NiftiImageHoldsEveryMapInOrder) {
  MapStore store;
  ASSERT_TRUE(store.create({3, 2, 2}));
  ASSERT_TRUE(store.create({3, 2, 2}));
  for (std::size_t m = 0; m < 2; ++m) {
    Map& map = *store.all()[m];
    for (int z = 0; z < 2; ++z) {
      for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
          map.slices[z][y * 3 + x] = static_cast<float>(1000 * m + 100 * z + 10 * y + x);
        }
      }
    }
    map.lower = 0.5f * static_cast<float>(m + 1);
    map.upper = 10.0f * static_cast<float>(m + 1);
  }
  const std::string nii = niftiImage(store.all(), {2.0f, 2.5f, 3.5f});
  ASSERT_EQ(nii.size(), 352u + 4u * 24u);
  EXPECT_EQ(readAt<std::int32_t>(nii, 0), 348);
  const std::int16_t dims[8] = {4, 3, 2, 2, 2, 1, 1, 1};
  for (std::size_t i = 0; i < 8; ++i)
    EXPECT_EQ(readAt<std::int16_t>(nii, 40 + 2 * i), dims[i]) << i;
  EXPECT_EQ(readAt<std::int16_t>(nii, 70), 16);  // float32
  EXPECT_EQ(readAt<std::int16_t>(nii, 72), 32);
  EXPECT_EQ(readAt<float>(nii, 76), 1.0f);
  EXPECT_EQ(readAt<float>(nii, 80), 2.0f);
  EXPECT_EQ(readAt<float>(nii, 84), 2.5f);
  EXPECT_EQ(readAt<float>(nii, 88), 3.5f);
  EXPECT_EQ(readAt<float>(nii, 108), 352.0f);
  EXPECT_EQ(readAt<float>(nii, 112), 1.0f);   // scl_slope
  EXPECT_EQ(readAt<float>(nii, 124), 20.0f);  // cal_max: upper of the last map
  EXPECT_EQ(readAt<float>(nii, 128), 1.0f);   // cal_min: lower of the last map
  EXPECT_EQ(nii[123], 2);                     // millimetres
  EXPECT_EQ(nii.substr(344, 4), std::string("n+1\0", 4));
  EXPECT_EQ(readAt<std::int32_t>(nii, 348), 0);  // no extension
  for (std::size_t m = 0; m < 2; ++m) {
    for (int z = 0; z < 2; ++z) {
      for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
          const std::size_t element = ((m * 2 + z) * 2 + y) * 3 + x;
          EXPECT_EQ(readAt<float>(nii, 352 + 4 * element),
                    static_cast<float>(1000 * m + 100 * z + 10 * y + x))
              << m << " " << z << " " << y << " " << x;
        }
      }
    }
  }
  // Little-endian whatever the machine: the first header bytes.
  EXPECT_EQ(nii.substr(0, 4), std::string("\x5c\x01\x00\x00", 4));
}

TEST(HostsimMaps, ImagesThatNiftiCannotHoldAreRefused) {
  const std::array<float, 3> voxel{1.0f, 1.0f, 1.0f};
  MapStore none;
  EXPECT_THROW(niftiImage(none.all(), voxel), std::invalid_argument);
  MapStore mixed;
  ASSERT_TRUE(mixed.create({2, 2, 2}));
  ASSERT_TRUE(mixed.create({2, 2, 3}));
  EXPECT_THROW(niftiImage(mixed.all(), voxel), std::invalid_argument);
  MapStore empty;
  ASSERT_TRUE(empty.create({0, 0, 0}));
  EXPECT_THROW(niftiImage(empty.all(), voxel), std::invalid_argument);
  MapStore wide;
  ASSERT_TRUE(wide.create({40000, 1, 1}));
  EXPECT_THROW(niftiImage(wide.all(), voxel), std::invalid_argument);
  MapStore one;
  ASSERT_TRUE(one.create({1, 1, 1}));
  EXPECT_EQ(niftiImage(one.all(), voxel).size(), 356u);
}

TEST(HostsimFileOutput, CompleteOrAbsent) {
  testing::TempDir dir;
  const std::string target = dir.file("maps.nii");
  EXPECT_EQ(writeFileAtomically(target, "first"), "");
  EXPECT_EQ(testing::readFile(target), "first");
  EXPECT_EQ(writeFileAtomically(target, "second"), "");
  EXPECT_EQ(testing::readFile(target), "second");
  EXPECT_FALSE(std::filesystem::exists(target + ".part"));
  const std::string problem = writeFileAtomically(dir.file("absent/maps.nii"), "x");
  EXPECT_THAT(problem, HasSubstr("cannot create"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("absent")));
}

TEST(HostsimTranscript, TextsAndNumbersAsJson) {
  EXPECT_EQ(jsonString("plain"), "\"plain\"");
  EXPECT_EQ(jsonString("say \"hi\""), "\"say \\\"hi\\\"\"");
  EXPECT_EQ(jsonString("C:\\data\\run1.sdm"), "\"C:\\\\data\\\\run1.sdm\"");
  EXPECT_EQ(jsonString("\nTessel>  Running...\r\t"), "\"\\nTessel>  Running...\\r\\t\"");
  EXPECT_EQ(jsonString(std::string("a\x01"
                                   "b\x1f"
                                   "c\0d",
                                   7)),
            "\"a\\u0001b\\u001fc\\u0000d\"");
  EXPECT_EQ(jsonString("\xc3\xa9t\xe9"), "\"\xc3\xa9t\xe9\"");  // bytes >= 0x80 as they are
  EXPECT_EQ(jsonText(nullptr), "null");

  EXPECT_EQ(jsonFloat(1.0f), "1");
  EXPECT_EQ(jsonFloat(0.1f), "0.100000001");
  EXPECT_EQ(jsonFloat(-2.5f), "-2.5");
  EXPECT_EQ(jsonFloat(1e-10f), "1.00000001e-10");
  EXPECT_EQ(jsonFloat(16777217.0f), "16777216");
  EXPECT_EQ(jsonFloat(3.0e38f), "3.00000001e+38");
  EXPECT_EQ(jsonFloat(std::numeric_limits<float>::quiet_NaN()), "\"nan\"");
  EXPECT_EQ(jsonFloat(std::numeric_limits<float>::infinity()), "\"inf\"");
  EXPECT_EQ(jsonFloat(-std::numeric_limits<float>::infinity()), "\"-inf\"");

  const float xs[] = {1.0f, 2.0f, 0.5f};
  const std::string line = transcriptLine(
      "zrPlotLine",
      JsonArray().integer(3).reals(xs, 3).reals(nullptr, 3).text("a\"b").text(nullptr), "1");
  EXPECT_EQ(line,
            "{\"call\":\"zrPlotLine\",\"args\":[3,[1,2,0.5],null,\"a\\\"b\",null],\"result\":1}");
  EXPECT_EQ(transcriptLine("zrShowLogTab", JsonArray()), "{\"call\":\"zrShowLogTab\",\"args\":[]}");
  EXPECT_EQ(JsonArray().reals(xs, 0).reals(xs, -4).json(), "[[],[]]");
  EXPECT_EQ(JsonObject().member("type", "1").member("lower", jsonFloat(0.01f)).json(),
            "{\"type\":1,\"lower\":0.00999999978}");

  // What the tests' reader makes of it: the texts and numbers written.
  const std::string awkward = std::string("q\"\\\n\r\t\x02\xe9 end");
  const testing::JsonValue parsed = testing::parseJson(transcriptLine(
      "zrLogText", JsonArray().text(awkward).real(0.1f).real(std::nanf("")).integer(-7)));
  EXPECT_EQ(parsed.at("call").text(), "zrLogText");
  EXPECT_EQ(parsed.at("args")[0].text(), awkward);
  EXPECT_EQ(parsed.at("args")[1].asFloat(), 0.1f);
  EXPECT_TRUE(std::isnan(parsed.at("args")[2].asNumber()));
  EXPECT_EQ(parsed.at("args")[3].asInt(), -7);
}

TEST(HostsimTranscript, ReaderRejectsBrokenLines) {
  for (const char* broken : {"", "{", "{\"call\":}", "[1,]", "\"open", "{\"a\":1}x", "nul",
                             "\"tab\there\"", "[1 2]", "{\"a\" 1}", "\"\\x\"", "\"\\u12\""}) {
    EXPECT_THROW(testing::parseJson(broken), std::runtime_error) << broken;
  }
  EXPECT_EQ(testing::parseJson(" [ true , false , null , -1.5e2 ] ").dump(),
            "[true,false,null,-150]");
  EXPECT_EQ(testing::parseJson("\"\\u00e9\\ud83d\\ude00\"").text(), "\xc3\xa9\xf0\x9f\x98\x80");
  EXPECT_THROW(testing::parseJson("[1]")[1], std::runtime_error);
  EXPECT_THROW(testing::parseJson("1.5").asInt(), std::runtime_error);
  EXPECT_THROW(testing::parseJson("{}").at("call"), std::runtime_error);
  EXPECT_THROW(testing::parseJson("\"x\"").asNumber(), std::runtime_error);
}

Plot samplePlot() {
  const float x[] = {1, 2, 3, 4};
  const float a[] = {0.5f, -0.25f, 0.75f, 0.0f};
  const float b[] = {-1.5f, std::numeric_limits<float>::quiet_NaN(), 1.0f, 2.0f};
  Plot plot;
  plot.curves.push_back(makeCurve(4, x, a, "Translation X <mm>"));
  plot.curves.push_back(makeCurve(4, x, b, "relative RMS displacement"));
  plot.curves[1].colourSet = true;
  plot.curves[1].red = plot.curves[1].green = plot.curves[1].blue = 250;
  plot.curves[1].lineSize = 2;
  plot.curves[1].style = 1;
  plot.title = "run1_3DMC.sdm & \"more\"";
  plot.width = 800;
  plot.height = 350;
  plot.yRangeSet = true;
  plot.yLower = -3.0f;
  plot.yUpper = 3.0f;
  return plot;
}

TEST(HostsimPlots, SvgShowsCurvesTitleLegendAndRange) {
  Plot plot = samplePlot();
  const std::string hidden = renderSvg(plot);
  EXPECT_THAT(hidden, Not(HasSubstr("class=\"legend\"")));
  plot.legendShown = true;
  plot.legendSetting1 = 1;
  plot.legendSetting2 = 3;
  const std::string svg = renderSvg(plot);
  EXPECT_THAT(svg, HasSubstr("width=\"800.00\" height=\"350.00\""));
  EXPECT_THAT(svg, HasSubstr(">run1_3DMC.sdm &amp; &quot;more&quot;</text>"));
  EXPECT_THAT(svg, HasSubstr(">Translation X &lt;mm&gt;</text>"));
  EXPECT_THAT(svg, HasSubstr(">relative RMS displacement</text>"));
  EXPECT_THAT(svg, HasSubstr("class=\"legend\""));
  EXPECT_THAT(svg, HasSubstr("stroke=\"rgb(250,250,250)\" stroke-width=\"2\" stroke-dasharray"));
  EXPECT_THAT(svg, HasSubstr(">-3</text>"));
  EXPECT_THAT(svg, HasSubstr(">3</text>"));
  EXPECT_THAT(svg, HasSubstr("legend 1 3"));
  EXPECT_THAT(svg, Not(HasSubstr("<mm>")));
  // Theme 1 is dark, so the near-white curve shows; others are white.
  EXPECT_THAT(svg, HasSubstr("<rect width=\"100%\" height=\"100%\" fill=\"white\"/>"));
  plot.colourTheme = 1;
  EXPECT_THAT(renderSvg(plot),
              HasSubstr("<rect width=\"100%\" height=\"100%\" fill=\"rgb(32,32,36)\"/>"));
  EXPECT_THAT(renderSvg(plot), HasSubstr("fill=\"rgb(230,230,230)\">run1_3DMC.sdm"));
  // The NaN breaks the second curve in two; the first is one polyline.
  std::size_t polylines = 0;
  for (std::size_t at = svg.find("<polyline"); at != std::string::npos;
       at = svg.find("<polyline", at + 1)) {
    ++polylines;
  }
  EXPECT_EQ(polylines, 3u);
  // The x range is the data's: x = 1 at the frame's left edge (70), 4 at its right (780).
  EXPECT_THAT(svg, HasSubstr("points=\"70.00,"));
  EXPECT_THAT(svg, HasSubstr(" 780.00,"));
  EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);

  EXPECT_EQ(xmlEscape("a<b>&'\"\x01"), "a&lt;b&gt;&amp;&apos;&quot;?");
  Plot empty;
  EXPECT_THAT(renderSvg(empty), HasSubstr("width=\"640.00\" height=\"480.00\""));
  EXPECT_TRUE(makeCurve(-1, nullptr, nullptr, nullptr).x.empty());
}

TEST(HostsimOptions, FullCommandLine) {
  const Options o = parseOptions({"--plugin",
                                  "p.so",
                                  "--fmr",
                                  "run.fmr",
                                  "--document-type",
                                  "2",
                                  "--version",
                                  "2.10.0",
                                  "--param",
                                  "fmr_threshold=100",
                                  "--param",
                                  "sdmfile=a=b.sdm",
                                  "--param",
                                  "empty=",
                                  "--choose",
                                  "x.sdm",
                                  "--cancel",
                                  "--choose",
                                  "",
                                  "--task",
                                  "displacement",
                                  "--task",
                                  "",
                                  "--plots",
                                  "plots",
                                  "--transcript",
                                  "t.jsonl",
                                  "--dims",
                                  "64,64,-1",
                                  "--voxel-size",
                                  "3.5,3.5,4",
                                  "--volumes",
                                  "0",
                                  "--map-dims",
                                  "2,3,1",
                                  "--no-map-slices"});
  EXPECT_EQ(o.plugin, "p.so");
  EXPECT_EQ(o.fmr, "run.fmr");
  EXPECT_EQ(o.documentType, 2);
  EXPECT_THAT(o.version, ElementsAre(2, 10, 0));
  ASSERT_EQ(o.params.size(), 3u);
  EXPECT_EQ(o.params[1], (std::pair<std::string, std::string>("sdmfile", "a=b.sdm")));
  EXPECT_EQ(o.params[2].second, "");
  ASSERT_EQ(o.answers.size(), 3u);
  EXPECT_EQ(o.answers[0], "x.sdm");
  EXPECT_EQ(o.answers[1], std::nullopt);
  EXPECT_EQ(o.answers[2], "");
  EXPECT_THAT(o.tasks, ElementsAre("displacement", ""));
  EXPECT_EQ(o.plotsDir, "plots");
  EXPECT_EQ(o.transcript, "t.jsonl");
  EXPECT_THAT(*o.dims, ElementsAre(64, 64, -1));
  EXPECT_THAT(*o.voxelSize, ElementsAre(3.5f, 3.5f, 4.0f));
  EXPECT_EQ(o.volumes, 0);
  EXPECT_THAT(*o.mapDims, ElementsAre(2, 3, 1));
  EXPECT_TRUE(o.noMapSlices);

  const Options defaults = parseOptions({});
  EXPECT_THAT(defaults.version, ElementsAre(3, 6, 0));
  EXPECT_FALSE(defaults.plugin || defaults.fmr || defaults.documentType || defaults.dims);
  EXPECT_FALSE(defaults.noMapSlices);

  EXPECT_THROW_MSG(parseOptions({"--dims", "1,2"}), UsageError,
                   "--dims expects three numbers separated by ',', got \"1,2\"");
  EXPECT_THROW(parseOptions({"--version", "1.2.3", "--version", "1.2.3"}), UsageError);
  EXPECT_THROW(parseOptions({"--voxel-size", "1,2,3,"}), UsageError);
  EXPECT_THROW(parseOptions({"--map-dims", ",1,2"}), UsageError);
  EXPECT_THROW(parseOptions({"--plugin"}), UsageError);
}

}  // namespace
}  // namespace tsl::hostsim
