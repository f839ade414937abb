#include "sim/sim_config.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

#include "host/number_text.h"
#include "host/text.h"
#include "sim/drive_core.h"

namespace sim {

namespace {

// How a key's value is read.
enum class Kind {
  kNumber,   // a finite decimal number
  kText,     // a word ("star", "A")
  kValue,    // a text; in a "simulation" section also true/false or a number (as its text)
  kHexWord,  // a 16-bit bit field: "0x8002" or "8002" (hexadecimal), or a JSON number
  kLabels,   // true/false, "*" (every routine) or routine labels separated by commas
};

struct Key {
  const char* name;
  Kind kind;
  // Applies the value; returns "" or what is wrong with it (without the key's name).
  std::function<std::string(Config&, double, std::string_view)> apply;
};

std::string Number(double value) { return axis::FormatNumber(value); }

// Setters for numbers with a range; `open_low` excludes the lower bound.
auto Positive(double MotorParams::*field) {
  return [field](Config& c, double v, std::string_view) -> std::string {
    if (!(v > 0.0)) return "must be greater than 0, not " + Number(v);
    c.motor.*field = v;
    return "";
  };
}
auto NotNegative(double MotorParams::*field) {
  return [field](Config& c, double v, std::string_view) -> std::string {
    if (!(v >= 0.0)) return "must be 0 or more, not " + Number(v);
    c.motor.*field = v;
    return "";
  };
}
auto Any(double MotorParams::*field) {
  return [field](Config& c, double v, std::string_view) -> std::string {
    c.motor.*field = v;
    return "";
  };
}
auto Factor(std::array<double, 3> MotorParams::*field, int phase) {
  return [field, phase](Config& c, double v, std::string_view) -> std::string {
    if (!(v > 0.0)) return "must be greater than 0, not " + Number(v);
    (c.motor.*field)[static_cast<size_t>(phase)] = v;
    return "";
  };
}

std::string ApplyConnection(Config& c, double, std::string_view text) {
  if (text == "star") {
    c.motor.connection = Connection::kStar;
  } else if (text == "delta") {
    c.motor.connection = Connection::kDelta;
  } else {
    return "must be \"star\" or \"delta\", not " + axis::Quoted(text);
  }
  return "";
}

std::string ApplyOpenPhase(Config& c, double, std::string_view text) {
  if (text.empty() || text == "none") {
    c.motor.open_terminal = Terminal::kNone;
  } else if (text == "A" || text == "B" || text == "C") {
    c.motor.open_terminal = static_cast<Terminal>(text[0] - 'A');
  } else {
    return "must be \"A\", \"B\", \"C\" or \"none\", not " + axis::Quoted(text);
  }
  return "";
}

std::string ApplySeed(Config& c, double v, std::string_view) {
  if (!(v >= 0.0 && v <= 9007199254740992.0 && v == std::floor(v)))
    return "must be a whole number from 0 to 2^53, not " + Number(v);
  c.motor.seed = static_cast<uint64_t>(v);
  return "";
}

std::string ApplyFaults(Config& c, double v, std::string_view) {
  if (!(v >= 0.0 && v <= 65535.0 && v == std::floor(v)))
    return "must be a 16-bit word (0 to 0xFFFF), not " + Number(v);
  c.faults.forced_mer = static_cast<uint16_t>(v);
  return "";
}

std::string ApplyNeverStart(Config& c, double, std::string_view text) {
  c.faults.never_start.clear();
  c.faults.never_start_all = false;
  if (text == "false" || text == "0" || text.empty()) return "";
  if (text == "true" || text == "1" || text == "*") {
    c.faults.never_start_all = true;
    return "";
  }
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view label = axis::TrimBlanks(text.substr(0, comma));
    if (label.empty()) return "has an empty routine label in the list";
    c.faults.never_start.emplace_back(label);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return "";
}

// true/1 or false/0.
std::string ApplySwitch(std::string_view text, bool& field) {
  if (text == "true" || text == "1") {
    field = true;
  } else if (text == "false" || text == "0") {
    field = false;
  } else {
    return "must be true or false, not " + axis::Quoted(text);
  }
  return "";
}

std::string ApplyEncoderReversed(Config& c, double, std::string_view text) {
  return ApplySwitch(text, c.sensors.encoder_reversed);
}

std::string ApplyIndex(Config& c, double, std::string_view text) {
  if (text == "none") {
    c.sensors.index_m = std::numeric_limits<double>::quiet_NaN();
    return "";
  }
  const std::optional<double> v = axis::ParseNumber(text);
  if (!v || !std::isfinite(*v)) return "must be a position in m or none, not " + axis::Quoted(text);
  c.sensors.index_m = *v;
  return "";
}

std::string ApplyHallCase(Config& c, double v, std::string_view) {
  if (!(v >= 2.0 && v <= 13.0 && v == std::floor(v)))
    return "must be a whole number from 2 to 13, not " + Number(v);
  c.sensors.hall_case = static_cast<int>(v);
  return "";
}

std::string ApplyHallShift(Config& c, double v, std::string_view) {
  if (!(v >= -32768.0 && v <= 32767.0))
    return "must be from -32768 to 32767 (65536 per electrical turn), not " + Number(v);
  c.sensors.hall_shift = v;
  return "";
}

// "none", or faults separated by commas: "2=0" (Hall2 stuck low), "3=1" (Hall3 stuck high).
std::string ApplyHallStuck(Config& c, double, std::string_view text) {
  c.sensors.hall_stuck_low = c.sensors.hall_stuck_high = 0;
  if (text == "none" || text.empty()) return "";
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = axis::TrimBlanks(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (item.size() != 3 || item[1] != '=' || item[0] < '1' || item[0] > '3' ||
        (item[2] != '0' && item[2] != '1'))
      return "takes Hall=level items such as 2=0 (Hall2 stuck low) or 3=1, not " +
             axis::Quoted(item);
    const uint8_t bit = static_cast<uint8_t>(1 << ('3' - item[0]));  // Hall1 is bit 2
    (item[2] == '1' ? c.sensors.hall_stuck_high : c.sensors.hall_stuck_low) |= bit;
  }
  if ((c.sensors.hall_stuck_low & c.sensors.hall_stuck_high) != 0)
    return "holds a Hall signal both low and high";
  return "";
}

// "none", a constant ("0.5"), or time:value points separated by commas ("0:0,1:0.06,2:0"),
// times in s rising, values from low to high.
std::string ParseProfile(std::string_view text, double low, double high, TimeProfile& profile) {
  profile.points.clear();
  if (text == "none" || text.empty()) return "";
  const std::string range = " from " + Number(low) + " to " + Number(high);
  if (text.find(':') == std::string_view::npos) {
    const std::optional<double> v = axis::ParseNumber(text);
    if (!v || !(*v >= low && *v <= high))
      return "must be a value" + range + " or time:value points, not " + axis::Quoted(text);
    profile.points.emplace_back(0.0, *v);
    return "";
  }
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = axis::TrimBlanks(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    const size_t colon = item.find(':');
    const std::optional<double> t =
        colon == std::string_view::npos ? std::nullopt : axis::ParseNumber(item.substr(0, colon));
    const std::optional<double> v =
        colon == std::string_view::npos ? std::nullopt : axis::ParseNumber(item.substr(colon + 1));
    if (!t || !v) return "takes time:value points such as 0:0,1:0.06, not " + axis::Quoted(item);
    if (!(*t >= 0.0 && *t <= 1e6) || (!profile.points.empty() && *t < profile.end_s()))
      return "needs times from 0 to 1e6 s that do not fall, not " + axis::Quoted(item);
    if (!(*v >= low && *v <= high)) return "needs values" + range + ", not " + axis::Quoted(item);
    profile.points.emplace_back(*t, *v);
  }
  return "";
}

std::string ApplyHand(Config& c, double, std::string_view text) {
  return ParseProfile(text, -1e3, 1e3, c.sensors.hand);
}

std::string ApplyAd5(Config& c, double, std::string_view text) {
  return ParseProfile(text, 0.0, 1.0, c.sensors.ad5);
}

std::string ApplyScope(Config& c, double, std::string_view text) {
  return ApplySwitch(text, c.drive.has_scope);
}

std::string ApplyLinkFail(Config& c, double v, std::string_view) {
  if (!(v >= 0.0)) return "must be 0 s or more, not " + Number(v);
  c.faults.link_fail_after_s = v;
  return "";
}

const std::vector<Key>& Keys() {
  static const std::vector<Key> keys = {
      {"R", Kind::kNumber, NotNegative(&MotorParams::resistance_Ohm)},
      {"L", Kind::kNumber, Positive(&MotorParams::inductance_H)},
      {"connection", Kind::kText, ApplyConnection},
      {"rA", Kind::kNumber, Factor(&MotorParams::resistance_factor, 0)},
      {"rB", Kind::kNumber, Factor(&MotorParams::resistance_factor, 1)},
      {"rC", Kind::kNumber, Factor(&MotorParams::resistance_factor, 2)},
      {"lA", Kind::kNumber, Factor(&MotorParams::inductance_factor, 0)},
      {"lB", Kind::kNumber, Factor(&MotorParams::inductance_factor, 1)},
      {"lC", Kind::kNumber, Factor(&MotorParams::inductance_factor, 2)},
      {"openPhase", Kind::kText, ApplyOpenPhase},
      {"Kf", Kind::kNumber, Any(&MotorParams::force_constant_N_per_A)},
      {"motorMass", Kind::kNumber, Positive(&MotorParams::motor_mass_kg)},
      {"loadMass", Kind::kNumber, NotNegative(&MotorParams::load_mass_kg)},
      {"friction", Kind::kNumber, NotNegative(&MotorParams::friction_N)},
      {"viscous", Kind::kNumber, NotNegative(&MotorParams::viscous_N_s_per_m)},
      {"gravity", Kind::kNumber, Any(&MotorParams::gravity_m_per_s2)},
      {"strokeMin", Kind::kNumber, Any(&MotorParams::stroke_min_m)},
      {"strokeMax", Kind::kNumber, Any(&MotorParams::stroke_max_m)},
      {"position", Kind::kNumber, Any(&MotorParams::start_position_m)},
      {"polePitch", Kind::kNumber, Positive(&MotorParams::pole_pitch_m)},
      {"encRes", Kind::kNumber, Positive(&MotorParams::encoder_resolution_m)},
      {"hallOffset", Kind::kNumber, Any(&MotorParams::hall_offset_rad)},
      {"encoderReversed", Kind::kValue, ApplyEncoderReversed},
      {"indexAt", Kind::kValue, ApplyIndex},
      {"hallCase", Kind::kNumber, ApplyHallCase},
      {"hallShift", Kind::kNumber, ApplyHallShift},
      {"hallStuck", Kind::kValue, ApplyHallStuck},
      {"hand", Kind::kValue, ApplyHand},
      {"ad5", Kind::kValue, ApplyAd5},
      {"vdc", Kind::kNumber, Positive(&MotorParams::bus_V)},
      {"deadTime", Kind::kNumber, NotNegative(&MotorParams::dead_time_s)},
      {"currentNoise", Kind::kNumber, NotNegative(&MotorParams::current_noise_A)},
      {"seed", Kind::kNumber, ApplySeed},
      {"faults", Kind::kHexWord, ApplyFaults},
      {"neverStart", Kind::kLabels, ApplyNeverStart},
      {"linkFailAfter", Kind::kNumber, ApplyLinkFail},
      {"scope", Kind::kValue, ApplyScope},
  };
  return keys;
}

const Key* FindKey(std::string_view name) {
  for (const Key& key : Keys()) {
    if (name == key.name) return &key;
  }
  return nullptr;
}

std::string UnknownKey(std::string_view name) {
  std::string known;
  for (const Key& key : Keys()) known += std::string(known.empty() ? "" : ", ") + key.name;
  return "unknown simulation key " + axis::Quoted(name) + " (known keys: " + known + ")";
}

std::string Refused(const Key& key, const std::string& why) {
  return "simulation key " + axis::Quoted(key.name) + " " + why;
}

// "0x8002", "8002", "0X8002": a hexadecimal word.
bool ParseHexWord(std::string_view text, double& value) {
  text = axis::TrimBlanks(text);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return false;
  uint32_t word = 0;
  for (char ch : text) {
    int digit = -1;
    if (ch >= '0' && ch <= '9') digit = ch - '0';
    if (ch >= 'a' && ch <= 'f') digit = ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') digit = ch - 'A' + 10;
    if (digit < 0) return false;
    word = word * 16 + static_cast<uint32_t>(digit);
  }
  value = word;
  return true;
}

std::string ApplyChecked(Config& config, const Key& key, double number, std::string_view text) {
  Config trial = config;
  const std::string why = key.apply(trial, number, text);
  if (!why.empty()) return Refused(key, why);
  config = std::move(trial);
  return "";
}

}  // namespace

double TimeProfile::At(double t_s) const {
  if (points.empty()) return 0.0;
  if (!(t_s > points.front().first)) return points.front().second;
  for (size_t i = 1; i < points.size(); ++i) {
    const auto& [t1, v1] = points[i];
    if (t_s >= t1) continue;
    const auto& [t0, v0] = points[i - 1];
    return v0 + (v1 - v0) * (t_s - t0) / (t1 - t0);  // t1 > t_s > t0 here
  }
  return points.back().second;
}

HallWiring HallWiringOf(int hall_case) {
  // The six orders of the sensors on the inputs: the first is the reference (forward the states
  // follow 1, 3, 2, 6, 4, 5); the next two turn the sequence by 120 and 240 degrees, the last
  // three (two sensors swapped) run it backward.
  static constexpr int kOrders[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1},
                                        {0, 2, 1}, {2, 1, 0}, {1, 0, 2}};
  const int i = std::clamp(hall_case, 2, 13) - 2;
  const int* o = kOrders[i % 6];
  return {{o[0], o[1], o[2]}, i >= 6};
}

int HallValue(int hall_case, double sensor_turns) {
  const HallWiring w = HallWiringOf(hall_case);
  int value = 0;
  for (int input = 0; input < 3; ++input) {
    double f = sensor_turns + w.sensor[input] / 3.0;
    f -= std::floor(f);
    if ((f < 0.5) != w.inverted) value |= 4 >> input;
  }
  return value;
}

Config DefaultConfig() {
  Config c;
  c.registers = {{"PWMPER", 1000},  {"CLPER", 1},      {"SLPER", 10},      {"SATPWM", 2621},
                 {"DBT", 10280},    {"SFTKPI", 3},     {"KPI", 24053},     {"SFTKII", 0},
                 {"KII", 16759},    {"SATID", 2621},   {"SATIQ", 2621},    {"IMAXPROT", 26208},
                 {"REFTST", 5250},  {"RINCTST", 5250}, {"MECRESL", 30000}, {"ENC2THL", 143166},
                 {"FILTERQ", 32767}};
  // The motion loops, tuned for the demo mover (3 kg): speed loop 100 rad/s, position loop
  // 20 rad/s; 7 A and 2 m/s at most; no feedforward, no filters.
  c.registers.insert(
      c.registers.end(),
      {{"KPS", 16768},    {"SFTKPS", 8},    {"KIS", 26841},       {"SFTKIS", 2},
       {"IMAXS", 21301},  {"SATS", 9835},   {"KPP", 655},         {"SFTKPP", 0},
       {"KIP", 0},        {"SFTKIP", 0},    {"KDP", 0},           {"SFTKDP", 0},
       {"KDFP", 32767},   {"IMAXP", 32267}, {"SATP", 31767},      {"KFFS", 0},
       {"SFTSFFW", 0},    {"KFFA", 0},      {"SFTAFFW", 0},       {"SFTKFF", 0},
       {"ACR", 0x714},    {"UPGRADE", 0},   {"SPDREF_BQ_INI", 0}, {"IQREF_BQ_INI", 0},
       {"ASPD_BQ_INI", 0}});
  for (const char* slot : {"BQ1", "BQ2", "BQ3"}) {
    for (const char* part : {"B0", "B1", "B2", "A1", "A2", "SF"})
      c.registers.emplace_back(std::string(slot) + part, 0.0);
  }
  // Every variable the firmware keeps, and an analogue input of no routine's.
  const std::span<const char* const> kept = DriveCore::VariableNames();
  c.variables.assign(kept.begin(), kept.end());
  c.variables.emplace_back("AD2");
  return c;
}

std::string ApplySimulationKey(Config& config, std::string_view key_name, std::string_view value) {
  const Key* key = FindKey(key_name);
  if (key == nullptr) return UnknownKey(key_name);
  switch (key->kind) {
    case Kind::kNumber: {
      const std::optional<double> number = axis::ParseNumber(value);
      if (!number) return Refused(*key, "needs a number, not " + axis::Quoted(value));
      return ApplyChecked(config, *key, *number, value);
    }
    case Kind::kHexWord: {
      double word = 0.0;
      if (!ParseHexWord(value, word))
        return Refused(*key, "needs a hexadecimal word such as 0x8000, not " + axis::Quoted(value));
      return ApplyChecked(config, *key, word, value);
    }
    case Kind::kText:
    case Kind::kValue:
    case Kind::kLabels:
      return ApplyChecked(config, *key, 0.0, axis::TrimBlanks(value));
  }
  return UnknownKey(key_name);
}

std::string ApplySimulationSection(Config& config, std::string_view json_text) {
  const nlohmann::json section = nlohmann::json::parse(json_text, nullptr, false);
  if (section.is_discarded() || !section.is_object())
    return "the \"simulation\" section is not a JSON object";
  for (const auto& [name, value] : section.items()) {
    const Key* key = FindKey(name);
    if (key == nullptr) return UnknownKey(name);
    std::string error;
    switch (key->kind) {
      case Kind::kNumber:
        if (!value.is_number()) return Refused(*key, "needs a number");
        error = ApplyChecked(config, *key, value.get<double>(), "");
        break;
      case Kind::kHexWord:
        if (value.is_number()) {
          error = ApplyChecked(config, *key, value.get<double>(), "");
        } else if (value.is_string()) {
          error = ApplySimulationKey(config, name, value.get<std::string>());
        } else {
          return Refused(*key, "needs a hexadecimal text such as \"0x8000\" or a number");
        }
        break;
      case Kind::kText:
        if (!value.is_string()) return Refused(*key, "needs a text");
        error = ApplyChecked(config, *key, 0.0, value.get<std::string>());
        break;
      case Kind::kValue:
        if (value.is_boolean()) {
          error = ApplyChecked(config, *key, 0.0, value.get<bool>() ? "true" : "false");
        } else if (value.is_number()) {
          error = ApplyChecked(config, *key, 0.0, Number(value.get<double>()));
        } else if (value.is_string()) {
          error = ApplyChecked(config, *key, 0.0, value.get<std::string>());
        } else {
          return Refused(*key, "needs a text");
        }
        break;
      case Kind::kLabels:
        if (value.is_boolean()) {
          error = ApplyChecked(config, *key, 0.0, value.get<bool>() ? "true" : "false");
        } else if (value.is_string()) {
          error = ApplyChecked(config, *key, 0.0, value.get<std::string>());
        } else if (value.is_array()) {
          std::string list;
          for (const auto& label : value) {
            if (!label.is_string()) return Refused(*key, "needs routine labels as texts");
            list += (list.empty() ? "" : ",") + label.get<std::string>();
          }
          error = ApplyChecked(config, *key, 0.0, list);
        } else {
          return Refused(*key, "needs true, false, a routine label or a list of labels");
        }
        break;
    }
    if (!error.empty()) return error;
  }
  return "";
}

std::string CheckConfig(const Config& c) {
  const MotorParams& m = c.motor;
  const DriveConstants& d = c.drive;
  if (!(d.dsp_frequency_Hz >= 1.0 && d.dsp_frequency_Hz <= 1e10))
    return "the drive's clock DSP_freq must be from 1 Hz to 10 GHz, not " +
           Number(d.dsp_frequency_Hz) + " Hz";
  if (!(d.adc_full_scale >= 1.0 && d.adc_full_scale <= 4294967295.0))
    return "the ADC full scale must be at least 1, not " + Number(d.adc_full_scale);
  if (!(d.current_range_A > 0.0 && std::isfinite(d.current_range_A)))
    return "the drive's current range ImaxPS must be greater than 0 A, not " +
           Number(d.current_range_A);
  if (!(d.vdc_max_measurable_V > 0.0 && std::isfinite(d.vdc_max_measurable_V)))
    return "VdcMaxMeasurable must be greater than 0 V, not " + Number(d.vdc_max_measurable_V);
  const double finite[] = {m.resistance_Ohm,       m.inductance_H,     m.force_constant_N_per_A,
                           m.motor_mass_kg,        m.load_mass_kg,     m.friction_N,
                           m.viscous_N_s_per_m,    m.gravity_m_per_s2, m.stroke_min_m,
                           m.stroke_max_m,         m.start_position_m, m.pole_pitch_m,
                           m.encoder_resolution_m, m.hall_offset_rad,  m.bus_V,
                           m.current_noise_A};
  for (double v : finite) {
    if (!std::isfinite(v)) return "the simulated motor has a value that is not finite";
  }
  for (int p = 0; p < 3; ++p) {
    if (!std::isfinite(m.resistance_factor[p]) || !std::isfinite(m.inductance_factor[p]))
      return "the simulated motor has an imbalance factor that is not finite";
  }
  if (!(m.stroke_min_m < m.stroke_max_m))
    return "the stroke's lower end (strokeMin) must lie below its upper end (strokeMax)";
  if (!(m.start_position_m >= m.stroke_min_m && m.start_position_m <= m.stroke_max_m))
    return "the start position must lie within the stroke (strokeMin to strokeMax)";
  if (m.encoder_resolution_m > m.pole_pitch_m)
    return "the encoder resolution (encRes) must not exceed the pole pitch";
  if (std::isfinite(c.sensors.index_m) &&
      std::fabs(c.sensors.index_m) / m.encoder_resolution_m > 9e15)
    return "the index mark (indexAt) lies beyond what the encoder counts";
  if ((m.stroke_max_m - m.stroke_min_m) / m.encoder_resolution_m > 9e15)
    return "the stroke spans more encoder counts than the drive can count";
  return "";
}

std::vector<std::string> SimulationKeys() {
  std::vector<std::string> names;
  for (const Key& key : Keys()) names.emplace_back(key.name);
  return names;
}

}  // namespace sim
