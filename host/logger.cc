#include "host/logger.h"

#include <algorithm>
#include <limits>

#include "host/platform.h"
#include "host/plot_picture.h"
#include "host/setup.h"
#include "host/text.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The picture saved beside a file: its name with the extension ".svg".
std::string PicturePathBeside(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  const bool has_extension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  std::string picture = (has_extension ? path.substr(0, dot) : path) + ".svg";
  if (picture == path) picture += ".svg";
  return picture;
}

}  // namespace

// --- loggers -------------------------------------------------------------------------------------

CMC_Logger::CMC_Logger(CMC_Setup& setup) : setup_(setup) {}

int CMC_Logger::AddVariable(const char* name, int flag) {
  if (name == nullptr || *name == '\0') return 0;
  variables_.push_back({name, flag, setup_.FindVariable(name, 1)});
  if (flag == 1) {
    const int column = static_cast<int>(std::count_if(variables_.begin(), variables_.end(),
                                                      [](const Logged& v) { return v.flag == 1; }));
    const CMC_Variable* variable = variables_.back().variable;
    document_.GetAt(0)->SetColumn(column, name, variable ? variable->GetBaseUnitName() : "");
  }
  return 1;
}

bool CMC_Logger::Locate() {
  error_.clear();
  CGraphFilter& curves = *document_.GetAt(0);
  int column = 0;
  for (Logged& logged : variables_) {
    logged.variable = setup_.FindVariable(logged.name, 1);
    if (logged.variable == nullptr && error_.empty())
      error_ = "no drive variable " + axis::Quoted(logged.name) + " in the setup";
    if (logged.flag == 1)
      curves.SetColumn(++column, logged.name,
                       logged.variable ? logged.variable->GetBaseUnitName() : "");
  }
  return error_.empty();
}

int CMC_Logger::LocateItems() { return Locate() ? 1 : 0; }

std::vector<std::pair<double, double>> CMC_Logger::PhysicalScales() const {
  std::vector<std::pair<double, double>> scales;
  for (const Logged& logged : variables_) {
    if (logged.variable == nullptr) {
      scales.emplace_back(1.0, 0.0);
    } else {
      scales.emplace_back(logged.variable->ScaleFactor(), logged.variable->ScaleOffset());
    }
  }
  return scales;
}

std::vector<int> CMC_Logger::Columns() const {
  std::vector<int> columns;
  int column = 0;
  for (const Logged& logged : variables_) columns.push_back(logged.flag == 1 ? ++column : 0);
  return columns;
}

void CMC_Logger::ClearVariables() {
  variables_.clear();
  CGraphFilter& curves = *document_.GetAt(0);
  curves.RemoveDataColumns();
  curves.RemoveAllPoints();
}

int CMC_Logger::SaveGraph(const char* name) {
  axis::Platform* platform = axis::GetPlatform();
  if (platform == nullptr) return 0;
  const std::string base = name != nullptr && *name != '\0' ? name : "Plots";
  const std::optional<std::string> path =
      platform->AskFileName({.save = true,
                             .title = "Save Plots",
                             .filter = "CSV files (*.csv)|*.csv|All files (*.*)|*.*",
                             .default_name = base + ".csv"});
  if (!path) return 0;
  CGraphFilter& curves = *document_.GetAt(0);
  std::string error = curves.ExportToASCII(*path);
  if (error.empty()) {
    CGraphWindow picture(2, 0);
    picture.SetCurves(&curves);
    picture.DoZoomOut();
    error = axis::WritePlotSvg(picture, PicturePathBeside(*path), axis::kPictureWidth,
                               axis::kPictureHeight);
  }
  if (error.empty()) return 1;
  error_ = error;
  axis::ShowMessage({.text = "Cannot save the plots: " + error,
                     .buttons = axis::MessageButtons::kOk,
                     .icon = axis::MessageIcon::kWarning});
  return 0;
}

// --- the single-axis logger ----------------------------------------------------------------------

CMC_SingleAxisLogger::CMC_SingleAxisLogger(CMC_Setup& setup, const CMC_CoffFormat* image)
    : CMC_Logger(setup), image_(image) {}

int CMC_SingleAxisLogger::ChangeSettings(int points, int log_type, int every) {
  if ((log_type != 1 && log_type != 2) || every < 1) return 0;
  points_ = points;
  rate_ = static_cast<axis::LogRequest::Rate>(log_type);  // 1 slow loop, 2 fast loop
  every_ = every;
  uploading_ = false;
  ClearVariables();
  return 1;
}

int CMC_SingleAxisLogger::MaxPoints() const {
  return std::min(kMaxPoints, kLogMemoryValues / std::max(1, GetVariablesCount()));
}

int CMC_SingleAxisLogger::CorrectPointsNo() {
  points_ = std::clamp(points_, 1, MaxPoints());
  return points_;
}

axis::LogRequest CMC_SingleAxisLogger::Request() const {
  axis::LogRequest request;
  for (const Logged& logged : variables_) request.variables.push_back(logged.name);
  request.points = std::clamp(points_, 1, MaxPoints());
  request.rate = rate_;
  request.every = every_;
  return request;
}

int CMC_SingleAxisLogger::BeginUploadData() {
  uploading_ = false;
  record_.clear();
  record_empty_ = false;
  next_ = 0;
  document_.GetAt(0)->RemoveAllPoints();
  CMC_Comm* comm = setup_.GetComm();
  if (comm == nullptr) {
    error_ = "no drive is attached";
    return 0;
  }
  if (!comm->UploadLog(record_)) {
    error_ = comm->GetLastErrorText();
    record_.clear();
    return 0;
  }
  if (record_.empty()) {
    record_empty_ = true;
    error_ = "the drive recorded no point";
    return 0;
  }
  Locate();
  scales_ = PhysicalScales();
  error_.clear();
  uploading_ = true;
  return 1;
}

int CMC_SingleAxisLogger::ReadPoint(double* values) {
  if (!uploading_ || next_ >= record_.size()) {
    uploading_ = false;
    return 0;
  }
  const axis::LogPoint& point = record_[next_++];
  const auto value = [&point](size_t i) { return i < point.size() ? point[i] : kNaN; };
  if (values != nullptr) {
    for (size_t i = 0; i < 1 + variables_.size(); ++i) values[i] = value(i);
    return 1;
  }
  std::vector<double> row{value(0)};
  for (size_t i = 0; i < variables_.size(); ++i) {
    if (variables_[i].flag != 1) continue;
    const auto [factor, offset] = i < scales_.size() ? scales_[i] : std::pair{1.0, 0.0};
    row.push_back((value(i + 1) + offset) * factor);
  }
  document_.GetAt(0)->AddRow(row);
  return 1;
}
