#include "controls/HintFields.h"

#include <QWidget>

#include "platform/Exception.h"

namespace controls {

void TBDHintFields::ShowHint(const QWidget& control, const char* className,
                             bool memoRequired) const {
  platform::BDAssert(!control.objectName().isEmpty(),
                     std::string(className) + ": Name ist nicht gesetzt!");
  if (memoRequired && FBDMemoHintField.isNull() && !FBDNoMemoHintField)
    platform::BDAssert(false, control.objectName().toStdString() +
                                  " :Zur Laufzeit muss dass Property BDMemoHintField gesetzt sein");
  if (!FBDNoMemoHintField && !FBDMemoHintField.isNull() && FBDHintText != nullptr) {
    FBDMemoHintField->Clear();
    FBDMemoHintField->SetLines(*FBDHintText);
  }
}

}  // namespace controls
