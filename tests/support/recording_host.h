// A Host for in-process task tests: answers from what the test set up and
// records every call, in order, for the test to inspect.
#ifndef TESSEL_TESTS_SUPPORT_RECORDING_HOST_H
#define TESSEL_TESTS_SUPPORT_RECORDING_HOST_H

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tasks/host.h"

namespace tsl::test {

class RecordingHost : public Host {
 public:
  struct Map {
    Volume volume;
    float lower = 0.0f;
    float upper = 0.0f;
  };
  struct Save {
    std::string path;
    std::size_t maps = 0;  // maps of the run at the time of the save
  };
  // What the task asked to plot: the host titles the window with the file
  // name of path followed by titleSuffix.
  struct Plot {
    std::string path;
    std::string titleSuffix;
    std::vector<std::string> names;
    std::vector<std::vector<float>> columns;
    std::vector<std::array<int, 3>> colours;  // red, green, blue of each curve
  };
  struct FileDialog {
    std::string caption, initialFolder, filter;
  };

  // What the dialog holds; texts are converted as the host converts them
  // (an unset or unreadable number is 0).
  std::map<std::string, std::string> parameters;
  // Answers to successive file dialogs; an empty optional cancels, and a
  // dialog with no answer left counts as cancelled.
  std::deque<std::optional<std::string>> answers;
  CurrentRun run;
  // saveMaps throws for these paths, as for a file the host did not write.
  std::set<std::string> unwritable;

  std::vector<std::string> logLines;  // as the log pane shows them, "Tessel>  ..."
  std::vector<std::string> messages;
  std::vector<FileDialog> dialogs;
  std::vector<Map> maps;
  std::vector<Save> saves;
  std::vector<Plot> plots;
  // One entry per call that changes what the user sees or gets, in order:
  // "log <line>", "message <text>", "dialog <caption>", "set <path>",
  // "map <n>", "save <path>", "plot <document path><title suffix>".
  std::vector<std::string> calls;
  // Names of the parameters read, in order.
  std::vector<std::string> parametersRead;

  void set(const std::string& name, const std::string& value) { parameters[name] = value; }
  void set(const std::string& name, int value) { parameters[name] = std::to_string(value); }
  void set(const std::string& name, float value);

  std::string textParameter(const char* name) override;
  int intParameter(const char* name) override;
  float floatParameter(const char* name) override;
  void setMotionFile(const std::string& path) override;
  std::optional<std::string> chooseFile(const std::string& caption,
                                        const std::string& initialFolder,
                                        const std::string& filter) override;
  void logLine(const std::string& message) override;
  void showMessage(const std::string& text) override;
  CurrentRun currentRun() override { return run; }
  void addMap(const Volume& volume, float lower, float upper) override;
  void saveMaps(const std::string& path) override;
  void plot(const SdmDocument& doc, const std::string& titleSuffix) override;
};

}  // namespace tsl::test

#endif
