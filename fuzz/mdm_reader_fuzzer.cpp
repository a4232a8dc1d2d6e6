// Fuzz target of the MDM reader (the reader alone: relocation asks the host).
// A document that reads is written back and read again: the same studies.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "designmatrix/mdm_document.h"
#include "fuzz/fuzz_input_file.h"

namespace {

constexpr std::size_t kMaxInputBytes = 16 * 1024;

void checkInvariant(const tsl::MdmDocument& document) {
  if (document.dataPaths.size() != document.sdmPaths.size()) tsl::fuzz::fail("study lists of unequal length");
  if (document.sdmPaths.empty()) tsl::fuzz::fail("a document without studies was accepted");
  if (document.isMtc() ? document.leadingPaths.size() != document.sdmPaths.size()
                       : !document.leadingPaths.empty()) {
    tsl::fuzz::fail("leading paths do not match the studies");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInputBytes) return -1;
  const std::string path = tsl::fuzz::writeScratchFile("input.mdm", data, size);
  try {
    tsl::MdmDocument document(path);
    checkInvariant(document);
    document.path = tsl::fuzz::scratchPath("again.mdm");
    document.writeToFile();
    const tsl::MdmDocument reread(document.path);
    checkInvariant(reread);
    if (reread.sdmPaths != document.sdmPaths || reread.dataPaths != document.dataPaths ||
        reread.leadingPaths != document.leadingPaths || reread.NrOfStudies != document.NrOfStudies) {
      tsl::fuzz::fail("written document reads back differently");
    }
  } catch (const std::exception& error) {
    tsl::fuzz::checkRefusal(error, ".mdm");
  }
  return 0;
}
