#include "cli/trace.h"

#include <sys/time.h>

#include <ctime>

namespace krt::cli {
namespace {

const char* EventName(TapEvent event) {
  switch (event) {
    case TapEvent::kRawWritten:
      return "raw written";
    case TapEvent::kRawRead:
      return "raw read";
    case TapEvent::kInputPurged:
      return "input purged";
    case TapEvent::kFrameSent:
      return "frame sent";
    case TapEvent::kFrameReceived:
      return "frame received";
    case TapEvent::kReceiveFailed:
      return "receive failed";
  }
  return "?";
}

std::string NowText() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  localtime_r(&tv.tv_sec, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06ld", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<long>(tv.tv_usec));
  return text;
}

}  // namespace

std::string TraceText(const std::string& time_text, TapEvent event, const std::uint8_t* data,
                      std::size_t size, ResultCode code) {
  constexpr std::size_t kPerLine = 16;
  char head[96];
  if (event == TapEvent::kReceiveFailed) {
    std::snprintf(head, sizeof head, "%s %-15s code %d", time_text.c_str(), EventName(event),
                  static_cast<int>(code));
    return std::string(head) + "\n";
  }
  std::snprintf(head, sizeof head, "%s %-15s %4zu bytes", time_text.c_str(), EventName(event),
                size);
  std::string text = head;
  if (data == nullptr || size == 0) return text + "\n";
  const std::string indent(std::string(head).size(), ' ');
  char hex[4];
  for (std::size_t i = 0; i < size; ++i) {
    if (i % kPerLine == 0) text += i == 0 ? " " : "\n" + indent + " ";
    std::snprintf(hex, sizeof hex, " %02X", data[i]);
    text += hex;
  }
  return text + "\n";
}

LinkTap TraceTap(std::FILE* stream) {
  return [stream](TapEvent event, const std::uint8_t* data, std::size_t size, ResultCode code) {
    const std::string text = TraceText(NowText(), event, data, size, code);
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
  };
}

}  // namespace krt::cli
