// Loading the drive-family plug-in.
//
// The host never links the plug-in: it opens the shared library at run time, resolves its exports
// and keeps the handle in one owner object for as long as the plug-in is used.
#pragma once

#include <memory>
#include <string>

#include "host/setup.h"

namespace axis {

struct PluginExports {
  void (*ComputeAllOptions)(CMC_Setup* setup) = nullptr;
  int (*EditSetup)(CMC_Setup* setup) = nullptr;
  ScaleFactorFn GetScaleFactor = nullptr;
  ScaleOffsetFn GetScaleOffset = nullptr;
  int* g_bKufSinusoidalMode = nullptr;
};

class Plugin {
 public:
  // Opens the library at `path` and resolves every export. On failure returns null and sets
  // `error` to a message naming the file and what went wrong.
  static std::unique_ptr<Plugin> Load(const std::string& path, std::string& error);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const PluginExports& Exports() const { return exports_; }
  const std::string& Path() const { return path_; }
  ScaleProvider Scales() const { return {exports_.GetScaleFactor, exports_.GetScaleOffset}; }

 private:
  Plugin(void* handle, std::string path, PluginExports exports)
      : handle_(handle), path_(std::move(path)), exports_(exports) {}
  void* handle_;
  std::string path_;
  PluginExports exports_;
};

// The plug-in's default location: libkestrel.so next to the executable (the build tree), else in
// the installed tree's library folder (see host/install_layout.h).
std::string DefaultPluginPath();

}  // namespace axis
