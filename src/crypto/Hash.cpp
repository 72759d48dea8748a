#include "crypto/Hash.h"

#include <bit>
#include <cstring>

#include "crypto/CryptUtil.h"

namespace crypto {

static_assert(std::endian::native == std::endian::little, "digest words are read and written little-endian");

namespace {

inline uint32_t Word(const uint8_t* p, int i) {
  uint32_t w;
  std::memcpy(&w, p + 4 * i, 4);
  return w;
}

}  // namespace

// --- THash ---

THash::~THash() = default;

void THash::Init() { Protect(true); }

void THash::Calc(const void*, int32_t) {}

void THash::Done() { Protect(false); }

void THash::Protect(bool IsInit) {
  if (!FProtection) return;
  if (auto* mac = dynamic_cast<TMAC*>(FProtection.get())) {
    if (IsInit)
      mac->Init(*this);
    else
      mac->Done(*this);
    return;
  }
  if (!IsInit && DigestKey() != nullptr && DigestKeySize() > 0)
    FProtection->CodeBuffer(DigestKey(), DigestKeySize(), paScramble);
}

std::string THash::DigestString(int32_t Format) {
  return StrToFormat(reinterpret_cast<const char*>(DigestKey()), DigestKeySize(), Format);
}

std::string THash::CalcString(THashClass AClass, const std::string& Data, std::shared_ptr<TProtection> Protection,
                              int32_t Format) {
  if (AClass == nullptr) return {};
  std::shared_ptr<THash> hash = AClass->New(std::move(Protection));
  hash->Init();
  hash->Calc(Data.data(), static_cast<int32_t>(Data.size()));
  hash->Done();
  return hash->DigestString(Format);
}

void THash::CodeInit(TPAction Action) {
  Init();
  if (Action == paWipe && DigestKey() != nullptr) RndXORBuffer(RndTimeSeed(), DigestKey(), DigestKeySize());
  TProtection::CodeInit(Action);
}

void THash::CodeDone(TPAction Action) {
  TProtection::CodeDone(Action);
  if (Action == paCalc)
    Done();
  else
    Init();
}

void THash::CodeBuf(void* Buffer, int32_t Size, TPAction Action) {
  if (Action != paDecode) TProtection::CodeBuf(Buffer, Size, Action);
  if (HasAction(Action) && Buffer != nullptr && Size > 0) {
    auto* data = static_cast<uint8_t*>(Buffer);
    const int32_t digestSize = DigestKeySize();
    switch (Action) {
      case paCalc:
        Calc(Buffer, Size);
        break;
      case paScramble:
      case paWipe:
        if (digestSize <= 0) break;
        for (int32_t pos = 0; pos < Size; pos += digestSize) {
          const int32_t m = std::min(digestSize, Size - pos);
          Calc(data + pos, m);
          Done();
          std::memcpy(data + pos, DigestKey(), static_cast<size_t>(m));
        }
        break;
      case paEncode:
      case paDecode:
        if (digestSize <= 0) break;
        for (int32_t pos = 0; pos < Size; pos += digestSize) {
          const int32_t m = std::min(digestSize, Size - pos);
          uint8_t feedback[64];
          std::memcpy(feedback, DigestKey(), static_cast<size_t>(digestSize));
          Calc(feedback, digestSize);
          SecureFill(feedback, sizeof feedback, 0);
          Done();
          XORBuffers(data + pos, DigestKey(), m, data + pos);
        }
        break;
    }
  }
  if (Action == paDecode) TProtection::CodeBuf(Buffer, Size, Action);
}

THashClass DefaultHashClass() { return THash_RipeMD256::StaticClass(); }

// --- THash_MD4 ---

const THashClassInfo THash_MD4::ClassInfo = {
    "THash_MD4", 16, [](std::shared_ptr<TProtection> p) -> std::shared_ptr<THash> {
      return std::make_shared<THash_MD4>(std::move(p));
    }};

THash_MD4::~THash_MD4() {
  SecureFill(FDigest.data(), sizeof FDigest, 0);
  SecureFill(FBuffer.data(), FBuffer.size(), 0);
}

std::string THash_MD4::TestVector() const {
  // MD4 of "abc".
  return std::string("\xa4\x48\x01\x7a\xaf\x21\xd8\x52\x5f\xc1\x0a\xe8\x7a\xa6\x72\x9d", 16);
}

void THash_MD4::Init() {
  FBuffer.fill(0);
  FDigest.fill(0);
  FDigest[0] = 0x67452301u;
  FDigest[1] = 0xEFCDAB89u;
  FDigest[2] = 0x98BADCFEu;
  FDigest[3] = 0x10325476u;
  FCount = 0;
  FCountHigh = 0;
  Protect(true);
}

void THash_MD4::Calc(const void* Data, int32_t Size) {
  if (Size <= 0 || Data == nullptr) return;
  const auto* p = static_cast<const uint8_t*>(Data);
  auto n = static_cast<size_t>(Size);
  size_t used = FCount & 63u;
  const uint32_t before = FCount;
  FCount += static_cast<uint32_t>(n);
  if (FCount < before) ++FCountHigh;
  if (used != 0) {
    const size_t take = std::min(n, 64 - used);
    std::memcpy(FBuffer.data() + used, p, take);
    p += take;
    n -= take;
    used += take;
    if (used < 64) return;
    Transform(FBuffer.data(), 1);
  }
  if (n >= 64) {
    Transform(p, n / 64);
    p += n / 64 * 64;
    n %= 64;
  }
  if (n > 0) std::memcpy(FBuffer.data(), p, n);
}

void THash_MD4::Done() {
  size_t used = FCount & 63u;
  FBuffer[used++] = 0x80;
  if (used > 56) {
    std::memset(FBuffer.data() + used, 0, 64 - used);
    Transform(FBuffer.data(), 1);
    used = 0;
  }
  std::memset(FBuffer.data() + used, 0, 56 - used);
  const uint64_t bits = ((uint64_t{FCountHigh} << 32) | FCount) << 3;
  std::memcpy(FBuffer.data() + 56, &bits, 8);
  Transform(FBuffer.data(), 1);
  SecureFill(FBuffer.data(), FBuffer.size(), 0);
  Protect(false);
}

namespace {

inline uint32_t F1(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }

}  // namespace

void THash_MD4::Transform(const uint8_t* Block, size_t Count) {
  uint32_t h0 = FDigest[0], h1 = FDigest[1], h2 = FDigest[2], h3 = FDigest[3];
  for (; Count > 0; --Count, Block += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = Word(Block, i);
    uint32_t a = h0, b = h1, c = h2, d = h3;
    // The message word and constant are added first, off the dependency chain of b, c, d.
#define BD_MD4_R1(a, b, c, d, k, s) a = std::rotl(a + x[k] + F1(b, c, d), s)
    for (int i = 0; i < 16; i += 4) {
      BD_MD4_R1(a, b, c, d, i + 0, 3);
      BD_MD4_R1(d, a, b, c, i + 1, 7);
      BD_MD4_R1(c, d, a, b, i + 2, 11);
      BD_MD4_R1(b, c, d, a, i + 3, 19);
    }
    // Rounds 2 and 3: two consecutive steps have two of their three inputs in common, so the
    // terms of that pair are computed once for both.
    constexpr uint32_t K2 = 0x5A827999u, K3 = 0x6ED9EBA1u;
    for (int i = 0; i < 4; ++i) {
      uint32_t both = b & c, either = b ^ c;
      a = std::rotl(a + x[i] + K2 + both + (d & either), 3);
      d = std::rotl(d + x[i + 4] + K2 + both + (a & either), 5);
      both = d & a;
      either = d ^ a;
      c = std::rotl(c + x[i + 8] + K2 + both + (b & either), 9);
      b = std::rotl(b + x[i + 12] + K2 + both + (c & either), 13);
    }
    static constexpr int cOrder3[4] = {0, 2, 1, 3};
    for (int i : cOrder3) {
      uint32_t t = b ^ c;
      a = std::rotl(a + x[i] + K3 + (t ^ d), 3);
      d = std::rotl(d + x[i + 8] + K3 + (t ^ a), 9);
      t = d ^ a;
      c = std::rotl(c + x[i + 4] + K3 + (t ^ b), 11);
      b = std::rotl(b + x[i + 12] + K3 + (t ^ c), 15);
    }
#undef BD_MD4_R1
    h0 += a;
    h1 += b;
    h2 += c;
    h3 += d;
  }
  FDigest[0] = h0;
  FDigest[1] = h1;
  FDigest[2] = h2;
  FDigest[3] = h3;
}

// --- THash_RipeMD256 ---

const THashClassInfo THash_RipeMD256::ClassInfo = {
    "THash_RipeMD256", 32, [](std::shared_ptr<TProtection> p) -> std::shared_ptr<THash> {
      return std::make_shared<THash_RipeMD256>(std::move(p));
    }};

std::string THash_RipeMD256::TestVector() const {
  // RIPEMD-256 of "abc".
  return std::string(
      "\xaf\xbd\x6e\x22\x8b\x9d\x8c\xbb\xce\xf5\xca\x2d\x03\xe6\xdb\xa1"
      "\x0a\xc0\xbc\x7d\xcb\xe4\x68\x0e\x1e\x42\xd2\xe9\x75\x45\x9b\x65",
      32);
}

void THash_RipeMD256::Init() {
  FBuffer.fill(0);
  FDigest.fill(0);
  FDigest[0] = 0x67452301u;
  FDigest[1] = 0xEFCDAB89u;
  FDigest[2] = 0x98BADCFEu;
  FDigest[3] = 0x10325476u;
  FDigest[4] = 0x76543210u;
  FDigest[5] = 0xFEDCBA98u;
  FDigest[6] = 0x89ABCDEFu;
  FDigest[7] = 0x01234567u;
  FCount = 0;
  FCountHigh = 0;
  Protect(true);
}

namespace {

inline uint32_t R1(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t R2(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t R3(uint32_t x, uint32_t y, uint32_t z) { return (x | ~y) ^ z; }
inline uint32_t R4(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }

}  // namespace

void THash_RipeMD256::Transform(const uint8_t* Block, size_t Count) {
  uint32_t h[8];
  std::memcpy(h, FDigest.data(), sizeof h);
  for (; Count > 0; --Count, Block += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = Word(Block, i);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    uint32_t aa = h[4], bb = h[5], cc = h[6], dd = h[7];
    // One step: a := rol(a + f(b, c, d) + x[k] + K, s); the four words rotate roles by naming.
#define BD_RMD(f, a, b, c, d, k, s, K) a = std::rotl(a + x[k] + (K) + f(b, c, d), s)
#define BD_RMD4(f, K, k0, s0, k1, s1, k2, s2, k3, s3, a, b, c, d) \
  BD_RMD(f, a, b, c, d, k0, s0, K);                               \
  BD_RMD(f, d, a, b, c, k1, s1, K);                               \
  BD_RMD(f, c, d, a, b, k2, s2, K);                               \
  BD_RMD(f, b, c, d, a, k3, s3, K)

    // Round 1: left f1 / 0, right f4 / 50A28BE6.
    BD_RMD4(R1, 0u, 0, 11, 1, 14, 2, 15, 3, 12, a, b, c, d);
    BD_RMD4(R1, 0u, 4, 5, 5, 8, 6, 7, 7, 9, a, b, c, d);
    BD_RMD4(R1, 0u, 8, 11, 9, 13, 10, 14, 11, 15, a, b, c, d);
    BD_RMD4(R1, 0u, 12, 6, 13, 7, 14, 9, 15, 8, a, b, c, d);
    BD_RMD4(R4, 0x50A28BE6u, 5, 8, 14, 9, 7, 9, 0, 11, aa, bb, cc, dd);
    BD_RMD4(R4, 0x50A28BE6u, 9, 13, 2, 15, 11, 15, 4, 5, aa, bb, cc, dd);
    BD_RMD4(R4, 0x50A28BE6u, 13, 7, 6, 7, 15, 8, 8, 11, aa, bb, cc, dd);
    BD_RMD4(R4, 0x50A28BE6u, 1, 14, 10, 14, 3, 12, 12, 6, aa, bb, cc, dd);
    std::swap(a, aa);

    // Round 2: left f2 / 5A827999, right f3 / 5C4DD124.
    BD_RMD4(R2, 0x5A827999u, 7, 7, 4, 6, 13, 8, 1, 13, a, b, c, d);
    BD_RMD4(R2, 0x5A827999u, 10, 11, 6, 9, 15, 7, 3, 15, a, b, c, d);
    BD_RMD4(R2, 0x5A827999u, 12, 7, 0, 12, 9, 15, 5, 9, a, b, c, d);
    BD_RMD4(R2, 0x5A827999u, 2, 11, 14, 7, 11, 13, 8, 12, a, b, c, d);
    BD_RMD4(R3, 0x5C4DD124u, 6, 9, 11, 13, 3, 15, 7, 7, aa, bb, cc, dd);
    BD_RMD4(R3, 0x5C4DD124u, 0, 12, 13, 8, 5, 9, 10, 11, aa, bb, cc, dd);
    BD_RMD4(R3, 0x5C4DD124u, 14, 7, 15, 7, 8, 12, 12, 7, aa, bb, cc, dd);
    BD_RMD4(R3, 0x5C4DD124u, 4, 6, 9, 15, 1, 13, 2, 11, aa, bb, cc, dd);
    std::swap(b, bb);

    // Round 3: left f3 / 6ED9EBA1, right f2 / 6D703EF3.
    BD_RMD4(R3, 0x6ED9EBA1u, 3, 11, 10, 13, 14, 6, 4, 7, a, b, c, d);
    BD_RMD4(R3, 0x6ED9EBA1u, 9, 14, 15, 9, 8, 13, 1, 15, a, b, c, d);
    BD_RMD4(R3, 0x6ED9EBA1u, 2, 14, 7, 8, 0, 13, 6, 6, a, b, c, d);
    BD_RMD4(R3, 0x6ED9EBA1u, 13, 5, 11, 12, 5, 7, 12, 5, a, b, c, d);
    BD_RMD4(R2, 0x6D703EF3u, 15, 9, 5, 7, 1, 15, 3, 11, aa, bb, cc, dd);
    BD_RMD4(R2, 0x6D703EF3u, 7, 8, 14, 6, 6, 6, 9, 14, aa, bb, cc, dd);
    BD_RMD4(R2, 0x6D703EF3u, 11, 12, 8, 13, 12, 5, 2, 14, aa, bb, cc, dd);
    BD_RMD4(R2, 0x6D703EF3u, 10, 13, 0, 13, 4, 7, 13, 5, aa, bb, cc, dd);
    std::swap(c, cc);

    // Round 4: left f4 / 8F1BBCDC, right f1 / 0.
    BD_RMD4(R4, 0x8F1BBCDCu, 1, 11, 9, 12, 11, 14, 10, 15, a, b, c, d);
    BD_RMD4(R4, 0x8F1BBCDCu, 0, 14, 8, 15, 12, 9, 4, 8, a, b, c, d);
    BD_RMD4(R4, 0x8F1BBCDCu, 13, 9, 3, 14, 7, 5, 15, 6, a, b, c, d);
    BD_RMD4(R4, 0x8F1BBCDCu, 14, 8, 5, 6, 6, 5, 2, 12, a, b, c, d);
    BD_RMD4(R1, 0u, 8, 15, 6, 5, 4, 8, 1, 11, aa, bb, cc, dd);
    BD_RMD4(R1, 0u, 3, 14, 11, 14, 15, 6, 0, 14, aa, bb, cc, dd);
    BD_RMD4(R1, 0u, 5, 6, 12, 9, 2, 12, 13, 9, aa, bb, cc, dd);
    BD_RMD4(R1, 0u, 9, 12, 7, 5, 10, 15, 14, 8, aa, bb, cc, dd);
    std::swap(d, dd);
#undef BD_RMD4
#undef BD_RMD

    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += aa;
    h[5] += bb;
    h[6] += cc;
    h[7] += dd;
  }
  std::memcpy(FDigest.data(), h, sizeof h);
}

// --- TMAC ---

TMAC::~TMAC() { ProtectString(FPassword); }

void TMAC::SetPassword(const std::string& Value) {
  ProtectString(FPassword);
  FPassword = Value;
}

void TMAC::Init(THash& Hash) {
  if (FPassword.empty() || Hash.Class() == nullptr || Hash.DigestKey() == nullptr) return;
  std::string key = THash::CalcString(Hash.Class(), FPassword, FProtection, fmtCOPY);
  const auto n = static_cast<int32_t>(std::min<size_t>(key.size(), static_cast<size_t>(Hash.DigestKeySize())));
  XORBuffers(Hash.DigestKey(), key.data(), n, Hash.DigestKey());
  ProtectString(key);
}

void TMAC::Done(THash& Hash) {
  if (FProtection && Hash.DigestKey() != nullptr)
    FProtection->CodeBuffer(Hash.DigestKey(), Hash.DigestKeySize(), paScramble);
}

}  // namespace crypto
