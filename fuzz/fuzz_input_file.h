// Support for the fuzz targets: the readers take paths, so each input is
// written to a file in a scratch folder of this process (made on first use,
// reused for every input, removed at exit) and read from there.
#ifndef TESSEL_FUZZ_FUZZ_INPUT_FILE_H
#define TESSEL_FUZZ_FUZZ_INPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

namespace tsl::fuzz {

// Writes size bytes at data to the scratch file named name (replacing what it
// held) and returns its path with forward slashes. Aborts when the file cannot
// be written: an input that never reaches the reader tests nothing.
std::string writeScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);
std::string writeScratchFile(const std::string& name, const std::string& bytes);

// Path of name in the scratch folder, without touching the file.
std::string scratchPath(const std::string& name);

// Reports a finding and aborts, so that libFuzzer (or the replay) stops on it.
[[noreturn]] void fail(const std::string& what);

// A reader may refuse an input with an exception derived from std::exception
// whose text names the file it read; anything else is a finding. Allocation
// failures and length errors are findings too: counts from a file must be
// checked before they size anything. Call from a catch block.
void checkRefusal(const std::exception& error, const std::string& fileName);

}  // namespace tsl::fuzz

#endif
