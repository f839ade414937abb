#include "host/dialog_template.h"

#include <gtest/gtest.h>

#include <string>

#include "host/dialog_test_support.h"

namespace axis {
namespace {

using testing::ResourceFolder;
using testing::TestDataDirectory;

TEST(DialogTemplate, ReadsEveryMemberOfTheTestTemplate) {
  const std::string path = TestDataDirectory() + "/dialogs/900-test-editor.json";
  const TemplateResult loaded = LoadDialogTemplateFile(path);
  ASSERT_TRUE(loaded) << loaded.error;
  const DialogTemplate& d = *loaded.dialog;
  EXPECT_EQ(d.id, 900);
  EXPECT_EQ(d.caption, "Test Editor \xB0");  // UTF-8 degree sign kept as Latin-1
  EXPECT_EQ(d.width, 400);
  EXPECT_EQ(d.height, 300);
  EXPECT_EQ(d.help_context, 4242);
  ASSERT_EQ(d.controls.size(), 29u);
  EXPECT_EQ(d.controls.front().id, 1000);  // tab order kept
  EXPECT_EQ(d.controls.back().id, 10024);

  const ControlTemplate* edit = d.Find(1001);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->kind, ControlKind::kEdit);
  EXPECT_EQ(edit->parent, 1000);
  EXPECT_EQ(edit->page, -1);
  EXPECT_EQ(edit->rect.x, 10);
  EXPECT_EQ(edit->rect.h, 20);
  EXPECT_TRUE(edit->enabled);
  EXPECT_TRUE(edit->visible);
  EXPECT_FALSE(edit->read_only);

  EXPECT_TRUE(d.Find(1090)->read_only);
  EXPECT_FALSE(d.Find(1080)->visible);
  EXPECT_EQ(d.Find(1040)->range_max, 50);
  EXPECT_EQ(d.Find(1041)->range_max, 100);  // default ticks
  EXPECT_EQ(d.Find(1050)->pages, (std::vector<std::string>{"First", "Second"}));
  EXPECT_EQ(d.Find(1051)->page, 1);
  EXPECT_EQ(d.Find(1060)->items, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(d.Find(1010)->caption, "&Enable");
  EXPECT_EQ(d.Find(4), nullptr);
}

TEST(DialogTemplate, KindNamesGoBothWays) {
  const char* names[] = {"group",  "label", "edit",   "unit",         "combo",
                         "check",  "radio", "button", "bitmapButton", "picture",
                         "slider", "spin",  "tab",    "text",         "mark"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::optional<ControlKind> kind = ControlKindFromName(name);
    ASSERT_TRUE(kind.has_value());
    EXPECT_STREQ(ControlKindName(*kind), name);
  }
  EXPECT_FALSE(ControlKindFromName("Edit").has_value());  // names are case sensitive
  EXPECT_FALSE(ControlKindFromName("").has_value());
}

// A valid head with the given controls, or with a member replaced.
std::string Head(const std::string& controls, const std::string& extra = "") {
  return R"({"format": "axiscore-dialog", "version": 1, "id": 7, "caption": "C", "width": 10,
            "height": 10, )" +
         extra + R"("controls": [)" + controls + "]}";
}

TEST(DialogTemplate, FaultsNameFilePlaceAndWhat) {
  struct Row {
    const char* name;
    std::string text;
    const char* error;
  };
  const std::string rect = R"("rect": [0, 0, 1, 1])";
  const Row rows[] = {
      {"top level array", "[]", "t.json: expected an object at the top level"},
      {"other format", R"({"format": "axiscore-setup"})",
       "t.json: /format: not a dialog template: expected \"axiscore-dialog\""},
      {"no format", R"({"version": 1})", "t.json: missing member \"format\""},
      {"no version", R"({"format": "axiscore-dialog"})", "t.json: missing member \"version\""},
      {"version 2", R"({"format": "axiscore-dialog", "version": 2})",
       "t.json: /version: unsupported version 2"},
      {"id as text", R"({"format": "axiscore-dialog", "version": 1, "id": "7"})",
       "t.json: /id: expected an integer"},
      {"unknown member", Head("", R"("colour": 1, )"), "t.json: /colour: unknown member"},
      {"help as float", Head("", R"("helpContext": 1.5, )"),
       "t.json: /helpContext: expected an integer"},
      {"controls object", R"({"format": "axiscore-dialog", "version": 1, "id": 7, "caption": "C",
          "width": 10, "height": 10, "controls": {}})",
       "t.json: /controls: expected an array"},
      {"control without rect", Head(R"({"id": 5, "kind": "edit"})"),
       "t.json: /controls/0: missing member \"rect\""},
      {"rect of three", Head(R"({"id": 5, "kind": "edit", "rect": [0, 0, 1]})"),
       "t.json: /controls/0/rect: expected an array of 4 integers"},
      {"rect with text", Head(R"({"id": 5, "kind": "edit", "rect": [0, 0, 1, "a"]})"),
       "t.json: /controls/0/rect/3: expected an integer"},
      {"unknown kind", Head(R"({"id": 5, "kind": "knob", )" + rect + "}"),
       "t.json: /controls/0/kind: unknown control kind \"knob\""},
      {"id zero", Head(R"({"id": 0, "kind": "edit", )" + rect + "}"),
       "t.json: /controls/0/id: control id 0 is reserved"},
      {"id too large", Head(R"({"id": 3000000000, "kind": "edit", )" + rect + "}"),
       "t.json: /controls/0/id: integer out of range"},
      {"id twice",
       Head(R"({"id": 5, "kind": "edit", )" + rect + R"(}, {"id": 5, "kind": "label", )" + rect +
            "}"),
       "t.json: /controls/1/id: control id 5 used twice"},
      {"unknown control member", Head(R"({"id": 5, "kind": "edit", "size": 1, )" + rect + "}"),
       "t.json: /controls/0/size: unknown member"},
      {"parent is an edit",
       Head(R"({"id": 5, "kind": "edit", )" + rect +
            R"(}, {"id": 6, "kind": "label", "parent": 5, )" + rect + "}"),
       "t.json: /controls/1/parent: no group or tab control with id 5"},
      {"page beyond the tab",
       Head(R"({"id": 5, "kind": "tab", "pages": ["a", "b"], )" + rect +
            R"(}, {"id": 6, "kind": "label", "parent": 5, "page": 2, )" + rect + "}"),
       "t.json: /controls/1/page: no page 2 in tab control 5"},
      {"page without tab", Head(R"({"id": 5, "kind": "label", "page": 0, )" + rect + "}"),
       "t.json: /controls/0/page: a page needs a tab control as parent"},
      {"tab without pages", Head(R"({"id": 5, "kind": "tab", )" + rect + "}"),
       "t.json: /controls/0: a tab control needs \"pages\""},
      {"caption outside Latin-1",
       Head(R"({"id": 5, "kind": "label", "caption": "€", )" + rect + "}"),
       "t.json: /controls/0/caption: text holds a character outside Latin-1"},
      {"items not strings", Head(R"({"id": 5, "kind": "combo", "items": ["a", 1], )" + rect + "}"),
       "t.json: /controls/0/items/1: expected a string"},
      {"enabled as number", Head(R"({"id": 5, "kind": "edit", "enabled": 1, )" + rect + "}"),
       "t.json: /controls/0/enabled: expected true or false"},
      {"reversed range", Head(R"({"id": 5, "kind": "slider", "range": [9, 1], )" + rect + "}"),
       "t.json: /controls/0/range: the lower end must be below the upper"},
      // 'o' of "oops" is the 3rd character of line 3.
      {"malformed", "{\n  \"id\": 1,\n  oops\n}", "t.json: 3:3: malformed JSON"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const TemplateResult result = LoadDialogTemplateText(row.text, "t.json");
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error, row.error);
  }
}

TEST(DialogTemplate, FindsTemplatesByIdInTheResourceFolder) {
  const std::string folder = TestDataDirectory();
  ResourceFolder scope(folder);
  EXPECT_EQ(ResourceDirectory(), folder);
  struct Row {
    const char* name;
    int id;
    std::string error;  // "" when the template loads
  };
  const Row rows[] = {
      {"editor", 900, ""},
      {"nested", 901, ""},
      {"missing", 999, folder + "/dialogs: no template for dialog 999"},
      {"id differs from the file name", 902,
       folder + "/dialogs/902-wrong-id.json: /id: expected 902 as the file name says"},
      // "90" must not match "900-..." or "901-...".
      {"prefix of another id", 90, folder + "/dialogs: no template for dialog 90"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const TemplateResult result = LoadDialogTemplate(row.id);
    EXPECT_EQ(result.error, row.error);
    if (row.error.empty()) {
      ASSERT_TRUE(result);
      EXPECT_EQ(result.dialog->id, row.id);
    }
  }
}

TEST(DialogTemplate, ResourceFolderFallsBackBesideTheExecutable) {
  ResourceFolder scope(std::nullopt);
  // The build copies resources/ into bin/resources.
  EXPECT_EQ(ResourceDirectory(), std::string(AXIS_BIN_DIR) + "/resources");
}

// Every setup dialog the program ships loads, with its caption and the controls its code binds.
TEST(DialogTemplate, BundledSetupDialogsLoad) {
  ResourceFolder scope(std::nullopt);
  const struct {
    int id;
    const char* caption;
    int control;  // one control the dialog's code uses
  } rows[] = {{106, "Drive Setup", 1}, {108, "Brushless Motor Setup", 3382}, {110, "Advanced", 3280},
              {111, "External Reference Setup", 1014}, {295, "Filters", 1},
              {3018, "Drive info", 1}, {3056, "Motor mass", 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.id);
    const TemplateResult result = LoadDialogTemplate(row.id);
    ASSERT_TRUE(result) << result.error;
    EXPECT_EQ(result.dialog->caption, row.caption);
    if (row.control != 0) {
      EXPECT_NE(result.dialog->Find(row.control), nullptr);
    }
  }
}

TEST(DialogTemplate, UnreadableFilesAndFolders) {
  EXPECT_EQ(LoadDialogTemplateFile("/nonexistent/1-x.json").error,
            "/nonexistent/1-x.json: cannot read: No such file or directory");
  ResourceFolder scope(std::string("/nonexistent"));
  const TemplateResult result = LoadDialogTemplate(1);
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error.rfind("/nonexistent/dialogs: cannot read the folder: ", 0), 0u)
      << result.error;
}

}  // namespace
}  // namespace axis
