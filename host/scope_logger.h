// The drive's oscilloscope seen from the host, and the simple two-trace view.
//
// CMC_ScopeLogger: the tests set it up like a logger (AddVariable with flag 1 makes a column of
// curve set 0), choose the acquisition and trigger (ChangeSettings) and each channel's vertical
// scale (RescaleVariable), and pass it to CMC_TestDlg::ExecuteCode: the routine is launched and
// the drive's scope armed (CMC_Comm::StartScope). While the routine runs the drive streams frames
// (host/scope_frame.h) as unsolicited messages; the test's handler gives each to OnFrameReceive,
// which stores the points in a circular buffer of GetPointsNo() points (curve set 0's rows, in
// each channel's unit) and says which to draw. EndUploadData disarms the scope.
//
// Display: the scope screen has kDivisions vertical divisions, -kDivisions/2 to +kDivisions/2
// around its centre line; each channel is drawn at (value - offset) / scale divisions, `scale`
// being its units per division and `offset` the value on the centre line. The settings
// (acquisition, trigger, channels' scales and offsets) can be edited in a dialog, fitted to the
// points shown (Autoscale), reset, stored in a setup option as text and saved to or loaded from a
// file; the text and the file hold the channels' variables and curve set 0's curves as well, so
// that loading them brings back the whole screen.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/logger.h"
#include "host/scope_frame.h"

class CMC_EditSetupDlg;

class CMC_ScopeLogger : public CMC_Logger {
 public:
  static constexpr int kDivisions = 8;
  static constexpr int kDefaultPoints = 1000;
  static constexpr int kMinPoints = 2;
  static constexpr int kMaxPoints = 16384;
  static constexpr double kDefaultTimeBase = 1.0;  // s
  // The setup parameter holding the drive's slow-loop period (s): the scope samples every whole
  // number of those periods.
  static constexpr const char* kSlowLoopPeriod = "Ts_S";

  explicit CMC_ScopeLogger(CMC_Setup& setup);

  // A channel: the drive variable `name`, also a column of curve set 0 (whatever `flag`). Returns 0
  // for an empty name or when the scope already has axis::ScopeRequest::kMaxChannels channels.
  int AddVariable(const char* name, int flag) override;

  // Acquisition over `time_base_s` (the span of one acquisition; the drive's sample period is
  // the nearest whole number of slow-loop periods to time_base_s / points), trigger `mode` (1 auto,
  // 2 normal, 4 single shot; see axis::ScopeRequest), `slope` (1 rising, 0 falling), trigger
  // variable (null: none) and its `level` (physical units), `pretrigger_percent` (brought into
  // 0..100). Returns 0 and changes nothing for a time base that is not positive and finite, a mode
  // that is none of those or a level that is not finite.
  int ChangeSettings(double time_base_s, int mode, int slope, const char* trigger_variable,
                     double level, int pretrigger_percent);
  // Channel `channel` (0-based, the order added): the unit it is shown in (a unit of its
  // variable's type, "mm/s" for a speed, converts the points; any other name only labels them),
  // its units per division and its offset (the value on the centre line), both in that unit.
  // Returns 0 for a channel that does not exist, a scale that is not positive and finite or an
  // offset that is not finite.
  int RescaleVariable(int channel, const char* unit_name, double scale, double offset);
  // Steps a channel's scale along 1-2-5 (`step` > 0: larger, < 0: smaller, |step| steps), keeping
  // its offset; non-zero when it changed (the scale stays within 1e-9..1e9).
  int ChangeChannelScale(int channel, int step);
  // Fits every channel with finite points to them: the scale is the smallest 1-2-5 value at least
  // a sixth of the points' span (of their magnitude when they are constant), the offset the
  // points' middle rounded to a whole number of divisions, so that they lie within +-3.5
  // divisions. Non-zero when something changed.
  int Autoscale();
  // Back to the state of a new logger: no variables, no curves, no points, default settings.
  virtual void SetDefaultValues();
  // The settings dialog (template kSettingsTemplate: time base, trigger, channels' scales and
  // offsets); non-zero when the user confirmed a change.
  int Edit(CMC_EditSetupDlg* parent);

  // The settings as one line of text (JSON, see docs/plots.md) / read back from one. Set returns 0
  // (and changes nothing) for an empty or malformed text; GetLastErrorText says why.
  std::string SettingsText() const;
  int SetSettingsText(const std::string& text);
  int LoadSettingsFromSetupOption(const char* option);  // non-zero when the option held settings
  void SaveSettingsToSetupOption(const char* option);
  // The settings and the points held, to and from a file. Non-zero on success; a failure is shown
  // in a message box and GetLastErrorText says why. A malformed file changes nothing.
  int Load(const char* path);
  int Save(const char* path);

  // The points per acquisition brought into kMinPoints..kMaxPoints; returns it.
  int CorrectPointsNo() override;
  // Finds the channels' variables (their units for the conversion of the points).
  int LocateItems() override;
  // Arms the drive's scope through the setup's link (CMC_Comm::StartScope) and empties the
  // points; non-zero when streaming has begun.
  int BeginUploadData() override;
  // Without streaming there are no points to read: always 0.
  int ReadPoint(double* values) override;
  // Non-zero while streaming: from BeginUploadData until EndUploadData.
  int UploadInProgress() const override { return streaming_ ? 1 : 0; }
  // Disarms the scope (CMC_Comm::StopScope).
  void EndUploadData() override;
  // What the drive is asked for (the trigger level in internal units).
  axis::ScopeRequest Request() const;
  // The time between two samples: the slow-loop periods the request asks for, or time base /
  // points when the setup has no slow-loop period.
  double SamplePeriod() const;

  // A frame's payload (`bytes`, from byte 6 of the message on): its points enter the circular
  // buffer, sample k of an acquisition at slot k modulo GetPointsNo(), and curve set 0 (row: time
  // k x SamplePeriod(), then each channel in physical units). Returns the number of new points, 0
  // for none, -1 for a malformed frame (GetLastErrorText says why) or one with more channels
  // than the scope has.
  int OnFrameReceive(int byte_count, const unsigned char* bytes);
  // The points to draw since the last call: the first slot in the circular buffer and how many
  // (consecutive slots, wrapping at GetPointsNo()); count 0 when there are none.
  void GetPointsToBeDrawn(int& first, int& count);
  // Non-zero once the drive has ended a single-shot acquisition (a frame flagged final).
  int DoGracefulStop() const { return final_ ? 1 : 0; }

  struct Channel {
    std::string unit;
    double scale = 1.0;
    double offset = 0.0;
  };
  const std::vector<Channel>& Channels() const { return channels_; }
  double GetTimeBase() const { return time_base_s_; }
  int GetMode() const { return mode_; }
  int GetSlope() const { return slope_; }
  const std::string& GetTriggerVariable() const { return trigger_variable_; }
  double GetLevel() const { return level_; }
  int GetPretrigger() const { return pretrigger_percent_; }

  // The scale after `scale` along 1-2-5 ..., 0.1, 0.2, 0.5, 1, 2, 5, ... (`up`: the next larger,
  // else the next smaller); a scale off that series goes to its neighbour on it.
  static double NextScale125(double scale, bool up);
  // The smallest 1-2-5 value not below x (x > 0).
  static double CeilScale125(double x);

  static constexpr int kSettingsTemplate = 121;

 private:
  friend class CMC_ScopeSettingsDlg;
  struct Settings;
  Settings Current() const;
  void Apply(const Settings& settings);
  // The scale and offset of each channel, and the screen, into curve set 0 for the graph.
  void ShowOnScreen();
  void SetError(std::string text);
  // The setup's slow-loop period (s), NaN when it has none; the slow-loop periods per sample.
  double SlowLoopPeriod() const;
  int SampleEvery() const;
  void PreparePhysical();
  void MarkForDrawing(int slot);

  double time_base_s_ = kDefaultTimeBase;
  int mode_ = 1;
  int slope_ = 1;
  std::string trigger_variable_;
  double level_ = 0.0;
  int pretrigger_percent_ = 0;
  std::vector<Channel> channels_;
  bool streaming_ = false;
  bool final_ = false;
  int drawn_index_ = 0;  // the first slot not yet given to draw
  int pending_ = 0;      // slots to draw from drawn_index_ on
  // The circular buffer: GetPointsNo() rows of the time and each channel; NaN time: empty slot.
  std::vector<double> buffer_;
  // Per channel, from internal units to the channel's unit: (internal + second) x first.
  std::vector<std::pair<double, double>> physical_;
  axis::ScopeFrame frame_;  // reused, so that frames allocate nothing
  std::vector<double> row_;
};

// Asks for a scope file to open (`open` non-zero) or save as; `name` proposes the file (without
// extension: "<name>.scope") and receives the path chosen. Non-zero when the user chose one.
int DoPromptScopeLoggerFileName(int open, std::string& name);

// The simple oscilloscope view: a few traces, each drawn between an upper and a lower bound, to
// which the live polling loop appends the items' current values.
class CMC_Oscilloscope : public axis::CustomControl {
 public:
  struct Item {
    double upper = 1.0;
    double lower = -1.0;
    double value = 0.0;
    axis::Colour colour = 0;
  };
  std::string_view Kind() const override { return "oscilloscope"; }
  // Shows the view in control `control_id` of `dialog`; 1 when attached.
  int SubclassDlgItem(int control_id, CMC_EditSetupDlg* dialog);
  // A fresh view with `items` traces (brought into 0..kMaxItems) and no points; `title` is drawn
  // on top. `flags` is kept for the caller.
  void Initialize(const char* title, int items, int flags);
  Item* GetItem(int index);  // null outside 0..items-1
  const Item* GetItem(int index) const;
  int GetItemCount() const { return static_cast<int>(items_.size()); }
  const std::string& GetTitle() const { return title_; }
  // Appends every item's current value as the newest point of its trace.
  void UpdateLastPoint();
  // The traces' points (oldest first), at most kHistory each; empty for an unknown item.
  static constexpr int kHistory = 2000;
  static constexpr int kMaxItems = 8;
  std::vector<double> History(int item) const;
  // Points appended in all, so that a widget can tell what it has drawn.
  uint64_t GetPointCount() const { return appended_; }
  // Where a value of item `index` lies between its bounds: 0 at the lower, 1 at the upper; NaN
  // when the bounds are equal or not finite or the value is NaN.
  double Fraction(int index, double value) const;
  void Repaint() { Changed(); }

 private:
  std::string title_;
  std::vector<Item> items_;
  // One ring of kHistory values per item; next_ is the slot the next point goes to.
  std::vector<std::vector<double>> history_;
  size_t next_ = 0;
  size_t filled_ = 0;
  uint64_t appended_ = 0;
};
