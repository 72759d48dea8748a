// The framework's font as the controls use it, over QFont.
//
// `Height` follows the framework's rule: a positive height is the cell height in pixels (ascent
// plus descent, what QFontMetrics::height() gives), a negative one the character (em) height in
// pixels, 0 the default size. `Size()` is the point size the framework derives from it at 96
// pixels per inch (-Height * 72 / 96, so a positive height has a negative size). `Charset` is
// the font character set number of a language file ("Charset"); the controls decode their 8-bit
// texts with its code page (platform::CharsetToCodePage). A TFont is a plain value.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <string_view>

namespace controls {

inline constexpr int cPixelsPerInch = 96;

struct TFont {
  QString Name = QStringLiteral("MS Sans Serif");
  int Height = -11;  // the framework's default: 8 points
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  int Charset = 1;  // DEFAULT_CHARSET

  int Size() const;          // points: -MulDiv(Height, 72, 96)
  void SetSize(int points);  // Height := -MulDiv(points, 96, 72)
  bool HasStyle() const { return Bold || Italic || Underline || StrikeOut; }
  void ClearStyle() { Bold = Italic = Underline = StrikeOut = false; }

  // The QFont to draw with. For a positive Height it has the largest whole pixel size whose
  // cell height does not exceed Height (at least pixel size 1).
  QFont ToQFont() const;
  // Decodes 8-bit text of this font's character set for display.
  QString Decode(std::string_view bytes) const;

  bool operator==(const TFont&) const = default;
};

// The cell height in pixels that `font` really has when drawn (QFontMetrics::height()).
int CellHeight(const TFont& font);

// Registers "Tahoma" (tahoma.ttf, tahomabd.ttf) and "MS Sans Serif" (ms_sans_serif.ttf) from
// /usr/share/wine/fonts with QFontDatabase::addApplicationFont where fontconfig does not list
// them; "Arial" needs nothing (fontconfig resolves it to Liberation Sans). Needs a
// QGuiApplication; call once at start-up, before the first control is created. Returns the
// families that are available afterwards, of the two asked for.
QStringList RegisterProjectFonts();

}  // namespace controls
