#include "hostsim/file_output.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace tsl::hostsim {

std::string writeFileAtomically(const std::string& path, const std::string& bytes) {
  return writeFileAtomically(path, std::vector<std::string_view>{bytes});
}

std::string writeFileAtomically(const std::string& path, const std::vector<std::string_view>& parts) {
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot create " + temporary;
    for (const std::string_view part : parts) out.write(part.data(), static_cast<std::streamsize>(part.size()));
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
