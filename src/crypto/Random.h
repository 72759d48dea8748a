// Random sources: TRandom, a seedable 32-bit generator, and TRandom_LFSR, a byte-wise
// linear-feedback shift register of 32 to 2032 bits (34 sizes, LFSRPeriod). Both are protection
// objects: a chained protection codes their output, and used as a chain member they XOR a key
// stream into the data.
//
// A generator seeded from a text without randomising is reproducible. The state text (GetState,
// SetState) and SaveToStream/LoadFromStream save and restore the whole state; malformed state
// data throw ERandom.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "crypto/Protection.h"

namespace crypto {

class ERandom : public platform::Exception {
 public:
  using Exception::Exception;
};

struct TLFSRPeriod {
  int32_t Bits;
  uint8_t Tap;
};
inline constexpr std::array<TLFSRPeriod, 34> LFSRPeriod = {{
    {32, 245},   {40, 156},   {48, 237},  {56, 169},  {64, 216},  {72, 250},  {80, 245},
    {96, 187},   {120, 231},  {128, 225}, {144, 169}, {152, 178}, {160, 180}, {176, 189},
    {200, 180},  {216, 209},  {304, 252}, {320, 216}, {336, 201}, {352, 189}, {400, 180},
    {408, 250},  {440, 216},  {480, 187}, {488, 216}, {504, 250}, {536, 149}, {672, 246},
    {712, 156},  {728, 184},  {824, 252}, {1128, 209}, {1232, 243}, {2032, 163},
}};

// Process-wide basic seed of new generators.
uint32_t DefaultSeed();
void SetDefaultSeed(uint32_t Value);

class TRandom : public TProtection {
 public:
  // Size > 0 seeds the generator: from the time when ARandomize, else from APassword.
  TRandom(const std::string& APassword, int32_t ASize, bool ARandomize,
          std::shared_ptr<TProtection> AProtection = nullptr);
  ~TRandom() override;

  const char* ClassName() const override { return "TRandom"; }

  virtual void SetSize(int32_t Bits);
  int32_t Size() const { return FSize; }
  virtual std::string GetState();
  // ERandom "Invalid Random Data detected." / "Random Data are protected.".
  virtual void SetState(const std::string& Value);

  // Data: seed from ASize bytes of ABuffer; ASize < 0: from the time; else the basic seed.
  virtual void Seed(const void* ABuffer, int32_t ASize);
  void Seed(const std::string& Text) { Seed(Text.data(), static_cast<int32_t>(Text.size())); }
  virtual void Buffer(void* ABuffer, int32_t ASize);
  // A random number: ARange > 0: 0..ARange; ARange < 0: -|ARange|..|ARange|; 0: any.
  int32_t Int(int32_t ARange);

  virtual void SaveToStream(platform::TStream& Stream);
  virtual void LoadFromStream(platform::TStream& Stream);

  uint32_t Count() const { return FCount; }
  uint32_t BasicSeed() const { return FBasicSeed; }
  void SetBasicSeed(uint32_t Value) { FBasicSeed = Value; }

  void CodeInit(TPAction Action) override;
  void CodeDone(TPAction Action) override;
  void CodeBuf(void* Buffer, int32_t Size, TPAction Action) override;

 protected:
  struct TNoSetup {};
  // Base construction only; the derived constructor runs Setup.
  TRandom(TNoSetup, const std::string& APassword, std::shared_ptr<TProtection> AProtection);
  void Setup(int32_t ASize, bool ARandomize);
  // Codes ASize bytes with the chained protection's CodeBuffer(paScramble), when there is one.
  void ScrambleWithProtection(void* ABuffer, int32_t ASize);
  // State records (RandomState.h): SealState fills marker, check and flags, enciphers a
  // protected record and returns the text; OpenState converts, checks and deciphers a text.
  template <typename TRecord>
  std::string SealState(TRecord& Record);
  template <typename TRecord>
  void OpenState(const std::string& Value, TRecord& Record);

  uint32_t FRegister = 0;
  std::string FPassword;
  uint32_t FCount = 0;
  int32_t FSize = -1;
  uint32_t FBasicSeed = 0;
};

class TRandom_LFSR : public TRandom {
 public:
  TRandom_LFSR(const std::string& APassword, int32_t ASize, bool ARandomize,
               std::shared_ptr<TProtection> AProtection = nullptr);
  ~TRandom_LFSR() override;

  const char* ClassName() const override { return "TRandom_LFSR"; }

  // The largest LFSRPeriod size not above Bits (Bits < 1: 128; below 32: 128).
  void SetSize(int32_t Bits) override;
  std::string GetState() override;
  void SetState(const std::string& Value) override;
  void Seed(const void* ABuffer, int32_t ASize) override;
  using TRandom::Seed;
  void Buffer(void* ABuffer, int32_t ASize) override;

 private:
  void CalcLFSRTable(uint8_t Tap);
  void StepGeneral(uint8_t* Out, int32_t Size);
  void Step128(uint8_t* Out, int32_t Size);

  uint32_t FPtr = 0;
  uint32_t FLast = 0;
  std::array<uint16_t, 256> FTable{};
  std::array<uint8_t, 256> FRegister{};
  bool FUse128 = false;
};

}  // namespace crypto
