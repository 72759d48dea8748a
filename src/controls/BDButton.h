// TBDButton<QtButton>: what TBDCheckBox and TBDRadioButton share over their Qt button.
//
// Promises:
// - Caption is 8-bit text in the font's character set (Font().Charset), shown decoded.
// - With BDDynamicFontHeight > 0, SetCaption sets the font height to LimitFontHeight(caption,
//   font at BDDynamicFontHeight, Width(), Height()); 0 or less leaves the font as it is.
// - Click() runs OnClick, then ClickNotifyParent: a TBDTouchPanel parent gets
//   ChildClicked(this), after which Checked() must equal the panel's BolPressed() (assertion
//   "<name>: Checked und BolPressed des TBDTouchPanel stimmen nicht ueberein!"). DblClick() runs
//   OnDblClick, then ClickNotifyParent.
// - Mouse presses, releases and moves reach OnMouseDown, OnMouseUp and OnMouseMove (moves also
//   without a button held, as the framework); a double click is a press and then DblClick().
// - Entering the control with the mouse runs CMMouseEnter (HintFields.h).
#pragma once

#include <QMouseEvent>
#include <QWidget>
#include <cstdint>
#include <string>
#include <string_view>

#include "controls/BrindelsHelper.h"
#include "controls/ControlUtil.h"
#include "controls/Events.h"
#include "controls/Font.h"
#include "controls/HintFields.h"

class QAbstractButton;

namespace controls {

namespace detail {
// ClickNotifyParent for any BD button: the TBDTouchPanel parent, if there is one, learns of the
// click and must then agree with the button's state.
void NotifyTouchPanel(QAbstractButton& button);
}  // namespace detail

template <class TQtButton>
class TBDButton : public TQtButton, public TBDHintFields, public TBDMouseEvents {
 public:
  explicit TBDButton(QWidget* parent) : TQtButton(parent) {
    QWidget::setFont(FFont.ToQFont());
    this->setMouseTracking(true);
  }

  virtual std::string Caption() const { return FText; }
  virtual void SetCaption(std::string_view value) { SetControlText(value); }
  int32_t BDDynamicFontHeight() const { return FBDDynamicFontHeight; }
  void SetBDDynamicFontHeight(int32_t value) {
    FBDDynamicFontHeight = value;
    if (value > 0) SetCaption(Caption());
  }

  const TFont& Font() const { return FFont; }
  void SetFont(const TFont& font) {
    FFont = font;
    QWidget::setFont(FFont.ToQFont());
    this->setText(FFont.Decode(FText));
    FontChanged();
  }

  bool Checked() const { return this->isChecked(); }
  virtual void SetChecked(bool value) = 0;

  // The framework's Click and DblClick with the parent notification.
  virtual void Click() {
    if (OnClick) OnClick(this);
    ClickNotifyParent();
  }
  virtual void DblClick() {
    if (OnDblClick) OnDblClick(this);
    ClickNotifyParent();
  }
  void CMMouseEnter() { ShowHint(*this, detail::ClassName(*this).c_str(), MemoRequired()); }

 protected:
  void ClickNotifyParent() { detail::NotifyTouchPanel(*this); }
  virtual bool MemoRequired() const { return true; }
  // Sets the native text (what the Qt button shows) and fits the font when asked to.
  void SetControlText(std::string_view value) {
    FText = std::string(value);
    this->setText(FFont.Decode(FText));
    if (FBDDynamicFontHeight > 0) {
      TFont temporary = FFont;
      temporary.Height = FBDDynamicFontHeight;
      TFont fitted = FFont;
      fitted.Height =
          LimitFontHeight(FFont.Decode(FText), temporary, this->width(), this->height());
      SetFont(fitted);
    }
  }
  virtual void FontChanged() {}

  void enterEvent(QEnterEvent* event) override {
    TQtButton::enterEvent(event);
    CMMouseEnter();
  }
  void mousePressEvent(QMouseEvent* event) override {
    TQtButton::mousePressEvent(event);
    if (OnMouseDown)
      OnMouseDown(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    TQtButton::mouseReleaseEvent(event);
    if (OnMouseUp)
      OnMouseUp(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    TQtButton::mouseMoveEvent(event);
    if (OnMouseMove)
      OnMouseMove(this, event->buttons(), event->modifiers(), detail::X(event), detail::Y(event));
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    TQtButton::mouseDoubleClickEvent(event);  // a press, as the native button takes it
    DblClick();
  }

 private:
  std::string FText;
  TFont FFont;
  int32_t FBDDynamicFontHeight = 0;
};

}  // namespace controls
