// What the reader, the writer and the comparison of setup files share: the format's name and
// version, its top-level members, and the text a number is written as.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace axis::setup_format {

inline constexpr const char* kName = "axiscore-setup";
inline constexpr int64_t kVersion = 1;

// The documented top-level members, in the order they are written.
inline constexpr const char* kTopLevelMembers[] = {"format",  "version",    "identity", "options",
                                                   "ioPorts", "parameters", "variables"};

inline bool IsDocumented(std::string_view name) {
  for (const char* member : kTopLevelMembers) {
    if (name == member) return true;
  }
  return false;
}

// Appends a NUMBER as the file holds it: whole numbers up to 2^53 without a fraction, others in
// the shortest form that reads back to the same double, -0.0 with its sign, and the strings
// "NaN", "Infinity" and "-Infinity" for the values JSON cannot spell.
void AppendNumber(std::string& out, double value);

}  // namespace axis::setup_format
