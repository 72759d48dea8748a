#include "controls/CaptionLabel.h"

#include <QMouseEvent>

namespace controls {

TCaptionLabel::TCaptionLabel(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("TextLabel"));
  setAutoFillBackground(false);  // transparent: the control shows through
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setEnabled(true);
  setMouseTracking(true);  // moves without a button are events of the framework too
}

void TCaptionLabel::mousePressEvent(QMouseEvent* event) {
  event->accept();  // the control under the label must not see the press as its own
  FPressed = event->button() == Qt::LeftButton;
  if (OnMouseDown) OnMouseDown(event);
}

void TCaptionLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  // The framework's label: a double click is a mouse down and no click.
  event->accept();
  FPressed = false;
  if (OnMouseDown) OnMouseDown(event);
}

void TCaptionLabel::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (OnMouseMove) OnMouseMove(event);
}

void TCaptionLabel::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  const bool click =
      FPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  FPressed = false;
  if (click && OnClick) OnClick();  // as the framework: the click before the mouse up
  if (OnMouseUp) OnMouseUp(event);
}

}  // namespace controls
