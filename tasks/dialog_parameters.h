// Reading the dialog's parameters the way every task reads them.
#ifndef TESSEL_TASKS_DIALOG_PARAMETERS_H
#define TESSEL_TASKS_DIALOG_PARAMETERS_H

#include <cstddef>
#include <string>

#include "tasks/host.h"

namespace tsl {

// A switch of the dialog: on when not 0.
inline bool isOn(int value) { return value != 0; }

// value, the dialog parameter name, as a count of volumes. Throws
// std::invalid_argument "Dialog parameter <name> is <value>: a number of
// volumes cannot be negative" for a negative value.
std::size_t volumeCount(const char* name, int value);

// The number the user typed for a float parameter: the host hands over the
// nearest float (2.8 arrives as 2.7999999523), which is turned back into the
// shortest decimal that reads as that float (2.8), in double. A figure
// exactly at a typed limit then compares as equal to it.
double typedDecimal(float value);

// The plot switches and the motion file, which every task that works on the
// chosen motion file reads last of its first parameters, in this order:
// "plot_regular", "plot_detrended", "sdmfile".
struct PlotsAndMotionFile {
  bool plotRegular = false;
  bool plotDetrended = false;
  std::string motionFile;
};
PlotsAndMotionFile readPlotsAndMotionFile(Host& host);

}  // namespace tsl

#endif
