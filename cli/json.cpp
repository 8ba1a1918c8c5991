#include "cli/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace krt::cli {
namespace {

// Length of the valid UTF-8 sequence at `s[i]`, or 0 when the bytes there are
// not one (overlong forms, surrogates and code points above U+10FFFF count as
// invalid).
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned b0 = byte(i);
  std::size_t n = 0;
  unsigned min = 0;
  unsigned cp = 0;
  if (b0 < 0x80) return 1;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, min = 0x80, cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, min = 0x800, cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, min = 0x10000, cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void AppendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::optional<JsonValue> Document(std::string* error) {
    JsonValue v;
    Space();
    if (!Value(v, 0)) return Fail(error);
    Space();
    if (pos_ != s_.size()) {
      why_ = "text after the value";
      return Fail(error);
    }
    return v;
  }

 private:
  static constexpr int kMaxDepth = 64;

  std::optional<JsonValue> Fail(std::string* error) {
    if (error != nullptr) *error = why_ + " at offset " + std::to_string(pos_);
    return std::nullopt;
  }
  bool Bad(const char* why) {
    why_ = why;
    return false;
  }
  void Space() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return Bad("unknown literal");
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue& v, int depth) {
    if (depth > kMaxDepth) return Bad("nesting too deep");
    if (pos_ >= s_.size()) return Bad("value expected");
    switch (s_[pos_]) {
      case '{':
        return Object(v, depth);
      case '[':
        return Array(v, depth);
      case '"':
        v.kind = JsonValue::Kind::kString;
        return String(v.string);
      case 't':
        v.kind = JsonValue::Kind::kBool;
        v.boolean = true;
        return Literal("true");
      case 'f':
        v.kind = JsonValue::Kind::kBool;
        return Literal("false");
      case 'n':
        v.kind = JsonValue::Kind::kNull;
        return Literal("null");
      default:
        return Number(v);
    }
  }

  bool Object(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::kObject;
    ++pos_;
    Space();
    if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
    for (;;) {
      Space();
      std::string key;
      if (pos_ >= s_.size() || s_[pos_] != '"') return Bad("member name expected");
      if (!String(key)) return false;
      Space();
      if (pos_ >= s_.size() || s_[pos_] != ':') return Bad("':' expected");
      ++pos_;
      Space();
      JsonValue member;
      if (!Value(member, depth + 1)) return false;
      v.object.push_back(JsonMember{std::move(key), std::move(member)});
      Space();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
      return Bad("',' or '}' expected");
    }
  }

  bool Array(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::kArray;
    ++pos_;
    Space();
    if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
    for (;;) {
      Space();
      JsonValue element;
      if (!Value(element, depth + 1)) return false;
      v.array.push_back(std::move(element));
      Space();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
      return Bad("',' or ']' expected");
    }
  }

  bool Hex4(unsigned& out) {
    if (pos_ + 4 > s_.size()) return Bad("short \\u escape");
    out = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[pos_++];
      out <<= 4;
      if (c >= '0' && c <= '9') {
        out |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        out |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        out |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        return Bad("bad \\u escape");
      }
    }
    return true;
  }

  bool String(std::string& out) {
    ++pos_;  // the opening quote
    while (pos_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"') return ++pos_, true;
      if (c < 0x20) return Bad("control character in string");
      if (c != '\\') {
        const std::size_t n = Utf8Length(s_, pos_);
        if (n == 0) return Bad("invalid UTF-8 in string");
        out.append(s_.substr(pos_, n));
        pos_ += n;
        continue;
      }
      if (++pos_ >= s_.size()) break;
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
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
          unsigned cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned low = 0;
            if (s_.substr(pos_, 2) != "\\u") return Bad("lone surrogate");
            pos_ += 2;
            if (!Hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Bad("lone surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return Bad("lone surrogate");
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          return Bad("bad escape");
      }
    }
    return Bad("unterminated string");
  }

  bool Number(JsonValue& v) {
    const std::size_t start = pos_;
    auto digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
      return pos_ > from;
    };
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '0') {
      ++pos_;
    } else if (!digits()) {
      return Bad("value expected");
    }
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      if (!digits()) return Bad("digits expected after '.'");
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      if (!digits()) return Bad("digits expected in exponent");
    }
    v.kind = JsonValue::Kind::kNumber;
    v.number = std::strtod(std::string(s_.substr(start, pos_ - start)).c_str(), nullptr);
    return true;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  std::string why_;
};

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char escape[8];
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          std::snprintf(escape, sizeof escape, "\\u%04X", c);
          out += escape;
        } else if (c < 0x80) {
          out += static_cast<char>(c);
        } else if (const std::size_t n = Utf8Length(text, i); n != 0) {
          out.append(text.substr(i, n));
          i += n;
          continue;
        } else {
          std::snprintf(escape, sizeof escape, "\\u%04X", c);
          out += escape;
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

void JsonObject::Key(std::string_view key) {
  if (!members_.empty()) members_ += ',';
  members_ += JsonString(key);
  members_ += ':';
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view value) {
  Key(key);
  members_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::int64_t value) {
  Key(key);
  members_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
  Key(key);
  members_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, const JsonObject& value) {
  Key(key);
  members_ += value.Text();
  return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
  Key(key);
  members_ += json;
  return *this;
}

const JsonValue* JsonValue::Find(std::string_view key) const {
  if (kind != Kind::kObject) return nullptr;
  for (const auto& [k, v] : object) {
    if (k == key) return &v;
  }
  return nullptr;
}

std::string JsonValue::StringAt(std::string_view key) const {
  const JsonValue* v = Find(key);
  return v != nullptr && v->kind == Kind::kString ? v->string : std::string();
}

std::optional<JsonValue> ParseJson(std::string_view text, std::string* error) {
  return Parser(text).Document(error);
}

}  // namespace krt::cli
