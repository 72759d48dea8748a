// TBDCheckBox: a check box with a hint, a dynamic font height and parent
// notification.
//
// Promises (besides those of TBDButton: caption, font, hint, Click with ClickNotifyParent,
// events):
// - Checked right after construction.
// - SetChecked changes the state and, when it changed, runs Click() like the framework does;
//   a click of the user is a SetChecked(!Checked()).
// - DblClick runs OnDblClick only: each click of a double click already toggled the box and
//   notified the parent.
//
// The caller must: give the control an object name before the mouse can enter it; use
// SetChecked, SetCaption and SetFont (not QCheckBox::setChecked, setText, setFont), so the
// behaviour above holds; let assertions (platform::EAssertionFailed, thrown from event
// handlers) be caught by the application's notify. Used by the user-interface thread only.
#pragma once

#include <QCheckBox>

#include "controls/BDButton.h"

namespace controls {

class TBDCheckBox : public TBDButton<QCheckBox> {
  Q_OBJECT

 public:
  explicit TBDCheckBox(QWidget* parent = nullptr);

  void SetChecked(bool value) override;
  void DblClick() override;

 protected:
  void nextCheckState() override;
};

}  // namespace controls
