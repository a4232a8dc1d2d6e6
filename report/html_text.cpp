#include "report/html_text.h"

#include <array>
#include <charconv>
#include <cmath>

namespace tsl {

namespace {

// Enough for 17 significant digits, a sign, a point and an exponent, or for
// the integer part of any finite double in fixed notation.
constexpr std::size_t kNumberBuffer = 400;
constexpr double kCoordinateScale = 10.0;

}  // namespace

std::string escapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string numberText(double value, int significant) {
  // Adding 0 turns -0 into +0 and leaves every other value as it is.
  value += 0.0;
  std::array<char, kNumberBuffer> buffer;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::general, significant);
  return std::string(buffer.data(), result.ptr);
}

std::string coordinateText(double value) {
  double rounded = std::round(value * kCoordinateScale) / kCoordinateScale;
  if (rounded == 0.0) rounded = 0.0;
  std::array<char, kNumberBuffer> buffer;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), rounded,
                                    std::chars_format::fixed, 1);
  std::string text(buffer.data(), result.ptr);
  if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
  return text;
}

}  // namespace tsl
