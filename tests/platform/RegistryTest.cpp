#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"
#include "platform/Registry.h"

namespace {

namespace fs = std::filesystem;
using platform::ERegistryException;
using platform::KEY_ALL_ACCESS;
using platform::KEY_READ;
using platform::KEY_WRITE;
using platform::TRegistry;
using testutil::ReadFile;
using testutil::WriteFile;

constexpr const char* cConfigKey = "Software\\Brindel\\Config";

class RegistryTest : public testutil::RegistryStoreTest {
 protected:
  fs::path Store() const { return platform::RegistryStoreFile(platform::HKEY_CURRENT_USER); }
  // Files beside the store whose name marks a damaged store kept aside.
  std::vector<fs::path> DamagedFiles() const {
    std::vector<fs::path> found;
    if (!fs::exists(Store().parent_path())) return found;
    for (const auto& entry : fs::directory_iterator(Store().parent_path()))
      if (entry.path().filename().string().starts_with("registry.reg.damaged-"))
        found.push_back(entry.path());
    return found;
  }
};

template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const ERegistryException& e) {
    return e.what();
  }
  return "(no exception)";
}

TEST_F(RegistryTest, StoreLivesUnderXdgConfigHome) {
  EXPECT_EQ(platform::RegistryStoreFolder(), FDir.Path() / "Brindel");
  EXPECT_EQ(Store(), FDir.Path() / "Brindel" / "registry.reg");
  const char* home = std::getenv("HOME");
  const std::string savedHome = home != nullptr ? home : "";
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(platform::RegistryStoreFolder(), fs::path("/home/someone/.config/Brindel"));
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(platform::RegistryStoreFolder(), fs::path("/home/someone/.config/Brindel"));
  setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(RegistryTest, WritesTheExportFormat) {
  TRegistry reg(KEY_ALL_ACCESS);
  ASSERT_TRUE(reg.OpenKey(cConfigKey, true));
  reg.WriteInteger("_AllPrograms1024768800600Switch", 1);
  reg.WriteInteger("Minus", -1);
  reg.WriteString("Name", "C:\\Prog \"x\"");
  EXPECT_EQ(ReadFile(Store()),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software]\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Brindel]\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Brindel\\Config]\n"
            "\"_AllPrograms1024768800600Switch\"=dword:00000001\n"
            "\"Minus\"=dword:ffffffff\n"
            "\"Name\"=\"C:\\\\Prog \\\"x\\\"\"\n"
            "\n");
}

TEST_F(RegistryTest, ValuesRoundTripThroughTheFile) {
  const std::string bytes =
      std::string("line1\r\nline2\\ \"q\" \xE4\xFC tab\t nul:") + '\0' + "end";
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(cConfigKey, true));
    reg.WriteInteger("Int", -123456);
    reg.WriteInteger("Max", 2147483647);
    reg.WriteBool("True", true);
    reg.WriteBool("False", false);
    reg.WriteString("Bytes", bytes);
    reg.WriteString("Empty", "");
    reg.WriteString("", "default value");
  }
  TRegistry reg(KEY_READ);  // a fresh object reads the file
  ASSERT_TRUE(reg.OpenKey(cConfigKey, false));
  EXPECT_EQ(reg.ReadInteger("Int"), -123456);
  EXPECT_EQ(reg.ReadInteger("Max"), 2147483647);
  EXPECT_TRUE(reg.ReadBool("True"));
  EXPECT_FALSE(reg.ReadBool("False"));
  EXPECT_EQ(reg.ReadInteger("True"), 1);
  EXPECT_EQ(reg.ReadString("Bytes"), bytes);
  EXPECT_TRUE(reg.ValueExists("Empty"));
  EXPECT_EQ(reg.ReadString("Empty"), "");
  EXPECT_EQ(reg.ReadString(""), "default value");
}

TEST_F(RegistryTest, MissingAndMistypedValuesFailAsTheFrameworkDoes) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(cConfigKey, true));
  reg.WriteString("Text", "abc");
  reg.WriteInteger("Number", 5);
  EXPECT_FALSE(reg.ValueExists("Missing"));
  EXPECT_EQ(ErrorOf([&] { reg.ReadInteger("Missing"); }), "Failed to get data for 'Missing'");
  EXPECT_EQ(ErrorOf([&] { reg.ReadBool("Missing"); }), "Failed to get data for 'Missing'");
  EXPECT_EQ(reg.ReadString("Missing"), "");  // the framework's string read gives empty
  EXPECT_EQ(ErrorOf([&] { reg.ReadInteger("Text"); }), "Invalid data type for 'Text'");
  EXPECT_EQ(ErrorOf([&] { reg.ReadString("Number"); }), "Invalid data type for 'Number'");
  // A write of another type replaces the value.
  reg.WriteInteger("Text", 7);
  EXPECT_EQ(reg.ReadInteger("Text"), 7);
}

TEST_F(RegistryTest, ANonZeroDwordReadsAsTrue) {
  WriteFile(Store(),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Brindel\\Config]\r\n"
            "\"Two\"=dword:2\r\n"
            "\"Zero\"=dword:00000000\r\n");
  TRegistry reg(KEY_READ);
  ASSERT_TRUE(reg.OpenKey(cConfigKey, false));
  EXPECT_TRUE(reg.ReadBool("Two"));
  EXPECT_FALSE(reg.ReadBool("Zero"));
}

TEST_F(RegistryTest, KeysAndValueNamesIgnoreCase) {
  TRegistry writer;
  ASSERT_TRUE(writer.OpenKey("Software\\Microsoft\\DirectX", true));
  writer.WriteString("Version", "4.09.00.0904");
  TRegistry reader(KEY_READ);
  ASSERT_TRUE(reader.OpenKey("SoftWare\\MICROSOFT\\directx", false));
  EXPECT_EQ(reader.ReadString("VERSION"), "4.09.00.0904");
  writer.WriteString("version", "4.09.00.0905");  // same value, name kept as first written
  EXPECT_EQ(reader.ReadString("Version"), "4.09.00.0905");
  EXPECT_NE(ReadFile(Store()).find("\"Version\"=\"4.09.00.0905\""), std::string::npos);
}

TEST_F(RegistryTest, OpenKeyWithoutCreateOnAMissingKey) {
  TRegistry reg(KEY_READ);
  EXPECT_FALSE(reg.OpenKey(cConfigKey, false));
  EXPECT_EQ(reg.CurrentPath(), "");
  EXPECT_FALSE(fs::exists(Store()));  // nothing was written
  // No key is open: reads fail the guarded way, ValueExists is false.
  EXPECT_FALSE(reg.ValueExists("x"));
  EXPECT_EQ(ErrorOf([&] { reg.ReadBool("x"); }), "Failed to get data for 'x'");
  EXPECT_EQ(ErrorOf([&] { reg.ReadString("x"); }), "Failed to get data for 'x'");
}

TEST_F(RegistryTest, PathsRelativeAndAbsolute) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\", true));
  EXPECT_EQ(reg.CurrentPath(), "Software");
  ASSERT_TRUE(reg.OpenKey("Brindel\\Config", true));  // relative to the open key
  EXPECT_EQ(reg.CurrentPath(), "Software\\Brindel\\Config");
  EXPECT_TRUE(reg.KeyExists("\\Software\\Brindel"));
  EXPECT_FALSE(reg.KeyExists("Brindel"));  // relative: Software\Brindel\Config\Brindel
  ASSERT_TRUE(reg.OpenKey("\\Software", false));
  EXPECT_EQ(reg.CurrentPath(), "Software");
  reg.CloseKey();
  EXPECT_EQ(reg.CurrentPath(), "");
  ASSERT_TRUE(reg.OpenKey("Software\\Brindel", false));  // relative to the root again
  EXPECT_EQ(reg.CurrentPath(), "Software\\Brindel");
  reg.SetRootKey(platform::HKEY_CURRENT_USER);
  EXPECT_EQ(reg.CurrentPath(), "");  // changing the root closes the key
}

TEST_F(RegistryTest, AccessRights) {
  {
    TRegistry all;
    ASSERT_TRUE(all.OpenKey(cConfigKey, true));
    all.WriteInteger("Value", 1);
  }
  TRegistry reg(KEY_READ);
  EXPECT_FALSE(reg.OpenKey("Software\\New", true));  // creating needs write access
  EXPECT_FALSE(reg.KeyExists("Software\\New"));
  ASSERT_TRUE(reg.OpenKey(cConfigKey, true));  // an existing key opens
  EXPECT_EQ(ErrorOf([&] { reg.WriteInteger("Value", 2); }), "Failed to set data for 'Value'");
  EXPECT_EQ(ErrorOf([&] { reg.WriteString("S", "x"); }), "Failed to set data for 'S'");
  EXPECT_FALSE(reg.DeleteValue("Value"));
  EXPECT_EQ(reg.ReadInteger("Value"), 1);

  reg.SetAccess(KEY_WRITE);  // write only: no reads, as with the system's handles
  reg.WriteInteger("Value", 3);
  EXPECT_FALSE(reg.ValueExists("Value"));
  EXPECT_EQ(ErrorOf([&] { reg.ReadInteger("Value"); }), "Failed to get data for 'Value'");
  EXPECT_TRUE(reg.OpenKey("Software\\New", true));
  reg.SetAccess(KEY_ALL_ACCESS);
  EXPECT_TRUE(reg.OpenKey(std::string("\\") + cConfigKey, false));
  EXPECT_EQ(reg.ReadInteger("Value"), 3);
  EXPECT_TRUE(reg.DeleteValue("Value"));
  EXPECT_FALSE(reg.DeleteValue("Value"));
  EXPECT_FALSE(reg.ValueExists("Value"));
}

TEST_F(RegistryTest, WritesWithoutAnOpenKeyFail) {
  TRegistry reg;
  EXPECT_EQ(ErrorOf([&] { reg.WriteInteger("X", 1); }), "Failed to set data for 'X'");
  EXPECT_FALSE(fs::exists(Store()));
}

TEST_F(RegistryTest, ForeignEntriesSurviveARewrite) {
  const std::string foreign =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; exported by hand\r\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
      "\"Bin\"=hex:01,02,\\\r\n"
      "  03,04\r\n"
      "@=\"unnamed\"\r\n";
  WriteFile(Store(), foreign);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(cConfigKey, true));
  reg.WriteInteger("A", 1);
  const std::string text = ReadFile(Store());
  EXPECT_NE(
      text.find(
          "[HKEY_CURRENT_USER\\Software\\Other]\n\"Bin\"=hex:01,02,\\\n  03,04\n@=\"unnamed\"\n"),
      std::string::npos)
      << text;
  ASSERT_TRUE(reg.OpenKey("\\Software\\Other", false));
  EXPECT_EQ(ErrorOf([&] { reg.ReadInteger("Bin"); }), "Invalid data type for 'Bin'");
  EXPECT_EQ(reg.ReadString(""), "unnamed");
}

TEST_F(RegistryTest, TwoObjectsSeeEachOthersWrites) {
  TRegistry a;
  TRegistry b;
  ASSERT_TRUE(a.OpenKey(cConfigKey, true));
  ASSERT_TRUE(b.OpenKey(cConfigKey, false));
  a.WriteInteger("FromA", 1);
  b.WriteInteger("FromB", 2);
  EXPECT_EQ(a.ReadInteger("FromB"), 2);
  EXPECT_EQ(b.ReadInteger("FromA"), 1);
}

TEST_F(RegistryTest, AStaleTemporaryFileDoesNotMatter) {
  WriteFile(fs::path(Store().string() + ".tmp"), "garbage of a killed writer");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(cConfigKey, true));
  reg.WriteInteger("A", 1);
  EXPECT_EQ(reg.ReadInteger("A"), 1);
}

struct DamagedCase {
  const char* name;
  const char* text;
  const char* reason;
};

const DamagedCase cDamagedCases[] = {
    {"OtherHeader", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n", "line 1: missing header"},
    {"Truncated", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Soft",
     "line 3: key line without"},
    {"ValueBeforeKey", "Windows Registry Editor Version 5.00\n\"A\"=dword:1\n",
     "line 2: value before the first key"},
    {"UnterminatedString",
     "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\S]\n\"A\"=\"abc\n",
     "line 3: unterminated string"},
    {"BadDword",
     "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\S]\n\"A\"=dword:12345678a\n",
     "line 3: malformed DWORD"},
    {"OtherRoot", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\S]\n",
     "line 2: key outside HKEY_CURRENT_USER"},
    {"DeletionLine", "Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER\\S]\n",
     "line 2: key deletion line"},
    {"Garbage", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\S]\n\x01junk\n",
     "line 3: unknown line"},
};

void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.name; }

class RegistryDamageTest : public RegistryTest,
                           public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(RegistryDamageTest, AReadReportsItAndKeepsTheFileAside) {
  const DamagedCase& c = GetParam();
  WriteFile(Store(), c.text);
  TRegistry reg(KEY_READ);
  const std::string error = ErrorOf([&] { reg.OpenKey(cConfigKey, false); });
  EXPECT_NE(error.find("is damaged"), std::string::npos) << error;
  EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  const auto aside = DamagedFiles();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(ReadFile(aside[0]), c.text);  // kept byte for byte
  EXPECT_NE(error.find(aside[0].string()), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(Store()));
  // The store starts afresh; the damaged file stays untouched beside it.
  TRegistry writer;
  ASSERT_TRUE(writer.OpenKey(cConfigKey, true));
  writer.WriteInteger("A", 1);
  EXPECT_EQ(writer.ReadInteger("A"), 1);
  EXPECT_EQ(ReadFile(aside[0]), c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistryDamageTest, ::testing::ValuesIn(cDamagedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, AWriteToADamagedStoreIsRefusedNotOverwriting) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(cConfigKey, true));
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\S]\n\"A\"=\"x\n";
  WriteFile(Store(), damaged);  // damaged behind the open object's back
  const std::string error = ErrorOf([&] { reg.WriteInteger("B", 2); });
  EXPECT_TRUE(error.starts_with("Failed to set data for 'B'")) << error;
  EXPECT_NE(error.find("is damaged"), std::string::npos) << error;
  const auto aside = DamagedFiles();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(ReadFile(aside[0]), damaged);
  reg.WriteInteger("B", 2);  // the next write starts a fresh store
  EXPECT_EQ(reg.ReadInteger("B"), 2);
  EXPECT_EQ(DamagedFiles().size(), 1u);
}

TEST_F(RegistryTest, AnEmptyFileIsAnEmptyStore) {
  WriteFile(Store(), "");
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey(cConfigKey, false));
  EXPECT_TRUE(DamagedFiles().empty());
}

}  // namespace
