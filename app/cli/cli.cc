#include "app/cli/cli.h"

#include <dlfcn.h>
#include <fnmatch.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "app/gui/render.h"
#include "host/install_layout.h"
#include "host/plugin_loader.h"
#include "host/plugin_services.h"
#include "host/setup.h"
#include "host/setup_file.h"
#include "host/text.h"

namespace axis::cli {

namespace {

constexpr const char* kVersion = "axiscore " AXIS_VERSION "\n";

constexpr const char* kUsage = R"(Usage: axiscore [--plugin PATH] COMMAND ...
       axiscore --help | --version

Commands (SETUP is a setup file; commands that change it write to -o OUT when given, otherwise
they update SETUP in place, atomically):
  compute SETUP [-o OUT]          complete the setup: derive every physical value from the
                                  registers, set limits, capability options and motion units
  encode SETUP [-o OUT]           encode the registers from the physical values, then derive back
  get SETUP NAME...               print name, value, base unit, minimum, maximum (tab-separated)
  set SETUP NAME=VALUE... [-o OUT]
                                  set values in base units, or with a unit (PWM_freq=16kHz)
  show SETUP [PATTERN]            table of parameters in their display units (PATTERN: text or
                                  glob, case ignored)
  scale SETUP UNIT NAME           internal-to-physical factor of a variable or parameter
  offset SETUP UNIT               internal offset of a unit (non-zero only for temperature)
  tune SETUP current|speed|position [-o OUT]
                                  tune a controller from its pass band and damping, encode the
                                  gains into their registers and derive them back
  diff A B                        parameters whose values, ranges or units differ
  edit SETUP [-o OUT]             open the drive setup dialog on the desktop; OK saves the
                                  setup, Cancel writes nothing (exit status 1)
  render SETUP DIR                draw every setup dialog as it opens on SETUP, offscreen, into
                                  DIR/<template id>-<name>.png
  render-template ID PNG          draw dialog template ID, unbound, into a PNG (developer's tool)

edit, render and render-template need a build with the desktop front end (Qt 6); only they load
it (libaxiscore-gui.so) and Qt with it.

Options:
  --plugin PATH                   the plug-in library (default: libkestrel.so next to axiscore,
                                  or in ../lib/axiscore/ when installed)
  -o OUT                          where a changed setup is written
  -h, --help                      this text
  -V, --version                   the program's version

Exit status: 0 success, 1 differences found (diff) or editing cancelled (edit), 2 error.
)";

constexpr int kExitOk = 0;
constexpr int kExitDiffer = 1;
constexpr int kExitError = 2;

struct Invocation {
  std::string command;
  std::vector<std::string> operands;
  std::optional<std::string> output;
  std::string plugin_path;
};

// The desktop front end library. It is never unloaded: Qt, once started, stays to the end of the
// process. Null with `error` set (completing "... needs the desktop front end, ") on failure.
const gui::FrontEnd* LoadFrontEnd(std::string& error) {
#ifdef AXIS_HAVE_GUI
  const std::string path = FindProgramFile(ProgramFolder::kLibraries, gui::kFrontEndLibrary);
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = std::string("which cannot be loaded (") + (why ? why : path.c_str()) + ")";
    return nullptr;
  }
  using Entry = const gui::FrontEnd* (*)();
  const auto entry = reinterpret_cast<Entry>(dlsym(handle, gui::kFrontEndEntry));
  const gui::FrontEnd* front_end = entry == nullptr ? nullptr : entry();
  if (front_end == nullptr || front_end->version != gui::kFrontEndVersion) {
    dlclose(handle);
    error = "and \"" + path + "\" is not the one of this build of axiscore";
    return nullptr;
  }
  return front_end;
#else
  error = "which this build lacks (install qt6-base-dev and qt6-svg-dev, then rebuild)";
  return nullptr;
#endif
}

class Session {
 public:
  Session(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  int Error(const std::string& message) {
    std::fprintf(err_, "axiscore: %s\n", message.c_str());
    return kExitError;
  }
  void Note(const std::string& message) { std::fprintf(err_, "axiscore: %s\n", message.c_str()); }

  bool LoadPlugin(const std::string& path) {
    std::string error;
    plugin_ = Plugin::Load(path.empty() ? DefaultPluginPath() : path, error);
    if (!plugin_) {
      Error(error);
      return false;
    }
    SetDefaultScaleProvider(plugin_->Scales());
    return true;
  }

  std::unique_ptr<CMC_Setup> Load(const std::string& path) {
    LoadResult result = LoadSetupFile(path);
    if (!result.setup) Error(result.error);
    return std::move(result.setup);
  }

  int Save(const CMC_Setup& setup, const Invocation& inv) {
    const std::string& path = inv.output ? *inv.output : inv.operands.at(0);
    const std::string error = SaveSetupFile(setup, path);
    if (!error.empty()) return Error(error);
    return kExitOk;
  }

  // The desktop front end, for `command`; null after reporting why it cannot be had.
  const gui::FrontEnd* Desktop(const std::string& command) {
    std::string error;
    const gui::FrontEnd* front_end = LoadFrontEnd(error);
    if (front_end == nullptr) Error(command + " needs the desktop front end, " + error);
    return front_end;
  }

  const PluginExports& Exports() const { return plugin_->Exports(); }
  std::FILE* out() const { return out_; }

 private:
  std::FILE* out_;
  std::FILE* err_;
  std::unique_ptr<Plugin> plugin_;
};

std::string Utf8(std::string_view latin1) { return Latin1ToUtf8(latin1); }

void PrintNumber(std::FILE* out, double value) { std::fprintf(out, "%.17g", value); }

// --- value parsing
// --------------------------------------------------------------------------------

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// "16kHz", "30 mm", "1e-3": a finite number with an optional unit of the parameter's unit type.
// Returns the value in base units, or an error text.
std::optional<double> ParseValue(const CMC_Parameter& parameter, std::string_view text,
                                 std::string& error) {
  const std::string input(Trim(text));
  if (input.empty()) {
    error = "no value given for " + parameter.GetName();
    return std::nullopt;
  }
  errno = 0;
  char* end = nullptr;
  const double number = std::strtod(input.c_str(), &end);
  if (end == input.c_str() || errno == ERANGE || !std::isfinite(number)) {
    error = "\"" + input + "\" is not a finite number";
    return std::nullopt;
  }
  const std::string_view suffix = Trim(std::string_view(end));
  if (suffix.empty()) return number;
  const std::optional<std::string> unit_name = Utf8ToLatin1(suffix);
  const CMC_Unit* unit = unit_name ? CMC_Units::Catalogue().FindUnit(*unit_name) : nullptr;
  if (unit == nullptr) {
    error = "unknown unit \"" + std::string(suffix) + "\"";
    return std::nullopt;
  }
  if (unit->GetBaseName() != parameter.GetBaseUnitName()) {
    error = "unit \"" + std::string(suffix) + "\" does not fit " + parameter.GetName() +
            " (base unit \"" + Utf8(parameter.GetBaseUnitName()) + "\")";
    return std::nullopt;
  }
  return number * unit->GetFactor();
}

// --- commands
// -------------------------------------------------------------------------------------

int RunService(Session& session, CMC_Setup& setup, const char* name) {
  const SetupService service = FindSetupService(name);
  if (service == nullptr) {
    session.Error(std::string("the plug-in offers no \"") + name + "\" service");
    return 0;
  }
  return service(&setup);
}

int CmdCompute(Session& s, const Invocation& inv) {
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  s.Exports().ComputeAllOptions(setup.get());
  return s.Save(*setup, inv);
}

int CmdEncode(Session& s, const Invocation& inv) {
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  if (RunService(s, *setup, "encode-pass") == 0) return kExitError;
  if (RunService(s, *setup, "derive-pass") == 0) return kExitError;
  return s.Save(*setup, inv);
}

int CmdGet(Session& s, const Invocation& inv) {
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  // Check every name first so that nothing is printed for a command that fails.
  std::vector<const CMC_Parameter*> found;
  for (size_t i = 1; i < inv.operands.size(); ++i) {
    const CMC_Parameter* p = setup->FindParameterNoError(inv.operands[i]);
    if (p == nullptr) return s.Error("unknown parameter \"" + inv.operands[i] + "\"");
    found.push_back(p);
  }
  for (const CMC_Parameter* p : found) {
    std::fprintf(s.out(), "%s\t", p->GetName().c_str());
    PrintNumber(s.out(), p->GetValueInBaseUnit());
    std::fprintf(s.out(), "\t%s\t", Utf8(p->GetBaseUnitName()).c_str());
    PrintNumber(s.out(), p->GetMinInBaseUnit());
    std::fputc('\t', s.out());
    PrintNumber(s.out(), p->GetMaxInBaseUnit());
    std::fputc('\n', s.out());
  }
  return kExitOk;
}

int CmdSet(Session& s, const Invocation& inv) {
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  // Parse and check every assignment before changing anything.
  std::vector<std::pair<CMC_Parameter*, double>> assignments;
  for (size_t i = 1; i < inv.operands.size(); ++i) {
    const std::string& arg = inv.operands[i];
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0)
      return s.Error("expected NAME=VALUE, got \"" + arg + "\"");
    const std::string name = arg.substr(0, eq);
    CMC_Parameter* p = setup->FindParameterNoError(name);
    if (p == nullptr) return s.Error("unknown parameter \"" + name + "\"");
    std::string error;
    const std::optional<double> value = ParseValue(*p, arg.substr(eq + 1), error);
    if (!value) return s.Error(name + ": " + error);
    if (*value < p->GetMinInBaseUnit() || *value > p->GetMaxInBaseUnit()) {
      char range[160];
      std::snprintf(range, sizeof(range), "%.17g is outside the range [%.17g, %.17g] %s", *value,
                    p->GetMinInBaseUnit(), p->GetMaxInBaseUnit(),
                    Utf8(p->GetBaseUnitName()).c_str());
      return s.Error(name + ": " + range);
    }
    assignments.emplace_back(p, *value);
  }
  for (const auto& [p, value] : assignments) p->SetValueInBaseUnit(value);
  return s.Save(*setup, inv);
}

bool Matches(const std::string& pattern, const std::string& name) {
  if (pattern.empty()) return true;
  if (pattern.find_first_of("*?[") != std::string::npos) {
    return fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
  }
  std::string folded_name, folded_pattern;
  for (char c : name) folded_name.push_back(FoldCase(c));
  for (char c : pattern) folded_pattern.push_back(FoldCase(c));
  return folded_name.find(folded_pattern) != std::string::npos;
}

std::string FormatDisplay(const CMC_Parameter& p, double base_value) {
  const CMC_Unit* unit = p.GetUnit();
  const double shown = unit == nullptr ? base_value : base_value / unit->GetFactor();
  char text[64];
  std::snprintf(text, sizeof(text), "%.10g", shown);
  return text;
}

int CmdShow(Session& s, const Invocation& inv) {
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  const std::string pattern = inv.operands.size() > 1 ? inv.operands[1] : "";
  const CMC_Parameters& parameters = setup->GetParameters();
  size_t name_width = 4;
  for (int i = 0; i < parameters.GetParametersCount(); ++i) {
    if (Matches(pattern, parameters[i]->GetName()))
      name_width = std::max(name_width, parameters[i]->GetName().size());
  }
  const int w = static_cast<int>(name_width);
  std::fprintf(s.out(), "%-*s  %18s  %-8s  %18s  %18s\n", w, "Name", "Value", "Unit", "Minimum",
               "Maximum");
  int shown = 0;
  for (int i = 0; i < parameters.GetParametersCount(); ++i) {
    const CMC_Parameter& p = *parameters[i];
    if (!Matches(pattern, p.GetName())) continue;
    const std::string unit = Utf8(p.GetUnitName());
    // Pad by characters, not bytes: "µm" is three bytes in UTF-8 but two characters.
    const int unit_pad =
        8 + static_cast<int>(unit.size() - std::string_view(p.GetUnitName()).size());
    std::fprintf(s.out(), "%-*s  %18s  %-*s  %18s  %18s\n", w, p.GetName().c_str(),
                 FormatDisplay(p, p.GetValueInBaseUnit()).c_str(), unit_pad, unit.c_str(),
                 FormatDisplay(p, p.GetMinInBaseUnit()).c_str(),
                 FormatDisplay(p, p.GetMaxInBaseUnit()).c_str());
    ++shown;
  }
  if (shown == 0 && !pattern.empty()) return s.Error("no parameter matches \"" + pattern + "\"");
  return kExitOk;
}

std::optional<std::string> UnitArgument(Session& s, const std::string& utf8) {
  std::optional<std::string> unit = Utf8ToLatin1(utf8);
  if (!unit) s.Error("the unit \"" + utf8 + "\" is not valid UTF-8 text in the Latin-1 range");
  return unit;
}

int CmdScale(Session& s, const Invocation& inv) {
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  const std::optional<std::string> unit = UnitArgument(s, inv.operands[1]);
  if (!unit) return kExitError;
  PrintNumber(s.out(),
              s.Exports().GetScaleFactor(setup.get(), unit->c_str(), inv.operands[2].c_str()));
  std::fputc('\n', s.out());
  return kExitOk;
}

int CmdOffset(Session& s, const Invocation& inv) {
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  const std::optional<std::string> unit = UnitArgument(s, inv.operands[1]);
  if (!unit) return kExitError;
  PrintNumber(s.out(), s.Exports().GetScaleOffset(setup.get(), unit->c_str()));
  std::fputc('\n', s.out());
  return kExitOk;
}

int CmdTune(Session& s, const Invocation& inv) {
  static const std::map<std::string, const char*> kLoops = {
      {"current", "tune-current"}, {"speed", "tune-speed"}, {"position", "tune-position"}};
  const auto loop = kLoops.find(inv.operands[1]);
  if (loop == kLoops.end())
    return s.Error("unknown loop \"" + inv.operands[1] + "\" (current, speed or position)");
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  if (RunService(s, *setup, loop->second) == 0)
    return s.Error("the " + inv.operands[1] +
                   " controller cannot be tuned: the setup lacks a parameter the tuning needs");
  return s.Save(*setup, inv);
}

std::string Describe(const CMC_Parameter& p) {
  char text[200];
  std::snprintf(text, sizeof(text), "%.17g %s [%.17g, %.17g] shown in %s", p.GetValueInBaseUnit(),
                Utf8(p.GetBaseUnitName()).c_str(), p.GetMinInBaseUnit(), p.GetMaxInBaseUnit(),
                Utf8(p.GetUnitName()).c_str());
  return text;
}

bool SameDouble(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool SameParameter(const CMC_Parameter& a, const CMC_Parameter& b) {
  return SameDouble(a.GetValueInBaseUnit(), b.GetValueInBaseUnit()) &&
         SameDouble(a.GetMinInBaseUnit(), b.GetMinInBaseUnit()) &&
         SameDouble(a.GetMaxInBaseUnit(), b.GetMaxInBaseUnit()) &&
         a.GetBaseUnitName() == b.GetBaseUnitName() &&
         std::string(a.GetUnitName()) == b.GetUnitName();
}

int CmdDiff(Session& s, const Invocation& inv) {
  auto a = s.Load(inv.operands[0]);
  if (!a) return kExitError;
  auto b = s.Load(inv.operands[1]);
  if (!b) return kExitError;
  int differences = 0;
  const CMC_Parameters& pa = a->GetParameters();
  for (int i = 0; i < pa.GetParametersCount(); ++i) {
    const CMC_Parameter* other = b->FindParameterNoError(pa[i]->GetName());
    if (other == nullptr) {
      std::fprintf(s.out(), "%s\tonly in A: %s\n", pa[i]->GetName().c_str(),
                   Describe(*pa[i]).c_str());
      ++differences;
    } else if (!SameParameter(*pa[i], *other)) {
      std::fprintf(s.out(), "%s\tA: %s\tB: %s\n", pa[i]->GetName().c_str(),
                   Describe(*pa[i]).c_str(), Describe(*other).c_str());
      ++differences;
    }
  }
  const CMC_Parameters& pb = b->GetParameters();
  for (int i = 0; i < pb.GetParametersCount(); ++i) {
    if (a->FindParameterNoError(pb[i]->GetName()) == nullptr) {
      std::fprintf(s.out(), "%s\tonly in B: %s\n", pb[i]->GetName().c_str(),
                   Describe(*pb[i]).c_str());
      ++differences;
    }
  }
  return differences == 0 ? kExitOk : kExitDiffer;
}

int CmdEdit(Session& s, const Invocation& inv) {
  const gui::FrontEnd* desktop = s.Desktop(inv.command);
  if (desktop == nullptr) return kExitError;
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  std::string error;
  const std::optional<int> accepted =
      desktop->run_on_desktop([&] { return s.Exports().EditSetup(setup.get()); }, error);
  if (!accepted) return s.Error(error);
  if (*accepted != 1) {
    s.Note("the setup was not changed (the dialog was cancelled)");
    return kExitDiffer;
  }
  return s.Save(*setup, inv);
}

int CmdRender(Session& s, const Invocation& inv) {
  const gui::FrontEnd* desktop = s.Desktop(inv.command);
  if (desktop == nullptr) return kExitError;
  const std::string& folder = inv.operands[1];
  std::error_code fault;
  std::filesystem::create_directories(folder, fault);
  if (fault) return s.Error("cannot create the folder \"" + folder + "\": " + fault.message());
  const std::vector<int> ids = OpenDialogIds();
  if (ids.empty()) return s.Error("the plug-in offers no setup dialogs to draw");
  const std::unique_ptr<gui::DialogRenderer> renderer = desktop->new_dialog_renderer(folder);
  int failed = 0;
  for (int id : ids) {
    // Each dialog opens on the setup as the file holds it, untouched by the dialogs before it.
    auto setup = s.Load(inv.operands[0]);
    if (!setup) return kExitError;
    const SetupService open = FindSetupService(OpenDialogServiceName(id));
    int result = 0;
    const std::vector<std::string> written =
        renderer->Render([&] { return result = open(setup.get()); });
    if (written.empty() && result < 0) {
      s.Error("dialog " + std::to_string(id) + " could not be opened (see above)");
      ++failed;
    } else if (written.empty()) {
      s.Note("dialog " + std::to_string(id) + " does not open on this setup");
    }
    for (const std::string& png : written) std::fprintf(s.out(), "%s\n", png.c_str());
  }
  for (const std::string& note : renderer->Notes()) s.Note(note);
  return failed == 0 ? kExitOk : kExitError;
}

int CmdRenderTemplate(Session& s, const Invocation& inv) {
  const std::string& id_text = inv.operands[0];
  char* end = nullptr;
  errno = 0;
  const long id = std::strtol(id_text.c_str(), &end, 10);
  if (id_text.empty() || *end != '\0' || errno == ERANGE || id <= 0 || id > 0x7fffffff)
    return s.Error("\"" + id_text + "\" is not a dialog template id");
  const gui::FrontEnd* desktop = s.Desktop(inv.command);
  if (desktop == nullptr) return kExitError;
  const std::string error = desktop->render_template(static_cast<int>(id), inv.operands[1]);
  if (!error.empty()) return s.Error(error);
  return kExitOk;
}

struct CommandRow {
  const char* name;
  size_t min_operands;
  size_t max_operands;  // SIZE_MAX: any number
  bool writes;          // accepts -o
  int (*run)(Session&, const Invocation&);
  bool needs_plugin = true;
};

constexpr size_t kAny = static_cast<size_t>(-1);

const CommandRow kCommands[] = {
    {"compute", 1, 1, true, &CmdCompute},
    {"encode", 1, 1, true, &CmdEncode},
    {"get", 2, kAny, false, &CmdGet},
    {"set", 2, kAny, true, &CmdSet},
    {"show", 1, 2, false, &CmdShow},
    {"scale", 3, 3, false, &CmdScale},
    {"offset", 2, 2, false, &CmdOffset},
    {"tune", 2, 2, true, &CmdTune},
    {"diff", 2, 2, false, &CmdDiff},
    {"edit", 1, 1, true, &CmdEdit},
    {"render", 2, 2, false, &CmdRender},
    {"render-template", 2, 2, false, &CmdRenderTemplate, false},
};

// Splits options from operands. Returns an error text, or "" on success.
// `help` and `version` tell which of --help and --version was given (--help wins).
std::string Parse(const std::vector<std::string>& args, Invocation& inv, bool& help,
                  bool& version) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      help = true;
    } else if (arg == "-V" || arg == "--version") {
      version = true;
    } else if (arg == "--plugin" || arg == "-o") {
      if (i + 1 >= args.size()) return arg + " needs a value";
      if (arg == "-o") {
        inv.output = args[++i];
      } else {
        inv.plugin_path = args[++i];
      }
    } else if (arg.rfind("--plugin=", 0) == 0) {
      inv.plugin_path = arg.substr(9);
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-" &&
               !(std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.')) {
      return "unknown option \"" + arg + "\"";
    } else if (inv.command.empty()) {
      inv.command = arg;
    } else {
      inv.operands.push_back(arg);
    }
  }
  return {};
}

}  // namespace

int Run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  Session session(out, err);
  Invocation inv;
  bool help = false, version = false;
  const std::string parse_error = Parse(args, inv, help, version);
  if (help || version) {
    std::fputs(help ? kUsage : kVersion, out);
    return kExitOk;
  }
  if (!parse_error.empty()) return session.Error(parse_error + " (see axiscore --help)");
  if (inv.command.empty()) {
    std::fputs(kUsage, err);
    return kExitError;
  }
  const CommandRow* row = nullptr;
  for (const CommandRow& candidate : kCommands) {
    if (inv.command == candidate.name) row = &candidate;
  }
  if (row == nullptr)
    return session.Error("unknown command \"" + inv.command + "\" (see axiscore --help)");
  if (inv.operands.size() < row->min_operands || inv.operands.size() > row->max_operands)
    return session.Error("wrong number of arguments for " + inv.command + " (see axiscore --help)");
  if (inv.output && !row->writes) return session.Error(inv.command + " does not take -o");

  SetErrorReporter([err](const std::string& message) {
    std::fprintf(err, "axiscore: warning: %s\n", message.c_str());
  });
  if (row->needs_plugin && !session.LoadPlugin(inv.plugin_path)) return kExitError;
  const int code = row->run(session, inv);
  SetErrorReporter(nullptr);
  return code;
}

}  // namespace axis::cli
