#include "host/routine_image.h"

#include <algorithm>

int CMC_CoffFormat::ReadCoff() {
  const size_t slash = file_name_.rfind('/');
  label_ = slash == std::string::npos ? file_name_ : file_name_.substr(slash + 1);
  inputs_.clear();
  launched_ = false;
  return label_.empty() ? 0 : 1;
}

void CMC_CoffFormat::SetInput(std::string_view name, double value) {
  const auto it = std::find_if(inputs_.begin(), inputs_.end(),
                               [&](const auto& input) { return input.first == name; });
  if (it != inputs_.end()) {
    it->second = value;
  } else {
    inputs_.emplace_back(std::string(name), value);
  }
}
