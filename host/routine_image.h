// CMC_CoffFormat: the image of one drive routine, found by its label.
//
// A commissioning test runs routines that the drive's firmware holds ("Initial_Positioning_Test",
// "Ident_R_or_Rs" ...). The setup file describes them in its "routines" section: for each label the
// user variables the routine takes before it starts ("inputs"), those it delivers ("outputs"), the
// drive variables it leaves results in and the variables it can log (docs/setup-format.md). An
// image is named by the test dialog's GetOutPathName(label) and loaded with ReadCoff; it then holds
// the label and the values of the user variables written before the launch. What the routine
// declares is checked when the test writes, launches or reads (CMC_TestDlg).
#pragma once

#include <string>
#include <string_view>

#include "host/comm.h"

class CMC_CoffFormat {
 public:
  // The image's name: "routines/<label>", as GetOutPathName gives it.
  void SetFileName(std::string name) { file_name_ = std::move(name); }
  const std::string& GetFileName() const { return file_name_; }
  // Takes the label from the name; 0 when the name holds none.
  int ReadCoff();

  const std::string& Label() const { return label_; }
  // The values to give the routine when it is launched, in the order first written.
  const axis::UserVariables& Inputs() const { return inputs_; }
  void SetInput(std::string_view name, double value);
  // The routine was launched from this image in the present run: its user variables live in the
  // drive until the run ends.
  void MarkLaunched(bool launched) { launched_ = launched; }
  bool Launched() const { return launched_; }

 private:
  std::string file_name_;
  std::string label_;
  axis::UserVariables inputs_;
  bool launched_ = false;
};
