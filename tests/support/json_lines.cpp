#include "tests/support/json_lines.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace tsl::testing {

namespace {

const char* kindName(JsonValue::Kind kind) {
  switch (kind) {
    case JsonValue::Kind::Null:
      return "null";
    case JsonValue::Kind::Boolean:
      return "a boolean";
    case JsonValue::Kind::Number:
      return "a number";
    case JsonValue::Kind::String:
      return "a string";
    case JsonValue::Kind::Array:
      return "an array";
    case JsonValue::Kind::Object:
      return "an object";
  }
  return "?";
}

[[noreturn]] void wrongKind(const JsonValue& value, const char* wanted) {
  throw std::runtime_error(std::string("JSON value ") + value.dump() + " is " +
                           kindName(value.kind()) + ", not " + wanted);
}

void appendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xc0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xe0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  }
}

std::string quote(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (c == '\n') {
      json += "\\n";
    } else if (byte < 0x20) {
      json += "\\u00";
      json += kHex[byte >> 4];
      json += kHex[byte & 0xf];
    } else {
      json += c;
    }
  }
  return json + "\"";
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  JsonValue document() {
    JsonValue value = parseValue(0);
    skipBlanks();
    if (pos_ != text_.size()) fail("text after the value");
    return value;
  }

 private:
  static constexpr int kMaxDepth = 64;

  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(pos_) + " of " +
                             std::string(text_));
  }

  void skipBlanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool consume(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  JsonValue parseValue(int depth) {
    if (depth > kMaxDepth) fail("nesting too deep");
    skipBlanks();
    if (pos_ >= text_.size()) fail("missing value");
    const char c = text_[pos_];
    if (c == '{') return parseObject(depth);
    if (c == '[') return parseArray(depth);
    if (c == '"') return JsonValue::string(parseString());
    if (consume("null")) return JsonValue();
    if (consume("true")) return JsonValue::boolean(true);
    if (consume("false")) return JsonValue::boolean(false);
    return parseNumber();
  }

  JsonValue parseNumber() {
    const std::size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    while (pos_ < text_.size() &&
           (std::isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.' ||
            text_[pos_] == 'e' || text_[pos_] == 'E' || text_[pos_] == '+' || text_[pos_] == '-')) {
      ++pos_;
    }
    double value = 0.0;
    const char* first = text_.data() + start;
    const char* last = text_.data() + pos_;
    const auto [stop, error] = std::from_chars(first, last, value);
    if (start == pos_ || error != std::errc() || stop != last) {
      pos_ = start;
      fail("bad value");
    }
    return JsonValue::number(value);
  }

  unsigned hex4() {
    if (pos_ + 4 > text_.size()) fail("short \\u escape");
    unsigned code = 0;
    const auto [stop, error] =
        std::from_chars(text_.data() + pos_, text_.data() + pos_ + 4, code, 16);
    if (error != std::errc() || stop != text_.data() + pos_ + 4) fail("bad \\u escape");
    pos_ += 4;
    return code;
  }

  std::string parseString() {
    ++pos_;  // the opening quote
    std::string out;
    while (true) {
      if (pos_ >= text_.size()) fail("unterminated string");
      const char c = text_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("control character in string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) fail("unterminated escape");
      const char e = text_[pos_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code = hex4();
          if (code >= 0xd800 && code < 0xdc00 && consume("\\u")) {
            const unsigned low = hex4();
            code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
          }
          appendUtf8(out, code);
          break;
        }
        default:
          fail("bad escape");
      }
    }
  }

  JsonValue parseArray(int depth) {
    ++pos_;
    std::vector<JsonValue> items;
    skipBlanks();
    if (consume("]")) return JsonValue::array(std::move(items));
    while (true) {
      items.push_back(parseValue(depth + 1));
      skipBlanks();
      if (consume("]")) return JsonValue::array(std::move(items));
      if (!consume(",")) fail("expected , or ]");
    }
  }

  JsonValue parseObject(int depth) {
    ++pos_;
    std::vector<std::pair<std::string, JsonValue>> members;
    skipBlanks();
    if (consume("}")) return JsonValue::object(std::move(members));
    while (true) {
      skipBlanks();
      if (pos_ >= text_.size() || text_[pos_] != '"') fail("expected a member name");
      std::string key = parseString();
      skipBlanks();
      if (!consume(":")) fail("expected :");
      JsonValue value = parseValue(depth + 1);
      members.emplace_back(std::move(key), std::move(value));
      skipBlanks();
      if (consume("}")) return JsonValue::object(std::move(members));
      if (!consume(",")) fail("expected , or }");
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

JsonValue JsonValue::boolean(bool value) {
  JsonValue v;
  v.kind_ = Kind::Boolean;
  v.boolean_ = value;
  return v;
}

JsonValue JsonValue::number(double value) {
  JsonValue v;
  v.kind_ = Kind::Number;
  v.number_ = value;
  return v;
}

JsonValue JsonValue::string(std::string value) {
  JsonValue v;
  v.kind_ = Kind::String;
  v.text_ = std::move(value);
  return v;
}

JsonValue JsonValue::array(std::vector<JsonValue> items) {
  JsonValue v;
  v.kind_ = Kind::Array;
  v.items_ = std::move(items);
  return v;
}

JsonValue JsonValue::object(std::vector<std::pair<std::string, JsonValue>> members) {
  JsonValue v;
  v.kind_ = Kind::Object;
  v.members_ = std::move(members);
  return v;
}

bool JsonValue::asBool() const {
  if (kind_ != Kind::Boolean) wrongKind(*this, "a boolean");
  return boolean_;
}

double JsonValue::asNumber() const {
  if (kind_ == Kind::Number) return number_;
  if (kind_ == Kind::String) {
    if (text_ == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (text_ == "inf") return std::numeric_limits<double>::infinity();
    if (text_ == "-inf") return -std::numeric_limits<double>::infinity();
  }
  wrongKind(*this, "a number");
}

long long JsonValue::asInt() const {
  const double value = asNumber();
  if (!(std::fabs(value) < 9.0e15) || value != std::floor(value)) wrongKind(*this, "an integer");
  return static_cast<long long>(value);
}

const std::string& JsonValue::text() const {
  if (kind_ != Kind::String) wrongKind(*this, "a string");
  return text_;
}

const std::vector<JsonValue>& JsonValue::items() const {
  if (kind_ != Kind::Array) wrongKind(*this, "an array");
  return items_;
}

const JsonValue& JsonValue::operator[](std::size_t index) const {
  const auto& all = items();
  if (index >= all.size()) {
    throw std::runtime_error("JSON array " + dump() + " has no element " + std::to_string(index));
  }
  return all[index];
}

std::vector<float> JsonValue::floats() const {
  std::vector<float> values;
  for (const JsonValue& item : items()) values.push_back(item.asFloat());
  return values;
}

std::vector<long long> JsonValue::ints() const {
  std::vector<long long> values;
  for (const JsonValue& item : items()) values.push_back(item.asInt());
  return values;
}

const std::vector<std::pair<std::string, JsonValue>>& JsonValue::members() const {
  if (kind_ != Kind::Object) wrongKind(*this, "an object");
  return members_;
}

bool JsonValue::has(const std::string& key) const {
  for (const auto& member : members()) {
    if (member.first == key) return true;
  }
  return false;
}

const JsonValue& JsonValue::at(const std::string& key) const {
  for (const auto& member : members()) {
    if (member.first == key) return member.second;
  }
  throw std::runtime_error("JSON object " + dump() + " has no member \"" + key + "\"");
}

std::string JsonValue::dump() const {
  switch (kind_) {
    case Kind::Null:
      return "null";
    case Kind::Boolean:
      return boolean_ ? "true" : "false";
    case Kind::Number: {
      char buffer[64];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, number_);
      return std::string(buffer, result.ptr);
    }
    case Kind::String:
      return quote(text_);
    case Kind::Array: {
      std::string json = "[";
      for (std::size_t i = 0; i < items_.size(); ++i) {
        if (i > 0) json += ',';
        json += items_[i].dump();
      }
      return json + "]";
    }
    case Kind::Object: {
      std::string json = "{";
      for (std::size_t i = 0; i < members_.size(); ++i) {
        if (i > 0) json += ',';
        json += quote(members_[i].first);
        json += ':';
        json += members_[i].second.dump();
      }
      return json + "}";
    }
  }
  return "?";
}

JsonValue parseJson(std::string_view text) { return Parser(text).document(); }

}  // namespace tsl::testing
