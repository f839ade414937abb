#include "host/dialog_template.h"

#include <gtest/gtest.h>

#include <string>

#include "host/dialog_test_support.h"

namespace axis {
namespace {

using testing::ResourceFolder;
using testing::TestDataDirectory;

// The members the dialog model takes over from the template are checked through it
// (edit_setup_dlg_test.cc); here what only the template holds.
TEST(DialogTemplate, ReadsTheTestTemplate) {
  const TemplateResult loaded =
      LoadDialogTemplateFile(TestDataDirectory() + "/dialogs/900-test-editor.json");
  ASSERT_TRUE(loaded) << loaded.error;
  const DialogTemplate& d = *loaded.dialog;
  EXPECT_EQ(d.caption, "Test Editor \xB0");  // UTF-8 degree sign kept as Latin-1
  EXPECT_EQ(std::vector({d.id, d.width, d.height}), std::vector({900, 400, 300}));
  ASSERT_EQ(d.controls.size(), 33u);
  EXPECT_EQ(d.controls.front().id, 1000);  // tab order kept
  EXPECT_EQ(d.controls.back().id, 10024);
  EXPECT_EQ(d.Find(1095)->kind, ControlKind::kCustom);
  const ControlTemplate* edit = d.Find(1001);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(std::vector({edit->rect.x, edit->rect.y, edit->rect.w, edit->rect.h}),
            std::vector({10, 20, 80, 20}));
  EXPECT_EQ(d.Find(1041)->range_max, 100);  // default ticks
}

// A valid head with the given controls, or with a member added.
std::string Head(const std::string& controls, const std::string& extra = "") {
  return R"({"format": "axiscore-dialog", "version": 1, "id": 7, "caption": "C", "width": 10,
            "height": 10, )" +
         extra + R"("controls": [)" + controls + "]}";
}
// A control of that id and kind with a rectangle and the `extra` members.
std::string C(long long id, const char* kind, const std::string& extra = "") {
  return R"({"id": )" + std::to_string(id) + R"(, "kind": ")" + kind +
         R"(", "rect": [0, 0, 1, 1])" + (extra.empty() ? "" : ", " + extra) + "}";
}
std::string One(long long id, const char* kind, const std::string& extra = "") {
  return Head(C(id, kind, extra));
}

TEST(DialogTemplate, FaultsNameFilePlaceAndWhat) {
  const std::string top = R"({"format": "axiscore-dialog", "version": 1)", at0 = "/controls/0/",
                    at1 = "/controls/1/", f = R"({"format": "axiscore-dialog")";
  // clang-format off
  const std::pair<std::string, std::string> rows[] = {  // the text, the error after "t.json: "
      {"[]", "expected an object at the top level"},
      {R"({"format": "axiscore-setup"})",
       "/format: not a dialog template: expected \"axiscore-dialog\""},
      {R"({"version": 1})", "missing member \"format\""},
      {f + "}", "missing member \"version\""},
      {f + R"(, "version": 2})", "/version: unsupported version 2"},
      {top + R"(, "id": "7"})", "/id: expected an integer"},
      {Head("", R"("colour": 1, )"), "/colour: unknown member"},
      {Head("", R"("helpContext": 1.5, )"), "/helpContext: expected an integer"},
      {top + R"(, "id": 7, "caption": "C", "width": 10, "height": 10, "controls": {}})",
       "/controls: expected an array"},
      {Head(R"({"id": 5, "kind": "edit"})"), "/controls/0: missing member \"rect\""},
      {Head(R"({"id": 5, "kind": "edit", "rect": [0, 0, 1]})"),
       at0 + "rect: expected an array of 4 integers"},
      {Head(R"({"id": 5, "kind": "edit", "rect": [0, 0, 1, "a"]})"),
       at0 + "rect/3: expected an integer"},
      {One(5, "knob"), at0 + "kind: unknown control kind \"knob\""},
      {One(5, "Edit"), at0 + "kind: unknown control kind \"Edit\""},  // names are case sensitive
      {One(0, "edit"), at0 + "id: control id 0 is reserved"},
      {One(3000000000, "edit"), at0 + "id: integer out of range"},
      {Head(C(5, "edit") + ", " + C(5, "label")), at1 + "id: control id 5 used twice"},
      {One(5, "edit", R"("size": 1)"), at0 + "size: unknown member"},
      {Head(C(5, "edit") + ", " + C(6, "label", R"("parent": 5)")),
       at1 + "parent: no group or tab control with id 5"},
      {Head(C(5, "tab", R"("pages": ["a", "b"])") + ", " +
            C(6, "label", R"("parent": 5, "page": 2)")),
       at1 + "page: no page 2 in tab control 5"},
      {One(5, "label", R"("page": 0)"), at0 + "page: a page needs a tab control as parent"},
      {One(5, "tab"), "/controls/0: a tab control needs \"pages\""},
      {One(5, "label", R"("caption": "€")"),
       at0 + "caption: text holds a character outside Latin-1"},
      {One(5, "combo", R"("items": ["a", 1])"), at0 + "items/1: expected a string"},
      {One(5, "edit", R"("enabled": 1)"), at0 + "enabled: expected true or false"},
      {One(5, "slider", R"("range": [9, 1])"),
       at0 + "range: the lower end must be below the upper"},
      {"{\n  \"id\": 1,\n  oops\n}", "3:3: malformed JSON"}};  // 'o' of "oops": line 3, column 3
  // clang-format on
  for (const auto& [text, error] : rows) {
    const TemplateResult result = LoadDialogTemplateText(text, "t.json");
    EXPECT_FALSE(result) << error;
    EXPECT_EQ(result.error, "t.json: " + error);
  }
}

TEST(DialogTemplate, FindsTemplatesByIdInTheResourceFolder) {
  const std::string folder = TestDataDirectory();
  ResourceFolder scope(folder);
  EXPECT_EQ(ResourceDirectory(), folder);
  const std::string none = folder + "/dialogs: no template for dialog ";
  // clang-format off
  const std::pair<int, std::string> rows[] = {  // the id, the error ("" when it loads)
      {900, ""}, {901, ""}, {999, none + "999"},
      {902, folder + "/dialogs/902-wrong-id.json: /id: expected 902 as the file name says"},
      {90, none + "90"}};  // "90" must not match "900-..." or "901-..."
  // clang-format on
  for (const auto& [id, error] : rows) {
    const TemplateResult result = LoadDialogTemplate(id);
    EXPECT_EQ(result.error, error) << id;
    EXPECT_EQ(result ? result.dialog->id : 0, error.empty() ? id : 0);
  }
  EXPECT_EQ(LoadDialogTemplateFile("/nonexistent/1-x.json").error,
            "/nonexistent/1-x.json: cannot read: No such file or directory");
  ResourceFolder missing(std::string("/nonexistent"));
  EXPECT_EQ(LoadDialogTemplate(1).error.rfind("/nonexistent/dialogs: cannot read the folder: ", 0),
            0u);
}

// Every setup dialog the program ships loads from the resources beside the executable (the build
// copies resources/ into bin/resources), with its caption, a control its code binds, and a help
// page found by its topic number alone, never by a number it merely starts with.
TEST(DialogTemplate, BundledSetupDialogsLoadWithTheirHelpPages) {
  ResourceFolder scope(std::nullopt);
  EXPECT_EQ(ResourceDirectory(), std::string(AXIS_BIN_DIR) + "/resources");
  // clang-format off
  const struct { int id; const char* caption; int control; } rows[] = {
      {106, "Drive Setup", 1}, {108, "Brushless Motor Setup", 3382}, {110, "Advanced", 3280},
      {111, "External Reference Setup", 1014}, {295, "Filters", 1}, {3018, "Drive info", 1},
      {3056, "Motor mass", 0}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.id);
    const TemplateResult result = LoadDialogTemplate(row.id);
    ASSERT_TRUE(result) << result.error;
    EXPECT_EQ(result.dialog->caption, row.caption);
    EXPECT_TRUE(row.control == 0 || result.dialog->Find(row.control) != nullptr);
    const int topic = result.dialog->help_context;
    ASSERT_NE(topic, 0);
    const std::string page = HelpPagePath(topic);
    EXPECT_TRUE(page.ends_with(".html")) << page;
    EXPECT_NE(page.find("/help/" + std::to_string(topic)), std::string::npos) << page;
  }
  EXPECT_EQ(HelpPagePath(0), "");
  EXPECT_EQ(HelpPagePath(26240), "");  // a prefix of the bundled topics
  std::string error;
  EXPECT_EQ(FindNumberedResource("help", 4242, ".html", "help page for topic", error), "");
  EXPECT_EQ(error, ResourceDirectory() + "/help: no help page for topic 4242");
}

}  // namespace
}  // namespace axis
