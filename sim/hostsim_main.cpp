// hostsim: loads the real plugin into a simulated game, as a plugin loader
// does, runs a scenario's events through the game's functions and records
// what the plugin asked of the game.
//
//   hostsim.exe --plugin FILE --scenario FILE --out DIR --txd FILE
//
// Its own files go through the wide-character API, so that folders named in
// any script work. Exit codes: 0 the run completed, 2 a bad scenario or
// command line, 3 the plugin could not be set up or loaded, 4 the game
// faulted or its registers or stack were changed across a hooked call.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/foreign_patch.h"
#include "sim/game_image.h"
#include "sim/hostsim_run.h"

namespace {

namespace fs = std::filesystem;

using sim::shown;

std::size_t private_bytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  return counters.PagefileUsage;
}

// The protection of every page of the game image and of the other module's
// memory, to compare before the load and after the unload.
std::vector<DWORD> page_protections() {
  std::vector<std::pair<std::uintptr_t, std::size_t>> ranges = {
      {sim::game_image::get().running(sim::code_begin), sim::image_end - sim::code_begin}};
  for (const sim::foreign_module::region& r : sim::foreign_module::get().regions()) ranges.emplace_back(r.begin, r.size);
  std::vector<DWORD> pages;
  for (const auto& [begin, size] : ranges) {
    for (std::uintptr_t p = begin; p < begin + size; p += 0x1000) {
      MEMORY_BASIC_INFORMATION info{};
      VirtualQuery(reinterpret_cast<void*>(p), &info, sizeof info);
      pages.push_back(info.Protect);
    }
  }
  return pages;
}

bool in_game_memory(std::uintptr_t address) {
  if (address >= sim::game_image::get().running(sim::image_begin) && address < sim::game_image::get().running(sim::image_end)) {
    return true;
  }
  for (const sim::foreign_module::region& r : sim::foreign_module::get().regions()) {
    if (address >= r.begin && address < r.begin + r.size) return true;
  }
  return false;
}

// A fault in the game's process ends the run with a report instead of
// Windows' crash dialog.
LONG WINAPI report_fault(EXCEPTION_POINTERS* e) {
  const EXCEPTION_RECORD* r = e->ExceptionRecord;
  if (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters >= 2) {
    const char* how = r->ExceptionInformation[0] == 1 ? "writing" : r->ExceptionInformation[0] == 8 ? "executing" : "reading";
    std::fprintf(stderr, "hostsim: the game faulted: access violation %s 0x%08lX at 0x%08lX\n", how,
                 static_cast<unsigned long>(r->ExceptionInformation[1]),
                 static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(r->ExceptionAddress)));
  } else {
    std::fprintf(stderr, "hostsim: the game faulted: exception 0x%08lX at 0x%08lX\n",
                 static_cast<unsigned long>(r->ExceptionCode),
                 static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(r->ExceptionAddress)));
  }
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 4);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Seen before any handler of the loader's or a plugin's: an access fault in
// the game's code or data, or in the other module's, is the game's own fault,
// even inside a DllMain whose exceptions the loader would swallow.
LONG WINAPI report_game_fault(EXCEPTION_POINTERS* e) {
  const EXCEPTION_RECORD* r = e->ExceptionRecord;
  const bool access = r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION || r->ExceptionCode == EXCEPTION_ILLEGAL_INSTRUCTION ||
                      r->ExceptionCode == EXCEPTION_PRIV_INSTRUCTION;
  if (!access) return EXCEPTION_CONTINUE_SEARCH;
  const bool in_game = in_game_memory(reinterpret_cast<std::uintptr_t>(r->ExceptionAddress)) ||
                       (r->NumberParameters >= 2 && in_game_memory(r->ExceptionInformation[1]));
  return in_game ? report_fault(e) : EXCEPTION_CONTINUE_SEARCH;
}

// Key presses reach the plugin as a player's do: through the system's input
// queue, into the window in the foreground, which is hostsim's own.
void press(int key, bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = static_cast<WORD>(key);
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof input);
  // Let the input reach the window's queue, where GetAsyncKeyState sees it.
  MSG message;
  for (int i = 0; i < 20 && ((GetAsyncKeyState(key) & 0x8000) != 0) != down; ++i) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(5);
  }
}

bool own_the_foreground() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"hostsim";
  RegisterClassW(&window_class);
  HWND window = CreateWindowW(L"hostsim", L"hostsim", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 240, nullptr,
                              nullptr, window_class.hInstance, nullptr);
  if (window == nullptr) return false;
  SetForegroundWindow(window);
  MSG message;
  for (int i = 0; i < 100 && GetForegroundWindow() != window; ++i) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(10);
  }
  return GetForegroundWindow() == window;
}

// A page another module locked: the plugins' VirtualProtect, reached through
// their import tables, is refused for ranges that touch the site.
std::uintptr_t refused_site = 0;

BOOL WINAPI refusing_virtual_protect(LPVOID address, SIZE_T size, DWORD protect, PDWORD old) {
  const auto begin = reinterpret_cast<std::uintptr_t>(address);
  if (refused_site != 0 && begin < refused_site + 6 && begin + size > refused_site) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return VirtualProtect(address, size, protect, old);
}

// Points the module's import of KERNEL32's VirtualProtect at replacement.
bool redirect_virtual_protect(HMODULE module, const void* replacement) {
  auto* base = reinterpret_cast<std::uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return false;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d) {
    if (_stricmp(reinterpret_cast<const char*>(base + d->Name), "KERNEL32.dll") != 0) continue;
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), "VirtualProtect") != 0) continue;
      DWORD old = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) return false;
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
      return true;
    }
  }
  return false;
}

// hostsim's own system: the keyboard through its window, a log held open by
// a handle that denies writing, the process's private bytes, its faults
// reported, and the plugins loaded as a loader loads them.
class windows_system : public sim::run_platform {
 public:
  void press(int key, bool down) override { ::press(key, down); }
  void hold_log(bool hold) override {
    if (hold && held_ == INVALID_HANDLE_VALUE) {
      held_ = CreateFileW(L"scripts\\MorvaHealthRing.log", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    } else if (!hold && held_ != INVALID_HANDLE_VALUE) {
      CloseHandle(held_);
      held_ = INVALID_HANDLE_VALUE;
    }
  }
  void load_module(const std::string& name) override {
    // A copy of the stand-in beside hostsim.exe, in the game's folder.
    wchar_t own[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    const fs::path stand_in = fs::path(std::wstring(own, length)).parent_path() / L"module_stand_in.dll";
    const fs::path copy = fs::current_path() / fs::u8path(name);
    std::error_code ec;
    fs::copy_file(stand_in, copy, fs::copy_options::overwrite_existing, ec);
    if (ec || LoadLibraryW(copy.c_str()) == nullptr) {
      std::fprintf(stderr, "hostsim: cannot load %s as another module (%s)\n", name.c_str(), ec ? ec.message().c_str() : "LoadLibraryW failed");
      std::exit(3);
    }
  }
  void sample_memory(bool early) override { (early ? checks.private_bytes_early : checks.private_bytes_end) = private_bytes(); }
  void refuse_protection_of(std::uintptr_t site) override {
    for (HMODULE module : modules_) {
      if (!redirect_virtual_protect(module, reinterpret_cast<const void*>(&refusing_virtual_protect))) {
        std::fprintf(stderr, "hostsim: cannot redirect the plugin's VirtualProtect import\n");
        std::exit(3);
      }
    }
    refused_site = site;
  }
  std::string prepare(const sim::scenario& scene) override {
    if (!scene.key_presses.empty() && !own_the_foreground()) {
      return "cannot put hostsim's window in the foreground for the key presses (is there a display?)";
    }
    SetUnhandledExceptionFilter(&report_fault);
    AddVectoredExceptionHandler(1, &report_game_fault);
    return {};
  }
  std::FILE* open_for_writing(const fs::path& p) override { return _wfopen(p.c_str(), L"wb"); }
  void* load(const fs::path& file, const fs::path& game, std::string* error) override {
    // As a loader names them: relative to the game's folder.
    const fs::path name = file.lexically_relative(game).make_preferred();
    HMODULE module = LoadLibraryW(name.c_str());
    if (!module) {
      *error = "cannot load " + shown(name) + " (error " + std::to_string(GetLastError()) + ")";
      return nullptr;
    }
    modules_.push_back(module);
    return module;
  }
  void unload(void* module) override { FreeLibrary(static_cast<HMODULE>(module)); }
  std::vector<std::string> page_protections() override {
    std::vector<std::string> out;
    for (DWORD p : ::page_protections()) out.push_back(std::to_string(p));
    return out;
  }

 private:
  HANDLE held_ = INVALID_HANDLE_VALUE;
  std::vector<HMODULE> modules_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  windows_system system;
  return sim::hostsim_main(std::vector<fs::path>(argv + 1, argv + argc), system);
}
