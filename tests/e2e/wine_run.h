// What the end-to-end tests share: hostsim.exe under Wine running a scenario
// with the shipped plugin, and what the run left behind.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/who_model.h"

namespace e2e {

namespace fs = std::filesystem;
using nlohmann::json;
using lines = std::vector<std::string>;

inline std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct run {
  int exit_code = -1;
  std::string error;  // what hostsim wrote to stderr
  fs::path out;
  fs::path game;
  std::vector<json> trace;
  json summary;

  fs::path log_file() const { return game / "scripts" / "MorvaHealthRing.log"; }
  bool has_log() const { return fs::exists(log_file()); }
  std::string log() const { return read(log_file()); }
  lines log_lines() const {
    lines out;
    std::string text = log();
    std::size_t begin = 0, end;
    while ((end = text.find("\r\n", begin)) != std::string::npos) {
      out.push_back(text.substr(begin, end - begin));
      begin = end + 2;
    }
    return out;
  }
  std::vector<json> calls(const std::string& name) const {
    std::vector<json> out;
    for (const json& j : trace) {
      if (j["call"] == name) out.push_back(j);
    }
    return out;
  }
  // Every disc drawn, in order, with the texture it was drawn with.
  std::vector<json> discs() const { return test::discs_of_trace(trace); }
  // The game's folder as the plugin sees it under Wine.
  std::string windows_path(const std::string& relative) const {
    std::string p = "Z:" + (game / relative).string();
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
  }
};

// The runs' folders stay behind only when a test failed, to be looked at.
inline const fs::path& runs_root() {
  static const fs::path root = [] {
    char pattern[] = "/tmp/morva-wine-XXXXXX";
    return fs::path(mkdtemp(pattern));
  }();
  return root;
}



inline run hostsim(const std::string& name, const json& scenario, const std::string& plugin = PLUGIN_ASI,
            const std::string& dictionary = RING_TXD, const std::string& locale = "LC_ALL=C.UTF-8") {
  const fs::path& root = runs_root();
  run r;
  r.out = root / name;
  r.game = r.out / "game";
  fs::create_directories(r.out);
  const fs::path scenario_file = r.out / "scenario.json";
  std::ofstream(scenario_file) << scenario.dump(2);
  for (const char* needed : {HOSTSIM_EXE, PLUGIN_ASI, RING_TXD}) {
    if (!fs::exists(needed)) {
      r.error = std::string(needed) + " is missing: build the win32 tree first (make test does)";
      return r;
    }
  }
  // A UTF-8 locale, so that Wine hands non-ASCII arguments on as they are.
  const auto quoted = [](const std::string& p) { return "'" + p + "'"; };
  const std::string display = scenario.contains("key_presses") ? " --display" : "";
  const std::string command = locale + " " + std::string(WINE_RUN) + display + " " + HOSTSIM_EXE + " --plugin " +
                              quoted(plugin) + " --txd " + quoted(dictionary) + " --scenario " + quoted(scenario_file.string()) +
                              " --out " + quoted(r.out.string()) + " >" + quoted((r.out / "stdout.txt").string()) +
                              " 2>" + quoted((r.out / "stderr.txt").string());
  const int status = std::system(command.c_str());
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.error = read(r.out / "stderr.txt");
  std::ifstream trace(r.out / "trace.jsonl");
  for (std::string line; std::getline(trace, line);) r.trace.push_back(json::parse(line));
  if (fs::exists(r.out / "summary.json")) r.summary = json::parse(read(r.out / "summary.json"));
  return r;
}

// Where Windows programs cannot run, scripts/wine-run says why; the tests are
// then skipped with its words, not passed.
class WineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const std::string reason = [] {
      const std::string check = std::string(WINE_RUN) + " --check 2>&1";
      std::string said;
      if (FILE* p = popen(check.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, p)) said += buffer;
        const int status = pclose(p);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::string();
      }
      return said.empty() ? std::string("scripts/wine-run cannot run Windows programs here") : said;
    }();
    if (!reason.empty()) GTEST_SKIP() << reason;
  }
};

inline std::string candidate(const run& r, int k) {
  switch (k) {
    case 1: return r.windows_path("scripts/DEVIZAR.txd");
    case 2: return r.windows_path("scripts/") + "models\\txd\\DEVIZAR.txd";
    case 3: return "modloader\\Morva Health\\models\\txd\\DEVIZAR.txd";
    default: return "models\\txd\\DEVIZAR.txd";
  }
}

inline bool sites_restored(const run& r) {
  return !r.trace.empty() && r.trace.back()["call"] == "unload" && r.trace.back()["sites_restored"] == true &&
         r.trace.back()["protections_restored"] == true;
}

inline const json one_ped = {{{"slot", 3}, {"position", {2, 0, 0}}}};

inline std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace e2e
