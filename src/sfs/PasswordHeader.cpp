#include "sfs/PasswordHeader.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>

#include "crypto/Random.h"
#include "crypto/Rijndael.h"
#include "platform/Exception.h"
#include "sfs/Checksum.h"

namespace sfs {
namespace {

// The process's pseudo-random generator, seeded once.
std::mutex gSeedLock;
std::mt19937& SeedGenerator() {
  static std::mt19937 generator{std::random_device{}()};
  return generator;
}

void Encipher(const std::string& passPhrase, void* data, int32_t size) {
  crypto::TCipher_Rijndael cipher(passPhrase);
  cipher.EncodeBuffer(data, data, size);
}

void Decipher(const std::string& passPhrase, void* data, int32_t size) {
  crypto::TCipher_Rijndael cipher(passPhrase);
  cipher.DecodeBuffer(data, data, size);
}

// Key material on the stack, wiped however the scope is left.
template <size_t N>
struct TSecret {
  uint8_t Data[N] = {};
  TSecret() = default;
  TSecret(const TSecret&) = delete;
  TSecret& operator=(const TSecret&) = delete;
  ~TSecret() { WipeKeyMaterial(Data, N); }
};

}  // namespace

void WipeKeyMaterial(void* buffer, size_t size, uint8_t finalValue) {
  volatile uint8_t* p = static_cast<volatile uint8_t*>(buffer);
  for (uint8_t value : {uint8_t(0xAA), uint8_t(0x55), finalValue})
    for (size_t i = 0; i < size; ++i) p[i] = value;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

void GenerateRandomBuffer(void* buffer, int32_t size) {
  if (size <= 0) return;
  std::string seedText(100, '\0');
  {
    std::lock_guard<std::mutex> guard(gSeedLock);
    std::uniform_int_distribution<int> code(1, 255);
    for (char& c : seedText) c = static_cast<char>(code(SeedGenerator()));
  }
  crypto::TRandom_LFSR random(seedText, 2032, false, nullptr);
  WipeKeyMaterial(seedText.data(), seedText.size());
  random.Seed(nullptr, -1);
  random.Buffer(buffer, size);
}

void CreatePasswordHeader(TPasswordHeader& PasswordHeader, const std::string& Password, const std::string& Question,
                          const std::string& Answer) {
  if (Password.size() > size_t(MAX_PASSWORD_LENGTH))
    throw platform::Exception("Password length should be shorter then " + std::to_string(MAX_PASSWORD_LENGTH));
  if (Question.size() > size_t(MAX_QUESTION_LENGTH))
    throw platform::Exception("Question length should be shorter then " + std::to_string(MAX_QUESTION_LENGTH));

  // Built aside and copied at the end, so a failing cipher leaves the caller's header as it was.
  TSecret<sizeof(TPasswordHeader)> work;
  auto& header = *reinterpret_cast<TPasswordHeader*>(work.Data);
  TSecret<cDataKeySize> dataKey;
  GenerateRandomBuffer(dataKey.Data, cDataKeySize);
  header.KeyCRC = CountCRC(dataKey.Data, cDataKeySize, crcFull);
  std::memcpy(header.Key, dataKey.Data, cDataKeySize);
  Encipher(Password, header.Key, sizeof(header.Key));

  if (!Question.empty() && !Answer.empty()) {
    std::memcpy(header.Question, Question.data(), Question.size());
    Encipher(QUESTION_MASK, header.Question, sizeof(header.Question));
    std::memcpy(header.Pass, Password.data(), Password.size());
    header.PassCRC = CountCRC(header.Pass, sizeof(header.Pass), crcFull);
    Encipher(Answer, header.Pass, sizeof(header.Pass));
  }
  std::memcpy(&PasswordHeader, &header, sizeof(TPasswordHeader));
}

bool CheckPassword(const TPasswordHeader& PasswordHeader, const std::string& Password, std::string& key) {
  if (!key.empty()) WipeKeyMaterial(key.data(), key.size());
  key.clear();
  if (Password.empty()) return false;
  TSecret<cDataKeySize> plain;
  std::memcpy(plain.Data, PasswordHeader.Key, cDataKeySize);
  Decipher(Password, plain.Data, cDataKeySize);
  key.reserve(cDataKeySize + 1);
  key.assign(reinterpret_cast<const char*>(plain.Data), cDataKeySize);
  key.push_back('\0');
  return CountCRC(plain.Data, cDataKeySize, crcFull) == PasswordHeader.KeyCRC;
}

}  // namespace sfs
