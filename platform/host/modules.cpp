// Modules: the program and the libraries it loads. A library stored under a
// Windows name is a host shared object; LoadLibraryA finds it by the
// platform's search, opens it and calls its DllMain, as the platform's
// loader does.
#include <dlfcn.h>
#include <link.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "host.h"

namespace kxhost {
namespace {

using DllEntry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

struct Module {
  void* library = nullptr;   // dlopen handle
  link_map* map = nullptr;   // the object itself, to tell its own symbols
  std::string windows_path;  // empty for the program: asked each time
  int count = 0;             // loads not yet freed
  bool program = false;
};

struct Modules {
  std::mutex mutex;
  std::map<HMODULE, Module> loaded;
  HMODULE program = nullptr;
};

link_map* MapOf(void* library) {
  link_map* map = nullptr;
  return dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 ? map : nullptr;
}

// The table, with the program in it from the first use on.
Modules& TheModules() {
  static Modules* modules = [] {
    auto* created = new Modules;  // lives until the process ends: DllMain may run late
    void* program = dlopen(nullptr, RTLD_NOW);
    created->program = reinterpret_cast<HMODULE>(program);
    Module module;
    module.library = program;
    module.map = MapOf(program);
    module.count = 1;
    module.program = true;
    created->loaded.emplace(created->program, module);
    return created;
  }();
  return *modules;
}

std::string BaseName(const std::string& windows_path) {
  size_t last = windows_path.find_last_of("\\:");
  return last == std::string::npos ? windows_path : windows_path.substr(last + 1);
}

std::string PathOf(const Module& module) {
  return module.program ? ProgramWindowsPath() : module.windows_path;
}

// A loaded module named by `name`: a full path matches the module's path, a
// bare name its file name; the default extension added as LoadLibraryA adds it.
HMODULE FindLoaded(Modules& modules, std::string_view name) {
  std::string wanted(name);
  size_t last = wanted.find_last_of("\\/:");
  std::string base = last == std::string::npos ? wanted : wanted.substr(last + 1);
  if (base.find('.') == std::string::npos) wanted += ".DLL";
  bool bare = last == std::string::npos;
  std::string full = bare ? wanted : FullWindowsPath(wanted);
  for (const auto& [handle, module] : modules.loaded) {
    std::string path = PathOf(module);
    if (path.empty()) continue;
    if (bare ? EqualsNoCase(BaseName(path), wanted) : EqualsNoCase(path, full)) return handle;
  }
  return nullptr;
}

DllEntry EntryOf(HMODULE module) {
  return reinterpret_cast<DllEntry>(ModuleSymbol(module, "DllMain"));
}

// Releases a module whose last load was freed.
void Unload(HMODULE handle, bool detach) {
  auto& modules = TheModules();
  void* library = nullptr;
  DllEntry entry = detach ? EntryOf(handle) : nullptr;
  if (entry) entry(handle, DLL_PROCESS_DETACH, nullptr);
  {
    std::lock_guard<std::mutex> lock(modules.mutex);
    auto it = modules.loaded.find(handle);
    if (it == modules.loaded.end()) return;
    library = it->second.library;
    modules.loaded.erase(it);
  }
  dlclose(library);
}

}  // namespace

void* ModuleSymbol(HMODULE handle, const char* name) {
  auto& modules = TheModules();
  link_map* map = nullptr;
  void* library = nullptr;
  {
    std::lock_guard<std::mutex> lock(modules.mutex);
    auto it = modules.loaded.find(handle ? handle : modules.program);
    if (it == modules.loaded.end()) return nullptr;
    map = it->second.map;
    library = it->second.library;
  }
  void* symbol = dlsym(library, name);
  if (!symbol) return nullptr;
  // dlsym also finds what the module's own libraries export; the platform
  // gives only the module's own exports.
  Dl_info info;
  link_map* owner = nullptr;
  if (!dladdr1(symbol, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP)) return nullptr;
  return owner == map ? symbol : nullptr;
}

}  // namespace kxhost

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  auto& modules = kxhost::TheModules();
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (auto error = kxhost::TakeFault("LoadLibraryA", name)) {
    SetLastError(*error);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(modules.mutex);
    if (HMODULE loaded = kxhost::FindLoaded(modules, name)) {
      ++modules.loaded[loaded].count;
      return loaded;
    }
  }
  std::string found = kxhost::SearchMachineFile(name, ".DLL");
  if (found.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  {
    // Found by its full path under another name (e.g. a path given now,
    // a bare name before).
    std::lock_guard<std::mutex> lock(modules.mutex);
    if (HMODULE loaded = kxhost::FindLoaded(modules, found)) {
      ++modules.loaded[loaded].count;
      return loaded;
    }
  }
  std::string host = kxhost::HostPath(found).string();
  void* library = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "LoadLibraryA(%s): %s\n", name, dlerror());
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  HMODULE handle = reinterpret_cast<HMODULE>(library);
  {
    std::lock_guard<std::mutex> lock(modules.mutex);
    if (auto it = modules.loaded.find(handle); it != modules.loaded.end()) {
      // The same host file under another Windows name (a link): one module.
      ++it->second.count;
      dlclose(library);
      return handle;
    }
    kxhost::Module module;
    module.library = library;
    module.map = kxhost::MapOf(library);
    module.windows_path = found;
    module.count = 1;
    modules.loaded[handle] = module;
  }
  // Called outside the table's lock: DllMain may ask for modules itself.
  if (auto entry = kxhost::EntryOf(handle); entry && !entry(handle, DLL_PROCESS_ATTACH, nullptr)) {
    kxhost::Unload(handle, true);
    SetLastError(ERROR_DLL_INIT_FAILED);
    return nullptr;
  }
  return handle;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  auto& modules = kxhost::TheModules();
  {
    std::lock_guard<std::mutex> lock(modules.mutex);
    auto it = modules.loaded.find(module);
    if (it == modules.loaded.end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    // The program stays; a library goes with its last load.
    if (it->second.program || --it->second.count > 0) return TRUE;
  }
  kxhost::Unload(module, true);
  return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  // Ordinals (values below 0x10000) are no part of the host's exports.
  if (!name || reinterpret_cast<uintptr_t>(name) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  {
    auto& modules = kxhost::TheModules();
    std::lock_guard<std::mutex> lock(modules.mutex);
    if (!modules.loaded.count(module ? module : modules.program)) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
  }
  void* symbol = kxhost::ModuleSymbol(module, name);
  if (!symbol) SetLastError(ERROR_PROC_NOT_FOUND);
  return reinterpret_cast<FARPROC>(symbol);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  auto& modules = kxhost::TheModules();
  if (!name) return modules.program;
  std::lock_guard<std::mutex> lock(modules.mutex);
  if (HMODULE loaded = kxhost::FindLoaded(modules, name)) return loaded;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size) {
  std::string windows_path;
  {
    auto& modules = kxhost::TheModules();
    std::lock_guard<std::mutex> lock(modules.mutex);
    auto it = modules.loaded.find(module ? module : modules.program);
    if (it == modules.loaded.end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    windows_path = kxhost::PathOf(it->second);
  }
  if (windows_path.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);  // a program outside the machine
    return 0;
  }
  // As the platform: a buffer too small gets size-1 bytes and the zero, and
  // the result is the buffer's size.
  if (size == 0 || !path) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (windows_path.size() < size) {
    windows_path.copy(path, windows_path.size());
    path[windows_path.size()] = '\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(windows_path.size());
  }
  windows_path.copy(path, size - 1);
  path[size - 1] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}
