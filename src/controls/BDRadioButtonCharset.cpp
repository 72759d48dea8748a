#include "controls/BDRadioButtonCharset.h"

#include <QMouseEvent>

#include "controls/ControlUtil.h"

namespace controls {

namespace {
constexpr int cLabelLeft = 17;
constexpr int cLabelWidthLess = 16;
}  // namespace

TBDRadioButtonCharset::TBDRadioButtonCharset(QWidget* parent)
    : TBDRadioButton(parent), FTextLabel(new TCaptionLabel(this)) {
  FTextLabel->OnClick = [this] { LabelOnClick(); };
  FTextLabel->OnMouseDown = [this](QMouseEvent* e) { LabelOnMouseDown(e); };
  FTextLabel->OnMouseMove = [this](QMouseEvent* e) { LabelOnMouseMove(e); };
  FTextLabel->OnMouseUp = [this](QMouseEvent* e) { LabelOnMouseUp(e); };
  FTextLabel->setGeometry(cLabelLeft, 0, width() - cLabelWidthLess, height());
}

void TBDRadioButtonCharset::SetCaption(std::string_view value) {
  FCaption = std::string(value);
  FTextLabel->setText(Font().Decode(FCaption));
  SetControlText("");  // the native control shows no text of its own
}

void TBDRadioButtonCharset::FontChanged() {
  // The label follows the control's font by Qt's font propagation; its text follows the
  // character set.
  FTextLabel->setText(Font().Decode(FCaption));
}

void TBDRadioButtonCharset::SetLeft(int value) {
  move(value, y());
  FTextLabel->move(cLabelLeft, FTextLabel->y());
}

void TBDRadioButtonCharset::SetTop(int value) { move(x(), value); }

void TBDRadioButtonCharset::SetWidth(int value) {
  resize(value, height());
  FTextLabel->resize(width() - cLabelWidthLess, FTextLabel->height());
}

void TBDRadioButtonCharset::SetHeight(int value) {
  resize(width(), value);
  FTextLabel->resize(FTextLabel->width(), value);
}

void TBDRadioButtonCharset::SetBounds(int left, int top, int width, int height) {
  SetLeft(left);
  SetTop(top);
  SetWidth(width);
  SetHeight(height);
}

void TBDRadioButtonCharset::Invalidate() {
  update();
  FTextLabel->update();
}

void TBDRadioButtonCharset::resizeEvent(QResizeEvent* event) {
  TBDRadioButton::resizeEvent(event);
  FTextLabel->setGeometry(cLabelLeft, 0, width() - cLabelWidthLess, height());
}

void TBDRadioButtonCharset::LabelOnClick() {
  if (OnClick) OnClick(this);  // the state does not change on a click of the label
}

void TBDRadioButtonCharset::LabelOnMouseDown(QMouseEvent* event) {
  SetChecked(true);  // checked before the mouse-down handler runs
  if (OnMouseDown)
    OnMouseDown(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDRadioButtonCharset::LabelOnMouseMove(QMouseEvent* event) {
  if (OnMouseMove)
    OnMouseMove(this, event->buttons(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDRadioButtonCharset::LabelOnMouseUp(QMouseEvent* event) {
  if (OnMouseUp)
    OnMouseUp(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

}  // namespace controls
