#include <gtest/gtest.h>

#include "model/state.hpp"

int main(int argc, char** argv) {
  qel::set_flush_to_zero();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
