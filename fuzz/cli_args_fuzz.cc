// Feeds arbitrary command lines to axiscore's command line (app/cli), run in full on a fresh copy
// of the demo setup with the real plug-in. Whatever the arguments, a run ends with the exit status
// 0, 1 or 2 and nothing else; the sanitizers catch the rest.
//
// The input is split at newlines into at most 12 arguments. "@" stands for the demo setup's copy.
// So that no run can write outside its own folder, arguments holding a '/' are dropped, and the
// commands that start the desktop front end are skipped. Build and run:
//   export CXX=clang++
//   scripts/build.sh build-fuzz -DAXIS_FUZZ=ON -DAXIS_BUILD_TESTS=OFF -DAXIS_BUILD_BENCH=OFF
//   mkdir -p fuzz-cli && build-fuzz/bin/cli_args_fuzz -dict=fuzz/cli.dict -max_total_time=600 fuzz-cli
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/cli.h"
#include "host/install_layout.h"

namespace {

std::string g_demo;      // the demo setup's text
std::FILE* g_sink;       // /dev/null for the command line's output
constexpr size_t kMostArguments = 12;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Each run loads and unloads the plug-in; libFuzzer keeps reading the coverage counters of an
  // instrumented library, so it must stay mapped: one reference held here for good.
  const std::string plugin = axis::FindProgramFile(axis::ProgramFolder::kLibraries, "libkestrel.so");
  if (dlopen(plugin.c_str(), RTLD_NOW | RTLD_NODELETE) == nullptr) std::abort();
  std::ifstream in(AXIS_SETUPS_DIR "/demo-linear.json");
  g_demo = (std::stringstream() << in.rdbuf()).str();
  char folder[] = "/tmp/axiscore-cli-fuzz-XXXXXX";
  if (g_demo.empty() || mkdtemp(folder) == nullptr || chdir(folder) != 0) std::abort();
  g_sink = std::fopen("/dev/null", "w");
  return g_sink == nullptr ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (!rest.empty() && args.size() < kMostArguments) {
    const size_t end = rest.find('\n');
    std::string arg(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (arg.find('/') != std::string::npos || arg.find('\0') != std::string::npos) continue;
    args.push_back(arg == "@" ? "demo.json" : arg);
  }
  for (const std::string& arg : args) {
    if (arg == "edit" || arg == "render" || arg == "render-template") return 0;
  }
  std::ofstream("demo.json", std::ios::binary | std::ios::trunc) << g_demo;
  const int status = axis::cli::Run(args, g_sink, g_sink);
  if (status < 0 || status > 2) {
    std::fprintf(stderr, "exit status %d\n", status);
    std::abort();
  }
  return 0;
}
