// The axiscore command line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace axis::cli {

// Runs the command line; returns the process exit code. Output goes to `out`, errors and warnings
// to `err`.
int Run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace axis::cli
