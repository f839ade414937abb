// "Motor mass": asked by the identification tests when the motor alone weighs more than the total
// moving mass set so far. The user either raises the total mass or tells the drive to disregard
// the motor mass.
#pragma once

#include "editor/my_setup_dlg.h"

class CMassQuestion : public CMySetupDlg {
 public:
  static constexpr int kTemplateId = 3056;
  static constexpr int kIncreaseTotalMass = 3333;
  static constexpr int kDisregardMotorMass = 3334;

  CMassQuestion(CMC_Setup& setup, CMC_EditSetupDlg* parent)
      : CMySetupDlg(setup, kTemplateId, 1, nullptr, parent) {}

  // 0 no choice, 1 increase the total mass, 2 disregard the motor mass.
  int Selection() const { return selection_; }

  int OnInitDialog() override;
  void OnCommand(int id) override;
  void OnOK() override;

 private:
  void Refresh();

  int selection_ = 1;
};
