// TBDRadioButton: a radio button with a hint, a dynamic font height, parent
// notification and a re-entry guard on Checked.
//
// Promises (besides those of TBDCheckBox, which it shares: caption, font, hint, Click with
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
#include <cstdint>
#include <string>
#include <string_view>

#include "controls/Events.h"
#include "controls/Font.h"
#include "controls/HintFields.h"

namespace controls {

class TBDRadioButton : public QRadioButton, public TBDHintFields {
  Q_OBJECT

 public:
  explicit TBDRadioButton(QWidget* parent = nullptr);

  virtual std::string Caption() const;
  virtual void SetCaption(std::string_view value);
  int32_t BDDynamicFontHeight() const { return FBDDynamicFontHeight; }
  void SetBDDynamicFontHeight(int32_t value);

  const TFont& Font() const { return FFont; }
  void SetFont(const TFont& font);

  bool Checked() const { return isChecked(); }  // GetChecked: the framework's
  virtual void SetChecked(bool value);
  bool BolUpdatingChecked() const { return FBolUpdatingChecked; }

  virtual void Click();
  virtual void DblClick();
  void CMMouseEnter();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;

 protected:
  void ClickNotifyParent();
  virtual bool MemoRequired() const { return true; }
  void SetControlText(std::string_view value);
  virtual void FontChanged() {}
  // The framework's set-checked, without the guard.
  void FrameworkSetChecked(bool value);

  void nextCheckState() override;
  void enterEvent(QEnterEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  std::string FText;
  TFont FFont;
  int32_t FBDDynamicFontHeight = 0;
  bool FBolUpdatingChecked = false;
};

}  // namespace controls
