#include "editor/dialog_catalogue.h"

#include "commissioning/analogue_reference_test.h"
#include "commissioning/angle_tuning.h"
#include "commissioning/current_tuning.h"
#include "commissioning/encoder_tests.h"
#include "commissioning/hall_tests.h"
#include "commissioning/mass_test.h"
#include "commissioning/phase_connections.h"
#include "commissioning/rl_identification.h"
#include "commissioning/tuning_test.h"
#include "commissioning/vdc_detection.h"
#include "conversions/scales.h"
#include "editor/advanced_dialog.h"
#include "editor/analog_reference_dlg.h"
#include "editor/drive_info.h"
#include "editor/drive_setup_dlg.h"
#include "editor/filters_dialog.h"
#include "editor/mass_question.h"
#include "editor/motor_setup_dialog.h"

namespace kestrel {

namespace {

template <typename Dialog>
int Open(CMC_Setup* setup) {
  if (setup == nullptr) return 0;
  Dialog dialog(*setup, nullptr);
  return dialog.DoModal();
}

// The current controller and the resistance and inductance tests run with the sinusoidal voltage
// scale, however they are opened.
template <typename Dialog>
int OpenSinusoidal(CMC_Setup* setup) {
  const SinusoidalModeWhile sinusoidal(true);
  return Open<Dialog>(setup);
}

constexpr SetupDialogEntry kDialogs[] = {
    {106, &Open<CDriveSetupDlg>},
    {108, &Open<CMotorSetupDialog>},
    {110, &Open<CAdvancedDialog>},
    {111, &Open<CAnalogReferenceDlg>},
    {295, &Open<CFiltersDialog>},
    {3018, &Open<CDriveInfo>},
    {3056, &Open<CMassQuestion>},
    {CTestVdcDetection::kTemplate, &Open<CTestVdcDetection>},
    {CTestPhaseConnections::kTemplate, &Open<CTestPhaseConnections>},
    {CTestRL::kTemplate, &OpenSinusoidal<CTestRL>},
    {CTestCurrent::kTemplate, &OpenSinusoidal<CTestCurrent>},
    {CTestEncoderConnections::kTemplate, &Open<CTestEncoderConnections>},
    {CDetectEncoderResolution::kTemplate, &Open<CDetectEncoderResolution>},
    {CTestHallSignals::kTemplate, &Open<CTestHallSignals>},
    {CTestHallConfiguration::kTemplate, &Open<CTestHallConfiguration>},
    {CTestAnalogueRef::kTemplate, &Open<CTestAnalogueRef>},
    {CTestAngle::kTemplate, &Open<CTestAngle>},
    {CTotalMassTest::kTemplate, &Open<CTotalMassTest>},
    {CTestSpeedTuning::kTemplate, &Open<CTestSpeedTuning>},
    {CTestPositionTuning::kTemplate, &Open<CTestPositionTuning>},
};

}  // namespace

std::span<const SetupDialogEntry> SetupDialogs() { return kDialogs; }

}  // namespace kestrel
