#include "hostsim/transcript.h"

#include <charconv>
#include <cmath>

namespace tsl::hostsim {

std::string jsonString(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (byte < 0x20) {
          json += "\\u00";
          json += kHex[byte >> 4];
          json += kHex[byte & 0xfu];
        } else {
          json += c;
        }
    }
  }
  json += '"';
  return json;
}

std::string jsonText(const char* text) { return text == nullptr ? "null" : jsonString(text); }

std::string jsonFloat(float value) {
  if (std::isnan(value)) return "\"nan\"";
  if (std::isinf(value)) return value > 0 ? "\"inf\"" : "\"-inf\"";
  char buffer[64];
  // The same digits as printf's %.9g, without its locale.
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                    std::chars_format::general, 9);
  return std::string(buffer, result.ptr);
}

JsonArray& JsonArray::reals(const float* values, int count) {
  if (values == nullptr && count > 0) return null();
  std::string json = "[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) json += ',';
    json += jsonFloat(values[i]);
  }
  json += ']';
  return raw(json);
}

JsonArray& JsonArray::raw(const std::string& json) {
  if (!body_.empty()) body_ += ',';
  body_ += json;
  return *this;
}

JsonObject& JsonObject::member(std::string_view name, const std::string& json) {
  if (!body_.empty()) body_ += ',';
  body_ += jsonString(name);
  body_ += ':';
  body_ += json;
  return *this;
}

std::string transcriptLine(std::string_view call, const JsonArray& args) {
  return "{\"call\":" + jsonString(call) + ",\"args\":" + args.json() + "}";
}

std::string transcriptLine(std::string_view call, const JsonArray& args,
                           const std::string& resultJson) {
  return "{\"call\":" + jsonString(call) + ",\"args\":" + args.json() +
         ",\"result\":" + resultJson + "}";
}

Transcript::~Transcript() {
  if (file_ != nullptr) std::fclose(file_);
}

bool Transcript::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "wb");
  return file_ != nullptr;
}

void Transcript::write(const std::string& line) {
  if (file_ == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace tsl::hostsim
