// TBDTouchPanel: a large clickable area whose pressed state its direct child check
// boxes and radio buttons share.
//
// Promises:
// - Starts pressed (BolPressed() true, lowered bevel). Released: raised bevel.
// - A click or double click on the panel (ProcessClick, before OnClick / OnDblClick): nothing
//   when the panel is pressed and has a radio button among its direct children (a radio group
//   cannot be released by clicking the panel); otherwise BolPressed toggles, the bevel follows
//   and every direct child TBDCheckBox / TBDRadioButton (Charset classes included) gets
//   SetChecked(BolPressed()).
// - ChildClicked(sender), called by a child's ClickNotifyParent: ignored while the panel itself
//   updates its children; a check box toggles BolPressed, a radio button sets it; then the bevel
//   follows (the other children are not updated).
// - With BDDynamicFontHeight > 0 the caption font is fitted to the panel as for TBDCheckBox.
// Children added after construction are not brought to the panel's state until the next panel
// click (as in the original; a TBDCheckBox starts checked, which matches a pressed panel).
// The caller must: as for TBDPanel.
#pragma once

#include <cstdint>

#include "controls/BDPanel.h"

namespace controls {

class TBDTouchPanel : public TBDPanel {
  Q_OBJECT

 public:
  explicit TBDTouchPanel(QWidget* parent = nullptr);

  bool BolPressed() const { return FBolPressed; }
  // Sets the state as a panel click would: bevel and children follow. (An addition: the
  // original only had the field.)
  void SetBolPressed(bool value);
  bool BolUpdatingChilds() const { return FBolUpdatingChilds; }

  void SetCaption(std::string_view value) override;
  int32_t BDDynamicFontHeight() const { return FBDDynamicFontHeight; }
  void SetBDDynamicFontHeight(int32_t value);

  void Click() override;
  void DblClick() override;
  void ChildClicked(QObject* sender);

 protected:
  void ProcessClick();
  void VisualizePressedState();
  void UpdateChildControls();

 private:
  bool FBolPressed = true;
  bool FBolUpdatingChilds = false;
  int32_t FBDDynamicFontHeight = 0;
};

}  // namespace controls
