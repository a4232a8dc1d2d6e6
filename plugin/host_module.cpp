// Finding the host executable among the loaded modules, and looking names up
// in it: the only platform-specific part of the host function table.
#include <cstring>
#include <string>

#include "plugin/host_functions.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#endif

namespace tsl::host {

#ifdef _WIN32

void* findHostModule(const char* moduleName) {
  return reinterpret_cast<void*>(GetModuleHandleA(moduleName));
}

RawFunction lookUpFunction(void* module, const char* name) {
  return reinterpret_cast<RawFunction>(GetProcAddress(static_cast<HMODULE>(module), name));
}

#else

namespace {

std::string baseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct SharedObjectSearch {
  const char* wanted;
  std::string found;
};

int visitSharedObject(dl_phdr_info* info, std::size_t, void* data) {
  auto* search = static_cast<SharedObjectSearch*>(data);
  if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' &&
      baseName(info->dlpi_name) == search->wanted) {
    search->found = info->dlpi_name;
    return 1;
  }
  return 0;
}

}  // namespace

// Like GetModuleHandleA: the main executable or an already loaded shared
// object whose file name is moduleName; nothing new is loaded.
void* findHostModule(const char* moduleName) {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0 && baseName(std::string(exe, static_cast<std::size_t>(n))) == moduleName) {
    return dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD);
  }
  SharedObjectSearch search{moduleName, {}};
  dl_iterate_phdr(visitSharedObject, &search);
  if (search.found.empty()) return nullptr;
  return dlopen(search.found.c_str(), RTLD_LAZY | RTLD_NOLOAD);
}

RawFunction lookUpFunction(void* module, const char* name) {
  return reinterpret_cast<RawFunction>(dlsym(module, name));
}

#endif

}  // namespace tsl::host
