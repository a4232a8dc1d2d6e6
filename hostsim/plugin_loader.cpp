#include "hostsim/plugin_loader.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace tsl::hostsim {
namespace {

std::string executableDirectory() {
#ifdef _WIN32
  char buffer[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  const std::string path(buffer, n < MAX_PATH ? n : 0);
#else
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  const std::string path(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
#endif
  return std::filesystem::path(path).parent_path().string();
}

}  // namespace

std::string defaultPluginPath() {
#ifdef _WIN32
  const char* name = "Tessel.dll";
#else
  const char* name = "libTessel.so";
#endif
  return (std::filesystem::path(executableDirectory()) / name).string();
}

#ifdef _WIN32

std::string LoadedPlugin::load(const std::string& path) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == nullptr) {
    return "cannot load the plug-in " + path + " (error " + std::to_string(GetLastError()) + ")";
  }
  // Through void(*)(), which converts to every function type without warning.
  auto create = reinterpret_cast<void* (*)()>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "createPlugin")));
  if (create == nullptr) return "the plug-in " + path + " does not export createPlugin";
  object_ = create();
  if (object_ == nullptr) return "createPlugin returned null";
  return {};
}

bool LoadedPlugin::initPlugin() { return slots().initPlugin(object_); }
bool LoadedPlugin::execute() { return slots().execute(object_); }
void LoadedPlugin::destroy() { slots().scalarDeletingDestructor(object_, 1u); }

#else

std::string LoadedPlugin::load(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return "cannot load the plug-in " + path + ": " + dlerror();
  auto create = reinterpret_cast<ZorvPluginInterface* (*)()>(dlsym(library, "createPlugin"));
  if (create == nullptr) return "the plug-in " + path + " does not export createPlugin";
  object_ = create();
  if (object_ == nullptr) return "createPlugin returned null";
  return {};
}

bool LoadedPlugin::initPlugin() { return object_->initPlugin(); }
bool LoadedPlugin::execute() { return object_->execute(); }
void LoadedPlugin::destroy() { destroyPlugin(object_); }

#endif

}  // namespace tsl::hostsim
