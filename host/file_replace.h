// Replacing a file atomically, for every file the host writes (setup files, motor databases).
#pragma once

#include <string>
#include <string_view>

namespace axis {

// Replaces the file at `path` with `contents` atomically: a new file is written in the same folder,
// flushed to disk and renamed over the old one, so that the old file stays whole until the new one
// is complete; on any failure the old file is left as it was. Returns "" on success, otherwise the
// reason after `path` ("<path>: ..."); nothing is thrown.
//
// - Only a regular file is replaced (or created where nothing is): a folder, a device, a named
//   pipe or a socket is refused, and so is a symbolic link to one of those or to nothing. A
//   symbolic link to a regular file is followed: the file is replaced and the link kept.
// - A read-only file (no write permission for the caller, or none for anyone) is refused, as an
//   editor would.
// - The new file keeps the old one's permission bits (and, for the super-user, its owner); a new
//   file gets 0666 less the umask. A file with several hard links is replaced under the name given
//   only: its other names keep the old contents.
// - Where the file system allows it, the new file has no name until it is complete (O_TMPFILE),
//   then it is linked in under a temporary name and renamed over the target; elsewhere it is
//   written under the temporary name. Temporary names are TemporaryNamePrefix(path) followed by
//   "<pid>.XXXXXX"; each save removes those of the same file left by a process of this host that
//   no longer runs (a save killed in between).
std::string ReplaceFileAtomically(const std::string& path, std::string_view contents);

// ".<file name>.<host name>." for a file in the folder of `path`.
std::string TemporaryNamePrefix(const std::string& path);

}  // namespace axis
