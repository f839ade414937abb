#include "host/test_dlg.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>

#include "host/logger.h"
#include "host/numeric.h"
#include "host/scope_logger.h"
#include "host/text.h"

const char* const CMC_TestDlg::msc_pszErrInternal =
    "Internal error: the drive or its routine did not answer as the test expects (a routine or a "
    "variable is missing, the drive refused the launch, or the routine did not deliver a value).";
const char* const CMC_TestDlg::msc_pszErrInZero =
    "The drive reports a test current of zero or less, so the test cannot run. Check the test "
    "current: in the drive's units it must be at least one count.";

namespace {

constexpr const char* kRoutinesSection = "routines";
constexpr const char* kImagePrefix = "routines/";

std::vector<std::string> Names(const nlohmann::json& list) {
  std::vector<std::string> names;
  if (!list.is_array()) return names;
  for (const auto& name : list) {
    if (name.is_string()) names.push_back(name.get<std::string>());
  }
  return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

CMC_TestDlg::CMC_TestDlg(CMC_Setup& setup, int template_id, int flag, CMC_EditSetupDlg* parent)
    : CMC_EditSetupDlg(setup, template_id, flag, nullptr, parent) {}

CMC_TestDlg::~CMC_TestDlg() = default;

int CMC_TestDlg::OnInitDialog() {
  CMC_EditSetupDlg::OnInitDialog();
  ShowChild(kDetailsButton, 0);
  SetChildText(kStartStop, "Start");
  SetChildText(kStatusText, "");
  SetChildText(kResultText, "");
  SetButtonImage(kResultIcon, "TEST_NONE");
  return 1;
}

void CMC_TestDlg::OnCommand(int id) {
  if (id == kStartStop) {
    OnBtnStartStop();
    return;
  }
  CMC_EditSetupDlg::OnCommand(id);
}

void CMC_TestDlg::OnCancel() {
  // Closing never leaves a routine running with the power stage on.
  if (running_flag_ != 0) StopRun();
  CMC_EditSetupDlg::OnCancel();
}

void CMC_TestDlg::OnBtnStartStop() {
  // A run that goes on until the user stops it is ended by the test itself (its timer or live
  // loop sees the request), so that it can still upload and judge what it recorded.
  if (running_flag_ != 0 && continuous_run_ != 0) {
    stop_request_ = 1;
    return;
  }
  if (running_flag_ != 0) {
    StopRun();
    SetChildText(kStatusText, "Test stopped");
    return;
  }
  SetChildText(kResultText, "");
  SetButtonImage(kResultIcon, "TEST_NONE");
  if (BeginTest() != 0 && running_flag_ != 0) SetChildText(kStartStop, "Stop");
}

void CMC_TestDlg::StopRun() {
  running_flag_ = 0;
  for (CMC_CoffFormat* image : launched_) image->MarkLaunched(false);
  launched_.clear();
  KillTimer(kPollTimer);
  if (CMC_Comm* comm = setup_.GetComm()) comm->AxisOff();
  SetChildText(kStartStop, "Start");
}

// --- routines ------------------------------------------------------------------------------------

const CMC_TestDlg::Routine* CMC_TestDlg::FindRoutine(const std::string& label, std::string& error) {
  if (!routines_read_) {
    routines_read_ = true;
    const auto& sections = setup_.ExtraSections();
    const auto section = std::find_if(sections.begin(), sections.end(),
                                      [](const auto& s) { return s.first == kRoutinesSection; });
    if (section == sections.end()) {
      routines_error_ = "The setup describes no drive routines (it has no \"routines\" section).";
    } else {
      const nlohmann::json all = nlohmann::json::parse(section->second, nullptr, false);
      if (!all.is_object()) {
        routines_error_ = "The setup's \"routines\" section is not an object of routines.";
      } else {
        for (const auto& [name, routine] : all.items()) {
          if (!routine.is_object()) continue;
          routines_[name] = {Names(routine.value("inputs", nlohmann::json())),
                             Names(routine.value("outputs", nlohmann::json()))};
        }
      }
    }
  }
  if (!routines_error_.empty()) {
    error = routines_error_;
    return nullptr;
  }
  const auto it = routines_.find(label);
  if (it == routines_.end()) {
    error = "The setup describes no drive routine " + axis::Quoted(label) + ".";
    return nullptr;
  }
  return &it->second;
}

bool CMC_TestDlg::Declared(const CMC_CoffFormat& image, const std::string& name, bool input,
                           std::string& error) {
  const Routine* routine = FindRoutine(image.Label(), error);
  if (routine == nullptr) return false;
  if (Contains(routine->inputs, name) || (!input && Contains(routine->outputs, name))) return true;
  error = "The drive routine " + axis::Quoted(image.Label()) + " has no user variable " +
          axis::Quoted(name) + (input ? " it takes before it starts." : ".");
  return false;
}

std::string CMC_TestDlg::GetOutPathName(const char* label) const {
  return std::string(kImagePrefix) + (label != nullptr ? label : "");
}

std::string CMC_TestDlg::CommErrorText() const {
  const CMC_Comm* comm = setup_.GetComm();
  return comm == nullptr ? "No drive is attached." : comm->GetLastErrorText();
}

// The registers the drive was not sent yet with their present value.
bool CMC_TestDlg::WriteRegisters(CMC_Comm& comm) {
  CMC_Parameters& all = setup_.GetParameters();
  for (int i = 0; i < all.GetParametersCount(); ++i) {
    const CMC_Parameter& p = *all[i];
    if (p.GetType() != axis::kTypeRegister && p.GetType() != axis::kTypeRegisterWord) continue;
    const double value = p.GetValueInInternalUnit();
    const auto sent = sent_registers_.find(p.GetName());
    if (sent != sent_registers_.end() && axis::SameDouble(sent->second, value)) continue;
    if (!comm.WriteRegister(p.GetName(), value)) return false;
    sent_registers_[p.GetName()] = value;
  }
  return true;
}

int CMC_TestDlg::ExecuteCode(const char* label, CMC_CoffFormat* image, CMC_Logger* logger, void*,
                             void*) {
  CMC_Comm* comm = setup_.GetComm();
  if (comm == nullptr || image == nullptr || label == nullptr) {
    error_text_ = comm == nullptr ? "No drive is attached." : msc_pszErrInternal;
    return 0;
  }
  std::string error;
  if (FindRoutine(label, error) == nullptr) {
    error_text_ = error;
    return 0;
  }
  const auto* recorder = dynamic_cast<CMC_SingleAxisLogger*>(logger);
  auto* scope = dynamic_cast<CMC_ScopeLogger*>(logger);
  const std::optional<axis::LogRequest> log =
      recorder != nullptr ? std::optional(recorder->Request()) : std::nullopt;
  if (!WriteRegisters(*comm) || !comm->Launch(label, image->Inputs(), log ? &*log : nullptr)) {
    error_text_ = comm->GetLastErrorText();
    return 0;
  }
  if (scope != nullptr && scope->BeginUploadData() == 0) {
    error_text_ = scope->GetLastErrorText();
    return 0;
  }
  image->MarkLaunched(true);
  if (std::find(launched_.begin(), launched_.end(), image) == launched_.end())
    launched_.push_back(image);
  return 1;
}

int CMC_TestDlg::GetUserVariableValue(CMC_CoffFormat* image, const char* name, double& value,
                                      std::string& error) {
  CMC_Comm* comm = setup_.GetComm();
  if (image == nullptr || name == nullptr) {
    error = msc_pszErrInternal;
  } else if (comm == nullptr) {
    error = "No drive is attached.";
  } else if (Declared(*image, name, false, error)) {
    if (comm->ReadUserVariable(image->Label(), name, value)) return 1;
    error = comm->GetLastErrorText();
  }
  error_text_ = error;
  return 0;
}

int CMC_TestDlg::SetUserVariableValue(CMC_CoffFormat* image, const char* name, double value,
                                      std::string& error) {
  if (image == nullptr || name == nullptr) {
    error = msc_pszErrInternal;
  } else if (Declared(*image, name, true, error)) {
    image->SetInput(name, value);
    CMC_Comm* comm = setup_.GetComm();
    if (!image->Launched()) return 1;
    if (comm != nullptr && comm->WriteUserVariable(image->Label(), name, value)) return 1;
    error = CommErrorText();
  }
  error_text_ = error;
  return 0;
}

int CMC_TestDlg::GetAxisOn(int& on) {
  CMC_Comm* comm = setup_.GetComm();
  bool axis_on = false;
  if (comm == nullptr || !comm->GetAxisOn(axis_on)) {
    error_text_ = CommErrorText();
    return 0;
  }
  on = axis_on ? 1 : 0;
  return 1;
}

// --- status and verdict --------------------------------------------------------------------------

void CMC_TestDlg::SetInfoText(const char* text) {
  SetChildText(kStatusText, text != nullptr ? text : "");
  ++step_index_;
}

void CMC_TestDlg::ShowVerdict(bool passed, int end_run) {
  SetChildText(kResultText, passed ? "Test succeeded." : error_text_.c_str());
  SetButtonImage(kResultIcon, passed ? "TEST_OK" : "TEST_FAILED");
  if (end_run == 0) return;
  result_ = passed ? 1 : 0;
  StopRun();
}

void CMC_TestDlg::TestFailed(int end_run) { ShowVerdict(false, end_run); }
void CMC_TestDlg::TestSucceeded(int end_run) { ShowVerdict(true, end_run); }
