#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>

#include "controls/BrindelsHelper.h"
#include "platform/Exception.h"

namespace {

using controls::CellHeight;
using controls::LimitFontHeight;
using controls::TFont;

TFont Arial(int height) {
  TFont font;
  font.Name = "Arial";
  font.Height = height;
  return font;
}

int WidthOf(const QString& text, const TFont& font) {
  return QFontMetrics(font.ToQFont()).horizontalAdvance(text);
}

template <typename F>
std::string AssertionOf(F&& f) {
  try {
    f();
  } catch (const platform::EAssertionFailed& e) {
    return e.what();
  }
  return "(no assertion)";
}

TEST(Fonts, ProjectFontsAreThere) {
  const QStringList families = controls::RegisterProjectFonts();
  EXPECT_TRUE(families.contains("Tahoma")) << families.join(",").toStdString();
  EXPECT_TRUE(families.contains("MS Sans Serif")) << families.join(",").toStdString();
  EXPECT_EQ(QFontInfo(QFont("Tahoma")).family(), "Tahoma");
  EXPECT_EQ(QFontInfo(QFont("MS Sans Serif")).family(), "MS Sans Serif");
  EXPECT_EQ(QFontInfo(QFont("Arial")).family(), "Liberation Sans");
}

TEST(Fonts, APositiveHeightIsTheCellHeight) {
  for (const char* name : {"Arial", "Tahoma"}) {
    for (int height = 6; height <= 60; ++height) {
      TFont font = Arial(height);
      font.Name = name;
      const int cell = CellHeight(font);
      EXPECT_LE(cell, height) << name << " " << height;
      EXPECT_GE(cell, height - 2) << name << " " << height;  // whole pixel sizes only
      font.Bold = true;
      EXPECT_LE(CellHeight(font), height) << name << " bold " << height;
    }
  }
  // "MS Sans Serif" of fonts-wine is a bitmap font of one size, cell height 13, as the
  // framework's default font (8 points) draws.
  TFont sansSerif;
  EXPECT_EQ(CellHeight(sansSerif), 13);
  sansSerif.Height = 20;
  EXPECT_EQ(CellHeight(sansSerif), 13);
  // A negative height is the character (em) height.
  EXPECT_EQ(Arial(-20).ToQFont().pixelSize(), 20);
  EXPECT_GT(CellHeight(Arial(-20)), 20);
}

TEST(Fonts, SizeFollowsTheFrameworkRule) {
  TFont font;
  EXPECT_EQ(font.Height, -11);
  EXPECT_EQ(font.Size(), 8);
  font.SetSize(12);
  EXPECT_EQ(font.Height, -16);
  font.Height = 20;
  EXPECT_EQ(font.Size(), -15);  // a positive height has a negative size
}

TEST(LimitFontHeight, PreconditionsInOrderWithTheirTexts) {
  TFont font = Arial(20);
  EXPECT_EQ(AssertionOf([&] { LimitFontHeight(QString("x"), font, 0, 0); }),
            "UHelper: IntMaxHeight ist nicht gesetzt!");
  EXPECT_EQ(AssertionOf([&] { LimitFontHeight(QString("x"), font, 0, 10); }),
            "UHelper: LimitFontHeight: IntMaxWidth ist nicht gesetzt!");
  TFont zero = Arial(0);
  EXPECT_EQ(AssertionOf([&] { LimitFontHeight(QString("x"), zero, 10, 10); }),
            "FontHeight oder FontSize sollten > 0 sein!");
  TFont negative = Arial(-12);  // size > 0: allowed
  EXPECT_EQ(AssertionOf([&] { LimitFontHeight(QString("x"), negative, 100, 100); }),
            "(no assertion)");
}

TEST(LimitFontHeight, AFittingTextLeavesTheFontUnchanged) {
  TFont font = Arial(20);
  font.Bold = true;
  font.Underline = true;
  const TFont before = font;
  EXPECT_EQ(LimitFontHeight(QString("Ja"), font, 500, 100), 20);
  EXPECT_EQ(font, before);
}

TEST(LimitFontHeight, ATextExactlyAsWideAsTheBoxFits) {
  const QString text = "Vollbild";
  TFont font = Arial(24);
  const int width = WidthOf(text, font);
  EXPECT_EQ(LimitFontHeight(text, font, width, CellHeight(font)), 24);
  const int shrunk = LimitFontHeight(text, font, width - 1, 100);  // one pixel less does not
  EXPECT_LT(shrunk, 24);
  EXPECT_EQ(font.Height, shrunk);
}

TEST(LimitFontHeight, ABoldCaptionFittingWithoutBoldKeepsItsHeight) {
  const QString text = "Aktuelle Aufloesung beibehalten";
  TFont bold = Arial(18);
  bold.Bold = true;
  TFont plain = Arial(18);
  const int plainWidth = WidthOf(text, plain);
  ASSERT_LT(plainWidth, WidthOf(text, bold));
  EXPECT_EQ(LimitFontHeight(text, bold, plainWidth, 100), 18);
  EXPECT_FALSE(bold.HasStyle());
  EXPECT_EQ(bold.Height, 18);
}

TEST(LimitFontHeight, ShrinksOnePixelAtATimeToTheLargestThatFits) {
  const QString text = "Bildschirmaufloesung umschalten";
  for (const int maxWidth : {60, 120, 180, 240}) {
    TFont font = Arial(40);
    font.Italic = true;
    const int result = LimitFontHeight(text, font, maxWidth, 100);
    EXPECT_FALSE(font.Italic);
    EXPECT_EQ(font.Height, result);
    EXPECT_LE(WidthOf(text, Arial(result)), maxWidth) << maxWidth;
    EXPECT_GT(WidthOf(text, Arial(result + 1)), maxWidth) << maxWidth;  // one more does not fit
  }
}

TEST(LimitFontHeight, TheBoxHeightLimitsTheCellHeight) {
  TFont font = Arial(40);
  const int result = LimitFontHeight(QString("Ja"), font, 1000, 17);
  EXPECT_LE(CellHeight(font), 17);
  EXPECT_GT(CellHeight(Arial(result + 1)), 17);
}

TEST(LimitFontHeight, StopsAtHeightOne) {
  TFont font = Arial(12);
  EXPECT_EQ(LimitFontHeight(QString("a text far too long for one pixel"), font, 1, 100), 1);
  EXPECT_EQ(font.Height, 1);
}

TEST(LimitFontHeight, ANegativeHeightShrinksFromItsCellHeight) {
  TFont font = Arial(-30);
  const int cell = CellHeight(font);
  const int result = LimitFontHeight(QString("Ja"), font, 1000, cell - 5);
  EXPECT_GT(result, 0);
  EXPECT_LE(CellHeight(font), cell - 5);
}

TEST(LimitFontHeight, EightBitTextIsDecodedWithTheFontsCharset) {
  TFont cyrillic = Arial(30);
  cyrillic.Charset = 204;
  TFont reference = Arial(30);
  const std::string bytes = "\xCF\xF0\xE8\xE2\xE5\xF2";  // "Привет" in 1251
  const int wanted = WidthOf(QString::fromUtf8("Привет"), reference);
  EXPECT_EQ(LimitFontHeight(std::string_view(bytes), cyrillic, wanted, 100), 30);
  EXPECT_LT(LimitFontHeight(std::string_view(bytes), cyrillic, wanted - 1, 100), 30);
}

}  // namespace
