#include "editor/mass_question.h"

int CMassQuestion::OnInitDialog() {
  const int result = CMySetupDlg::OnInitDialog();
  Refresh();
  return result;
}

void CMassQuestion::Refresh() {
  SetCheck(kIncreaseTotalMass, selection_ == 1 ? 1 : 0);
  SetCheck(kDisregardMotorMass, selection_ == 2 ? 1 : 0);
  EnableChild(axis::kIdOk, selection_ == 1 || selection_ == 2);
}

void CMassQuestion::OnCommand(int id) {
  if (id == kIncreaseTotalMass || id == kDisregardMotorMass) {
    selection_ = id == kIncreaseTotalMass ? 1 : 2;
    Refresh();
    return;
  }
  CMySetupDlg::OnCommand(id);
}

void CMassQuestion::OnOK() {
  if (selection_ == 0) {
    MessageBox("No selection has been made. The dialog can only close if you make a selection.",
               axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
    return;
  }
  if (selection_ == 1) {
    setup_.SetParameterValueInBaseUnit("Mt", setup_.GetParameterValueInBaseUnit("M") * 1.01);
  } else {
    setup_.SetParameterValueInBaseUnit("isMotorMassUnknown", 1.0);
  }
  CMySetupDlg::OnOK();
}
