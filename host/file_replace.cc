#include "host/file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <random>
#include <string>

namespace axis {

namespace {

constexpr const char* kNothingWritten = "; nothing was written";

std::string ErrnoText(int error) { return std::strerror(error); }

class FileCloser {
 public:
  explicit FileCloser(int fd) : fd_(fd) {}
  ~FileCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;
  // Closes now, reporting the error a late write-back may only show here; errno keeps it.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// The file a save replaces or creates.
struct Target {
  std::string path;    // the path given, or the file a symbolic link there names
  std::string folder;  // its folder with the final slash; "" for the current folder
  std::string name;    // its file name
  bool exists = false;
  struct stat info {};

  std::string FolderToOpen() const { return folder.empty() ? "." : folder; }
};

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

// What a symbolic link says, as it says it.
std::string LinkText(const std::string& path) {
  char text[PATH_MAX];
  const ssize_t size = ::readlink(path.c_str(), text, sizeof text);
  return size < 0 ? std::string("?") : std::string(text, static_cast<size_t>(size));
}

// A file nobody may write is read-only even for the super-user, as it is for a careful editor.
bool IsReadOnly(const Target& target) {
  if ((target.info.st_mode & 0222) == 0) return true;
  return ::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

// Finds the file that a save to `requested` replaces; "" or the reason it refuses to.
std::string Resolve(const std::string& requested, Target& target) {
  target.path = requested;
  bool through_link = false;
  struct stat link_info {};
  if (::lstat(requested.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
    char* resolved = ::realpath(requested.c_str(), nullptr);
    if (resolved == nullptr) {
      const int error = errno;
      if (error == ENOENT)
        return requested + ": links to " + LinkText(requested) + ", which does not exist" +
               kNothingWritten;
      return requested + ": cannot follow the symbolic link: " + ErrnoText(error) + kNothingWritten;
    }
    target.path = resolved;
    std::free(resolved);
    through_link = true;
  }
  // Anything that cannot be looked at is taken for absent: creating the file then says why not.
  if (::stat(target.path.c_str(), &target.info) == 0) {
    target.exists = true;
    if (!S_ISREG(target.info.st_mode)) {
      return requested + ": " + (through_link ? "links to " + target.path + ", " : "") +
             KindOf(target.info.st_mode) + ", not a regular file" + kNothingWritten;
    }
    if (IsReadOnly(target)) return requested + ": the file is read-only" + kNothingWritten;
  }
  const size_t slash = target.path.rfind('/');
  target.folder = slash == std::string::npos ? "" : target.path.substr(0, slash + 1);
  target.name = slash == std::string::npos ? target.path : target.path.substr(slash + 1);
  if (target.name.empty()) return requested + ": names no file" + kNothingWritten;
  return "";
}

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

// Gives the new file the old one's mode (and, for the super-user, owner), writes the contents and
// flushes them to disk; "" or the step that failed.
std::string Fill(int fd, const Target& target, std::string_view contents,
                 const std::string& requested) {
  const auto failed = [&](const char* step) {
    const int error = errno;
    return requested + ": " + step + ": " + ErrnoText(error);
  };
  if (target.exists) {
    // Only root may give the file away; for anyone else the file stays theirs.
    const int ignored = ::fchown(fd, target.info.st_uid, target.info.st_gid);
    (void)ignored;
  }
  // After the owner: changing it clears the set-user-ID and set-group-ID bits.
  const mode_t mode = target.exists ? (target.info.st_mode & 07777) : NewFileMode();
  if (::fchmod(fd, mode) != 0) return failed("cannot set the file mode");
  if (!WriteAll(fd, contents)) return failed("cannot write");
  if (::fsync(fd) != 0) return failed("cannot flush to disk");
  return "";
}

std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
  std::string name(host);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name.substr(0, 64);
}

// ".<name>.<host>.", the name cut so that the whole temporary name stays within NAME_MAX.
std::string PrefixFor(const std::string& name) {
  const std::string host = HostName();
  // The dots, a pid of up to ten digits and the six-character suffix.
  const size_t room = NAME_MAX - (host.size() + 4 + 10 + 6);
  return "." + name.substr(0, room) + "." + host + ".";
}

std::string RandomSuffix() {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random(
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(::getpid()) << 32));
  std::string suffix(6, 'A');
  for (char& c : suffix) c = kLetters[random() % (sizeof kLetters - 1)];
  return suffix;
}

// The pid in a temporary's name after its prefix ("<pid>.XXXXXX"), or 0 when the rest is not of
// that form.
pid_t PidOfTemporary(std::string_view rest) {
  const size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot > 10 || rest.size() != dot + 7) return 0;
  int64_t pid = 0;
  for (char c : rest.substr(0, dot)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  for (char c : rest.substr(dot + 1)) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return 0;
  }
  return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

// Removes the temporaries of saves of the target that a process of this host left when it was
// killed: those whose process is gone (a running one, or one not ours to ask, is left alone).
void RemoveStaleTemporaries(const Target& target) {
  DIR* folder = ::opendir(target.FolderToOpen().c_str());
  if (folder == nullptr) return;
  const std::string prefix = PrefixFor(target.name);
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix)) continue;
    const pid_t pid = PidOfTemporary(name.substr(prefix.size()));
    if (pid == 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
    struct stat info {};
    if (::fstatat(::dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
      continue;
    }
    ::unlinkat(::dirfd(folder), entry->d_name, 0);
  }
  ::closedir(folder);
}

// Renames the complete temporary over the target and makes that durable; "" or the reason.
std::string Commit(const std::string& temp, const Target& target, const std::string& requested) {
  if (::rename(temp.c_str(), target.path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return requested + ": cannot replace the file: " + ErrnoText(error);
  }
  // Make the rename itself durable; the new file is in place whether or not this succeeds.
  const int folder_fd = ::open(target.FolderToOpen().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd >= 0) {
    ::fsync(folder_fd);
    ::close(folder_fd);
  }
  RemoveStaleTemporaries(target);
  return "";
}

std::string CannotCreate(const Target& target, const std::string& requested, int error) {
  return requested + ": cannot create a temporary file in " + target.FolderToOpen() + ": " +
         ErrnoText(error);
}

// The new file written under a temporary name from the start, for file systems without O_TMPFILE.
std::string ReplaceThroughNamedFile(const Target& target, std::string_view contents,
                                    const std::string& requested, const std::string& prefix) {
  std::string temp = target.folder + prefix + "XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return CannotCreate(target, requested, errno);
  FileCloser file(fd);
  std::string error = Fill(fd, target, contents, requested);
  if (error.empty() && !file.Close()) error = requested + ": cannot write: " + ErrnoText(errno);
  if (!error.empty()) {
    ::unlink(temp.c_str());
    return error;
  }
  return Commit(temp, target, requested);
}

std::string ReplaceFile(const std::string& requested, std::string_view contents) {
  Target target;
  if (std::string refused = Resolve(requested, target); !refused.empty()) return refused;
  const std::string prefix = PrefixFor(target.name) + std::to_string(::getpid()) + ".";

  // The new file has no name while it is written: a save killed meanwhile leaves nothing behind.
  const int fd =
      ::open(target.FolderToOpen().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    if (errno == EISDIR || errno == EOPNOTSUPP || errno == EINVAL)  // no O_TMPFILE here
      return ReplaceThroughNamedFile(target, contents, requested, prefix);
    return CannotCreate(target, requested, errno);
  }
  FileCloser file(fd);
  if (std::string error = Fill(fd, target, contents, requested); !error.empty()) return error;
  // Complete and on disk: linked in under a temporary name (a rename needs one), then renamed.
  const std::string proc_path = "/proc/self/fd/" + std::to_string(fd);
  std::string temp;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = target.folder + prefix + RandomSuffix();
    if (::linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
      break;
    const int error = errno;
    temp.clear();
    if (error != EEXIST) break;
  }
  // Without /proc, or where the file system refuses the link, the file is written again by name.
  if (temp.empty()) return ReplaceThroughNamedFile(target, contents, requested, prefix);
  // Renamed at once, so that the name is there for as short a time as can be; the contents are on
  // disk already (Fill flushed them), so closing the file afterwards has nothing left to report.
  return Commit(temp, target, requested);
}

}  // namespace

std::string ReplaceFileAtomically(const std::string& path, std::string_view contents) {
  try {
    return ReplaceFile(path, contents);
  } catch (const std::bad_alloc&) {
    return path + ": not enough memory to save it" + kNothingWritten;
  } catch (const std::exception& ex) {
    return path + ": cannot save: " + ex.what();
  }
}

std::string TemporaryNamePrefix(const std::string& path) {
  const size_t slash = path.rfind('/');
  return PrefixFor(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace axis
