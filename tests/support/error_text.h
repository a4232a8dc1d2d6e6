// The text of the exception a piece of test code throws, for checking
// messages by their exact text.
#ifndef TESSEL_TESTS_SUPPORT_ERROR_TEXT_H
#define TESSEL_TESTS_SUPPORT_ERROR_TEXT_H

#include <exception>
#include <functional>
#include <string>

namespace tsl::testing {

// What f throws, or "no exception" when it returns.
inline std::string errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace tsl::testing

#endif
