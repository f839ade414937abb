// Replacing a file atomically, for every file the host writes (setup files, motor databases).
#pragma once

#include <string>
#include <string_view>

namespace axis {

// Replaces the file atomically: a temporary file in the same folder is written, flushed to disk
// and renamed over the target; on any failure the temporary is removed and the old file is left as
// it was. An existing target keeps its permission bits (a symbolic link is followed and the file
// it names is replaced). Returns "" on success, otherwise the reason (naming `path`).
std::string ReplaceFileAtomically(const std::string& path, std::string_view contents);

}  // namespace axis
