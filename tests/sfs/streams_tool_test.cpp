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

namespace sfs {
namespace {

using namespace sfs::testing;

struct TRun {
  int status = -1;
  std::string out, err;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::string& path, const TBytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

class StreamsTool : public ::testing::Test {
 protected:
  void SetUp() override {
    // The tool of the same build: BD_BINARY_DIR, or the build folder this test lies in.
    if (const char* bin = std::getenv("BD_BINARY_DIR"))
      FTool = std::string(bin) + "/tools/sfs/sfs";
    else
      FTool = (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path().parent_path() /
               "tools/sfs/sfs").string();
    ASSERT_TRUE(std::filesystem::exists(FTool)) << FTool;
    FDir = ::testing::TempDir() + "streams_tool_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    std::system(("rm -rf '" + FDir + "' && mkdir -p '" + FDir + "'").c_str());
  }
  void TearDown() override { std::system(("rm -rf '" + FDir + "'").c_str()); }

  TRun Run(const std::string& args) {
    TRun r;
    const std::string cmd = "'" + FTool + "' " + args + " >'" + FDir + "out' 2>'" + FDir + "err' </dev/null";
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadText(FDir + "out");
    r.err = ReadText(FDir + "err");
    return r;
  }

  std::string FTool, FDir;
};

TEST_F(StreamsTool, PutAndGetRoundTripAtEveryLevel) {
  const std::string c = "'" + FDir + "c.sfs'";
  ASSERT_EQ(Run("create " + c + " --level zlibFastest").status, 0);
  std::string listing;
  for (const TSFSCompressionLevel level : cAllLevels) {
    const std::string name(SFSCompressionLevelName(level));
    SCOPED_TRACE(name);
    const bool ppm = level == ppmNormal || level == ppmMax || level == ppmFastest;
    // Three blocks or more at every block size; the PPM coder is slow under sanitizers, so its
    // files are kept smaller.
    const TBytes data = TextBytes(ppm ? 3 * 1024 * 1024 + 99 : 5 * 1024 * 1024 + 99, static_cast<uint32_t>(level));
    WriteBytes(FDir + "in", data);
    const TRun put = Run("put " + c + " dir/" + name + " '" + FDir + "in' --level " + name);
    ASSERT_EQ(put.status, 0) << put.err;
    const TRun get = Run("get " + c + " dir/" + name + " '" + FDir + "got'");
    ASSERT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(ReadText(FDir + "got"), std::string(data.begin(), data.end()));
  }
  // Without --level the container's default applies.
  WriteBytes(FDir + "in", TextBytes(700 * 1024, 99));
  ASSERT_EQ(Run("put " + c + " default.txt '" + FDir + "in'").status, 0);
  const TRun ls = Run("ls -l " + c);
  ASSERT_EQ(ls.status, 0) << ls.err;
  EXPECT_NE(ls.out.find("--c  default.txt"), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find("---  dir/sfsNone"), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find("--c  dir/bzipMax"), std::string::npos) << ls.out;
  const TRun check = Run("check " + c);
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out, "ok\n");
}

TEST_F(StreamsTool, PlainContentThatLooksLikeAStreamRoundTrips) {
  // As plain bytes it would be read back as a compressed stream; it is stored in blocks instead.
  const std::string c = "'" + FDir + "c.sfs'";
  ASSERT_EQ(Run("create " + c).status, 0);
  TBytes data = RandomBytes(300, 31);
  std::copy_n("AACS", 4, data.begin());
  WriteBytes(FDir + "in", data);
  const TRun put = Run("put " + c + " x.bin '" + FDir + "in' --level sfsNone");
  ASSERT_EQ(put.status, 0) << put.err;
  const TRun get = Run("get " + c + " x.bin '" + FDir + "got'");
  ASSERT_EQ(get.status, 0) << get.err;
  EXPECT_EQ(ReadText(FDir + "got"), std::string(data.begin(), data.end()));
  EXPECT_EQ(Run("check " + c).out, "ok\n");
  // Shorter than a stream header it is read as plain bytes anyway, and stays plain.
  data.resize(100);
  WriteBytes(FDir + "in", data);
  ASSERT_EQ(Run("put " + c + " y.bin '" + FDir + "in'").status, 0);
  EXPECT_EQ(Run("get " + c + " y.bin").out, std::string(data.begin(), data.end()));
  EXPECT_NE(Run("ls -l " + c).out.find("---  y.bin"), std::string::npos);
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
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find("crc.bin: block 0: TSFSAdvancedFileStream.LoadBlock - decompression crc error."),
            std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("cut.bin: the block list ends inside a block: 1 of 2 blocks are whole"), std::string::npos)
      << check.out;
  EXPECT_EQ(check.out.find("good.bin"), std::string::npos) << check.out;

  const TRun crc = Run("get " + c + " crc.bin");
  EXPECT_EQ(crc.status, 1);
  EXPECT_EQ(crc.err, "sfs: cannot read crc.bin: TSFSAdvancedFileStream.LoadBlock - decompression crc error.\n");
  const TRun cut = Run("get " + c + " cut.bin");
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.err, "sfs: cannot read cut.bin: the compressed stream is truncated\n");
  EXPECT_EQ(Run("get " + c + " good.bin").status, 0);
  // Reading changed nothing: the damage is still reported.
  EXPECT_EQ(Run("check " + c).out, check.out);
}

}  // namespace
}  // namespace sfs
