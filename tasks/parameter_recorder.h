// A Host that passes everything to another and notes each dialog parameter
// read, with its value as text, in the order read: the record of an
// analysis that the study report lists.
#ifndef TESSEL_TASKS_PARAMETER_RECORDER_H
#define TESSEL_TASKS_PARAMETER_RECORDER_H

#include <string>
#include <utility>
#include <vector>

#include "tasks/host.h"
#include "tasks/task_support.h"

namespace tsl {

class ParameterRecorder : public Host {
 public:
  explicit ParameterRecorder(Host& host) : host_(host) {}

  // (name, value) of every parameter read through this host, in order.
  const std::vector<std::pair<std::string, std::string>>& read() const { return read_; }

  std::string textParameter(const char* name) override {
    std::string value = host_.textParameter(name);
    read_.emplace_back(name, value);
    return value;
  }
  int intParameter(const char* name) override {
    const int value = host_.intParameter(name);
    read_.emplace_back(name, std::to_string(value));
    return value;
  }
  float floatParameter(const char* name) override {
    const float value = host_.floatParameter(name);
    read_.emplace_back(name, logText(value));
    return value;
  }
  void setMotionFile(const std::string& path) override { host_.setMotionFile(path); }
  std::optional<std::string> chooseFile(const std::string& caption,
                                        const std::string& initialFolder,
                                        const std::string& filter) override {
    return host_.chooseFile(caption, initialFolder, filter);
  }
  void logLine(const std::string& message) override { host_.logLine(message); }
  void showMessage(const std::string& text) override { host_.showMessage(text); }
  CurrentRun currentRun() override { return host_.currentRun(); }
  void addMap(const Volume& volume, float lower, float upper) override {
    host_.addMap(volume, lower, upper);
  }
  void saveMaps(const std::string& path) override { host_.saveMaps(path); }
  void plot(const SdmDocument& doc, const std::string& titleSuffix) override {
    host_.plot(doc, titleSuffix);
  }

 private:
  Host& host_;
  std::vector<std::pair<std::string, std::string>> read_;
};

}  // namespace tsl

#endif
