// Helpers shared by the unit tests: one check of a thrown exception's type and
// exact text, one builder of design-matrix documents, and a splitter of the
// text files the tasks write.
#ifndef TESSEL_TESTS_SUPPORT_TEST_HELPERS_H
#define TESSEL_TESTS_SUPPORT_TEST_HELPERS_H

#include <gtest/gtest.h>

#include <cstddef>
#include <exception>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "designmatrix/sdm_document.h"

// EXPECT_THROW_MSG(statement, ExceptionType, message): a non-fatal failure
// unless statement throws an ExceptionType (or a type derived from it) whose
// what() equals message exactly. Nothing thrown, another type thrown, or
// another text each fail with the statement, the expected and the actual text.
// A statement whose commas are not inside parentheses (a braced list, a
// template argument list) must be put in parentheses:
//   EXPECT_THROW_MSG((combineModels({a, b})), std::invalid_argument, "...");
#define EXPECT_THROW_MSG(statement, ExceptionType, expectedMessage)                       \
  do {                                                                                    \
    const ::testing::AssertionResult tessel_throw_result =                                \
        ::tsl::test::throwsWithMessage<ExceptionType>([&] { statement; }, #statement,     \
                                                      #ExceptionType, (expectedMessage)); \
    if (!tessel_throw_result) ADD_FAILURE() << tessel_throw_result.message();             \
  } while (false)

namespace tsl::test {

// The check behind EXPECT_THROW_MSG; use the macro, which names the place.
template <typename Exception, typename Statement>
::testing::AssertionResult throwsWithMessage(Statement&& statement, const char* statementText,
                                             const char* typeText, const std::string& expected) {
  std::string actual = "nothing";
  try {
    statement();
  } catch (const Exception& error) {
    if (expected == error.what()) return ::testing::AssertionSuccess();
    actual = std::string(typeText) + " \"" + error.what() + "\"";
  } catch (...) {
    // Told apart here rather than by a handler beside Exception's: that
    // handler would be unreachable when Exception is std::exception.
    actual = "an exception not derived from std::exception";
    try {
      throw;
    } catch (const std::exception& other) {
      actual = std::string("another type, \"") + other.what() + "\"";
    } catch (...) {
    }
  }
  return ::testing::AssertionFailure() << statementText << "\n  should throw: " << typeText << " \""
                                       << expected << "\"\n     it throws: " << actual;
}

// A document with one predictor per column, in order, at path: NrOfPredictors
// and NrOfDataPoints from the columns, predictor i named "P<i>" and coloured
// (i, 2i, 3i) so that every predictor can be told apart; the other header
// entries as SdmDocument() makes them. Set names or colours afterwards where
// a test needs others. Throws std::invalid_argument when the columns differ in
// length (a mistake in the test's data).
inline SdmDocument sdmOf(const std::vector<std::vector<float>>& columns,
                         const std::string& path = "") {
  SdmDocument doc;
  doc.path = path;
  const std::size_t points = columns.empty() ? 0 : columns.front().size();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].size() != points) {
      throw std::invalid_argument("sdmOf: column " + std::to_string(i) + " holds " +
                                  std::to_string(columns[i].size()) + " values, column 0 holds " +
                                  std::to_string(points));
    }
    const int c = static_cast<int>(i);
    doc.columns.push_back(columns[i]);
    // Not "P" + ...: g++ 12 warns of an overlapping copy there (-Wrestrict) that cannot happen.
    doc.names.push_back(std::string("P").append(std::to_string(i)));
    doc.red.push_back(c);
    doc.green.push_back(2 * c);
    doc.blue.push_back(3 * c);
  }
  doc.NrOfPredictors.value = static_cast<int>(columns.size());
  doc.NrOfDataPoints.value = static_cast<int>(points);
  return doc;
}

// The motion parameters of a run as sdmOf builds them: one row per volume,
// the first `predictors` values of each row (six: x, y, z translation, then
// rotation) becoming the predictors. Without rows the document has the
// predictors and no data points. Throws std::invalid_argument when a row
// holds fewer than `predictors` values.
inline SdmDocument motionSdmOf(const std::vector<std::vector<float>>& rows,
                               const std::string& path = "", std::size_t predictors = 6) {
  std::vector<std::vector<float>> columns(predictors);
  for (std::size_t j = 0; j < rows.size(); ++j) {
    if (rows[j].size() < predictors) {
      throw std::invalid_argument("motionSdmOf: row " + std::to_string(j) + " holds " +
                                  std::to_string(rows[j].size()) + " values, " +
                                  std::to_string(predictors) + " predictors need as many");
    }
    for (std::size_t p = 0; p < predictors; ++p) columns[p].push_back(rows[j][p]);
  }
  return sdmOf(columns, path);
}

// The parts of text between separators; a separator at the very end ends
// the last part (no empty part after it).
inline std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

}  // namespace tsl::test

#endif
