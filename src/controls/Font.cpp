#include "controls/Font.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>

#include "platform/CodePage.h"

namespace controls {

namespace {

// The system's MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

int CellHeightAt(QFont font, int pixelSize) {
  font.setPixelSize(pixelSize);
  return QFontMetrics(font).height();
}

// The largest pixel size whose cell height is at most `height`, at least 1.
int PixelSizeForCell(const QFont& font, int height) {
  int low = 1;
  int high = height;
  if (CellHeightAt(font, low) > height) return 1;
  while (low < high) {  // invariant: the cell at `low` fits
    const int mid = (low + high + 1) / 2;
    if (CellHeightAt(font, mid) <= height)
      low = mid;
    else
      high = mid - 1;
  }
  return low;
}

}  // namespace

int TFont::Size() const { return -MulDiv(Height, 72, cPixelsPerInch); }

void TFont::SetSize(int points) { Height = -MulDiv(points, cPixelsPerInch, 72); }

QFont TFont::ToQFont() const {
  QFont font(Name);
  font.setBold(Bold);
  font.setItalic(Italic);
  font.setUnderline(Underline);
  font.setStrikeOut(StrikeOut);
  if (Height < 0)
    font.setPixelSize(-Height);
  else if (Height > 0)
    font.setPixelSize(PixelSizeForCell(font, Height));
  return font;
}

QString TFont::Decode(std::string_view bytes) const {
  return QString::fromStdString(
      platform::DecodeCodePage(bytes, platform::CharsetToCodePage(Charset)));
}

int CellHeight(const TFont& font) { return QFontMetrics(font.ToQFont()).height(); }

QStringList RegisterProjectFonts() {
  struct Family {
    const char* name;
    const char* files[2];
  };
  static const Family cFamilies[] = {
      {"Tahoma", {"tahoma.ttf", "tahomabd.ttf"}},
      {"MS Sans Serif", {"ms_sans_serif.ttf", nullptr}},
  };
  const QString folder = QStringLiteral("/usr/share/wine/fonts/");
  QStringList available;
  for (const Family& family : cFamilies) {
    const QString name = QString::fromLatin1(family.name);
    if (!QFontDatabase::families().contains(name, Qt::CaseInsensitive)) {
      for (const char* file : family.files)
        if (file != nullptr && QFile::exists(folder + file))
          QFontDatabase::addApplicationFont(folder + file);
    }
    if (QFontDatabase::families().contains(name, Qt::CaseInsensitive)) available << name;
  }
  return available;
}

}  // namespace controls
