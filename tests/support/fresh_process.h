// Runs a block in a freshly started copy of the test program; the test passes
// when the block's own checks all passed there.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

namespace test {

template <class Block>
void run_then_exit(Block block) {
  block();
  std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

}  // namespace test

#define IN_FRESH_PROCESS(...) \
  EXPECT_EXIT((test::run_then_exit([&] { __VA_ARGS__; })), ::testing::ExitedWithCode(0), "")
