#include <gtest/gtest.h>

#include "platform/CodePage.h"

namespace {

using platform::CharsetToCodePage;
using platform::DecodeCodePage;

TEST(CodePage, CharsetNumbersMapToTheDesignsCodePages) {
  const std::pair<int, int> cases[] = {
      {0, 1252},   {1, 1252},   {2, 42},     {128, 932},  {129, 949},     {130, 1361},
      {134, 936},  {136, 950},  {161, 1253}, {162, 1254}, {163, 1258},    {177, 1255},
      {178, 1256}, {186, 1257}, {204, 1251}, {222, 874},  {238, 1250},    {255, 437},
      {3, 1252},   {77, 1252},  {-1, 1252},  {256, 1252}, {100000, 1252},
  };
  for (const auto& [charset, codePage] : cases)
    EXPECT_EQ(CharsetToCodePage(charset), codePage) << charset;
}

struct DecodeCase {
  int codePage;
  const char* bytes;
  const char* utf8;
};

const DecodeCase cDecodeCases[] = {
    {1252,
     "Gr\xFC\xDF"
     "e \x80",
     "Grüße €"},
    {1252,
     "a\x81"
     "b",
     "a\xEF\xBF\xBD"
     "b"},  // undefined in 1252: U+FFFD
    {1251, "\xCF\xF0\xE8\xE2\xE5\xF2", "Привет"},
    {1250, "\x8A\x9E\xF8", "Šžř"},
    {1253, "\xC1\xE2", "Αβ"},
    {1254, "\xD0\xFD", "Ğı"},
    {1255, "\xF9\xEC", "של"},
    {1256, "\xC7\xE1", "ال"},
    {1257, "\xC0\xE0", "Ąą"},
    {1258, "ba\xEC", "b\xC3\xA1"},  // Vietnamese: composed, the last not lost
    {1255,
     "\xF9\xEC\x81"
     "x",
     "של\xEF\xBF\xBDx"},  // a mark held back before an undefined byte
    {874, "\xA1", "ก"},
    {437, "\x81\xDB", "ü█"},
    {932, "\x82\xA0\x93\xFA", "あ日"},
    {932, "ab\x82", "ab\xEF\xBF\xBD"},  // a lead byte cut off at the end
    {936, "\xD6\xD0", "中"},
    {949, "\xC7\xD1", "한"},
    {950, "\xA4\xA4", "中"},
    {1361, "\x88\x61", "\xEA\xB0\x80"},    // Johab: U+AC00
    {42, "\x41\x09", "\xEF\x81\x81\x09"},  // symbol: U+F041, control bytes stay
    {99999, "\xE4", "ä"},                  // unknown code page: 1252
    {1252, "", ""},
};

TEST(CodePage, DecodesToUtf8) {
  for (const DecodeCase& c : cDecodeCases)
    EXPECT_EQ(DecodeCodePage(c.bytes, c.codePage), c.utf8) << c.codePage << " " << c.bytes;
}

TEST(CodePage, DecodesEmbeddedNulAndLongTexts) {
  const std::string withNul("a\0b", 3);
  EXPECT_EQ(DecodeCodePage(withNul, 1252), withNul);
  const std::string longText(100000, '\xE4');
  std::string expected;
  for (int i = 0; i < 100000; ++i) expected += "ä";
  EXPECT_EQ(DecodeCodePage(longText, 1252), expected);
}

}  // namespace
