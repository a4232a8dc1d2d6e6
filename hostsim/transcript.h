// The transcript: one JSON object per host call,
//   {"call":"zrLogText","args":["..."]}  or with a "result" member for what
// the host handed back. Texts are JSON strings (", \ and control characters
// escaped, bytes >= 0x80 passed through), ints are numbers, floats have 9
// significant digits; NaN and the infinities, which JSON lacks, are the
// strings "nan", "inf" and "-inf".
#ifndef TESSEL_HOSTSIM_TRANSCRIPT_H
#define TESSEL_HOSTSIM_TRANSCRIPT_H

#include <cstdio>
#include <string>
#include <string_view>

namespace tsl::hostsim {

std::string jsonString(std::string_view text);
// A text the plug-in passed: its JSON string, or null for a null pointer.
std::string jsonText(const char* text);
std::string jsonFloat(float value);

// Builds a JSON array or object value by value, in insertion order.
class JsonArray {
 public:
  JsonArray& text(const char* value) { return raw(jsonText(value)); }
  JsonArray& text(std::string_view value) { return raw(jsonString(value)); }
  JsonArray& integer(long long value) { return raw(std::to_string(value)); }
  JsonArray& real(float value) { return raw(jsonFloat(value)); }
  // count floats as an array; [] when count <= 0, null when values is null.
  JsonArray& reals(const float* values, int count);
  JsonArray& null() { return raw("null"); }
  JsonArray& raw(const std::string& json);
  std::string json() const { return "[" + body_ + "]"; }

 private:
  std::string body_;
};

class JsonObject {
 public:
  JsonObject& member(std::string_view name, const std::string& json);
  std::string json() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

// One transcript line, without the line break.
std::string transcriptLine(std::string_view call, const JsonArray& args);
std::string transcriptLine(std::string_view call, const JsonArray& args,
                           const std::string& resultJson);

// Appends lines to a file, each flushed at once so that a crash leaves the
// transcript up to the crash. Without a file it does nothing.
class Transcript {
 public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;
  // Returns false when the file cannot be created.
  bool open(const std::string& path);
  void write(const std::string& line);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace tsl::hostsim

#endif
