#include "controls/BrindelsHelper.h"

#include <QFontMetrics>

#include "platform/Exception.h"

namespace controls {

int32_t LimitFontHeight(const QString& text, TFont& font, int32_t maxWidth, int32_t maxHeight) {
  platform::BDAssert(maxHeight > 0, "UHelper: IntMaxHeight ist nicht gesetzt!");
  platform::BDAssert(maxWidth > 0, "UHelper: LimitFontHeight: IntMaxWidth ist nicht gesetzt!");
  platform::BDAssert(font.Size() > 0 || font.Height > 0,
                     "FontHeight oder FontSize sollten > 0 sein!");
  // The canvas of the off-screen bitmap: metrics of a copy of the font.
  auto measure = [&text](const TFont& canvasFont, int& width, int& height) {
    const QFontMetrics metrics(canvasFont.ToQFont());
    width = metrics.horizontalAdvance(text);
    height = metrics.height();
  };
  int width = 0;
  int height = 0;
  measure(font, width, height);
  while (width > maxWidth || height > maxHeight) {
    if (font.HasStyle()) {
      font.ClearStyle();
    } else {
      if (font.Height < 0) font.Height = height;  // the cell height it draws with
      if (font.Height <= 1) break;                // the lower bound: height 1
      --font.Height;
    }
    measure(font, width, height);
  }
  return font.Height;
}

int32_t LimitFontHeight(std::string_view text, TFont& font, int32_t maxWidth, int32_t maxHeight) {
  return LimitFontHeight(font.Decode(text), font, maxWidth, maxHeight);
}

}  // namespace controls
