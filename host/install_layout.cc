#include "host/install_layout.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <system_error>

// The installed folders relative to the executable's; the build passes the ones it installs to.
#ifndef AXIS_LIBRARIES_FROM_BIN
#define AXIS_LIBRARIES_FROM_BIN "../lib/axiscore"
#endif
#ifndef AXIS_DATA_FROM_BIN
#define AXIS_DATA_FROM_BIN "../share/axiscore"
#endif

namespace axis {

std::string ExecutableDirectory() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return {};
  std::string path(buffer, static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string FindProgramFile(ProgramFolder folder, const std::string& name) {
  namespace fs = std::filesystem;
  const std::string executable_dir = ExecutableDirectory();
  const fs::path base = executable_dir.empty() ? fs::path(".") : fs::path(executable_dir);
  std::error_code error;
  if (fs::exists(base / name, error)) return (base / name).string();
  const char* installed =
      folder == ProgramFolder::kLibraries ? AXIS_LIBRARIES_FROM_BIN : AXIS_DATA_FROM_BIN;
  return (base / installed / name).lexically_normal().string();
}

}  // namespace axis
