// `sfs put`, `get`, `ls -l` and `check` on compressed and plain files, run as the real tool.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sfs/FileStream.h"
#include "sfs/SingleFileSystem.h"
#include "sfs/UserFileStream.h"
#include "streams_support.h"
#include "support/SfsToolRun.h"

namespace sfs {
namespace {

using namespace sfs::testing;
using TRun = bdtest::TToolRun;

void WriteBytes(const std::string& path, const TBytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

class StreamsTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(bdtest::SfsToolPath())) << bdtest::SfsToolPath();
    FDir = ::testing::TempDir() + "streams_tool_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir);
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }

  TRun Run(const std::string& args) { return bdtest::RunSfs(args, FDir); }

  std::string FDir;
};

TEST_F(StreamsTool, PutAndGetRoundTripAtEveryLevel) {
  const std::string c = "'" + FDir + "c.sfs'";
  ASSERT_EQ(Run("create " + c + " --level zlibFastest").Status, 0);
  std::string listing;
  for (const TSFSCompressionLevel level : cAllLevels) {
    const std::string name(SFSCompressionLevelName(level));
    SCOPED_TRACE(name);
    const bool ppm = level == ppmNormal || level == ppmMax || level == ppmFastest;
    // Three blocks or more at every block size; the PPM coder is slow under sanitizers, so its
    // files are kept smaller.
    const TBytes data =
        TextBytes(ppm ? 3 * 1024 * 1024 + 99 : 5 * 1024 * 1024 + 99, static_cast<uint32_t>(level));
    WriteBytes(FDir + "in", data);
    const TRun put = Run("put " + c + " dir/" + name + " '" + FDir + "in' --level " + name);
    ASSERT_EQ(put.Status, 0) << put.Err;
    const TRun get = Run("get " + c + " dir/" + name + " '" + FDir + "got'");
    ASSERT_EQ(get.Status, 0) << get.Err;
    EXPECT_EQ(bdtest::ReadFileBytes(FDir + "got"), std::string(data.begin(), data.end()));
  }
  // Without --level the container's default applies.
  WriteBytes(FDir + "in", TextBytes(700 * 1024, 99));
  ASSERT_EQ(Run("put " + c + " default.txt '" + FDir + "in'").Status, 0);
  const TRun ls = Run("ls -l " + c);
  ASSERT_EQ(ls.Status, 0) << ls.Err;
  EXPECT_NE(ls.Out.find("--c  default.txt"), std::string::npos) << ls.Out;
  // A compressed file is listed with the size of its content, not of its packed blocks.
  const size_t line = ls.Out.find("default.txt");
  ASSERT_NE(line, std::string::npos);
  EXPECT_EQ(std::stoll(ls.Out.substr(ls.Out.rfind('\n', line) + 1)), 700 * 1024) << ls.Out;
  EXPECT_NE(ls.Out.find("---  dir/sfsNone"), std::string::npos) << ls.Out;
  EXPECT_NE(ls.Out.find("--c  dir/bzipMax"), std::string::npos) << ls.Out;
  const TRun check = Run("check " + c);
  EXPECT_EQ(check.Status, 0) << check.Out;
  EXPECT_EQ(check.Out, "ok\n");
}

TEST_F(StreamsTool, PlainContentThatLooksLikeAStreamRoundTrips) {
  // As plain bytes it would be read back as a compressed stream; it is stored in blocks instead.
  const std::string c = "'" + FDir + "c.sfs'";
  ASSERT_EQ(Run("create " + c).Status, 0);
  TBytes data = RandomBytes(300, 31);
  std::copy_n("AACS", 4, data.begin());
  WriteBytes(FDir + "in", data);
  const TRun put = Run("put " + c + " x.bin '" + FDir + "in' --level sfsNone");
  ASSERT_EQ(put.Status, 0) << put.Err;
  const TRun get = Run("get " + c + " x.bin '" + FDir + "got'");
  ASSERT_EQ(get.Status, 0) << get.Err;
  EXPECT_EQ(bdtest::ReadFileBytes(FDir + "got"), std::string(data.begin(), data.end()));
  EXPECT_EQ(Run("check " + c).Out, "ok\n");
  // Shorter than a stream header it is read as plain bytes anyway, and stays plain.
  data.resize(100);
  WriteBytes(FDir + "in", data);
  ASSERT_EQ(Run("put " + c + " y.bin '" + FDir + "in'").Status, 0);
  EXPECT_EQ(Run("get " + c + " y.bin").Out, std::string(data.begin(), data.end()));
  EXPECT_NE(Run("ls -l " + c).Out.find("---  y.bin"), std::string::npos);
}

TEST_F(StreamsTool, CheckAndGetReportDamagedStreams) {
  const std::string path = FDir + "c.sfs";
  {
    TSingleFileSystem fs;
    fs.CreateContainer(path);
    const TBytes data = TextBytes(1200 * 1024, 7);
    for (const char* name : {"crc.bin", "cut.bin", "good.bin"}) {
      TSFSFileStream s(&fs, name, platform::fmCreate, "", "", "", zlibNormal);
      s.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    }
    // Damage through the container, so that its pages stay sound and only the stream is wrong.
    TSFSUserFileStream crc(&fs, "crc.bin", platform::fmOpenReadWrite, "", "", "");
    crc.Seek(128 + 8, platform::soBeginning);
    uint32_t value = 0;
    crc.ReadBuffer(&value, 4);
    value ^= 0x10;
    crc.Seek(128 + 8, platform::soBeginning);
    crc.WriteBuffer(&value, 4);
    TSFSUserFileStream cut(&fs, "cut.bin", platform::fmOpenReadWrite, "", "", "");
    cut.SetSize(cut.GetSize() - 100);
  }
  const std::string c = "'" + path + "'";
  const TRun check = Run("check " + c);
  EXPECT_EQ(check.Status, 1);
  EXPECT_NE(check.Out.find(
                "crc.bin: block 0: TSFSAdvancedFileStream.LoadBlock - decompression crc error."),
            std::string::npos)
      << check.Out;
  EXPECT_NE(check.Out.find("cut.bin: the block list ends inside a block: 1 of 2 blocks are whole"),
            std::string::npos)
      << check.Out;
  EXPECT_EQ(check.Out.find("good.bin"), std::string::npos) << check.Out;

  const TRun crc = Run("get " + c + " crc.bin");
  EXPECT_EQ(crc.Status, 1);
  EXPECT_EQ(
      crc.Err,
      "sfs: cannot read crc.bin: TSFSAdvancedFileStream.LoadBlock - decompression crc error.\n");
  const TRun cut = Run("get " + c + " cut.bin");
  EXPECT_EQ(cut.Status, 1);
  EXPECT_EQ(cut.Err, "sfs: cannot read cut.bin: the compressed stream is truncated\n");
  EXPECT_EQ(Run("get " + c + " good.bin").Status, 0);
  // Reading changed nothing: the damage is still reported.
  EXPECT_EQ(Run("check " + c).Out, check.Out);
}

}  // namespace
}  // namespace sfs
