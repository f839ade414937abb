// Dialog templates: the controls of one dialog as a file in resources/dialogs/<id>-<slug>.json.
//
// Loading never throws: a fault comes back as a message naming the file, the place (a JSON pointer
// such as /controls/3/rect, or line:column for malformed JSON) and what is wrong. Texts are kept in
// Latin-1, the program's own encoding (files are UTF-8).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace axis {

enum class ControlKind {
  kGroup,
  kLabel,
  kEdit,
  kUnit,
  kCombo,
  kCheck,
  kRadio,
  kButton,
  kBitmapButton,
  kPicture,
  kSlider,
  kSpin,
  kTab,
  kText,
  kMark,
  kCustom,  // drawn by the front end from a model the dialog attaches (plot, bar, diagram)
};

// The kind's name in template files ("bitmapButton"); nullopt for an unknown name.
const char* ControlKindName(ControlKind kind);
std::optional<ControlKind> ControlKindFromName(std::string_view name);

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};

struct ControlTemplate {
  int id = 0;
  ControlKind kind = ControlKind::kLabel;
  std::string caption;
  Rect rect;
  int parent = 0;  // 0: the dialog itself
  int page = -1;   // page of the parent tab control, -1 when not on a page
  std::vector<std::string> items;
  std::vector<std::string> pages;
  std::string image;
  bool read_only = false;
  bool enabled = true;
  bool visible = true;
  int range_min = 0;  // slider ticks
  int range_max = 100;
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  int width = 0;
  int height = 0;
  int help_context = 0;
  std::vector<ControlTemplate> controls;  // in tab order

  const ControlTemplate* Find(int control_id) const;
};

struct TemplateResult {
  std::optional<DialogTemplate> dialog;  // empty when loading failed
  std::string error;                     // "" when loading succeeded
  explicit operator bool() const { return dialog.has_value(); }
};

// The folder holding dialogs/: $AXIS_RESOURCES when set, else the program's resources/ folder
// (beside the executable in the build tree, share/axiscore/resources when installed).
std::string ResourceDirectory();

// The file of a numbered resource: <ResourceDirectory()>/<subfolder>/<id><extension> or
// <id>-<slug><extension> ("dialogs", 106, ".json" finds dialogs/106-drive-setup.json). "" when
// there is none or more than one, with `error` saying so ("<folder>: no <what> <id>").
std::string FindNumberedResource(const std::string& subfolder, int id, const std::string& extension,
                                 const std::string& what, std::string& error);
// The help page of a help topic (help/<topic>-<slug>.html), "" when there is none.
std::string HelpPagePath(int context);

// The template with that id from <ResourceDirectory()>/dialogs (file "<id>-<slug>.json").
TemplateResult LoadDialogTemplate(int id);
TemplateResult LoadDialogTemplateFile(const std::string& path);
// The same for text in memory; `source_name` stands for the file in messages.
TemplateResult LoadDialogTemplateText(std::string_view text, const std::string& source_name);

}  // namespace axis
