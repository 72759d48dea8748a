// TBDPanel: a panel with the hint fields and a caption.
//
// A QFrame drawn like the framework's panel: raised outer bevel, the 8-bit caption decoded with
// the font's character set and drawn centred. Clicks: a press and a release over the panel run
// Click() (OnClick); the second press of a double click runs DblClick() (OnDblClick) and its
// release no Click. Entering it with the mouse runs CMMouseEnter (HintFields.h, with the run-time
// check that a memo is set).
// The caller must: give it an object name before the mouse can enter it; let assertions thrown
// from event handlers be caught by the application's notify. User-interface thread only.
#pragma once

#include <QFrame>
#include <string>
#include <string_view>

#include "controls/Events.h"
#include "controls/Font.h"
#include "controls/HintFields.h"

namespace controls {

class TBDPanel : public QFrame, public TBDHintFields, public TBDMouseEvents {
  Q_OBJECT

 public:
  explicit TBDPanel(QWidget* parent = nullptr);

  virtual std::string Caption() const { return FCaption; }
  virtual void SetCaption(std::string_view value);

  const TFont& Font() const { return FFont; }
  void SetFont(const TFont& font);

  virtual void Click();
  virtual void DblClick();
  void CMMouseEnter();

 protected:
  void SetPanelText(std::string_view value);

  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  std::string FCaption;
  TFont FFont;
  bool FPressed = false;  // a left press began over the panel (not that of a double click)
};

}  // namespace controls
