// Reading setup files: the text parsed as one JSON document, then every member checked against
// the documented format (docs/setup-format.md) while the setup is built.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <unordered_map>
#include <utility>

#include "host/json_file.h"
#include "host/name_index.h"
#include "host/setup_file.h"
#include "host/setup_file_format.h"
#include "host/text.h"

namespace axis {

namespace {

using Json = OrderedJson;
using setup_format::IsDocumented;

// A place in the document as a JSON pointer, spelled out only when a fault is reported: loading
// a setup checks thousands of members, and building each one's pointer text up front would cost
// more than reading it.
class Where {
 public:
  // A full pointer (implicit on purpose: most places are written out already).
  Where(const std::string& pointer) : base_(pointer) {}  // NOLINT(runtime/explicit)
  Where(const char* pointer) : base_(pointer) {}         // NOLINT(runtime/explicit)
  Where(std::string_view pointer, const char* member) : base_(pointer), member_(member) {}
  std::string str() const {
    std::string text(base_);
    if (member_ != nullptr) text.append("/").append(member_);
    return text;
  }

 private:
  std::string_view base_;
  const char* member_ = nullptr;
};

class Loader {
 public:
  Loader(std::string source, const Json& root) : source_(std::move(source)), root_(root) {}

  LoadResult Load() {
    auto setup = std::make_unique<CMC_Setup>();
    if (!root_.is_object()) {
      Fail("", std::string("expected an object at the top level, found ") + JsonKindOf(root_));
    } else if (ReadHeader() && ReadIdentity(*setup) && ReadOptions(*setup) && ReadIoPorts(*setup) &&
               Reserve(*setup) && ReadParameters(*setup) && ReadVariables(*setup)) {
      KeepExtraSections(*setup);
      return LoadResult{std::move(setup), {}};
    }
    return LoadResult{nullptr, error_};
  }

 private:
  bool Fail(const Where& where, const std::string& fault) {
    if (!error_.empty()) return false;
    const std::string pointer = where.str();
    error_ = source_ + ": " + (pointer.empty() ? "" : pointer + ": ") + fault;
    return false;
  }

  // --- members ---

  static const Json::object_t& Members(const Json& object) {
    return object.get_ref<const Json::object_t&>();
  }

  // The member of that name of an object, or null. Objects of the format hold a handful of
  // members (unknown ones are refused first), so a scan is all it takes; the top level is scanned
  // once per documented member.
  static const Json* Member(const Json& object, std::string_view name) {
    for (const auto& [key, value] : Members(object)) {
      if (key == name) return &value;
    }
    return nullptr;
  }

  const Json* Required(const Json& object, const std::string& pointer, const char* name) {
    const Json* member = Member(object, name);
    if (member == nullptr) Fail(pointer, std::string("missing member \"") + name + "\"");
    return member;
  }

  // Refuses a member we do not define: dropping it on the next save would lose data.
  bool OnlyKnownMembers(const Json& object, const std::string& pointer,
                        std::initializer_list<std::string_view> known) {
    for (const auto& [name, value] : Members(object)) {
      bool is_known = false;
      for (std::string_view k : known) is_known = is_known || name == k;
      if (!is_known) return Fail(pointer + "/" + JsonPointerSegment(name), "unknown member");
    }
    return true;
  }

  bool Expect(bool ok, const Json& value, const Where& pointer, const char* wanted) {
    if (ok) return true;
    return Fail(pointer, std::string("expected ") + wanted + ", found " + JsonKindOf(value));
  }

  // --- values ---

  // Text is Latin-1 inside the program (the plug-in interface is 8-bit) and UTF-8 in files.
  bool Latin1(std::string_view utf8, const Where& pointer, std::string& out) {
    // Names and units are plain ASCII nearly always: nothing to convert then.
    bool ascii = true;
    for (char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80 && c != '\0';
    if (ascii) {
      out.assign(utf8);
      return true;
    }
    std::optional<std::string> latin1 = Utf8ToLatin1(utf8);
    if (!latin1)
      return Fail(pointer, "text " + QuotedExcerpt(utf8) + " holds a character outside Latin-1");
    if (latin1->find('\0') != std::string::npos) return Fail(pointer, "text holds a NUL character");
    out = std::move(*latin1);
    return true;
  }

  bool Text(const Json& value, const Where& pointer, std::string& out) {
    if (!Expect(value.is_string(), value, pointer, "a string")) return false;
    return Latin1(value.get_ref<const std::string&>(), pointer, out);
  }

  bool OptionalText(const Json& object, const std::string& pointer, const char* name,
                    std::string& out) {
    const Json* member = Member(object, name);
    return member == nullptr || Text(*member, Where(pointer, name), out);
  }

  bool RequiredText(const Json& object, const std::string& pointer, const char* name,
                    std::string& out) {
    const Json* member = Required(object, pointer, name);
    return member != nullptr && Text(*member, Where(pointer, name), out);
  }

  // A JSON number, or one of the strings standing for the values JSON cannot spell.
  bool Number(const Json& value, const Where& pointer, double& out) {
    if (value.is_number()) {
      out = value.get<double>();
      return true;
    }
    if (value.is_string()) {
      const std::string& text = value.get_ref<const std::string&>();
      if (text == "NaN") {
        out = std::numeric_limits<double>::quiet_NaN();
        return true;
      }
      if (text == "Infinity" || text == "-Infinity") {
        out = text[0] == '-' ? -std::numeric_limits<double>::infinity()
                             : std::numeric_limits<double>::infinity();
        return true;
      }
      return Fail(pointer, QuotedExcerpt(text) +
                               " is not a number (write a JSON number, \"NaN\", \"Infinity\" or "
                               "\"-Infinity\")");
    }
    return Expect(false, value, pointer, "a number");
  }

  bool RequiredNumber(const Json& object, const std::string& pointer, const char* name,
                      double& out) {
    const Json* member = Required(object, pointer, name);
    return member != nullptr && Number(*member, Where(pointer, name), out);
  }

  // An integer written without fraction or exponent, within [low, high]. The JSON library keeps
  // an integer written without a minus sign unsigned, one with a minus sign signed.
  bool Integer(const Json& value, const Where& pointer, int64_t low, int64_t high, int64_t& out) {
    if (!Expect(value.is_number_integer(), value, pointer, "an integer")) return false;
    bool in_range = false;
    if (value.is_number_unsigned()) {
      const auto u = value.get<uint64_t>();
      in_range = high >= 0 && u <= static_cast<uint64_t>(high) && static_cast<int64_t>(u) >= low;
      out = in_range ? static_cast<int64_t>(u) : 0;
    } else {
      const auto i = value.get<int64_t>();
      in_range = i >= low && i <= high;
      out = i;
    }
    if (in_range) return true;
    return Fail(pointer, value.dump() + " is out of range " + std::to_string(low) + " .. " +
                             std::to_string(high));
  }

  bool OptionalInteger(const Json& object, const std::string& pointer, const char* name,
                       int64_t low, int64_t high, int64_t& out) {
    const Json* member = Member(object, name);
    return member == nullptr || Integer(*member, Where(pointer, name), low, high, out);
  }

  bool OptionalBool(const Json& object, const std::string& pointer, const char* name, bool& out) {
    const Json* member = Member(object, name);
    if (member == nullptr) return true;
    if (!Expect(member->is_boolean(), *member, Where(pointer, name), "true or false")) return false;
    out = member->get<bool>();
    return true;
  }

  // Base unit and display unit: checked here so that the fault names the member at fault.
  bool Units(const Json& object, const std::string& pointer, std::string& base,
             std::string& display) {
    if (!RequiredText(object, pointer, "unit", base)) return false;
    if (!OptionalText(object, pointer, "display", display)) return false;
    const CMC_Units& units = CMC_Units::Catalogue();
    const CMC_Unit* base_unit = units.FindUnit(base);
    if (base_unit == nullptr)
      return Fail(pointer + "/unit", "unknown unit " + QuotedExcerpt(Latin1ToUtf8(base)));
    if (!base_unit->IsBase()) {
      return Fail(pointer + "/unit", "unit " + QuotedExcerpt(Latin1ToUtf8(base)) +
                                         " is not a base unit (its base unit is " +
                                         QuotedExcerpt(Latin1ToUtf8(base_unit->GetBaseName())) +
                                         ")");
    }
    if (display.empty()) return true;
    const CMC_Unit* display_unit = units.FindUnit(display);
    if (display_unit == nullptr) {
      return Fail(pointer + "/display", "unknown unit " + QuotedExcerpt(Latin1ToUtf8(display)));
    }
    if (display_unit->GetBaseName() != base_unit->GetName()) {
      return Fail(pointer + "/display", "unit " + QuotedExcerpt(Latin1ToUtf8(display)) +
                                            " does not measure the same as " +
                                            QuotedExcerpt(Latin1ToUtf8(base_unit->GetName())));
    }
    return true;
  }

  // --- sections ---

  bool ReadHeader() {
    const Json* format = Required(root_, "", "format");
    if (format == nullptr || !Expect(format->is_string(), *format, "/format", "a string"))
      return false;
    if (format->get_ref<const std::string&>() != setup_format::kName) {
      return Fail("/format",
                  std::string("not a setup file: expected \"") + setup_format::kName + "\"");
    }
    const Json* version = Required(root_, "", "version");
    if (version == nullptr) return false;
    const bool is_one =
        (version->is_number_unsigned() && version->get<uint64_t>() == setup_format::kVersion) ||
        (version->is_number_integer() && !version->is_number_unsigned() &&
         version->get<int64_t>() == setup_format::kVersion);
    if (!is_one) {
      return Fail("/version", "unsupported version " + Excerpt(version->dump()) +
                                  " (this program reads version 1)");
    }
    return true;
  }

  bool ReadIdentity(CMC_Setup& setup) {
    const Json* identity = Required(root_, "", "identity");
    const std::string at = "/identity";
    if (identity == nullptr || !Expect(identity->is_object(), *identity, at, "an object"))
      return false;
    if (!OnlyKnownMembers(*identity, at,
                          {"description", "productId", "firmwareId", "applicationId", "eepromWords",
                           "adcFullScale"})) {
      return false;
    }
    std::string description, product, firmware, application;
    int64_t eeprom_words = 0, adc_full_scale = 0;
    const Json* adc = nullptr;
    if (!RequiredText(*identity, at, "description", description) ||
        !RequiredText(*identity, at, "productId", product) ||
        !RequiredText(*identity, at, "firmwareId", firmware) ||
        !OptionalText(*identity, at, "applicationId", application) ||
        !OptionalInteger(*identity, at, "eepromWords", 0, INT_MAX, eeprom_words) ||
        (adc = Required(*identity, at, "adcFullScale")) == nullptr ||
        !Integer(*adc, at + "/adcFullScale", 1, UINT32_MAX, adc_full_scale)) {
      return false;
    }
    setup.SetDescription(description);
    setup.SetProductID(product);
    setup.SetFirmwareID(firmware);
    setup.SetUserAppID(application);
    setup.SetE2ROMSize(static_cast<int>(eeprom_words));
    setup.SetAdcFullScale(static_cast<uint32_t>(adc_full_scale));
    return true;
  }

  bool ReadOptions(CMC_Setup& setup) {
    const Json* options = Member(root_, "options");
    if (options == nullptr) return true;
    if (!Expect(options->is_object(), *options, "/options", "an object")) return false;
    for (const auto& [key, value] : Members(*options)) {
      const std::string at = "/options/" + JsonPointerSegment(key);
      std::string name, text;
      if (!Latin1(key, at, name) || !Text(value, at, text)) return false;
      // Options are looked up ignoring case: two spellings of one name would collapse into one.
      if (setup.HasOption(name)) return Fail(at, "option given twice (case ignored)");
      setup.SetOption(name, text);
    }
    return true;
  }

  bool ReadIoPorts(CMC_Setup& setup) {
    const Json* ports = Member(root_, "ioPorts");
    if (ports == nullptr) return true;
    if (!Expect(ports->is_array(), *ports, "/ioPorts", "an array")) return false;
    std::vector<IoPort> table;
    // Where each port and pin number was first listed.
    std::unordered_map<int64_t, size_t> port_entry, pin_entry;
    for (size_t i = 0; i < ports->size(); ++i) {
      const Json& entry = (*ports)[i];
      const std::string at = "/ioPorts/" + std::to_string(i);
      if (!Expect(entry.is_object(), entry, at, "an object") ||
          !OnlyKnownMembers(entry, at, {"port", "pin", "output", "inverted"})) {
        return false;
      }
      const Json* port = Required(entry, at, "port");
      const Json* pin = Required(entry, at, "pin");
      int64_t port_number = 0, pin_number = 0;
      if (port == nullptr || pin == nullptr ||
          !Integer(*port, at + "/port", 0, INT_MAX, port_number) ||
          !Integer(*pin, at + "/pin", 0, INT_MAX, pin_number)) {
        return false;
      }
      // Lookups go both ways and take the first match: a repeated port or pin would be shadowed.
      // The fault names the clash with the earliest entry (its port before its pin).
      const auto [port_at, new_port] = port_entry.emplace(port_number, i);
      const auto [pin_at, new_pin] = pin_entry.emplace(pin_number, i);
      if (!new_port && (new_pin || port_at->second <= pin_at->second))
        return Fail(at + "/port", "port listed twice");
      if (!new_pin) return Fail(at + "/pin", "pin listed twice");
      std::string output = "npn";
      bool inverted = false;
      if (!OptionalText(entry, at, "output", output) ||
          !OptionalBool(entry, at, "inverted", inverted)) {
        return false;
      }
      if (output != "npn" && output != "pnp")
        return Fail(at + "/output",
                    QuotedExcerpt(Latin1ToUtf8(output)) + " is not \"npn\" or \"pnp\"");
      table.push_back({static_cast<int>(port_number), static_cast<int>(pin_number),
                       output == "pnp" ? OutputStage::kSource : OutputStage::kSink, inverted});
    }
    setup.SetIoPorts(std::move(table));
    return true;
  }

  // Room for the parameters and variables of the file at once. Capped: an absurd file listing
  // millions of entries is refused at its first bad one, and must not make the table huge first.
  bool Reserve(CMC_Setup& setup) const {
    static constexpr size_t kMostReserved = 4096;
    const auto count = [&](const char* name) -> size_t {
      const Json* list = Member(root_, name);
      return list == nullptr || !list->is_array() ? 0 : std::min(list->size(), kMostReserved);
    };
    setup.Reserve(count("parameters"), count("variables"));
    return true;
  }

  bool ReadParameters(CMC_Setup& setup) {
    const Json* parameters = Required(root_, "", "parameters");
    if (parameters == nullptr ||
        !Expect(parameters->is_array(), *parameters, "/parameters", "an array")) {
      return false;
    }
    for (size_t i = 0; i < parameters->size(); ++i) {
      const Json& entry = (*parameters)[i];
      const std::string at = "/parameters/" + std::to_string(i);
      if (!Expect(entry.is_object(), entry, at, "an object") ||
          !OnlyKnownMembers(
              entry, at, {"name", "value", "min", "max", "unit", "display", "type", "integer"})) {
        return false;
      }
      ParameterDescription desc;
      int64_t type = kTypePhysical;
      if (!RequiredText(entry, at, "name", desc.name) ||
          !NewName(desc.name, EarlierParameter(setup, desc.name), at, "/parameters/") ||
          !RequiredNumber(entry, at, "value", desc.value) ||
          !RequiredNumber(entry, at, "min", desc.min) ||
          !RequiredNumber(entry, at, "max", desc.max) ||
          !Units(entry, at, desc.base_unit, desc.display_unit) ||
          !OptionalInteger(entry, at, "type", kTypePhysical, kTypeRegisterWord, type) ||
          !OptionalBool(entry, at, "integer", desc.is_integer)) {
        return false;
      }
      desc.type = static_cast<int>(type);
      std::string refused;
      if (setup.AddParameter(desc, &refused) == nullptr) return Fail(at, refused);
    }
    return true;
  }

  bool ReadVariables(CMC_Setup& setup) {
    const Json* variables = Member(root_, "variables");
    if (variables == nullptr) return true;
    if (!Expect(variables->is_array(), *variables, "/variables", "an array")) return false;
    for (size_t i = 0; i < variables->size(); ++i) {
      const Json& entry = (*variables)[i];
      const std::string at = "/variables/" + std::to_string(i);
      if (!Expect(entry.is_object(), entry, at, "an object") ||
          !OnlyKnownMembers(entry, at, {"name", "unit", "display", "kind", "value"})) {
        return false;
      }
      VariableDescription desc;
      const Json* value = Member(entry, "value");
      if (!RequiredText(entry, at, "name", desc.name) ||
          !NewName(desc.name, EarlierVariable(setup, desc.name), at, "/variables/") ||
          !Units(entry, at, desc.base_unit, desc.display_unit) ||
          !OptionalText(entry, at, "kind", desc.kind) ||
          (value != nullptr && !Number(*value, at + "/value", desc.value))) {
        return false;
      }
      std::string refused;
      if (setup.AddVariable(desc, &refused) == nullptr) return Fail(at, refused);
    }
    return true;
  }

  // Names are unique ignoring case; the fault points at the first use.
  bool NewName(const std::string& name, int earlier, const std::string& at, const char* list) {
    if (name.empty()) return Fail(at + "/name", "empty name");
    if (earlier != NameIndex::kNotFound) {
      return Fail(at + "/name", "name " + QuotedExcerpt(Latin1ToUtf8(name)) +
                                    " is already used by " + list + std::to_string(earlier) +
                                    " (case ignored)");
    }
    return true;
  }

  // Where a name (case ignored) was first used among the parameters / variables read so far;
  // every one read so far was added, so the setup's own order is the file's.
  static int EarlierParameter(CMC_Setup& setup, const std::string& name) {
    const CMC_Parameter* found = setup.FindParameterNoError(name);
    const CMC_Parameters& all = setup.GetParameters();
    for (int i = 0; found != nullptr && i < all.GetParametersCount(); ++i) {
      if (all[i] == found) return i;
    }
    return NameIndex::kNotFound;
  }
  static int EarlierVariable(CMC_Setup& setup, const std::string& name) {
    const CMC_Variable* found = setup.FindVariable(name);
    const auto& all = setup.GetVariables();
    for (size_t i = 0; found != nullptr && i < all.size(); ++i) {
      if (all[i].get() == found) return static_cast<int>(i);
    }
    return NameIndex::kNotFound;
  }

  // Every member this program does not interpret is kept as compact JSON text, with the
  // documented member it followed.
  void KeepExtraSections(CMC_Setup& setup) const {
    std::string after;
    for (const auto& [key, value] : Members(root_)) {
      if (IsDocumented(key)) {
        after = key;
        continue;
      }
      setup.ExtraSections().emplace_back(key, value.dump());
      setup.ExtraSectionPlaces().emplace_back(key, after);
    }
  }

  std::string source_;
  const Json& root_;
  std::string error_;
};

}  // namespace

LoadResult LoadSetupText(std::string_view text, const std::string& source_name) {
  try {
    JsonDocument document;
    std::string fault = ParseJsonDocument(text, source_name, document, "a setup file");
    if (!fault.empty()) return LoadResult{nullptr, std::move(fault)};
    return Loader(source_name, document.Root()).Load();
  } catch (const std::bad_alloc&) {
    return LoadResult{nullptr, source_name + ": not enough memory to read it"};
  } catch (const std::exception& ex) {
    // Nothing above is expected to throw otherwise; a library surprise still comes back as a
    // value.
    return LoadResult{nullptr, source_name + ": cannot load: " + ex.what()};
  }
}

LoadResult LoadSetupFile(const std::string& path) {
  std::string text;
  if (std::string fault = ReadJsonFile(path, "a setup file", text); !fault.empty())
    return LoadResult{nullptr, std::move(fault)};
  return LoadSetupText(text, path);
}

}  // namespace axis
