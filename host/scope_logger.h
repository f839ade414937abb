// The drive's oscilloscope seen from the host, and the simple two-trace view.
//
// CMC_ScopeLogger: the tests set it up like a logger (AddVariable with flag 1 makes a column of
// curve set 0), choose the acquisition and trigger (ChangeSettings) and each channel's vertical
// scale (RescaleVariable), and pass it to CMC_TestDlg::ExecuteCode: the routine is launched and
// the drive's scope armed (CMC_Comm::StartScope). While the routine runs the drive streams frames
// (host/scope_frame.h) as unsolicited messages; the test's handler gives each to OnFrameReceive,
// which stores the points in a circular buffer of GetPointsNo() points (curve set 0's rows, in
// physical units) and says which to draw. EndUploadData disarms the scope.
//
// Display: the scope screen has kDivisions vertical divisions; each channel is drawn as
// (value + offset) / scale divisions, `scale` being its units per division. The settings
// (acquisition, trigger, channels' scales and offsets) can be edited in a dialog, fitted to the
// points shown (Autoscale), reset, stored in a setup option as text and saved to or loaded from a
// file.
#pragma once

#include <string>
#include <vector>

#include "host/logger.h"

class CMC_ScopeLogger : public CMC_Logger {
 public:
  static constexpr int kDivisions = 8;
  static constexpr int kDefaultPoints = 1000;

  explicit CMC_ScopeLogger(CMC_Setup& setup);

  // Acquisition over `time_base_s` (the span of one acquisition; the drive's sample period is
  // the nearest whole number of slow-loop periods to time_base_s / points), trigger `mode` (1 auto,
  // 2 normal, 4 single shot; see axis::ScopeRequest), `slope` (1 rising, 0 falling), trigger
  // variable (null: none) and its `level` (physical units), `pretrigger_percent` (0..100).
  // Returns 0 and changes nothing for a time base that is not positive and finite or a mode
  // that is none of those.
  int ChangeSettings(double time_base_s, int mode, int slope, const char* trigger_variable,
                     double level, int pretrigger_percent);
  // Channel `channel` (0-based, the order added): its unit name as shown, units per division and
  // offset (physical units). Returns 0 for a channel that does not exist or a scale that is not
  // positive and finite.
  int RescaleVariable(int channel, const char* unit_name, double scale, double offset);
  // Steps a channel's scale along 1-2-5 (`step` > 0: larger, < 0: smaller); non-zero when it
  // changed.
  int ChangeChannelScale(int channel, int step);
  // Fits every channel's scale and offset to the points held; non-zero when something changed.
  int Autoscale();
  // Back to the state of a new logger (no variables, default settings).
  virtual void SetDefaultValues();
  // The settings dialog (time base, trigger, channels); non-zero when the user changed something.
  int Edit(CMC_EditSetupDlg* parent);

  // The settings as one line of text / read back from one. Load returns 0 (and changes nothing)
  // for an empty or malformed text.
  std::string SettingsText() const;
  int SetSettingsText(const std::string& text);
  int LoadSettingsFromSetupOption(const char* option);  // non-zero when the option held settings
  void SaveSettingsToSetupOption(const char* option);
  // The settings and the points held, to and from a file.
  int Load(const char* path);
  int Save(const char* path);

  int CorrectPointsNo() override;
  // Arms the drive's scope through the setup's link; non-zero when streaming has begun.
  int BeginUploadData() override;
  // Without streaming there are no points to read: always 0.
  int ReadPoint(double* values) override;
  int UploadInProgress() const override;
  // Disarms the scope (CMC_Comm::StopScope).
  void EndUploadData() override;
  // What the drive is asked for (the trigger level in internal units).
  axis::ScopeRequest Request() const;

  // A frame's payload (`bytes`, from byte 6 of the message on): its points enter the circular
  // buffer. Returns the number of new points, 0 for none, -1 for a malformed frame.
  int OnFrameReceive(int byte_count, const unsigned char* bytes);
  // The points to draw since the last call: the first index in the circular buffer and how many.
  void GetPointsToBeDrawn(int& first, int& count);
  // Non-zero once the drive has ended a single-shot acquisition.
  int DoGracefulStop() const;

  struct Channel {
    std::string unit;
    double scale = 1.0;
    double offset = 0.0;
  };
  const std::vector<Channel>& Channels() const { return channels_; }

 private:
  double time_base_s_ = 1.0;
  int mode_ = 1;
  int slope_ = 1;
  std::string trigger_variable_;
  double level_ = 0.0;
  int pretrigger_percent_ = 0;
  std::vector<Channel> channels_;
  bool streaming_ = false;
  bool final_ = false;
  int write_index_ = 0;
  int drawn_index_ = 0;
  int pending_ = 0;
};

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
  // A fresh view with `items` traces and no points; `title` is drawn on top.
  void Initialize(const char* title, int items, int flags);
  Item* GetItem(int index);  // null outside 0..items-1
  int GetItemCount() const { return static_cast<int>(items_.size()); }
  // Appends every item's current value as the newest point of its trace.
  void UpdateLastPoint();
  // The traces' points (oldest first), at most kHistory each.
  static constexpr int kHistory = 2000;
  const std::vector<double>& History(int item) const;
  void Repaint() { Changed(); }

 private:
  std::string title_;
  std::vector<Item> items_;
  std::vector<std::vector<double>> history_;
};
