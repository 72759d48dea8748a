#include "controls/BDCheckBox.h"

#include <QMouseEvent>

#include "controls/BDTouchPanel.h"
#include "controls/BrindelsHelper.h"
#include "controls/ControlUtil.h"
#include "platform/Exception.h"

namespace controls {

TBDCheckBox::TBDCheckBox(QWidget* parent) : QCheckBox(parent) {
  QWidget::setFont(FFont.ToQFont());
  QCheckBox::setChecked(true);  // starts checked
  setMouseTracking(true);       // OnMouseMove also without a button, as the framework
}

std::string TBDCheckBox::Caption() const { return FText; }

void TBDCheckBox::SetCaption(std::string_view value) { SetControlText(value); }

void TBDCheckBox::SetControlText(std::string_view value) {
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

void TBDCheckBox::SetBDDynamicFontHeight(int32_t value) {
  FBDDynamicFontHeight = value;
  if (value > 0) SetCaption(Caption());
}

void TBDCheckBox::SetFont(const TFont& font) {
  FFont = font;
  QWidget::setFont(FFont.ToQFont());
  setText(FFont.Decode(FText));
  FontChanged();
}

void TBDCheckBox::SetChecked(bool value) {
  if (isChecked() == value) return;
  QCheckBox::setChecked(value);
  Click();  // the framework clicks on every change of the state
}

void TBDCheckBox::Click() {
  if (OnClick) OnClick(this);
  ClickNotifyParent();
}

void TBDCheckBox::DblClick() {
  // The parent is not notified here: each of the two clicks of a double click already toggled
  // the box and notified the panel; a third notification would toggle the panel alone.
  if (OnDblClick) OnDblClick(this);
}

void TBDCheckBox::ClickNotifyParent() {
  auto* panel = qobject_cast<TBDTouchPanel*>(parentWidget());
  if (panel == nullptr) return;
  panel->ChildClicked(this);
  platform::BDAssert(Checked() == panel->BolPressed(),
                     objectName().toStdString() +
                         ": Checked und BolPressed des TBDTouchPanel stimmen nicht ueberein!");
}

void TBDCheckBox::CMMouseEnter() {
  ShowHint(*this, detail::ClassName(*this).c_str(), MemoRequired());
}

void TBDCheckBox::nextCheckState() { SetChecked(!Checked()); }

void TBDCheckBox::enterEvent(QEnterEvent* event) {
  QCheckBox::enterEvent(event);
  CMMouseEnter();
}

void TBDCheckBox::mousePressEvent(QMouseEvent* event) {
  QCheckBox::mousePressEvent(event);
  if (OnMouseDown)
    OnMouseDown(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDCheckBox::mouseReleaseEvent(QMouseEvent* event) {
  QCheckBox::mouseReleaseEvent(event);
  if (OnMouseUp)
    OnMouseUp(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDCheckBox::mouseMoveEvent(QMouseEvent* event) {
  QCheckBox::mouseMoveEvent(event);
  if (OnMouseMove)
    OnMouseMove(this, event->buttons(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDCheckBox::mouseDoubleClickEvent(QMouseEvent* event) {
  QCheckBox::mouseDoubleClickEvent(event);  // a press, as the native button takes it
  DblClick();
}

}  // namespace controls
