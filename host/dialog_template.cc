#include "host/dialog_template.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

#include "host/install_layout.h"
#include "host/text.h"

namespace axis {

namespace {

using Json = nlohmann::json;

constexpr const char* kFormatName = "axiscore-dialog";
constexpr int kFormatVersion = 1;

struct KindRow {
  ControlKind kind;
  const char* name;
};
constexpr KindRow kKinds[] = {
    {ControlKind::kGroup, "group"},
    {ControlKind::kLabel, "label"},
    {ControlKind::kEdit, "edit"},
    {ControlKind::kUnit, "unit"},
    {ControlKind::kCombo, "combo"},
    {ControlKind::kCheck, "check"},
    {ControlKind::kRadio, "radio"},
    {ControlKind::kButton, "button"},
    {ControlKind::kBitmapButton, "bitmapButton"},
    {ControlKind::kPicture, "picture"},
    {ControlKind::kSlider, "slider"},
    {ControlKind::kSpin, "spin"},
    {ControlKind::kTab, "tab"},
    {ControlKind::kText, "text"},
    {ControlKind::kMark, "mark"},
    {ControlKind::kCustom, "custom"},
};

constexpr const char* kDialogMembers[] = {"format", "version", "id",          "caption",
                                          "width",  "height",  "helpContext", "controls"};
constexpr const char* kControlMembers[] = {"id",      "kind",    "caption", "rect",  "parent",
                                           "page",    "items",   "pages",   "image", "readOnly",
                                           "enabled", "visible", "range"};

// "line:column" of a byte offset (1-based).
std::string LineColumn(std::string_view text, size_t position) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < position && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return std::to_string(line) + ":" + std::to_string(column);
}

class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  TemplateResult Read(std::string_view text) {
    Json root;
    try {
      root = Json::parse(text);
    } catch (const Json::parse_error& ex) {
      const size_t at = ex.byte == 0 ? 0 : ex.byte - 1;
      return {std::nullopt, source_ + ": " + LineColumn(text, at) + ": malformed JSON"};
    }
    DialogTemplate dialog;
    if (!ReadDialog(root, dialog)) return {std::nullopt, error_};
    return {std::move(dialog), ""};
  }

 private:
  bool Fail(const std::string& pointer, const std::string& fault) {
    error_ = source_ + ": " + (pointer.empty() ? "" : pointer + ": ") + fault;
    return false;
  }

  bool OnlyKnown(const Json& object, const std::string& pointer, const char* const* names,
                 size_t count) {
    for (const auto& [key, value] : object.items()) {
      bool known = false;
      for (size_t i = 0; i < count; ++i) known = known || key == names[i];
      if (!known) return Fail(pointer + "/" + key, "unknown member");
    }
    return true;
  }

  const Json* Member(const Json& object, const std::string& pointer, const char* name,
                     bool required) {
    const auto it = object.find(name);
    if (it == object.end()) {
      if (required) Fail(pointer, std::string("missing member \"") + name + "\"");
      return nullptr;
    }
    return &*it;
  }

  bool Int(const Json& value, const std::string& pointer, int& out) {
    if (!value.is_number_integer()) return Fail(pointer, "expected an integer");
    const int64_t wide = value.get<int64_t>();
    if (value.is_number_unsigned() && value.get<uint64_t>() > INT32_MAX)
      return Fail(pointer, "integer out of range");
    if (wide < INT32_MIN || wide > INT32_MAX) return Fail(pointer, "integer out of range");
    out = static_cast<int>(wide);
    return true;
  }

  bool Text(const Json& value, const std::string& pointer, std::string& out) {
    if (!value.is_string()) return Fail(pointer, "expected a string");
    const std::optional<std::string> latin1 = Utf8ToLatin1(value.get<std::string>());
    if (!latin1) return Fail(pointer, "text holds a character outside Latin-1");
    out = *latin1;
    return true;
  }

  bool Bool(const Json& value, const std::string& pointer, bool& out) {
    if (!value.is_boolean()) return Fail(pointer, "expected true or false");
    out = value.get<bool>();
    return true;
  }

  bool Texts(const Json& value, const std::string& pointer, std::vector<std::string>& out) {
    if (!value.is_array()) return Fail(pointer, "expected an array of strings");
    for (size_t i = 0; i < value.size(); ++i) {
      std::string text;
      if (!Text(value[i], pointer + "/" + std::to_string(i), text)) return false;
      out.push_back(std::move(text));
    }
    return true;
  }

  bool Ints(const Json& value, const std::string& pointer, size_t count, int* out) {
    if (!value.is_array() || value.size() != count)
      return Fail(pointer, "expected an array of " + std::to_string(count) + " integers");
    for (size_t i = 0; i < count; ++i) {
      if (!Int(value[i], pointer + "/" + std::to_string(i), out[i])) return false;
    }
    return true;
  }

  bool ReadDialog(const Json& root, DialogTemplate& dialog) {
    if (!root.is_object()) return Fail("", "expected an object at the top level");
    if (!OnlyKnown(root, "", kDialogMembers, std::size(kDialogMembers))) return false;
    const Json* format = Member(root, "", "format", true);
    if (format == nullptr) return false;
    if (!format->is_string() || format->get<std::string>() != kFormatName)
      return Fail("/format",
                  std::string("not a dialog template: expected \"") + kFormatName + "\"");
    const Json* version = Member(root, "", "version", true);
    int version_number = 0;
    if (version == nullptr || !Int(*version, "/version", version_number)) return false;
    if (version_number != kFormatVersion)
      return Fail("/version", "unsupported version " + std::to_string(version_number));
    const Json* id = Member(root, "", "id", true);
    if (id == nullptr || !Int(*id, "/id", dialog.id)) return false;
    const Json* caption = Member(root, "", "caption", true);
    if (caption == nullptr || !Text(*caption, "/caption", dialog.caption)) return false;
    const Json* width = Member(root, "", "width", true);
    if (width == nullptr || !Int(*width, "/width", dialog.width)) return false;
    const Json* height = Member(root, "", "height", true);
    if (height == nullptr || !Int(*height, "/height", dialog.height)) return false;
    if (const Json* help = Member(root, "", "helpContext", false)) {
      if (!Int(*help, "/helpContext", dialog.help_context)) return false;
    }
    const Json* controls = Member(root, "", "controls", true);
    if (controls == nullptr) return false;
    if (!controls->is_array()) return Fail("/controls", "expected an array");
    for (size_t i = 0; i < controls->size(); ++i) {
      ControlTemplate control;
      const std::string at = "/controls/" + std::to_string(i);
      if (!ReadControl((*controls)[i], at, control)) return false;
      if (dialog.Find(control.id) != nullptr)
        return Fail(at + "/id", "control id " + std::to_string(control.id) + " used twice");
      dialog.controls.push_back(std::move(control));
    }
    return CheckParents(dialog);
  }

  bool ReadControl(const Json& object, const std::string& at, ControlTemplate& control) {
    if (!object.is_object()) return Fail(at, "expected an object");
    if (!OnlyKnown(object, at, kControlMembers, std::size(kControlMembers))) return false;
    const Json* id = Member(object, at, "id", true);
    if (id == nullptr || !Int(*id, at + "/id", control.id)) return false;
    if (control.id == 0) return Fail(at + "/id", "control id 0 is reserved");
    const Json* kind = Member(object, at, "kind", true);
    if (kind == nullptr) return false;
    const std::optional<ControlKind> parsed =
        kind->is_string() ? ControlKindFromName(kind->get<std::string>()) : std::nullopt;
    if (!parsed) return Fail(at + "/kind", "unknown control kind " + kind->dump());
    control.kind = *parsed;
    const Json* rect = Member(object, at, "rect", true);
    int box[4] = {};
    if (rect == nullptr || !Ints(*rect, at + "/rect", 4, box)) return false;
    control.rect = {box[0], box[1], box[2], box[3]};
    if (const Json* v = Member(object, at, "caption", false);
        v && !Text(*v, at + "/caption", control.caption))
      return false;
    if (const Json* v = Member(object, at, "parent", false);
        v && !Int(*v, at + "/parent", control.parent))
      return false;
    if (const Json* v = Member(object, at, "page", false);
        v && !Int(*v, at + "/page", control.page))
      return false;
    if (const Json* v = Member(object, at, "items", false);
        v && !Texts(*v, at + "/items", control.items))
      return false;
    if (const Json* v = Member(object, at, "pages", false);
        v && !Texts(*v, at + "/pages", control.pages))
      return false;
    if (const Json* v = Member(object, at, "image", false);
        v && !Text(*v, at + "/image", control.image))
      return false;
    if (const Json* v = Member(object, at, "readOnly", false);
        v && !Bool(*v, at + "/readOnly", control.read_only))
      return false;
    if (const Json* v = Member(object, at, "enabled", false);
        v && !Bool(*v, at + "/enabled", control.enabled))
      return false;
    if (const Json* v = Member(object, at, "visible", false);
        v && !Bool(*v, at + "/visible", control.visible))
      return false;
    if (const Json* v = Member(object, at, "range", false)) {
      int range[2] = {};
      if (!Ints(*v, at + "/range", 2, range)) return false;
      if (range[0] >= range[1]) return Fail(at + "/range", "the lower end must be below the upper");
      control.range_min = range[0];
      control.range_max = range[1];
    }
    if (control.kind == ControlKind::kTab && control.pages.empty())
      return Fail(at, "a tab control needs \"pages\"");
    return true;
  }

  // Every parent is a group or tab of the same file; a page index is valid for its tab.
  bool CheckParents(const DialogTemplate& dialog) {
    for (size_t i = 0; i < dialog.controls.size(); ++i) {
      const ControlTemplate& control = dialog.controls[i];
      const std::string at = "/controls/" + std::to_string(i);
      if (control.parent == 0) {
        if (control.page >= 0) return Fail(at + "/page", "a page needs a tab control as parent");
        continue;
      }
      const ControlTemplate* parent = dialog.Find(control.parent);
      if (parent == nullptr || parent == &control ||
          (parent->kind != ControlKind::kGroup && parent->kind != ControlKind::kTab))
        return Fail(at + "/parent",
                    "no group or tab control with id " + std::to_string(control.parent));
      if (parent->kind == ControlKind::kTab &&
          (control.page < 0 || control.page >= static_cast<int>(parent->pages.size())))
        return Fail(at + "/page", "no page " + std::to_string(control.page) + " in tab control " +
                                      std::to_string(parent->id));
      if (parent->kind == ControlKind::kGroup && control.page >= 0)
        return Fail(at + "/page", "a page needs a tab control as parent");
    }
    return true;
  }

  std::string source_;
  std::string error_;
};

}  // namespace

const char* ControlKindName(ControlKind kind) {
  for (const KindRow& row : kKinds) {
    if (row.kind == kind) return row.name;
  }
  return "";
}

std::optional<ControlKind> ControlKindFromName(std::string_view name) {
  for (const KindRow& row : kKinds) {
    if (name == row.name) return row.kind;
  }
  return std::nullopt;
}

const ControlTemplate* DialogTemplate::Find(int control_id) const {
  for (const ControlTemplate& control : controls) {
    if (control.id == control_id) return &control;
  }
  return nullptr;
}

std::string ResourceDirectory() {
  if (const char* env = std::getenv("AXIS_RESOURCES"); env != nullptr && *env != '\0') return env;
  return FindProgramFile(ProgramFolder::kData, "resources");
}

std::string FindNumberedResource(const std::string& subfolder, int id, const std::string& extension,
                                 const std::string& what, std::string& error) {
  error.clear();
  const std::string folder = ResourceDirectory() + "/" + subfolder;
  const std::string exact = std::to_string(id) + extension;
  const std::string prefix = std::to_string(id) + "-";
  std::string found;
  std::error_code read_error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, read_error)) {
    const std::string name = entry.path().filename().string();
    if (name != exact && !(name.starts_with(prefix) && name.ends_with(extension))) continue;
    if (!found.empty()) {
      error = folder + ": two files of the " + what + " " + std::to_string(id);
      return {};
    }
    found = entry.path().string();
  }
  if (read_error) {
    error = folder + ": cannot read the folder: " + read_error.message();
    return {};
  }
  if (found.empty()) error = folder + ": no " + what + " " + std::to_string(id);
  return found;
}

std::string HelpPagePath(int context) {
  std::string error;
  return context == 0
             ? std::string()
             : FindNumberedResource("help", context, ".html", "help page for topic", error);
}

TemplateResult LoadDialogTemplate(int id) {
  std::string error;
  const std::string found =
      FindNumberedResource("dialogs", id, ".json", "template for dialog", error);
  if (found.empty()) return {std::nullopt, error};
  TemplateResult result = LoadDialogTemplateFile(found);
  if (result && result.dialog->id != id)
    return {std::nullopt,
            found + ": /id: expected " + std::to_string(id) + " as the file name says"};
  return result;
}

TemplateResult LoadDialogTemplateFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {std::nullopt, path + ": cannot read: " + std::strerror(errno)};
  std::ostringstream text;
  text << file.rdbuf();
  return LoadDialogTemplateText(text.str(), path);
}

TemplateResult LoadDialogTemplateText(std::string_view text, const std::string& source_name) {
  return Reader(source_name).Read(text);
}

}  // namespace axis
