#include "host/plugin_loader.h"

#include <dlfcn.h>

#include "host/install_layout.h"

namespace axis {

namespace {
template <typename T>
bool Resolve(void* handle, const char* name, T& out, std::string& missing) {
  dlerror();
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    if (!missing.empty()) missing += ", ";
    missing += name;
    return false;
  }
  out = reinterpret_cast<T>(symbol);
  return true;
}
}  // namespace

std::unique_ptr<Plugin> Plugin::Load(const std::string& path, std::string& error) {
  dlerror();
  // dlopen searches the library path for a name without a slash; the plug-in named is a file.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = "cannot load the plug-in \"" + path + "\": " + (why ? why : "unknown error");
    return nullptr;
  }
  PluginExports exports;
  std::string missing;
  Resolve(handle, "ComputeAllOptions", exports.ComputeAllOptions, missing);
  Resolve(handle, "EditSetup", exports.EditSetup, missing);
  Resolve(handle, "GetScaleFactor", exports.GetScaleFactor, missing);
  Resolve(handle, "GetScaleOffset", exports.GetScaleOffset, missing);
  Resolve(handle, "g_bKufSinusoidalMode", exports.g_bKufSinusoidalMode, missing);
  if (!missing.empty()) {
    dlclose(handle);
    error = "the plug-in \"" + path + "\" lacks the export(s) " + missing;
    return nullptr;
  }
  return std::unique_ptr<Plugin>(new Plugin(handle, path, exports));
}

Plugin::~Plugin() {
  if (handle_ != nullptr) dlclose(handle_);
}

std::string DefaultPluginPath() {
  return FindProgramFile(ProgramFolder::kLibraries, "libkestrel.so");
}

}  // namespace axis
