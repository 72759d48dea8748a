// The hint fields of the BD controls and the mouse-enter hint.
//
// BDMemoHintField: the memo that shows hints, not owned (a deleted memo reads as unset).
// BDHintText: this control's hint lines, not owned: the caller keeps the list alive while the
// control may show it (the control stores the pointer it is given). BDNoMemoHintField: the
// control shows no hint and needs no memo.
//
// One set of fields serves every class, the Charset classes included (the original declared a
// second, shadowing copy in the Charset classes, so a hint set through a base-class reference
// was never shown; here there is no such difference).
#pragma once

#include <QPointer>

#include "controls/BDMemo.h"
#include "controls/Events.h"

class QWidget;

namespace controls {

class TBDHintFields {
 public:
  TBDMemo* BDMemoHintField() const { return FBDMemoHintField.data(); }
  void SetBDMemoHintField(TBDMemo* memo) { FBDMemoHintField = memo; }
  const TStrings* BDHintText() const { return FBDHintText; }
  void SetBDHintText(const TStrings* lines) { FBDHintText = lines; }
  bool BDNoMemoHintField() const { return FBDNoMemoHintField; }
  void SetBDNoMemoHintField(bool value) { FBDNoMemoHintField = value; }

 protected:
  ~TBDHintFields() = default;
  // CMMouseEnter for `control`: asserts that it has an object name ("<Class>: Name
  // ist nicht gesetzt!"); when `memoRequired` (base classes), asserts at run time that a memo is
  // set unless BDNoMemoHintField ("<name> :Zur Laufzeit muss dass Property BDMemoHintField
  // gesetzt sein"); then shows BDHintText in the memo when both are set and BDNoMemoHintField
  // is false. The hint stays after the mouse leaves.
  void ShowHint(const QWidget& control, const char* className, bool memoRequired) const;

 private:
  QPointer<TBDMemo> FBDMemoHintField;
  const TStrings* FBDHintText = nullptr;
  bool FBDNoMemoHintField = false;
};

}  // namespace controls
