// Environment settings that last for a scope, for tests of code that reads the environment.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace axis::testing {

// Sets (or, with nullopt, removes) one environment variable; the old state returns at the end.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A fresh, empty user configuration folder (XDG_CONFIG_HOME) for a scope, so that code reading
// the user's files (the motor database) never sees the real ones; removed afterwards.
class PrivateUserConfig {
 public:
  PrivateUserConfig() : folder_(MakeFolder()), env_("XDG_CONFIG_HOME", folder_) {}
  ~PrivateUserConfig() { std::filesystem::remove_all(folder_); }
  const std::string& Folder() const { return folder_; }

 private:
  static std::string MakeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "axis-config.XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    return pattern;
  }
  std::string folder_;
  ScopedEnv env_;
};

}  // namespace axis::testing
