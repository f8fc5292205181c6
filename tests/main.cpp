#include <gtest/gtest.h>

#include <cstdio>

namespace {

// In a fresh-process child only stderr reaches the parent's report.
class failures_to_stderr : public testing::EmptyTestEventListener {
  void OnTestPartResult(const testing::TestPartResult& result) override {
    if (result.failed()) {
      std::fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "?", result.line_number(),
                   result.summary());
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Tests of once-per-process behaviour run in a freshly started copy of this
  // program, so that no earlier test has settled the caches they look at.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing::InitGoogleTest(&argc, argv);
  if (!GTEST_FLAG_GET(internal_run_death_test).empty()) {
    testing::UnitTest::GetInstance()->listeners().Append(new failures_to_stderr);
  }
  return RUN_ALL_TESTS();
}
