#include "controls/BDPanel.h"

#include <QMouseEvent>
#include <QPainter>

#include "controls/ControlUtil.h"

namespace controls {

TBDPanel::TBDPanel(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Raised);
  setLineWidth(1);
  setMouseTracking(true);  // OnMouseMove also without a button, as the framework
  QWidget::setFont(FFont.ToQFont());
}

void TBDPanel::SetCaption(std::string_view value) { SetPanelText(value); }

void TBDPanel::SetPanelText(std::string_view value) {
  FCaption = std::string(value);
  update();
}

void TBDPanel::SetFont(const TFont& font) {
  FFont = font;
  QWidget::setFont(FFont.ToQFont());
  update();
}

void TBDPanel::Click() {
  if (OnClick) OnClick(this);
}

void TBDPanel::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

void TBDPanel::CMMouseEnter() { ShowHint(*this, detail::ClassName(*this).c_str(), true); }

void TBDPanel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (FCaption.empty()) return;
  QPainter painter(this);
  painter.setFont(font());
  painter.drawText(contentsRect(), Qt::AlignCenter, FFont.Decode(FCaption));
}

void TBDPanel::enterEvent(QEnterEvent* event) {
  QFrame::enterEvent(event);
  CMMouseEnter();
}

void TBDPanel::mousePressEvent(QMouseEvent* event) {
  event->accept();
  FPressed = event->button() == Qt::LeftButton;
  if (OnMouseDown)
    OnMouseDown(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDPanel::mouseDoubleClickEvent(QMouseEvent* event) {
  // As the framework: the second press of a double click is a double click and a mouse down;
  // its release is no click.
  event->accept();
  FPressed = false;
  if (event->button() == Qt::LeftButton) DblClick();
  if (OnMouseDown)
    OnMouseDown(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDPanel::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  const bool click =
      FPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  FPressed = false;
  if (click) Click();
  if (OnMouseUp)
    OnMouseUp(this, event->button(), event->modifiers(), detail::X(event), detail::Y(event));
}

void TBDPanel::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (OnMouseMove)
    OnMouseMove(this, event->buttons(), event->modifiers(), detail::X(event), detail::Y(event));
}

}  // namespace controls
