#include "controls/BDCheckBoxCharset.h"

#include <QMouseEvent>

#include "controls/ControlUtil.h"

namespace controls {

namespace {
constexpr int cLabelLeft = 17;
constexpr int cLabelWidthLess = 16;
}  // namespace

TBDCheckBoxCharset::TBDCheckBoxCharset(QWidget* parent)
    : TBDCheckBox(parent), FTextLabel(new TCaptionLabel(this)) {
  FTextLabel->OnClick = [this] { LabelOnClick(); };
  FTextLabel->OnMouseDown = [this](QMouseEvent* e) { LabelOnMouseDown(e); };
  FTextLabel->OnMouseMove = [this](QMouseEvent* e) { LabelOnMouseMove(e); };
  FTextLabel->OnMouseUp = [this](QMouseEvent* e) { LabelOnMouseUp(e); };
  FTextLabel->setGeometry(cLabelLeft, 0, width() - cLabelWidthLess, height());
  SetChecked(true);
}

void TBDCheckBoxCharset::SetCaption(std::string_view value) {
  FCaption = std::string(value);
  FTextLabel->setText(Font().Decode(FCaption));
  SetControlText("");  // the native control shows no text of its own
}

void TBDCheckBoxCharset::FontChanged() {
  // The label follows the control's font by Qt's font propagation; its text follows the
  // character set.
  FTextLabel->setText(Font().Decode(FCaption));
}

void TBDCheckBoxCharset::SetLeft(int value) {
  move(value, y());
  FTextLabel->move(cLabelLeft, FTextLabel->y());
}

void TBDCheckBoxCharset::SetTop(int value) { move(x(), value); }

void TBDCheckBoxCharset::SetWidth(int value) {
  resize(value, height());
  FTextLabel->resize(width() - cLabelWidthLess, FTextLabel->height());
}

void TBDCheckBoxCharset::SetHeight(int value) {
  resize(width(), value);
  FTextLabel->resize(FTextLabel->width(), value);
}

void TBDCheckBoxCharset::SetBounds(int left, int top, int width, int height) {
  SetLeft(left);
  SetTop(top);
  SetWidth(width);
  SetHeight(height);
}

void TBDCheckBoxCharset::Invalidate() {
  update();
  FTextLabel->update();
}

void TBDCheckBoxCharset::resizeEvent(QResizeEvent* event) {
  TBDCheckBox::resizeEvent(event);
  FTextLabel->setGeometry(cLabelLeft, 0, width() - cLabelWidthLess, height());
}

void TBDCheckBoxCharset::LabelOnClick() {
  if (OnClick) OnClick(this);  // the state does not change on a click of the label
}

void TBDCheckBoxCharset::LabelOnMouseDown(QMouseEvent* event) {
  SetChecked(!Checked());
  if (OnMouseDown)
    OnMouseDown(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDCheckBoxCharset::LabelOnMouseMove(QMouseEvent* event) {
  if (OnMouseMove)
    OnMouseMove(this, event->buttons(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDCheckBoxCharset::LabelOnMouseUp(QMouseEvent* event) {
  if (OnMouseUp)
    OnMouseUp(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

}  // namespace controls
