#include "controls/BDButton.h"

#include <QAbstractButton>

#include "controls/BDTouchPanel.h"
#include "platform/Exception.h"

namespace controls::detail {

void NotifyTouchPanel(QAbstractButton& button) {
  auto* panel = qobject_cast<TBDTouchPanel*>(button.parentWidget());
  if (panel == nullptr) return;
  panel->ChildClicked(&button);
  platform::BDAssert(button.isChecked() == panel->BolPressed(),
                     button.objectName().toStdString() +
                         ": Checked und BolPressed des TBDTouchPanel stimmen nicht ueberein!");
}

}  // namespace controls::detail
