// TBDRadioButtonCharset: a TBDRadioButton whose caption is drawn by a transparent
// label inside it, in the control's font and character set. The configuration window's two
// display-mode radio buttons are of this class.
//
// Promises (besides those of TBDCharsetButton: the caption label, its placement and mouse
// handling, no memo needed for the hint):
// - Unchecked after construction.
// The caller must: as for TBDRadioButton.
#pragma once

#include "controls/BDCharsetButton.h"
#include "controls/BDRadioButton.h"

namespace controls {

class TBDRadioButtonCharset : public TBDCharsetButton<TBDRadioButton> {
  Q_OBJECT

 public:
  explicit TBDRadioButtonCharset(QWidget* parent = nullptr) : TBDCharsetButton(parent) {}
};

}  // namespace controls
