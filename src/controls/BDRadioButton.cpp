#include "controls/BDRadioButton.h"

#include <QMouseEvent>

#include "controls/BDTouchPanel.h"
#include "controls/BrindelsHelper.h"
#include "controls/ControlUtil.h"
#include "platform/Exception.h"

namespace controls {

TBDRadioButton::TBDRadioButton(QWidget* parent) : QRadioButton(parent) {
  QWidget::setFont(FFont.ToQFont());
  setMouseTracking(true);  // OnMouseMove also without a button, as the framework
}

std::string TBDRadioButton::Caption() const { return FText; }

void TBDRadioButton::SetCaption(std::string_view value) { SetControlText(value); }

void TBDRadioButton::SetControlText(std::string_view value) {
  FText = std::string(value);
  setText(FFont.Decode(FText));
  if (FBDDynamicFontHeight > 0) {
    TFont temporary = FFont;
    temporary.Height = FBDDynamicFontHeight;
    TFont fitted = FFont;
    fitted.Height = LimitFontHeight(FFont.Decode(FText), temporary, width(), height());
    SetFont(fitted);
  }
}

void TBDRadioButton::SetBDDynamicFontHeight(int32_t value) {
  FBDDynamicFontHeight = value;
  if (value > 0) SetCaption(Caption());
}

void TBDRadioButton::SetFont(const TFont& font) {
  FFont = font;
  QWidget::setFont(FFont.ToQFont());
  setText(FFont.Decode(FText));
  FontChanged();
}

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

void TBDRadioButton::Click() {
  if (OnClick) OnClick(this);
  ClickNotifyParent();
}

void TBDRadioButton::DblClick() {
  if (OnDblClick) OnDblClick(this);
  ClickNotifyParent();  // sets the panel pressed, which a checked radio button agrees with
}

void TBDRadioButton::ClickNotifyParent() {
  auto* panel = qobject_cast<TBDTouchPanel*>(parentWidget());
  if (panel == nullptr) return;
  panel->ChildClicked(this);
  platform::BDAssert(Checked() == panel->BolPressed(),
                     objectName().toStdString() +
                         ": Checked und BolPressed des TBDTouchPanel stimmen nicht ueberein!");
}

void TBDRadioButton::CMMouseEnter() {
  ShowHint(*this, detail::ClassName(*this).c_str(), MemoRequired());
}

void TBDRadioButton::nextCheckState() { SetChecked(true); }

void TBDRadioButton::enterEvent(QEnterEvent* event) {
  QRadioButton::enterEvent(event);
  CMMouseEnter();
}

void TBDRadioButton::mousePressEvent(QMouseEvent* event) {
  QRadioButton::mousePressEvent(event);
  if (OnMouseDown)
    OnMouseDown(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDRadioButton::mouseReleaseEvent(QMouseEvent* event) {
  QRadioButton::mouseReleaseEvent(event);
  if (OnMouseUp)
    OnMouseUp(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDRadioButton::mouseMoveEvent(QMouseEvent* event) {
  QRadioButton::mouseMoveEvent(event);
  if (OnMouseMove)
    OnMouseMove(this, event->buttons(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDRadioButton::mouseDoubleClickEvent(QMouseEvent* event) {
  QRadioButton::mouseDoubleClickEvent(event);  // a press, as the native button takes it
  DblClick();
}

}  // namespace controls
