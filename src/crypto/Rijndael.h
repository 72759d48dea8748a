// TCipher_Rijndael: the AES block cipher (16-byte block, keys of up to 32 bytes, 10/12/14 rounds
// by key length; a shorter key is zero-padded to 16, 24 or 32 bytes).
//
// Two implementations give identical results: the processor's AES instructions, chosen at run
// time when present, and a portable table implementation. The key schedule in User() is 480
// bytes: 15 encryption round keys, then 15 decryption round keys of the equivalent inverse
// cipher; both implementations use that layout.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "crypto/Cipher.h"

namespace crypto {

class TCipher_Rijndael : public TCipher {
 public:
  // With a non-empty Password the cipher is keyed with InitKey(Password, nullptr).
  explicit TCipher_Rijndael(const std::string& Password = {}, std::shared_ptr<TProtection> AProtection = nullptr);
  ~TCipher_Rijndael() override;

  static const TCipherClassInfo ClassInfo;
  static TCipherClass StaticClass() { return &ClassInfo; }

  const char* ClassName() const override { return "TCipher_Rijndael"; }
  TCipherClass Class() const override { return &ClassInfo; }
  std::string TestVector() const override;
  void Init(const void* Key, int32_t Size, const void* IVector) override;
  void Encode(void* Block) override;
  void Decode(void* Block) override;

  int32_t Rounds() const { return FRounds; }
  // True when this object codes with the processor's AES instructions.
  bool UsesHardware() const { return FHardware; }
  // Chooses the implementation of this object (true is ignored without processor support).
  void SetUseHardware(bool Value);

  // Does the processor offer the AES instructions?
  static bool HardwareAvailable();
  // Process-wide choice for objects made afterwards (default: hardware when available).
  static void SetPreferHardware(bool Value);
  static bool PreferHardware();

 protected:
  void EncodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Count) override;
  void DecodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Count) override;
  void EncodeChain(const uint8_t* Source, uint8_t* Dest, size_t Count, bool Xor) override;
  void EncodeChains(uint8_t* const* Buffers, size_t Count, size_t Blocks, bool Xor) override;
  void DecodeChain(const uint8_t* Source, uint8_t* Dest, size_t Count, bool Xor, const uint8_t* Upcoming) override;

 private:
  int32_t FRounds = 14;
  bool FHardware = false;
};

}  // namespace crypto
