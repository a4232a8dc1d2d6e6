// Fuzz target of the MDM reader (the reader alone: relocation asks the user).
// A document that reads is written back and must read again, with the same
// studies.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <sstream>
#include <string>

#include "designmatrix/mdm_document.h"
#include "fuzz/fuzz_findings.h"

namespace {

constexpr std::size_t kMaxInputBytes = 16 * 1024;

void checkInvariant(const tsl::MdmDocument& document) {
  if (document.dataPaths.size() != document.sdmPaths.size())
    tsl::fuzz::fail("study lists of unequal length");
  if (document.sdmPaths.empty()) tsl::fuzz::fail("a document without studies was accepted");
  if (document.isMtc() ? document.leadingPaths.size() != document.sdmPaths.size()
                       : !document.leadingPaths.empty()) {
    tsl::fuzz::fail("leading paths do not match the studies");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInputBytes) return -1;
  std::optional<tsl::MdmDocument> parsed;
  try {
    parsed.emplace(tsl::MdmDocument::parse(tsl::fuzz::bytesOf(data, size), "input.mdm"));
  } catch (const std::exception& error) {
    tsl::fuzz::checkRefusal(error, "input.mdm");
    return 0;
  }
  const tsl::MdmDocument& document = *parsed;
  checkInvariant(document);

  std::ostringstream written;
  document.write(written);
  try {
    const tsl::MdmDocument reread = tsl::MdmDocument::parse(written.str(), "again.mdm");
    checkInvariant(reread);
    if (reread.sdmPaths != document.sdmPaths || reread.dataPaths != document.dataPaths ||
        reread.leadingPaths != document.leadingPaths ||
        reread.NrOfStudies != document.NrOfStudies) {
      tsl::fuzz::fail("written document reads back differently");
    }
  } catch (const std::exception& error) {
    tsl::fuzz::fail(std::string("written document does not read back: ") + error.what());
  }
  return 0;
}
