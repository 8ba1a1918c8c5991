// The progress bar of a terminal: one line with a bar, the percentage, the
// rate and the time left, rewritten in place.
#pragma once

#include <string>

namespace krt::cli {

class ProgressMeter {
 public:
  // A new step: `units` of `unit` in all ("B" for bytes, shown as B/s, KiB/s
  // or MiB/s; any other unit as "<n> <unit>/s"), timed from `now_s`.
  void Start(std::string label, double units, std::string unit, double now_s);

  const std::string& Label() const { return label_; }
  bool Started() const { return started_; }

  // The line for `percent` (0 to 100) at `now_s`, at most `width` columns:
  //   "Firmware: Programming Flash ... [#######         ]  42%  3.1 KiB/s  0:12 left"
  // The rate and the time left come from the time since Start; before the
  // first percent they show "--".
  std::string Line(unsigned percent, double now_s, std::size_t width = 100) const;

 private:
  std::string label_;
  double units_ = 0;
  std::string unit_;
  double start_s_ = 0;
  bool started_ = false;
};

// "3.1 KiB/s", "512 B/s", "1.2 MiB/s"; "12 rows/s" for another unit.
std::string FormatRate(double units_per_second, const std::string& unit);

// "0:07", "12:34", "1:02:03"; "--:--" for a negative or unknown value.
std::string FormatDuration(double seconds);

}  // namespace krt::cli
