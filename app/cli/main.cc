#include <cstdio>
#include <string>

#include "host/plugin_loader.h"

int main(int argc, char** argv) {
  std::string error;
  auto plugin = axis::Plugin::Load(axis::DefaultPluginPath(), error);
  if (!plugin) {
    std::fprintf(stderr, "axiscore: %s\n", error.c_str());
    return 1;
  }
  (void)argc;
  (void)argv;
  return 0;
}
