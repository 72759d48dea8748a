// The sfs tool's framework and its digest, format, cipher and random commands, run as a program.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Tool.h"
#include "crypto/Rijndael.h"
#include "crypto/StringFormat.h"
#include "support/SfsToolRun.h"

namespace {

namespace fs = std::filesystem;
using bdtest::ReadFileBytes;
using bdtest::WriteFileBytes;
using TRun = bdtest::TToolRun;

class SfsTool : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() /
           ("bd_sfs_crypto_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  // Runs `sfs Args` with Input on standard input (not a terminal).
  TRun Sfs(const std::string& Args, const std::string& Input = "") {
    return bdtest::RunSfs(Args, FDir, Input);
  }

  fs::path FDir;
};

TEST_F(SfsTool, Digest) {
  EXPECT_EQ(Sfs("digest md4", "abc").Out, "a448017aaf21d8525fc10ae87aa6729d\n");
  WriteFileBytes(FDir / "in", "abc");
  const TRun r = Sfs("digest ripemd256 " + (FDir / "in").string());
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65\n");
  EXPECT_EQ(r.Err, "") << "no progress bar when standard error is not a terminal";
  EXPECT_EQ(Sfs("digest md4 -", "").Out, "31d6cfe0d16ae931b73c59d7e0c089c0\n");

  const TRun missing = Sfs("digest md4 " + (FDir / "nope").string());
  EXPECT_EQ(missing.Status, 1);
  EXPECT_EQ(missing.Err.rfind("sfs: cannot open ", 0), 0u) << missing.Err;
  EXPECT_EQ(missing.Out, "");
}

TEST_F(SfsTool, Format) {
  EXPECT_EQ(Sfs("format encode mime64", "abc").Out, "YWJj");
  EXPECT_EQ(Sfs("format decode hex", "0x1F").Out, "\x1F");
  EXPECT_EQ(Sfs("format encode uu", std::string(1, '\0')).Out, "!````");
  EXPECT_EQ(Sfs("format decode xx", Sfs("format encode xx", "round trip").Out).Out, "round trip");
  EXPECT_EQ(Sfs("format encode hexl", "").Out, "");

  const TRun bad = Sfs("format decode uu", "!!!");
  EXPECT_EQ(bad.Status, 1);
  EXPECT_EQ(bad.Err, "sfs: Input is not an valid UU Coding Format.\n");
  EXPECT_EQ(bad.Out, "");
}

TEST_F(SfsTool, UsageErrors) {
  for (const std::string args :
       {"", "bogus", "digest", "digest sha1", "format encode base32", "digest md4 --nope",
        "random --bits 0", "cipher encode --key 0g", "cipher encode --key 00 --iv 00",
        "cipher encode --pass pass:a --key 00", "cipher encode --pass secret"}) {
    const TRun r = Sfs(args);
    EXPECT_EQ(r.Status, 2) << args << ": " << r.Err;
    EXPECT_EQ(r.Err.rfind("sfs: ", 0), 0u) << args << ": " << r.Err;
    EXPECT_NE(r.Err.find("\nusage: sfs"), std::string::npos) << args << ": " << r.Err;
    EXPECT_EQ(r.Out, "") << args;
  }
  const TRun version = Sfs("--version");
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("sfs ", 0), 0u);
  const TRun help = Sfs("--help");
  EXPECT_EQ(help.Status, 0);
  for (const char* command : {"digest", "format", "cipher", "random"})
    EXPECT_NE(help.Out.find(command), std::string::npos) << command;
  EXPECT_EQ(Sfs("cipher --help").Status, 0);
}

TEST_F(SfsTool, CipherWithRawKeyMatchesFips197) {
  const std::string key = "000102030405060708090a0b0c0d0e0f";
  const std::string plain = crypto::FormatToStr("00112233445566778899aabbccddeeff", crypto::fmtHEX);
  // Options before and after the positional arguments.
  const TRun r = Sfs("cipher --mode ecb encode --key " + key, plain);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(crypto::StrToFormat(r.Out, crypto::fmtHEXL), "69c4e0d86a7b0430d8cdb78070b4c55a");
  EXPECT_EQ(Sfs("cipher decode --key " + key + " --mode ecb", r.Out).Out, plain);
}

TEST_F(SfsTool, CipherWithPassPhrases) {
  const std::string plain = "a text of some length, not a whole number of blocks";
  const TRun coded = Sfs("cipher encode --pass pass:secret", plain);
  ASSERT_EQ(coded.Status, 0) << coded.Err;
  EXPECT_EQ(coded.Out.size(), plain.size());
  // The same as the framework's cipher made from the phrase.
  std::string expected = plain;
  crypto::TCipher_Rijndael cipher("secret");
  cipher.EncodeBuffer(expected.data(), expected.data(), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(coded.Out, expected);

  WriteFileBytes(FDir / "pw", "secret\nsecond line\n");
  EXPECT_EQ(Sfs("cipher decode --pass file:" + (FDir / "pw").string(), coded.Out).Out, plain);
  ::setenv("BD_TEST_PASS", "secret", 1);
  EXPECT_EQ(Sfs("cipher decode --pass env:BD_TEST_PASS", coded.Out).Out, plain);
  ::unsetenv("BD_TEST_PASS");
  const TRun noVar = Sfs("cipher decode --pass env:BD_TEST_PASS", coded.Out);
  EXPECT_EQ(noVar.Status, 1);
  EXPECT_EQ(noVar.Err, "sfs: environment variable BD_TEST_PASS is not set\n");

  // No pass phrase and no terminal: a clear failure, nothing written.
  const TRun none = Sfs("cipher encode", plain);
  EXPECT_EQ(none.Status, 1);
  EXPECT_NE(none.Err.find("--pass"), std::string::npos);
  EXPECT_EQ(none.Out, "");
}

TEST_F(SfsTool, CipherModesAndMac) {
  const std::string key = "2b7e151628aed2a6abf7158809cf4f3c",
                    iv = "000102030405060708090a0b0c0d0e0f";
  const std::string plain = crypto::FormatToStr(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51", crypto::fmtHEX);
  const TRun cbc = Sfs("cipher encode --mode cbc --key " + key + " --iv " + iv, plain);
  EXPECT_EQ(crypto::StrToFormat(cbc.Out, crypto::fmtHEXL),
            "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2");
  // The CBC-MAC of whole blocks is the last CBC block.
  const TRun mac = Sfs("cipher encode --mode cbcmac --key " + key + " --iv " + iv, plain);
  EXPECT_EQ(mac.Out, "5086cb9b507219ee95db113a917678b2\n");
  for (const char* mode : {"cts", "cbc", "cfb", "ofb"}) {
    const std::string text = "mode round trip of 37 bytes of text..";
    const TRun enc = Sfs(std::string("cipher encode --pass pass:m --mode ") + mode, text);
    EXPECT_EQ(enc.Out.size(), text.size()) << mode;
    EXPECT_EQ(Sfs(std::string("cipher decode --pass pass:m --mode ") + mode, enc.Out).Out, text)
        << mode;
  }
}

TEST_F(SfsTool, Random) {
  const TRun a = Sfs("random --seed abc --size 100");
  const TRun b = Sfs("random --size 100 --seed abc --bits 2032");
  EXPECT_EQ(a.Status, 0);
  EXPECT_EQ(a.Out.size(), 100u);
  EXPECT_EQ(a.Out, b.Out);
  EXPECT_NE(Sfs("random --seed abd --size 100").Out, a.Out);
  EXPECT_NE(Sfs("random --seed abc --size 100 --bits 128").Out, a.Out);
  EXPECT_EQ(Sfs("random").Out.size(), 32u);
  EXPECT_NE(Sfs("random").Out, Sfs("random").Out);
  EXPECT_EQ(Sfs("random --size 0").Out, "");
}

// A reader that stops early makes a failed write (exit 1 with a message), not a death by signal.
TEST_F(SfsTool, ClosedOutputPipeIsAFailure) {
  const std::string command = "{ '" + bdtest::SfsToolPath().string() + "'" +
                              " random --size 200000000 2>" + (FDir / "err").string() +
                              "; echo $? >" + (FDir / "rc").string() +
                              "; } | head -c 10 >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(FDir / "rc"), "1\n");
  EXPECT_EQ(ReadFileBytes(FDir / "err").rfind("sfs: cannot write standard output", 0), 0u)
      << ReadFileBytes(FDir / "err");
}

TEST_F(SfsTool, OutputFileReplacesTheTargetOnlyOnCommit) {
  const fs::path target = FDir / "out.bin";
  WriteFileBytes(target, "old");
  {
    sfstool::TOutputFile out(target.string());
    out.Write("new content");
    // Not committed: dropped.
  }
  EXPECT_EQ(ReadFileBytes(target), "old");
  {
    sfstool::TOutputFile out(target.string());
    out.Write("new ");
    out.Write("content");
    EXPECT_EQ(ReadFileBytes(target), "old");
    out.Commit();
  }
  EXPECT_EQ(ReadFileBytes(target), "new content");
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(FDir))
    files += entry.path().filename() != "stdin";
  EXPECT_EQ(files, 1u) << "no temporary file is left behind";
  EXPECT_THROW(sfstool::WriteOutput((FDir / "no" / "dir" / "x").string(), "x"),
               sfstool::TToolError);
}

TEST_F(SfsTool, PassArguments) {
  EXPECT_EQ(sfstool::ParsePassArgument("pass:"), "");
  EXPECT_EQ(sfstool::ParsePassArgument("pass:a:b"), "a:b");
  WriteFileBytes(FDir / "crlf", "line\r\nrest");
  EXPECT_EQ(sfstool::ParsePassArgument("file:" + (FDir / "crlf").string()), "line");
  EXPECT_THROW(sfstool::ParsePassArgument("file:" + (FDir / "missing").string()),
               sfstool::TToolError);
  EXPECT_THROW(sfstool::ParsePassArgument("secret"), sfstool::TUsageError);
  EXPECT_EQ(sfstool::ParseHexArgument("0aFf", "--key"), "\x0a\xff");
}

}  // namespace
