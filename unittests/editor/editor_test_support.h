// Shared pieces of the editor dialog tests (GoogleTest, the containers and the setup builders come
// along): a bundled setup as EditSetup hands it to the dialogs, a fixture on the build's real
// templates, and short reads of a dialog's controls.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "conversions/motion_units.h"
#include "host/dialog_test_support.h"
#include "host/setup_file.h"
#include "support/test_setup.h"

namespace axis::testing {

// A setup of the bundled folder, with the plug-in's scales (an empty one, and a failure, when the
// file does not load).
inline std::unique_ptr<CMC_Setup> Bundled(const char* file = "demo-linear.json") {
  LoadResult loaded = LoadSetupFile(std::string(AXIS_SETUPS_DIR) + "/" + file);
  if (!loaded.setup) {
    ADD_FAILURE() << loaded.error;
    return std::make_unique<CMC_Setup>();
  }
  loaded.setup->SetScaleProvider({&kestrel::ScaleFactor, &kestrel::ScaleOffset});
  return std::move(loaded.setup);
}

using ValueList = std::initializer_list<std::pair<const char*, double>>;

// A missing parameter is a failure of the test, never a crash.
inline double Get(CMC_Setup& setup, const char* name) {
  const CMC_Parameter* p = setup.FindParameterNoError(name);
  if (p == nullptr) ADD_FAILURE() << "no parameter " << name;
  return p == nullptr ? std::nan("") : p->GetValueInBaseUnit();
}
inline void Set(CMC_Setup& setup, ValueList values) {
  for (const auto& [name, value] : values) {
    CMC_Parameter* p = setup.FindParameterNoError(name);
    if (p == nullptr) ADD_FAILURE() << "no parameter " << name;
    if (p != nullptr) p->SetValueInBaseUnit(value);
  }
}
inline void Set(CMC_Setup& setup, const char* name, double value) { Set(setup, {{name, value}}); }

// A bundled setup with these values set.
inline std::unique_ptr<CMC_Setup> Bundled(ValueList values, const char* file = "demo-linear.json") {
  std::unique_ptr<CMC_Setup> setup = Bundled(file);
  Set(*setup, values);
  return setup;
}

inline bool Enabled(const CMC_EditSetupDlg& d, int id) {
  return d.Control(id) != nullptr && d.Control(id)->enabled;
}
inline bool Shown(const CMC_EditSetupDlg& d, int id) {
  return d.Control(id) != nullptr && d.Control(id)->shown;
}
// Each of the controls enabled (shown) or not, as expected.
inline void ExpectEnabled(const CMC_EditSetupDlg& d, const std::vector<int>& ids, bool on) {
  for (int id : ids) EXPECT_EQ(Enabled(d, id), on) << "control " << id;
}
inline void ExpectShown(const CMC_EditSetupDlg& d, const std::vector<int>& ids, bool on) {
  for (int id : ids) EXPECT_EQ(Shown(d, id), on) << "control " << id;
}
inline std::vector<std::string> Items(const CMC_EditSetupDlg& d, int id) {
  std::vector<std::string> texts;
  for (const ComboItem& item : d.Control(id)->items) texts.push_back(item.text);
  return texts;
}
// The index of the combo item with this text, -1 when there is none.
inline int ItemIndex(const CMC_EditSetupDlg& d, int id, const std::string& text) {
  const std::vector<std::string> texts = Items(d, id);
  for (size_t i = 0; i < texts.size(); ++i)
    if (texts[i] == text) return static_cast<int>(i);
  return -1;
}

// The texts of the message boxes shown, from entry `first` of the platform's log on.
inline std::vector<std::string> Messages(const HeadlessPlatform& platform, size_t first = 0) {
  std::vector<std::string> texts;
  for (size_t i = first; i < platform.MessageLog().size(); ++i)
    texts.push_back(platform.MessageLog()[i].request.text);
  return texts;
}

// The errors reported while it lives.
class ReportedErrors {
 public:
  ReportedErrors() {
    SetErrorReporter([this](const std::string& m) { list.push_back(m); });
  }
  ~ReportedErrors() { SetErrorReporter(nullptr); }
  std::vector<std::string> list;
};

// A headless platform on the build's templates; the user's motor database is a private one.
class EditorTest : public DialogTest {
 protected:
  ResourceFolder real_templates_{std::nullopt};  // after the fixture's folder: wins
  PrivateUserConfig user_config_;
};

}  // namespace axis::testing
