// The plug-in class: life cycle, start-up checks and task dispatch.
#ifndef TESSEL_PLUGIN_TESSEL_H
#define TESSEL_PLUGIN_TESSEL_H

#include <exception>
#include <memory>

#include "plugin/zorv_log.h"
#include "plugin/zorv_plugin_interface.h"

class TESSEL_EXPORT tessel : public ZorvPluginInterface {
 public:
  tessel();
#if TESSEL_MSVC_VTABLE_LAYOUT
  ~tessel();
#else
  ~tessel() override;
#endif
  TESSEL_DELETING_DESTRUCTOR_OVERRIDE(tessel)

  tessel(const tessel&) = delete;
  tessel& operator=(const tessel&) = delete;

  // True when the plug-in may run on the current document: host bound,
  // version 2.8.0 or later, current document an FMR. Refusals are shown in a
  // message box (except a failed binding, which shows nothing); so is a host
  // that lacks one of the start-up calls ("Error: Host function not
  // available: <name>"). No exception leaves it.
  bool initPlugin() override;

  // Runs the task named by the dialog parameter "task". Always returns true;
  // every standard exception is shown as "Error: " + what(). Unless the last
  // initPlugin returned true it runs nothing and shows nothing: a host may
  // call it although the plug-in refused to start.
  bool execute() override;

  // The task bodies (tasks/tasks.h) over the host's functions. Each reads its
  // own dialog parameters, writes progress to log() and throws on failure.
  void selectMotionFile();         // "select_3dmcsdm"
  void computeDisplacementMaps();  // "displacement"
  void createConfoundModels();     // "confound"

  // The log stream. Throws std::logic_error when initPlugin has not created it.
  tsl::ZorvLog& log();

 private:
  // initPlugin's checks, in order; true when every one passed.
  bool checkStart();

  // Shows "Error: " + error.what() in a message box (in the log when the host
  // has no message box). Never throws.
  void reportError(const std::exception& error) noexcept;

  std::unique_ptr<tsl::ZorvLog> log_;
  bool started_ = false;  // what the last initPlugin returned
};

#endif
