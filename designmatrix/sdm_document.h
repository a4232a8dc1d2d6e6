// A single-study design matrix (.sdm): header entries, per predictor a colour,
// a name and a column of floats over NrOfDataPoints data points.
#ifndef TESSEL_DESIGNMATRIX_SDM_DOCUMENT_H
#define TESSEL_DESIGNMATRIX_SDM_DOCUMENT_H

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "designmatrix/header_field.h"

namespace tsl {

// Invariant kept by every operation: NrOfPredictors.value equals the number of
// columns, names and colour entries, and every column holds
// NrOfDataPoints.value values.
class SdmDocument {
 public:
  // Defaults: all five entries present with width 24; FileVersion 1, counts 0,
  // IncludesConstant false, FirstConfoundPredictor 0; no predictors.
  SdmDocument();

  // Parses the bytes of an SDM file (LF or CRLF line ends; a UTF-8
  // byte-order mark at their start is skipped). Header keys are matched
  // whole, in any order, unknown tokens skipped, up to and including
  // "FirstConfoundPredictor:"; each entry remembers its key column. Colours
  // default to 0, names to "NoName". Data rows are scanned for numbers (bare
  // integers, decimals, exponents; a sign after a digit or a decimal point
  // starts the next value); lines of white space between rows are skipped,
  // rows after NrOfDataPoints ignored; with no predictors no row is read (but
  // NrOfDataPoints must still fit the size of bytes). path names the file:
  // it becomes the document's path and stands in every message.
  // Throws IOError "SDM file <path>: <problem>" when the bytes are malformed:
  // a missing or unreadable key, a negative count or counts the bytes cannot
  // hold (checked before anything is sized by them), a row with another
  // number of values than NrOfPredictors, text that is not a number or a
  // value outside the float range (naming the 1-based data row), fewer rows
  // than NrOfDataPoints. Never returns a partial document.
  static SdmDocument parse(std::string_view bytes, const std::string& path);

  // Reads the file at path and parses its bytes (parse). Throws
  // OpenFileError ("Failed opening for reading: " + path) when it cannot be
  // opened, IOError ("Failed reading file: " + path) when reading fails, and
  // what parse throws.
  explicit SdmDocument(const std::string& path);

  // Appends a predictor if column.size() equals NrOfDataPoints; otherwise
  // changes nothing. Column and name are consumed either way.
  void addPredictor(std::vector<float> column, std::string name, int red, int green, int blue);

  // Removes all predictors; NrOfPredictors 0, FirstConfoundPredictor 1,
  // IncludesConstant false. Everything else stays.
  void clearPredictors();

  // Makes path this document's path and writes it there: complete or not at
  // all (temporary file renamed over the target). Throws std::runtime_error
  // ("Cannot Create file: " + path) when the file cannot be created, IOError
  // when writing fails; an existing file at path is then left untouched.
  void writeToFile(const std::string& path);

  // Writes the document in the file format to an open stream: CRLF line ends
  // on every platform (open the stream binary), values in fixed point with
  // six decimals, no locale involved. A key is padded with blanks to its
  // width, and at least one blank always separates it from its value. Throws
  // std::logic_error, before writing anything, when the lists do not match
  // the header counts.
  void write(std::ostream& out) const;

  std::string path;
  HeaderField<int> FileVersion;
  HeaderField<int> NrOfPredictors;
  HeaderField<int> NrOfDataPoints;
  HeaderField<bool> IncludesConstant;
  HeaderField<int> FirstConfoundPredictor;
  std::vector<int> red, green, blue;
  std::vector<std::string> names;
  std::vector<std::vector<float>> columns;

 private:
  // parse: every header entry starts absent, FileVersion at -1.
  SdmDocument(std::string_view bytes, const std::string& path);
};

}  // namespace tsl

#endif
