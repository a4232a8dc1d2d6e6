#include "plugin/assertion.h"

#include <stdexcept>

namespace tsl {

void assertionFailure(const char* file, int line, const char* expression) {
  throw std::logic_error("assertion failure (" + std::string(file) + ":" + std::to_string(line) +
                         "): " + expression);
}

}  // namespace tsl
