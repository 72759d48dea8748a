// sfs compress and sfs decompress, run as a program.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "sfs/Compression.h"
#include "sfs/codecs_testdata.h"
#include "support/SfsToolRun.h"

namespace sfs {
namespace {

namespace fs = std::filesystem;
using bdtest::ReadFileBytes;
using bdtest::WriteFileBytes;
using TRun = bdtest::TToolRun;

class CodecsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() /
           ("bd_sfs_codecs_cli_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  TRun Sfs(const std::string& args, const std::string& input = "") {
    return bdtest::RunSfs(args, FDir, input);
  }

  fs::path FDir;
};

TEST_F(CodecsCli, EveryLevelRoundTripsAndMatchesTheLayer) {
  const auto bytes = testing::MixedBytes(60000);
  const std::string input(bytes.begin(), bytes.end());
  WriteFileBytes(FDir / "in", input);
  for (int ordinal = 0; ordinal < cSFSCompressionLevelCount; ++ordinal) {
    const auto level = static_cast<TSFSCompressionLevel>(ordinal);
    const std::string name(SFSCompressionLevelName(level));
    const TRun packed = Sfs("compress " + name + " " + (FDir / "in").string());
    ASSERT_EQ(packed.Status, 0) << name << ": " << packed.Err;
    TSFSBuffer expected;
    int32_t size = 0;
    ASSERT_TRUE(
        SFSInternalCompressBuffer(bytes.data(), int32_t(bytes.size()), expected, size, level));
    EXPECT_EQ(packed.Out, std::string(expected.begin(), expected.end())) << name;
    const TRun unpacked =
        Sfs("decompress --size " + std::to_string(input.size()) + " " + name, packed.Out);
    EXPECT_EQ(unpacked.Status, 0) << name << ": " << unpacked.Err;
    EXPECT_EQ(unpacked.Out, input) << name;
  }
}

TEST_F(CodecsCli, FailuresAndUsageErrors) {
  const std::string text = "a line of text, a line of text, a line of text\n";
  const std::string packed = Sfs("compress ZLIBMAX", text).Out;
  const std::string n = std::to_string(text.size());
  ASSERT_FALSE(packed.empty());
  const struct {
    std::string args, input;
    int status;
    std::string errStart;
  } cases[] = {
      {"compress zlibMax", "", 1, "sfs: empty input"},
      {"compress zlibMaximal", text, 2, "sfs: unknown compression level: zlibMaximal"},
      {"compress", text, 2, "sfs: "},
      {"decompress zlibMax", packed, 2, "sfs: --size is required"},
      {"decompress zlibMax --size 0", packed, 2, "sfs: --size must be"},
      {"decompress zlibMax --size 20", packed, 1, "sfs: decompression with zlibMax failed"},
      {"decompress zlibMax --size 400", packed, 1,
       "sfs: decompression gave " + n + " bytes, expected 400"},
      {"decompress zlibMax --size " + n, packed.substr(0, packed.size() - 3), 1,
       "sfs: decompression with zlibMax"},
      {"decompress ppmMax --size " + n, packed, 1, "sfs: decompression with ppmMax failed"},
      {"decompress bzipNormal --size " + n, packed, 1, "sfs: decompression with bzipNormal failed"},
      {"decompress zlibMax --size " + n + " " + (FDir / "missing").string(), "", 1, "sfs: cannot"},
  };
  for (const auto& c : cases) {
    const TRun r = Sfs(c.args, c.input);
    EXPECT_EQ(r.Status, c.status) << c.args << ": " << r.Err;
    EXPECT_EQ(r.Err.rfind(c.errStart, 0), 0u) << c.args << ": " << r.Err;
    EXPECT_EQ(r.Out, "") << c.args;
  }
  EXPECT_EQ(Sfs("decompress zlibmax --size " + n, packed).Out, text);
}

}  // namespace
}  // namespace sfs
