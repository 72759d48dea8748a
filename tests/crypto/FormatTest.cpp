// String formats, the protection chain and the small utilities.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "crypto/CryptUtil.h"
#include "crypto/Hash.h"
#include "crypto/Protection.h"
#include "crypto/Rijndael.h"
#include "crypto/StringFormat.h"
#include "TestBytes.h"

namespace crypto {
namespace {

using testdata::Bytes;

std::string ThrownMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const EStringFormat& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

TEST(StringFormat, TextToBytes) {
  struct TCase {
    int32_t Format;
    std::string Text;
    std::string Bytes;
  };
  const std::vector<TCase> cases = {
      {fmtHEX, "0x1F", "\x1F"},
      {fmtHEX, "$1f", "\x1F"},
      {fmtHEX, "1 F", "\x1F"},
      {fmtHEX, "ABC", "\xAB"},
      {fmtHEX, "de:ad-BE_ef", "\xDE\xAD\xBE\xEF"},
      {fmtHEX, "12x34$56", "\x34\x56"},  // only the first prefix character discards
      {fmtHEXL, "0x1f", "\x1F"},
      {fmtHEXL, "DEADbeef", "\xDE\xAD\xBE\xEF"},
      {fmtMIME64, "YWJj", "abc"},
      {fmtMIME64, "YWI=", "ab"},
      {fmtMIME64, "YWI", "ab"},  // padding is implied
      {fmtMIME64, "YW\r\nJj", "abc"},
      {fmtMIME64, "====", ""},
      {fmtUU, "!````", std::string(1, '\0')},
      {fmtUU, "#86)C", "abc"},
      {fmtUU, "!````\r\n!````", std::string(2, '\0')},
      {fmtCOPY, "as is", "as is"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatToStr(c.Text, c.Format), c.Bytes) << c.Format << " \"" << c.Text << "\"";
}

TEST(StringFormat, BytesToText) {
  EXPECT_EQ(StrToFormat("abc", fmtMIME64), "YWJj");
  EXPECT_EQ(StrToFormat("ab", fmtMIME64), "YWI=");
  EXPECT_EQ(StrToFormat("a", fmtMIME64), "YQ==");
  EXPECT_EQ(StrToFormat(std::string(1, '\0'), fmtUU), "!````");
  EXPECT_EQ(StrToFormat("\x1F\xAB", fmtHEX), "1FAB");
  EXPECT_EQ(StrToFormat("\x1F\xAB", fmtHEXL), "1fab");
  EXPECT_EQ(StrToFormat("abc", fmtDEFAULT), "YWJj");
  EXPECT_EQ(StrToFormat("abc", fmtNONE), "");
  EXPECT_EQ(StrToFormat("", fmtHEX), "");
  // 45 bytes per UU line: 46 bytes make a full line and a line of one byte.
  const std::string uu = StrToFormat(std::string(46, 'x'), fmtUU);
  EXPECT_EQ(uu.size(), 1 + 60 + 1 + 4u);
  EXPECT_EQ(uu[0], 'M');
  EXPECT_EQ(uu[61], '!');
}

TEST(StringFormat, EveryFormatRoundTrips) {
  for (const int32_t format : {fmtCOPY, fmtHEX, fmtHEXL, fmtMIME64, fmtUU, fmtXX}) {
    for (const size_t n : {1u, 2u, 3u, 44u, 45u, 46u, 90u, 91u, 256u}) {
      const std::string data = Bytes(n, static_cast<uint32_t>(n * 31 + static_cast<size_t>(format)));
      const std::string text = StrToFormat(data, format);
      EXPECT_EQ(FormatToStr(text, format), data) << "format " << format << " size " << n;
      if (format != fmtCOPY) {
        EXPECT_EQ(FormatToStr(InsertCR(text, 7), format), data) << "format " << format << " with line breaks";
      }
    }
  }
}

TEST(StringFormat, RejectsMalformedTextWithItsMessage) {
  struct TCase {
    int32_t Format;
    std::string Text;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {fmtHEX, "12zz", "Input is not an valid Hexadecimal Format."},
      {fmtHEXL, "0x1g", "Input is not an valid Hexadecimal lowercase Format."},
      {fmtMIME64, "YW@j", "Input is not an valid MIME Base 64 Format."},
      {fmtUU, "a```", "Input is not an valid UU Coding Format."},      // length character beyond 45
      {fmtUU, "#86)", "Input is not an valid UU Coding Format."},      // line cut short
      {fmtUU, "!``~`", "Input is not an valid UU Coding Format."},     // not in the table
      {fmtXX, "1+++", "Input is not an valid XX Coding Format."},      // length 3 needs 4 more
      {fmtXX, "%", "Input is not an valid XX Coding Format."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ThrownMessage([&] { FormatToStr(c.Text, c.Format); }), c.Message) << c.Format << " \"" << c.Text << "\"";
  EXPECT_EQ(ThrownMessage([] { FormatToStr("abc", 12345); }), "String Format \"12345\" not exists.");
  EXPECT_EQ(ThrownMessage([] { StrToFormat("abc", 77); }), "String Format \"77\" not exists.");
  EXPECT_EQ(StringFormat(fmtXX)->Name(), "XX Coding");
}

TEST(StringFormat, LineBreaks) {
  EXPECT_EQ(InsertCR("abcdefg", 3), "abc\r\ndef\r\ng");
  EXPECT_EQ(InsertCR("abcdef", 3), "abc\r\ndef");
  EXPECT_EQ(InsertCR("abc", 3), "abc");
  EXPECT_EQ(InsertCR("abc", 0), "abc");
  EXPECT_EQ(DeleteCR("a\r\nb\nc\rd"), "abcd");
}

TEST(Utilities, ChecksumsAndHelpers) {
  EXPECT_EQ(CRC16(0, "abc", 3), 0x9738);
  EXPECT_EQ(CRC16(0x1234, nullptr, 5), 0x1234);
  EXPECT_EQ(CRC32(0xFFFFFFFFu, "123456789", 9) ^ 0xFFFFFFFFu, 0xCBF43926u);
  // Piecewise CRC equals one call.
  EXPECT_EQ(CRC32(CRC32(0xFFFFFFFFu, "1234", 4), "56789", 5), CRC32(0xFFFFFFFFu, "123456789", 9));

  uint8_t a[4] = {1, 2, 3, 4}, b[4] = {1, 2, 5, 4}, d[4];
  EXPECT_EQ(MemCompare(a, a, 4), 0);
  EXPECT_EQ(MemCompare(a, b, 4), 3 - 5);
  XORBuffers(a, b, 4, d);
  EXPECT_EQ(d[2], 3 ^ 5);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(ROL(0x80000001u, 1), 3u);
  EXPECT_EQ(SwapInt(0x11223344u), 0x44332211u);
  uint32_t words[2] = {0x11223344u, 0xAABBCCDDu};
  SwapIntBuf(words, words, 2);
  EXPECT_EQ(words[1], 0xDDCCBBAAu);
  EXPECT_EQ(GetShortClassName("TCipher_Rijndael"), "Rijndael");
  EXPECT_EQ(GetShortClassName("TRandom"), "Random");
}

TEST(Utilities, RndXORBufferIsSeededAndMixesTheData) {
  std::string x(8, '\0'), y(8, '\0'), z("\x01" + std::string(7, '\0'));
  const uint32_t sx = RndXORBuffer(42, x.data(), 8);
  const uint32_t sy = RndXORBuffer(42, y.data(), 8);
  RndXORBuffer(42, z.data(), 8);
  EXPECT_EQ(x, y);
  EXPECT_EQ(sx, sy);
  EXPECT_NE(x, z);
  // First byte: the low byte of the seed is replaced by (seed xor 0), then one LCG step.
  EXPECT_EQ(static_cast<uint8_t>(x[0]), static_cast<uint8_t>((42u * 134775813u + 1u) >> 24));
}

TEST(Protection, ChainsMustNotBeCircular) {
  auto a = std::make_shared<TProtection>();
  auto b = std::make_shared<TProtection>();
  a->SetProtection(b);
  try {
    b->SetProtection(a);
    FAIL() << "no exception";
  } catch (const EProtection& e) {
    EXPECT_STREQ(e.what(), "Circular Protection detected, Protection Object is invalid.");
  }
  EXPECT_THROW(a->SetProtection(a), EProtection);
  EXPECT_EQ(a->Protection(), b);
  EXPECT_EQ(b->Protection(), nullptr);
  a->SetProtection(nullptr);
  b->SetProtection(a);  // now fine
  EXPECT_EQ(b->Protection(), a);
}

TEST(Protection, ChainedObjectLivesWhileReferenced) {
  std::weak_ptr<TProtection> inner;
  {
    std::shared_ptr<TProtection> outer;
    {
      auto cipher = std::make_shared<TCipher_Rijndael>("k");
      inner = cipher;
      outer = std::make_shared<TCipher_Rijndael>("o", cipher);
    }
    EXPECT_FALSE(inner.expired());
  }
  EXPECT_TRUE(inner.expired());
}

TEST(Protection, CodeStringAndStreamRoundTrip) {
  TCipher_Rijndael c("string key");
  const std::string plain = Bytes(5000, 21);
  const std::string text = c.CodeString(plain, paEncode, fmtMIME64);
  EXPECT_EQ(FormatToStr(text, fmtMIME64).size(), plain.size());
  EXPECT_EQ(c.CodeString(text, paDecode, fmtMIME64), plain);
  EXPECT_EQ(c.CodeString("", paEncode, fmtHEX), "");

  // In place on one stream, with progress from 0 to the size and a final reset.
  std::vector<std::pair<int64_t, int64_t>> progress;
  SetProgress([&](TProtection*, int64_t cur, int64_t max) { progress.emplace_back(cur, max); });
  platform::TMemoryStream s;
  s.WriteBuffer(plain.data(), static_cast<int64_t>(plain.size()));
  c.CodeStream(&s, nullptr, -1, paEncode);
  SetProgress(nullptr);
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front(), std::make_pair(int64_t{0}, int64_t{5000}));
  EXPECT_EQ(progress[progress.size() - 2], std::make_pair(int64_t{5000}, int64_t{5000}));
  EXPECT_EQ(progress.back(), std::make_pair(int64_t{0}, int64_t{0}));
  const std::string coded(reinterpret_cast<const char*>(s.Memory()), plain.size());
  EXPECT_EQ(c.CodeString(StrToFormat(coded, fmtHEX), paDecode, fmtHEX), plain);
}

// A failing CodeBuf still ends the coding: CodeDone runs and the progress is reset.
TEST(Protection, FailureInCodeBufStillRunsCodeDone) {
  struct TFailing : TProtection {
    int Dones = 0;
    void CodeBuf(void*, int32_t, TPAction) override { throw EProtection("coding failed"); }
    void CodeDone(TPAction) override { ++Dones; }
  };
  TFailing failing;
  char buffer[10] = {};
  EXPECT_THROW(failing.CodeBuffer(buffer, 10, paEncode), EProtection);
  EXPECT_EQ(failing.Dones, 1);

  std::vector<std::pair<int64_t, int64_t>> progress;
  SetProgress([&](TProtection*, int64_t cur, int64_t max) { progress.emplace_back(cur, max); });
  platform::TMemoryStream s;
  s.WriteBuffer(buffer, 10);
  EXPECT_THROW(failing.CodeStream(&s, nullptr, -1, paEncode), EProtection);
  SetProgress(nullptr);
  EXPECT_EQ(failing.Dones, 2);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(int64_t{0}, int64_t{0}));
}

TEST(Protection, CodeFileToAnotherFileAndInPlace) {
  const auto dir = std::filesystem::temp_directory_path() / ("bd_crypto_file_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string src = (dir / "plain.bin").string(), dst = (dir / "coded.bin").string();
  const std::string plain = Bytes(9000, 22);
  std::ofstream(src, std::ios::binary) << plain;
  std::ofstream(dst, std::ios::binary) << std::string(20000, 'x');  // longer: must be cut

  auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  TCipher_Rijndael c("file key");
  c.CodeFile(src, dst, paEncode);
  const std::string coded = read(dst);
  EXPECT_EQ(coded.size(), plain.size());
  EXPECT_EQ(read(src), plain);
  c.CodeFile(src, "", paEncode);  // in place
  EXPECT_EQ(read(src), coded);
  c.CodeFile(src, src, paDecode);
  EXPECT_EQ(read(src), plain);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace crypto
