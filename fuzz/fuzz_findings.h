// What the fuzz targets count as a finding: each target hands its input to a
// reader in memory and checks what comes back with these.
#ifndef TESSEL_FUZZ_FUZZ_FINDINGS_H
#define TESSEL_FUZZ_FUZZ_FINDINGS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

namespace tsl::fuzz {

// The input as the readers take it.
inline std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Value index of STC bytes, decoded independently of the readers: 16-bit
// signed integers, or (floats) 32-bit IEEE values, little-endian.
inline float stcValueAt(const std::uint8_t* bytes, std::size_t index, bool floats) {
  if (floats) {
    const std::uint8_t* p = bytes + 4 * index;
    const std::uint32_t bits =
        static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  const std::uint8_t* p = bytes + 2 * index;
  return static_cast<float>(
      static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8)));
}

inline bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Reports a finding and aborts, so that libFuzzer (or the replay) stops on it.
[[noreturn]] void fail(const std::string& what);

// A reader may refuse an input with an exception derived from std::exception
// whose text names the file it read; anything else is a finding. Allocation
// failures and length errors are findings too: counts from a file must be
// checked before they size anything. Call from a catch block.
void checkRefusal(const std::exception& error, const std::string& fileName);

}  // namespace tsl::fuzz

#endif
