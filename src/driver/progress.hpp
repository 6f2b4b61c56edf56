// A one-line progress indicator for a terminal on standard error: model time
// against the stop time, steps per second and the time left, refreshed a few
// times a second and cleared at the end. Silent when not enabled.
#pragma once

#include <chrono>
#include <iosfwd>
#include <string>

namespace qel {

class Progress {
 public:
  Progress(std::ostream& err, bool enabled);
  ~Progress() { clear(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // After a step: model time, stop time, steps taken so far in this run, and
  // a remark such as the time since which the fields hold NaN.
  void step(double time, double tstop, long steps, const std::string& remark);
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& err_;
  bool enabled_;
  bool shown_ = false;
  Clock::time_point start_, last_;
  double t_start_ = 0.0;
  bool have_start_ = false;
};

}  // namespace qel
