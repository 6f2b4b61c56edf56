#include "driver/progress.hpp"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace qel {

namespace {
// Refresh at most four times a second.
constexpr auto kInterval = std::chrono::milliseconds(250);
}  // namespace

Progress::Progress(std::ostream& err, bool enabled)
    : err_(err), enabled_(enabled), start_(Clock::now()), last_(start_) {}

void Progress::step(double time, double tstop, long steps, const std::string& remark) {
  if (!enabled_) return;
  const auto now = Clock::now();
  if (!have_start_) {
    t_start_ = time;
    have_start_ = true;
  }
  if (now - last_ < kInterval) return;
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0.0 ? double(steps) / seconds : 0.0;
  // The time left, extrapolating the model time covered per wall second.
  const double covered = time - t_start_;
  const double left = covered > 0.0 ? (tstop - time) * seconds / covered : NAN;
  char line[160];
  std::snprintf(line, sizeof line, "qeln: t = %.4g of %.4g, %.0f steps/s, about %.0f s left", time,
                tstop, rate, std::isfinite(left) && left > 0.0 ? left : 0.0);
  err_ << '\r' << line << remark << "\033[K" << std::flush;
  shown_ = true;
}

void Progress::clear() {
  if (!shown_) return;
  err_ << "\r\033[K" << std::flush;
  shown_ = false;
}

}  // namespace qel
