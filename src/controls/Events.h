// The framework's event types as the controls hand them out: one optional handler per event,
// called with the control as sender (a Delphi-style TNotifyEvent, not a Qt signal, so that
// "if set" and the order of effects stay as the behaviour gives them).
#pragma once

#include <Qt>
#include <functional>
#include <string>
#include <vector>

class QObject;

namespace controls {

// 8-bit text lines (a string list of the framework), in the character set of the control.
using TStrings = std::vector<std::string>;

using TNotifyEvent = std::function<void(QObject* sender)>;
// Mouse down and up: button, keyboard modifiers, position in the sender's coordinates.
using TMouseEvent = std::function<void(QObject* sender, Qt::MouseButton button,
                                       Qt::KeyboardModifiers shift, int x, int y)>;
// Mouse move: the buttons held, keyboard modifiers, position in the sender's coordinates.
using TMouseMoveEvent = std::function<void(QObject* sender, Qt::MouseButtons buttons,
                                           Qt::KeyboardModifiers shift, int x, int y)>;

// The click and mouse events every BD control offers.
struct TBDMouseEvents {
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
};

}  // namespace controls
