#include "host/plugin_services.h"

#include <algorithm>
#include <charconv>
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

std::string OpenDialogServiceName(int template_id) {
  return kOpenDialogServicePrefix + std::to_string(template_id);
}

std::vector<int> OpenDialogIds() {
  const std::string_view prefix = kOpenDialogServicePrefix;
  std::vector<int> ids;
  for (const auto& entry : Services()) {
    const std::string& name = entry.first;
    if (!name.starts_with(prefix)) continue;
    int id = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    if (auto [stop, fault] = std::from_chars(first, last, id); fault == std::errc() && stop == last)
      ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

}  // namespace axis
