#include "tasks/dialog_parameters.h"

#include <charconv>
#include <stdexcept>
#include <system_error>

#include "tasks/task_support.h"

namespace tsl {

std::size_t volumeCount(const char* name, int value) {
  if (value < 0) {
    throw std::invalid_argument(logText("Dialog parameter ", name, " is ", value,
                                        ": a number of volumes cannot be negative"));
  }
  return static_cast<std::size_t>(value);
}

double typedDecimal(float value) {
  // Shortest round-trip form of a float: at most 9 significant digits and an
  // exponent, well within the buffer.
  char digits[64];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  double decimal = static_cast<double>(value);
  // Not a number and the infinities keep their value.
  std::from_chars(digits, written.ptr, decimal);
  return decimal;
}

PlotsAndMotionFile readPlotsAndMotionFile(Host& host) {
  PlotsAndMotionFile p;
  p.plotRegular = isOn(host.intParameter("plot_regular"));
  p.plotDetrended = isOn(host.intParameter("plot_detrended"));
  p.motionFile = host.textParameter("sdmfile");
  return p;
}

}  // namespace tsl
