// Fuzz target of the SDM reader. An input that reads is written back and read
// again: the writer must produce bytes its own reader takes, with the same
// counts and names, and the document must keep its invariant.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <sstream>
#include <string>

#include "designmatrix/sdm_document.h"
#include "fuzz/fuzz_findings.h"

namespace {

// Real motion SDMs are a few tens of KB; larger inputs only slow the search.
constexpr std::size_t kMaxInputBytes = 64 * 1024;

void checkInvariant(const tsl::SdmDocument& document, const char* what) {
  const auto predictors = static_cast<std::size_t>(document.NrOfPredictors.value);
  const auto points = static_cast<std::size_t>(document.NrOfDataPoints.value);
  bool sound = document.NrOfPredictors.value >= 0 && document.NrOfDataPoints.value >= 0 &&
               document.columns.size() == predictors && document.names.size() == predictors &&
               document.red.size() == predictors && document.green.size() == predictors &&
               document.blue.size() == predictors;
  for (const auto& column : document.columns) sound = sound && column.size() == points;
  if (!sound) tsl::fuzz::fail(std::string("document invariant broken ") + what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInputBytes) return -1;
  tsl::SdmDocument document;
  try {
    document = tsl::SdmDocument::parse(tsl::fuzz::bytesOf(data, size), "input.sdm");
  } catch (const std::exception& error) {
    tsl::fuzz::checkRefusal(error, "input.sdm");
    return 0;
  }
  checkInvariant(document, "after reading");
  // A document without predictors holds no values, so any count of (empty)
  // data rows reads from a small file; writing millions of them back would
  // only measure the writer.
  if (document.NrOfPredictors.value == 0 &&
      document.NrOfDataPoints.value > static_cast<int>(kMaxInputBytes)) {
    return 0;
  }

  std::ostringstream written;
  document.write(written);
  try {
    const tsl::SdmDocument reread = tsl::SdmDocument::parse(written.str(), "again.sdm");
    checkInvariant(reread, "after writing and reading again");
    if (reread.NrOfPredictors.value != document.NrOfPredictors.value ||
        reread.NrOfDataPoints.value != document.NrOfDataPoints.value ||
        reread.names != document.names || reread.red != document.red ||
        reread.green != document.green || reread.blue != document.blue) {
      tsl::fuzz::fail("written document reads back differently");
    }
  } catch (const std::exception& error) {
    tsl::fuzz::fail(std::string("written document does not read back: ") + error.what());
  }
  return 0;
}
