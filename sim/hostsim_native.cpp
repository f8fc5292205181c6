// hostsim's native twin, for machines where 32-bit Windows programs cannot
// run: the natively built plugin (a shared object with the same load-time
// objects as the .asi) in the same simulated game, with the same scenario
// and the same files left behind.
//
//   hostsim_native --plugin FILE --scenario FILE --out DIR --txd FILE
//
// Exit codes as hostsim's: 0 completed, 2 a bad scenario or command line, 3
// the plugin could not be set up or loaded, 4 registers or stack changed
// across a hooked call.
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/game_image.h"
#include "sim/hostsim_run.h"
#include "sim/os_linux.h"

namespace {

namespace fs = std::filesystem;

// The game image's mappings as the system reports them.
std::vector<std::string> image_protections() {
  std::vector<std::string> out;
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    unsigned long long begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%llx-%llx", &begin, &end) != 2) continue;
    if (end > sim::game_image::get().running(sim::code_begin) && begin < sim::game_image::get().running(sim::image_end)) {
      out.push_back(line.substr(0, line.find(' ', line.find(' ') + 1)));
    }
  }
  return out;
}

// Keys through the platform seam's keyboard; Linux has no way to deny
// another program's writes, so a held log is not simulated here.
class linux_system : public sim::run_platform {
 public:
  void press(int key, bool down) override { os::linux_host::set_key_down(key, down); }
  void hold_log(bool) override {}
  void load_module(const std::string& name) override { os::linux_host::load_module(name); }
  // glibc decides which modules it unmaps before their destructors run: a
  // pin asked for during the unload keeps nothing mapped here, as it does on
  // Windows.
  std::string refuses(const sim::scenario& scene) override {
    if (!scene.refuse_restore) return {};
    return "refuse_restore: runs under Wine only (a pin asked for during dlclose keeps nothing mapped on Linux)";
  }
  void* load(const fs::path& file, const fs::path&, std::string* error) override {
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) *error = "cannot load " + file.string() + " (" + dlerror() + ")";
    return module;
  }
  void unload(void* module) override { os::linux_host::free_library(module); }
  std::vector<std::string> page_protections() override { return image_protections(); }
};

}  // namespace

int main(int argc, char** argv) {
  linux_system system;
  return sim::hostsim_main(std::vector<fs::path>(argv + 1, argv + argc), system);
}
