#include "host/scope_logger.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/edit_setup_dlg.h"
#include "host/file_replace.h"
#include "host/number_text.h"
#include "host/numeric.h"
#include "host/platform.h"
#include "host/plugin_services.h"
#include "host/scope_frame.h"
#include "host/setup.h"
#include "host/text.h"
#include "host/units.h"

namespace {

using nlohmann::json;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSmallestScale = 1e-9, kLargestScale = 1e9;
constexpr const char* kFileFormat = "axiscore-scope";
constexpr int kFileVersion = 1;

bool Finite(double v) { return std::isfinite(v); }
bool PositiveFinite(double v) { return std::isfinite(v) && v > 0.0; }
bool ValidMode(int mode) { return mode == 1 || mode == 2 || mode == 4; }

// The 1-2-5 value with the given index: index 3e + k is {1, 2, 5}[k] x 10^e.
double Scale125(int index) {
  static constexpr double kMantissa[] = {1.0, 2.0, 5.0};
  const int decade = index >= 0 ? index / 3 : -((-index + 2) / 3);
  return kMantissa[index - 3 * decade] * std::pow(10.0, decade);
}

// The index of the largest 1-2-5 value not above x (x > 0), with a hair of tolerance so that
// 0.3 / 0.1 style roundings keep exact series values on the series.
int FloorIndex125(double x) {
  int index = 3 * static_cast<int>(std::floor(std::log10(x))) - 1;
  while (Scale125(index + 1) <= x * (1.0 + 1e-12)) ++index;
  while (Scale125(index) > x * (1.0 + 1e-12)) --index;
  return index;
}

std::string Hex(axis::Colour colour) { return axis::ColourHex(colour); }

std::optional<axis::Colour> FromHex(const std::string& text) {
  if (text.size() != 7 || text[0] != '#') return std::nullopt;
  int parts[3];
  for (int i = 0; i < 3; ++i) {
    const std::string pair = text.substr(1 + 2 * static_cast<size_t>(i), 2);
    if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return std::nullopt;
    parts[i] = std::stoi(pair, nullptr, 16);
  }
  return axis::MakeColour(parts[0], parts[1], parts[2]);
}

// JSON readers that say what is wrong where.
struct Reader {
  std::string error;

  const json* Member(const json& object, const char* name, const std::string& where) {
    if (!object.is_object() || !object.contains(name)) {
      Fail(where + ": \"" + name + "\" is missing");
      return nullptr;
    }
    return &object[name];
  }
  bool Number(const json& object, const char* name, const std::string& where, double& out) {
    const json* v = Member(object, name, where);
    if (v == nullptr) return false;
    if (!v->is_number()) return Fail(where + "/" + name + ": not a number");
    out = v->get<double>();
    if (!Finite(out)) return Fail(where + "/" + name + ": not a finite number");
    return true;
  }
  bool Integer(const json& object, const char* name, const std::string& where, int& out) {
    const json* v = Member(object, name, where);
    if (v == nullptr) return false;
    if (!v->is_number_integer()) return Fail(where + "/" + name + ": not a whole number");
    const int64_t n = v->get<int64_t>();
    if (n < -1000000 || n > 1000000) return Fail(where + "/" + name + ": out of range");
    out = static_cast<int>(n);
    return true;
  }
  bool Text(const json& object, const char* name, const std::string& where, std::string& out) {
    const json* v = Member(object, name, where);
    if (v == nullptr) return false;
    if (!v->is_string()) return Fail(where + "/" + name + ": not a text");
    const std::optional<std::string> latin1 = axis::Utf8ToLatin1(v->get<std::string>());
    if (!latin1) return Fail(where + "/" + name + ": a character outside Latin-1");
    out = *latin1;
    return true;
  }
  bool Fail(std::string text) {
    if (error.empty()) error = std::move(text);
    return false;
  }
};

}  // namespace

// Everything the settings text holds: what a reset, a setup option or a file brings back.
struct CMC_ScopeLogger::Settings {
  struct ChannelSettings {
    std::string variable;
    Channel channel;
  };
  struct Curve {
    int x = 0, y = 1, axis = 1, width = 2;
    axis::Colour colour = 0;
  };
  double time_base_s = kDefaultTimeBase;
  int points = kDefaultPoints;
  int mode = 1, slope = 1;
  std::string trigger_variable;
  double level = 0.0;
  int pretrigger_percent = 0;
  std::vector<ChannelSettings> channels;
  std::vector<Curve> curves;

  json ToJson() const;
  // False with `error` set when `j` is no valid settings object.
  static bool FromJson(const json& j, Settings& out, std::string& error);
};

json CMC_ScopeLogger::Settings::ToJson() const {
  json j = json::object();
  j["time_base_s"] = time_base_s;
  j["points"] = points;
  j["trigger"] = {{"mode", mode},
                  {"slope", slope},
                  {"variable", axis::Latin1ToUtf8(trigger_variable)},
                  {"level", level},
                  {"pretrigger_percent", pretrigger_percent}};
  j["channels"] = json::array();
  for (const ChannelSettings& c : channels)
    j["channels"].push_back({{"variable", axis::Latin1ToUtf8(c.variable)},
                             {"unit", axis::Latin1ToUtf8(c.channel.unit)},
                             {"scale", c.channel.scale},
                             {"offset", c.channel.offset}});
  j["curves"] = json::array();
  for (const Curve& c : curves)
    j["curves"].push_back(
        {{"x", c.x}, {"y", c.y}, {"axis", c.axis}, {"colour", Hex(c.colour)}, {"width", c.width}});
  return j;
}

bool CMC_ScopeLogger::Settings::FromJson(const json& j, Settings& out, std::string& error) {
  Reader r;
  Settings s;
  const json* trigger = r.Member(j, "trigger", "settings");
  const json* channels = r.Member(j, "channels", "settings");
  const json* curves = r.Member(j, "curves", "settings");
  if (r.Number(j, "time_base_s", "settings", s.time_base_s) && !(s.time_base_s > 0.0))
    r.Fail("settings/time_base_s: not positive");
  if (r.Integer(j, "points", "settings", s.points) &&
      (s.points < kMinPoints || s.points > kMaxPoints))
    r.Fail("settings/points: not within " + std::to_string(kMinPoints) + ".." +
           std::to_string(kMaxPoints));
  if (trigger != nullptr) {
    if (r.Integer(*trigger, "mode", "trigger", s.mode) && !ValidMode(s.mode))
      r.Fail("trigger/mode: not 1, 2 or 4");
    if (r.Integer(*trigger, "slope", "trigger", s.slope) && s.slope != 0 && s.slope != 1)
      r.Fail("trigger/slope: not 0 or 1");
    r.Text(*trigger, "variable", "trigger", s.trigger_variable);
    r.Number(*trigger, "level", "trigger", s.level);
    if (r.Integer(*trigger, "pretrigger_percent", "trigger", s.pretrigger_percent) &&
        (s.pretrigger_percent < 0 || s.pretrigger_percent > 100))
      r.Fail("trigger/pretrigger_percent: not within 0..100");
  }
  if (channels != nullptr &&
      (!channels->is_array() || channels->size() > size_t{axis::ScopeRequest::kMaxChannels}))
    r.Fail("settings/channels: not a list of at most 4 channels");
  for (size_t i = 0; channels != nullptr && channels->is_array() && i < channels->size(); ++i) {
    const std::string where = "channels/" + std::to_string(i);
    ChannelSettings c;
    r.Text((*channels)[i], "variable", where, c.variable);
    r.Text((*channels)[i], "unit", where, c.channel.unit);
    if (r.Number((*channels)[i], "scale", where, c.channel.scale) && !(c.channel.scale > 0.0))
      r.Fail(where + "/scale: not positive");
    r.Number((*channels)[i], "offset", where, c.channel.offset);
    if (r.error.empty() && c.variable.empty()) r.Fail(where + "/variable: empty");
    s.channels.push_back(std::move(c));
  }
  if (curves != nullptr && !curves->is_array()) r.Fail("settings/curves: not a list");
  for (size_t i = 0; curves != nullptr && curves->is_array() && i < curves->size(); ++i) {
    const std::string where = "curves/" + std::to_string(i);
    Curve c;
    std::string colour;
    r.Integer((*curves)[i], "x", where, c.x);
    r.Integer((*curves)[i], "y", where, c.y);
    r.Integer((*curves)[i], "axis", where, c.axis);
    r.Integer((*curves)[i], "width", where, c.width);
    if (r.Text((*curves)[i], "colour", where, colour)) {
      const std::optional<axis::Colour> rgb = FromHex(colour);
      if (!rgb) r.Fail(where + "/colour: not \"#rrggbb\"");
      c.colour = rgb.value_or(0);
    }
    const int columns = 1 + static_cast<int>(s.channels.size());
    if (r.error.empty() && (c.x < 0 || c.x >= columns || c.y < 0 || c.y >= columns))
      r.Fail(where + ": a column the channels do not give");
    s.curves.push_back(c);
  }
  if (!r.error.empty()) {
    error = r.error;
    return false;
  }
  out = std::move(s);
  return true;
}

// --- the scope logger ----------------------------------------------------------------------------

CMC_ScopeLogger::CMC_ScopeLogger(CMC_Setup& setup) : CMC_Logger(setup) {
  points_ = kDefaultPoints;
  ShowOnScreen();
}

void CMC_ScopeLogger::SetError(std::string text) { error_ = std::move(text); }

int CMC_ScopeLogger::AddVariable(const char* name, int) {
  if (variables_.size() >= size_t{axis::ScopeRequest::kMaxChannels}) return 0;
  if (CMC_Logger::AddVariable(name, 1) == 0) return 0;
  const CMC_Variable* variable = variables_.back().variable;
  channels_.push_back({variable != nullptr ? variable->GetBaseUnitName() : "", 1.0, 0.0});
  physical_.clear();
  ShowOnScreen();
  return 1;
}

int CMC_ScopeLogger::LocateItems() {
  const int found = CMC_Logger::LocateItems();
  physical_.clear();
  ShowOnScreen();
  return found;
}

int CMC_ScopeLogger::ChangeSettings(double time_base_s, int mode, int slope,
                                    const char* trigger_variable, double level,
                                    int pretrigger_percent) {
  if (!PositiveFinite(time_base_s) || !ValidMode(mode) || !Finite(level)) return 0;
  time_base_s_ = time_base_s;
  mode_ = mode;
  slope_ = slope != 0 ? 1 : 0;
  trigger_variable_ = trigger_variable != nullptr ? trigger_variable : "";
  level_ = level;
  pretrigger_percent_ = std::clamp(pretrigger_percent, 0, 100);
  ShowOnScreen();
  return 1;
}

int CMC_ScopeLogger::RescaleVariable(int channel, const char* unit_name, double scale,
                                     double offset) {
  if (channel < 0 || channel >= static_cast<int>(channels_.size()) || !PositiveFinite(scale) ||
      !Finite(offset))
    return 0;
  Channel& c = channels_[static_cast<size_t>(channel)];
  if (unit_name != nullptr && c.unit != unit_name) {
    c.unit = unit_name;
    physical_.clear();  // the values are shown in another unit
  }
  c.scale = scale;
  c.offset = offset;
  ShowOnScreen();
  return 1;
}

double CMC_ScopeLogger::NextScale125(double scale, bool up) {
  if (!PositiveFinite(scale)) return scale;
  const int index = FloorIndex125(scale);
  const bool on_series = std::fabs(Scale125(index) - scale) <= 1e-12 * scale;
  if (up) return Scale125(index + 1);
  return on_series ? Scale125(index - 1) : Scale125(index);
}

double CMC_ScopeLogger::CeilScale125(double x) {
  if (!PositiveFinite(x)) return 1.0;
  const int index = FloorIndex125(x);
  return std::fabs(Scale125(index) - x) <= 1e-12 * x ? Scale125(index) : Scale125(index + 1);
}

int CMC_ScopeLogger::ChangeChannelScale(int channel, int step) {
  if (channel < 0 || channel >= static_cast<int>(channels_.size()) || step == 0) return 0;
  Channel& c = channels_[static_cast<size_t>(channel)];
  double scale = c.scale;
  // 60 steps span 20 decades, past both ends of the range; clamped first, INT_MIN cannot overflow.
  for (int i = 0; i < std::abs(std::clamp(step, -60, 60)); ++i)
    scale = NextScale125(scale, step > 0);
  scale = std::clamp(scale, kSmallestScale, kLargestScale);
  if (scale == c.scale) return 0;
  c.scale = scale;
  ShowOnScreen();
  return 1;
}

int CMC_ScopeLogger::Autoscale() {
  bool changed = false;
  const size_t stride = 1 + channels_.size();
  for (size_t c = 0; c < channels_.size(); ++c) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (size_t row = 0; row + stride <= buffer_.size(); row += stride) {
      const double v = buffer_[row + 1 + c];
      if (!Finite(v)) continue;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    if (lo > hi) continue;  // no point of this channel
    const double span = hi - lo > 0.0 ? hi - lo : std::fabs(lo);
    Channel& channel = channels_[c];
    const double scale = span > 0.0
                             ? std::clamp(CeilScale125(span / 6.0), kSmallestScale, kLargestScale)
                             : channel.scale;
    const double offset = std::round((0.5 * lo + 0.5 * hi) / scale) * scale + 0.0;
    changed = changed || scale != channel.scale || offset != channel.offset;
    channel.scale = scale;
    channel.offset = offset;
  }
  if (changed) ShowOnScreen();
  return changed ? 1 : 0;
}

void CMC_ScopeLogger::SetDefaultValues() {
  ClearVariables();
  document_.GetAt(0)->RemoveAllCurves();
  channels_.clear();
  physical_.clear();
  buffer_.clear();
  time_base_s_ = kDefaultTimeBase;
  mode_ = 1;
  slope_ = 1;
  trigger_variable_.clear();
  level_ = 0.0;
  pretrigger_percent_ = 0;
  points_ = kDefaultPoints;
  final_ = false;
  drawn_index_ = pending_ = 0;
  ShowOnScreen();
}

void CMC_ScopeLogger::ShowOnScreen() {
  CGraphFilter& curves = *document_.GetAt(0);
  curves.SetScreen(kDivisions, {0.0, std::max(1, points_) * SamplePeriod()});
  for (size_t c = 0; c < channels_.size(); ++c) {
    const int column = static_cast<int>(c) + 1;
    curves.SetColumn(column, variables_[c].name, channels_[c].unit);
    curves.SetColumnDivision(column, channels_[c].scale, channels_[c].offset);
  }
}

// --- acquisition ---------------------------------------------------------------------------------

int CMC_ScopeLogger::CorrectPointsNo() {
  points_ = std::clamp(points_, kMinPoints, kMaxPoints);
  return points_;
}

double CMC_ScopeLogger::SlowLoopPeriod() const {
  const CMC_Parameter* loop = setup_.FindParameterNoError(kSlowLoopPeriod);
  const double period = loop != nullptr ? loop->GetValueInBaseUnit() : kNaN;
  return PositiveFinite(period) ? period : kNaN;
}

int CMC_ScopeLogger::SampleEvery() const {
  const double period = SlowLoopPeriod();
  if (std::isnan(period)) return 1;
  return std::max(1, TG_Round(time_base_s_ / std::clamp(points_, kMinPoints, kMaxPoints) / period));
}

double CMC_ScopeLogger::SamplePeriod() const {
  const double period = SlowLoopPeriod();
  if (std::isnan(period)) return time_base_s_ / std::clamp(points_, kMinPoints, kMaxPoints);
  return SampleEvery() * period;
}

axis::ScopeRequest CMC_ScopeLogger::Request() const {
  axis::ScopeRequest request;
  for (const Logged& logged : variables_) request.variables.push_back(logged.name);
  request.points = std::clamp(points_, kMinPoints, kMaxPoints);
  request.every = SampleEvery();
  request.mode = static_cast<axis::ScopeRequest::Mode>(mode_);
  request.trigger_variable = trigger_variable_;
  request.rising = slope_ != 0;
  request.pretrigger_points =
      static_cast<int>(std::ceil(static_cast<double>(request.points) * pretrigger_percent_ / 100));
  // The level in the trigger variable's internal units: physical / factor - offset.
  const CMC_Variable* trigger =
      trigger_variable_.empty() ? nullptr : setup_.FindVariable(trigger_variable_, 1);
  request.trigger_level = level_;
  if (trigger != nullptr && trigger->ScaleFactor() != 0.0)
    request.trigger_level = level_ / trigger->ScaleFactor() - trigger->ScaleOffset();
  return request;
}

int CMC_ScopeLogger::BeginUploadData() {
  EndUploadData();
  CMC_Comm* comm = setup_.GetComm();
  if (comm == nullptr) {
    SetError("no drive is attached");
    return 0;
  }
  CorrectPointsNo();
  Locate();
  physical_.clear();
  buffer_.assign(static_cast<size_t>(points_) * (1 + channels_.size()), kNaN);
  document_.GetAt(0)->RemoveAllPoints();
  final_ = false;
  drawn_index_ = pending_ = 0;
  ShowOnScreen();
  if (!comm->StartScope(Request())) {
    const std::string why = comm->GetLastErrorText();
    SetError(why.empty() ? "the drive refused to arm its oscilloscope" : why);
    return 0;
  }
  error_.clear();
  streaming_ = true;
  return 1;
}

int CMC_ScopeLogger::ReadPoint(double*) { return 0; }

void CMC_ScopeLogger::EndUploadData() {
  if (!streaming_) return;
  streaming_ = false;
  if (CMC_Comm* comm = setup_.GetComm()) comm->StopScope();
}

// Per channel: (internal + offset) x factor gives the value in the channel's unit.
void CMC_ScopeLogger::PreparePhysical() {
  const std::vector<std::pair<double, double>> scales = PhysicalScales();
  physical_.clear();
  for (size_t c = 0; c < channels_.size(); ++c) {
    const CMC_Variable* variable = variables_[c].variable;
    const CMC_Unit* unit = CMC_Units::Catalogue().FindUnit(channels_[c].unit);
    const bool convertible = variable != nullptr && unit != nullptr &&
                             unit->GetBaseName() == variable->GetBaseUnitName() &&
                             PositiveFinite(unit->GetFactor());
    const double unit_factor = convertible ? unit->GetFactor() : 1.0;
    physical_.push_back({scales[c].first / unit_factor, scales[c].second});
  }
}

void CMC_ScopeLogger::MarkForDrawing(int slot) {
  const int n = std::max(1, points_);
  if (pending_ == 0) {
    drawn_index_ = slot;
    pending_ = 1;
    return;
  }
  if ((slot - drawn_index_ + n) % n < pending_) return;  // already to be drawn
  const int end = (drawn_index_ + pending_) % n;
  pending_ += (slot - end + n) % n + 1;  // slots skipped are drawn again too
  if (pending_ >= n) {
    pending_ = n;
    drawn_index_ = (slot + 1) % n;
  }
}

int CMC_ScopeLogger::OnFrameReceive(int byte_count, const unsigned char* bytes) {
  std::string error;
  if (byte_count < 0 ||
      !axis::DecodeScopeFrame(bytes, static_cast<size_t>(byte_count), frame_, error)) {
    SetError(byte_count < 0 ? "scope frame of a negative length" : error);
    return -1;
  }
  if (frame_.channels > static_cast<int>(channels_.size())) {
    SetError("scope frame with " + std::to_string(frame_.channels) + " channels for a scope of " +
             std::to_string(channels_.size()));
    return -1;
  }
  if ((frame_.flags & axis::ScopeFrame::kFinal) != 0) final_ = true;
  const int n = std::clamp(points_, kMinPoints, kMaxPoints);
  const size_t stride = 1 + channels_.size();
  if (buffer_.size() != static_cast<size_t>(n) * stride)
    buffer_.assign(static_cast<size_t>(n) * stride, kNaN);
  if (physical_.size() != channels_.size()) PreparePhysical();
  const double period = SamplePeriod();
  CGraphFilter& curves = *document_.GetAt(0);
  row_.assign(stride, kNaN);
  const int samples = frame_.samples();
  for (int s = 0; s < samples; ++s) {
    const int slot = (frame_.first_sample + s) % n;
    row_[0] = slot * period;
    for (int c = 0; c < frame_.channels; ++c) {
      const auto [factor, offset] = physical_[static_cast<size_t>(c)];
      const double internal = frame_.values[static_cast<size_t>(s * frame_.channels + c)];
      row_[static_cast<size_t>(c) + 1] = (internal + offset) * factor;
    }
    std::copy(row_.begin(), row_.end(), buffer_.begin() + static_cast<ptrdiff_t>(slot * stride));
    curves.SetRow(static_cast<size_t>(slot), row_);
    MarkForDrawing(slot);
  }
  return samples;
}

void CMC_ScopeLogger::GetPointsToBeDrawn(int& first, int& count) {
  first = drawn_index_;
  count = pending_;
  drawn_index_ = (drawn_index_ + pending_) % std::max(1, points_);
  pending_ = 0;
}

// --- settings ------------------------------------------------------------------------------------

CMC_ScopeLogger::Settings CMC_ScopeLogger::Current() const {
  Settings s;
  s.time_base_s = time_base_s_;
  s.points = std::clamp(points_, kMinPoints, kMaxPoints);
  s.mode = mode_;
  s.slope = slope_;
  s.trigger_variable = trigger_variable_;
  s.level = level_;
  s.pretrigger_percent = pretrigger_percent_;
  for (size_t c = 0; c < channels_.size(); ++c)
    s.channels.push_back({variables_[c].name, channels_[c]});
  const CGraphFilter& curves = *document_.GetAt(0);
  for (int i = 0; i < curves.GetCount(); ++i) {
    const CXYCurve& curve = *curves.GetCurve(i);
    s.curves.push_back({curve.GetXColumn(), curve.GetYColumn(), curve.GetAxis(),
                        curve.GetLineWidth(), curve.GetColour()});
  }
  return s;
}

void CMC_ScopeLogger::Apply(const Settings& s) {
  EndUploadData();
  SetDefaultValues();
  time_base_s_ = s.time_base_s;
  points_ = s.points;
  mode_ = s.mode;
  slope_ = s.slope;
  trigger_variable_ = s.trigger_variable;
  level_ = s.level;
  pretrigger_percent_ = s.pretrigger_percent;
  for (const Settings::ChannelSettings& c : s.channels) {
    AddVariable(c.variable.c_str(), 1);
    channels_.back() = c.channel;
  }
  CGraphFilter& curves = *document_.GetAt(0);
  for (const Settings::Curve& c : s.curves)
    curves.Add(CXYCurve(c.x, c.y, c.axis, c.colour, c.width));
  ShowOnScreen();
}

std::string CMC_ScopeLogger::SettingsText() const { return Current().ToJson().dump(); }

int CMC_ScopeLogger::SetSettingsText(const std::string& text) {
  const json j = json::parse(text, nullptr, false);
  if (j.is_discarded()) {
    SetError(text.empty() ? "no scope settings" : "the scope settings are not JSON");
    return 0;
  }
  Settings s;
  std::string error;
  if (!Settings::FromJson(j, s, error)) {
    SetError("scope settings: " + error);
    return 0;
  }
  Apply(s);
  error_.clear();
  return 1;
}

int CMC_ScopeLogger::LoadSettingsFromSetupOption(const char* option) {
  if (option == nullptr || !setup_.HasOption(option)) return 0;
  return SetSettingsText(setup_.GetOptionNoError(option));
}

void CMC_ScopeLogger::SaveSettingsToSetupOption(const char* option) {
  if (option != nullptr && *option != '\0') setup_.SetOption(option, SettingsText());
}

// --- files ---------------------------------------------------------------------------------------

int CMC_ScopeLogger::Save(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  json j = {{"format", kFileFormat}, {"version", kFileVersion}, {"settings", Current().ToJson()}};
  json points = json::array();
  const size_t stride = 1 + channels_.size();
  for (size_t row = 0; row + stride <= buffer_.size(); row += stride) {
    if (!Finite(buffer_[row])) continue;  // an empty slot
    json point = json::array({row / stride});
    for (size_t k = 0; k < stride; ++k) {
      const double v = buffer_[row + k];
      point.push_back(Finite(v) ? json(v) : json(nullptr));
    }
    points.push_back(std::move(point));
  }
  j["points"] = std::move(points);
  const std::string error = axis::ReplaceFileAtomically(path, j.dump(1) + "\n");
  if (error.empty()) return 1;
  SetError(error);
  axis::ShowMessage({.text = "Cannot save the oscilloscope: " + error,
                     .buttons = axis::MessageButtons::kOk,
                     .icon = axis::MessageIcon::kWarning});
  return 0;
}

namespace {

// The points of a scope file: [slot, time, value...] each, `stride` values after the slot.
bool ReadPoints(const json& points, int slots, size_t stride, std::vector<double>& buffer,
                std::string& error) {
  if (!points.is_array()) {
    error = "\"points\" is not a list";
    return false;
  }
  buffer.assign(static_cast<size_t>(slots) * stride, kNaN);
  for (size_t i = 0; i < points.size(); ++i) {
    const json& p = points[i];
    const std::string where = "points/" + std::to_string(i);
    if (!p.is_array() || p.size() != 1 + stride || !p[0].is_number_unsigned() ||
        p[0].get<uint64_t>() >= static_cast<uint64_t>(slots)) {
      error = where + ": not [slot, time, one value per channel] with a slot below " +
              std::to_string(slots);
      return false;
    }
    const size_t slot = p[0].get<size_t>();
    for (size_t k = 0; k < stride; ++k) {
      if (!p[1 + k].is_number() && !p[1 + k].is_null()) {
        error = where + ": a value that is no number";
        return false;
      }
      buffer[slot * stride + k] = p[1 + k].is_null() ? kNaN : p[1 + k].get<double>();
    }
    if (!Finite(buffer[slot * stride])) {
      error = where + ": no time";
      return false;
    }
  }
  return true;
}

}  // namespace

int CMC_ScopeLogger::Load(const char* path) {
  std::string error;
  Settings s;
  std::vector<double> buffer;
  std::ifstream in(path != nullptr ? path : "", std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  const json j = in ? json::parse(text.str(), nullptr, false) : json();
  if (!in) {
    error = "cannot be read";
  } else if (j.is_discarded() || !j.is_object()) {
    error = "is not a JSON object";
  } else if (j.value("format", json()) != kFileFormat ||
             j.value("version", json()) != kFileVersion) {
    error =
        "is no oscilloscope file of version 1 (\"format\": \"" + std::string(kFileFormat) + "\")";
  } else if (!j.contains("settings") || !Settings::FromJson(j["settings"], s, error)) {
    error = error.empty() ? "has no \"settings\"" : "settings: " + error;
  } else if (!j.contains("points") ||
             !ReadPoints(j["points"], s.points, 1 + s.channels.size(), buffer, error)) {
    error = error.empty() ? "has no \"points\"" : error;
  }
  if (!error.empty()) {
    SetError(axis::Quoted(path != nullptr ? path : "") + " " + error);
    axis::ShowMessage({.text = "Cannot load the oscilloscope: " + error_,
                       .buttons = axis::MessageButtons::kOk,
                       .icon = axis::MessageIcon::kWarning});
    return 0;
  }
  Apply(s);
  buffer_ = std::move(buffer);
  const size_t stride = 1 + channels_.size();
  CGraphFilter& curves = *document_.GetAt(0);
  for (size_t row = 0; row + stride <= buffer_.size(); row += stride) {
    if (Finite(buffer_[row]))
      curves.SetRow(row / stride,
                    std::vector<double>(buffer_.begin() + static_cast<ptrdiff_t>(row),
                                        buffer_.begin() + static_cast<ptrdiff_t>(row + stride)));
  }
  error_.clear();
  return 1;
}

int DoPromptScopeLoggerFileName(int open, std::string& name) {
  axis::Platform* platform = axis::GetPlatform();
  if (platform == nullptr) return 0;
  const std::string base = name.empty() ? "Oscilloscope" : name;
  const std::optional<std::string> path =
      platform->AskFileName({.save = open == 0,
                             .title = open != 0 ? "Load Oscilloscope" : "Save Oscilloscope",
                             .filter = "Oscilloscope files (*.scope)|*.scope|All files (*.*)|*.*",
                             .default_name = base + ".scope"});
  if (!path) return 0;
  name = *path;
  return 1;
}

// --- the settings dialog -------------------------------------------------------------------------

namespace {

enum : int {
  kTimeBaseEdit = 1202,
  kModeCombo = 1205,
  kTriggerCombo = 1207,
  kSlopeCombo = 1209,
  kLevelEdit = 1211,
  kPretriggerEdit = 1213,
  kChannelName = 1230,  // + 10 x channel
  kChannelScale = 1231,
  kChannelOffset = 1232,
};

constexpr struct {
  int mode;
  const char* text;
} kModes[] = {{1, "Auto"}, {2, "Normal"}, {4, "Single shot"}};
constexpr const char* kSlopes[] = {"Falling", "Rising"};  // by slope value

int ChannelControl(int first, int channel) { return first + 10 * channel; }

}  // namespace

// Edits a scope's time base, trigger and channels; on OK the values go into the scope.
class CMC_ScopeSettingsDlg : public CMC_EditSetupDlg {
 public:
  CMC_ScopeSettingsDlg(CMC_ScopeLogger& scope, CMC_Setup& setup, CMC_EditSetupDlg* parent)
      : CMC_EditSetupDlg(setup, CMC_ScopeLogger::kSettingsTemplate, 1, nullptr, parent),
        scope_(scope) {}

  int OnInitDialog() override;
  void OnOK() override;
  bool Changed() const { return changed_; }

 private:
  // The number in edit `id`, or a warning naming `what` and nullopt.
  std::optional<double> Number(int id, const char* what, bool positive);

  CMC_ScopeLogger& scope_;
  bool changed_ = false;
};

int CMC_ScopeSettingsDlg::OnInitDialog() {
  CMC_EditSetupDlg::OnInitDialog();
  SetChildText(kTimeBaseEdit, axis::FormatNumber(scope_.GetTimeBase(), 6).c_str());
  for (const auto& mode : kModes) {
    const int index = AddComboItem(kModeCombo, mode.text, mode.mode);
    if (mode.mode == scope_.GetMode()) SetComboSelection(kModeCombo, index);
  }
  AddComboItem(kTriggerCombo, "None", -1);
  SetComboSelection(kTriggerCombo, 0);
  for (size_t c = 0; c < scope_.variables_.size(); ++c) {
    const std::string& name = scope_.variables_[c].name;
    const int index = AddComboItem(kTriggerCombo, name.c_str(), static_cast<int64_t>(c));
    if (axis::EqualsNoCase(name, scope_.GetTriggerVariable()))
      SetComboSelection(kTriggerCombo, index);
  }
  for (const char* slope : kSlopes) AddComboItem(kSlopeCombo, slope, 0);
  SetComboSelection(kSlopeCombo, scope_.GetSlope());
  SetChildText(kLevelEdit, axis::FormatNumber(scope_.GetLevel(), 6).c_str());
  SetChildText(kPretriggerEdit, std::to_string(scope_.GetPretrigger()).c_str());
  for (int c = 0; c < axis::ScopeRequest::kMaxChannels; ++c) {
    const bool used = c < static_cast<int>(scope_.Channels().size());
    const int ids[] = {ChannelControl(kChannelName, c), ChannelControl(kChannelScale, c),
                       ChannelControl(kChannelOffset, c), 0};
    ShowChildren(ids, used ? 1 : 0);
    if (!used) continue;
    const CMC_ScopeLogger::Channel& channel = scope_.Channels()[static_cast<size_t>(c)];
    const std::string name = scope_.variables_[static_cast<size_t>(c)].name +
                             (channel.unit.empty() ? "" : " [" + channel.unit + "]");
    SetChildText(ids[0], name.c_str());
    SetChildText(ids[1], axis::FormatNumber(channel.scale, 6).c_str());
    SetChildText(ids[2], axis::FormatNumber(channel.offset, 6).c_str());
  }
  return 1;
}

std::optional<double> CMC_ScopeSettingsDlg::Number(int id, const char* what, bool positive) {
  const axis::Platform* platform = axis::GetPlatform();
  const std::optional<double> value =
      axis::ParseNumber(GetChildText(id), platform != nullptr ? platform->TypedDecimalMark()
                                                              : axis::DecimalMark::kPoint);
  if (value && std::isfinite(*value) && (!positive || *value > 0.0)) return value;
  MessageBox(std::string("Please enter ") + (positive ? "a positive number" : "a number") +
                 " for the " + what + ".",
             axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
  return std::nullopt;
}

void CMC_ScopeSettingsDlg::OnOK() {
  const std::optional<double> time_base = Number(kTimeBaseEdit, "time base", true);
  if (!time_base) return;
  const std::optional<double> level = Number(kLevelEdit, "trigger level", false);
  if (!level) return;
  const std::optional<double> pretrigger = Number(kPretriggerEdit, "pretrigger", false);
  if (!pretrigger) return;
  if (*pretrigger < 0.0 || *pretrigger > 100.0) {
    MessageBox("Please enter a pretrigger between 0 and 100 %.", axis::MessageButtons::kOk,
               axis::MessageIcon::kWarning);
    return;
  }
  std::vector<std::pair<double, double>> scales;
  for (size_t c = 0; c < scope_.Channels().size(); ++c) {
    const int channel = static_cast<int>(c);
    const std::optional<double> scale =
        Number(ChannelControl(kChannelScale, channel), "units per division", true);
    if (!scale) return;
    const std::optional<double> offset =
        Number(ChannelControl(kChannelOffset, channel), "centre value", false);
    if (!offset) return;
    scales.emplace_back(*scale, *offset);
  }
  const std::string before = scope_.SettingsText();
  const int trigger = static_cast<int>(
      GetComboItemData(kTriggerCombo, std::max(0, GetComboSelection(kTriggerCombo))));
  const std::string variable =
      trigger >= 0 ? scope_.variables_[static_cast<size_t>(trigger)].name : std::string();
  scope_.ChangeSettings(
      *time_base, static_cast<int>(GetComboItemData(kModeCombo, GetComboSelection(kModeCombo))),
      GetComboSelection(kSlopeCombo) == 0 ? 0 : 1, variable.empty() ? nullptr : variable.c_str(),
      *level, TG_Round(*pretrigger));
  for (size_t c = 0; c < scales.size(); ++c) {
    const std::string unit = scope_.Channels()[c].unit;
    scope_.RescaleVariable(static_cast<int>(c), unit.c_str(), scales[c].first, scales[c].second);
  }
  changed_ = scope_.SettingsText() != before;
  CMC_EditSetupDlg::OnOK();
}

int CMC_ScopeLogger::Edit(CMC_EditSetupDlg* parent) {
  CMC_ScopeSettingsDlg dialog(*this, setup_, parent);
  return dialog.DoModal() == axis::kIdOk && dialog.Changed() ? 1 : 0;
}

namespace {

// The settings dialog on its own (the front end's drawings of every dialog): a new scope's.
int OpenScopeSettingsAlone(CMC_Setup* setup) {
  if (setup == nullptr) return 0;
  CMC_ScopeLogger scope(*setup);
  CMC_ScopeSettingsDlg dialog(scope, *setup, nullptr);
  return dialog.DoModal();
}

const bool kRegistered = [] {
  axis::RegisterSetupService(
      axis::OpenDialogServiceName(CMC_ScopeLogger::kSettingsTemplate).c_str(),
      &OpenScopeSettingsAlone);
  return true;
}();

}  // namespace

// --- the simple oscilloscope view ----------------------------------------------------------------

int CMC_Oscilloscope::SubclassDlgItem(int control_id, CMC_EditSetupDlg* dialog) {
  return dialog != nullptr && dialog->AttachCustom(control_id, this) ? 1 : 0;
}

void CMC_Oscilloscope::Initialize(const char* title, int items, int) {
  title_ = title != nullptr ? title : "";
  const auto count = static_cast<size_t>(std::clamp(items, 0, kMaxItems));
  items_.assign(count, Item{});
  history_.assign(count, std::vector<double>(kHistory, kNaN));
  next_ = filled_ = 0;
  appended_ = 0;
  Changed();
}

CMC_Oscilloscope::Item* CMC_Oscilloscope::GetItem(int index) {
  return index >= 0 && index < GetItemCount() ? &items_[static_cast<size_t>(index)] : nullptr;
}

const CMC_Oscilloscope::Item* CMC_Oscilloscope::GetItem(int index) const {
  return index >= 0 && index < GetItemCount() ? &items_[static_cast<size_t>(index)] : nullptr;
}

void CMC_Oscilloscope::UpdateLastPoint() {
  for (size_t i = 0; i < items_.size(); ++i) history_[i][next_] = items_[i].value;
  next_ = (next_ + 1) % kHistory;
  filled_ = std::min(filled_ + 1, static_cast<size_t>(kHistory));
  ++appended_;
  Changed();
}

std::vector<double> CMC_Oscilloscope::History(int item) const {
  if (item < 0 || item >= GetItemCount()) return {};
  const std::vector<double>& ring = history_[static_cast<size_t>(item)];
  const size_t oldest = filled_ < static_cast<size_t>(kHistory) ? 0 : next_;
  std::vector<double> points;
  points.reserve(filled_);
  for (size_t k = 0; k < filled_; ++k) points.push_back(ring[(oldest + k) % kHistory]);
  return points;
}

double CMC_Oscilloscope::Fraction(int index, double value) const {
  if (index < 0 || index >= GetItemCount()) return kNaN;
  const Item& item = items_[static_cast<size_t>(index)];
  if (!std::isfinite(item.upper) || !std::isfinite(item.lower) || item.upper == item.lower)
    return kNaN;
  // By halves, so that bounds of opposite signs near the largest double cannot overflow.
  return (0.5 * value - 0.5 * item.lower) / (0.5 * item.upper - 0.5 * item.lower);
}
