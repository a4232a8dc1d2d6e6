#include "plugin/tessel.h"

#include <exception>
#include <stdexcept>
#include <string>

#include "plugin/host_functions.h"
#include "plugin/zorv_host.h"
#include "tasks/tasks.h"

namespace {

// Oldest host version the plug-in runs on, compared lexicographically.
constexpr int kRequiredMajor = 2;
constexpr int kRequiredMinor = 8;
constexpr int kRequiredSubMinor = 0;

// zrGetDocumentType's code of a functional run.
constexpr int kFmrDocumentType = 1;

constexpr const char* kVersionRefused =
    "Can not execute this plugin - Zorvane version 2.8 or higher required.";
constexpr const char* kNoCurrentDocument = "No current document available.";
constexpr const char* kNotAnFmrDocument = "The currently active document is not a FMR document.";

bool versionAccepted(int major, int minor, int subMinor) {
  if (major != kRequiredMajor) return major > kRequiredMajor;
  if (minor != kRequiredMinor) return minor > kRequiredMinor;
  return subMinor >= kRequiredSubMinor;
}

// Shows the host's busy cursor for its lifetime. Both entries are resolved up
// front, so a host lacking zrStopBusyCursor is reported before the cursor is
// shown, and the destructor never throws.
class BusyCursor {
 public:
  BusyCursor() : stop_(tsl::host::require<zrStopBusyCursor_t>(tsl::host::Fn::zrStopBusyCursor)) {
    tsl::host::require<zrShowBusyCursor_t>(tsl::host::Fn::zrShowBusyCursor)();
  }
  ~BusyCursor() { stop_(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  zrStopBusyCursor_t stop_;
};

}  // namespace

tessel::tessel() = default;

tessel::~tessel() {
  if (!log_) return;
  *log_ << "\n" << tsl::kDisplayName << ">  Plugin finished!\n" << std::flush;
  log_.reset();
}

bool tessel::initPlugin() {
  started_ = checkStart();
  return started_;
}

bool tessel::checkStart() {
  if (!tsl::host::bindHostFunctionTable()) return false;
  // make_unique runs before the assignment destroys an older stream, which
  // hands its pending text to the host.
  log_ = std::make_unique<tsl::ZorvLog>(tsl::zr::logTextFunction());
  try {
    int major = 0;
    int minor = 0;
    int subMinor = 0;
    tsl::zr::getVersionOfZorvane(major, minor, subMinor);
    if (!versionAccepted(major, minor, subMinor)) {
      tsl::zr::messageBox(kVersionRefused);
      return false;
    }
    tsl::zr::showLogTab();
    *log_ << "\n" << tsl::kDisplayName << ">  Running..." << std::flush;
    const int document = tsl::zr::getIDOfCurrentDocument();
    if (document < 0) {
      tsl::zr::messageBox(kNoCurrentDocument);
      return false;
    }
    if (tsl::zr::getDocumentType(document) != kFmrDocumentType) {
      tsl::zr::messageBox(kNotAnFmrDocument);
      return false;
    }
    return true;
  } catch (const std::exception& error) {
    // A host that lacks one of the start-up calls: no exception may reach
    // the host, so refuse with the reason instead.
    reportError(error);
    return false;
  }
}

bool tessel::execute() {
  if (!started_) return true;
  try {
    const std::string task = tsl::zr::getStringParameter("task");
    if (task == "select_3dmcsdm") {
      // Opens a file dialog: no busy cursor.
      selectMotionFile();
    } else {
      const BusyCursor busy;
      if (task == "displacement") {
        computeDisplacementMaps();
      } else if (task == "confound") {
        createConfoundModels();
      }
    }
  } catch (const std::exception& error) {
    // The busy cursor has already been stopped by the guard's destructor.
    reportError(error);
  }
  return true;
}

tsl::ZorvLog& tessel::log() {
  if (!log_) throw std::logic_error("The log stream is used before initPlugin created it.");
  return *log_;
}

void tessel::reportError(const std::exception& error) noexcept {
  try {
    const std::string text = std::string("Error: ") + error.what();
    if (tsl::host::table()[static_cast<std::size_t>(tsl::host::Fn::zrMessageBox)] != nullptr) {
      tsl::zr::messageBox(text);
    } else if (log_) {
      // A host without message boxes still has the log pane.
      *log_ << tsl::kDisplayName << ">  " << text << std::flush;
    }
  } catch (...) {
    // Nothing may escape into the host; there is no other place to report.
  }
}

// The task bodies live in tasks/; here they meet the host.
void tessel::selectMotionFile() {
  tsl::ZorvHost host(log());
  tsl::selectMotionFile(host);
}

void tessel::computeDisplacementMaps() {
  tsl::ZorvHost host(log());
  tsl::computeDisplacementMaps(host);
}

void tessel::createConfoundModels() {
  tsl::ZorvHost host(log());
  tsl::createConfoundModels(host);
}
