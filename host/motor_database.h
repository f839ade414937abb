// Motor databases: catalogues of motors whose data the motor setup dialog copies into a setup
// (docs/motor-database.md).
//
// A database is a JSON file. The bundled ones are the files of <ResourceDirectory()>/motors; the
// user's own is $XDG_CONFIG_HOME/axiscore/motors.json (else ~/.config/axiscore/motors.json), which
// the motor editor writes. Loading never throws: a fault comes back as a message naming the file,
// the place (a JSON pointer, or line:column for a syntax error) and what is wrong. Saving replaces
// the file atomically, so an interrupted save keeps the old database.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/setup.h"

namespace axis {

// One value a motor entry may give, with the setup parameter it goes to. Values are in the
// parameter's base unit; a flag is true/false in the file and 1/0 in the setup.
struct MotorField {
  const char* member;     // name in the file
  const char* parameter;  // setup parameter
  const char* unit;       // base unit, for the documentation and messages
  bool flag;
};

// The fields in the order they are applied to a setup: "PolePitch" comes before "EncRes" because
// the pole pitch bounds the encoder resolution.
std::span<const MotorField> MotorFields();
constexpr size_t kMotorFieldCount = 9;

struct MotorRecord {
  std::string name;  // Latin-1, not empty
  // One slot per MotorFields() row; an empty slot leaves that setup value alone.
  std::array<std::optional<double>, kMotorFieldCount> values;
};

struct MotorDatabase {
  std::string name;  // shown in the "Database" list (Latin-1)
  std::vector<MotorRecord> motors;

  // The motor of that name (case ignored), or null.
  const MotorRecord* Find(std::string_view motor_name) const;
  // Adds the motor, or replaces the one of the same name in its place; true when replaced.
  bool Put(MotorRecord motor);
  // Removes the motor of that name; false when there is none.
  bool Remove(std::string_view motor_name);
};

struct MotorDatabaseLoad {
  std::optional<MotorDatabase> database;  // empty when loading failed
  std::string error;                      // "" when loading succeeded

  explicit operator bool() const { return database.has_value(); }
};

// Reads and checks a database; the error names `source_name` (the file) as given.
MotorDatabaseLoad LoadMotorDatabaseText(std::string_view text, const std::string& source_name);
// Reads a database file. With `missing_is_empty` a file that does not exist is an empty database
// (the user's before the first save); otherwise it is an error.
MotorDatabaseLoad LoadMotorDatabaseFile(const std::string& path, bool missing_is_empty = false);

// The database as file text (UTF-8, 2-space indent).
std::string MotorDatabaseToText(const MotorDatabase& database);
// Writes the database atomically, creating the file's folder when needed; "" or the reason.
std::string SaveMotorDatabaseFile(const MotorDatabase& database, const std::string& path);

// $XDG_CONFIG_HOME/axiscore/motors.json when XDG_CONFIG_HOME is an absolute path, else
// $HOME/.config/axiscore/motors.json; "" when neither variable gives a place.
std::string UserMotorDatabasePath();
// The bundled database files (<ResourceDirectory()>/motors/*.json), sorted by file name.
std::vector<std::string> BundledMotorDatabaseFiles();

// The setup's motor values as an entry named `name`; parameters the setup lacks stay empty.
MotorRecord MotorFromSetup(CMC_Setup& setup, std::string name);

}  // namespace axis
