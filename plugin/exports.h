// The one export macro of the plug-in library, and its plain C exports.
#ifndef TESSEL_PLUGIN_EXPORTS_H
#define TESSEL_PLUGIN_EXPORTS_H

#ifdef _WIN32
#define TESSEL_EXPORT __declspec(dllexport)
#else
#define TESSEL_EXPORT __attribute__((visibility("default")))
#endif

class ZorvPluginInterface;

extern "C" {
// A new plug-in object, owned by the caller, who destroys it through the
// virtual destructor (slot 0).
TESSEL_EXPORT ZorvPluginInterface* createPlugin();
TESSEL_EXPORT const char* getPluginName();
TESSEL_EXPORT const char* getPluginDescription();
TESSEL_EXPORT const char* getPluginVersion();
TESSEL_EXPORT const char* getGUIScript();
TESSEL_EXPORT const char* getHelpFile();
TESSEL_EXPORT const char* getAuthor();
}

#endif
