// The host's dialog parameters: values are kept as text and converted by the
// call that reads them, as the host's dialog does.
#ifndef TESSEL_HOSTSIM_PARAMETERS_H
#define TESSEL_HOSTSIM_PARAMETERS_H

#include <map>
#include <string>
#include <string_view>

namespace tsl::hostsim {

// The leading decimal integer of text (blanks and one sign allowed before it,
// anything may follow it): "-3" gives -3, "1.5" gives 1. 0 when the text does
// not start with a number or the number does not fit an int. Locale-free.
int textToInt(std::string_view text);

// The leading decimal floating-point number of text (blanks and one sign
// allowed before it, "inf" and "nan" accepted): "0.5" gives 0.5f. 0 when the
// text does not start with a number or it is out of float range. Locale-free.
float textToFloat(std::string_view text);

class Parameters {
 public:
  void set(const std::string& name, const std::string& value) { values_[name] = value; }
  // The stored text; empty when the parameter was never set.
  std::string text(const std::string& name) const;
  // The stored text converted; 0 when the parameter was never set.
  int integer(const std::string& name) const { return textToInt(text(name)); }
  float real(const std::string& name) const { return textToFloat(text(name)); }

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace tsl::hostsim

#endif
