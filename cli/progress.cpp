#include "cli/progress.h"

#include <cmath>
#include <cstdio>

namespace krt::cli {

void ProgressMeter::Start(std::string label, double units, std::string unit, double now_s) {
  label_ = std::move(label);
  units_ = units;
  unit_ = std::move(unit);
  start_s_ = now_s;
  started_ = true;
}

std::string FormatRate(double units_per_second, const std::string& unit) {
  char text[48];
  if (!std::isfinite(units_per_second) || units_per_second < 0) return "--";
  if (unit == "B") {
    if (units_per_second >= 1024.0 * 1024.0) {
      std::snprintf(text, sizeof text, "%.1f MiB/s", units_per_second / (1024.0 * 1024.0));
    } else if (units_per_second >= 1024.0) {
      std::snprintf(text, sizeof text, "%.1f KiB/s", units_per_second / 1024.0);
    } else {
      std::snprintf(text, sizeof text, "%.0f B/s", units_per_second);
    }
  } else {
    std::snprintf(text, sizeof text, "%.0f %s/s", units_per_second, unit.c_str());
  }
  return text;
}

std::string FormatDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0 || seconds > 360000.0) return "--:--";
  const long total = std::lround(seconds);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

std::string ProgressMeter::Line(unsigned percent, double now_s, std::size_t width) const {
  if (percent > 100) percent = 100;
  constexpr int kBarWidth = 16;
  const int filled = static_cast<int>(percent) * kBarWidth / 100;
  std::string bar = "[";
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
  bar += ']';

  const double elapsed = now_s - start_s_;
  std::string rate = "--";
  std::string left = "--:--";
  if (percent > 0 && elapsed > 0) {
    const double done = units_ * percent / 100.0;
    if (units_ > 0) rate = FormatRate(done / elapsed, unit_);
    left = FormatDuration(elapsed * (100.0 - percent) / percent);
  }
  char tail[96];
  std::snprintf(tail, sizeof tail, " %s %3u%%  %s  %s left", bar.c_str(), percent, rate.c_str(),
                left.c_str());
  // The label gives way first when the line would not fit.
  std::string label = label_;
  const std::size_t tail_size = std::string(tail).size();
  if (label.size() + tail_size > width) {
    label.resize(width > tail_size + 3 ? width - tail_size - 3 : 0);
    if (!label.empty()) label += "...";
  }
  return label + tail;
}

}  // namespace krt::cli
