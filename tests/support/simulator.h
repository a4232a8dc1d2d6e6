// Runs the host simulator (Zorvane.exe) on the built plug-in and hands back
// what the host saw: exit status, log (standard output), standard error, the
// message boxes and the transcript of every host call.
#ifndef TESSEL_TESTS_SUPPORT_SIMULATOR_H
#define TESSEL_TESTS_SUPPORT_SIMULATOR_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/json_lines.h"

namespace tsl::testing {

// One transcript line: {"call":NAME,"args":[...]} with an optional "result".
struct HostCall {
  std::string call;
  std::vector<JsonValue> args;
  std::optional<JsonValue> result;  // absent when the host returned nothing
  std::string line;                 // the line as written, for failure messages

  // Argument i; throws std::runtime_error naming the call when it is missing.
  const JsonValue& arg(std::size_t i) const;
  const std::string& text(std::size_t i) const { return arg(i).text(); }
  double number(std::size_t i) const { return arg(i).asNumber(); }
};

struct SimulatorRun {
  // The process's exit status (Linux: 128 + signal number when it was killed).
  int exitCode = -1;
  std::string out;  // standard output: the log texts, as the plug-in sent them
  std::string err;  // standard error: message boxes, the simulator's reports
  std::vector<HostCall> transcript;

  // The texts of the zrMessageBox calls, in order (the "message: TEXT" lines of
  // err; taken from the transcript, so texts with line breaks stay whole).
  std::vector<std::string> messages() const;
  // The texts of the zrLogText calls, in order (together they make out).
  std::vector<std::string> logTexts() const;
  // Every call of that name, in order.
  std::vector<const HostCall*> calls(const std::string& name) const;
  // The names of all calls, in order.
  std::vector<std::string> callNames() const;
  // Exit status, standard error and the transcript, for failure messages.
  std::string describe() const;
};

// Runs Zorvane.exe (variant "": the full host; "noversion": no
// zrGetVersionOfZorvane; "noparams": no zrGetStringParameter; "nodocumentid":
// no zrGetIDOfCurrentDocument) with args,
// adding --transcript <temporary file> and, unless args name one,
// --plugin <pluginPath()>. No shell is involved: every argument reaches the
// simulator as it is. Throws std::runtime_error when the process cannot be
// started (under wine, a start that wine could not complete is tried up to
// three times) or its transcript cannot be parsed.
SimulatorRun runSimulator(const std::vector<std::string>& args, const std::string& variant = "");

// The built plug-in library and simulator, as paths the running test can pass
// to the simulator and to file functions (Windows drive paths under wine).
std::string pluginPath();
std::string simulatorPath(const std::string& variant = "");

// A build-host path (as CMake hands them out) in the form the running test and
// the simulator use: unchanged on Linux, Z:\... under wine.
std::string hostPath(const std::string& buildPath);

}  // namespace tsl::testing

#endif
