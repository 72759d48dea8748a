// TBDCheckBox: a check box with a hint, a dynamic font height and parent
// notification.
//
// Promises:
// - Checked right after construction.
// - Caption is 8-bit text in the font's character set (Font().Charset), shown decoded.
// - With BDDynamicFontHeight > 0, SetCaption sets the font height to LimitFontHeight(caption,
//   font at BDDynamicFontHeight, Width(), Height()); 0 or less leaves the font as it is.
// - SetChecked changes the state and, when it changed, runs Click() like the framework does;
//   a click of the user is a SetChecked(!Checked()). Click() runs OnClick, then
//   ClickNotifyParent: a TBDTouchPanel parent gets ChildClicked(this), after which Checked()
//   must equal the panel's BolPressed() (assertion "<name>: Checked und BolPressed des
//   TBDTouchPanel stimmen nicht ueberein!").
// - Entering the control with the mouse runs CMMouseEnter (HintFields.h).
//
// The caller must: give the control an object name before the mouse can enter it; use
// SetChecked, SetCaption and SetFont (not QCheckBox::setChecked, setText, setFont), so the
// behaviour above holds; let assertions (platform::EAssertionFailed, thrown from event
// handlers) be caught by the application's notify. Used by the user-interface thread only.
#pragma once

#include <QCheckBox>
#include <cstdint>
#include <string>
#include <string_view>

#include "controls/Events.h"
#include "controls/Font.h"
#include "controls/HintFields.h"

namespace controls {

class TBDCheckBox : public QCheckBox, public TBDHintFields {
  Q_OBJECT

 public:
  explicit TBDCheckBox(QWidget* parent = nullptr);

  virtual std::string Caption() const;
  virtual void SetCaption(std::string_view value);
  int32_t BDDynamicFontHeight() const { return FBDDynamicFontHeight; }
  void SetBDDynamicFontHeight(int32_t value);

  const TFont& Font() const { return FFont; }
  void SetFont(const TFont& font);

  bool Checked() const { return isChecked(); }
  virtual void SetChecked(bool value);

  // The framework's Click and DblClick with the parent notification.
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
  // Sets the native text (what the base class shows) and fits the font when asked to.
  void SetControlText(std::string_view value);
  virtual void FontChanged() {}

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
};

}  // namespace controls
