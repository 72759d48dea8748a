// TBDMemo: the memo that shows the hint lines of the BD controls.
//
// A QPlainTextEdit that keeps its lines as 8-bit text and shows them decoded with the character
// set of its font. Object name: set by the owner (the window gives it its name in the
// behaviour).
#pragma once

#include <QPlainTextEdit>

#include "controls/Events.h"
#include "controls/Font.h"

namespace controls {

class TBDMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TBDMemo(QWidget* parent = nullptr);

  void Clear();
  // Replaces the lines by a copy of `lines`.
  void SetLines(const TStrings& lines);
  const TStrings& Lines() const { return FLines; }

  const TFont& Font() const { return FFont; }
  void SetFont(const TFont& font);  // also re-decodes the lines with the new character set

 private:
  void ShowLines();

  TStrings FLines;
  TFont FFont;
};

}  // namespace controls
