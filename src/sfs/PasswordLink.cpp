#include "sfs/PasswordLink.h"

#include <cstring>

#include "crypto/Rijndael.h"
#include "sfs/PasswordHeader.h"

namespace sfs {

namespace {
constexpr char cKeyCheckBlock[cKeyCheckSize + 1] = "BDSFS key check.";
}

void MakePasswordHeader(uint8_t* Header, const std::string& Password, const std::string& Question,
                        const std::string& Answer) {
  TPasswordHeader h{};
  CreatePasswordHeader(h, Password, Question, Answer);
  std::memcpy(Header, &h, sizeof(h));
}

bool CheckPasswordHeader(const uint8_t* Header, const std::string& Password, std::string& Key) {
  TPasswordHeader h;
  std::memcpy(&h, Header, sizeof(h));
  return CheckPassword(h, Password, Key);
}

void MakeKeyCheck(const std::string& Key, uint8_t* Check) {
  crypto::TCipher_Rijndael cipher(Key);
  cipher.EncodeBuffer(cKeyCheckBlock, Check, cKeyCheckSize);
}

bool VerifyKeyCheck(const std::string& Key, const uint8_t* Check) {
  if (Key.empty()) return false;
  uint8_t want[cKeyCheckSize];
  MakeKeyCheck(Key, want);
  return std::memcmp(want, Check, cKeyCheckSize) == 0;
}

}  // namespace sfs
