// The log stream: an output stream whose collected text goes to the host's log
// pane in one piece on every flush, and once more when it is destroyed.
#ifndef TESSEL_PLUGIN_ZORV_LOG_H
#define TESSEL_PLUGIN_ZORV_LOG_H

#include <ostream>
#include <sstream>

namespace tsl {

class ZorvLog : public std::ostream {
 public:
  using LogFunction = void (*)(const char* text);

  // The buffer behind the stream. sync hands the whole collected text to the
  // log function in one call (also when it is empty) and empties the buffer.
  // A null log function makes sync discard the text.
  class ZorvBuf : public std::stringbuf {
   public:
    explicit ZorvBuf(LogFunction log);
    ~ZorvBuf() override;  // syncs once more

   protected:
    int sync() override;

   private:
    LogFunction log_;
  };

  // Standard formatting; the classic "C" locale, whatever the user's settings.
  explicit ZorvLog(LogFunction log);
  ~ZorvLog() override;  // deletes the buffer, which hands over what is pending

  ZorvLog(const ZorvLog&) = delete;
  ZorvLog& operator=(const ZorvLog&) = delete;
};

// The display name that starts every log line.
inline constexpr const char* kDisplayName = "Tessel";

}  // namespace tsl

#endif
