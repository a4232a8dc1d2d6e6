#include "hostsim/file_output.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace tsl::hostsim {

std::string writeFileAtomically(const std::string& path, const std::string& bytes) {
  return writeFileAtomically(path, std::vector<std::string_view>{bytes});
}

std::string writeFileAtomically(const std::string& path,
                                const std::vector<std::string_view>& parts) {
  // The host opens an existing file for writing, which a read-only file
  // refuses (on Windows even to an administrator); renaming over it would not.
  std::error_code statusError;
  const std::filesystem::file_status status = std::filesystem::status(path, statusError);
  if (!statusError && std::filesystem::is_regular_file(status) &&
      (status.permissions() & std::filesystem::perms::owner_write) ==
          std::filesystem::perms::none) {
    return "the file is read-only";
  }
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot create " + temporary;
    for (const std::string_view part : parts)
      out.write(part.data(), static_cast<std::streamsize>(part.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return "cannot write " + temporary;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return "cannot rename " + temporary + " to " + path + ": " + error.message();
  }
  return {};
}

}  // namespace tsl::hostsim
