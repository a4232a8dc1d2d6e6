// Fuzz target of the FMR header reader, without the voxel data. A record that
// reads must hold a slice timing table of at least the announced size and no
// voxel data. A repeated "SliceTimingTableSize:" appends a second table to the
// first (file order), so the table may hold more than the last size.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "fmr/fmr_header.h"
#include "fuzz/fuzz_findings.h"

namespace {

// Real headers are a few KB.
constexpr std::size_t kMaxInputBytes = 16 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInputBytes) return -1;
  try {
    const tsl::FmrFileHeader header =
        tsl::parseFmrFileHeader(tsl::fuzz::bytesOf(data, size), "input.fmr");
    if (!header.voxelData.empty()) tsl::fuzz::fail("voxel data read although not asked for");
    const auto& tableSize = header.SliceTimingTableSize;
    const std::size_t expected =
        tableSize.present && tableSize.value > 0 ? static_cast<std::size_t>(tableSize.value) : 0;
    if (header.sliceTimingTable.size() < expected)
      tsl::fuzz::fail("slice timing table of the wrong size");
  } catch (const std::exception& error) {
    tsl::fuzz::checkRefusal(error, "input.fmr");
  }
  return 0;
}
