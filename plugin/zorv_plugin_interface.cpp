#include "plugin/zorv_plugin_interface.h"

#include <new>

// The base class has no state: copying copies nothing and destruction does
// nothing. The members are defined here, out of line, so that the library
// exports them and emits the class's virtual table once.

ZorvPluginInterface::ZorvPluginInterface() = default;

ZorvPluginInterface::ZorvPluginInterface(const ZorvPluginInterface&) {}

ZorvPluginInterface& ZorvPluginInterface::operator=(const ZorvPluginInterface&) { return *this; }

ZorvPluginInterface::~ZorvPluginInterface() = default;

#if TESSEL_MSVC_VTABLE_LAYOUT
ZorvPluginInterface* ZorvPluginInterface::scalarDeletingDestructor(unsigned flags) {
  this->~ZorvPluginInterface();
  if ((flags & 1u) != 0) ::operator delete(this);
  return this;
}
#endif
