#include "conversions/configuration.h"

#include <cmath>
#include <initializer_list>
#include <iterator>

#include "conversions/calculator.h"
#include "conversions/periods.h"
#include "conversions/scales.h"

namespace kestrel {

namespace {

constexpr uint32_t kWord16 = 0xFFFF;

// A 16-bit configuration word as the encoders start from it.
uint32_t Word16(const CMC_Parameter* p) { return Word(p) & kWord16; }
void WriteWord(CMC_Parameter* p, uint32_t word) {
  p->SetValueInBaseUnit(static_cast<double>(word));
}

// ---------------------------------------------------------------------------------------------
// Single-bit flags. "inverted" flags are 1 when their bit is clear (the firmware's bit selects
// the other choice).

struct BitFlag {
  const char* word;
  int bit;
  const char* flag;
  bool inverted;
};

constexpr BitFlag kMotorTempSensor = {"SCR", 7, "isMotorTemperatureSensor", false};
constexpr BitFlag kDriveTempSensor = {"SCR", 8, "isDriveTemperatureSensor", false};
constexpr BitFlag kCommutation = {"SCR", 13, "CommutationMethod", false};
constexpr BitFlag kBrakeResistor = {"OSR", 9, "isBrakeResistor", false};
constexpr BitFlag kInputsPolarity = {"ASR", 2, "InputsPolarityType", true};
constexpr BitFlag kSoftwareLimits = {"ASR", 12, "isSWLS", false};
constexpr BitFlag kAutoActivated = {"ACR", 1, "IsAutoActivatedAfterPowerOn", false};
constexpr BitFlag kDigitalRefType = {"ACR", 2, "DigitalReferenceType", true};
constexpr BitFlag kLimitMaximum = {"UPGRADE", 2, "isLimitMaximum", false};
constexpr BitFlag kFastLoop = {"UPGRADE", 6, "PosSpd_in_FastLoop", false};
constexpr BitFlag kLspPolarity = {"DIGIN_ACTIVE_LEVEL", 13, "LSPPolarity", false};
constexpr BitFlag kLsnPolarity = {"DIGIN_ACTIVE_LEVEL", 14, "LSNPolarity", false};
constexpr BitFlag kEnablePolarity = {"DIGIN_ACTIVE_LEVEL", 15, "EnablePolarity", false};
constexpr BitFlag kSaveCanBaudrate = {"LSS_Active", 1, "save_CAN_baudrate", true};
constexpr BitFlag kSaveAxisId = {"LSS_Active", 0, "save_axis_id", true};

int DeriveBit(CMC_Setup& setup, const BitFlag& row) {
  CMC_Parameter *word, *flag;
  if (!FindAll(setup, {{row.word, &word}, {row.flag, &flag}})) return 0;
  return WriteDerived(flag, 0.0, 1.0, Bit(Word(word), row.bit) != row.inverted ? 1.0 : 0.0);
}

// The bit of `row` in `word`, set from the flag (set when the flag is 1, or not 1 when inverted).
uint32_t EncodeBit(uint32_t word, const BitFlag& row, const CMC_Parameter* flag) {
  return WithBit(word, row.bit, IsSet(flag) != row.inverted);
}

// ---------------------------------------------------------------------------------------------
// Encoder input filter: the sampling qualification of the encoder inputs. QUAL_ACT bits 16-23
// hold a period divider, QUAL_AQ2 three 2-bit sample counts (01 = 3 samples, 10 = 6 samples).

struct EncoderFilterRow {
  const char* label;
  uint32_t period_field;  // QUAL_ACT bits 16-23
  uint32_t samples;       // QUAL_AQ2 under kSampleMask
};
constexpr EncoderFilterRow kEncoderFilters[] = {
    {"1/3", 0x00, 0x4500},  {"1/6", 0x00, 0x8A00},  {"1/12", 0x01, 0x8A00}, {"1/18", 0x03, 0x4500},
    {"1/24", 0x02, 0x8A00}, {"1/30", 0x05, 0x4500}, {"1/36", 0x03, 0x8A00}, {"1/42", 0x07, 0x4500},
    {"1/48", 0x04, 0x8A00}, {"1/54", 0x09, 0x4500}, {"1/60", 0x05, 0x8A00}, {"1/66", 0x0B, 0x4500},
    {"1/72", 0x06, 0x8A00},
};
constexpr EncoderFilterRow kNoEncoderFilter = {"", 0x00, 0x0000};
constexpr uint32_t kPeriodMask = 0x00FF0000;
constexpr int kPeriodShift = 16;
constexpr uint32_t kSampleMask = 0xCF00;

const EncoderFilterRow& EncoderFilterFor(double choice) {
  if (!std::isfinite(choice)) return kNoEncoderFilter;
  const int64_t index = axis::TruncToInt64(choice);
  if (index < 0 || index >= static_cast<int64_t>(std::size(kEncoderFilters))) {
    return kNoEncoderFilter;
  }
  return kEncoderFilters[index];
}

// ---------------------------------------------------------------------------------------------
// Capability options by control structure.

struct ControlStructure {
  int control_mode;
  int position_control_type;  // -1: any
  const char* closed_position;
  const char* closed_speed;
  const char* closed_current;
};
constexpr ControlStructure kControlStructures[] = {
    {0, 0, "1", "0", "1"},
    {0, 1, "1", "1", "1"},
    {1, -1, "0", "1", "1"},
    {2, -1, "0", "0", "1"},
};

int EncodeStartupReference(CMC_Setup& setup, const char* reg_name) {
  CMC_Parameter *reg, *start, *pwm_freq;
  StartupReferenceLine line;
  if (!FindAll(setup, {{reg_name, &reg}, {"StartCurrent", &start}, {"PWM_freq", &pwm_freq}}) ||
      !StartupReference(setup, V(pwm_freq), line)) {
    return 0;
  }
  reg->SetValueInBaseUnit(line.offset + line.slope_per_percent * V(start));
  return 1;
}

int EncodeAlignmentRegister(CMC_Setup& setup, const char* reg_name) {
  CMC_Parameter *reg, *time, *upgrade;
  if (!FindAll(setup, {{reg_name, &reg}, {"time_AB", &time}, {"UPGRADE", &upgrade}})) return 0;
  // UPGRADE bit 9: the firmware counts the alignment in 10 ms steps, else in 1/65535 s.
  reg->SetValueInBaseUnit(V(time) * (Bit(Word(upgrade), 9) ? 100.0 : 65535.0));
  return 1;
}

int DeriveBrakeDelay(CMC_Setup& setup, const char* time_name, const char* reg_name) {
  CMC_Parameter *time, *reg, *ts;
  if (!FindAll(setup, {{time_name, &time}, {reg_name, &reg}, {"Ts_S", &ts}})) return 0;
  time->SetValueInBaseUnit(V(reg) * V(ts));
  return 1;
}

int EncodeBrakeDelay(CMC_Setup& setup, const char* reg_name, const char* time_name) {
  CMC_Parameter *reg, *time, *ts;
  if (!FindAll(setup, {{reg_name, &reg}, {time_name, &time}, {"Ts_S", &ts}})) return 0;
  reg->SetValueInBaseUnit(V(time) / V(ts));
  return 1;
}

}  // namespace

// ---- Probes.

bool HasAngleController(CMC_Setup& setup) { return ParametersExist(setup, {"KPTHT"}); }
bool HasStartPosition(CMC_Setup& setup) { return ParametersExist(setup, {"START_POS"}); }
bool HasAcquisitionsNo(CMC_Setup& setup) { return ParametersExist(setup, {"AquisitionsNo"}); }
bool HasSamplingRate(CMC_Setup& setup) { return ParametersExist(setup, {"SamplingRate"}); }
bool HasSoftwareLimits(CMC_Setup& setup) { return ParametersExist(setup, {"isSWLS"}); }
bool HasSpeedEstimator(CMC_Setup& setup) { return ParametersExist(setup, {"isSpeedEstimator"}); }
bool HasLssActive(CMC_Setup& setup) {
  return ParametersExist(setup, {"save_CAN_baudrate", "save_axis_id"});
}
bool HasMotorBrake(CMC_Setup& setup) {
  return ParametersExist(setup, {"BRAKECFG", "isMotorBrake"});
}
bool HasFreezeControl(CMC_Setup& setup) {
  return ParametersExist(setup, {"POSOKLIM_FC", "TONPOSOK_FC"});
}
bool HasInputsPolarityType(CMC_Setup& setup) {
  return ParametersExist(setup, {"InputsPolarityType"});
}
bool HasTransmissionSign(CMC_Setup& setup) { return ParametersExist(setup, {"TRANSMISSION"}); }
bool HasBiquadFilters(CMC_Setup& setup) { return ParametersExist(setup, {"IQREF_BQ_INI"}); }
bool HasSpeedTestReferenceType(CMC_Setup& setup) {
  return ParametersExist(setup, {"SpeedTestReferenceType"});
}
bool HasStartupMinimumMove(CMC_Setup& setup) { return ParametersExist(setup, {"ABSTART_MINMOVE"}); }
bool HasSpeedForward(CMC_Setup& setup) { return ParametersExist(setup, {"SpeedForward"}); }
bool HasReverseCounting(CMC_Setup& setup) { return ParametersExist(setup, {"ReverseCounting"}); }
bool HasEncoderInputFilter(CMC_Setup& setup) {
  return ParametersExist(setup, {"isFilterEnc", "FilterEncValue"});
}

// ---- SCR.

int DeriveIsSpeedEstimator(CMC_Setup& setup) {
  CMC_Parameter *scr, *flag;
  if (!FindAll(setup, {{"SCR", &scr}, {"isSpeedEstimator", &flag}})) return 0;
  // The estimator is selected by the 3-bit code 110 in bits 3-5; every other code is off.
  return WriteDerived(flag, 0.0, 1.0, (Word(scr) & 0x38u) == 0x30u ? 1.0 : 0.0);
}
int DeriveIsMotorTemperatureSensor(CMC_Setup& setup) { return DeriveBit(setup, kMotorTempSensor); }
int DeriveIsDriveTemperatureSensor(CMC_Setup& setup) { return DeriveBit(setup, kDriveTempSensor); }
int DeriveCommutationMethod(CMC_Setup& setup) { return DeriveBit(setup, kCommutation); }

int EncodeSCR(CMC_Setup& setup) {
  CMC_Parameter *scr, *commutation, *motor_sensor, *drive_sensor;
  if (!FindAll(setup, {{"SCR", &scr},
                       {"CommutationMethod", &commutation},
                       {"isMotorTemperatureSensor", &motor_sensor},
                       {"isDriveTemperatureSensor", &drive_sensor}})) {
    return 0;
  }
  uint32_t word = Word(scr) & 0x8FFFu;  // bits 12-14 and above 15 are rebuilt / unused
  if (const CMC_Parameter* estimator = FindOptional(setup, "isSpeedEstimator")) {
    word &= ~0x08u;
    word = IsSet(estimator) ? (word | 0x30u) : (word & ~0x38u);
  }
  word = EncodeBit(word, kMotorTempSensor, motor_sensor);
  word = EncodeBit(word, kDriveTempSensor, drive_sensor);
  word = EncodeBit(word, kCommutation, commutation);
  WriteWord(scr, word);
  return 1;
}

// ---- OSR.

int DeriveStartMode(CMC_Setup& setup) {
  CMC_Parameter *osr, *mode, *acr = nullptr;
  const bool halls_option = setup.GetIntOption("PMSMStartwithHalls") == 1;
  if (!FindAll(setup, {{"OSR", &osr}, {"StartMode", &mode}}) ||
      (halls_option && !FindAll(setup, {{"ACR", &acr}}))) {
    return 0;
  }
  const uint32_t word = Word(osr);
  double start_mode = 0.0;
  if (Bit(word, 4)) {
    start_mode = 2.0;
  } else if (Bit(word, 3)) {
    // BLDC and PMSM starts with Hall sensors share the OSR code; ACR bit 15 tells them apart.
    start_mode = halls_option && Bit(Word(acr), 15) ? 3.0 : 1.0;
  }
  return WriteDerived(mode, 0.0, 3.0, start_mode);
}

int DeriveIsBrakeResistor(CMC_Setup& setup) { return DeriveBit(setup, kBrakeResistor); }

int EncodeOSR(CMC_Setup& setup) {
  CMC_Parameter *osr, *resistor, *mode;
  if (!FindAll(setup, {{"OSR", &osr}, {"isBrakeResistor", &resistor}, {"StartMode", &mode}})) {
    return 0;
  }
  const bool resistor_on = IsSet(resistor);
  uint32_t word = Word(osr) & (resistor_on ? 0xFFE3u : 0xFDE3u);
  if (resistor_on) word |= 0x200u;
  switch (Trunc(V(mode))) {
    case 1:
    case 3:
      word |= 0x08u;
      break;
    case 2:
      word |= 0x14u;
      break;
    default:
      word |= 0x04u;
      break;
  }
  WriteWord(osr, word);
  return 1;
}

// ---- ASR.

int DeriveInputsPolarityType(CMC_Setup& setup) { return DeriveBit(setup, kInputsPolarity); }
int DeriveIsSWLS(CMC_Setup& setup) { return DeriveBit(setup, kSoftwareLimits); }

int EncodeASR(CMC_Setup& setup) {
  CMC_Parameter* asr;
  if (!FindAll(setup, {{"ASR", &asr}})) return 0;
  const bool reversible = setup.GetIntOption("hasNegTransmission") == 1;
  CMC_Parameter *motor_tr = nullptr, *load_tr = nullptr;
  if (reversible &&
      !FindAll(setup, {{"Motor_transmission", &motor_tr}, {"Load_transmission", &load_tr}})) {
    return 0;
  }
  uint32_t word = Word16(asr);
  if (const CMC_Parameter* polarity = FindOptional(setup, kInputsPolarity.flag)) {
    word = EncodeBit(word, kInputsPolarity, polarity);
  }
  // Bit 7 tells the firmware that the load moves against the motor.
  word = WithBit(word, 7, reversible && V(motor_tr) / V(load_tr) < 0.0);
  if (const CMC_Parameter* limits = FindOptional(setup, kSoftwareLimits.flag)) {
    word = EncodeBit(word, kSoftwareLimits, limits);
  }
  WriteWord(asr, word);
  return 1;
}

// ---- ACR.

int DeriveIsAutoActivatedAfterPowerOn(CMC_Setup& setup) { return DeriveBit(setup, kAutoActivated); }
int DeriveDigitalReferenceType(CMC_Setup& setup) { return DeriveBit(setup, kDigitalRefType); }

int DeriveIsAnalogueReference(CMC_Setup& setup) {
  CMC_Parameter *acr, *flag;
  if (!FindAll(setup, {{"ACR", &acr}, {"isAnalogueReference", &flag}})) return 0;
  const double maximum = HasAnalogueReference(setup) ? 1.0 : 0.0;
  return WriteDerived(flag, 0.0, maximum, Bit(Word(acr), 6) ? 1.0 : 0.0);
}

int DeriveExternalReference(CMC_Setup& setup) {
  CMC_Parameter *acr, *flag;
  if (!FindAll(setup, {{"ACR", &acr}, {"ExternalReference", &flag}})) return 0;
  const uint32_t word = Word(acr);
  return WriteDerived(flag, 0.0, 1.0, Bit(word, 6) || Bit(word, 7) ? 1.0 : 0.0);
}

int DeriveControlMode(CMC_Setup& setup) {
  CMC_Parameter *acr, *mode;
  if (!FindAll(setup, {{"ACR", &acr}, {"ControlMode", &mode}})) return 0;
  // Bit 10: a closed position loop; else bit 9: a closed speed loop; else current only.
  const uint32_t word = Word(acr);
  const double control_mode = Bit(word, 10) ? 0.0 : Bit(word, 9) ? 1.0 : 2.0;
  return WriteDerived(mode, 0.0, 2.0, control_mode);
}

int EncodeACR(CMC_Setup& setup) {
  CMC_Parameter *acr, *auto_on, *analogue, *digital_type, *pct, *mode, *external;
  if (!FindAll(setup, {{"ACR", &acr},
                       {"isAutoActivatedAfterPowerOn", &auto_on},
                       {"isAnalogueReference", &analogue},
                       {"DigitalReferenceType", &digital_type},
                       {"PositionControlType", &pct},
                       {"ControlMode", &mode},
                       {"ExternalReference", &external}})) {
    return 0;
  }
  CMC_Parameter* freeze = nullptr;
  if (HasFreezeControl(setup) && !FindAll(setup, {{"isFreezeControl", &freeze}})) return 0;
  const bool halls_option = setup.GetIntOption("PMSMStartwithHalls") == 1;
  CMC_Parameter* start_mode = nullptr;
  if (halls_option && !FindAll(setup, {{"StartMode", &start_mode}})) return 0;

  uint32_t word = EncodeBit(Word16(acr), kAutoActivated, auto_on);

  // External reference: bit 6 analogue, bit 7 digital; bit 2 set selects digital type 0.
  if (!IsSet(external)) {
    word &= 0xFF3Fu;
  } else if (IsSet(analogue)) {
    word = (word & 0xFF3Fu) | 0x40u;
  } else {
    word = (word & 0xFF3Bu) | 0x80u;
    if (Trunc(V(digital_type)) == 0) word |= 0x04u;
  }

  // Control structure: bit 8 current loop, bit 9 speed loop, bit 10 position loop. A mode that
  // is not a number names no structure (truncating it would pick position control).
  if (!std::isfinite(V(mode))) return 0;
  switch (Trunc(V(mode))) {
    case 0:
      word = Trunc(V(pct)) == 1 ? (word | 0x700u) : ((word | 0x500u) & ~0x200u);
      break;
    case 1:
      word = (word & 0xF8FFu) | 0x300u;
      break;
    case 2:
      word = (word & 0xF8FFu) | 0x100u;
      break;
    default: {
      return 0;
    }
  }

  const CMC_Parameter* speed_forward = FindOptional(setup, "SpeedForward");
  word = WithBit(word, 14, speed_forward != nullptr && VI(speed_forward) == 1.0);
  if (freeze != nullptr) word = WithBit(word, 4, VI(freeze) == 1.0);
  if (halls_option) word = WithBit(word, 15, VI(start_mode) == 3.0);
  WriteWord(acr, word);
  return 1;
}

// ---- UPGRADE and alignment time.

int DeriveIsLimitMaximum(CMC_Setup& setup) { return DeriveBit(setup, kLimitMaximum); }

int EncodeUPGRADE(CMC_Setup& setup) {
  CMC_Parameter *upgrade, *limit;
  if (!FindAll(setup, {{"UPGRADE", &upgrade}, {"isLimitMaximum", &limit}})) return 0;
  uint32_t word = EncodeBit(Word(upgrade) & 0x7FFFu, kLimitMaximum, limit);
  if (const CMC_Parameter* fast = FindOptional(setup, kFastLoop.flag))
    word = EncodeBit(word, kFastLoop, fast);
  WriteWord(upgrade, word);
  return 1;
}

int Derivetime_AB(CMC_Setup& setup) {
  CMC_Parameter *time, *t1ona, *upgrade;
  if (!FindAll(setup, {{"time_AB", &time}, {"T1ONA", &t1ona}, {"UPGRADE", &upgrade}})) return 0;
  if (Bit(Word(upgrade), 9)) return WriteDerived(time, 0.01, 655.35, V(t1ona) / 100.0);
  return WriteDerived(time, 0.01, 1.0, V(t1ona) / 65535.0);
}

int EncodeT1ONA(CMC_Setup& setup) { return EncodeAlignmentRegister(setup, "T1ONA"); }
int EncodeT1ONB(CMC_Setup& setup) { return EncodeAlignmentRegister(setup, "T1ONB"); }

// ---- DIGIN_ACTIVE_LEVEL.

int DeriveEnablePolarity(CMC_Setup& setup) { return DeriveBit(setup, kEnablePolarity); }
int DeriveLSNPolarity(CMC_Setup& setup) { return DeriveBit(setup, kLsnPolarity); }
int DeriveLSPPolarity(CMC_Setup& setup) { return DeriveBit(setup, kLspPolarity); }

int EncodeDIGIN_ACTIVE_LEVEL(CMC_Setup& setup) {
  CMC_Parameter *word_p, *enable, *lsn, *lsp;
  if (!FindAll(setup, {{"DIGIN_ACTIVE_LEVEL", &word_p},
                       {"EnablePolarity", &enable},
                       {"LSNPolarity", &lsn},
                       {"LSPPolarity", &lsp}})) {
    return 0;
  }
  uint32_t word = EncodeBit(Word16(word_p), kEnablePolarity, enable);
  word = EncodeBit(word, kLsnPolarity, lsn);
  word = EncodeBit(word, kLspPolarity, lsp);
  WriteWord(word_p, word);
  return 1;
}

// ---- LSS_Active.

int Derivesave_CAN_baudrate(CMC_Setup& setup) { return DeriveBit(setup, kSaveCanBaudrate); }
int Derivesave_axis_id(CMC_Setup& setup) { return DeriveBit(setup, kSaveAxisId); }

int EncodeLSS_Active(CMC_Setup& setup) {
  CMC_Parameter *lss, *baudrate, *axis_id;
  if (!FindAll(
          setup,
          {{"LSS_Active", &lss}, {"save_CAN_baudrate", &baudrate}, {"save_axis_id", &axis_id}})) {
    return 0;
  }
  uint32_t word = EncodeBit(0u, kSaveAxisId, axis_id);
  word = EncodeBit(word, kSaveCanBaudrate, baudrate);
  WriteWord(lss, word);
  return 1;
}

// ---- Motor brake.

int DeriveIsMotorBrake(CMC_Setup& setup) {
  CMC_Parameter *cfg, *flag;
  if (!FindAll(setup, {{"BRAKECFG", &cfg}, {"isMotorBrake", &flag}})) return 0;
  if (SetParameterRange(flag, 0.0, 1.0) == 0) return 0;
  flag->SetValueInInternalUnit(Bit(WordInternal(cfg), 0) ? 1.0 : 0.0);
  return 1;
}

int DeriveMotorBrake_output(CMC_Setup& setup) {
  CMC_Parameter *cfg, *output;
  if (!FindAll(setup, {{"BRAKECFG", &cfg}, {"MotorBrake_output", &output}})) return 0;
  const int port = setup.GetIOPortFromPin(static_cast<int>((WordInternal(cfg) >> 8) & 0xFFu));
  if (port < 0) return 0;  // a pin the brake table does not know: keep the user's port
  output->SetValueInInternalUnit(static_cast<double>(port));
  return 1;
}

int DeriveMotorBrake_releasetime(CMC_Setup& setup) {
  return DeriveBrakeDelay(setup, "MotorBrake_releasetime", "BRAKERELEASEDELAY");
}
int DeriveMotorBrake_applytime(CMC_Setup& setup) {
  return DeriveBrakeDelay(setup, "MotorBrake_applytime", "BRAKEAPPLYDELAY");
}

int EncodeBRAKECFG(CMC_Setup& setup) {
  CMC_Parameter *cfg, *flag, *output;
  if (!FindAll(setup,
               {{"BRAKECFG", &cfg}, {"isMotorBrake", &flag}, {"MotorBrake_output", &output}})) {
    return 0;
  }
  if (!std::isfinite(VI(output))) return 0;
  const int pin = setup.GetIOPinFromPort(Trunc(VI(output)));
  // The pin must fit bits 8-15; an unknown port (-1) would make a nonsense word.
  if (pin < 0 || pin > 0xFF) return 0;
  const uint32_t word = (static_cast<uint32_t>(pin) << 8) | (VI(flag) != 0.0 ? 1u : 0u);
  cfg->SetValueInInternalUnit(static_cast<double>(word));
  return 1;
}

int EncodeBRAKEAPPLYDELAY(CMC_Setup& setup) {
  return EncodeBrakeDelay(setup, "BRAKEAPPLYDELAY", "MotorBrake_applytime");
}
int EncodeBRAKERELEASEDELAY(CMC_Setup& setup) {
  return EncodeBrakeDelay(setup, "BRAKERELEASEDELAY", "MotorBrake_releasetime");
}

// ---- Encoder input filter.

int DeriveIsFilterEnc(CMC_Setup& setup) {
  CMC_Parameter *qual, *flag;
  if (!FindAll(setup, {{"QUAL", &qual}, {"isFilterEnc", &flag}})) return 0;
  return WriteDerived(flag, 0.0, 1.0, V(qual) == 1.0 ? 1.0 : 0.0);
}

int EncodeEncoderInputFilter(CMC_Setup& setup) {
  CMC_Parameter *qual, *qual_act, *qual_aq2, *flag, *choice;
  if (!FindAll(setup, {{"QUAL", &qual},
                       {"QUAL_ACT", &qual_act},
                       {"QUAL_AQ2", &qual_aq2},
                       {"isFilterEnc", &flag},
                       {"FilterEncValue", &choice}})) {
    return 0;
  }
  const bool on = IsSet(flag);
  qual->SetValueInBaseUnit(on ? 1.0 : 0.0);
  if (!on) return 1;
  const EncoderFilterRow& row = EncoderFilterFor(V(choice));
  WriteWord(qual_act, (Word(qual_act) & ~kPeriodMask) | (row.period_field << kPeriodShift));
  WriteWord(qual_aq2, (Word16(qual_aq2) & ~kSampleMask) | row.samples);
  return 1;
}

// ---- Other coded registers.

int DeriveMotor_TempSensor_Type(CMC_Setup& setup) {
  CMC_Parameter *type, *reg;
  if (!FindAll(setup, {{"Motor_TempSensor_Type", &type}, {"MTSTYPE", &reg}})) return 0;
  return WriteDerived(type, 0.0, 1.0, static_cast<double>(axis::TruncToInt64(V(reg))));
}

int EncodeMTSTYPE(CMC_Setup& setup) {
  CMC_Parameter *reg, *type;
  if (!FindAll(setup, {{"MTSTYPE", &reg}, {"Motor_TempSensor_Type", &type}})) return 0;
  reg->SetValueInBaseUnit(IsSet(type) ? 1.0 : 0.0);
  return 1;
}

// The axis table register holds the axis ID plus 256 (its "valid" bit); 0 means no ID.
int DeriveAxis_ID_list(CMC_Setup& setup) {
  CMC_Parameter *list, *reg;
  if (!FindAll(setup, {{"Axis_ID_list", &list}, {"AAR_table", &reg}})) return 0;
  return WriteDerived(list, 0.0, 511.0, V(reg) != 0.0 ? V(reg) - 256.0 : 0.0);
}

int EncodeAAR_table(CMC_Setup& setup) {
  CMC_Parameter *reg, *list;
  if (!FindAll(setup, {{"AAR_table", &reg}, {"Axis_ID_list", &list}})) return 0;
  reg->SetValueInBaseUnit(Trunc(V(list)) != 0 ? V(list) + 256.0 : 0.0);
  return 1;
}

int DeriveReverseCounting(CMC_Setup& setup) {
  CMC_Parameter *flag, *reg;
  if (!FindAll(setup, {{"ReverseCounting", &flag}, {"COUNTINGDIR", &reg}})) return 0;
  return WriteDerived(flag, 0.0, 1.0, V(reg) == 1.0 ? 1.0 : 0.0);
}

int EncodeCOUNTINGDIR(CMC_Setup& setup) {
  CMC_Parameter *reg, *flag;
  if (!FindAll(setup, {{"COUNTINGDIR", &reg}, {"ReverseCounting", &flag}})) return 0;
  reg->SetValueInBaseUnit(IsSet(flag) ? 1.0 : 0.0);
  return 1;
}

// ---- Start-up voltage references.

bool StartupReference(CMC_Setup& setup, double pwm_freq_Hz, StartupReferenceLine& line) {
  CMC_Parameter *r, *in, *vdc, *connection, *commutation;
  double dead_band_s;
  if (!FindAll(setup, {{"R", &r},
                       {"In", &in},
                       {"Vdc", &vdc},
                       {"MotorPhaseConnectionType", &connection},
                       {"CommutationMethod", &commutation}}) ||
      !DeadBandTime(setup, FindOptional(setup, "DSP_freq"), dead_band_s)) {
    return false;
  }
  const double k_u = VoltageScaleAt(V(vdc), V(commutation));
  line.slope_per_percent = k_u * V(in) * StarResistance_Ohm(V(r), V(connection)) / 100.0;
  line.offset = k_u * V(vdc) * pwm_freq_Hz * dead_band_s;
  return true;
}

namespace {
// The start current a reference drives, % of "In"; the PWM frequency from the timer registers.
int DeriveStartCurrentInto(CMC_Setup& setup, const char* name) {
  CMC_Parameter *start, *reftst, *dsp_freq, *pwmper;
  StartupReferenceLine line;
  if (!FindAll(
          setup,
          {{name, &start}, {"REFTST", &reftst}, {"DSP_freq", &dsp_freq}, {"PWMPER", &pwmper}}) ||
      !StartupReference(setup, V(dsp_freq) / (2.0 * V(pwmper)), line)) {
    return 0;
  }
  return WriteDerived(start, 0.0, 300.0, (V(reftst) - line.offset) / line.slope_per_percent);
}
}  // namespace

int DeriveStartCurrent(CMC_Setup& setup) { return DeriveStartCurrentInto(setup, "StartCurrent"); }
int DeriveTestStartCurrent(CMC_Setup& setup) {
  return DeriveStartCurrentInto(setup, "TestStartCurrent");
}

int EncodeREFTST(CMC_Setup& setup) { return EncodeStartupReference(setup, "REFTST"); }
int EncodeRINCTST(CMC_Setup& setup) { return EncodeStartupReference(setup, "RINCTST"); }

// ---- Options and rules.

int SetCapabilityOptions(CMC_Setup& setup) {
  // This drive family runs brushless motors with an incremental encoder (with index) on the
  // motor; there is no separate speed sensor and no load-side feedback.
  setup.SetOption("IsStepMotor", "0");
  setup.SetOption("IsStepperOpenLoop", "0");
  setup.SetOption("isPositionFeedbackOnLoad", "0");
  setup.SetOption("isPositionFeedbackOnMotor", "1");
  setup.SetOption("isSpeedFeedback", "0");
  setup.SetOption("isIndex", "1");

  const CMC_Parameter* mode = setup.FindParameter("ControlMode");
  if (mode == nullptr || !std::isfinite(V(mode))) return 0;
  const int control_mode = Trunc(V(mode));
  int position_control_type = -1;
  if (control_mode == 0) {
    const CMC_Parameter* pct = setup.FindParameter("PositionControlType");
    if (pct == nullptr) return 0;
    position_control_type = Trunc(V(pct));
  }
  for (const ControlStructure& row : kControlStructures) {
    if (row.control_mode != control_mode) continue;
    if (row.position_control_type != -1 && row.position_control_type != position_control_type)
      continue;
    setup.SetOption("IsClosedPosition", row.closed_position);
    setup.SetOption("IsClosedSpeed", row.closed_speed);
    setup.SetOption("IsClosedCurrent", row.closed_current);
    return 1;
  }
  { return 0; }
}

int ApplySpeedFeedForwardRule(CMC_Setup& setup) {
  CMC_Parameter* speed_forward = FindOptional(setup, "SpeedForward");
  CMC_Parameter* mode = FindOptional(setup, "ControlMode");
  CMC_Parameter* pct = FindOptional(setup, "PositionControlType");
  CMC_Parameter* acr = FindOptional(setup, "ACR");
  if (speed_forward == nullptr || mode == nullptr || pct == nullptr || acr == nullptr) return 0;
  // In a cascade the speed loop takes the feed-forward itself; otherwise it goes to the current
  // loop.
  if (!(V(mode) == 0.0 && V(pct) == 1.0)) {
    speed_forward->SetValueInInternalUnit(1.0);
    WriteWord(acr, WithBit(Word16(acr), 14, true));
  }
  return 1;
}

}  // namespace kestrel
