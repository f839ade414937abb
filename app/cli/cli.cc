#include "app/cli/cli.h"

#include <dlfcn.h>
#include <fnmatch.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "app/cli/test_runner.h"
#include "app/gui/render.h"
#include "host/install_layout.h"
#include "host/link/drive_server.h"
#include "host/link/fault_injection.h"
#include "host/link/link_protocol.h"
#include "host/link/stream_link.h"
#include "host/number_text.h"
#include "host/numeric.h"
#include "host/plugin_loader.h"
#include "host/plugin_services.h"
#include "host/setup.h"
#include "host/setup_file.h"
#include "host/text.h"
#include "sim/setup_config.h"
#include "sim/simulated_drive.h"

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
  edit SETUP [--drive LINK | --sim KEY=VALUE...] [-o OUT]
                                  open the drive setup dialog on the desktop, the simulated
                                  drive (or the drive at LINK) attached for its tests; OK saves
                                  the setup, Cancel writes nothing (exit status 1)
  test SETUP TEST [--drive LINK | --sim KEY=VALUE...] [--answer yes|no] [--stop-after SECONDS]
       [--tune] [--export FILE.csv] [--picture FILE.png] [-o OUT]
                                  run one commissioning test headless on the simulated drive
                                  or the drive at LINK (TEST: phase, rl, current, vdc,
                                  encoder-connections, encoder-resolution, hall-signals,
                                  hall-configuration, angle, analogue, mass, speed, position);
                                  the setup is written when the test's dialog ended with OK
                                  (--answer yes, the default)
  simulate SETUP (--listen HOST:PORT | --pty) [--sim KEY=VALUE]... [--faults FAULTS]
                                  serve the simulated drive of SETUP over the drive link, one
                                  host at a time, until Ctrl+C; prints the LINK to give --drive
                                  (--listen port 0 takes a free port; --pty opens a
                                  pseudo-terminal); FAULTS spoil frames for trying the link out:
                                  drop=P,corrupt=P,truncate=P,delay=P,delay-ms=MS,cut-after=N,
                                  cut-after-s=S,stall-after=N,seed=N
  render SETUP DIR                draw every setup dialog as it opens on SETUP, offscreen, into
                                  DIR/<template id>-<name>.png
  render-template ID PNG          draw dialog template ID, unbound, into a PNG (developer's tool)

edit, render and render-template need a build with the desktop front end (Qt 6); only they load
it (libaxiscore-gui.so) and Qt with it.

LINK is tcp:HOST:PORT or serial:DEVICE[@BAUD] (8N1, no flow control, 115200 baud by default);
docs/drive-link.md describes the protocol.

Options:
  --plugin PATH                   the plug-in library (default: libkestrel.so next to axiscore,
                                  or in ../lib/axiscore/ when installed)
  -o OUT                          where a changed setup is written
  -h, --help                      this text
  -V, --version                   the program's version

Exit status: 0 success, 1 differences found (diff), editing cancelled (edit) or the test failed
(test), 2 error.
)";

constexpr int kExitOk = 0;
constexpr int kExitDiffer = 1;
constexpr int kExitError = 2;

struct Invocation {
  std::string command;
  std::vector<std::string> operands;
  std::optional<std::string> output;
  std::string plugin_path;
  // The command's own options, in the order given: name ("--sim") and value ("" for a flag).
  std::vector<std::pair<std::string, std::string>> options;

  std::vector<std::string> All(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [option, value] : options) {
      if (option == name) values.push_back(value);
    }
    return values;
  }
  bool Has(std::string_view name) const { return !All(name).empty(); }
};

// The commands' own options: whether each takes a value.
struct OptionRow {
  const char* name;
  bool takes_value;
};
constexpr OptionRow kCommandOptions[] = {
    {"--sim", true},     {"--answer", true}, {"--stop-after", true}, {"--export", true},
    {"--picture", true}, {"--tune", false},  {"--drive", true},      {"--listen", true},
    {"--pty", false},    {"--faults", true},
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

  // Messages are UTF-8; what they quote from files and arguments is shown with its control
  // characters escaped.
  int Error(const std::string& message) {
    Note(message);
    return kExitError;
  }
  void Note(const std::string& message) {
    std::fprintf(err_, "axiscore: %s\n", PrintableText(message).c_str());
  }

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
  std::FILE* err() const { return err_; }

 private:
  std::FILE* out_;
  std::FILE* err_;
  std::unique_ptr<Plugin> plugin_;
};

// Names and units are Latin-1 inside the program; the terminal speaks UTF-8.
std::string Utf8(std::string_view latin1) { return Latin1ToUtf8(latin1); }
// A name or unit as printed in tab-separated output: UTF-8, control characters escaped.
std::string Shown(std::string_view latin1) { return PrintableText(Latin1ToUtf8(latin1)); }

void PrintNumber(std::FILE* out, double value) { std::fputs(FormatNumber(value).c_str(), out); }

// A name as typed on the command line (UTF-8) as the setup spells names (Latin-1); a name that
// cannot be Latin-1 names nothing.
std::string Latin1Name(const std::string& utf8) {
  return Utf8ToLatin1(utf8).value_or(std::string());
}

// "16kHz", "30 mm", "1e-3": a finite number with an optional unit of the parameter's unit type,
// in base units when no unit is given. Returns the value in base units, or an error text.
std::optional<double> ParseValue(const CMC_Parameter& parameter, const std::string& utf8,
                                 std::string& error) {
  const CMC_Unit* base = CMC_Units::Catalogue().FindUnit(parameter.GetBaseUnitName());
  const std::optional<std::string> text = Utf8ToLatin1(utf8);
  if (base == nullptr || !text) {
    error = Quoted(utf8) + " is not a number";
    return std::nullopt;
  }
  std::optional<double> value = ParseValueWithUnit(*text, *base, base, DecimalMark::kPoint, error);
  if (!value) error = Utf8(error);
  return value;
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
    const CMC_Parameter* p = setup->FindParameterNoError(Latin1Name(inv.operands[i]));
    if (p == nullptr) return s.Error("unknown parameter " + Quoted(inv.operands[i]));
    found.push_back(p);
  }
  for (const CMC_Parameter* p : found) {
    std::fprintf(s.out(), "%s\t", Shown(p->GetName()).c_str());
    PrintNumber(s.out(), p->GetValueInBaseUnit());
    std::fprintf(s.out(), "\t%s\t", Shown(p->GetBaseUnitName()).c_str());
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
    CMC_Parameter* p = setup->FindParameterNoError(Latin1Name(name));
    if (p == nullptr) return s.Error("unknown parameter " + Quoted(name));
    std::string error;
    const std::optional<double> value = ParseValue(*p, arg.substr(eq + 1), error);
    if (!value) return s.Error(name + ": " + error);
    if (*value < p->GetMinInBaseUnit() || *value > p->GetMaxInBaseUnit()) {
      return s.Error(name + ": " + FormatNumber(*value) + " is outside the range [" +
                     FormatNumber(p->GetMinInBaseUnit()) + ", " +
                     FormatNumber(p->GetMaxInBaseUnit()) + "] " + Utf8(p->GetBaseUnitName()));
    }
    assignments.emplace_back(p, *value);
  }
  for (const auto& [p, value] : assignments) p->SetValueInBaseUnit(value);
  return s.Save(*setup, inv);
}

// `pattern` and `name` are Latin-1.
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
  return FormatNumber(unit == nullptr ? base_value : base_value / unit->GetFactor(), 10);
}

// Characters a terminal shows for a text: UTF-8 continuation bytes take no column.
int Columns(std::string_view utf8) {
  int columns = 0;
  for (char c : utf8) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return columns;
}

// The text padded with blanks to `width` columns (left-aligned), or right-aligned.
std::string Padded(const std::string& utf8, int width, bool right = false) {
  const std::string blanks(static_cast<size_t>(std::max(0, width - Columns(utf8))), ' ');
  return right ? blanks + utf8 : utf8 + blanks;
}

int CmdShow(Session& s, const Invocation& inv) {
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  const std::string pattern_utf8 = inv.operands.size() > 1 ? inv.operands[1] : "";
  const std::string pattern = Latin1Name(pattern_utf8);
  const CMC_Parameters& parameters = setup->GetParameters();
  int name_width = 4;
  for (int i = 0; i < parameters.GetParametersCount(); ++i) {
    if (Matches(pattern, parameters[i]->GetName()))
      name_width = std::max(name_width, Columns(Shown(parameters[i]->GetName())));
  }
  const auto line = [&](const std::string& name, const std::string& value, const std::string& unit,
                        const std::string& minimum, const std::string& maximum) {
    const std::string text = Padded(name, name_width) + "  " + Padded(value, 18, true) + "  " +
                             Padded(unit, 8) + "  " + Padded(minimum, 18, true) + "  " +
                             Padded(maximum, 18, true) + "\n";
    std::fputs(text.c_str(), s.out());
  };
  line("Name", "Value", "Unit", "Minimum", "Maximum");
  int shown = 0;
  for (int i = 0; i < parameters.GetParametersCount(); ++i) {
    const CMC_Parameter& p = *parameters[i];
    if (!Matches(pattern, p.GetName())) continue;
    line(Shown(p.GetName()), FormatDisplay(p, p.GetValueInBaseUnit()), Shown(p.GetUnitName()),
         FormatDisplay(p, p.GetMinInBaseUnit()), FormatDisplay(p, p.GetMaxInBaseUnit()));
    ++shown;
  }
  if (shown == 0 && !pattern_utf8.empty())
    return s.Error("no parameter matches " + Quoted(pattern_utf8));
  return kExitOk;
}

// A unit of the catalogue named on the command line, exactly: "V " (the DC bus) keeps its blank.
const CMC_Unit* UnitArgument(Session& s, const std::string& utf8) {
  const std::optional<std::string> name = Utf8ToLatin1(utf8);
  const CMC_Unit* unit = name ? CMC_Units::Catalogue().FindUnit(*name) : nullptr;
  if (unit == nullptr) s.Error("unknown unit " + Quoted(utf8));
  return unit;
}

// Internal (drive) units to UNIT for a parameter or variable: the plug-in scales to the
// quantity's base unit, and a display unit of the same type is that many base units.
int CmdScale(Session& s, const Invocation& inv) {
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  const CMC_Unit* unit = UnitArgument(s, inv.operands[1]);
  if (unit == nullptr) return kExitError;
  const std::string name = Latin1Name(inv.operands[2]);
  const CMC_Quantity* quantity = setup->FindParameterNoError(name);
  if (quantity == nullptr) quantity = setup->FindVariable(name);
  if (quantity == nullptr)
    return s.Error("no parameter or variable is named " + Quoted(inv.operands[2]));
  const CMC_Unit* base = CMC_Units::Catalogue().FindUnit(quantity->GetBaseUnitName());
  if (base == nullptr || !UnitMeasures(*unit, *base)) {
    return s.Error("unit " + Quoted(inv.operands[1]) + " does not measure " +
                   Utf8(quantity->GetName()) + " (its base unit is " +
                   Quoted(Utf8(quantity->GetBaseUnitName())) + ")");
  }
  const double factor = s.Exports().GetScaleFactor(setup.get(), quantity->GetBaseUnitName().c_str(),
                                                   quantity->GetName().c_str());
  PrintNumber(s.out(), factor / unit->GetFactor());
  std::fputc('\n', s.out());
  return kExitOk;
}

// The offset is counted in internal units: every unit of a type shares its base unit's.
int CmdOffset(Session& s, const Invocation& inv) {
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  const CMC_Unit* unit = UnitArgument(s, inv.operands[1]);
  if (unit == nullptr) return kExitError;
  PrintNumber(s.out(), s.Exports().GetScaleOffset(setup.get(), unit->GetBaseName().c_str()));
  std::fputc('\n', s.out());
  return kExitOk;
}

// Every name the plug-in looks up while `run` runs, in order, each once.
std::vector<std::string> g_looked_up;
void RememberLookup(std::string_view name) {
  if (std::find(g_looked_up.begin(), g_looked_up.end(), name) == g_looked_up.end())
    g_looked_up.emplace_back(name);
}

int CmdTune(Session& s, const Invocation& inv) {
  static const std::map<std::string, const char*> kLoops = {
      {"current", "tune-current"}, {"speed", "tune-speed"}, {"position", "tune-position"}};
  const auto loop = kLoops.find(inv.operands[1]);
  if (loop == kLoops.end())
    return s.Error("unknown loop " + Quoted(inv.operands[1]) + " (current, speed or position)");
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  g_looked_up.clear();
  SetLookupObserver(&RememberLookup);
  const int tuned = RunService(s, *setup, loop->second);
  SetLookupObserver(nullptr);
  if (tuned != 0) return s.Save(*setup, inv);
  // The tunings look their inputs up quietly: name what they looked for and did not find.
  std::string missing;
  for (const std::string& name : g_looked_up) {
    if (setup->FindParameterNoError(name) != nullptr) continue;
    missing += (missing.empty() ? "" : ", ") + Quoted(Utf8(name));
  }
  const std::string cannot = "the " + inv.operands[1] + " controller cannot be tuned: ";
  if (!missing.empty()) return s.Error(cannot + "the setup lacks " + missing);
  return s.Error(cannot + "its pass band, damping and the motor's values give no usable gains");
}

std::string Describe(const CMC_Parameter& p) {
  return FormatNumber(p.GetValueInBaseUnit()) + " " + Utf8(p.GetBaseUnitName()) + " [" +
         FormatNumber(p.GetMinInBaseUnit()) + ", " + FormatNumber(p.GetMaxInBaseUnit()) +
         "] shown in " + Utf8(p.GetUnitName());
}

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
  // One line a parameter: its name, then what each file holds, tab-separated.
  const auto report = [&](const CMC_Parameter& p, std::initializer_list<std::string> fields) {
    std::string line = Shown(p.GetName());
    for (const std::string& field : fields) line += "\t" + PrintableText(field);
    std::fprintf(s.out(), "%s\n", line.c_str());
    ++differences;
  };
  const CMC_Parameters& pa = a->GetParameters();
  for (int i = 0; i < pa.GetParametersCount(); ++i) {
    const CMC_Parameter* other = b->FindParameterNoError(pa[i]->GetName());
    if (other == nullptr) {
      report(*pa[i], {"only in A: " + Describe(*pa[i])});
    } else if (!SameParameter(*pa[i], *other)) {
      report(*pa[i], {"A: " + Describe(*pa[i]), "B: " + Describe(*other)});
    }
  }
  const CMC_Parameters& pb = b->GetParameters();
  for (int i = 0; i < pb.GetParametersCount(); ++i) {
    if (a->FindParameterNoError(pb[i]->GetName()) == nullptr)
      report(*pb[i], {"only in B: " + Describe(*pb[i])});
  }
  return differences == 0 ? kExitOk : kExitDiffer;
}

// What the user moves by hand on the simulated drive while its tests run: the carriage (two pole
// pitches either way from where it started) and the analogue reference's potentiometer. The
// sliders act on whatever simulated drive is connected when they move (none: nothing).
std::vector<gui::SimulatedInput> HandInputs(const std::unique_ptr<CMC_Comm>& drive) {
  auto* simulated = dynamic_cast<sim::SimulatedDrive*>(drive.get());
  if (simulated == nullptr) return {};
  const auto on_simulated = [&drive](auto act) {
    return [&drive, act](double value) {
      if (auto* now = dynamic_cast<sim::SimulatedDrive*>(drive.get())) act(*now, value);
    };
  };
  const double reach_mm = 2.0 * simulated->core().config().motor.pole_pitch_m * 1000.0;
  return {{"Carriage moved by hand", "mm", -reach_mm, reach_mm, 0.0,
           on_simulated([](sim::SimulatedDrive& d, double mm) { d.SetHandPosition(mm / 1000.0); })},
          {"Analogue reference (potentiometer)", "%", 0.0, 100.0, 0.0,
           on_simulated([](sim::SimulatedDrive& d, double percent) {
             d.SetAnalogueInput(percent / 100.0);
           })}};
}

// --drive and --sim exclude each other: the drive's simulation is set where it runs.
std::string DriveChoiceProblem(const Invocation& inv) {
  if (inv.Has("--drive") && inv.Has("--sim"))
    return "--sim sets up the simulated drive of this process; with --drive give it to "
           "axiscore simulate";
  return "";
}

// The drive at the end of a link, its identity noted; null with `error` set.
std::unique_ptr<link::StreamLink> OpenLink(Session& s, const std::string& endpoint,
                                           const link::LinkOptions& options, std::string& error) {
  std::unique_ptr<link::StreamLink> drive = link::StreamLink::Open(endpoint, options, error);
  if (drive) s.Note("drive: " + Utf8(drive->identity().text));
  return drive;
}

int CmdEdit(Session& s, const Invocation& inv) {
  const gui::FrontEnd* desktop = s.Desktop(inv.command);
  if (desktop == nullptr) return kExitError;
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  // The tests the dialogs open run against the simulated drive, paced to the wall clock, or the
  // drive at the other end of the link.
  const SteadyClock wall;
  std::string error;
  if (const std::string problem = DriveChoiceProblem(inv); !problem.empty())
    return s.Error(problem);
  link::LinkOptions options;
  // A slow line must not freeze the window while an answer is awaited.
  options.wait_hook = [] {
    if (Platform* platform = GetPlatform()) platform->DispatchPendingMessages();
  };
  std::unique_ptr<CMC_Comm> drive;
  gui::DriveConnection connection;
  if (inv.Has("--drive")) {
    connection.link = inv.All("--drive").back();
    auto link = OpenLink(s, connection.link, options, error);
    if (!link) return s.Error(error);
    connection.status = "Connected: " + Utf8(link->identity().text);
    drive = std::move(link);
  } else {
    drive = sim::DriveForSetup(*setup, wall, inv.All("--sim"), error);
    connection.status = drive ? "Connected: the simulated drive" : "No drive: " + error;
  }
  if (!drive && inv.Has("--sim")) return s.Error(error);
  if (!drive) {
    // Editing needs no drive; only the tests the dialogs open do.
    s.Note("warning: no simulated drive for the tests (" + error + ")");
    error.clear();
  }
  // The "Drive" window connects another drive between tests: the setup talks to the new one,
  // the one before is closed.
  connection.connect = [&](const std::string& to, std::string& status) -> std::string {
    std::string why;
    std::unique_ptr<CMC_Comm> next;
    if (to.empty()) {
      next = sim::DriveForSetup(*setup, wall, inv.All("--sim"), why);
      status = "Connected: the simulated drive";
    } else {
      auto link = link::StreamLink::Open(to, options, why);
      if (link) status = "Connected: " + Utf8(link->identity().text);
      next = std::move(link);
    }
    if (!next) return why;
    setup->SetComm(next.get());
    drive = std::move(next);
    return "";
  };
  setup->SetComm(drive.get());
  const std::optional<int> accepted = desktop->run_on_desktop(
      [&] { return s.Exports().EditSetup(setup.get()); }, HandInputs(drive), &connection, error);
  setup->SetComm(nullptr);
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

int CmdTest(Session& s, const Invocation& inv) {
  const TestEntry* entry = FindTestEntry(inv.operands[1]);
  if (entry == nullptr) {
    std::string names;
    for (const TestEntry& known : TestEntries())
      names += (names.empty() ? "" : ", ") + std::string(known.name);
    return s.Error("unknown test " + Quoted(inv.operands[1]) + " (" + names + ")");
  }
  TestOptions options;
  for (const std::string& answer : inv.All("--answer")) {
    if (answer != "yes" && answer != "no")
      return s.Error("--answer takes yes or no, not " + Quoted(answer));
    options.keep = answer == "yes";
  }
  for (const std::string& seconds : inv.All("--stop-after")) {
    const std::optional<double> value = ParseNumber(seconds);
    if (!value || *value < 0.0 || *value > 1e6)
      return s.Error("--stop-after takes seconds from 0 to 1000000, not " + Quoted(seconds));
    options.stop_after_s = *value;
  }
  options.tune = inv.Has("--tune");
  for (const std::string& path : inv.All("--export")) options.export_csv = path;
  if (!options.export_csv.empty() && !entry->plots)
    return s.Error("--export: the " + std::string(entry->name) + " test plots no curves");
  for (const std::string& path : inv.All("--picture")) options.picture_png = path;
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  const SetupService open = FindSetupService(OpenDialogServiceName(entry->template_id));
  if (open == nullptr) return s.Error("the plug-in offers no test " + Quoted(entry->name));
  const gui::FrontEnd* desktop = nullptr;
  if (!options.picture_png.empty() && (desktop = s.Desktop("test --picture")) == nullptr)
    return kExitError;
  if (const std::string problem = DriveChoiceProblem(inv); !problem.empty())
    return s.Error(problem);
  const std::vector<std::string> overrides = inv.All("--sim");
  const std::vector<std::string> links = inv.All("--drive");
  const TestOutcome outcome = RunTest(
      *setup, *entry, options,
      [&](const Clock& clock, std::string& error) -> std::unique_ptr<CMC_Comm> {
        if (links.empty()) return sim::DriveForSetup(*setup, clock, overrides, error);
        // The drive is asked to follow the run's virtual clock, so that the run repeats exactly.
        link::LinkOptions link_options;
        link_options.host_clock = &clock;
        return OpenLink(s, links.back(), link_options, error);
      },
      [&](CMC_Setup& target) { return open(&target); },
      [&](DialogModel& dialog, const std::string& png) {
        return desktop->draw_dialog(dialog, png);
      },
      s.out(), s.err());
  if (!outcome.error.empty()) return s.Error(outcome.error);
  if (outcome.kept) {
    if (const int saved = s.Save(*setup, inv); saved != kExitOk) return saved;
  }
  if (!outcome.output_error.empty()) return s.Error(outcome.output_error);
  return outcome.succeeded ? kExitOk : kExitDiffer;
}

std::atomic<bool> g_stop_serving{false};
extern "C" void StopServing(int) { g_stop_serving.store(true); }

// Ctrl+C (and a polite kill) end `simulate` cleanly; the previous handlers come back after.
class StopSignals {
 public:
  StopSignals() {
    g_stop_serving.store(false);
    struct sigaction action {};
    action.sa_handler = &StopServing;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
  }

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

int CmdSimulate(Session& s, const Invocation& inv) {
  const std::vector<std::string> listen = inv.All("--listen");
  if (listen.empty() == !inv.Has("--pty"))
    return s.Error("simulate needs one of --listen HOST:PORT and --pty");
  std::optional<link::FaultPlan> faults;
  for (const std::string& text : inv.All("--faults")) {
    std::string error;
    if (!(faults = link::ParseFaultPlan(text, error))) return s.Error("--faults: " + error);
  }
  auto setup = s.Load(inv.operands[0]);
  if (!setup) return kExitError;
  const std::vector<std::string> overrides = inv.All("--sim");
  std::string error;
  {
    // A setup that makes no drive is reported now, not at the first connect.
    const VirtualClock trial;
    if (!sim::DriveForSetup(*setup, trial, overrides, error)) return s.Error(error);
  }
  link::ServerOptions options;
  options.identity = "Simulated drive (" + setup->GetDescription() + ")";
  options.product_id = setup->GetProductID();
  options.firmware_id = setup->GetFirmwareID();
  options.capabilities = link::kLogger | link::kScope;
  options.watch_faults = true;
  link::DriveServer server(
      [&](const Clock& clock, std::string& why) -> std::unique_ptr<CMC_Comm> {
        return sim::DriveForSetup(*setup, clock, overrides, why);
      },
      options);
  const auto spoil = [&](std::unique_ptr<link::ByteStream> stream) {
    if (!faults) return stream;
    return std::unique_ptr<link::ByteStream>(new link::FaultyStream(std::move(stream), *faults));
  };
  const StopSignals signals;
  const auto note = [&](const std::string& text) { s.Note(text); };
  if (!listen.empty()) {
    std::string host;
    int port = 0;
    if (!link::ParseHostPort(listen.back(), host, port, error))
      return s.Error("--listen: " + error);
    const auto listener = link::TcpListener::Listen(host, port, error);
    if (!listener) return s.Error(error);
    std::fprintf(s.out(), "tcp:%s:%d\n", host.c_str(), listener->port());
    std::fflush(s.out());
    error = server.ServeClients(*listener, g_stop_serving, note, spoil);
  } else {
    const auto pty = link::PtyPort::Open(error);
    if (!pty) return s.Error(error);
    std::fprintf(s.out(), "serial:%s\n", pty->path().c_str());
    std::fflush(s.out());
    const std::unique_ptr<link::ByteStream> line = spoil(pty->TakeStream());
    error = server.Serve(*line, g_stop_serving);
  }
  if (!error.empty()) return s.Error(error);
  return kExitOk;
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
  std::vector<std::string_view> options = {};  // the command's own options it takes
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
    {"edit", 1, 1, true, &CmdEdit, true, {"--sim", "--drive"}},
    {"test",
     2,
     2,
     true,
     &CmdTest,
     true,
     {"--sim", "--drive", "--answer", "--stop-after", "--export", "--picture", "--tune"}},
    {"simulate", 1, 1, false, &CmdSimulate, true, {"--sim", "--listen", "--pty", "--faults"}},
    {"render", 2, 2, false, &CmdRender},
    {"render-template", 2, 2, false, &CmdRenderTemplate, false},
};

const OptionRow* FindOption(std::string_view name) {
  for (const OptionRow& row : kCommandOptions) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

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
    } else if (const OptionRow* option = FindOption(arg)) {
      if (!option->takes_value) {
        inv.options.emplace_back(arg, "");
      } else if (i + 1 >= args.size()) {
        return arg + " needs a value";
      } else {
        inv.options.emplace_back(arg, args[++i]);
      }
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
  for (const auto& [option, value] : inv.options) {
    if (std::find(row->options.begin(), row->options.end(), option) == row->options.end())
      return session.Error(inv.command + " does not take " + option);
  }

  SetErrorReporter([err](const std::string& message) {
    std::fprintf(err, "axiscore: warning: %s\n", message.c_str());
  });
  if (row->needs_plugin && !session.LoadPlugin(inv.plugin_path)) return kExitError;
  const int code = row->run(session, inv);
  SetErrorReporter(nullptr);
  return code;
}

}  // namespace axis::cli
