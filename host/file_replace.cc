#include "host/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace axis {

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

mode_t NewFileMode() {
  // The umask is read from /proc rather than by setting it, which would race with other threads.
  mode_t mask = 022;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
      break;
    }
  }
  return static_cast<mode_t>(0666 & ~mask);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

std::string ReplaceFile(const std::string& requested_path, std::string_view contents) {
  std::string path = requested_path;
  struct stat link_info {};
  if (::lstat(path.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      path = resolved;
      std::free(resolved);
    }
  }
  struct stat old_info {};
  const bool replacing = ::stat(path.c_str(), &old_info) == 0 && S_ISREG(old_info.st_mode);

  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = (slash == std::string::npos ? std::string() : folder) + "." + base + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    return requested_path + ": cannot create a temporary file in " + folder + ": " +
           ErrnoText(errno);
  }
  auto fail = [&](const char* step) {
    const int error = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return requested_path + ": " + step + ": " + ErrnoText(error);
  };
  const mode_t mode = replacing ? (old_info.st_mode & 07777) : NewFileMode();
  if (replacing) {
    // Only root may give the file away; for anyone else the file stays theirs.
    const int ignored = ::fchown(fd, old_info.st_uid, old_info.st_gid);
    (void)ignored;
  }
  if (::fchmod(fd, mode) != 0) return fail("cannot set the file mode");
  if (!WriteAll(fd, contents)) return fail("cannot write");
  if (::fsync(fd) != 0) return fail("cannot flush to disk");
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return requested_path + ": cannot write: " + ErrnoText(error);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return requested_path + ": cannot replace the file: " + ErrnoText(error);
  }
  // Make the rename itself durable; the new file is in place whether or not this succeeds.
  const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (folder_fd >= 0) {
    ::fsync(folder_fd);
    ::close(folder_fd);
  }
  return "";
}

}  // namespace

std::string ReplaceFileAtomically(const std::string& path, std::string_view contents) {
  return ReplaceFile(path, contents);
}

}  // namespace axis
