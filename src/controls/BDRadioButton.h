// TBDRadioButton: a radio button with a hint, a dynamic font height, parent
// notification and a re-entry guard on Checked.
//
// Promises (besides those of TBDButton, which it shares: caption, font, hint, Click with
// ClickNotifyParent, events):
// - Unchecked after construction.
// - SetChecked(value) does nothing while a SetChecked of this button runs (BolUpdatingChecked),
//   so setting Checked from inside its own reaction (OnClick, the parent's ChildClicked) has no
//   effect. Otherwise it performs the framework's set-checked: when the state changes, checking
//   unchecks the radio buttons beside it (same parent) and runs Click(); unchecking runs no
//   Click. A radio button can be unchecked by SetChecked(false) even when it is the checked one
//   of its parent (the touch panel releases its radio buttons so).
// - A click of the user is a SetChecked(true).
// - DblClick runs OnDblClick, then ClickNotifyParent.
//
// The caller must: as for TBDCheckBox.
#pragma once

#include <QRadioButton>

#include "controls/BDButton.h"

namespace controls {

class TBDRadioButton : public TBDButton<QRadioButton> {
  Q_OBJECT

 public:
  explicit TBDRadioButton(QWidget* parent = nullptr);

  void SetChecked(bool value) override;
  bool BolUpdatingChecked() const { return FBolUpdatingChecked; }

 protected:
  // The framework's set-checked, without the guard.
  void FrameworkSetChecked(bool value);
  void nextCheckState() override;

 private:
  bool FBolUpdatingChecked = false;
};

}  // namespace controls
