// TBDCheckBoxCharset: a TBDCheckBox whose caption is drawn by a transparent label
// inside it, in the control's font and character set.
//
// Promises (besides those of TBDCharsetButton: the caption label, its placement and mouse
// handling, no memo needed for the hint):
// - Checked after construction.
// The caller must: as for TBDCheckBox.
#pragma once

#include "controls/BDCharsetButton.h"
#include "controls/BDCheckBox.h"

namespace controls {

class TBDCheckBoxCharset : public TBDCharsetButton<TBDCheckBox> {
  Q_OBJECT

 public:
  explicit TBDCheckBoxCharset(QWidget* parent = nullptr) : TBDCharsetButton(parent) {}
};

}  // namespace controls
