#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "crypto/Rijndael.h"
#include "sfs/Checksum.h"
#include "sfs/PasswordHeader.h"

namespace sfs {
namespace {

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

std::string Deciphered(const std::string& passPhrase, const uint8_t* data, size_t size) {
  std::string s(reinterpret_cast<const char*>(data), size);
  crypto::TCipher_Rijndael cipher(passPhrase);
  cipher.DecodeBuffer(s.data(), s.data(), int32_t(s.size()));
  return s;
}

TEST(CodecsPassword, ConstantsOfTheFormat) {
  EXPECT_EQ(MAX_PASSWORD_LENGTH, 32);
  EXPECT_EQ(MAX_QUESTION_LENGTH, 100);
  EXPECT_EQ(std::string(QUESTION_MASK), "kR3:P.>!%W&*917hz");
  EXPECT_EQ(std::strlen(QUESTION_MASK), 17u);
}

TEST(CodecsPassword, LengthLimitsAreCheckedBeforeAnythingIsWritten) {
  const struct {
    size_t passwordLength, questionLength;
    const char* message;  // nullptr: accepted
  } cases[] = {
      {32, 0, nullptr},
      {33, 0, "Password length should be shorter then 32"},
      {5, 100, nullptr},
      {5, 101, "Question length should be shorter then 100"},
      {40, 120, "Password length should be shorter then 32"},
  };
  for (const auto& c : cases) {
    TPasswordHeader header;
    std::memset(&header, 0xEE, sizeof(header));
    const std::string password(c.passwordLength, 'p'), question(c.questionLength, 'q');
    if (c.message == nullptr) {
      EXPECT_NO_THROW(CreatePasswordHeader(header, password, question, "answer"));
      std::string key;
      EXPECT_TRUE(CheckPassword(header, password, key));
      if (!question.empty()) {
        EXPECT_EQ(Deciphered(QUESTION_MASK, header.Question, 100), question);
      }
    } else {
      try {
        CreatePasswordHeader(header, password, question, "answer");
        ADD_FAILURE() << "accepted " << c.passwordLength << "/" << c.questionLength;
      } catch (const platform::Exception& e) {
        EXPECT_STREQ(e.what(), c.message);
      }
      TPasswordHeader untouched;
      std::memset(&untouched, 0xEE, sizeof(untouched));
      EXPECT_EQ(std::memcmp(&header, &untouched, sizeof(header)), 0);
    }
  }
}

// An empty password makes no key; the cipher refuses it and the header stays as it was.
TEST(CodecsPassword, EmptyPasswordMakesNoHeader) {
  TPasswordHeader header, before;
  std::memset(&header, 0x33, sizeof(header));
  before = header;
  EXPECT_THROW(CreatePasswordHeader(header, "", "question", "answer"), platform::Exception);
  EXPECT_EQ(std::memcmp(&header, &before, sizeof(header)), 0);
}

TEST(CodecsPassword, WithoutQuestionOrAnswerTheRecoveryFieldsAreZero) {
  for (auto [question, answer] : {std::pair{"", ""}, {"Name of the first pet?", ""}, {"", "Rex"}}) {
    TPasswordHeader header;
    std::memset(&header, 0x11, sizeof(header));
    CreatePasswordHeader(header, "secret", question, answer);
    EXPECT_TRUE(AllZero(header.Pass, sizeof(header.Pass)));
    EXPECT_EQ(header.PassCRC, 0u);
    EXPECT_TRUE(AllZero(header.Question, sizeof(header.Question)));
    EXPECT_FALSE(AllZero(header.Key, sizeof(header.Key)));
  }
}

TEST(CodecsPassword, QuestionAndAnswerKeepThePasswordRecoverable) {
  TPasswordHeader header;
  const std::string password = "correct horse battery staple", question = "Name of the first pet?";
  CreatePasswordHeader(header, password, question, "Rex");
  std::string question100 = question;
  question100.resize(100, '\0');
  std::string password32 = password;
  password32.resize(32, '\0');
  EXPECT_EQ(Deciphered(QUESTION_MASK, header.Question, 100), question100);
  EXPECT_EQ(Deciphered("Rex", header.Pass, 32), password32);
  EXPECT_EQ(header.PassCRC, CountCRC(password32.data(), 32, crcFull));
  EXPECT_NE(Deciphered("rex", header.Pass, 32), password32);
}

TEST(CodecsPassword, TheCreatingPasswordOpensTheHeaderWithAStableKey) {
  TPasswordHeader header;
  CreatePasswordHeader(header, "secret", "", "");
  std::string first, second;
  ASSERT_TRUE(CheckPassword(header, "secret", first));
  ASSERT_TRUE(CheckPassword(header, "secret", second));
  ASSERT_EQ(first.size(), 33u);
  EXPECT_EQ(first[32], '\0');
  EXPECT_EQ(first, second);
  EXPECT_EQ(header.KeyCRC, CountCRC(first.data(), 32, crcFull));
  EXPECT_EQ(Deciphered("secret", header.Key, 32), first.substr(0, 32));

  // A wrong password fails but for the 16-bit check's rare collisions: of four, at most one.
  int passed = 0;
  for (const char* wrong : {"Secret", "secret ", "secre", "terces"}) {
    std::string key;
    passed += CheckPassword(header, wrong, key);
    EXPECT_EQ(key.size(), 33u);
    EXPECT_EQ(key[32], '\0');
    EXPECT_NE(key, first);
  }
  EXPECT_LE(passed, 1);

  std::string key = "stale";
  EXPECT_FALSE(CheckPassword(header, "", key));
  EXPECT_TRUE(key.empty());
}

TEST(CodecsPassword, TwoHeadersFromOnePasswordHaveDifferentKeys) {
  TPasswordHeader a, b;
  CreatePasswordHeader(a, "same", "", "");
  CreatePasswordHeader(b, "same", "", "");
  EXPECT_NE(std::memcmp(a.Key, b.Key, 32), 0);
  std::string ka, kb;
  ASSERT_TRUE(CheckPassword(a, "same", ka));
  ASSERT_TRUE(CheckPassword(b, "same", kb));
  EXPECT_NE(ka, kb);
}

TEST(CodecsPassword, AnyHeaderBytesAreSafeToCheck) {
  std::mt19937 rng(3);
  for (int round = 0; round < 50; ++round) {
    TPasswordHeader header;
    auto* bytes = reinterpret_cast<uint8_t*>(&header);
    for (size_t i = 0; i < sizeof(header); ++i) bytes[i] = uint8_t(rng());
    std::string key;
    const bool ok = CheckPassword(header, std::string(1 + rng() % 60, char('a' + round % 26)), key);
    ASSERT_EQ(key.size(), 33u);
    EXPECT_EQ(ok, CountCRC(key.data(), 32, crcFull) == header.KeyCRC);
  }
}

TEST(CodecsPassword, RandomBuffersDiffer) {
  uint8_t a[64], b[64];
  GenerateRandomBuffer(a, sizeof(a));
  GenerateRandomBuffer(b, sizeof(b));
  EXPECT_NE(std::memcmp(a, b, sizeof(a)), 0);
  int distinct = 0;
  bool seen[256] = {};
  for (uint8_t v : a) distinct += !seen[v], seen[v] = true;
  EXPECT_GT(distinct, 40);
  GenerateRandomBuffer(a, 0);  // nothing to do
}

TEST(CodecsPassword, WipeEndsWithTheFinalValue) {
  uint8_t key[32];
  std::memset(key, 0x42, sizeof(key));
  WipeKeyMaterial(key, sizeof(key), 0x00);
  EXPECT_TRUE(AllZero(key, sizeof(key)));
  WipeKeyMaterial(key, sizeof(key), 0xFF);
  for (uint8_t v : key) EXPECT_EQ(v, 0xFF);
}

}  // namespace
}  // namespace sfs
