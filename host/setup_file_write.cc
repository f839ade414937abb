// Writing setup files: the document's text, members in the documented order with the sections
// the program keeps in their places, and saving it over a file atomically.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/file_replace.h"
#include "host/json_file.h"
#include "host/number_text.h"
#include "host/numeric.h"
#include "host/setup_file.h"
#include "host/setup_file_format.h"
#include "host/text.h"

namespace axis {

namespace setup_format {

// JSON spells no NaN or infinity, and reads "-0" as the integer 0: those are written apart.
void AppendNumber(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "\"NaN\"";
  } else if (std::isinf(value)) {
    out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  } else if (value == 0.0 && std::signbit(value)) {
    out += "-0.0";
  } else {
    out += FormatNumber(value);
  }
}

}  // namespace setup_format

namespace {

using Json = OrderedJson;
using setup_format::AppendNumber;
using setup_format::IsDocumented;

Json DocumentedMember(const CMC_Setup& setup, std::string_view member) {
  if (member == "format") return setup_format::kName;
  if (member == "version") return setup_format::kVersion;
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
    // Names are unique (the setup compares them ignoring case): appended to the object's list
    // directly, as ordered_json's own insertion would search the list for each one.
    auto& members =
        static_cast<std::vector<Json::object_t::value_type>&>(options.get_ref<Json::object_t&>());
    members.reserve(setup.GetOptions().size());
    for (const auto& [name, text] : setup.GetOptions())
      members.emplace_back(Latin1ToUtf8(name), Latin1ToUtf8(text));
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

// The extra sections in the order they are written, in groups by their place: before "format",
// after each documented member, and at the end (a section without a place, or whose place names
// no documented member). A section named like a documented member is never written.
class ExtraSectionGroups {
 public:
  static constexpr size_t kGroups = std::size(setup_format::kTopLevelMembers) + 2;

  explicit ExtraSectionGroups(const CMC_Setup& setup) {
    // A section's place is the first one recorded for it that names a documented member.
    std::unordered_map<std::string_view, size_t> group_of;
    for (const auto& [name, after] : setup.ExtraSectionPlaces()) {
      if (after.empty()) {
        group_of.emplace(name, 0);
        continue;
      }
      for (size_t m = 0; m < std::size(setup_format::kTopLevelMembers); ++m) {
        if (after == setup_format::kTopLevelMembers[m]) group_of.emplace(name, m + 1);
      }
    }
    const auto& sections = setup.ExtraSections();
    for (size_t i = 0; i < sections.size(); ++i) {
      if (IsDocumented(sections[i].first)) continue;
      const auto place = group_of.find(sections[i].first);
      groups_[place == group_of.end() ? kGroups - 1 : place->second].push_back(i);
    }
  }
  // Positions in ExtraSections(): group 0 before "format", group m + 1 after kTopLevelMembers[m],
  // the last group at the end.
  const std::vector<size_t>& Group(size_t group) const { return groups_[group]; }

 private:
  std::array<std::vector<size_t>, kGroups> groups_;
};

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
    AppendNested(out, JsonDocument(DocumentedMember(setup, member)).Root());
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
  const ExtraSectionGroups groups(setup);
  auto put_extras = [&](size_t group) {
    for (size_t i : groups.Group(group)) {
      const auto& [name, text] = setup.ExtraSections()[i];
      JsonDocument value;
      const bool is_json = ParseJsonDocument(text, name, value).empty();
      if (!is_json && bad_section != nullptr && bad_section->empty()) *bad_section = name;
      begin_member(name);
      AppendNested(out, is_json ? value.Root() : Json(text));
    }
  };
  put_extras(0);
  for (size_t m = 0; m < std::size(setup_format::kTopLevelMembers); ++m) {
    begin_member(setup_format::kTopLevelMembers[m]);
    AppendDocumented(out, setup, setup_format::kTopLevelMembers[m]);
    put_extras(m + 1);
  }
  put_extras(ExtraSectionGroups::kGroups - 1);
  out += "\n}\n";
  return out;
}

}  // namespace

std::string SetupToText(const CMC_Setup& setup) { return DocumentText(setup, nullptr); }

std::string SaveSetupFile(const CMC_Setup& setup, const std::string& path) {
  std::string text;
  try {
    std::string bad_section;
    text = DocumentText(setup, &bad_section);
    // A file the program could not read back is not written.
    if (text.size() > kMaxJsonFileBytes)
      return TooLargeError(path, "a setup file") + "; nothing was written";
    if (!bad_section.empty()) {
      return path + ": /" + JsonPointerSegment(bad_section) +
             ": the section's stored text is not JSON; nothing was written";
    }
  } catch (const std::bad_alloc&) {
    return path + ": not enough memory to save it; nothing was written";
  } catch (const std::exception& ex) {
    return path + ": cannot save: " + ex.what();
  }
  return ReplaceFileAtomically(path, text);
}

}  // namespace axis
