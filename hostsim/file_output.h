// Complete-or-absent file writes for the files the simulator makes.
#ifndef TESSEL_HOSTSIM_FILE_OUTPUT_H
#define TESSEL_HOSTSIM_FILE_OUTPUT_H

#include <string>
#include <string_view>
#include <vector>

namespace tsl::hostsim {

// Writes bytes to a temporary file beside path and renames it over path.
// Returns an empty text on success; otherwise the reason, and path is left as
// it was. An existing file without write permission is refused ("the file is
// read-only"), as the host's own save refuses it, whoever runs the simulator.
std::string writeFileAtomically(const std::string& path, const std::string& bytes);
// The same for bytes given in parts, written one after the other.
std::string writeFileAtomically(const std::string& path,
                                const std::vector<std::string_view>& parts);

}  // namespace tsl::hostsim

#endif
