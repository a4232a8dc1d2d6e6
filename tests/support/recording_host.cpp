#include "tests/support/recording_host.h"

#include <charconv>
#include <cstdio>

#include "designmatrix/io_error.h"

namespace tsl::test {

void RecordingHost::set(const std::string& name, float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  parameters[name] = text;
}

std::string RecordingHost::textParameter(const char* name) {
  parametersRead.emplace_back(name);
  const auto found = parameters.find(name);
  return found == parameters.end() ? std::string() : found->second;
}

int RecordingHost::intParameter(const char* name) {
  const std::string text = textParameter(name);
  int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

float RecordingHost::floatParameter(const char* name) {
  const std::string text = textParameter(name);
  float value = 0.0f;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

void RecordingHost::setMotionFile(const std::string& path) {
  parameters["sdmfile"] = path;
  calls.push_back("set " + path);
}

std::optional<std::string> RecordingHost::chooseFile(const std::string& caption,
                                                     const std::string& initialFolder,
                                                     const std::string& filter) {
  dialogs.push_back({caption, initialFolder, filter});
  calls.push_back("dialog " + caption);
  if (answers.empty()) return std::nullopt;
  std::optional<std::string> answer = answers.front();
  answers.pop_front();
  return answer;
}

void RecordingHost::logLine(const std::string& message) {
  logLines.push_back("Tessel>  " + message);
  calls.push_back("log " + logLines.back());
}

void RecordingHost::showMessage(const std::string& text) {
  messages.push_back(text);
  calls.push_back("message " + text);
}

void RecordingHost::addMap(const Volume& volume, float lower, float upper) {
  maps.push_back({volume, lower, upper});
  calls.push_back("map " + std::to_string(maps.size()));
}

void RecordingHost::saveMaps(const std::string& path) {
  if (unwritable.count(path) != 0) throw IOError("Failed writing file: " + path);
  saves.push_back({path, maps.size()});
  calls.push_back("save " + path);
}

void RecordingHost::plot(const SdmDocument& doc, const std::string& titleSuffix) {
  Plot p{doc.path, titleSuffix, doc.names, doc.columns, {}};
  for (std::size_t i = 0; i < doc.red.size(); ++i) {
    p.colours.push_back({doc.red[i], doc.green[i], doc.blue[i]});
  }
  calls.push_back("plot " + doc.path + titleSuffix);
  plots.push_back(std::move(p));
}

}  // namespace tsl::test
