#include "controls/BDMemo.h"

namespace controls {

TBDMemo::TBDMemo(QWidget* parent) : QPlainTextEdit(parent) { QWidget::setFont(FFont.ToQFont()); }

void TBDMemo::Clear() {
  FLines.clear();
  ShowLines();
}

void TBDMemo::SetLines(const TStrings& lines) {
  FLines = lines;
  ShowLines();
}

void TBDMemo::SetFont(const TFont& font) {
  FFont = font;
  QWidget::setFont(FFont.ToQFont());
  ShowLines();
}

void TBDMemo::ShowLines() {
  QStringList decoded;
  for (const std::string& line : FLines) decoded << FFont.Decode(line);
  setPlainText(decoded.join(QLatin1Char('\n')));
}

}  // namespace controls
