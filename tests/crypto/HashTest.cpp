// Hash behaviour beyond the known answers: piecewise input, the protection step, the chain hooks
// and the MAC.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crypto/Hash.h"
#include "crypto/Rijndael.h"
#include "TestBytes.h"

namespace crypto {
namespace {

using testdata::Bytes;

std::string Digest(THash& h) { return std::string(reinterpret_cast<const char*>(h.DigestKey()), static_cast<size_t>(h.DigestKeySize())); }

std::string OneCall(THashClass cls, const std::string& data) {
  auto h = cls->New(nullptr);
  h->Init();
  h->Calc(data.data(), static_cast<int32_t>(data.size()));
  h->Done();
  return Digest(*h);
}

TEST(Hash, PiecewiseCalcEqualsOneCall) {
  const std::string data = Bytes(1000, 1);
  for (THashClass cls : {THash_MD4::StaticClass(), THash_RipeMD256::StaticClass()}) {
    const std::string expected = OneCall(cls, data);
    for (const size_t piece : {1u, 63u, 64u, 65u, 127u, 200u}) {
      auto h = cls->New(nullptr);
      h->Init();
      for (size_t pos = 0; pos < data.size(); pos += piece)
        h->Calc(data.data() + pos, static_cast<int32_t>(std::min(piece, data.size() - pos)));
      h->Calc(data.data(), 0);
      h->Calc(data.data(), -5);
      h->Done();
      EXPECT_EQ(Digest(*h), expected) << cls->ClassName << " pieces of " << piece;
    }
    // Init restarts after Done.
    auto h = cls->New(nullptr);
    h->Init();
    h->Calc("junk", 4);
    h->Done();
    h->Init();
    h->Calc(data.data(), static_cast<int32_t>(data.size()));
    h->Done();
    EXPECT_EQ(Digest(*h), expected);
  }
}

TEST(Hash, ClassOperations) {
  EXPECT_EQ(DefaultHashClass(), THash_RipeMD256::StaticClass());
  EXPECT_EQ(THash_MD4::CalcString("abc", nullptr, fmtHEXL), "a448017aaf21d8525fc10ae87aa6729d");
  EXPECT_EQ(THash_RipeMD256::CalcString("abc", nullptr, fmtCOPY), THash_RipeMD256().TestVector());
  EXPECT_EQ(THash_MD4::CalcString("abc", nullptr, fmtCOPY), THash_MD4().TestVector());
  EXPECT_EQ(THash_RipeMD256().DigestKeySize(), 32);
  THash base;
  EXPECT_EQ(base.DigestKeySize(), 0);
}

// A hash chained to a cipher ends with the digest enciphered by it.
TEST(Hash, ChainedCipherEnciphersTheDigest) {
  auto cipher = std::make_shared<TCipher_Rijndael>("digest key");
  THash_RipeMD256 h(cipher);
  h.Init();
  h.Calc("abc", 3);
  h.Done();
  std::string expected = THash_RipeMD256().TestVector();
  TCipher_Rijndael separate("digest key");
  separate.EncodeBuffer(expected.data(), expected.data(), 32);
  EXPECT_EQ(Digest(h), expected);
}

TEST(Hash, MacKeysTheDigestWithItsPassword) {
  const std::string plain = THash_MD4::CalcString("message", nullptr, fmtCOPY);
  auto keyless = std::make_shared<TMAC>();
  EXPECT_EQ(THash_MD4::CalcString("message", keyless, fmtCOPY), plain);
  auto mac = std::make_shared<TMAC>("mac password");
  const std::string keyed = THash_MD4::CalcString("message", mac, fmtCOPY);
  EXPECT_NE(keyed, plain);
  EXPECT_EQ(THash_MD4::CalcString("message", std::make_shared<TMAC>("mac password"), fmtCOPY), keyed);
  EXPECT_NE(THash_MD4::CalcString("message", std::make_shared<TMAC>("mac passwore"), fmtCOPY), keyed);

  // A MAC chained to a cipher: the keyed digest is then enciphered.
  auto cipher = std::make_shared<TCipher_Rijndael>("mac cipher");
  auto macWithCipher = std::make_shared<TMAC>("", cipher);
  std::string expected = plain;
  TCipher_Rijndael separate("mac cipher");
  separate.EncodeBuffer(expected.data(), expected.data(), 16);
  EXPECT_EQ(THash_MD4::CalcString("message", macWithCipher, fmtCOPY), expected);
}

TEST(Hash, ChainHooks) {
  const std::string data = Bytes(100, 2);
  THash_RipeMD256 h;
  // paCalc: the digest of the data, the data untouched.
  std::string buffer = data;
  h.CodeBuffer(buffer.data(), static_cast<int32_t>(buffer.size()), paCalc);
  EXPECT_EQ(buffer, data);
  EXPECT_EQ(Digest(h), OneCall(THash_RipeMD256::StaticClass(), data));

  // paEncode and paDecode: the same digest-feedback key stream, so decoding restores.
  h.CodeBuffer(buffer.data(), static_cast<int32_t>(buffer.size()), paEncode);
  EXPECT_NE(buffer, data);
  h.CodeBuffer(buffer.data(), static_cast<int32_t>(buffer.size()), paDecode);
  EXPECT_EQ(buffer, data);

  // paScramble replaces each 32-byte piece by digest bytes: deterministic for equal input.
  std::string a = data, b = data;
  THash_RipeMD256 other;
  h.CodeBuffer(a.data(), 100, paScramble);
  other.CodeBuffer(b.data(), 100, paScramble);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, data);
  // The first piece is the digest of the first 32 bytes.
  EXPECT_EQ(a.substr(0, 32), OneCall(THash_RipeMD256::StaticClass(), data.substr(0, 32)));
}

}  // namespace
}  // namespace crypto
