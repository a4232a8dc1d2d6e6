// Loads the plug-in library and calls its object as the host does: Linux
// through the C++ interface, Windows through the host's three-slot table.
#ifndef TESSEL_HOSTSIM_PLUGIN_LOADER_H
#define TESSEL_HOSTSIM_PLUGIN_LOADER_H

#include <string>

#ifndef _WIN32
#include "plugin/zorv_plugin_interface.h"
#endif

namespace tsl::hostsim {

// The plug-in library built beside this executable.
std::string defaultPluginPath();

// The plug-in object and its three calls.
class LoadedPlugin {
 public:
  // Returns an empty text on success, otherwise the reason.
  std::string load(const std::string& path);
  bool initPlugin();
  bool execute();
  void destroy();

 private:
#ifdef _WIN32
  struct Slots {
    void* (*scalarDeletingDestructor)(void* self, unsigned flags);
    bool (*execute)(void* self);
    bool (*initPlugin)(void* self);
  };
  const Slots& slots() const { return **static_cast<Slots* const*>(object_); }
  void* object_ = nullptr;
#else
  ZorvPluginInterface* object_ = nullptr;
#endif
};

}  // namespace tsl::hostsim

#endif
