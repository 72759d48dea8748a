#include "crypto/Random.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "crypto/CryptUtil.h"
#include "crypto/RandomState.h"

namespace crypto {

using namespace randomstate;

namespace {

constexpr int32_t cRandomChunk = 4096;
// Basic seed of new generators until the program sets another.
constexpr uint32_t cDefaultSeed = 0x5A3C96E1u;

std::atomic<uint32_t>& DefaultSeedValue() {
  static std::atomic<uint32_t> value{cDefaultSeed};
  return value;
}

[[noreturn]] void InvalidData() { throw ERandom("Invalid Random Data detected."); }

uint8_t Reverse8(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    if (b & (1u << i)) r = static_cast<uint8_t>(r | (0x80u >> i));
  return r;
}

}  // namespace

uint32_t DefaultSeed() { return DefaultSeedValue(); }
void SetDefaultSeed(uint32_t Value) { DefaultSeedValue() = Value; }

// --- TRandom ---

TRandom::TRandom(TNoSetup, const std::string& APassword, std::shared_ptr<TProtection> AProtection)
    : TProtection(std::move(AProtection)), FPassword(APassword), FBasicSeed(DefaultSeed()) {}

TRandom::TRandom(const std::string& APassword, int32_t ASize, bool ARandomize, std::shared_ptr<TProtection> AProtection)
    : TRandom(TNoSetup{}, APassword, std::move(AProtection)) {
  Setup(ASize, ARandomize);
}

TRandom::~TRandom() {
  ProtectString(FPassword);
  SecureFill(&FRegister, sizeof FRegister, 0);
}

void TRandom::Setup(int32_t ASize, bool ARandomize) {
  FSize = -1;
  SetSize(ASize);
  if (ASize > 0) {
    if (ARandomize)
      Seed(nullptr, -1);
    else
      Seed(FPassword);
  }
}

void TRandom::ScrambleWithProtection(void* ABuffer, int32_t ASize) {
  if (FProtection) FProtection->CodeBuffer(ABuffer, ASize, paScramble);
}

void TRandom::SetSize(int32_t) { FSize = 32; }

void TRandom::Seed(const void* ABuffer, int32_t ASize) {
  if (ABuffer != nullptr && ASize > 0) {
    uint8_t reg[4] = {};
    const auto* p = static_cast<const uint8_t*>(ABuffer);
    for (int32_t i = 0; i < ASize; ++i) reg[i % 4] = static_cast<uint8_t>(reg[i % 4] + p[i]);
    std::memcpy(&FRegister, reg, 4);
  } else if (ASize < 0) {
    FRegister = RndTimeSeed() + FCount + 1;
  } else {
    FRegister = FBasicSeed;
  }
  ScrambleWithProtection(&FRegister, 4);
}

void TRandom::Buffer(void* ABuffer, int32_t ASize) {
  if (ASize < 1 || ABuffer == nullptr) return;
  std::memset(ABuffer, 0, static_cast<size_t>(ASize));
  FRegister = RndXORBuffer(FRegister, ABuffer, ASize);
  FCount += static_cast<uint32_t>(ASize);
  ScrambleWithProtection(ABuffer, ASize);
}

int32_t TRandom::Int(int32_t ARange) {
  int32_t x = 0;
  Buffer(&x, 4);
  FCount += 4;
  if (ARange == 0 || x == 0) return x;
  const int64_t value = x;
  if (ARange > 0) return static_cast<int32_t>((value < 0 ? -value : value) % (int64_t{ARange} + 1));
  const int64_t range = -int64_t{ARange};
  return static_cast<int32_t>(value % (range + 1));
}

template <typename TRecord>
std::string TRandom::SealState(TRecord& Record) {
  RndXORBuffer(RndTimeSeed(), &Record.Marker, sizeof Record.Marker);
  Record.Check = static_cast<uint16_t>(~CRC16(0xFFFF, &Record, offsetof(TRecord, Check)));
  Record.Flags = cStateFlags;
  if (FProtection) {
    Record.Flags |= cStateProtected;
    FProtection->CodeBuffer(&Record, offsetof(TRecord, Flags), paEncode);
  }
  std::string text = StrToFormat(reinterpret_cast<const char*>(&Record), sizeof Record, fmtMIME64);
  SecureFill(&Record, sizeof Record, 0);
  return text;
}

template <typename TRecord>
void TRandom::OpenState(const std::string& Value, TRecord& Record) {
  std::string data;
  try {
    data = FormatToStr(Value, fmtMIME64);
  } catch (const EStringFormat&) {
    InvalidData();
  }
  if (data.size() != sizeof Record) InvalidData();
  std::memcpy(&Record, data.data(), sizeof Record);
  ProtectString(data);
  if (Record.Flags < 256 || Record.Flags > 511) InvalidData();
  if (Record.Flags & cStateProtected) {
    if (!FProtection) throw ERandom("Random Data are protected.");
    FProtection->CodeBuffer(&Record, offsetof(TRecord, Flags), paDecode);
  }
  if (static_cast<uint16_t>(~CRC16(0xFFFF, &Record, offsetof(TRecord, Check))) != Record.Check) InvalidData();
}

std::string TRandom::GetState() {
  TRandomRecord record{};
  record.Size = FSize;
  record.BasicSeed = FBasicSeed;
  record.Count = FCount;
  record.Register = FRegister;
  return SealState(record);
}

void TRandom::SetState(const std::string& Value) {
  TRandomRecord record{};
  OpenState(Value, record);
  SetSize(record.Size);
  FBasicSeed = record.BasicSeed;
  FCount = record.Count;
  FRegister = record.Register;
  SecureFill(&record, sizeof record, 0);
}

void TRandom::SaveToStream(platform::TStream& Stream) {
  const std::string name = GetShortClassName(ClassName());
  const std::string text = InsertCR(GetState(), 64);
  char length[8];
  std::snprintf(length, sizeof length, "%04X", static_cast<unsigned>(text.size() & 0xFFFF));
  const std::string header = name + length + "\r\n";
  Stream.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
  Stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TRandom::LoadFromStream(platform::TStream& Stream) {
  const std::string name = GetShortClassName(ClassName());
  std::string got(name.size(), '\0');
  if (Stream.Read(got.data(), static_cast<int32_t>(got.size())) != static_cast<int32_t>(got.size()) || got != name)
    return;  // not a state of this class
  char header[6];
  if (Stream.Read(header, 6) != 6 || header[4] != '\r' || header[5] != '\n') InvalidData();
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = header[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else
      InvalidData();
    length = length * 16 + static_cast<uint32_t>(digit);
  }
  std::string text(length, '\0');
  if (length > 0 && Stream.Read(text.data(), static_cast<int32_t>(length)) != static_cast<int32_t>(length))
    InvalidData();
  SetState(DeleteCR(text));
}

void TRandom::CodeInit(TPAction Action) {
  if (Action == paWipe)
    Seed(nullptr, -1);
  else
    Seed(FPassword);
  TProtection::CodeInit(Action);
}

void TRandom::CodeDone(TPAction Action) {
  TProtection::CodeDone(Action);
  if (Action == paWipe)
    Seed(nullptr, -1);
  else
    Seed(FPassword);
}

void TRandom::CodeBuf(void* Buffer_, int32_t Size, TPAction Action) {
  auto work = [&] {
    if (!HasAction(Action) || Buffer_ == nullptr || Size <= 0) return;
    auto* data = static_cast<uint8_t*>(Buffer_);
    std::vector<uint8_t> key(static_cast<size_t>(std::min(Size, cRandomChunk)));
    for (int32_t pos = 0; pos < Size; pos += cRandomChunk) {
      const int32_t n = std::min(cRandomChunk, Size - pos);
      Buffer(key.data(), n);
      if (Action != paCalc) XORBuffers(data + pos, key.data(), n, data + pos);
    }
    SecureFill(key.data(), key.size(), 0);
  };
  if (Action == paDecode) {
    work();
    TProtection::CodeBuf(Buffer_, Size, Action);
  } else {
    TProtection::CodeBuf(Buffer_, Size, Action);
    work();
  }
}

// --- TRandom_LFSR ---

TRandom_LFSR::TRandom_LFSR(const std::string& APassword, int32_t ASize, bool ARandomize,
                           std::shared_ptr<TProtection> AProtection)
    : TRandom(TNoSetup{}, APassword, std::move(AProtection)) {
  Setup(ASize, ARandomize);
}

TRandom_LFSR::~TRandom_LFSR() { SecureFill(FRegister.data(), FRegister.size(), 0); }

void TRandom_LFSR::CalcLFSRTable(uint8_t Tap) {
  const uint16_t r = Reverse8(Tap);
  for (uint32_t i = 0; i < 256; ++i) {
    uint16_t w = 0;
    for (int bit = 7; bit >= 0; --bit) {
      w = static_cast<uint16_t>(w << 1);
      if (i & (1u << bit)) w ^= r;
    }
    FTable[i] = w;
  }
}

void TRandom_LFSR::SetSize(int32_t Bits) {
  if (Bits < 1) Bits = 128;
  if (Bits == FSize) return;
  const TLFSRPeriod* chosen = nullptr;
  for (const auto& p : LFSRPeriod)
    if (p.Bits <= Bits) chosen = &p;
  if (chosen == nullptr)
    for (const auto& p : LFSRPeriod)
      if (p.Bits == 128) chosen = &p;
  FSize = chosen->Bits;
  FLast = static_cast<uint32_t>(FSize / 8 - 1);
  FUse128 = FSize == 128;
  CalcLFSRTable(chosen->Tap);
  Seed(nullptr, 0);
}

void TRandom_LFSR::Seed(const void* ABuffer, int32_t ASize) {
  FPtr = 0;
  if (ABuffer != nullptr && ASize > 0) {
    FRegister.fill(0);
    const auto* p = static_cast<const uint8_t*>(ABuffer);
    const int32_t bytes = FSize / 8;
    for (int32_t i = 0; i < ASize; ++i) {
      uint8_t& r = FRegister[static_cast<size_t>(i % bytes)];
      r = static_cast<uint8_t>(r + p[i]);
    }
  } else if (ASize < 0) {
    RndXORBuffer(RndTimeSeed() + FCount + 1, FRegister.data(), static_cast<int32_t>(FRegister.size()));
  } else {
    FRegister.fill(0);
  }
  RndXORBuffer(FBasicSeed, FRegister.data(), static_cast<int32_t>(FRegister.size()));
  ScrambleWithProtection(FRegister.data(), static_cast<int32_t>(FRegister.size()));
}

void TRandom_LFSR::StepGeneral(uint8_t* Out, int32_t Size) {
  uint32_t ptr = FPtr;
  const uint32_t last = FLast;
  for (int32_t i = Size - 1; i >= 0; --i) {
    const uint8_t a = FRegister[ptr];
    Out[i] = a;
    const uint16_t w = FTable[a];
    FRegister[ptr] = static_cast<uint8_t>(w);
    FRegister[ptr == 0 ? last : ptr - 1] ^= static_cast<uint8_t>(w >> 8);
    ptr = ptr == last ? 0 : ptr + 1;
  }
  FPtr = ptr;
}

void TRandom_LFSR::Step128(uint8_t* Out, int32_t Size) {
  uint32_t ptr = FPtr & 15u;
  for (int32_t i = Size - 1; i >= 0; --i) {
    const uint8_t a = FRegister[ptr];
    Out[i] = a;
    const uint16_t w = FTable[a];
    FRegister[ptr] = static_cast<uint8_t>(w);
    FRegister[(ptr + 15) & 15u] ^= static_cast<uint8_t>(w >> 8);
    ptr = (ptr + 1) & 15u;
  }
  FPtr = ptr;
}

void TRandom_LFSR::Buffer(void* ABuffer, int32_t ASize) {
  if (ASize <= 0 || ABuffer == nullptr) return;
  if (FUse128)
    Step128(static_cast<uint8_t*>(ABuffer), ASize);
  else
    StepGeneral(static_cast<uint8_t*>(ABuffer), ASize);
  ScrambleWithProtection(ABuffer, ASize);
  FCount += static_cast<uint32_t>(ASize);
}

std::string TRandom_LFSR::GetState() {
  TLFSRRecord record{};
  record.Size = FSize;
  std::memcpy(record.Register, FRegister.data(), sizeof record.Register);
  record.BasicSeed = FBasicSeed;
  record.Count = FCount;
  record.Ptr = FPtr;
  record.Last = FLast;
  return SealState(record);
}

void TRandom_LFSR::SetState(const std::string& Value) {
  TLFSRRecord record{};
  OpenState(Value, record);
  // Only register sizes of the table, with the pointer inside the register, are accepted: the
  // step routine indexes the register with them.
  const int32_t size = record.Size;
  const bool known = std::any_of(LFSRPeriod.begin(), LFSRPeriod.end(), [&](const auto& p) { return p.Bits == size; });
  if (!known || record.Last != static_cast<uint32_t>(size / 8 - 1) || record.Ptr > record.Last) InvalidData();
  SetSize(size);
  std::memcpy(FRegister.data(), record.Register, FRegister.size());
  FBasicSeed = record.BasicSeed;
  FCount = record.Count;
  FPtr = record.Ptr;
  FLast = record.Last;
  SecureFill(&record, sizeof record, 0);
}

}  // namespace crypto
