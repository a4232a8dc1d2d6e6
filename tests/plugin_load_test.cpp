// The built plug-in library loaded into a process that is not the host: its
// exported texts, and a plug-in object that finds no module named Zorvane.exe.
// This executable exports host functions of its own that record every call:
// a plug-in that looked them up anywhere but in Zorvane.exe would show up here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/exports.h"
#include "plugin/host_functions.h"
#include "plugin/zorv_plugin_interface.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

std::vector<std::string>& hostCalls() {
  static std::vector<std::string> calls;
  return calls;
}

}  // namespace

extern "C" {
TESSEL_EXPORT void zrGetVersionOfZorvane(int* major, int* minor, int* subMinor) {
  hostCalls().emplace_back("zrGetVersionOfZorvane");
  *major = 3;
  *minor = 0;
  *subMinor = 0;
}
TESSEL_EXPORT void zrShowLogTab() { hostCalls().emplace_back("zrShowLogTab"); }
TESSEL_EXPORT void zrLogText(const char* text) {
  hostCalls().emplace_back(std::string("zrLogText ") + text);
}
TESSEL_EXPORT void zrMessageBox(const char* text) {
  hostCalls().emplace_back(std::string("zrMessageBox ") + text);
}
TESSEL_EXPORT void zrShowBusyCursor() { hostCalls().emplace_back("zrShowBusyCursor"); }
TESSEL_EXPORT void zrStopBusyCursor() { hostCalls().emplace_back("zrStopBusyCursor"); }
TESSEL_EXPORT int zrGetIDOfCurrentDocument() {
  hostCalls().emplace_back("zrGetIDOfCurrentDocument");
  return 1;
}
TESSEL_EXPORT int zrGetDocumentType(int) {
  hostCalls().emplace_back("zrGetDocumentType");
  return 1;
}
TESSEL_EXPORT void zrGetStringParameter(const char* name, char* buffer) {
  hostCalls().emplace_back(std::string("zrGetStringParameter ") + name);
  buffer[0] = '\0';
}
}

namespace tsl::testing {
namespace {

using VoidFunction = void (*)();

class PluginLibrary {
 public:
  PluginLibrary() {
#ifdef _WIN32
    handle_ = LoadLibraryA(".\\" TESSEL_PLUGIN_FILE_NAME);
#else
    handle_ = dlopen("./" TESSEL_PLUGIN_FILE_NAME, RTLD_NOW | RTLD_LOCAL);
#endif
  }
  ~PluginLibrary() {
#ifdef _WIN32
    if (handle_ != nullptr) FreeLibrary(handle_);
#else
    if (handle_ != nullptr) dlclose(handle_);
#endif
  }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }

  template <typename F>
  F function(const char* name) const {
#ifdef _WIN32
    auto f = reinterpret_cast<VoidFunction>(GetProcAddress(handle_, name));
#else
    auto f = reinterpret_cast<VoidFunction>(dlsym(handle_, name));
#endif
    return reinterpret_cast<F>(f);
  }

 private:
#ifdef _WIN32
  HMODULE handle_ = nullptr;
#else
  void* handle_ = nullptr;
#endif
};

using TextFunction = const char* (*)();
using CreateFunction = ZorvPluginInterface* (*)();

TEST(PluginLibrary, ExportsItsDescriptiveTextsUnderPlainNames) {
  PluginLibrary library;
  ASSERT_TRUE(library.loaded()) << TESSEL_PLUGIN_FILE_NAME;
  const std::vector<std::pair<const char*, std::string>> texts = {
      {"getPluginName", "Tessel"},
      {"getPluginDescription",
       "Process the motion predictor SDM in different ways to create a variety of confound "
       "models."},
      {"getPluginVersion", "1.2"},
      {"getGUIScript", "Tessel.js"},
      {"getHelpFile", "HelpFolder/index.html"},
  };
  for (const auto& [name, expected] : texts) {
    const auto f = library.function<TextFunction>(name);
    ASSERT_NE(f, nullptr) << name;
    EXPECT_EQ(std::string(f()), expected) << name;
  }
  const auto author = library.function<TextFunction>("getAuthor");
  ASSERT_NE(author, nullptr);
  const std::string text = author();
  EXPECT_TRUE(text.size() > 7 && text.rfind("<i>", 0) == 0 &&
              text.compare(text.size() - 4, 4, "</i>") == 0)
      << text;
  EXPECT_NE(library.function<CreateFunction>("createPlugin"), nullptr);
}

TEST(PluginLibrary, WithoutAHostModuleInitPluginFailsSilentlyAndDestructionWritesNothing) {
  PluginLibrary library;
  ASSERT_TRUE(library.loaded()) << TESSEL_PLUGIN_FILE_NAME;
  const auto create = library.function<CreateFunction>("createPlugin");
  ASSERT_NE(create, nullptr);
  hostCalls().clear();

  // Never initialised: destruction writes nothing.
  destroyPlugin(create());

  ZorvPluginInterface* plugin = create();
  ASSERT_NE(plugin, nullptr);
  EXPECT_FALSE(plugin->initPlugin());
  // Not ready, yet a host may still call execute: nothing may escape or crash.
  EXPECT_TRUE(plugin->execute());
  destroyPlugin(plugin);
  EXPECT_TRUE(hostCalls().empty()) << hostCalls().front();
}

// The same table code linked into this executable: no module named
// Zorvane.exe, so the binding fails and leaves every entry as it was.
void sentinel() {}

TEST(HostFunctionTable, WithoutAHostModuleBindingFailsAndTouchesNoEntry) {
  host::table().fill(&sentinel);
  EXPECT_FALSE(host::bindHostFunctionTable());
  for (std::size_t i = 0; i < host::kHostFunctionCount; ++i) {
    EXPECT_EQ(host::table()[i], &sentinel) << host::functionName(i);
  }
}

}  // namespace
}  // namespace tsl::testing
