#include "tests/e2e/wine_run.h"

namespace e2e {
namespace {

class keep_runs_of_failures : public ::testing::Environment {
  void TearDown() override {
    std::error_code ignored;
    if (::testing::UnitTest::GetInstance()->Passed()) {
      fs::remove_all(runs_root(), ignored);
    } else {
      std::fprintf(stderr, "hostsim runs kept in %s\n", runs_root().c_str());
    }
  }
};
const auto* const cleanup = ::testing::AddGlobalTestEnvironment(new keep_runs_of_failures);

}  // namespace
}  // namespace e2e
