#include <gtest/gtest.h>

#include <memory>

#include "TempDir.h"
#include "platform/IniFile.h"

namespace {

using platform::TIniFile;
using platform::TMemIniFile;
using testutil::TTempDir;
using testutil::WriteFile;

const char* const cSample =
    "; installation settings\r\n"
    "[Options]\r\n"
    "PrgName = Lernprogramm  \r\n"
    "xRes=1024\r\n"
    "yRes=abc\r\n"
    "Bits=\r\n"
    "Hex=$1F\r\n"
    "Hex2=0x20\r\n"
    "Minus=-7\r\n"
    "Big=2147483648\r\n"
    "AllOnes=$FFFFFFFF\r\n"
    "Silent=0\r\n"
    "OGG=5\r\n"
    "MP3=-1\r\n"
    "xres=640\r\n"
    "Quoted=\"a b\"\r\n"
    "Path=deutsch\\\r\n"
    "Eq=a=b\r\n"
    "  ;comment=1\r\n"
    "Umlaut=\xE4\xF6\xFC\r\n"
    "NoEquals\r\n"
    "[ Language ]\n"
    "ConfigIniPath=deutsch\\\n"
    "[Broken\n"
    "AfterBroken=1\n"
    "[options]\n"
    "OnlyInSecond=1\n";

struct StringCase {
  const char* section;
  const char* key;
  const char* defaultValue;
  const char* expected;
};

// Both readers answer alike; each case runs against both.
const StringCase cStringCases[] = {
    {"Options", "PrgName", "", "Lernprogramm"},      // blanks trimmed around key and value
    {"OPTIONS", "prgname", "", "Lernprogramm"},      // names without regard to case
    {"Options", "xRes", "", "1024"},                 // first of duplicate keys wins
    {"Options", "Bits", "def", ""},                  // present but empty: not the default
    {"Options", "Missing", "def", "def"},            // missing key: default
    {"Nowhere", "PrgName", "def", "def"},            // missing section: default
    {"Options", "Quoted", "", "\"a b\""},            // quotes stay (values as stored)
    {"Options", "Path", "", "deutsch\\"},            // backslashes stay
    {"Options", "Eq", "", "a=b"},                    // the first '=' separates
    {"Options", ";comment", "def", "def"},           // comment lines are no keys
    {"Options", "Umlaut", "", "\xE4\xF6\xFC"},       // 8-bit bytes unchanged
    {"Options", "NoEquals", "def", "def"},           // a line without '=' is no key
    {"language", "ConfigIniPath", "", "deutsch\\"},  // blanks inside [ ] trimmed; LF lines
    {"Language", "AfterBroken", "", "1"},            // a header without ']' is skipped
    {"Options", "OnlyInSecond", "def", "def"},       // only the first section of a name counts
};

struct IntCase {
  const char* key;
  int32_t defaultValue;
  int32_t expected;
};

const IntCase cIntCases[] = {
    {"xRes", 800, 1024}, {"yRes", 600, 600},  // not a number: default
    {"Bits", 16, 16},                         // empty: default
    {"Missing", 42, 42}, {"Hex", 0, 31},      // "$" hexadecimal
    {"Hex2", 0, 32},                          // "0x" hexadecimal
    {"Minus", 0, -7},    {"Big", 3, 3},       // outside the 32-bit range: default
    {"AllOnes", 0, -1},  {"PrgName", -5, -5},
};

struct BoolCase {
  const char* key;
  bool defaultValue;
  bool expected;
};

const BoolCase cBoolCases[] = {
    {"Silent", true, false},   {"OGG", false, true},  // any number other than 0 is true
    {"MP3", false, true},      {"Missing", true, true},
    {"Missing", false, false}, {"yRes", true, true},  // not a number: default
    {"yRes", false, false},
};

class IniFileTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    FFile = (FDir.Path() / "settings.ini").string();
    WriteFile(FFile, cSample);
    if (GetParam())
      FIni = std::make_unique<TMemIniFile>(FFile);
    else
      FIni = std::make_unique<TIniFile>(FFile);
  }
  TTempDir FDir;
  std::string FFile;
  std::unique_ptr<platform::TCustomIniFile> FIni;
};

TEST_P(IniFileTest, ReadString) {
  for (const StringCase& c : cStringCases)
    EXPECT_EQ(FIni->ReadString(c.section, c.key, c.defaultValue), c.expected)
        << "[" << c.section << "] " << c.key;
}

TEST_P(IniFileTest, ReadInteger) {
  for (const IntCase& c : cIntCases)
    EXPECT_EQ(FIni->ReadInteger("Options", c.key, c.defaultValue), c.expected) << c.key;
}

TEST_P(IniFileTest, ReadBool) {
  for (const BoolCase& c : cBoolCases)
    EXPECT_EQ(FIni->ReadBool("Options", c.key, c.defaultValue), c.expected) << c.key;
}

TEST_P(IniFileTest, SectionAndValueExists) {
  EXPECT_TRUE(FIni->SectionExists("options"));
  EXPECT_TRUE(FIni->SectionExists("Language"));
  EXPECT_FALSE(FIni->SectionExists("Texte"));
  EXPECT_TRUE(FIni->ValueExists("Options", "BITS"));  // an empty value exists
  EXPECT_FALSE(FIni->ValueExists("Options", "Missing"));
  EXPECT_FALSE(FIni->ValueExists("Texte", "PrgName"));
  EXPECT_EQ(FIni->FileName(), FFile);
}

INSTANTIATE_TEST_SUITE_P(Readers, IniFileTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "TMemIniFile" : "TIniFile"; });

TEST(IniFile, MissingFileReadsAsEmpty) {
  TTempDir dir;
  const std::string missing = (dir.Path() / "nothing.ini").string();
  TIniFile ini(missing);
  TMemIniFile mem(missing);
  EXPECT_EQ(ini.ReadString("Options", "PrgName", "d"), "d");
  EXPECT_EQ(mem.ReadInteger("Options", "xRes", 800), 800);
  EXPECT_FALSE(ini.SectionExists("Options"));
  EXPECT_FALSE(mem.ValueExists("Options", "xRes"));
}

TEST(IniFile, FileReaderSeesChangesMemoryReaderDoesNot) {
  TTempDir dir;
  const std::string file = (dir.Path() / "a.ini").string();
  WriteFile(file, "[S]\nK=1\n");
  TIniFile ini(file);
  TMemIniFile mem(file);
  WriteFile(file, "[S]\nK=2\n");
  EXPECT_EQ(ini.ReadInteger("S", "K", 0), 2);
  EXPECT_EQ(mem.ReadInteger("S", "K", 0), 1);
}

TEST(IniFile, KeysBeforeAnySectionAndBomAreIgnored) {
  TTempDir dir;
  const std::string file = (dir.Path() / "b.ini").string();
  WriteFile(file, "\xEF\xBB\xBF[Charset]\nCharset=204\n");
  EXPECT_EQ(TMemIniFile(file).ReadInteger("Charset", "Charset", 1), 204);
  WriteFile(file, "Orphan=1\n[S]\nK=2");  // and a last line without line end
  TIniFile ini(file);
  EXPECT_EQ(ini.ReadString("", "Orphan", "d"), "d");
  EXPECT_EQ(ini.ReadInteger("S", "K", 0), 2);
}

}  // namespace
