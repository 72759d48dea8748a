#include "controls/BDRadioButton.h"

#include "controls/ControlUtil.h"

namespace controls {

TBDRadioButton::TBDRadioButton(QWidget* parent) : TBDButton(parent) {}

void TBDRadioButton::SetChecked(bool value) {
  if (FBolUpdatingChecked) return;  // set from inside its own reaction: no effect
  const detail::TFlagScope updating(FBolUpdatingChecked);
  FrameworkSetChecked(value);
}

void TBDRadioButton::FrameworkSetChecked(bool value) {
  if (isChecked() == value) return;
  if (value) {
    QRadioButton::setChecked(true);  // unchecks the radio buttons beside it
    Click();
    return;
  }
  // Qt refuses to uncheck the checked button of an exclusive set; the framework does not.
  const bool exclusive = autoExclusive();
  setAutoExclusive(false);
  QRadioButton::setChecked(false);
  setAutoExclusive(exclusive);
}

void TBDRadioButton::nextCheckState() { SetChecked(true); }

}  // namespace controls
