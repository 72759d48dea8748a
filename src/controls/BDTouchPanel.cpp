#include "controls/BDTouchPanel.h"

#include <QPointer>
#include <vector>

#include "controls/BDCheckBox.h"
#include "controls/BDRadioButton.h"
#include "controls/BrindelsHelper.h"
#include "controls/ControlUtil.h"

namespace controls {

TBDTouchPanel::TBDTouchPanel(QWidget* parent) : TBDPanel(parent) {
  FBolUpdatingChilds = false;
  FBolPressed = true;
  VisualizePressedState();
  UpdateChildControls();
}

void TBDTouchPanel::SetBolPressed(bool value) {
  FBolPressed = value;
  VisualizePressedState();
  UpdateChildControls();
}

void TBDTouchPanel::VisualizePressedState() {
  // Outer bevel only (the inner one is none): lowered when pressed, raised when not.
  setFrameShape(QFrame::Panel);
  setFrameShadow(FBolPressed ? QFrame::Sunken : QFrame::Raised);
}

void TBDTouchPanel::UpdateChildControls() {
  const detail::TFlagScope updating(FBolUpdatingChilds);
  // A child's reaction may change the children; work on guarded pointers to the ones there now.
  std::vector<QPointer<QObject>> children;
  for (QObject* child : this->children()) children.emplace_back(child);
  for (const QPointer<QObject>& child : children) {
    if (auto* box = qobject_cast<TBDCheckBox*>(child.data()))
      box->SetChecked(FBolPressed);
    else if (auto* radio = qobject_cast<TBDRadioButton*>(child.data()))
      radio->SetChecked(FBolPressed);
  }
}

void TBDTouchPanel::ProcessClick() {
  if (FBolPressed) {
    for (QObject* child : children())
      if (qobject_cast<TBDRadioButton*>(child) != nullptr) return;  // a radio group stays pressed
  }
  FBolPressed = !FBolPressed;
  VisualizePressedState();
  UpdateChildControls();
}

void TBDTouchPanel::Click() {
  ProcessClick();
  TBDPanel::Click();
}

void TBDTouchPanel::DblClick() {
  ProcessClick();
  TBDPanel::DblClick();
}

void TBDTouchPanel::ChildClicked(QObject* sender) {
  if (FBolUpdatingChilds) return;
  if (qobject_cast<TBDCheckBox*>(sender) != nullptr)
    FBolPressed = !FBolPressed;
  else if (qobject_cast<TBDRadioButton*>(sender) != nullptr)
    FBolPressed = true;
  VisualizePressedState();
}

void TBDTouchPanel::SetCaption(std::string_view value) {
  SetPanelText(value);
  if (FBDDynamicFontHeight > 0) {
    TFont temporary = Font();
    temporary.Height = FBDDynamicFontHeight;
    TFont fitted = Font();
    fitted.Height = LimitFontHeight(Font().Decode(value), temporary, width(), height());
    SetFont(fitted);
  }
}

void TBDTouchPanel::SetBDDynamicFontHeight(int32_t value) {
  FBDDynamicFontHeight = value;
  if (value > 0) SetCaption(Caption());
}

}  // namespace controls
