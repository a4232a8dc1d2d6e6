#include "fuzz/fuzz_findings.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>

namespace tsl::fuzz {

void fail(const std::string& what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void checkRefusal(const std::exception& error, const std::string& fileName) {
  const std::string text = error.what();
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) fail("allocation failed: " + text);
  if (dynamic_cast<const std::length_error*>(&error) != nullptr) fail("length error: " + text);
  if (text.find(fileName) == std::string::npos)
    fail("error text does not name " + fileName + ": " + text);
}

}  // namespace tsl::fuzz
