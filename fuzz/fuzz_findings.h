// What the fuzz targets count as a finding: each target hands its input to a
// reader in memory and checks what comes back with these.
#ifndef TESSEL_FUZZ_FUZZ_FINDINGS_H
#define TESSEL_FUZZ_FUZZ_FINDINGS_H

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace tsl::fuzz {

// The input as the readers take it.
inline std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Reports a finding and aborts, so that libFuzzer (or the replay) stops on it.
[[noreturn]] void fail(const std::string& what);

// A reader may refuse an input with an exception derived from std::exception
// whose text names the file it read; anything else is a finding. Allocation
// failures and length errors are findings too: counts from a file must be
// checked before they size anything. Call from a catch block.
void checkRefusal(const std::exception& error, const std::string& fileName);

}  // namespace tsl::fuzz

#endif
