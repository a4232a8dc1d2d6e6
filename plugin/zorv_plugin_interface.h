// The host's plug-in base class.
//
// The host is built with the Microsoft compiler, whose virtual table for this
// class has three slots: a scalar deleting destructor (this, unsigned flags;
// bit 0 set means "free the memory"; returns this), execute, initPlugin.
// GCC and Clang in GNU mode emit two slots for a virtual destructor (complete
// and deleting), which would shift execute and initPlugin by one and crash the
// host. So a non-Microsoft Windows build declares the first slot as that
// deleting-destructor function itself; every other build uses a plain virtual
// destructor. Derived classes override the slot with
// TESSEL_DELETING_DESTRUCTOR_OVERRIDE(ClassName).
#ifndef TESSEL_PLUGIN_ZORV_PLUGIN_INTERFACE_H
#define TESSEL_PLUGIN_ZORV_PLUGIN_INTERFACE_H

#include "plugin/exports.h"

#if defined(_WIN32) && !defined(_MSC_VER)
#define TESSEL_MSVC_VTABLE_LAYOUT 1
#else
#define TESSEL_MSVC_VTABLE_LAYOUT 0
#endif

class TESSEL_EXPORT ZorvPluginInterface {
 public:
  ZorvPluginInterface();
  ZorvPluginInterface(const ZorvPluginInterface& other);
  ZorvPluginInterface& operator=(const ZorvPluginInterface& other);

#if TESSEL_MSVC_VTABLE_LAYOUT
  // Slot 0 as the Microsoft ABI has it: runs the destructor, frees the object
  // when bit 0 of flags is set, returns this.
  virtual ZorvPluginInterface* scalarDeletingDestructor(unsigned flags);
  ~ZorvPluginInterface();
#else
  virtual ~ZorvPluginInterface();
#endif

  virtual bool execute() = 0;
  virtual bool initPlugin() = 0;
};

#if TESSEL_MSVC_VTABLE_LAYOUT
#define TESSEL_DELETING_DESTRUCTOR_OVERRIDE(Class)                         \
  ZorvPluginInterface* scalarDeletingDestructor(unsigned flags) override { \
    this->~Class();                                                        \
    if (flags & 1u) ::operator delete(this);                               \
    return this;                                                           \
  }
#else
#define TESSEL_DELETING_DESTRUCTOR_OVERRIDE(Class)
#endif

// Destroys a plug-in object the way the host does (through slot 0).
inline void destroyPlugin(ZorvPluginInterface* plugin) {
#if TESSEL_MSVC_VTABLE_LAYOUT
  plugin->scalarDeletingDestructor(1u);
#else
  delete plugin;
#endif
}

#endif
