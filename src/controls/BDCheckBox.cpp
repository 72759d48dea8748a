#include "controls/BDCheckBox.h"

namespace controls {

TBDCheckBox::TBDCheckBox(QWidget* parent) : TBDButton(parent) {
  QCheckBox::setChecked(true);  // starts checked
}

void TBDCheckBox::SetChecked(bool value) {
  if (isChecked() == value) return;
  QCheckBox::setChecked(value);
  Click();  // the framework clicks on every change of the state
}

void TBDCheckBox::DblClick() {
  // The parent is not notified here: each of the two clicks of a double click already toggled
  // the box and notified the panel; a third notification would toggle the panel alone.
  if (OnDblClick) OnDblClick(this);
}

void TBDCheckBox::nextCheckState() { SetChecked(!Checked()); }

}  // namespace controls
