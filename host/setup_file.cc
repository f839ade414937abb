#include "host/setup_file.h"

#include <algorithm>
#include <charconv>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "host/json_file.h"
#include "host/json_tree.h"
#include "host/name_index.h"
#include "host/numeric.h"
#include "host/text.h"

namespace axis {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormatName = "axiscore-setup";
constexpr int64_t kFormatVersion = 1;
// Deeper documents are refused: writing them back recurses once per level.
constexpr size_t kMaxDepth = 256;
// Doubles up to this magnitude that hold a whole number are written without a fraction.
constexpr double kLargestExactInteger = 9007199254740992.0;  // 2^53

// The documented top-level members, in the order they are written.
constexpr const char* kTopLevelMembers[] = {"format",  "version",    "identity", "options",
                                            "ioPorts", "parameters", "variables"};

std::string ErrnoText(int error) { return std::strerror(error); }

bool IsDocumented(std::string_view name) {
  for (const char* member : kTopLevelMembers) {
    if (name == member) return true;
  }
  return false;
}

// "/" and "~" inside a member name are escaped in a JSON pointer.
std::string PointerSegment(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Parsing: a SAX handler that builds the document and refuses what nlohmann's own parser would
// accept silently: a member given twice (the first value would be lost) and absurd nesting.

class DocumentBuilder {
 public:
  explicit DocumentBuilder(std::string_view text) : text_(text) {}

  bool null() { return Put(Json(nullptr)); }
  bool boolean(bool value) { return Put(Json(value)); }
  bool number_integer(Json::number_integer_t value) { return Put(Json(value)); }
  bool number_unsigned(Json::number_unsigned_t value) { return Put(Json(value)); }
  bool number_float(Json::number_float_t value, const Json::string_t& /*text*/) {
    return Put(Json(value));
  }
  bool string(Json::string_t& value) { return Put(Json(std::move(value))); }
  bool binary(Json::binary_t& value) { return Put(Json::binary(std::move(value))); }
  bool start_object(std::size_t /*size*/) { return Open(Json::object()); }
  bool start_array(std::size_t /*size*/) { return Open(Json::array()); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }

  bool key(Json::string_t& name) {
    Frame& frame = frames_.back();
    if (!frame.FirstTime(name)) {
      fault_ = " " + Path() + "/" + PointerSegment(name) + ": member given twice";
      return false;
    }
    frame.key = std::move(name);
    return true;
  }

  bool parse_error(std::size_t position, const std::string& /*token*/, const Json::exception& ex) {
    fault_ = LineColumn(position) + ": malformed JSON: " + Reason(ex.what());
    return false;
  }

  Json& Root() { return root_; }
  // What went wrong, to follow "<source>:": " <pointer>: <fault>" or "<line>:<column>: <fault>".
  const std::string& Fault() const { return fault_; }

 private:
  struct Frame {
    Json* container;
    std::string key;  // the member being read, in an object
    // Members seen so far, kept only once an object is large: the setup's own objects are small,
    // and scanning them is much cheaper than hashing every member name.
    std::unordered_set<std::string> keys;

    bool FirstTime(const std::string& name) {
      static constexpr size_t kScanLimit = 32;
      const auto& members = container->get_ref<const Json::object_t&>();
      if (members.size() < kScanLimit) {
        for (const auto& member : members) {
          if (member.first == name) return false;
        }
        return true;
      }
      if (keys.empty()) {
        for (const auto& member : members) keys.insert(member.first);
      }
      return keys.insert(name).second;
    }
  };

  bool Put(Json value) {
    if (frames_.empty()) {
      root_ = std::move(value);
      return true;
    }
    Frame& frame = frames_.back();
    if (frame.container->is_array()) {
      frame.container->get_ref<Json::array_t&>().push_back(std::move(value));
    } else {
      // ordered_map::emplace searches linearly; the builder has already refused duplicates, so
      // append to the underlying vector and keep loading linear in the size of the object.
      auto& members = frame.container->get_ref<Json::object_t&>();
      using Members = std::vector<Json::object_t::value_type>;
      static_cast<Members&>(members).emplace_back(frame.key, std::move(value));
    }
    return true;
  }

  Json* LastPut() {
    if (frames_.empty()) return &root_;
    Json& container = *frames_.back().container;
    if (container.is_array()) return &container.get_ref<Json::array_t&>().back();
    return &container.get_ref<Json::object_t&>().back().second;
  }

  bool Open(Json empty) {
    if (frames_.size() >= kMaxDepth) {
      fault_ = " " + Path(true) + ": nested deeper than " + std::to_string(kMaxDepth) + " levels";
      return false;
    }
    const bool object = empty.is_object();
    Put(std::move(empty));
    Json* opened = LastPut();
    // Room for a parameter's members at once, instead of growing 1, 2, 4, 8.
    if (object)
      static_cast<std::vector<Json::object_t::value_type>&>(opened->get_ref<Json::object_t&>())
          .reserve(8);
    frames_.push_back(Frame{opened, {}, {}});
    return true;
  }

  bool Close() {
    frames_.pop_back();
    return true;
  }

  // The JSON pointer of the innermost open container, or with `next` of the child about to be
  // put into it.
  std::string Path(bool next = false) const {
    std::string path;
    for (size_t i = 0; i < frames_.size(); ++i) {
      const Frame& frame = frames_[i];
      const bool last = i + 1 == frames_.size();
      if (last && !next) break;
      if (frame.container->is_array()) {
        // Children already put are counted; the one being read is the last of them.
        const size_t count = frame.container->size();
        path += "/" + std::to_string(last ? count : count - 1);
      } else {
        path += "/" + PointerSegment(frame.key);
      }
    }
    return path;
  }

  // Lines and columns count from 1; a column counts bytes.
  std::string LineColumn(size_t position) const {
    const size_t end = std::min(position, text_.size());
    size_t line = 1;
    size_t line_start = 0;
    for (size_t i = 0; i < end; ++i) {
      if (text_[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    return std::to_string(line) + ":" + std::to_string(end - line_start);
  }

  // nlohmann's message without its "[json.exception...]" tag and its own position.
  static std::string Reason(std::string_view what) {
    if (const size_t tag = what.find("] "); what.starts_with("[") && tag != what.npos) {
      what.remove_prefix(tag + 2);
    }
    if (what.starts_with("parse error")) {
      if (const size_t colon = what.find(": "); colon != what.npos) what.remove_prefix(colon + 2);
    }
    return std::string(what);
  }

  std::string_view text_;
  Json root_;
  std::vector<Frame> frames_;
  std::string fault_;
};

// ---------------------------------------------------------------------------------------------
// Loading: checks every member against the documented format and builds the setup.

using Node = JsonTree::Node;
using Kind = JsonTree::Kind;

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kFloat:
      return "a number with a fraction or exponent";
    case Kind::kNull:
      return "null";
    case Kind::kObject:
      return "an object";
    case Kind::kArray:
      return "an array";
    case Kind::kString:
      return "a string";
    case Kind::kBoolean:
      return "true or false";
    case Kind::kInteger:
    case Kind::kUnsigned:
      return "an integer";
  }
  return "an unsupported value";
}

const char* KindOf(const Node& value) { return KindName(value.kind); }

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
  Loader(std::string source, const JsonTree& tree) : source_(std::move(source)), tree_(tree) {}

  LoadResult Load() {
    const Node& root = tree_.Root();
    auto setup = std::make_unique<CMC_Setup>();
    if (root.kind != Kind::kObject) {
      Fail("", std::string("expected an object at the top level, found ") + KindOf(root));
    } else if (ReadHeader(root) && ReadIdentity(root, *setup) && ReadOptions(root, *setup) &&
               ReadIoPorts(root, *setup) && Reserve(root, *setup) && ReadParameters(root, *setup) &&
               ReadVariables(root, *setup)) {
      KeepExtraSections(root, *setup);
      return LoadResult{std::move(setup), {}};
    }
    return LoadResult{nullptr, error_};
  }

  bool Fail(const Where& where, const std::string& fault) {
    if (!error_.empty()) return false;
    const std::string pointer = where.str();
    error_ = source_ + ": " + (pointer.empty() ? "" : pointer + ": ") + fault;
    return false;
  }

 private:
  // --- members ---

  const Node* Member(const Node& object, std::string_view name) const {
    return tree_.Member(object, name);
  }

  const Node* Required(const Node& object, const std::string& pointer, const char* name) {
    const Node* member = Member(object, name);
    if (member == nullptr) Fail(pointer, std::string("missing member \"") + name + "\"");
    return member;
  }

  // Refuses a member we do not define: dropping it on the next save would lose data.
  bool OnlyKnownMembers(const Node& object, const std::string& pointer,
                        std::initializer_list<std::string_view> known) {
    for (uint32_t i = 0; i < object.size; ++i) {
      const std::string_view name = tree_.Child(object, i).key;
      bool is_known = false;
      for (std::string_view k : known) is_known = is_known || name == k;
      if (!is_known) return Fail(pointer + "/" + PointerSegment(name), "unknown member");
    }
    return true;
  }

  bool Expect(bool ok, const Node& value, const Where& pointer, const char* wanted) {
    if (ok) return true;
    return Fail(pointer, std::string("expected ") + wanted + ", found " + KindOf(value));
  }

  // --- values ---

  // Text is Latin-1 inside the program (the plug-in interface is 8-bit) and UTF-8 in files.
  bool Text(std::string_view utf8, const Where& pointer, std::string& out) {
    // Names and units are plain ASCII nearly always: nothing to convert then.
    bool ascii = true;
    for (char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80 && c != '\0';
    if (ascii) {
      out.assign(utf8);
      return true;
    }
    std::optional<std::string> latin1 = Utf8ToLatin1(utf8);
    if (!latin1)
      return Fail(pointer, "text " + Quoted(utf8) + " holds a character outside Latin-1");
    if (latin1->find('\0') != std::string::npos) return Fail(pointer, "text holds a NUL character");
    out = std::move(*latin1);
    return true;
  }

  bool Text(const Node& value, const Where& pointer, std::string& out) {
    if (!Expect(value.kind == Kind::kString, value, pointer, "a string")) return false;
    return Text(value.text, pointer, out);
  }

  bool OptionalText(const Node& object, const std::string& pointer, const char* name,
                    std::string& out) {
    const Node* member = Member(object, name);
    return member == nullptr || Text(*member, Where(pointer, name), out);
  }

  bool RequiredText(const Node& object, const std::string& pointer, const char* name,
                    std::string& out) {
    const Node* member = Required(object, pointer, name);
    return member != nullptr && Text(*member, Where(pointer, name), out);
  }

  // A JSON number, or one of the strings standing for the values JSON cannot spell.
  bool Number(const Node& value, const Where& pointer, double& out) {
    if (value.IsNumber()) {
      out = value.number;
      return true;
    }
    if (value.kind == Kind::kString) {
      const std::string_view text = value.text;
      if (text == "NaN") {
        out = std::numeric_limits<double>::quiet_NaN();
        return true;
      }
      if (text == "Infinity" || text == "-Infinity") {
        out = text[0] == '-' ? -std::numeric_limits<double>::infinity()
                             : std::numeric_limits<double>::infinity();
        return true;
      }
      return Fail(pointer, Quoted(text) +
                               " is not a number (write a JSON number, \"NaN\", \"Infinity\" or "
                               "\"-Infinity\")");
    }
    return Expect(false, value, pointer, "a number");
  }

  bool RequiredNumber(const Node& object, const std::string& pointer, const char* name,
                      double& out) {
    const Node* member = Required(object, pointer, name);
    return member != nullptr && Number(*member, Where(pointer, name), out);
  }

  // An integer written without fraction or exponent, within [low, high].
  bool Integer(const Node& value, const Where& pointer, int64_t low, int64_t high, int64_t& out) {
    if (!Expect(value.IsWholeNumber(), value, pointer, "an integer")) return false;
    bool in_range = false;
    if (value.kind == Kind::kUnsigned) {
      const uint64_t u = value.unsigned_;
      in_range = high >= 0 && u <= static_cast<uint64_t>(high) && static_cast<int64_t>(u) >= low;
      out = in_range ? static_cast<int64_t>(u) : 0;
    } else {
      const int64_t i = value.integer;
      in_range = i >= low && i <= high;
      out = i;
    }
    if (in_range) return true;
    const std::string shown = value.kind == Kind::kUnsigned ? std::to_string(value.unsigned_)
                                                            : std::to_string(value.integer);
    return Fail(pointer,
                shown + " is out of range " + std::to_string(low) + " .. " + std::to_string(high));
  }

  bool OptionalInteger(const Node& object, const std::string& pointer, const char* name,
                       int64_t low, int64_t high, int64_t& out) {
    const Node* member = Member(object, name);
    return member == nullptr || Integer(*member, Where(pointer, name), low, high, out);
  }

  bool OptionalBool(const Node& object, const std::string& pointer, const char* name, bool& out) {
    const Node* member = Member(object, name);
    if (member == nullptr) return true;
    if (!Expect(member->kind == Kind::kBoolean, *member, Where(pointer, name), "true or false"))
      return false;
    out = member->boolean;
    return true;
  }

  // Base unit and display unit: checked here so that the fault names the member at fault.
  bool Units(const Node& object, const std::string& pointer, std::string& base,
             std::string& display) {
    if (!RequiredText(object, pointer, "unit", base)) return false;
    if (!OptionalText(object, pointer, "display", display)) return false;
    const CMC_Units& units = CMC_Units::Catalogue();
    const CMC_Unit* base_unit = units.FindUnit(base);
    if (base_unit == nullptr)
      return Fail(pointer + "/unit", "unknown unit " + Quoted(Latin1ToUtf8(base)));
    if (!base_unit->IsBase()) {
      return Fail(pointer + "/unit", "unit " + Quoted(Latin1ToUtf8(base)) +
                                         " is not a base unit (its base unit is " +
                                         Quoted(Latin1ToUtf8(base_unit->GetBaseName())) + ")");
    }
    if (display.empty()) return true;
    const CMC_Unit* display_unit = units.FindUnit(display);
    if (display_unit == nullptr) {
      return Fail(pointer + "/display", "unknown unit " + Quoted(Latin1ToUtf8(display)));
    }
    if (display_unit->GetBaseName() != base_unit->GetName()) {
      return Fail(pointer + "/display", "unit " + Quoted(Latin1ToUtf8(display)) +
                                            " does not measure the same as " +
                                            Quoted(Latin1ToUtf8(base_unit->GetName())));
    }
    return true;
  }

  // --- sections ---

  bool ReadHeader(const Node& root) {
    const Node* format = Required(root, "", "format");
    if (format == nullptr || !Expect(format->kind == Kind::kString, *format, "/format", "a string"))
      return false;
    if (format->text != kFormatName) {
      return Fail("/format", std::string("not a setup file: expected \"") + kFormatName + "\"");
    }
    const Node* version = Required(root, "", "version");
    if (version == nullptr) return false;
    const bool is_one =
        (version->kind == Kind::kUnsigned && version->unsigned_ == kFormatVersion) ||
        (version->kind == Kind::kInteger && version->integer == kFormatVersion);
    if (!is_one) {
      return Fail("/version", "unsupported version " + tree_.ToJson(*version).dump() +
                                  " (this program reads version 1)");
    }
    return true;
  }

  bool ReadIdentity(const Node& root, CMC_Setup& setup) {
    const Node* identity = Required(root, "", "identity");
    const std::string at = "/identity";
    if (identity == nullptr || !Expect(identity->kind == Kind::kObject, *identity, at, "an object"))
      return false;
    if (!OnlyKnownMembers(*identity, at,
                          {"description", "productId", "firmwareId", "applicationId", "eepromWords",
                           "adcFullScale"})) {
      return false;
    }
    std::string description, product, firmware, application;
    int64_t eeprom_words = 0, adc_full_scale = 0;
    const Node* adc = nullptr;
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

  bool ReadOptions(const Node& root, CMC_Setup& setup) {
    const Node* options = Member(root, "options");
    if (options == nullptr) return true;
    if (!Expect(options->kind == Kind::kObject, *options, "/options", "an object")) return false;
    // Options are looked up ignoring case: two spellings of one name would collapse into one.
    NameIndex seen;
    for (uint32_t i = 0; i < options->size; ++i) {
      const Node& value = tree_.Child(*options, i);
      const std::string at = "/options/" + PointerSegment(value.key);
      std::string name, text;
      if (!Text(value.key, at, name) || !Text(value, at, text)) return false;
      if (!seen.Insert(name, static_cast<int>(i))) {
        return Fail(at, "option given twice (case ignored)");
      }
      setup.SetOption(name, text);
    }
    return true;
  }

  bool ReadIoPorts(const Node& root, CMC_Setup& setup) {
    const Node* ports = Member(root, "ioPorts");
    if (ports == nullptr) return true;
    if (!Expect(ports->kind == Kind::kArray, *ports, "/ioPorts", "an array")) return false;
    std::vector<IoPort> table;
    for (uint32_t i = 0; i < ports->size; ++i) {
      const Node& entry = tree_.Child(*ports, i);
      const std::string at = "/ioPorts/" + std::to_string(i);
      if (!Expect(entry.kind == Kind::kObject, entry, at, "an object") ||
          !OnlyKnownMembers(entry, at, {"port", "pin", "output", "inverted"})) {
        return false;
      }
      const Node* port = Required(entry, at, "port");
      const Node* pin = Required(entry, at, "pin");
      int64_t port_number = 0, pin_number = 0;
      if (port == nullptr || pin == nullptr ||
          !Integer(*port, at + "/port", 0, INT_MAX, port_number) ||
          !Integer(*pin, at + "/pin", 0, INT_MAX, pin_number)) {
        return false;
      }
      // Lookups go both ways and take the first match: a repeated port or pin would be shadowed.
      for (const IoPort& earlier : table) {
        if (earlier.port == port_number) return Fail(at + "/port", "port listed twice");
        if (earlier.pin == pin_number) return Fail(at + "/pin", "pin listed twice");
      }
      std::string output = "npn";
      bool inverted = false;
      if (!OptionalText(entry, at, "output", output) ||
          !OptionalBool(entry, at, "inverted", inverted)) {
        return false;
      }
      if (output != "npn" && output != "pnp")
        return Fail(at + "/output", Quoted(output) + " is not \"npn\" or \"pnp\"");
      table.push_back({static_cast<int>(port_number), static_cast<int>(pin_number),
                       output == "pnp" ? OutputStage::kSource : OutputStage::kSink, inverted});
    }
    setup.SetIoPorts(std::move(table));
    return true;
  }

  // Room for the parameters and variables of the file at once. Capped: an absurd file listing
  // millions of entries is refused at its first bad one, and must not make the table huge first.
  bool Reserve(const Node& root, CMC_Setup& setup) const {
    static constexpr uint32_t kMostReserved = 4096;
    const auto count = [&](const char* name) -> size_t {
      const Node* list = tree_.Member(root, name);
      return list == nullptr || list->kind != Kind::kArray ? 0
                                                           : std::min(list->size, kMostReserved);
    };
    setup.Reserve(count("parameters"), count("variables"));
    return true;
  }

  bool ReadParameters(const Node& root, CMC_Setup& setup) {
    const Node* parameters = Required(root, "", "parameters");
    if (parameters == nullptr ||
        !Expect(parameters->kind == Kind::kArray, *parameters, "/parameters", "an array")) {
      return false;
    }
    for (uint32_t i = 0; i < parameters->size; ++i) {
      const Node& entry = tree_.Child(*parameters, i);
      const std::string at = "/parameters/" + std::to_string(i);
      if (!Expect(entry.kind == Kind::kObject, entry, at, "an object") ||
          !OnlyKnownMembers(
              entry, at, {"name", "value", "min", "max", "unit", "display", "type", "integer"})) {
        return false;
      }
      ParameterSpec desc;
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

  bool ReadVariables(const Node& root, CMC_Setup& setup) {
    const Node* variables = Member(root, "variables");
    if (variables == nullptr) return true;
    if (!Expect(variables->kind == Kind::kArray, *variables, "/variables", "an array"))
      return false;
    for (uint32_t i = 0; i < variables->size; ++i) {
      const Node& entry = tree_.Child(*variables, i);
      const std::string at = "/variables/" + std::to_string(i);
      if (!Expect(entry.kind == Kind::kObject, entry, at, "an object") ||
          !OnlyKnownMembers(entry, at, {"name", "unit", "display", "kind", "value"})) {
        return false;
      }
      VariableSpec desc;
      const Node* value = Member(entry, "value");
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
      return Fail(at + "/name", "name " + Quoted(Latin1ToUtf8(name)) + " is already used by " +
                                    list + std::to_string(earlier) + " (case ignored)");
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

  // Every member this program does not interpret is kept, with the documented member it followed.
  void KeepExtraSections(const Node& root, CMC_Setup& setup) const {
    std::string after;
    for (uint32_t i = 0; i < root.size; ++i) {
      const Node& value = tree_.Child(root, i);
      if (IsDocumented(value.key)) {
        after = value.key;
        continue;
      }
      setup.ExtraSections().emplace_back(std::string(value.key), tree_.Dump(value));
      setup.ExtraSectionPlaces().emplace_back(std::string(value.key), after);
    }
  }

  std::string source_;
  const JsonTree& tree_;
  std::string error_;
};

// ---------------------------------------------------------------------------------------------
// Saving.

Json NumberToJson(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  // Whole numbers read better without ".0"; -0.0 keeps its sign only as a double.
  if (value == std::trunc(value) && std::fabs(value) <= kLargestExactInteger &&
      !(value == 0.0 && std::signbit(value))) {
    return Json(TruncToInt64(value));
  }
  return Json(value);
}

// An extra section's text as JSON; nullopt when the stored text is not JSON.
std::optional<Json> ExtraSectionJson(const std::string& text) {
  DocumentBuilder builder(text);
  if (!Json::sax_parse(text, &builder)) return std::nullopt;
  return std::move(builder.Root());
}

Json DocumentedMember(const CMC_Setup& setup, std::string_view member) {
  if (member == "format") return kFormatName;
  if (member == "version") return kFormatVersion;
  if (member == "identity") {
    Json identity = Json::object();
    identity["description"] = Latin1ToUtf8(setup.GetDescription());
    identity["productId"] = Latin1ToUtf8(setup.GetProductID());
    identity["firmwareId"] = Latin1ToUtf8(setup.GetFirmwareID());
    identity["applicationId"] = Latin1ToUtf8(setup.GetUserAppID());
    identity["eepromWords"] = setup.GetE2ROMSize();
    identity["adcFullScale"] = setup.GetAdcFullScale();
    return identity;
  }
  if (member == "options") {
    Json options = Json::object();
    for (const auto& [name, text] : setup.GetOptions())
      options[Latin1ToUtf8(name)] = Latin1ToUtf8(text);
    return options;
  }
  if (member == "ioPorts") {
    Json ports = Json::array();
    for (const IoPort& entry : setup.GetIoPorts()) {
      Json port = {{"port", entry.port}, {"pin", entry.pin}};
      // The defaults (an NPN output, not inverted) are left out.
      if (entry.stage == OutputStage::kSource) port["output"] = "pnp";
      if (entry.inverted) port["inverted"] = true;
      ports.push_back(std::move(port));
    }
    return ports;
  }
  return nullptr;  // parameters and variables are written directly (AppendDocumented)
}

// The place an extra section was read from; nullopt when it has none among the documented ones.
std::optional<std::string> PlaceOf(const CMC_Setup& setup, const std::string& section) {
  for (const auto& [name, after] : setup.ExtraSectionPlaces()) {
    if (name != section) continue;
    if (after.empty() || IsDocumented(after)) return after;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Writing the document.
//
// Parameters and variables are written one per line: a setup holds hundreds of them, a line each
// keeps files readable and diffs small, and writing them directly keeps saving fast. The other
// members are small and go through the JSON library.

// A string in the file's escaping: the quote and the backslash escaped, control characters as
// \u00xx; the rest copied in runs.
void AppendString(std::string& out, std::string_view utf8) {
  out.push_back('"');
  size_t run = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && c != '"' && c != '\\') continue;
    out.append(utf8.substr(run, i - run));
    run = i + 1;
    if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out.push_back('\\');
      out.push_back(c);
    }
  }
  out.append(utf8.substr(run));
  out.push_back('"');
}

// A Latin-1 text (names, units) as a file string: plain ASCII needs no conversion.
void AppendLatin1(std::string& out, std::string_view latin1) {
  for (char c : latin1) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      AppendString(out, Latin1ToUtf8(latin1));
      return;
    }
  }
  AppendString(out, latin1);
}

// Same text as NumberToJson dumped: whole numbers without a fraction, otherwise the shortest form
// that reads back to the same double; "NaN", "Infinity", "-Infinity" as strings.
void AppendNumber(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "\"NaN\"";
  } else if (std::isinf(value)) {
    out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  } else if (value == 0.0 && std::signbit(value)) {
    out += "-0.0";
  } else if (value == std::trunc(value) && std::fabs(value) <= kLargestExactInteger) {
    out += std::to_string(TruncToInt64(value));
  } else {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    out.append(text, result.ptr);
  }
}

void AppendMember(std::string& out, const char* key, bool first = false) {
  if (!first) out += ", ";
  AppendString(out, key);
  out += ": ";
}

void AppendParameter(std::string& out, const CMC_Parameter& p) {
  out.push_back('{');
  AppendMember(out, "name", true);
  AppendLatin1(out, p.GetName());
  AppendMember(out, "value");
  AppendNumber(out, p.GetValueInBaseUnit());
  AppendMember(out, "min");
  AppendNumber(out, p.GetMinInBaseUnit());
  AppendMember(out, "max");
  AppendNumber(out, p.GetMaxInBaseUnit());
  AppendMember(out, "unit");
  AppendLatin1(out, p.GetBaseUnitName());
  AppendMember(out, "display");
  AppendLatin1(out, p.GetUnitName());
  AppendMember(out, "type");
  out += std::to_string(p.GetType());
  AppendMember(out, "integer");
  out += p.IsInteger() ? "true" : "false";
  out.push_back('}');
}

void AppendVariable(std::string& out, const CMC_Variable& v) {
  out.push_back('{');
  AppendMember(out, "name", true);
  AppendLatin1(out, v.GetName());
  AppendMember(out, "unit");
  AppendLatin1(out, v.GetBaseUnitName());
  AppendMember(out, "display");
  AppendLatin1(out, v.GetUnitName());
  AppendMember(out, "kind");
  AppendLatin1(out, v.GetKind());
  AppendMember(out, "value");
  AppendNumber(out, v.GetValueInBaseUnit());
  out.push_back('}');
}

// A list member, one entry per line at the document's second level.
template <typename Items, typename Append>
void AppendList(std::string& out, const Items& items, int count, Append append) {
  if (count == 0) {
    out += "[]";
    return;
  }
  out += "[\n";
  for (int i = 0; i < count; ++i) {
    out += "    ";
    append(out, items(i));
    out += i + 1 < count ? ",\n" : "\n";
  }
  out += "  ]";
}

// A value's indented text, shifted to sit at the document's second level.
void AppendIndented(std::string& out, std::string_view text) {
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    out.append(text.substr(run, i + 1 - run)).append("  ");
    run = i + 1;
  }
  out.append(text.substr(run));
}

// A value dumped by the JSON library, indented to sit at the document's second level.
void AppendNested(std::string& out, const Json& value) {
  AppendIndented(out, value.dump(2, ' ', false, Json::error_handler_t::replace));
}

void AppendDocumented(std::string& out, const CMC_Setup& setup, std::string_view member) {
  if (member == "parameters") {
    const CMC_Parameters& parameters = setup.GetParameters();
    AppendList(
        out, [&](int i) -> const CMC_Parameter& { return *parameters[i]; },
        parameters.GetParametersCount(), AppendParameter);
  } else if (member == "variables") {
    const auto& variables = setup.GetVariables();
    AppendList(
        out, [&](int i) -> const CMC_Variable& { return *variables[static_cast<size_t>(i)]; },
        static_cast<int>(variables.size()), AppendVariable);
  } else {
    AppendNested(out, DocumentedMember(setup, member));
  }
}

// The whole document; `bad_section` receives the first extra section whose text is not JSON
// (written as a JSON string instead).
std::string DocumentText(const CMC_Setup& setup, std::string* bad_section) {
  std::string out;
  // About 130 bytes a parameter or variable, a few kilobytes for the rest.
  out.reserve(4096 + 130 * static_cast<size_t>(setup.GetParameters().GetParametersCount()) +
              130 * setup.GetVariables().size());
  out += "{\n";
  bool first = true;
  auto begin_member = [&](const std::string& name) {
    out += first ? "  " : ",\n  ";
    first = false;
    AppendString(out, name);
    out += ": ";
  };
  JsonTree tree;
  auto put_extras = [&](const std::optional<std::string>& place) {
    for (const auto& [name, text] : setup.ExtraSections()) {
      if (IsDocumented(name) || PlaceOf(setup, name) != place) continue;
      if (tree.Parse(text)) {  // the common case, without the JSON library's document
        begin_member(name);
        AppendIndented(out, tree.Dump(tree.Root(), 2));
        continue;
      }
      std::optional<Json> value = ExtraSectionJson(text);
      if (!value && bad_section != nullptr && bad_section->empty()) *bad_section = name;
      begin_member(name);
      AppendNested(out, value ? std::move(*value) : Json(text));
    }
  };
  put_extras(std::string());
  for (const char* member : kTopLevelMembers) {
    begin_member(member);
    AppendDocumented(out, setup, member);
    put_extras(std::string(member));
  }
  put_extras(std::nullopt);
  out += "\n}\n";
  return out;
}

// ---------------------------------------------------------------------------------------------
// Atomic replacement of a file.

mode_t NewFileMode() {
  // The umask is read from /proc rather than by setting it, which would race with other threads.
  mode_t mask = 022;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
      break;
    }
  }
  return static_cast<mode_t>(0666 & ~mask);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

std::string ReplaceFile(const std::string& requested_path, std::string_view contents) {
  std::string path = requested_path;
  struct stat link_info {};
  if (::lstat(path.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      path = resolved;
      std::free(resolved);
    }
  }
  struct stat old_info {};
  const bool replacing = ::stat(path.c_str(), &old_info) == 0 && S_ISREG(old_info.st_mode);

  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = (slash == std::string::npos ? std::string() : folder) + "." + base + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    return requested_path + ": cannot create a temporary file in " + folder + ": " +
           ErrnoText(errno);
  }
  auto fail = [&](const char* step) {
    const int error = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return requested_path + ": " + step + ": " + ErrnoText(error);
  };
  const mode_t mode = replacing ? (old_info.st_mode & 07777) : NewFileMode();
  if (replacing) {
    // Only root may give the file away; for anyone else the file stays theirs.
    const int ignored = ::fchown(fd, old_info.st_uid, old_info.st_gid);
    (void)ignored;
  }
  if (::fchmod(fd, mode) != 0) return fail("cannot set the file mode");
  if (!WriteAll(fd, contents)) return fail("cannot write");
  if (::fsync(fd) != 0) return fail("cannot flush to disk");
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return requested_path + ": cannot write: " + ErrnoText(error);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return requested_path + ": cannot replace the file: " + ErrnoText(error);
  }
  // Make the rename itself durable; the new file is in place whether or not this succeeds.
  const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (folder_fd >= 0) {
    ::fsync(folder_fd);
    ::close(folder_fd);
  }
  return "";
}

std::string NumberText(double value) { return NumberToJson(value).dump(); }

}  // namespace

// ---------------------------------------------------------------------------------------------

LoadResult LoadSetupText(std::string_view text, const std::string& source_name) {
  try {
    JsonTree tree;
    if (!tree.Parse(text)) {
      // The quick reader declines every fault and a few rare forms: the JSON library's parser
      // then explains the fault, or reads the document itself.
      DocumentBuilder builder(text);
      if (!Json::sax_parse(text, &builder)) {
        return LoadResult{nullptr, source_name + ":" + builder.Fault()};
      }
      tree.Assign(builder.Root());
    }
    return Loader(source_name, tree).Load();
  } catch (const std::exception& ex) {
    // Nothing above is expected to throw; an allocation failure or a library surprise still
    // comes back as a value.
    return LoadResult{nullptr, source_name + ": cannot load: " + ex.what()};
  }
}

LoadResult LoadSetupFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LoadResult{nullptr, path + ": cannot read: " + ErrnoText(errno)};
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      return LoadResult{nullptr, path + ": cannot read: " + ErrnoText(error)};
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return LoadSetupText(text, path);
}

std::string SetupToText(const CMC_Setup& setup) { return DocumentText(setup, nullptr); }

std::string SaveSetupFile(const CMC_Setup& setup, const std::string& path) {
  std::string text;
  try {
    std::string bad_section;
    text = DocumentText(setup, &bad_section);
    if (!bad_section.empty()) {
      return path + ": /" + PointerSegment(bad_section) +
             ": the section's stored text is not JSON; nothing was written";
    }
  } catch (const std::exception& ex) {
    return path + ": cannot save: " + ex.what();
  }
  return ReplaceFile(path, text);
}

std::string FirstDifference(const CMC_Setup& a, const CMC_Setup& b) {
  auto differ = [](const std::string& what, const std::string& left, const std::string& right) {
    return what + ": " + left + " vs " + right;
  };
  const std::pair<std::string, std::string> identity[] = {{a.GetDescription(), b.GetDescription()},
                                                          {a.GetProductID(), b.GetProductID()},
                                                          {a.GetFirmwareID(), b.GetFirmwareID()},
                                                          {a.GetUserAppID(), b.GetUserAppID()}};
  for (const auto& [left, right] : identity) {
    if (left != right) return differ("identity", Quoted(left), Quoted(right));
  }
  if (a.GetE2ROMSize() != b.GetE2ROMSize() || a.GetAdcFullScale() != b.GetAdcFullScale()) {
    return "identity: eeprom words or ADC full scale";
  }
  if (a.GetOptions() != b.GetOptions()) return "options";
  const auto& ports_a = a.GetIoPorts();
  const auto& ports_b = b.GetIoPorts();
  if (ports_a.size() != ports_b.size()) return "I/O port count";
  for (size_t i = 0; i < ports_a.size(); ++i) {
    if (ports_a[i].port != ports_b[i].port || ports_a[i].pin != ports_b[i].pin ||
        ports_a[i].stage != ports_b[i].stage || ports_a[i].inverted != ports_b[i].inverted) {
      return "I/O port " + std::to_string(i);
    }
  }
  const CMC_Parameters& pa = a.GetParameters();
  const CMC_Parameters& pb = b.GetParameters();
  if (pa.GetParametersCount() != pb.GetParametersCount()) return "parameter count";
  for (int i = 0; i < pa.GetParametersCount(); ++i) {
    const CMC_Parameter& x = *pa[i];
    const CMC_Parameter& y = *pb[i];
    const std::string what = "parameter " + Quoted(x.GetName());
    if (x.GetName() != y.GetName() || x.GetBaseUnitName() != y.GetBaseUnitName() ||
        std::string(x.GetUnitName()) != y.GetUnitName() || x.GetType() != y.GetType() ||
        x.IsInteger() != y.IsInteger()) {
      return what + ": name, unit, type or integer flag";
    }
    const std::pair<double, double> numbers[] = {{x.GetValueInBaseUnit(), y.GetValueInBaseUnit()},
                                                 {x.GetMinInBaseUnit(), y.GetMinInBaseUnit()},
                                                 {x.GetMaxInBaseUnit(), y.GetMaxInBaseUnit()}};
    for (const auto& [left, right] : numbers) {
      if (!SameDouble(left, right)) return differ(what, NumberText(left), NumberText(right));
    }
  }
  const auto& va = a.GetVariables();
  const auto& vb = b.GetVariables();
  if (va.size() != vb.size()) return "variable count";
  for (size_t i = 0; i < va.size(); ++i) {
    const CMC_Variable& x = *va[i];
    const CMC_Variable& y = *vb[i];
    if (x.GetName() != y.GetName() || x.GetBaseUnitName() != y.GetBaseUnitName() ||
        std::string(x.GetUnitName()) != y.GetUnitName() || x.GetKind() != y.GetKind() ||
        !SameDouble(x.GetValueInBaseUnit(), y.GetValueInBaseUnit())) {
      return "variable " + Quoted(x.GetName());
    }
  }
  if (a.ExtraSections() != b.ExtraSections()) return "extra sections";
  return "";
}

// ---------------------------------------------------------------------------------------------
// The helpers other file formats share (host/json_file.h).

std::string ParseJsonDocument(std::string_view text, const std::string& source_name,
                              OrderedJson& root) {
  try {
    DocumentBuilder builder(text);
    if (!Json::sax_parse(text, &builder)) return source_name + ":" + builder.Fault();
    root = std::move(builder.Root());
    return "";
  } catch (const std::exception& ex) {
    return source_name + ": cannot load: " + ex.what();
  }
}

const char* JsonKindOf(const OrderedJson& value) {
  if (value.is_number_float()) return KindName(Kind::kFloat);
  switch (value.type()) {
    case Json::value_t::null:
      return KindName(Kind::kNull);
    case Json::value_t::object:
      return KindName(Kind::kObject);
    case Json::value_t::array:
      return KindName(Kind::kArray);
    case Json::value_t::string:
      return KindName(Kind::kString);
    case Json::value_t::boolean:
      return KindName(Kind::kBoolean);
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
      return KindName(Kind::kInteger);
    default:
      return "an unsupported value";
  }
}

std::string ReplaceFileAtomically(const std::string& path, std::string_view contents) {
  return ReplaceFile(path, contents);
}

}  // namespace axis
