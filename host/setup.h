// The host's setup model: one drive's setup as named parameters, drive variables and options.
//
// Values are held in each quantity's base unit (s, Hz, A, V, m ...). The internal (drive) unit is
// reached through the loaded plug-in's GetScaleFactor / GetScaleOffset:
//   internal = base / factor - offset,   base = (internal + offset) * factor.
// Integer registers are stored rounded to the nearest integer (halves away from zero); what a
// caller reads back is the stored value. Non-finite values are stored as they are. Values are
// never clamped to a parameter's range by the model: the range is what editors offer, and the
// dialogs refuse input outside it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/comm.h"
#include "host/error_report.h"
#include "host/name_index.h"
#include "host/units.h"

class CMC_Setup;

namespace axis {
class DialogModel;
}

// While non-zero, a failed lookup of a parameter by name is reported to the user through the
// installed error reporter. Code that probes for an optional name saves it, sets 0 and restores it.
extern "C" int g_bShowErrors;

namespace axis {

// Sees the name of every parameter lookup (found or not); null by default. Benchmarks use it to
// learn which names a pass touches.
using LookupObserver = void (*)(std::string_view name);
void SetLookupObserver(LookupObserver observer);

// The plug-in's unit services, as exported by it.
using ScaleFactorFn = double (*)(CMC_Setup* setup, const char* unit, const char* name);
using ScaleOffsetFn = double (*)(CMC_Setup* setup, const char* unit);
struct ScaleProvider {
  ScaleFactorFn factor = nullptr;
  ScaleOffsetFn offset = nullptr;
};
// The provider given to setups created from now on (the application sets it after loading the
// plug-in). Without one, internal units equal base units.
void SetDefaultScaleProvider(ScaleProvider provider);
ScaleProvider DefaultScaleProvider();

// Parameter type codes, as stored in setup files.
enum ParameterType : int {
  kTypePhysical = 0,      // a physical value the user edits
  kTypeSwitch = 1,        // 0/1 flag
  kTypeChoice = 2,        // one of a few coded values (radio buttons, combo boxes)
  kTypeDerived = 3,       // physical value shown read-only (periods, measured ranges)
  kTypeText = 4,          // reserved for identity-like values
  kTypeRegister = 5,      // integer register the firmware reads
  kTypeRegisterWord = 6,  // register holding bit fields (configuration words)
};

}  // namespace axis

// What parameters and variables share: a name, a value in base units, a base and display unit.
class CMC_Quantity {
 public:
  CMC_Quantity(CMC_Setup* owner, std::string name, std::string base_unit, std::string display_unit);
  virtual ~CMC_Quantity() = default;
  CMC_Quantity(const CMC_Quantity&) = delete;
  CMC_Quantity& operator=(const CMC_Quantity&) = delete;

  const std::string& GetName() const { return name_; }
  CMC_Setup* GetSetup() const { return owner_; }

  double GetValueInBaseUnit() const { return value_; }
  virtual void SetValueInBaseUnit(double value) { value_ = value; }
  double GetValueInInternalUnit() const;
  void SetValueInInternalUnit(double internal);
  // Value in the selected display unit and back.
  double GetValueInDisplayUnit() const;
  void SetValueInDisplayUnit(double value);
  // The value as its edit shows it: in the selected display unit, six significant digits.
  std::string PrintValue() const;

  const std::string& GetBaseUnitName() const { return base_unit_; }
  // The selected display unit (Latin-1).
  const char* GetUnitName() const { return display_unit_.c_str(); }
  const CMC_Unit* GetUnit() const;
  // Selects another display unit of the same unit type; 0 (nothing changed) otherwise.
  int ChangeUnit(const char* unit_name);
  // Moves the quantity to the unit named, possibly of the other motion family, changing its base
  // unit to that unit's base. The value in base units is kept: the drive's scale for a position or
  // speed is the same whether it is shown as linear or rotary travel. 0 when the unit is unknown.
  int ChangeUnitType(const char* unit_name);

  // Factor and offset between base and internal units for this quantity, from the plug-in.
  double ScaleFactor() const;
  double ScaleOffset() const;

 protected:
  CMC_Setup* owner_;
  std::string name_;
  std::string base_unit_;
  std::string display_unit_;
  double value_ = 0.0;
};

class CMC_Parameter : public CMC_Quantity {
 public:
  CMC_Parameter(CMC_Setup* owner, std::string name, std::string base_unit, std::string display_unit,
                int type, bool is_integer);

  void SetValueInBaseUnit(double value) override;

  double GetMinInBaseUnit() const { return min_; }
  double GetMaxInBaseUnit() const { return max_; }
  void SetMinInBaseUnit(double value) { min_ = value; }
  void SetMaxInBaseUnit(double value) { max_ = value; }

  int GetType() const { return type_; }
  bool IsInteger() const { return is_integer_; }

  // Writes the value (internal units) to the attached drive; non-zero on success.
  int WriteToChip();

  // A copy that belongs to no setup's list (a dialog's own working value): the same name, units,
  // value, range and type, the same setup for its scale factors. Changing it leaves the setup's
  // parameter alone.
  std::unique_ptr<CMC_Parameter> DetachedCopy() const;

  // A parameter a dialog owns itself, for a value the setup may lack (it belongs to no setup's
  // list; `setup` gives its units): `name`, a whole number when `whole`, `unit` ("" for none),
  // the value `default_text` reads as (0 when it is no number), the range [min, max] in base
  // units. Null for a unit the catalogue does not know.
  static std::unique_ptr<CMC_Parameter> InitializeMotionParam(CMC_Setup& setup, const char* name,
                                                              bool whole, const char* unit,
                                                              const char* default_text, double min,
                                                              double max);

 private:
  double min_ = 0.0;
  double max_ = 0.0;
  int type_;
  bool is_integer_;
};

class CMC_Variable : public CMC_Quantity {
 public:
  CMC_Variable(CMC_Setup* owner, std::string name, std::string base_unit, std::string display_unit,
               std::string kind);
  // The drive's type of the variable ("int", "long", "fixed" ...); informative.
  const std::string& GetKind() const { return kind_; }

  int ReadFromChip();
  int WriteToChip();

 private:
  std::string kind_;
};

class CMC_Parameters {
 public:
  int GetParametersCount() const { return static_cast<int>(items_.size()); }
  CMC_Parameter* operator[](int index) const;

 private:
  friend class CMC_Setup;
  std::vector<std::unique_ptr<CMC_Parameter>> items_;
};

namespace axis {

struct ParameterDescription {
  std::string name;
  double value = 0.0;
  double min = 0.0;
  double max = 0.0;
  std::string base_unit;     // Latin-1
  std::string display_unit;  // Latin-1; empty means the base unit
  int type = kTypePhysical;
  bool is_integer = false;
};

struct VariableDescription {
  std::string name;
  std::string base_unit;
  std::string display_unit;
  std::string kind;
  double value = 0.0;
};

// The electrical stage of an output: an NPN output switches its line to GND (it sinks the load's
// current), a PNP output switches it to +Vlog (it sources the current).
enum class OutputStage { kSink, kSource };

// One entry of the brake I/O table: the user's port number, the drive's pin behind it, its output
// stage and whether the drive drives it inverted (active low).
struct IoPort {
  int port = 0;
  int pin = 0;
  OutputStage stage = OutputStage::kSink;
  bool inverted = false;
};

// The bits of CMC_Setup::IsBrakePortEnable.
constexpr int kBrakePortEnabled = 0x01;  // the port is in the table: it can drive the brake
constexpr int kBrakePortSource = 0x10;   // PNP (source) output stage
constexpr int kBrakePortSink = 0x20;     // NPN (sink) output stage

struct DriveIdentity {
  std::string description;
  std::string product_id;
  std::string firmware_id;
  std::string application_id;
  int eeprom_words = 0;
};

}  // namespace axis

class CMC_Setup {
 public:
  CMC_Setup();
  CMC_Setup(const CMC_Setup&) = delete;
  CMC_Setup& operator=(const CMC_Setup&) = delete;

  // Building a setup. Both return null (and add nothing) for an empty name, a name already
  // present (case ignored) or an unknown unit; `error` then says which.
  CMC_Parameter* AddParameter(const axis::ParameterDescription& desc, std::string* error = nullptr);
  CMC_Variable* AddVariable(const axis::VariableDescription& desc, std::string* error = nullptr);
  // Room for that many parameters and variables in all, so that adding them does not regrow.
  void Reserve(size_t parameters, size_t variables);

  // Lookup, case ignored. FindParameter reports a missing name while g_bShowErrors is non-zero.
  CMC_Parameter* FindParameter(std::string_view name);
  const CMC_Parameter* FindParameter(std::string_view name) const;
  // Lookup that never reports, for callers that handle a missing name themselves.
  CMC_Parameter* FindParameterNoError(std::string_view name);
  // The flag selects the search among all of the setup's variables (1) as the host always does;
  // a missing variable is never reported.
  CMC_Variable* FindVariable(std::string_view name, int flag = 1);

  // Find-then-get/set for names that must exist: a missing name is reported (while
  // g_bShowErrors) and gives 0.0 / 0.
  double GetParameterValueInBaseUnit(std::string_view name);
  double GetParameterValueInInternalUnit(std::string_view name);
  int SetParameterValueInBaseUnit(std::string_view name, double value);
  int SetParameterValueInInternalUnit(std::string_view name, double value);

  CMC_Parameters& GetParameters() { return parameters_; }
  const CMC_Parameters& GetParameters() const { return parameters_; }
  const std::vector<std::unique_ptr<CMC_Variable>>& GetVariables() const { return variables_; }

  // Units.
  const CMC_Units& GetUnits() const { return CMC_Units::Catalogue(); }
  int ChangeParameterUnit(std::string_view name, const char* unit);
  const char* GetParameterUnit(std::string_view name);

  // Options: named texts, names compared ignoring case. Insertion order is kept (setup files keep
  // their order); finding and setting an option takes the same time however many there are,
  // clearing one is linear.
  int GetIntOption(std::string_view name) const;
  std::string GetOptionNoError(std::string_view name) const;
  bool HasOption(std::string_view name) const;
  void SetOption(std::string_view name, std::string_view text);
  void ClearOption(std::string_view name);
  const std::vector<std::pair<std::string, std::string>>& GetOptions() const { return options_; }

  // Drive identity.
  const std::string& GetDescription() const { return identity_.description; }
  const std::string& GetProductID() const { return identity_.product_id; }
  const std::string& GetFirmwareID() const { return identity_.firmware_id; }
  const std::string& GetUserAppID() const { return identity_.application_id; }
  int GetE2ROMSize() const { return identity_.eeprom_words; }
  void SetDescription(std::string text) { identity_.description = std::move(text); }
  void SetProductID(std::string text) { identity_.product_id = std::move(text); }
  // The firmware ID names the firmware that the drive's routines are built for: an empty text is
  // refused (0, the old ID kept); 1 when stored.
  int SetFirmwareID(std::string text) {
    if (text.empty()) return 0;
    identity_.firmware_id = std::move(text);
    return 1;
  }
  void SetUserAppID(std::string text) { identity_.application_id = std::move(text); }
  void SetE2ROMSize(int words) { identity_.eeprom_words = words; }

  // Full-scale count of the drive's analogue inputs.
  uint32_t GetAdcFullScale() const { return adc_full_scale_; }
  void SetAdcFullScale(uint32_t count) { adc_full_scale_ = count; }

  // Brake I/O table. An unknown pin or port maps to -1.
  const std::vector<axis::IoPort>& GetIoPorts() const { return io_ports_; }
  void SetIoPorts(std::vector<axis::IoPort> ports) { io_ports_ = std::move(ports); }
  int GetIOPortFromPin(int pin) const;
  int GetIOPinFromPort(int port) const;
  // Every port of the table can drive the motor brake.
  int GetNumberOfBrakeOutputs() const { return static_cast<int>(io_ports_.size()); }
  // 0 for a port that is not in the table; else kBrakePortEnabled with kBrakePortSource or
  // kBrakePortSink for its output stage.
  int IsBrakePortEnable(int port) const;
  // 1 when the drive drives the output port inverted, else 0 (also for an unknown port).
  int IsOutputPortInverted(int port) const;
  // Fills the combo box with the brake outputs in table order ("Output <port> (pin <pin>)"), item
  // data the port number; returns how many.
  int FillIOBrakeCombo(axis::DialogModel& dialog, int combo_id) const;

  // Sections of a setup file that this program does not interpret, kept as JSON text so that
  // saving never drops them.
  std::vector<std::pair<std::string, std::string>>& ExtraSections() { return extra_sections_; }
  const std::vector<std::pair<std::string, std::string>>& ExtraSections() const {
    return extra_sections_;
  }
  // Where each of those sections stood in its file: (section name, name of the documented member
  // it followed, "" when it came before all of them). Saving puts each section back there; a
  // section without an entry is written after everything else.
  std::vector<std::pair<std::string, std::string>>& ExtraSectionPlaces() {
    return extra_section_places_;
  }
  const std::vector<std::pair<std::string, std::string>>& ExtraSectionPlaces() const {
    return extra_section_places_;
  }

  // Unit services of the loaded plug-in.
  const axis::ScaleProvider& GetScaleProvider() const { return scale_provider_; }
  void SetScaleProvider(axis::ScaleProvider provider) { scale_provider_ = provider; }

  // The attached drive (not owned), or null (then WriteToChip / ReadFromChip fail).
  CMC_Comm* GetComm() const { return comm_; }
  void SetComm(CMC_Comm* comm) { comm_ = comm; }
  // Sends a command line to the attached drive ("!CAP;ENCAPI1;"); 1 when the drive took it, 0
  // when it refused or no drive is attached. The last two arguments are unused.
  int ExecuteString(const char* command, int = 0, void* = nullptr);

 private:
  const std::pair<std::string, std::string>* FindOption(std::string_view name) const;

  CMC_Parameters parameters_;
  axis::NameIndex parameter_index_;
  std::vector<std::unique_ptr<CMC_Variable>> variables_;
  axis::NameIndex variable_index_;
  std::vector<std::pair<std::string, std::string>> options_;
  axis::NameIndex option_index_;  // name -> position in options_
  std::vector<std::pair<std::string, std::string>> extra_sections_;
  std::vector<std::pair<std::string, std::string>> extra_section_places_;
  axis::DriveIdentity identity_;
  uint32_t adc_full_scale_ = 65520;
  std::vector<axis::IoPort> io_ports_;
  axis::ScaleProvider scale_provider_;
  CMC_Comm* comm_ = nullptr;
};

// Full-scale count of the drive's analogue inputs (unsigned 32-bit).
unsigned int Compute_ADCMaxValue(const CMC_Setup* setup);
