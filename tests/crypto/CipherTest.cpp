// TCipher's modes, key set-up and state, run on both Rijndael implementations.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/CryptUtil.h"
#include "crypto/Hash.h"
#include "crypto/Rijndael.h"
#include "TestBytes.h"

namespace crypto {
namespace {

using testdata::Bytes;

std::string Encoded(TCipher& c, std::string data) {
  c.EncodeBuffer(data.data(), data.data(), static_cast<int32_t>(data.size()));
  return data;
}
std::string Decoded(TCipher& c, std::string data) {
  c.DecodeBuffer(data.data(), data.data(), static_cast<int32_t>(data.size()));
  return data;
}

std::string Xor(std::string a, const std::string& b) {
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>(a[i] ^ b[i]);
  return a;
}

class CipherTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && !TCipher_Rijndael::HardwareAvailable()) GTEST_SKIP() << "no AES instructions";
    TCipher_Rijndael::SetPreferHardware(GetParam());
  }
  void TearDown() override { TCipher_Rijndael::SetPreferHardware(true); }

  // A cipher with a fixed raw key, on the path under test.
  static std::unique_ptr<TCipher_Rijndael> Keyed(TCipherMode mode, const std::string& key = std::string(32, '\x11')) {
    auto c = std::make_unique<TCipher_Rijndael>();
    c->SetMode(mode);
    c->Init(key.data(), static_cast<int32_t>(key.size()), nullptr);
    return c;
  }
};

TEST_P(CipherTest, PassPhraseRoundTripsAndAnotherPhraseDoesNot) {
  const std::string plain = Bytes(32, 1);
  TCipher_Rijndael a("pass phrase");
  EXPECT_EQ(a.UsesHardware(), GetParam());
  const std::string coded = Encoded(a, plain);
  EXPECT_NE(coded, plain);
  TCipher_Rijndael b("pass phrase");
  EXPECT_EQ(Decoded(b, coded), plain);
  TCipher_Rijndael other("pass phrasf");
  EXPECT_NE(Decoded(other, coded), plain);
}

// The pass phrase key is AES-256 under RIPEMD-256 of the phrase (all its bytes, zeros too) and the
// default vector is the encryption of the all-$FF block.
TEST_P(CipherTest, PassPhraseKeyIsRipeMD256OfThePhrase) {
  const std::string phrase("with\0zero", 9);
  TCipher_Rijndael fromPhrase;
  fromPhrase.InitKey(phrase, nullptr);
  EXPECT_TRUE(fromPhrase.HasHashKey());
  EXPECT_EQ(fromPhrase.Rounds(), 14);

  THash_RipeMD256 h;
  h.Init();
  h.Calc(phrase.data(), static_cast<int32_t>(phrase.size()));
  h.Done();
  const std::string key(reinterpret_cast<const char*>(h.DigestKey()), 32);
  TCipher_Rijndael raw;
  raw.Init(key.data(), 32, nullptr);
  EXPECT_FALSE(raw.HasHashKey());

  std::string ff(16, '\xFF');
  raw.Encode(ff.data());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fromPhrase.Vector()), 16), ff);
  const std::string plain = Bytes(100, 2);
  EXPECT_EQ(Encoded(fromPhrase, plain), Encoded(raw, plain));
  // The hash object no longer holds the raw key.
  EXPECT_NE(std::memcmp(fromPhrase.GetHash().DigestKey(), key.data(), 32), 0);
}

// Every mode against its definition, built block by block from Encode; this exercises the bulk
// and chained paths (several blocks at once) against single blocks.
TEST_P(CipherTest, ModesFollowTheirDefinitions) {
  const std::string plain = Bytes(16 * 9 + 5, 3);
  auto ref = Keyed(cmECB);  // single-block reference
  auto E = [&](std::string block) {
    ref->Encode(block.data());
    return block;
  };
  const std::string iv(reinterpret_cast<const char*>(ref->Vector()), 16);
  const size_t whole = plain.size() / 16 * 16;

  for (const TCipherMode mode : {cmCTS, cmCBC}) {
    std::string f = iv, expected;
    for (size_t i = 0; i < whole; i += 16) {
      const std::string c = E(Xor(plain.substr(i, 16), f));
      expected += c;
      f = mode == cmCTS ? Xor(f, c) : c;
    }
    const std::string k = E(f);
    expected += Xor(plain.substr(whole), k.substr(0, plain.size() - whole));
    auto c = Keyed(mode);
    EXPECT_EQ(Encoded(*c, plain), expected) << "mode " << int(mode);
    c->Done();
    EXPECT_EQ(Decoded(*c, expected), plain) << "mode " << int(mode);
  }

  for (const TCipherMode mode : {cmCFB, cmOFB}) {
    std::string f = iv, expected;
    for (const char p : plain) {
      const std::string k = E(f);
      const char c = static_cast<char>(p ^ k[0]);
      expected += c;
      f = f.substr(1) + (mode == cmCFB ? c : k[0]);
    }
    auto c = Keyed(mode);
    EXPECT_EQ(Encoded(*c, plain), expected) << "mode " << int(mode);
    c->Done();
    EXPECT_EQ(Decoded(*c, expected), plain) << "mode " << int(mode);
  }

  {
    std::string expected;
    for (size_t i = 0; i < whole; i += 16) expected += E(plain.substr(i, 16));
    auto c = Keyed(cmECB);
    const std::string coded = Encoded(*c, plain.substr(0, whole));
    EXPECT_EQ(coded, expected);
    EXPECT_EQ(Decoded(*c, coded), plain.substr(0, whole));
    // A tail is encrypted at the front of the work block (zero after keying) in both directions.
    const std::string tail = plain.substr(0, 5);
    const std::string tailExpected = E(tail + std::string(11, '\0')).substr(0, 5);
    EXPECT_EQ(Encoded(*Keyed(cmECB), tail), tailExpected);
    EXPECT_EQ(Decoded(*Keyed(cmECB), tail), tailExpected);
  }

  for (const TCipherMode mode : {cmCTSMAC, cmCBCMAC, cmCFBMAC}) {
    std::string f = iv;
    if (mode == cmCFBMAC) {
      for (const char p : plain) f = f.substr(1) + static_cast<char>(p ^ E(f)[0]);
    } else {
      for (size_t i = 0; i < whole; i += 16) {
        const std::string x = E(Xor(plain.substr(i, 16), f));
        f = mode == cmCTSMAC ? Xor(f, x) : x;
      }
      f = Xor(f, E(f));  // the tail folds only the key block in
    }
    for (const bool encoding : {true, false}) {
      auto c = Keyed(mode);
      std::string dest(plain.size(), 'z');
      if (encoding)
        c->EncodeBuffer(plain.data(), dest.data(), static_cast<int32_t>(plain.size()));
      else
        c->DecodeBuffer(plain.data(), dest.data(), static_cast<int32_t>(plain.size()));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(c->Feedback()), 16), f) << "mode " << int(mode);
      EXPECT_EQ(dest, std::string(plain.size(), 'z')) << "a MAC mode writes no output";
    }
  }
}

// Lengths around the block size and the parallel group of eight blocks round-trip in every mode
// that can, keep their length, and code in place or into a separate buffer alike.
TEST_P(CipherTest, AnyLengthRoundTrips) {
  for (const TCipherMode mode : {cmCTS, cmCBC, cmCFB, cmOFB}) {
    for (const size_t n : {0u, 1u, 15u, 16u, 17u, 20u, 127u, 128u, 129u, 16u * 8 * 3 + 7, 5000u}) {
      const std::string plain = Bytes(n, static_cast<uint32_t>(n));
      auto c = Keyed(mode);
      std::string coded(n, '\0');
      c->EncodeBuffer(plain.data(), coded.data(), static_cast<int32_t>(n));
      c->Done();
      EXPECT_EQ(Encoded(*c, plain), coded) << "mode " << int(mode) << " size " << n;
      auto d = Keyed(mode);
      EXPECT_EQ(Decoded(*d, coded), plain) << "mode " << int(mode) << " size " << n;
    }
  }
}

// Decoding into a separate buffer gives what decoding in place gives, and leaves the source as it
// was; so does decoding with a hint of the bytes that come next, which is never read: here it
// names memory that cannot be read at all.
TEST_P(CipherTest, DecodingOutOfPlaceOrWithAHintMatchesInPlace) {
  constexpr size_t cHinted = 3 * 4096;
  void* unreadable = ::mmap(nullptr, cHinted, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(unreadable, MAP_FAILED);
  for (const TCipherMode mode : {cmCTS, cmCBC, cmCFB, cmECB}) {
    for (const size_t n : {16u, 100u, 16u * 8 * 3 + 7, 4064u, 5000u}) {
      const std::string coded = Encoded(*Keyed(mode), Bytes(n, static_cast<uint32_t>(n)));
      const std::string inPlace = Decoded(*Keyed(mode), coded);
      std::string apart(n, 'z'), hinted(n, 'z');
      Keyed(mode)->DecodeBuffer(coded.data(), apart.data(), static_cast<int32_t>(n));
      Keyed(mode)->DecodeBuffer(coded.data(), hinted.data(), static_cast<int32_t>(n), unreadable);
      EXPECT_EQ(apart, inPlace) << "mode " << int(mode) << " size " << n;
      EXPECT_EQ(hinted, inPlace) << "mode " << int(mode) << " size " << n;
      EXPECT_EQ(coded, Encoded(*Keyed(mode), Bytes(n, static_cast<uint32_t>(n)))) << "the source is unchanged";
    }
  }
  ::munmap(unreadable, cHinted);
}

TEST_P(CipherTest, ChainCarriesOverUntilDone) {
  const std::string plain = Bytes(32, 4);
  auto one = Keyed(cmCTS);
  const std::string whole = Encoded(*one, plain);
  auto two = Keyed(cmCTS);
  const std::string firstHalf = Encoded(*two, plain.substr(0, 16));
  EXPECT_EQ(firstHalf + Encoded(*two, plain.substr(16)), whole);
  auto restarted = Keyed(cmCTS);
  Encoded(*restarted, plain.substr(0, 16));
  restarted->Done();
  const std::string second = Encoded(*restarted, plain.substr(16));
  EXPECT_EQ(second, Encoded(*Keyed(cmCTS), plain.substr(16)));
  EXPECT_NE(second, whole.substr(16));
}

TEST_P(CipherTest, KeyLengthSelectsRoundsAndShortKeysArePadded) {
  struct TCase {
    size_t Size;
    int Rounds;
  };
  for (const TCase& t : {TCase{1, 10}, TCase{16, 10}, TCase{17, 12}, TCase{20, 12}, TCase{24, 12}, TCase{25, 14},
                         TCase{32, 14}, TCase{40, 14}}) {
    const std::string key = Bytes(t.Size, 7);
    TCipher_Rijndael c;
    c.Init(key.data(), static_cast<int32_t>(key.size()), nullptr);
    EXPECT_EQ(c.Rounds(), t.Rounds) << t.Size;
    // The same key zero-padded to the key length of its round count codes alike; longer keys are cut.
    std::string padded = key.substr(0, 32);
    padded.resize(t.Rounds == 10 ? 16 : t.Rounds == 12 ? 24 : 32, '\0');
    TCipher_Rijndael p;
    p.Init(padded.data(), static_cast<int32_t>(padded.size()), nullptr);
    std::string a(16, 'x'), b(16, 'x');
    c.Encode(a.data());
    p.Encode(b.data());
    EXPECT_EQ(a, b) << t.Size;
  }
}

TEST_P(CipherTest, UninitialisedCipherRefusesToCode) {
  TCipher_Rijndael c;
  char block[16] = {};
  try {
    c.EncodeBuffer(block, block, 16);
    FAIL() << "no exception";
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode(), errNotInitialized);
    EXPECT_STREQ(e.what(), "TCipher_Rijndael is not initialized call Init() or InitKey() before.");
  }
  EXPECT_THROW(c.DecodeBuffer(block, block, 16), ECipherException);
  EXPECT_THROW(c.CodeBuffer(block, 16, paEncode), ECipherException);

  // Protect wipes the key: the cipher is uninitialised again, vector and feedback are $FF.
  TCipher_Rijndael keyed("x");
  keyed.Protect();
  EXPECT_FALSE(keyed.Initialized());
  EXPECT_FALSE(keyed.HasHashKey());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(keyed.Vector()), 16), std::string(16, '\xFF'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(keyed.Feedback()), 16), std::string(16, '\xFF'));
  EXPECT_THROW(keyed.EncodeBuffer(block, block, 16), ECipherException);
}

TEST_P(CipherTest, ExplicitVectorIsUsed) {
  const std::string key(16, '\x22'), iv = Bytes(16, 9);
  TCipher_Rijndael c;
  c.Init(key.data(), 16, iv.data());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.Vector()), 16), iv);
  c.SetMode(cmCBC);
  std::string block = Bytes(16, 10);
  const std::string expected = [&] {
    TCipher_Rijndael e;
    e.Init(key.data(), 16, nullptr);
    std::string x = Xor(block, iv);
    e.Encode(x.data());
    return x;
  }();
  EXPECT_EQ(Encoded(c, block), expected);
}

// Many buffers at once code as one buffer after another from a fresh chain: in the chained
// modes whose chains may run side by side (with whole blocks, for counts around the eight that
// run at once), with a partial block, and in a mode that has no chains to interleave.
TEST_P(CipherTest, ManyBuffersCodeAsOneAfterAnother) {
  struct TCase {
    TCipherMode Mode;
    int32_t Size;
  };
  const TCase cases[] = {{cmCTS, 4064}, {cmCBC, 4064}, {cmCTS, 16}, {cmCTS, 100}, {cmCFB, 64}};
  for (const TCase t : cases) {
    const auto plain = [&t](int32_t i) { return Bytes(static_cast<size_t>(t.Size), static_cast<uint32_t>(30 + i)); };
    for (const int32_t count : {1, 2, 3, 7, 8, 9, 17}) {
      for (const size_t keySize : {16u, 24u, 32u}) {
        const std::string key = Bytes(keySize, 21);
        std::vector<std::string> many, one;
        for (int32_t i = 0; i < count; ++i) many.push_back(plain(i));
        one = many;
        std::vector<uint8_t*> buffers;
        for (auto& b : many) buffers.push_back(reinterpret_cast<uint8_t*>(b.data()));
        auto together = Keyed(t.Mode, key), apart = Keyed(t.Mode, key);
        together->EncodeBuffers(buffers.data(), count, t.Size);
        for (auto& b : one) {
          apart->Done();
          apart->EncodeBuffer(b.data(), b.data(), t.Size);
        }
        EXPECT_EQ(many, one) << "mode " << t.Mode << ", " << t.Size << " bytes, " << count
                             << " buffers, key " << keySize;
        // The chain is back at the vector: the last buffer decodes right away.
        EXPECT_EQ(std::memcmp(together->Feedback(), together->Vector(), 16), 0) << "mode " << t.Mode;
        EXPECT_EQ(Decoded(*together, many.back()), plain(count - 1));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, CipherTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Hardware" : "Tables"; });

TEST(CipherPaths, HardwareAndTablesAgreeOnEveryMode) {
  if (!TCipher_Rijndael::HardwareAvailable()) GTEST_SKIP() << "no AES instructions";
  const std::string plain = Bytes(16 * 37 + 11, 11);
  for (int m = cmCTS; m <= cmCFBMAC; ++m) {
    for (const size_t keySize : {16u, 24u, 32u}) {
      const std::string key = Bytes(keySize, 12);
      TCipher_Rijndael hw, tab;
      hw.SetUseHardware(true);
      tab.SetUseHardware(false);
      for (TCipher_Rijndael* c : {&hw, &tab}) {
        c->SetMode(static_cast<TCipherMode>(m));
        c->Init(key.data(), static_cast<int32_t>(keySize), nullptr);
      }
      EXPECT_EQ(Encoded(hw, plain), Encoded(tab, plain)) << "mode " << m;
      EXPECT_EQ(std::memcmp(hw.Feedback(), tab.Feedback(), 16), 0) << "mode " << m;
      hw.Done();
      tab.Done();
      EXPECT_EQ(Decoded(hw, plain), Decoded(tab, plain)) << "mode " << m;
    }
  }
}

TEST(CipherChain, ChainedCiphersUndoInReverseOrder) {
  auto inner = std::make_shared<TCipher_Rijndael>("inner");
  TCipher_Rijndael outer("outer", inner);
  std::string data = Bytes(4096 + 33, 13);
  const std::string plain = data;
  outer.CodeBuffer(data.data(), static_cast<int32_t>(data.size()), paEncode);
  // Doing encodes with the chained cipher first, then with the outer one.
  TCipher_Rijndael a("inner"), b("outer");
  EXPECT_EQ(data, Encoded(b, Encoded(a, plain)));
  outer.CodeBuffer(data.data(), static_cast<int32_t>(data.size()), paDecode);
  EXPECT_EQ(data, plain);
}

TEST(CipherSelfTest, TestVectorMatchesTheCipher) {
  TCipher_Rijndael c;
  uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i);
  c.Init(key, 32, nullptr);
  const std::string vector = c.TestVector();
  ASSERT_EQ(vector.size(), 32u);
  std::string block = vector.substr(0, 16);
  c.Encode(block.data());
  EXPECT_EQ(block, vector.substr(16));
}

TEST(CipherRegistry, RijndaelIsRegisteredAndEntriesReplace) {
  const auto list = CipherList();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list[0].Text(), "Rijndael=");
  EXPECT_EQ(CipherByName("rijndael"), TCipher_Rijndael::StaticClass());
  EXPECT_FALSE(RegisterCipher(nullptr, "x", "y"));
  EXPECT_TRUE(RegisterCipher(TCipher_Rijndael::StaticClass(), "  ", "AES"));
  EXPECT_EQ(CipherList().size(), list.size());
  EXPECT_EQ(CipherList()[0].Text(), "Rijndael=AES");
  EXPECT_TRUE(RegisterCipher(TCipher_Rijndael::StaticClass(), " Rijndael ", ""));
  EXPECT_EQ(CipherList()[0].Text(), "Rijndael=");
}

TEST(CipherHash, AnyHashClassCutsTheKey) {
  // MD4 gives 16 bytes: AES-128 under MD4 of the phrase.
  TCipher_Rijndael c;
  c.SetHashClass(THash_MD4::StaticClass());
  c.InitKey("phrase", nullptr);
  EXPECT_EQ(c.Rounds(), 10);
  const std::string key = THash_MD4::CalcString("phrase", nullptr, fmtCOPY);
  TCipher_Rijndael raw;
  raw.Init(key.data(), 16, nullptr);
  const std::string plain = Bytes(50, 14);
  EXPECT_EQ(Encoded(c, plain), Encoded(raw, plain));
}

}  // namespace
}  // namespace crypto
