// The transparent caption label inside the Charset controls. It draws the caption in
// the control's font and hands its mouse events to the control: a press (a double click counts
// as a press, as with the framework's labels), moves, a release, and a click (release over the
// label after a press on it). Its object name is "TextLabel".
#pragma once

#include <QLabel>
#include <functional>

class QMouseEvent;

namespace controls {

class TCaptionLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TCaptionLabel(QWidget* parent);

  std::function<void()> OnClick;
  std::function<void(QMouseEvent*)> OnMouseDown;
  std::function<void(QMouseEvent*)> OnMouseMove;
  std::function<void(QMouseEvent*)> OnMouseUp;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool FPressed = false;
};

}  // namespace controls
