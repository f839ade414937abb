#include "app/cli/test_runner.h"

#include <utility>

#include "host/headless_platform.h"
#include "host/number_text.h"
#include "host/plot.h"
#include "host/setup.h"
#include "host/test_dlg.h"
#include "host/text.h"

namespace axis::cli {

namespace {

// Drive time a run may take before the scripted user gives up on it and presses Stop.
constexpr double kLongestRun_s = 600.0;
// How long a test may take to give its verdict once Stop was pressed (drive time).
constexpr int64_t kVerdictAfterStopMs = 1000;

// The headless platform of a test run: prints each new status text as the dialog shows it.
class TestRunPlatform : public HeadlessPlatform {
 public:
  explicit TestRunPlatform(std::FILE* out) : out_(out) {}
  void ControlsChanged(DialogModel& dialog, int control_id) override {
    if (control_id != CMC_TestDlg::kStatusText) return;
    const std::string text = dialog.GetChildText(control_id);
    if (text.empty() || text == last_status_) return;
    last_status_ = text;
    std::fprintf(out_, "%s\n", PrintableText(Windows1252ToUtf8(text)).c_str());
  }

 private:
  std::FILE* out_;
  std::string last_status_;
};

CMC_TestDlg* AsTest(DialogModel& dialog) { return dynamic_cast<CMC_TestDlg*>(&dialog); }

// Writes the curves of every plot the dialog shows as CSV: the first to `path`, any further one
// beside it ("run.csv", "run-2.csv" ...). Returns "" or what went wrong.
std::string ExportCurves(DialogModel& dialog, const std::string& path) {
  std::vector<const CGraphFilter*> sets;
  for (const auto& [id, control] : dialog.Controls()) {
    // The plots the user sees: a test with a data-logger graph and a scope shows one of them.
    if (!dialog.IsVisible(id)) continue;
    if (const auto* plot = dynamic_cast<const CGraphWindow*>(control.custom)) {
      if (plot->GetCurves() != nullptr) sets.push_back(plot->GetCurves());
    }
  }
  if (sets.empty()) return "this test shows no plot: there are no curves to export";
  const size_t dot = path.rfind('.');
  const bool has_extension = dot != std::string::npos && path.find('/', dot) == std::string::npos;
  for (size_t i = 0; i < sets.size(); ++i) {
    const std::string target = i == 0 ? path
                                      : (has_extension ? path.substr(0, dot) : path) + "-" +
                                            std::to_string(i + 1) +
                                            (has_extension ? path.substr(dot) : "");
    if (std::string problem = sets[i]->ExportToASCII(target); !problem.empty()) return problem;
  }
  return "";
}

// What the test identified or measured, as `get` prints values: name, value, base unit.
void PrintValues(CMC_Setup& setup, DialogModel& dialog, const TestEntry& entry, std::FILE* out) {
  for (const char* name : entry.parameters) {
    const CMC_Parameter* p = setup.FindParameterNoError(name);
    if (p == nullptr) continue;
    std::fprintf(out, "%s\t%s\t%s\n", PrintableText(Latin1ToUtf8(p->GetName())).c_str(),
                 FormatNumber(p->GetValueInBaseUnit()).c_str(),
                 PrintableText(Latin1ToUtf8(p->GetBaseUnitName())).c_str());
  }
  for (const TestEntry::Readout& r : entry.readouts) {
    std::string unit = r.unit;
    if (const ControlState* list = dialog.Control(r.unit_control);
        list != nullptr && list->selection >= 0 &&
        static_cast<size_t>(list->selection) < list->items.size())
      unit = list->items[static_cast<size_t>(list->selection)].text;
    std::fprintf(out, "%s\t%s\t%s\n", r.name,
                 PrintableText(Windows1252ToUtf8(dialog.GetChildText(r.control))).c_str(),
                 PrintableText(Windows1252ToUtf8(unit)).c_str());
  }
}

}  // namespace

const std::vector<TestEntry>& TestEntries() {
  static const std::vector<TestEntry> entries = {
      {.name = "phase", .template_id = 288, .readouts = {{1020, "IA", "A"}, {1022, "IB", "A"}}},
      {.name = "rl", .template_id = 290, .parameters = {"R", "L"}},
      {.name = "current",
       .template_id = 101,
       .tab_id = 1300,
       .run_page = 1,
       .tune_button = 3149,
       .plots = true,
       .parameters = {"Kp_C_scl", "Ki_C_scl", "PB_C"}},
      {.name = "vdc", .template_id = 105, .parameters = {"Vdc"}},
      {.name = "encoder-connections",
       .template_id = 291,
       .readouts = {{3131, "Position counter", "counts"},
                    {3132, "Index position", "counts"},
                    {3130, "Halls", ""}}},
      {.name = "encoder-resolution",
       .template_id = 292,
       .readouts = {{3352, "Encoder resolution", "", 3351}, {3131, "Position counter", "counts"}}},
      {.name = "hall-signals",
       .template_id = 293,
       .readouts = {{1029, "Hall1", ""}, {1030, "Hall2", ""}, {1031, "Hall3", ""}}},
      {.name = "hall-configuration",
       .template_id = 294,
       .readouts = {{1020, "Hall configuration", ""}}},
      {.name = "angle",
       .template_id = 3057,
       .tab_id = 1300,
       .run_page = 1,
       .plots = true,
       .parameters = {"Kp_T_scl", "Ki_T_scl"}},
      {.name = "analogue",
       .template_id = 104,
       .readouts = {{1010, "Analogue input voltage", "V"}, {1011, "Command", ""}}},
      {.name = "mass", .template_id = 3041, .parameters = {"Mt"}},
      {.name = "speed",
       .template_id = 102,
       .tab_id = 1300,
       .run_page = 1,
       .tune_button = 1390,
       .plots = true,
       .parameters = {"Kp_S_scl", "Ki_S_scl", "PB_S"}},
      {.name = "position",
       .template_id = 103,
       .tab_id = 1300,
       .run_page = 1,
       .tune_button = 1390,
       .plots = true,
       .parameters = {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl", "PB_P"}},
  };
  return entries;
}

const TestEntry* FindTestEntry(const std::string& name) {
  for (const TestEntry& entry : TestEntries()) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

TestOutcome RunTest(CMC_Setup& setup, const TestEntry& entry, const TestOptions& options,
                    const DriveFactory& make_drive, const DialogOpener& open,
                    const DialogPainter& paint, std::FILE* out, std::FILE* err) {
  TestOutcome outcome;
  TestRunPlatform platform(out);
  std::unique_ptr<CMC_Comm> drive = make_drive(platform.GetClock(), outcome.error);
  if (!drive) return outcome;
  Platform* previous = GetPlatform();
  SetPlatform(&platform);
  CMC_Comm* previous_drive = setup.GetComm();
  setup.SetComm(drive.get());

  const double limit_s = options.stop_after_s.value_or(kLongestRun_s);
  const auto limit_ms = static_cast<int64_t>(limit_s * 1000.0 + 0.5);
  if (entry.tab_id != 0) platform.SelectTab(entry.tab_id, entry.run_page);
  if (options.tune && entry.tune_button != 0) platform.Click(entry.tune_button);
  platform.Click(CMC_TestDlg::kStartStop)
      .WaitUntil(
          [](DialogModel& dialog) {
            const CMC_TestDlg* test = AsTest(dialog);
            return test == nullptr || !test->TestRunning();
          },
          limit_ms)
      .Do([](DialogModel& dialog) {
        CMC_TestDlg* test = AsTest(dialog);
        if (test != nullptr && test->TestRunning()) test->UserClick(CMC_TestDlg::kStartStop);
      })
      // A test that runs until it is stopped may take its verdict at its next tick.
      .WaitUntil(
          [](DialogModel& dialog) {
            const CMC_TestDlg* test = AsTest(dialog);
            return test == nullptr || !test->TestRunning();
          },
          kVerdictAfterStopMs)
      .Do([&](DialogModel& dialog) {
        CMC_TestDlg* test = AsTest(dialog);
        if (test == nullptr) return;
        outcome.ran = true;
        if (test->TestRunning()) test->UserClick(CMC_TestDlg::kStartStop);  // Stop
        outcome.succeeded = test->TestResult() == 1;
        std::fprintf(out, "result: %s\n", outcome.succeeded ? "succeeded" : "failed");
        if (!outcome.succeeded) outcome.failure = Windows1252ToUtf8(test->ErrorText());
        // A start refused before any run (a value the drive cannot take) says why in a message.
        if (!outcome.succeeded && outcome.failure.empty() && !platform.MessageLog().empty())
          outcome.failure = Windows1252ToUtf8(platform.MessageLog().back().request.text);
        if (!outcome.failure.empty()) std::fprintf(err, "%s\n", outcome.failure.c_str());
        PrintValues(setup, dialog, entry, out);
        if (!options.export_csv.empty())
          outcome.output_error = ExportCurves(dialog, options.export_csv);
        if (!options.picture_png.empty() && outcome.output_error.empty())
          outcome.output_error = paint(dialog, options.picture_png);
      });
  // Only a run that succeeded is kept: a failed or stopped one leaves the setup as it was.
  platform.Do([&](DialogModel& dialog) {
    const bool keep = options.keep && outcome.succeeded;
    platform.Answer(keep ? kIdYes : kIdNo);
    const ControlState* ok = dialog.Control(kIdOk);
    dialog.UserClick(keep && ok != nullptr && ok->kind == ControlKind::kButton ? kIdOk : kIdCancel);
  });
  const int result = open(setup);
  setup.SetComm(previous_drive);
  SetPlatform(previous);
  if (result < 0 && outcome.error.empty())
    outcome.error = "the test dialog " + std::to_string(entry.template_id) + " could not be opened";
  outcome.kept = result == kIdOk;
  return outcome;
}

}  // namespace axis::cli
