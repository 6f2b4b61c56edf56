// The progress line on a terminal's standard error.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "driver/progress.hpp"

using namespace qel;

namespace {

// The text a progress line writes for a step right away, one after 300 ms
// and one just after that, then its clearing.
std::string shown(bool enabled) {
  std::ostringstream err;
  Progress p(err, enabled);
  p.step(0.1, 1.0, 10, "");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  p.step(0.5, 1.0, 50, ", NaN since t = 0.4");
  p.step(0.6, 1.0, 60, "");
  p.clear();
  return err.str();
}

}  // namespace

// Neither the first step nor one within 250 ms of the last refresh shows;
// the line is cleared at the end, and nothing is written when not enabled.
TEST(Progress, RefreshedAtMostFourTimesASecondClearedAtTheEndSilentWhenNotEnabled) {
  const std::string text = shown(true);
  EXPECT_TRUE(text.starts_with("\rqeln: t = 0.5 of 1,") && text.ends_with("\r\033[K")) << text;
  EXPECT_TRUE(text.find("0.1 of") == std::string::npos && text.find("0.6 of") == std::string::npos) << text;
  EXPECT_TRUE(text.find("steps/s") != std::string::npos && text.find("NaN since t = 0.4") != std::string::npos)
      << text;
  EXPECT_EQ(shown(false), "");
}
