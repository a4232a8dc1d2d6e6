#include "hostsim/parameters.h"

#include <charconv>
#include <system_error>

namespace tsl::hostsim {

namespace {

// The text without leading blanks and without one leading '+', which
// std::from_chars does not accept; a '-' stays, from_chars reads it.
std::string_view numberStart(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\r' || text[i] == '\f' || text[i] == '\v')) {
    ++i;
  }
  if (i < text.size() && text[i] == '+' && i + 1 < text.size() && text[i + 1] != '-') ++i;
  return text.substr(i);
}

}  // namespace

int textToInt(std::string_view text) {
  const std::string_view s = numberStart(text);
  int value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  (void)end;
  return error == std::errc() ? value : 0;
}

float textToFloat(std::string_view text) {
  const std::string_view s = numberStart(text);
  float value = 0.0f;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  (void)end;
  return error == std::errc() ? value : 0.0f;
}

std::string Parameters::text(const std::string& name) const {
  const auto found = values_.find(name);
  return found == values_.end() ? std::string() : found->second;
}

}  // namespace tsl::hostsim
