// Published test vectors for MD4, RIPEMD-256 and AES, read from data/known_answers.txt and run
// against every implementation (both AES paths).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/Hash.h"
#include "crypto/Rijndael.h"
#include "crypto/StringFormat.h"

namespace crypto {
namespace {

struct TVector {
  std::string Algorithm;
  std::vector<std::string> Fields;  // decoded inputs, then the expected value as hex text
  int Line;
};

std::string DecodeField(const std::string& field) {
  if (!field.empty() && field[0] == '"') {
    const auto close = field.rfind('"');
    std::string text = field.substr(1, close - 1);
    const auto star = field.find('*', close);
    if (star == std::string::npos) return text;
    const long times = std::stol(field.substr(star + 1));
    std::string repeated;
    for (long i = 0; i < times; ++i) repeated += text;
    return repeated;
  }
  return FormatToStr(field, fmtHEX);
}

std::vector<TVector> LoadVectors() {
  const std::string path = std::string(BD_CRYPTO_DATA_DIR) + "/known_answers.txt";
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::vector<TVector> vectors;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    TVector v{{}, {}, number};
    std::string field;
    std::getline(fields, v.Algorithm, '\t');
    while (std::getline(fields, field, '\t')) v.Fields.push_back(field);
    vectors.push_back(v);
  }
  return vectors;
}

std::string Hex(const uint8_t* p, size_t n) { return StrToFormat(reinterpret_cast<const char*>(p), static_cast<int32_t>(n), fmtHEXL); }

class KnownAnswer : public ::testing::Test {
 protected:
  static const std::vector<TVector>& Vectors() {
    static const std::vector<TVector> vectors = LoadVectors();
    return vectors;
  }
};

TEST_F(KnownAnswer, Digests) {
  int checked = 0;
  for (const auto& v : Vectors()) {
    std::shared_ptr<THash> hash;
    if (v.Algorithm == "md4") hash = std::make_shared<THash_MD4>();
    if (v.Algorithm == "ripemd256") hash = std::make_shared<THash_RipeMD256>();
    if (!hash) continue;
    ASSERT_EQ(v.Fields.size(), 2u) << "line " << v.Line;
    const std::string data = DecodeField(v.Fields[0]);
    hash->Init();
    hash->Calc(data.data(), static_cast<int32_t>(data.size()));
    hash->Done();
    EXPECT_EQ(hash->DigestString(fmtHEXL), v.Fields[1]) << "line " << v.Line;
    ++checked;
  }
  EXPECT_GE(checked, 16);
}

TEST_F(KnownAnswer, RijndaelBlocksOnBothPaths) {
  std::vector<bool> paths = {false};
  if (TCipher_Rijndael::HardwareAvailable()) paths.push_back(true);
  int checked = 0;
  for (const bool hardware : paths) {
    for (const auto& v : Vectors()) {
      if (v.Algorithm.rfind("aes", 0) != 0) continue;
      ASSERT_EQ(v.Fields.size(), 3u) << "line " << v.Line;
      const std::string key = DecodeField(v.Fields[0]);
      std::string block = DecodeField(v.Fields[1]);
      TCipher_Rijndael cipher;
      cipher.SetUseHardware(hardware);
      EXPECT_EQ(cipher.UsesHardware(), hardware);
      cipher.Init(key.data(), static_cast<int32_t>(key.size()), nullptr);
      EXPECT_EQ(cipher.Rounds(), key.size() == 16 ? 10 : key.size() == 24 ? 12 : 14) << "line " << v.Line;
      cipher.Encode(block.data());
      EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(block.data()), 16), v.Fields[2])
          << "line " << v.Line << (hardware ? " (hardware)" : " (tables)");
      cipher.Decode(block.data());
      EXPECT_EQ(block, DecodeField(v.Fields[1])) << "line " << v.Line;
      ++checked;
    }
  }
  EXPECT_GE(checked, 4);
}

// Standard CBC, and CFB with 8-bit feedback, match the framework's cmCBC and cmCFB.
TEST_F(KnownAnswer, RijndaelModesOnBothPaths) {
  std::vector<bool> paths = {false};
  if (TCipher_Rijndael::HardwareAvailable()) paths.push_back(true);
  int checked = 0;
  for (const bool hardware : paths) {
    for (const auto& v : Vectors()) {
      TCipherMode mode;
      if (v.Algorithm == "cbc128")
        mode = cmCBC;
      else if (v.Algorithm == "cfb8_128")
        mode = cmCFB;
      else
        continue;
      ASSERT_EQ(v.Fields.size(), 4u) << "line " << v.Line;
      const std::string key = DecodeField(v.Fields[0]);
      const std::string iv = DecodeField(v.Fields[1]);
      const std::string plain = DecodeField(v.Fields[2]);
      TCipher_Rijndael cipher;
      cipher.SetUseHardware(hardware);
      cipher.SetMode(mode);
      cipher.Init(key.data(), static_cast<int32_t>(key.size()), iv.data());
      std::string data = plain;
      cipher.EncodeBuffer(data.data(), data.data(), static_cast<int32_t>(data.size()));
      EXPECT_EQ(StrToFormat(data, fmtHEXL), v.Fields[3]) << "line " << v.Line;
      cipher.Done();
      cipher.DecodeBuffer(data.data(), data.data(), static_cast<int32_t>(data.size()));
      EXPECT_EQ(data, plain) << "line " << v.Line;
      ++checked;
    }
  }
  EXPECT_GE(checked, 2);
}

}  // namespace
}  // namespace crypto
