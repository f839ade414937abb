// Setup files: one drive's setup as a JSON document (docs/setup-format.md, docs/setup.schema.json).
//
// Loading never throws and never crashes on bad input: a fault comes back as a message naming the
// file, the place (a JSON pointer such as /parameters/12/value, or line:column for a syntax error)
// and what is wrong. Saving replaces the file atomically, so an interrupted save keeps the old
// setup. Values survive load -> save -> load bit for bit (every NaN reads back as the same NaN).
//
// Reading is in setup_file_read.cc, writing in setup_file_write.cc, the comparison in
// setup_file_compare.cc.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "host/setup.h"

namespace axis {

// Either a setup or the reason there is none.
struct LoadResult {
  std::unique_ptr<CMC_Setup> setup;  // null when loading failed
  std::string error;                 // "" when loading succeeded

  explicit operator bool() const { return setup != nullptr; }
};

// Reads and checks a setup file (at most kMaxJsonFileBytes, host/json_file.h). The error names
// `path` as given.
LoadResult LoadSetupFile(const std::string& path);
// The same for text already in memory; `source_name` stands for the file in messages.
LoadResult LoadSetupText(std::string_view text, const std::string& source_name);

// The setup as the text of a setup file (UTF-8, 2-space indent, members in the documented order).
// An extra section whose stored text is not valid JSON is written as a JSON string holding that
// text; SaveSetupFile refuses such a setup instead.
std::string SetupToText(const CMC_Setup& setup);

// Writes the setup to `path` atomically through ReplaceFileAtomically (host/file_replace.h): only
// over a regular file that is not read-only (a symbolic link to one is followed), keeping its
// permission bits; on any failure the old file is left as it was. A setup whose text would pass
// the size limit of setup files is not written. Returns "" on success, otherwise the reason.
std::string SaveSetupFile(const CMC_Setup& setup, const std::string& path);

// The first difference between two setups in everything a setup file holds (doubles compared bit
// for bit, any NaN equal to any NaN), described for a person; "" when there is none.
std::string FirstDifference(const CMC_Setup& a, const CMC_Setup& b);

}  // namespace axis
