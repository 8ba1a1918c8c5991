#include "sim/fault.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sim/probe_model.h"

namespace krt::sim {
namespace {

// What each kind applies to and which values it takes.
struct KindInfo {
  FaultKind kind;
  const char* name;
  std::array<int, 2> codes;  // the requests it can act on; {0, 0}: every request
  bool link;                 // also the link-level messages (with code=probe / code=speed)
  bool ms;                   // takes ms=
  bool row;                  // takes row=
  int pos_limit;             // takes pos= below this; 0: no pos=
};

constexpr KindInfo kKinds[] = {
    {FaultKind::kDrop, "drop", {0, 0}, true, false, false, 0},
    {FaultKind::kCorrupt, "corrupt", {0, 0}, true, false, false, 0},
    {FaultKind::kDelay, "delay", {0, 0}, true, true, false, 0},
    {FaultKind::kSilent, "silent", {0, 0}, true, false, false, 0},
    {FaultKind::kHangup, "hangup", {0, 0}, true, false, false, 0},
    {FaultKind::kLength, "length", {0, 0}, true, false, false, 0},
    {FaultKind::kCode, "code", {0, 0}, false, false, false, 0},
    {FaultKind::kShort, "short", {0, 0}, true, false, false, 0},
    {FaultKind::kStatus, "status", {103, 104}, false, false, false, 0},
    {FaultKind::kEcho114, "echo114", {114, 114}, false, false, false, 0},
    {FaultKind::kFirstReading, "first-reading", {107, 107}, false, false, true, kLogicRowFuses},
    {FaultKind::kSecondReading, "second-reading", {107, 107}, false, false, true, kLogicRowFuses},
    {FaultKind::kUes, "ues", {109, 109}, false, false, false, kLogicUesBits},
    {FaultKind::kReadback, "readback", {101, 101}, false, false, false, 1491},
};

const KindInfo& Info(FaultKind kind) {
  for (const KindInfo& k : kKinds) {
    if (k.kind == kind) return k;
  }
  return kKinds[0];
}

bool IsLinkCode(int code) { return code == kSpeedProbeCode || code == kSpeedChangeCode; }

bool InCodes(const KindInfo& info, int code) {
  if (info.codes[0] == 0) return !IsLinkCode(code);
  return code == info.codes[0] || code == info.codes[1];
}

bool ParseNumber(const std::string& text, long max, long& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  const bool hex = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const long v = std::strtol(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || v > max) return false;
  value = v;
  return true;
}

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

// Applies one key=value to `f`.
bool ApplyValue(Fault& f, const KindInfo& info, const std::string& key, const std::string& value,
                std::string* error) {
  long v = 0;
  const std::string bad = "bad value for " + key + ": '" + value + "'";
  if (key == "at") {
    if (!ParseNumber(value, 1000000000, v) || v < 1) return Fail(error, bad);
    f.at = static_cast<int>(v);
  } else if (key == "times") {
    if (!ParseNumber(value, 1000000000, v)) return Fail(error, bad);
    f.times = static_cast<int>(v);
  } else if (key == "code") {
    if (value == "probe") {
      f.code = kSpeedProbeCode;
    } else if (value == "speed") {
      f.code = kSpeedChangeCode;
    } else if (ParseNumber(value, 255, v)) {
      f.code = static_cast<int>(v);
    } else {
      return Fail(error, bad);
    }
    if (IsLinkCode(*f.code) ? !info.link : !InCodes(info, *f.code)) {
      return Fail(error, std::string(info.name) + " does not apply to code=" + value);
    }
  } else if (key == "ms" && info.ms) {
    if (!ParseNumber(value, 600000, v)) return Fail(error, bad);
    f.ms = static_cast<std::uint32_t>(v);
  } else if (key == "row" && info.row) {
    if (!ParseNumber(value, kLogicRows - 1, v)) return Fail(error, bad);
    f.row = static_cast<int>(v);
  } else if (key == "pos" && info.pos_limit > 0) {
    if (!ParseNumber(value, info.pos_limit - 1, v)) return Fail(error, bad);
    f.pos = static_cast<int>(v);
  } else {
    return Fail(error, std::string(info.name) + " takes no " + key + "=");
  }
  return true;
}

}  // namespace

const char* FaultKindName(FaultKind kind) { return Info(kind).name; }

bool FaultCounts(const Fault& fault, const MessageKey& message) {
  if (fault.code) {
    if (*fault.code != message.code) return false;
  } else if (!InCodes(Info(fault.kind), message.code)) {
    return false;
  }
  if (fault.row && message.row != fault.row) return false;
  return true;
}

std::optional<Fault> ParseFault(const std::string& text, std::string* error) {
  const std::size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  const KindInfo* info = nullptr;
  for (const KindInfo& k : kKinds) {
    if (name == k.name) info = &k;
  }
  if (info == nullptr) {
    Fail(error, "unknown fault kind '" + name + "'");
    return std::nullopt;
  }
  Fault f;
  f.kind = info->kind;
  if (colon == std::string::npos) return f;
  std::size_t start = colon + 1;
  for (;;) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0) {
      Fail(error, "expected key=value, got '" + item + "'");
      return std::nullopt;
    }
    if (!ApplyValue(f, *info, item.substr(0, eq), item.substr(eq + 1), error)) return std::nullopt;
    if (comma == text.size()) break;
    start = comma + 1;
  }
  return f;
}

std::string FormatFault(const Fault& f) {
  std::string out = FaultKindName(f.kind);
  std::string values;
  auto add = [&values](const std::string& item) { values += (values.empty() ? "" : ",") + item; };
  if (f.at != 1) add("at=" + std::to_string(f.at));
  if (f.times != 1) add("times=" + std::to_string(f.times));
  if (f.code) {
    add(*f.code == kSpeedProbeCode    ? std::string("code=probe")
        : *f.code == kSpeedChangeCode ? std::string("code=speed")
                                      : "code=" + std::to_string(*f.code));
  }
  if (f.ms != 0) add("ms=" + std::to_string(f.ms));
  if (f.row) add("row=" + std::to_string(*f.row));
  if (f.pos != 0) add("pos=" + std::to_string(f.pos));
  return values.empty() ? out : out + ":" + values;
}

}  // namespace krt::sim
