// Loggers: drive variables recorded while a routine runs, uploaded afterwards, read point by point
// and plotted.
//
// The test dialog sets a logger up (settings, variables), passes its Request() with the routine it
// launches (CMC_Comm::Launch), and once the routine has ended uploads the record:
// BeginUploadData, then ReadPoint until it returns 0. ReadPoint with an array delivers the point
// as the drive recorded it (internal units); without one it puts the point, in physical units,
// into the logger's curve set 0, which a plot (CGraphWindow) shows.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/comm.h"
#include "host/plot.h"

class CMC_Setup;
class CMC_Variable;
class CMC_CoffFormat;  // a compiled drive routine (a routine image)

// What every logger shares: the setup, the variables, the number of points, the curve sets.
class CMC_Logger {
 public:
  explicit CMC_Logger(CMC_Setup& setup);
  virtual ~CMC_Logger() = default;
  CMC_Logger(const CMC_Logger&) = delete;
  CMC_Logger& operator=(const CMC_Logger&) = delete;

  // Logs the drive variable `name`. Flag 1: it is also a column of curve set 0 (columns count from
  // 1 in the order such variables were added; column 0 is the time), which curves can show; any
  // other flag (0): it is only read through ReadPoint with an array. Returns 0 for an empty name.
  virtual int AddVariable(const char* name, int flag);
  int GetVariablesCount() const { return static_cast<int>(variables_.size()); }
  // How many values ReadPoint writes into an array: the time, then one per variable.
  int GetValuesPerPoint() const { return 1 + GetVariablesCount(); }

  // Brings the number of points into what the drive can record (see the derived logger).
  virtual int CorrectPointsNo() = 0;
  // Finds every logged variable in the setup (and takes its unit for its curve column); 0 when one
  // is missing (GetLastErrorText names it), 1 otherwise.
  virtual int LocateItems();
  // Fetches the record; non-zero when points can be read.
  virtual int BeginUploadData() = 0;
  // Delivers the next point (see the derived logger); 0 when there is none left.
  virtual int ReadPoint(double* values) = 0;
  virtual int UploadInProgress() const = 0;
  virtual void EndUploadData() = 0;
  int GetPointsNo() const { return points_; }

  // The curve sets; set 0 receives the points read without an array.
  CGraphDocument& GetDocument() { return document_; }
  const CGraphDocument& GetDocument() const { return document_; }

  // Saves the plots: asks the user for a file (save dialog, default "<name>.csv", "Plots" without
  // a name) and writes curve set 0 there as CSV (CGraphFilter::AsciiText), and beside it the
  // picture of the set zoomed out, as SVG under the same name with the extension ".svg"
  // ("run.csv" gives "run.svg"; a chosen "run.svg" gives "run.svg.svg"). Returns 1 when both were
  // written, 0 when the user cancelled or a file could not be written (shown in a message box).
  int SaveGraph(const char* name);

  // Why the last operation failed, "" when it did not.
  const std::string& GetLastErrorText() const { return error_; }

 protected:
  struct Logged {
    std::string name;
    int flag = 0;
    CMC_Variable* variable = nullptr;  // found by LocateItems
  };
  // Forgets the variables and the curves' points (a new set-up).
  void ClearVariables();
  // Every variable looked up again; true when all were found.
  bool Locate();
  // Per variable, in the order added: the factor and offset from internal to physical units,
  // (internal + offset) x factor; (1, 0) for a variable the setup lacks.
  std::vector<std::pair<double, double>> PhysicalScales() const;
  // The curve set 0 column of each variable (0 for one that is not plotted).
  std::vector<int> Columns() const;

  CMC_Setup& setup_;
  std::vector<Logged> variables_;
  int points_ = 0;
  CGraphDocument document_;
  std::string error_;
};

// The logger of one axis: the drive records the variables into its log memory at the end of every
// fast-loop or slow-loop period (keeping one sample in n) while a routine runs.
class CMC_SingleAxisLogger : public CMC_Logger {
 public:
  // The drive's log memory holds kLogMemoryValues values, one per variable and point; a record has
  // at most kMaxPoints points.
  static constexpr int kLogMemoryValues = 16384;
  static constexpr int kMaxPoints = 4096;

  // `image`: the routine the logger belongs to, or null; kept for the test, never read here.
  CMC_SingleAxisLogger(CMC_Setup& setup, const CMC_CoffFormat* image);

  // A new set-up: `points` per record (see CorrectPointsNo), log type 1 (every slow-loop period) or
  // 2 (every fast-loop period), one sample kept in `every`. The variables are forgotten: add them
  // after. Returns 0 and changes nothing for another log type or `every` below 1.
  int ChangeSettings(int points, int log_type, int every);

  // The number of points brought into 1..MaxPoints(); returns it.
  int CorrectPointsNo() override;
  // The most points the drive records of the present variables: kMaxPoints, or fewer when the log
  // memory cannot hold that many of each (kLogMemoryValues / variables).
  int MaxPoints() const;

  // What the drive is asked to record (its number of points already corrected).
  axis::LogRequest Request() const;

  // Fetches the record through the setup's drive link (CMC_Comm::UploadLog) and empties the curves
  // of set 0. Returns 1 when it holds points; 0 without a drive, when the upload failed or when the
  // record is empty (GetLastErrorText says which).
  int BeginUploadData() override;
  // True when the last BeginUploadData reached the drive but the record held no point.
  bool RecordEmpty() const { return record_empty_; }
  // The next point, non-zero while there is one. With `values` (room for GetValuesPerPoint()
  // doubles): the time in s, then each variable's value in internal units as the drive recorded
  // it, in the order added. With null: the point goes into curve set 0 as a row (the time, then
  // each flag-1 variable in physical units: (internal + offset) x factor, the variable's scale; a
  // variable the setup lacks stays in internal units). A value the record lacks reads NaN.
  int ReadPoint(double* values) override;
  // Non-zero from a successful BeginUploadData until ReadPoint has reported the end or
  // EndUploadData ran.
  int UploadInProgress() const override { return uploading_ ? 1 : 0; }
  void EndUploadData() override { uploading_ = false; }

  const CMC_CoffFormat* GetImage() const { return image_; }

 private:
  const CMC_CoffFormat* image_;
  axis::LogRequest::Rate rate_ = axis::LogRequest::Rate::kSlowLoop;
  int every_ = 1;
  std::vector<axis::LogPoint> record_;
  bool record_empty_ = false;
  size_t next_ = 0;
  bool uploading_ = false;
  // Per variable, taken at BeginUploadData: factor and offset to physical units.
  std::vector<std::pair<double, double>> scales_;
};
