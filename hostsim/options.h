// The simulator's command line.
#ifndef TESSEL_HOSTSIM_OPTIONS_H
#define TESSEL_HOSTSIM_OPTIONS_H

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tsl::hostsim {

// A bad command line; what() says what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  bool help = false;
  std::optional<std::string> plugin;  // unset: the library beside the executable
  std::optional<std::string> fmr;
  std::optional<int> documentType;
  int documentId = 0;  // the current document's id, when there is one
  std::array<int, 3> version{3, 6, 0};
  std::vector<std::pair<std::string, std::string>> params;  // in command-line order
  // Answers to successive file dialogs: a path, or nullopt for --cancel.
  std::vector<std::optional<std::string>> answers;
  std::vector<std::string> tasks;  // in order of execution
  std::optional<std::string> plotsDir;
  std::optional<std::string> transcript;
  std::optional<std::array<int, 3>> dims;
  std::optional<std::array<float, 3>> voxelSize;
  std::optional<int> volumes;
  std::optional<std::array<int, 3>> mapDims;
  bool noMapSlices = false;
  // Calls execute for the tasks even after initPlugin returned false.
  bool ignoreRefusal = false;
};

// Parses the arguments after the program name. Options that take one value
// may be given once; --param, --choose, --cancel and --task repeat.
// Throws UsageError naming the offending option.
Options parseOptions(const std::vector<std::string>& args);

// The --help text: one line per option, and the exit statuses.
std::string usageText();

}  // namespace tsl::hostsim

#endif
