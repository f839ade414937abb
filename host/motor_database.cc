#include "host/motor_database.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <new>
#include <utility>

#include "host/dialog_template.h"
#include "host/file_replace.h"
#include "host/json_file.h"
#include "host/name_index.h"
#include "host/text.h"

namespace axis {

namespace {

constexpr const char* kFormatName = "axiscore-motors";
constexpr int64_t kFormatVersion = 1;
constexpr const char* kWhat = "a motor database";  // in messages

constexpr MotorField kFields[] = {
    {"nominalCurrent", "In", "A", false},
    {"peakCurrent", "ImaxM", "A", false},
    {"polePitch", "PolePitch", "m", false},
    {"forceConstant", "Kf", "N/A", false},
    {"phaseResistance", "R", "Ohm", false},
    {"phaseInductance", "L", "H", false},
    {"movingMass", "M", "kg", false},
    {"hallSensors", "isHallsensors", "", true},
    {"encoderResolution", "EncRes", "m", false},
};
static_assert(std::size(kFields) == kMotorFieldCount);

// A value the file may hold for a field: a flag is either; a number must be finite and positive
// (every motor quantity the database carries is).
bool Acceptable(const MotorField& field, double value) {
  if (field.flag) return value == 0.0 || value == 1.0;
  return std::isfinite(value) && value > 0.0;
}

class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  MotorDatabaseLoad Read(std::string_view text) {
    JsonDocument document;
    if (std::string fault = ParseJsonDocument(text, source_, document, kWhat); !fault.empty())
      return {std::nullopt, fault};
    MotorDatabase database;
    if (ReadTop(document.Root(), database)) return {std::move(database), ""};
    return {std::nullopt, error_};
  }

 private:
  bool Fail(const std::string& pointer, const std::string& fault) {
    if (error_.empty()) error_ = source_ + ": " + (pointer.empty() ? "" : pointer + ": ") + fault;
    return false;
  }
  bool Expect(bool ok, const OrderedJson& value, const std::string& pointer, const char* wanted) {
    return ok || Fail(pointer, std::string("expected ") + wanted + ", found " + JsonKindOf(value));
  }

  // An unknown member would be dropped on the next save of the user's database.
  bool OnlyKnown(const OrderedJson& object, const std::string& pointer,
                 const std::vector<std::string_view>& known) {
    for (const auto& [name, value] : object.items()) {
      if (std::find(known.begin(), known.end(), name) == known.end())
        return Fail(pointer + "/" + JsonPointerSegment(name), "unknown member");
    }
    return true;
  }

  bool Text(const OrderedJson& value, const std::string& pointer, std::string& out) {
    if (!Expect(value.is_string(), value, pointer, "a string")) return false;
    const std::string& utf8 = value.get_ref<const std::string&>();
    std::optional<std::string> latin1 = Utf8ToLatin1(utf8);
    if (!latin1)
      return Fail(pointer, "text " + QuotedExcerpt(utf8) + " holds a character outside Latin-1");
    out = std::move(*latin1);
    return true;
  }

  bool ReadTop(const OrderedJson& root, MotorDatabase& database) {
    if (!Expect(root.is_object(), root, "", "an object at the top level")) return false;
    if (!OnlyKnown(root, "", {"format", "version", "name", "motors"})) return false;
    const auto format = root.find("format");
    if (format == root.end()) return Fail("", "missing member \"format\"");
    if (!format->is_string() || format->get_ref<const std::string&>() != kFormatName)
      return Fail("/format", std::string("expected \"") + kFormatName + "\"");
    const auto version = root.find("version");
    if (version == root.end()) return Fail("", "missing member \"version\"");
    if (!version->is_number_integer() || version->get<int64_t>() != kFormatVersion)
      return Fail("/version", "unsupported version " + Excerpt(version->dump()) +
                                  " (this program reads version 1)");
    if (const auto name = root.find("name"); name != root.end()) {
      if (!Text(*name, "/name", database.name)) return false;
    }
    const auto motors = root.find("motors");
    if (motors == root.end()) return Fail("", "missing member \"motors\"");
    if (!Expect(motors->is_array(), *motors, "/motors", "an array")) return false;
    NameIndex names;
    for (size_t i = 0; i < motors->size(); ++i) {
      const std::string at = "/motors/" + std::to_string(i);
      MotorRecord motor;
      if (!ReadMotor((*motors)[i], at, motor)) return false;
      if (!names.Insert(motor.name, static_cast<int>(i)))
        return Fail(at + "/name",
                    QuotedExcerpt(motor.name) + " names a motor twice (case ignored)");
      database.motors.push_back(std::move(motor));
    }
    return true;
  }

  bool ReadMotor(const OrderedJson& entry, const std::string& at, MotorRecord& motor) {
    if (!Expect(entry.is_object(), entry, at, "an object")) return false;
    std::vector<std::string_view> known = {"name"};
    for (const MotorField& field : kFields) known.push_back(field.member);
    if (!OnlyKnown(entry, at, known)) return false;
    const auto name = entry.find("name");
    if (name == entry.end()) return Fail(at, "missing member \"name\"");
    if (!Text(*name, at + "/name", motor.name)) return false;
    if (motor.name.empty()) return Fail(at + "/name", "a motor needs a name");
    for (size_t f = 0; f < kMotorFieldCount; ++f) {
      const MotorField& field = kFields[f];
      const auto member = entry.find(field.member);
      if (member == entry.end()) continue;
      const std::string place = at + "/" + field.member;
      if (field.flag) {
        if (!Expect(member->is_boolean(), *member, place, "true or false")) return false;
        motor.values[f] = member->get<bool>() ? 1.0 : 0.0;
        continue;
      }
      if (!Expect(member->is_number(), *member, place, "a number")) return false;
      const double value = member->get<double>();
      if (!Acceptable(field, value))
        return Fail(place,
                    Excerpt(member->dump()) + " is not a positive number (" + field.unit + ")");
      motor.values[f] = value;
    }
    return true;
  }

  std::string source_;
  std::string error_;
};

}  // namespace

std::span<const MotorField> MotorFields() { return kFields; }

const MotorRecord* MotorDatabase::Find(std::string_view motor_name) const {
  for (const MotorRecord& motor : motors) {
    if (EqualsNoCase(motor.name, motor_name)) return &motor;
  }
  return nullptr;
}

bool MotorDatabase::Put(MotorRecord motor) {
  for (MotorRecord& present : motors) {
    if (!EqualsNoCase(present.name, motor.name)) continue;
    present = std::move(motor);
    return true;
  }
  motors.push_back(std::move(motor));
  return false;
}

bool MotorDatabase::Remove(std::string_view motor_name) {
  return std::erase_if(motors, [&](const MotorRecord& motor) {
           return EqualsNoCase(motor.name, motor_name);
         }) > 0;
}

MotorDatabaseLoad LoadMotorDatabaseText(std::string_view text, const std::string& source_name) {
  try {
    return Reader(source_name).Read(text);
  } catch (const std::bad_alloc&) {
    return {std::nullopt, source_name + ": not enough memory to read it"};
  } catch (const std::exception& ex) {
    // Nothing above is expected to throw otherwise; a library surprise still comes back as a
    // value.
    return {std::nullopt, source_name + ": cannot load: " + ex.what()};
  }
}

MotorDatabaseLoad LoadMotorDatabaseFile(const std::string& path, bool missing_is_empty) {
  std::string text;
  bool missing = false;
  if (std::string fault = ReadJsonFile(path, kWhat, text, &missing); !fault.empty()) {
    if (missing && missing_is_empty) return {MotorDatabase{}, ""};
    return {std::nullopt, std::move(fault)};
  }
  return LoadMotorDatabaseText(text, path);
}

std::string MotorDatabaseToText(const MotorDatabase& database) {
  OrderedJson root = {{"format", kFormatName}, {"version", kFormatVersion}};
  if (!database.name.empty()) root["name"] = Latin1ToUtf8(database.name);
  OrderedJson motors = OrderedJson::array();
  for (const MotorRecord& motor : database.motors) {
    OrderedJson entry = {{"name", Latin1ToUtf8(motor.name)}};
    for (size_t f = 0; f < kMotorFieldCount; ++f) {
      const std::optional<double>& value = motor.values[f];
      // A value the file may not hold is left out rather than written unreadable.
      if (!value || !Acceptable(kFields[f], *value)) continue;
      if (kFields[f].flag) {
        entry[kFields[f].member] = *value == 1.0;
      } else {
        entry[kFields[f].member] = *value;
      }
    }
    motors.push_back(std::move(entry));
  }
  root["motors"] = std::move(motors);
  return root.dump(2) + "\n";
}

std::string SaveMotorDatabaseFile(const MotorDatabase& database, const std::string& path) {
  try {
    const std::string text = MotorDatabaseToText(database);
    // A file the program could not read back is not written.
    if (text.size() > kMaxJsonFileBytes)
      return TooLargeError(path, kWhat) + "; nothing was written";
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
      std::error_code error;
      std::filesystem::create_directories(folder, error);
      if (error) return folder.string() + ": cannot create the folder: " + error.message();
    }
    return ReplaceFileAtomically(path, text);
  } catch (const std::bad_alloc&) {
    return path + ": not enough memory to save it; nothing was written";
  } catch (const std::exception& ex) {
    return path + ": cannot save: " + ex.what();
  }
}

std::string UserMotorDatabasePath() {
  // The XDG base directory rules ignore a relative XDG_CONFIG_HOME.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/')
    return std::string(config) + "/axiscore/motors.json";
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
    return std::string(home) + "/.config/axiscore/motors.json";
  return "";
}

std::vector<std::string> BundledMotorDatabaseFiles() {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(ResourceDirectory() + "/motors", error)) {
    if (entry.path().extension() == ".json" && entry.is_regular_file(error))
      files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

MotorRecord MotorFromSetup(CMC_Setup& setup, std::string name) {
  MotorRecord motor{std::move(name), {}};
  for (size_t f = 0; f < kMotorFieldCount; ++f) {
    const CMC_Parameter* p = setup.FindParameterNoError(kFields[f].parameter);
    if (p == nullptr) continue;
    double value = p->GetValueInBaseUnit();
    if (kFields[f].flag) value = value != 0.0 ? 1.0 : 0.0;
    if (Acceptable(kFields[f], value)) motor.values[f] = value;
  }
  return motor;
}

}  // namespace axis
