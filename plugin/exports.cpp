// The library's plain exported functions: its descriptive texts and the
// factory of the plug-in object.
#include "plugin/exports.h"

#include "plugin/tessel.h"
#include "tasks/tasks.h"

extern "C" {

TESSEL_EXPORT ZorvPluginInterface* createPlugin() { return new tessel(); }

TESSEL_EXPORT const char* getPluginName() { return "Tessel"; }
TESSEL_EXPORT const char* getPluginDescription() {
  return "Process the motion predictor SDM in different ways to create a variety of confound "
         "models.";
}
TESSEL_EXPORT const char* getPluginVersion() { return tsl::kTesselVersion; }
TESSEL_EXPORT const char* getGUIScript() { return "Tessel.js"; }
TESSEL_EXPORT const char* getHelpFile() { return "HelpFolder/index.html"; }
TESSEL_EXPORT const char* getAuthor() { return "<i>The Tessel developers</i>"; }

}  // extern "C"
