// A scenario run natively as hostsim's twin runs it, in the test's game.
#pragma once

#include <vector>

#include <nlohmann/json.hpp>

namespace test {

// Its trace, a line each; the scene is refused by a failed expectation.
std::vector<nlohmann::json> run_natively(const nlohmann::json& scene);

}  // namespace test
