// The one export macro of the plug-in library.
#ifndef TESSEL_PLUGIN_EXPORTS_H
#define TESSEL_PLUGIN_EXPORTS_H

#ifdef _WIN32
#define TESSEL_EXPORT __declspec(dllexport)
#else
#define TESSEL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
TESSEL_EXPORT const char* getPluginName();
TESSEL_EXPORT const char* getPluginDescription();
TESSEL_EXPORT const char* getPluginVersion();
TESSEL_EXPORT const char* getGUIScript();
TESSEL_EXPORT const char* getHelpFile();
TESSEL_EXPORT const char* getAuthor();
}

#endif
