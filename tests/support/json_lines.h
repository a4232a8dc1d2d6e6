// A small JSON value and parser for the simulator's transcript lines.
#ifndef TESSEL_TESTS_SUPPORT_JSON_LINES_H
#define TESSEL_TESTS_SUPPORT_JSON_LINES_H

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tsl::testing {

class JsonValue {
 public:
  enum class Kind { Null, Boolean, Number, String, Array, Object };

  JsonValue() = default;
  static JsonValue boolean(bool value);
  static JsonValue number(double value);
  static JsonValue string(std::string value);
  static JsonValue array(std::vector<JsonValue> items);
  static JsonValue object(std::vector<std::pair<std::string, JsonValue>> members);

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Kind::Null; }
  bool isNumber() const { return kind_ == Kind::Number; }
  bool isString() const { return kind_ == Kind::String; }
  bool isArray() const { return kind_ == Kind::Array; }
  bool isObject() const { return kind_ == Kind::Object; }

  // Each accessor throws std::runtime_error when the value is of another kind.
  bool asBool() const;
  // A number; also the strings "nan", "inf" and "-inf" the transcript writes
  // for floats that JSON cannot hold.
  double asNumber() const;
  float asFloat() const { return static_cast<float>(asNumber()); }
  // A number that is an integer.
  long long asInt() const;
  const std::string& text() const;
  const std::vector<JsonValue>& items() const;  // array
  std::size_t size() const { return items().size(); }
  const JsonValue& operator[](std::size_t index) const;  // array; throws when out of range
  std::vector<float> floats() const;                     // array of numbers
  std::vector<long long> ints() const;                   // array of integers
  bool has(const std::string& key) const;                // object
  const JsonValue& at(const std::string& key) const;     // object; throws when absent
  const std::vector<std::pair<std::string, JsonValue>>& members() const;

  // Compact JSON text, for failure messages.
  std::string dump() const;

 private:
  Kind kind_ = Kind::Null;
  bool boolean_ = false;
  double number_ = 0.0;
  std::string text_;
  std::vector<JsonValue> items_;
  std::vector<std::pair<std::string, JsonValue>> members_;
};

// Parses one JSON text (surrounding white space allowed). Bytes >= 0x80 in
// strings are taken as they are. Throws std::runtime_error naming the offset.
JsonValue parseJson(std::string_view text);

}  // namespace tsl::testing

#endif
