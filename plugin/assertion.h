// Internal consistency checks whose failure ends the running task with a
// std::logic_error "assertion failure (<file>:<line>): <expression>".
#ifndef TESSEL_PLUGIN_ASSERTION_H
#define TESSEL_PLUGIN_ASSERTION_H

#include <string>

namespace tsl {

[[noreturn]] void assertionFailure(const char* file, int line, const char* expression);

}  // namespace tsl

// file is the source name the report shows (the tasks report as "tessel").
#define TESSEL_CHECK_AT(condition, file, line, text)             \
  do {                                                           \
    if (!(condition)) ::tsl::assertionFailure(file, line, text); \
  } while (false)

#endif
