#include "designmatrix/sdm_document.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "designmatrix/io_error.h"
#include "examples/motion_file_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

// Header of a document with the given counts, in the writer's layout, LF ends.
std::string header(int predictors, int points) {
  return "FileVersion:            1\n\nNrOfPredictors:         " + std::to_string(predictors) +
         "\nNrOfDataPoints:         " + std::to_string(points) +
         "\nIncludesConstant:       0\nFirstConfoundPredictor: 1\n\n";
}

// Header, colours and names of a document with two predictors "A" and "B".
std::string twoPredictors(int points) {
  return header(2, points) + "255 0 0   0 0 255\n\"A\" \"B\"\n";
}

class SdmFiles : public ::testing::Test {
 protected:
  SdmDocument read(const std::string& text, const std::string& name = "doc.sdm") {
    const std::string file = dir.file(name);
    writeFile(file, text);
    return SdmDocument(file);
  }

  std::string prefix(const std::string& name = "doc.sdm") {
    return "SDM file " + dir.file(name) + ": ";
  }

  TempDir dir;
};

std::string written(const SdmDocument& document) {
  std::ostringstream out;
  document.write(out);
  return out.str();
}

// The float that the six-decimal text of value denotes.
float toSixDecimals(float value) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6).ptr;
  float parsed = 0.0f;
  std::from_chars(text, end, parsed);
  return parsed;
}

TEST_F(SdmFiles, WritesTheFileFormatWithCrlfLineEnds) {
  SdmDocument document;
  document.NrOfDataPoints.value = 2;
  document.FirstConfoundPredictor.value = 1;
  document.addPredictor({0.5f, -1.0f}, "A", 255, 0, 0);
  document.addPredictor({-0.25f, 0.0f}, "B", 0, 0, 255);
  EXPECT_EQ(written(document),
            "FileVersion:            1\r\n\r\n"
            "NrOfPredictors:         2\r\n"
            "NrOfDataPoints:         2\r\n"
            "IncludesConstant:       0\r\n"
            "FirstConfoundPredictor: 1\r\n\r\n"
            "255 0 0   0 0 255\r\n"
            "\"A\" \"B\"\r\n"
            "  0.500000  -0.250000\r\n"
            " -1.000000   0.000000\r\n");

  // The extra blank follows the comparison with 0, not the printed sign.
  SdmDocument signs;
  signs.NrOfDataPoints.value = 1;
  signs.addPredictor({-0.0f}, "z", 0, 0, 0);
  signs.addPredictor({-1e-9f}, "t", 0, 0, 0);
  signs.addPredictor({1234.5f}, "l", 0, 0, 0);
  EXPECT_EQ(written(signs).substr(written(signs).rfind("\"\r\n") + 3),
            "  -0.000000  -0.000000   1234.500000\r\n");

  // writeToFile writes the same bytes and takes the path.
  const std::string file = dir.file("out.sdm");
  document.writeToFile(file);
  EXPECT_EQ(document.path, file);
  EXPECT_EQ(readFile(file), written(document));
}

TEST_F(SdmFiles, ReadsTheHostsMotionFileExactly) {
  EXPECT_EQ(hostNumber(0.0f), "           0");
  EXPECT_EQ(hostNumber(5.806e-05f), "   5.806e-05");
  EXPECT_EQ(hostNumber(0.0310625f) + hostNumber(-0.000387509f), "   0.0310625-0.000387509");
  EXPECT_EQ(hostNumber(-12.5f), "       -12.5");

  const std::vector<MotionRow> rows = {
      {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
      {0.0310625f, -0.000387509f, 5.806e-05f, -12.5f, 0.0f, 123.456f},
      {-1.5e-07f, 0.0f, -0.0457031f, 2.5f, -0.000387509f, -0.000387509f},
      {1000000.0f, -3.25e+07f, 10.0f, -10.0f, 99.999f, -100.0f}};
  const std::string text = hostMotionSdmText(rows);
  ASSERT_NE(
      text.find("   0.0310625-0.000387509   5.806e-05       -12.5           0     123.456\r\n"),
      std::string::npos);
  const SdmDocument motion = read(text, "run1_3DMC.sdm");
  ASSERT_EQ(motion.NrOfPredictors.value, 6);
  ASSERT_EQ(motion.NrOfDataPoints.value, 4);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t k = 0; k < 6; ++k) {
      EXPECT_EQ(motion.columns[k][i], rows[i][k]) << "row " << i << " predictor " << k;
    }
  }
  EXPECT_EQ(motion.names[0], "Translation X [mm]");
  EXPECT_EQ(motion.names[5], "Rotation Z [deg]");
  EXPECT_EQ(motion.red[1], 0);
  EXPECT_EQ(motion.green[1], 255);

  // Saved again by a Windows editor, with a byte-order mark: the same document.
  const SdmDocument marked = read("\xEF\xBB\xBF" + text, "run1_3DMC.sdm");
  EXPECT_TRUE(marked.FileVersion.present);
  EXPECT_EQ(written(marked), written(motion));
}

// Bytes in memory read as the file holding them; the name given is the
// document's path and names it in messages. Only the bytes given are read.
TEST_F(SdmFiles, ParsesBytesInMemoryAsTheirFile) {
  const std::string text =
      hostMotionSdmText({{0.5f, -0.25f, 0.125f, 1.5f, -2.0f, 0.75f},
                         {0.0310625f, -0.000387509f, 5.806e-05f, -12.5f, 3.0f, 123.456f},
                         {1.25f, 0.5f, -0.0457031f, 2.5f, -0.000387509f, -1.0f}});
  const SdmDocument parsed = SdmDocument::parse("\xEF\xBB\xBF" + text, "C:/runs/run1_3DMC.sdm");
  EXPECT_EQ(parsed.path, "C:/runs/run1_3DMC.sdm");
  EXPECT_EQ(written(parsed), written(read(text, "run1_3DMC.sdm")));

  const std::string rows = twoPredictors(2) + " 1.0  2.0\n 3.0  4.0\n";
  EXPECT_THROW_MSG(
      SdmDocument::parse(std::string_view(rows).substr(0, rows.rfind(" 3.0")), "cut.sdm"), IOError,
      "SDM file cut.sdm: holds 1 data rows, the header announces 2");
}

TEST_F(SdmFiles, DataRowsSplitIntoNumbers) {
  auto values = [&](const std::string& row) {
    const SdmDocument document = read(twoPredictors(1) + row + "\n");
    return std::vector<float>{document.columns[0][0], document.columns[1][0]};
  };
  // The writer's layout, blank-separated and touching.
  EXPECT_EQ(values(" 0.5  -0.25"), (std::vector<float>{0.5f, -0.25f}));
  EXPECT_EQ(values("-0.500000-0.250000"), (std::vector<float>{-0.5f, -0.25f}));
  // A bare zero is a value of its own, not a reason to drop the row.
  EXPECT_EQ(values("0 0.5"), (std::vector<float>{0.0f, 0.5f}));
  EXPECT_EQ(values("           0           0"), (std::vector<float>{0.0f, 0.0f}));
  // Magnitudes of 10 and more, exponents with their own signs, a sign after
  // a bare decimal point, a plus sign, tabs.
  EXPECT_EQ(values(" -12.500000  123.250000"), (std::vector<float>{-12.5f, 123.25f}));
  EXPECT_EQ(values("1e-05-2E+3"), (std::vector<float>{1e-05f, -2000.0f}));
  EXPECT_EQ(values("1.-2."), (std::vector<float>{1.0f, -2.0f}));
  EXPECT_EQ(values("+.5\t\t7"), (std::vector<float>{0.5f, 7.0f}));
  EXPECT_EQ(values(" 0.5  -0.25\r"), (std::vector<float>{0.5f, -0.25f}));
}

TEST_F(SdmFiles, MalformedDataRowsNameTheFileAndTheRow) {
  const std::string p = prefix();
  EXPECT_THROW_MSG(read(twoPredictors(3) + " 1.0  2.0\n 1.0\n"), IOError,
                   p + "data row 2 holds 1 values, expected 2");
  EXPECT_THROW_MSG(read(twoPredictors(2) + " 1.0  2.0\n1 2 3\n"), IOError,
                   p + "data row 2 holds 3 values, expected 2");
  EXPECT_THROW_MSG(read(twoPredictors(2) + " 1.0  abc\n"), IOError,
                   p + "data row 1 holds \"abc\", which is not a number");
  EXPECT_THROW_MSG(read(twoPredictors(2) + " 1.0  0.5x\n"), IOError,
                   p + "data row 1 holds \"0.5x\", which is not a number");
  EXPECT_THROW_MSG(read(twoPredictors(2) + " 1.0  nan\n"), IOError,
                   p + "data row 1 holds \"nan\", which is not a number");
  EXPECT_THROW_MSG(read(twoPredictors(2) + " 1.0  1e\n"), IOError,
                   p + "data row 1 holds \"1e\", which is not a number");
  EXPECT_THROW_MSG(read(twoPredictors(2) + " 1.0  --1\n"), IOError,
                   p + "data row 1 holds \"--1\", which is not a number");
  EXPECT_THROW_MSG(read(twoPredictors(2) + " 1.0  2.0\n 1.0  .\n"), IOError,
                   p + "data row 2 holds \".\", which is not a number");
  EXPECT_THROW_MSG(read(twoPredictors(2) + " 1.0  2.0\n 1e39  0\n"), IOError,
                   p + "data row 2 holds \"1e39\", which is outside the float range");
  EXPECT_THROW_MSG(
      read(twoPredictors(1) + " 1.0  " + std::string(50, 'x') + "\n"), IOError,
      p + "data row 1 holds \"" + std::string(40, 'x') + "...\", which is not a number");
  // Too few rows; blank lines between rows do not count; rows after the
  // announced count are never looked at.
  EXPECT_THROW_MSG(read(twoPredictors(3) + " 1.0  2.0\n\n   \n 3.0  4.0\n"), IOError,
                   p + "holds 2 data rows, the header announces 3");
  const SdmDocument blanks = read(twoPredictors(2) + "\n 1.0  2.0\n \t\n\n 3.0  4.0\nnot read\n");
  EXPECT_EQ(blanks.columns[0], (std::vector<float>{1.0f, 3.0f}));
  EXPECT_EQ(blanks.columns[1], (std::vector<float>{2.0f, 4.0f}));
}

TEST_F(SdmFiles, HeaderKeysAnyOrderUnknownKeysTabsAndMissingEntries) {
  const SdmDocument document = read(
      "Comment: hello 12\nNrOfDataPoints:\t\t\t1\nNrOfPredictors: 1 FileVersion:  4\n"
      "Other: 3\nFirstConfoundPredictor:\n1\n7 8 9\n\"only\"\n 0.25\n");
  EXPECT_EQ(document.FileVersion.value, 4);
  EXPECT_EQ(document.FileVersion.width, 14);
  EXPECT_EQ(document.NrOfDataPoints.width, 18);
  EXPECT_EQ(document.FirstConfoundPredictor.width, 23);
  EXPECT_FALSE(document.IncludesConstant.present);
  EXPECT_EQ(document.columns[0], std::vector<float>{0.25f});
  // The key column comes back with blanks; the absent entry stays absent,
  // line end included.
  EXPECT_EQ(written(document),
            "FileVersion:  4\r\n\r\n"
            "NrOfPredictors: 1\r\n"
            "NrOfDataPoints:   1\r\n"
            "FirstConfoundPredictor: 1\r\n\r\n"
            "7 8 9\r\n\"only\"\r\n  0.250000\r\n");

  // Without FileVersion it is -1 and not written; values may stand on the next line.
  const SdmDocument bare = read(
      "NrOfPredictors:\n1\nNrOfDataPoints: 0\nIncludesConstant: 1\nFirstConfoundPredictor: 2\n");
  EXPECT_EQ(bare.FileVersion.value, -1);
  EXPECT_FALSE(bare.FileVersion.present);
  EXPECT_TRUE(bare.IncludesConstant.value);
  EXPECT_EQ(bare.names, std::vector<std::string>{"NoName"});
  EXPECT_EQ(written(bare).substr(0, 18), "NrOfPredictors: 1\r");
}

TEST_F(SdmFiles, BrokenHeadersNameTheFileAndTheKey) {
  const std::string p = prefix();
  EXPECT_THROW_MSG(read(""), IOError, p + "missing header key FirstConfoundPredictor");
  EXPECT_THROW_MSG(read("NrOfPredictors: 1\nNrOfDataPoints: 1\n"), IOError,
                   p + "missing header key FirstConfoundPredictor");
  EXPECT_THROW_MSG(read("NrOfDataPoints: 1\nFirstConfoundPredictor: 1\n"), IOError,
                   p + "missing header key NrOfPredictors");
  EXPECT_THROW_MSG(read("NrOfPredictors: 1\nFirstConfoundPredictor: 1\n"), IOError,
                   p + "missing header key NrOfDataPoints");
  EXPECT_THROW_MSG(read("NrOfPredictors: x\nNrOfDataPoints: 1\nFirstConfoundPredictor: 1\n"),
                   IOError, p + "value of NrOfPredictors cannot be read as an integer");
  EXPECT_THROW_MSG(read("NrOfPredictors: 99999999999\n"), IOError,
                   p + "value of NrOfPredictors cannot be read as an integer");
  EXPECT_THROW_MSG(read("NrOfPredictors: 1\nIncludesConstant: 2\n"), IOError,
                   p + "value of IncludesConstant cannot be read as 0 or 1");
  EXPECT_THROW_MSG(read("NrOfPredictors: 1\nIncludesConstant: true\n"), IOError,
                   p + "value of IncludesConstant cannot be read as 0 or 1");
  EXPECT_THROW_MSG(read("NrOfPredictors: 1\nNrOfDataPoints: 1\nFirstConfoundPredictor:"), IOError,
                   p + "value of FirstConfoundPredictor cannot be read as an integer");
  EXPECT_THROW_MSG(read(header(-1, 2)), IOError, p + "NrOfPredictors is negative (-1)");
  EXPECT_THROW_MSG(read(header(2, -5)), IOError, p + "NrOfDataPoints is negative (-5)");

  // Counts that the file cannot hold are refused before anything is sized by them.
  std::string big = header(6, 2000000000) + std::string(2048, ' ');
  EXPECT_THROW_MSG(read(big), IOError,
                   p + "NrOfDataPoints 2000000000 announces more data rows than a file of " +
                       std::to_string(big.size()) + " bytes can hold");
  big = header(2000000000, 1);
  EXPECT_THROW_MSG(read(big), IOError,
                   p + "NrOfPredictors 2000000000 announces more predictors than a file of " +
                       std::to_string(big.size()) + " bytes can hold");
  big = header(0, 2000000000);
  EXPECT_THROW_MSG(read(big), IOError,
                   p + "NrOfDataPoints 2000000000 announces more data rows than a file of " +
                       std::to_string(big.size()) + " bytes can hold");

  EXPECT_THROW_MSG(SdmDocument missing(dir.file("absent.sdm")), OpenFileError,
                   "Failed opening for reading: " + dir.file("absent.sdm"));
  EXPECT_THROW_MSG(SdmDocument folder(dir.path().generic_string()), OpenFileError,
                   "Failed opening for reading: " + dir.path().generic_string());
}

TEST_F(SdmFiles, ColoursAndNamesDefaultAndMayShareALine) {
  const SdmDocument few = read(header(3, 1) + "1 2 3\n\"A\"\n1 2 3\n");
  EXPECT_EQ(few.red, (std::vector<int>{1, 0, 0}));
  EXPECT_EQ(few.blue, (std::vector<int>{3, 0, 0}));
  EXPECT_EQ(few.names, (std::vector<std::string>{"A", "NoName", "NoName"}));

  const SdmDocument shared = read(header(2, 1) + "1 2 3 4 5 6 \"first name\" \"\"\n 1  2\n");
  EXPECT_EQ(shared.green, (std::vector<int>{2, 5}));
  EXPECT_EQ(shared.names, (std::vector<std::string>{"first name", ""}));

  // Colours ending mid-line: the rest of that line holds no quote, so the
  // names come from the next line.
  const SdmDocument nextLine =
      read(header(2, 1) + "-1 2 3 40000 5 6   \n\"x\" \"y\" \"z\"\n 1  2\n");
  EXPECT_EQ(nextLine.red, (std::vector<int>{-1, 40000}));
  EXPECT_EQ(nextLine.names, (std::vector<std::string>{"x", "y"}));

  // Both line ends read alike.
  const std::string lf = twoPredictors(2) + " 0.5  -0.25\n-1.0 0\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(written(read(lf)), written(read(crlf)));
  EXPECT_EQ(read(crlf).names, (std::vector<std::string>{"A", "B"}));
}

TEST_F(SdmFiles, EditingKeepsTheInvariant) {
  SdmDocument document;
  document.NrOfDataPoints.value = 100;
  document.addPredictor(std::vector<float>(99, 1.0f), "short", 1, 2, 3);
  EXPECT_EQ(document.NrOfPredictors.value, 0);
  EXPECT_TRUE(document.columns.empty() && document.names.empty() && document.red.empty());
  document.addPredictor(std::vector<float>(100, 1.0f), "full", 1, 2, 3);
  EXPECT_EQ(document.NrOfPredictors.value, 1);
  EXPECT_EQ(document.names, std::vector<std::string>{"full"});

  document.IncludesConstant.value = true;
  document.FileVersion.width = 3;
  document.clearPredictors();
  EXPECT_EQ(
      written(document),
      "FileVersion: 1\r\n\r\n"
      "NrOfPredictors:         0\r\n"
      "NrOfDataPoints:         100\r\n"
      "IncludesConstant:       0\r\n"
      "FirstConfoundPredictor: 1\r\n\r\n\r\n\r\n" +
          [] {
            std::string rows;
            for (int i = 0; i < 100; ++i) rows += "\r\n";
            return rows;
          }());
  const SdmDocument back = read(written(document));
  EXPECT_EQ(back.NrOfDataPoints.value, 100);
  EXPECT_EQ(written(back), written(document));

  // A document whose lists do not match its counts is not written.
  document.NrOfPredictors.value = 1;
  EXPECT_THROW(written(document), std::logic_error);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = text.find("\r\n", from);
    result.push_back(text.substr(from, end - from));
    from = end == std::string::npos ? text.size() : end + 2;
  }
  return result;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> result;
  for (std::string word; in >> word;) result.push_back(word);
  return result;
}

TEST_F(SdmFiles, RandomDocumentsRoundTrip) {
  std::mt19937 random(20240611);
  auto uniform = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  for (int round = 0; round < 200; ++round) {
    SdmDocument document;
    document.NrOfDataPoints.value = uniform(0, 12);
    document.FileVersion.value = uniform(-3, 5);
    document.FirstConfoundPredictor.value = uniform(0, 9);
    document.IncludesConstant.value = uniform(0, 1) == 1;
    for (HeaderField<int>* field : {&document.FileVersion, &document.NrOfPredictors,
                                    &document.NrOfDataPoints, &document.FirstConfoundPredictor}) {
      field->width = uniform(0, 30);
    }
    document.IncludesConstant.width = uniform(0, 30);
    document.FileVersion.present = uniform(0, 3) > 0;
    document.IncludesConstant.present = uniform(0, 3) > 0;
    const int predictors = uniform(0, 8);
    for (int k = 0; k < predictors; ++k) {
      std::vector<float> column;
      for (int i = 0; i < document.NrOfDataPoints.value; ++i) {
        const int scale = uniform(0, 3);
        const float magnitude = scale == 0   ? 1.0f
                                : scale == 1 ? 15.0f
                                : scale == 2 ? 1e-5f
                                             : 900.0f;
        column.push_back(std::uniform_real_distribution<float>(-magnitude, magnitude)(random));
      }
      std::string name;
      for (int c = uniform(0, 12); c > 0; --c) name += static_cast<char>(uniform(' ', '~'));
      std::erase(name, '"');
      document.addPredictor(column, name, uniform(-5, 300), uniform(0, 255), uniform(0, 100000));
    }

    const std::string file = dir.file("round.sdm");
    document.writeToFile(file);
    const SdmDocument back(file);
    ASSERT_EQ(back.NrOfPredictors.value, predictors) << "round " << round;
    ASSERT_EQ(back.NrOfDataPoints.value, document.NrOfDataPoints.value);
    EXPECT_EQ(back.names, document.names);
    EXPECT_EQ(back.red, document.red);
    EXPECT_EQ(back.green, document.green);
    EXPECT_EQ(back.blue, document.blue);
    EXPECT_EQ(back.FirstConfoundPredictor.value, document.FirstConfoundPredictor.value);
    EXPECT_EQ(back.IncludesConstant.present, document.IncludesConstant.present);
    EXPECT_EQ(back.FileVersion.value,
              document.FileVersion.present ? document.FileVersion.value : -1);
    for (int k = 0; k < predictors; ++k) {
      for (int i = 0; i < document.NrOfDataPoints.value; ++i) {
        EXPECT_EQ(back.columns[k][i], toSixDecimals(document.columns[k][i])) << "round " << round;
      }
    }
    // Writing what was read reproduces the header with its key column. The
    // rows may differ only where a tiny negative value was printed as
    // "-0.000000" and read back as -0, which gets the extra blank.
    const std::vector<std::string> first = lines(written(document));
    const std::vector<std::string> again = lines(written(back));
    ASSERT_EQ(again.size(), first.size());
    std::size_t rowsFrom = 0;
    while (first[rowsFrom].rfind("FirstConfoundPredictor:", 0) != 0) ++rowsFrom;
    rowsFrom += 4;  // its blank line, the colour line, the names line
    for (std::size_t i = 0; i < first.size(); ++i) {
      if (i < rowsFrom) {
        EXPECT_EQ(again[i], first[i]) << "round " << round;
      } else {
        EXPECT_EQ(words(again[i]), words(first[i])) << "round " << round;
      }
    }
    writeFile(file, written(back));
    EXPECT_EQ(written(SdmDocument(file)), written(back)) << "round " << round;
  }
}

// Readers must turn every damaged file into a document or an IOError that
// names the file; anything else (a crash, a length error) is a fault.
void expectDocumentOrRefusal(std::string_view bytes, const std::string& file,
                             const std::string& what) {
  try {
    const SdmDocument document = SdmDocument::parse(bytes, file);
    const auto n = static_cast<std::size_t>(document.NrOfPredictors.value);
    ASSERT_TRUE(document.columns.size() == n || (n == 0 && document.columns.empty())) << what;
    ASSERT_EQ(document.names.size(), n) << what;
    ASSERT_EQ(document.red.size(), n) << what;
    for (const auto& column : document.columns) {
      ASSERT_EQ(column.size(), static_cast<std::size_t>(document.NrOfDataPoints.value)) << what;
    }
    std::ostringstream again;
    document.write(again);
  } catch (const IOError& error) {
    ASSERT_NE(std::string(error.what()).find(file), std::string::npos)
        << what << ": " << error.what();
  }
}

TEST_F(SdmFiles, EveryTruncatedPrefixAndEveryChangedByte) {
  SdmDocument document;
  document.NrOfDataPoints.value = 3;
  document.addPredictor({0.5f, -12.25f, 3.0f}, "A", 255, 0, 0);
  document.addPredictor({-0.25f, 0.0f, 150.125f}, "B", 0, 0, 255);
  const std::vector<std::string> valid = {
      written(document),
      hostMotionSdmText({{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
                         {0.0310625f, -0.000387509f, 5.806e-05f, -12.5f, 0.0f, 1.0f}})};
  const std::string file = "runs/damaged.sdm";
  for (const std::string& text : valid) {
    for (std::size_t length = 0; length <= text.size(); ++length) {
      expectDocumentOrRefusal(std::string_view(text).substr(0, length), file,
                              "prefix of " + std::to_string(length) + " bytes");
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
      for (char replacement : {'x', '9', '-', '.', '"', '\n', ' ', '\0', 'e'}) {
        std::string changed = text;
        changed[at] = replacement;
        expectDocumentOrRefusal(changed, file, "byte " + std::to_string(at) + " changed");
      }
    }
  }
}

TEST_F(SdmFiles, FailedWritesLeaveTheExistingFileAlone) {
  const std::string file = dir.file("keep.sdm");
  writeFile(file, "previous content\r\n");
  SdmDocument broken;
  broken.NrOfPredictors.value = 2;
  EXPECT_THROW_MSG(broken.writeToFile(file), std::logic_error,
                   "SDM document " + file + ": predictor lists do not match the header counts");
  EXPECT_EQ(readFile(file), "previous content\r\n");

  SdmDocument document;
  const std::string folder = dir.file("folder.sdm");
  std::filesystem::create_directory(folder);
  const std::string below = file + "/inner.sdm";
  for (const std::string& target : {folder, below}) {
    EXPECT_THROW_MSG(document.writeToFile(target), std::runtime_error,
                     "Cannot Create file: " + target);
  }
  EXPECT_EQ(readFile(file), "previous content\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
    ++entries;
  EXPECT_EQ(entries, 2u);
}

}  // namespace
}  // namespace tsl::testing
