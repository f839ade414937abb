#include "host/plugin_services.h"

#include <map>

namespace axis {

namespace {
std::map<std::string, SetupService>& Services() {
  static std::map<std::string, SetupService> services;
  return services;
}
}  // namespace

void RegisterSetupService(const char* name, SetupService service) {
  if (name == nullptr || service == nullptr) return;
  Services()[name] = service;
}

void UnregisterSetupService(const char* name) {
  if (name != nullptr) Services().erase(name);
}

SetupService FindSetupService(const std::string& name) {
  const auto it = Services().find(name);
  return it == Services().end() ? nullptr : it->second;
}

std::vector<std::string> SetupServiceNames() {
  std::vector<std::string> names;
  for (const auto& entry : Services()) names.push_back(entry.first);
  return names;
}

}  // namespace axis
