// JSON for the tool's machine-readable output: a writer of one object per
// line, and a small reader for the lines the tool's own children write (the
// parallel runner reads them back).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krt::cli {

// `text` as a JSON string, quotes included. Quotes, backslashes and control
// characters are escaped; valid UTF-8 passes as it is; every byte that is not
// part of a valid UTF-8 sequence becomes \u00XX (its value as a code point),
// so the output is always valid UTF-8 and valid JSON.
std::string JsonString(std::string_view text);

// Builds one JSON object, members in the order they are added.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view value);
  JsonObject& Add(std::string_view key, const char* value) {
    return Add(key, std::string_view(value));
  }
  JsonObject& Add(std::string_view key, const std::string& value) {
    return Add(key, std::string_view(value));
  }
  JsonObject& Add(std::string_view key, std::int64_t value);
  JsonObject& Add(std::string_view key, int value) { return Add(key, std::int64_t{value}); }
  JsonObject& Add(std::string_view key, unsigned value) { return Add(key, std::int64_t{value}); }
  JsonObject& Add(std::string_view key, bool value);
  JsonObject& Add(std::string_view key, const JsonObject& value);
  // A member whose value is already JSON text.
  JsonObject& AddRaw(std::string_view key, std::string_view json);

  // The object's text, "{...}", on one line.
  std::string Text() const { return "{" + members_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string members_;
};

struct JsonMember;

// A parsed JSON value.
struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<JsonValue> array;
  // Members in their order of appearance (a key given twice keeps both).
  std::vector<JsonMember> object;

  // The member `key` of an object, or nullptr.
  const JsonValue* Find(std::string_view key) const;
  // The string member `key`, or "" when it is missing or not a string.
  std::string StringAt(std::string_view key) const;
};

// A member of an object. Named fields rather than a std::pair, which would
// need JsonValue complete inside its own definition.
struct JsonMember {
  std::string key;
  JsonValue value;
};

// Parses one complete JSON text (surrounding white space allowed). nullopt
// with `error` set when it is not valid JSON; nesting deeper than 64 levels
// is refused.
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error = nullptr);

}  // namespace krt::cli
