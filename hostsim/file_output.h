// Complete-or-absent file writes for the files the simulator makes.
#ifndef TESSEL_HOSTSIM_FILE_OUTPUT_H
#define TESSEL_HOSTSIM_FILE_OUTPUT_H

#include <string>

namespace tsl::hostsim {

// Writes bytes to a temporary file beside path and renames it over path.
// Returns an empty text on success; otherwise the reason, and path is left as
// it was.
std::string writeFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace tsl::hostsim

#endif
