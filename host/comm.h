// CMC_Comm: the drive link, the one way the host reaches a drive.
//
// The commissioning tests talk to the drive only through this interface: read and write drive
// variables and register parameters, send a command line, launch a routine by label with its user
// variables, read and write the user variables of a routine in the drive, ask whether the power
// stage is on, have the drive record variables while a routine runs and upload the record. Behind
// it sit the simulated drive (sim/), a scripted drive in the tests, and later a stream link that
// speaks to a real drive over a serial line or TCP.
//
// Values cross in the drive's own internal units, as doubles: what the drive holds as an integer
// crosses as a whole number; the host converts to and from physical units with the plug-in's
// scale factors (CMC_Quantity::ScaleFactor).
//
// Every operation returns false when it failed; GetLastErrorText then says why, in a text fit to
// show the user ("the drive does not answer", "no drive variable \"XYZ\"" ...).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace axis {

// The user variables given to a routine when it is launched: name and value (internal units).
using UserVariables = std::vector<std::pair<std::string, double>>;

// How the drive records while a routine runs. Each point is taken at the end of a control-loop
// period and holds the variables' values (internal units) in the order listed.
struct LogRequest {
  // The tests' log types: 1 for the speed and position loops' runs, 2 for the current loop's.
  enum class Rate : int {
    kSlowLoop = 1,  // every slow-loop (speed and position loop) period
    kFastLoop = 2,  // every fast-loop (current-loop) period
  };
  std::vector<std::string> variables;  // drive variable names
  int points = 0;                      // how many points at most; the record stops when full
  Rate rate = Rate::kFastLoop;
  int every = 1;  // keep one sample in `every`
};

// One recorded point: the time since the routine was launched (s), then one value per variable.
using LogPoint = std::vector<double>;

// The drive's oscilloscope: while armed it samples up to four variables every `every` slow-loop
// periods into an acquisition of `points` samples and streams each acquisition to the host as
// unsolicited scope frames (host/scope_frame.h) while it fills.
struct ScopeRequest {
  enum class Mode : int {
    kAuto = 1,    // no trigger: acquisitions follow one another
    kNormal = 2,  // every trigger starts an acquisition (the drive re-arms after each)
    kSingle = 4,  // the first trigger starts the one acquisition; then the scope stops
  };
  std::vector<std::string> variables;  // drive variable names, at most kMaxChannels
  int points = 0;                      // samples per acquisition
  int every = 1;                       // one sample every `every` slow-loop periods
  Mode mode = Mode::kAuto;
  std::string trigger_variable;  // one of `variables`; empty: the acquisition starts at once
  bool rising = true;            // trigger on the level crossed upwards (else downwards)
  double trigger_level = 0.0;    // internal units
  int pretrigger_points = 0;     // samples kept from before the trigger, 0..points
  static constexpr int kMaxChannels = 4;
};

// An unsolicited drive message, as 16-bit words: word 0 the number of payload words, word 1 a
// sequence number, word 2 the message kind, then the payload.
using UnsolicitedMessage = std::vector<uint16_t>;
constexpr uint16_t kScopeFrameKind = 0xE900;

}  // namespace axis

// Receives an unsolicited message (`count` words); returns kScopeFrameKind when it did not take
// it, else what it made of it (for scope frames: the number of new points, below 1 for none).
using UnsolicitedMsgHandler = int (*)(const uint16_t* words, int count);

class CMC_Comm {
 public:
  virtual ~CMC_Comm() = default;

  // Drive variables by name ("MER", "APOS", "var_i1" ...), internal units.
  virtual bool ReadVariable(std::string_view name, double& internal) = 0;
  virtual bool WriteVariable(std::string_view name, double internal) = 0;
  // Register parameters by name ("KPI", "SFTKPI", "PWMPER" ...), internal units. A register the
  // drive does not have is refused.
  virtual bool ReadRegister(std::string_view name, double& internal) = 0;
  virtual bool WriteRegister(std::string_view name, double internal) = 0;

  // A command line in the drive's own command language ("!CAP;ENCAPI1;").
  virtual bool ExecuteString(std::string_view command) = 0;

  // Launches the routine `label` with the given user variables. Every other user variable of the
  // routine reads 1.2345e100 until the routine delivers it; "STARTED" reads 0 until the routine has
  // begun. With a log request the drive records while the routine runs, replacing the previous
  // record. Launching while another routine runs stops that one first.
  virtual bool Launch(std::string_view label, const axis::UserVariables& inputs,
                      const axis::LogRequest* log) = 0;
  // The user variables of the routine last launched under `label`, as the drive holds them now
  // (also after the routine has ended). Writing reaches a running routine at once.
  virtual bool ReadUserVariable(std::string_view label, std::string_view name, double& value) = 0;
  virtual bool WriteUserVariable(std::string_view label, std::string_view name, double value) = 0;
  // Whether the power stage is on; a routine switches it off when it ends.
  virtual bool GetAxisOn(bool& on) = 0;
  // Switches the power stage off and ends any routine (the user stopped a test).
  virtual bool AxisOff() = 0;

  // The points of the last record, oldest first; false when there is none.
  virtual bool UploadLog(std::vector<axis::LogPoint>& points) = 0;

  // Why the last operation failed.
  virtual std::string GetLastErrorText() const = 0;

  // Arms the drive's oscilloscope (it then streams frames while a routine runs) / disarms it. A
  // drive without one refuses.
  virtual bool StartScope(const axis::ScopeRequest& request) {
    (void)request;
    return false;
  }
  virtual bool StopScope() { return true; }

  // Unsolicited messages wait in the link until the host asks for them: CheckForUnrequestedMessages
  // hands every pending one, oldest first, to `handler` (null: the registered handler; none: they
  // are dropped). Registering returns the handler registered before, so that it can be restored.
  UnsolicitedMsgHandler RegisterReceiveUnsolicitedMsgHandler(UnsolicitedMsgHandler handler) {
    std::swap(handler_, handler);
    return handler;
  }
  void CheckForUnrequestedMessages(UnsolicitedMsgHandler handler) {
    pending_.clear();
    TakeUnsolicited(pending_);
    if (handler == nullptr) handler = handler_;
    if (handler == nullptr) return;
    for (const axis::UnsolicitedMessage& message : pending_)
      if (!message.empty()) handler(message.data(), static_cast<int>(message.size()));
  }

 protected:
  // Moves the messages received since the last call into `messages` (appended, oldest first).
  virtual void TakeUnsolicited(std::vector<axis::UnsolicitedMessage>& messages) { (void)messages; }

 private:
  UnsolicitedMsgHandler handler_ = nullptr;
  std::vector<axis::UnsolicitedMessage> pending_;
};
