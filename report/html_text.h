// Text and numbers as the study report's page writes them: HTML-escaped
// text, and numbers short enough to keep a page of many traces small. No
// locale is involved.
#ifndef TESSEL_REPORT_HTML_TEXT_H
#define TESSEL_REPORT_HTML_TEXT_H

#include <string>
#include <string_view>

namespace tsl {

// text with & < > " ' written as character references, safe in element
// content and in quoted attribute values alike.
std::string escapeHtml(std::string_view text);

// value with at most significant digits (1 to 17) in the shortest of plain
// or exponent notation ("0.1235", "1.5e-06", "1234"); never "-0". Not-a-number
// and infinities as "nan", "inf" and "-inf".
std::string numberText(double value, int significant = 4);

// A drawing coordinate: value rounded to one decimal, without a trailing
// ".0" ("12.5", "300", "-4"); never "-0". REQUIRES: value is finite.
std::string coordinateText(double value);

}  // namespace tsl

#endif
