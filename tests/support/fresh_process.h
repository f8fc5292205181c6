// Runs a block in a freshly started copy of the test program; the test passes
// when the block's own checks all passed there.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#define IN_FRESH_PROCESS(...)                                                     \
  EXPECT_EXIT(                                                                    \
      {                                                                           \
        __VA_ARGS__;                                                              \
        std::exit(::testing::Test::HasFailure() ? 1 : 0);                         \
      },                                                                          \
      ::testing::ExitedWithCode(0), "")
