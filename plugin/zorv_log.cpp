#include "plugin/zorv_log.h"

#include <locale>
#include <string>

namespace tsl {

ZorvLog::ZorvBuf::ZorvBuf(LogFunction log)
    : std::stringbuf(std::ios_base::in | std::ios_base::out), log_(log) {}

ZorvLog::ZorvBuf::~ZorvBuf() { sync(); }

int ZorvLog::ZorvBuf::sync() {
  const std::string text = str();
  if (log_ != nullptr) log_(text.c_str());
  str(std::string());
  return 0;
}

ZorvLog::ZorvLog(LogFunction log) : std::ostream(new ZorvBuf(log)) {
  imbue(std::locale::classic());
}

ZorvLog::~ZorvLog() { delete rdbuf(); }

}  // namespace tsl
