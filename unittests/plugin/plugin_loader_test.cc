#include "host/plugin_loader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "host/plugin_services.h"

namespace {

const std::string kBin = AXIS_BIN_DIR;

// The names a library exports, as the dynamic linker sees them.
std::set<std::string> DefinedDynamicSymbols(const std::string& library) {
  std::set<std::string> symbols;
  FILE* pipe = popen(("nm -D --defined-only --format=just-symbols '" + library + "'").c_str(), "r");
  if (pipe == nullptr) return symbols;
  for (std::array<char, 512> line{}; fgets(line.data(), line.size(), pipe) != nullptr;)
    symbols.insert(std::string(line.data(), strcspn(line.data(), "\r\n")));
  pclose(pipe);
  return symbols;
}

TEST(PluginExports, ExactlyFourFunctionsAndTheFlag) {
  const std::set<std::string> expected = {"ComputeAllOptions", "EditSetup", "GetScaleFactor",
                                          "GetScaleOffset", "g_bKufSinusoidalMode"};
  EXPECT_EQ(DefinedDynamicSymbols(kBin + "/libkestrel.so"), expected);
}

TEST(PluginLoader, LoadsThePluginAndRegistersItsServices) {
  std::string error;
  auto plugin = axis::Plugin::Load(kBin + "/libkestrel.so", error);
  ASSERT_NE(plugin, nullptr) << error;
  const axis::PluginExports& exports = plugin->Exports();
  ASSERT_NE(exports.g_bKufSinusoidalMode, nullptr);
  EXPECT_EQ(*exports.g_bKufSinusoidalMode, 0);
  for (const char* service :
       {"encode-pass", "derive-pass", "tune-current", "tune-speed", "tune-position"}) {
    EXPECT_NE(axis::FindSetupService(service), nullptr) << service;
  }
  // A null setup is a no-op for every entry point.
  exports.ComputeAllOptions(nullptr);
  EXPECT_EQ(exports.GetScaleFactor(nullptr, "m", "APOS"), 1.0);
  EXPECT_EQ(exports.GetScaleOffset(nullptr, "\260C"), 0.0);  // the one unit with an offset
  plugin.reset();
  // Unloading withdraws the services: nothing may point into an unloaded library.
  EXPECT_EQ(axis::FindSetupService("encode-pass"), nullptr);
}

TEST(PluginLoader, RefusesBrokenLibrariesWithTheReason) {
  const std::string not_elf = ::testing::TempDir() + "/not-a-plugin.so";
  std::ofstream(not_elf) << "this is text, not a shared library\n";
  struct Row {
    const char* name;
    std::string path;
    std::string expected_prefix;
    std::string expected_part;
  };
  const Row rows[] = {
      {"missing file", "/nonexistent/libkestrel.so",
       "cannot load the plug-in \"/nonexistent/libkestrel.so\": ", "No such file"},
      {"not a library", not_elf, "cannot load the plug-in \"" + not_elf + "\": ", ""},
      {"missing exports", kBin + "/libbroken_plugin.so",
       "the plug-in \"" + kBin + "/libbroken_plugin.so\" lacks the export(s) ",
       "EditSetup, GetScaleFactor, g_bKufSinusoidalMode"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    EXPECT_EQ(axis::Plugin::Load(row.path, error), nullptr);
    EXPECT_EQ(error.rfind(row.expected_prefix, 0), 0u) << error;
    EXPECT_NE(error.find(row.expected_part), std::string::npos) << error;
  }
}

}  // namespace
