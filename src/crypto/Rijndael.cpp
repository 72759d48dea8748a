#include "crypto/Rijndael.h"

#include <array>
#include <atomic>
#include <cstring>

#include "crypto/CryptUtil.h"
#include "crypto/RijndaelImpl.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace crypto {

namespace rijndael {

namespace {

constexpr uint8_t XTime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

constexpr uint8_t GMul(uint8_t a, uint8_t b) {
  uint8_t p = 0;
  while (b != 0) {
    if (b & 1) p ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return p;
}

struct TTables {
  uint8_t S[256];
  uint8_t IS[256];
  uint32_t Te[4][256];
  uint32_t Td[4][256];
};

constexpr TTables MakeTables() {
  TTables t{};
  uint8_t exp[256] = {};
  uint8_t log[256] = {};
  uint8_t p = 1;
  for (int i = 0; i < 255; ++i) {
    exp[i] = p;
    log[p] = static_cast<uint8_t>(i);
    p = static_cast<uint8_t>(p ^ XTime(p));  // times 3, a generator
  }
  for (int x = 0; x < 256; ++x) {
    const uint8_t inv = x == 0 ? 0 : exp[(255 - log[x]) % 255];
    uint8_t s = inv;
    for (int r = 1; r <= 4; ++r) s ^= static_cast<uint8_t>((inv << r) | (inv >> (8 - r)));
    s ^= 0x63;
    t.S[x] = s;
    t.IS[s] = static_cast<uint8_t>(x);
  }
  // Column words little-endian: byte k of the word is row k.
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = t.S[x];
    const uint32_t e = uint32_t{GMul(s, 2)} | (uint32_t{s} << 8) | (uint32_t{s} << 16) | (uint32_t{GMul(s, 3)} << 24);
    const uint8_t is = t.IS[x];
    const uint32_t d = uint32_t{GMul(is, 14)} | (uint32_t{GMul(is, 9)} << 8) | (uint32_t{GMul(is, 13)} << 16) |
                       (uint32_t{GMul(is, 11)} << 24);
    for (int k = 0; k < 4; ++k) {
      t.Te[k][x] = (e << (8 * k)) | (k ? e >> (32 - 8 * k) : 0);
      t.Td[k][x] = (d << (8 * k)) | (k ? d >> (32 - 8 * k) : 0);
    }
  }
  return t;
}

constexpr TTables cTables = MakeTables();

inline uint32_t Load(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}
inline void Store(uint8_t* p, uint32_t w) { std::memcpy(p, &w, 4); }
inline uint32_t B0(uint32_t w) { return w & 0xFF; }
inline uint32_t B1(uint32_t w) { return (w >> 8) & 0xFF; }
inline uint32_t B2(uint32_t w) { return (w >> 16) & 0xFF; }
inline uint32_t B3(uint32_t w) { return w >> 24; }

void EncryptBlock(const uint8_t* Enc, int Rounds, const uint8_t* In, uint8_t* Out) {
  const auto& T = cTables;
  uint32_t s0 = Load(In) ^ Load(Enc), s1 = Load(In + 4) ^ Load(Enc + 4), s2 = Load(In + 8) ^ Load(Enc + 8),
           s3 = Load(In + 12) ^ Load(Enc + 12);
  for (int r = 1; r < Rounds; ++r) {
    const uint8_t* k = Enc + 16 * r;
    const uint32_t t0 = T.Te[0][B0(s0)] ^ T.Te[1][B1(s1)] ^ T.Te[2][B2(s2)] ^ T.Te[3][B3(s3)] ^ Load(k);
    const uint32_t t1 = T.Te[0][B0(s1)] ^ T.Te[1][B1(s2)] ^ T.Te[2][B2(s3)] ^ T.Te[3][B3(s0)] ^ Load(k + 4);
    const uint32_t t2 = T.Te[0][B0(s2)] ^ T.Te[1][B1(s3)] ^ T.Te[2][B2(s0)] ^ T.Te[3][B3(s1)] ^ Load(k + 8);
    const uint32_t t3 = T.Te[0][B0(s3)] ^ T.Te[1][B1(s0)] ^ T.Te[2][B2(s1)] ^ T.Te[3][B3(s2)] ^ Load(k + 12);
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  const uint8_t* k = Enc + 16 * Rounds;
  auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return uint32_t{T.S[B0(a)]} | (uint32_t{T.S[B1(b)]} << 8) | (uint32_t{T.S[B2(c)]} << 16) |
           (uint32_t{T.S[B3(d)]} << 24);
  };
  Store(Out, last(s0, s1, s2, s3) ^ Load(k));
  Store(Out + 4, last(s1, s2, s3, s0) ^ Load(k + 4));
  Store(Out + 8, last(s2, s3, s0, s1) ^ Load(k + 8));
  Store(Out + 12, last(s3, s0, s1, s2) ^ Load(k + 12));
}

void DecryptBlock(const uint8_t* Dec, int Rounds, const uint8_t* In, uint8_t* Out) {
  const auto& T = cTables;
  const uint8_t* k = Dec + 16 * Rounds;
  uint32_t s0 = Load(In) ^ Load(k), s1 = Load(In + 4) ^ Load(k + 4), s2 = Load(In + 8) ^ Load(k + 8),
           s3 = Load(In + 12) ^ Load(k + 12);
  for (int r = Rounds - 1; r > 0; --r) {
    k = Dec + 16 * r;
    const uint32_t t0 = T.Td[0][B0(s0)] ^ T.Td[1][B1(s3)] ^ T.Td[2][B2(s2)] ^ T.Td[3][B3(s1)] ^ Load(k);
    const uint32_t t1 = T.Td[0][B0(s1)] ^ T.Td[1][B1(s0)] ^ T.Td[2][B2(s3)] ^ T.Td[3][B3(s2)] ^ Load(k + 4);
    const uint32_t t2 = T.Td[0][B0(s2)] ^ T.Td[1][B1(s1)] ^ T.Td[2][B2(s0)] ^ T.Td[3][B3(s3)] ^ Load(k + 8);
    const uint32_t t3 = T.Td[0][B0(s3)] ^ T.Td[1][B1(s2)] ^ T.Td[2][B2(s1)] ^ T.Td[3][B3(s0)] ^ Load(k + 12);
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return uint32_t{T.IS[B0(a)]} | (uint32_t{T.IS[B1(b)]} << 8) | (uint32_t{T.IS[B2(c)]} << 16) |
           (uint32_t{T.IS[B3(d)]} << 24);
  };
  Store(Out, last(s0, s3, s2, s1) ^ Load(Dec));
  Store(Out + 4, last(s1, s0, s3, s2) ^ Load(Dec + 4));
  Store(Out + 8, last(s2, s1, s0, s3) ^ Load(Dec + 8));
  Store(Out + 12, last(s3, s2, s1, s0) ^ Load(Dec + 12));
}

void TableEncryptBlocks(const uint8_t* Enc, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count) {
  for (size_t i = 0; i < Count; ++i) EncryptBlock(Enc, Rounds, Source + 16 * i, Dest + 16 * i);
}

void TableDecryptBlocks(const uint8_t* Dec, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count) {
  for (size_t i = 0; i < Count; ++i) DecryptBlock(Dec, Rounds, Source + 16 * i, Dest + 16 * i);
}

void TableEncryptChain(const uint8_t* Enc, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count,
                       uint8_t* Feedback, bool Xor) {
  uint8_t x[16];
  for (size_t i = 0; i < Count; ++i) {
    for (int k = 0; k < 16; ++k) x[k] = static_cast<uint8_t>(Source[16 * i + k] ^ Feedback[k]);
    EncryptBlock(Enc, Rounds, x, x);
    std::memcpy(Dest + 16 * i, x, 16);
    if (Xor)
      for (int k = 0; k < 16; ++k) Feedback[k] ^= x[k];
    else
      std::memcpy(Feedback, x, 16);
  }
  SecureFill(x, sizeof x, 0);
}

void TableEncryptChains(const uint8_t* Enc, int Rounds, uint8_t* const* Buffers, size_t Count, size_t Blocks,
                        const uint8_t* Vector, bool Xor) {
  uint8_t f[16];
  for (size_t i = 0; i < Count; ++i) {
    std::memcpy(f, Vector, 16);
    TableEncryptChain(Enc, Rounds, Buffers[i], Buffers[i], Blocks, f, Xor);
  }
  SecureFill(f, sizeof f, 0);
}

void TableDecryptChain(const uint8_t* Dec, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count,
                       uint8_t* Feedback, bool Xor, const uint8_t* Upcoming) {
  uint8_t c[16], p[16];
  for (size_t i = 0; i < Count; ++i) {
    if (i % 4 == 0) PrefetchBytes(Upcoming, 16 * i, 64);
    std::memcpy(c, Source + 16 * i, 16);
    DecryptBlock(Dec, Rounds, c, p);
    for (int k = 0; k < 16; ++k) Dest[16 * i + k] = static_cast<uint8_t>(p[k] ^ Feedback[k]);
    if (Xor)
      for (int k = 0; k < 16; ++k) Feedback[k] ^= c[k];
    else
      std::memcpy(Feedback, c, 16);
  }
  SecureFill(p, sizeof p, 0);
}

}  // namespace

const TImplementation cTableImplementation = {TableEncryptBlocks, TableDecryptBlocks, TableEncryptChain,
                                              TableDecryptChain, TableEncryptChains};

void InvMixColumns(uint8_t* Block) {
  for (int c = 0; c < 4; ++c) {
    uint8_t* a = Block + 4 * c;
    const uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    a[0] = GMul(a0, 14) ^ GMul(a1, 11) ^ GMul(a2, 13) ^ GMul(a3, 9);
    a[1] = GMul(a0, 9) ^ GMul(a1, 14) ^ GMul(a2, 11) ^ GMul(a3, 13);
    a[2] = GMul(a0, 13) ^ GMul(a1, 9) ^ GMul(a2, 14) ^ GMul(a3, 11);
    a[3] = GMul(a0, 11) ^ GMul(a1, 13) ^ GMul(a2, 9) ^ GMul(a3, 14);
  }
}

bool CpuHasAes() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ecx & bit_AES) != 0 && (ecx & bit_SSE4_1) != 0;
#else
  return false;
#endif
}

#if !defined(BD_HAVE_AESNI)
const TImplementation* HardwareImplementation() { return nullptr; }
#endif

}  // namespace rijndael

namespace {

constexpr int32_t cRijndaelKeyOffsetDec = 240;

std::atomic<bool>& PreferHardwareFlag() {
  static std::atomic<bool> flag{true};
  return flag;
}

const rijndael::TImplementation& Implementation(bool Hardware) {
  if (Hardware) return *rijndael::HardwareImplementation();
  return rijndael::cTableImplementation;
}

}  // namespace

const TCipherClassInfo TCipher_Rijndael::ClassInfo = {
    "TCipher_Rijndael", 16, 32, 480, [](std::shared_ptr<TProtection> p) -> std::shared_ptr<TCipher> {
      return std::make_shared<TCipher_Rijndael>(std::string(), std::move(p));
    }};

TCipher_Rijndael::TCipher_Rijndael(const std::string& Password, std::shared_ptr<TProtection> AProtection)
    : TCipher(&ClassInfo, std::move(AProtection)) {
  FHardware = PreferHardware() && HardwareAvailable();
  if (!Password.empty()) InitKey(Password, nullptr);
}

TCipher_Rijndael::~TCipher_Rijndael() = default;

bool TCipher_Rijndael::HardwareAvailable() {
  static const bool available = rijndael::HardwareImplementation() != nullptr && rijndael::CpuHasAes();
  return available;
}

void TCipher_Rijndael::SetPreferHardware(bool Value) { PreferHardwareFlag() = Value; }

bool TCipher_Rijndael::PreferHardware() { return PreferHardwareFlag(); }

void TCipher_Rijndael::SetUseHardware(bool Value) { FHardware = Value && HardwareAvailable(); }

std::string TCipher_Rijndael::TestVector() const {
  // The FIPS 197 AES-256 example under the key 00 01 .. 1F: the plaintext block, then its
  // ciphertext.
  return std::string(
      "\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff"
      "\x8e\xa2\xb7\xca\x51\x67\x45\xbf\xea\xfc\x49\x90\x4b\x49\x60\x89",
      32);
}

void TCipher_Rijndael::Init(const void* Key, int32_t Size, const void* IVector) {
  InitBegin(Size);
  FRounds = Size <= 16 ? 10 : Size <= 24 ? 12 : 14;
  const int nk = FRounds - 6;  // key words: 4, 6 or 8
  uint8_t key[32] = {};
  if (Size > 0) std::memcpy(key, Key, static_cast<size_t>(Size));

  uint8_t* enc = User();
  const int words = 4 * (FRounds + 1);
  std::memcpy(enc, key, static_cast<size_t>(4 * nk));
  uint8_t rcon = 1;
  for (int i = nk; i < words; ++i) {
    uint8_t t[4];
    std::memcpy(t, enc + 4 * (i - 1), 4);
    if (i % nk == 0) {
      const uint8_t t0 = t[0];
      t[0] = static_cast<uint8_t>(rijndael::cTables.S[t[1]] ^ rcon);
      t[1] = rijndael::cTables.S[t[2]];
      t[2] = rijndael::cTables.S[t[3]];
      t[3] = rijndael::cTables.S[t0];
      rcon = rijndael::XTime(rcon);
    } else if (nk > 6 && i % nk == 4) {
      for (auto& b : t) b = rijndael::cTables.S[b];
    }
    for (int k = 0; k < 4; ++k) enc[4 * i + k] = static_cast<uint8_t>(enc[4 * (i - nk) + k] ^ t[k]);
    SecureFill(t, sizeof t, 0);
  }
  uint8_t* dec = User() + cRijndaelKeyOffsetDec;
  std::memcpy(dec, enc, static_cast<size_t>(16 * (FRounds + 1)));
  for (int r = 1; r < FRounds; ++r) rijndael::InvMixColumns(dec + 16 * r);
  ProtectBuffer(key, sizeof key, 0);
  InitEnd(IVector);
}

void TCipher_Rijndael::Encode(void* Block) {
  auto* b = static_cast<uint8_t*>(Block);
  Implementation(FHardware).EncryptBlocks(User(), FRounds, b, b, 1);
}

void TCipher_Rijndael::Decode(void* Block) {
  auto* b = static_cast<uint8_t*>(Block);
  Implementation(FHardware).DecryptBlocks(User() + cRijndaelKeyOffsetDec, FRounds, b, b, 1);
}

void TCipher_Rijndael::EncodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Count) {
  Implementation(FHardware).EncryptBlocks(User(), FRounds, Source, Dest, Count);
}

void TCipher_Rijndael::DecodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Count) {
  Implementation(FHardware).DecryptBlocks(User() + cRijndaelKeyOffsetDec, FRounds, Source, Dest, Count);
}

void TCipher_Rijndael::EncodeChain(const uint8_t* Source, uint8_t* Dest, size_t Count, bool Xor) {
  Implementation(FHardware).EncryptChain(User(), FRounds, Source, Dest, Count, FFeedback.data(), Xor);
}

void TCipher_Rijndael::EncodeChains(uint8_t* const* Buffers, size_t Count, size_t Blocks, bool Xor) {
  Implementation(FHardware).EncryptChains(User(), FRounds, Buffers, Count, Blocks, FVector.data(), Xor);
}

void TCipher_Rijndael::DecodeChain(const uint8_t* Source, uint8_t* Dest, size_t Count, bool Xor,
                                   const uint8_t* Upcoming) {
  Implementation(FHardware).DecryptChain(User() + cRijndaelKeyOffsetDec, FRounds, Source, Dest, Count,
                                         FFeedback.data(), Xor, Upcoming);
}

}  // namespace crypto
