// The Rijndael block functions on the processor's AES instructions. This file is compiled with
// -maes -msse4.1 and only called after the processor was found to support them.
#include <immintrin.h>

#include "crypto/CryptUtil.h"
#include "crypto/RijndaelImpl.h"

namespace crypto::rijndael {

namespace {

// Independent blocks in flight: the AES instructions are pipelined, so decoding (and ECB) runs
// several blocks at once.
constexpr size_t cLanes = 8;

struct TKeys {
  __m128i K[15];
  int Rounds;
  TKeys(const uint8_t* Keys, int rounds) : Rounds(rounds) {
    for (int r = 0; r <= rounds; ++r) K[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Keys + 16 * r));
  }
  ~TKeys() {
    for (auto& k : K) k = _mm_setzero_si128();
    // Keeps the clearing stores.
    asm volatile("" : : "m"(K) : "memory");
  }
};

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

inline __m128i Encrypt(const TKeys& k, __m128i x) {
  x = _mm_xor_si128(x, k.K[0]);
  for (int r = 1; r < k.Rounds; ++r) x = _mm_aesenc_si128(x, k.K[r]);
  return _mm_aesenclast_si128(x, k.K[k.Rounds]);
}

// Dec keys are used from the last down to the first.
inline __m128i Decrypt(const TKeys& k, __m128i x) {
  x = _mm_xor_si128(x, k.K[k.Rounds]);
  for (int r = k.Rounds - 1; r > 0; --r) x = _mm_aesdec_si128(x, k.K[r]);
  return _mm_aesdeclast_si128(x, k.K[0]);
}

inline void EncryptLanes(const TKeys& k, __m128i* x) {
  for (size_t i = 0; i < cLanes; ++i) x[i] = _mm_xor_si128(x[i], k.K[0]);
  for (int r = 1; r < k.Rounds; ++r)
    for (size_t i = 0; i < cLanes; ++i) x[i] = _mm_aesenc_si128(x[i], k.K[r]);
  for (size_t i = 0; i < cLanes; ++i) x[i] = _mm_aesenclast_si128(x[i], k.K[k.Rounds]);
}

inline void DecryptLanes(const TKeys& k, __m128i* x) {
  for (size_t i = 0; i < cLanes; ++i) x[i] = _mm_xor_si128(x[i], k.K[k.Rounds]);
  for (int r = k.Rounds - 1; r > 0; --r)
    for (size_t i = 0; i < cLanes; ++i) x[i] = _mm_aesdec_si128(x[i], k.K[r]);
  for (size_t i = 0; i < cLanes; ++i) x[i] = _mm_aesdeclast_si128(x[i], k.K[0]);
}

void EncryptBlocks(const uint8_t* Enc, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count) {
  const TKeys k(Enc, Rounds);
  size_t i = 0;
  for (; i + cLanes <= Count; i += cLanes) {
    __m128i x[cLanes];
    for (size_t j = 0; j < cLanes; ++j) x[j] = Load(Source + 16 * (i + j));
    EncryptLanes(k, x);
    for (size_t j = 0; j < cLanes; ++j) Store(Dest + 16 * (i + j), x[j]);
  }
  for (; i < Count; ++i) Store(Dest + 16 * i, Encrypt(k, Load(Source + 16 * i)));
}

void DecryptBlocks(const uint8_t* Dec, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count) {
  const TKeys k(Dec, Rounds);
  size_t i = 0;
  for (; i + cLanes <= Count; i += cLanes) {
    __m128i x[cLanes];
    for (size_t j = 0; j < cLanes; ++j) x[j] = Load(Source + 16 * (i + j));
    DecryptLanes(k, x);
    for (size_t j = 0; j < cLanes; ++j) Store(Dest + 16 * (i + j), x[j]);
  }
  for (; i < Count; ++i) Store(Dest + 16 * i, Decrypt(k, Load(Source + 16 * i)));
}

// The chain is the latency of one block encryption and nothing more. The next block's input is
// c xor t, with t = next plaintext xor round key 0 (xor the old feedback for cmCTS); since the
// last round ends with an XOR of its key, using the key (last round key xor t) yields that input
// directly, and the ciphertext c is recovered off the chain as the result xor t.
template <int Rounds>
void EncryptChainRounds(const TKeys& k, const uint8_t* Source, uint8_t* Dest, size_t Count, __m128i& f, bool Xor) {
  if (Count == 0) return;
  __m128i x = _mm_xor_si128(_mm_xor_si128(Load(Source), k.K[0]), f);
  for (size_t i = 0; i < Count; ++i) {
    // The last block reads its own input again instead of past the end; its t cancels out.
    const size_t next = i + 1 < Count ? i + 1 : i;
    __m128i t = _mm_xor_si128(Load(Source + 16 * next), k.K[0]);
    if (Xor) t = _mm_xor_si128(t, f);
    const __m128i lastKey = _mm_xor_si128(k.K[Rounds], t);
    for (int r = 1; r < Rounds; ++r) x = _mm_aesenc_si128(x, k.K[r]);
    x = _mm_aesenclast_si128(x, lastKey);
    const __m128i c = _mm_xor_si128(x, t);
    Store(Dest + 16 * i, c);
    f = Xor ? _mm_xor_si128(f, c) : c;
  }
}

void EncryptChain(const uint8_t* Enc, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count,
                  uint8_t* Feedback, bool Xor) {
  const TKeys k(Enc, Rounds);
  __m128i f = Load(Feedback);
  switch (Rounds) {
    case 10:
      EncryptChainRounds<10>(k, Source, Dest, Count, f, Xor);
      break;
    case 12:
      EncryptChainRounds<12>(k, Source, Dest, Count, f, Xor);
      break;
    default:
      EncryptChainRounds<14>(k, Source, Dest, Count, f, Xor);
      break;
  }
  Store(Feedback, f);
}

// Chains of separate buffers do not wait for one another: Lanes of them run side by side, one
// block of each per step, so that the pipelined AES instructions stay busy (four or more fill
// them). Lanes is fixed at compile time so that the blocks and feedbacks stay in registers.
template <size_t Lanes>
void EncryptChainLanes(const TKeys& k, uint8_t* const* b, size_t Blocks, __m128i v, bool Xor) {
  __m128i f[Lanes];
  for (size_t j = 0; j < Lanes; ++j) f[j] = v;
  for (size_t i = 0; i < Blocks; ++i) {
    __m128i x[Lanes];
    for (size_t j = 0; j < Lanes; ++j) x[j] = _mm_xor_si128(_mm_xor_si128(Load(b[j] + 16 * i), f[j]), k.K[0]);
    for (int r = 1; r < k.Rounds; ++r)
      for (size_t j = 0; j < Lanes; ++j) x[j] = _mm_aesenc_si128(x[j], k.K[r]);
    for (size_t j = 0; j < Lanes; ++j) {
      const __m128i c = _mm_aesenclast_si128(x[j], k.K[k.Rounds]);
      Store(b[j] + 16 * i, c);
      f[j] = Xor ? _mm_xor_si128(f[j], c) : c;
    }
  }
}

void EncryptChains(const uint8_t* Enc, int Rounds, uint8_t* const* Buffers, size_t Count, size_t Blocks,
                   const uint8_t* Vector, bool Xor) {
  const TKeys k(Enc, Rounds);
  const __m128i v = Load(Vector);
  // Groups of at most cLanes, as even as can be (17 buffers: 6, 6 and 5), so that no group is
  // left with too few chains to fill the pipeline.
  const size_t groups = (Count + cLanes - 1) / cLanes;
  for (size_t g = 0, first = 0; g < groups; ++g) {
    const size_t lanes = (Count - first) / (groups - g);
    uint8_t* const* b = Buffers + first;
    switch (lanes) {
      case 1: EncryptChainLanes<1>(k, b, Blocks, v, Xor); break;
      case 2: EncryptChainLanes<2>(k, b, Blocks, v, Xor); break;
      case 3: EncryptChainLanes<3>(k, b, Blocks, v, Xor); break;
      case 4: EncryptChainLanes<4>(k, b, Blocks, v, Xor); break;
      case 5: EncryptChainLanes<5>(k, b, Blocks, v, Xor); break;
      case 6: EncryptChainLanes<6>(k, b, Blocks, v, Xor); break;
      case 7: EncryptChainLanes<7>(k, b, Blocks, v, Xor); break;
      default: EncryptChainLanes<8>(k, b, Blocks, v, Xor); break;
    }
    first += lanes;
  }
}

void DecryptChain(const uint8_t* Dec, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count,
                  uint8_t* Feedback, bool Xor, const uint8_t* Upcoming) {
  const TKeys k(Dec, Rounds);
  __m128i f = Load(Feedback);
  size_t i = 0;
  for (; i + cLanes <= Count; i += cLanes) {
    PrefetchBytes(Upcoming, 16 * i, 16 * cLanes);
    __m128i c[cLanes], x[cLanes];
    for (size_t j = 0; j < cLanes; ++j) x[j] = c[j] = Load(Source + 16 * (i + j));
    DecryptLanes(k, x);
    for (size_t j = 0; j < cLanes; ++j) {
      Store(Dest + 16 * (i + j), _mm_xor_si128(x[j], f));
      f = Xor ? _mm_xor_si128(f, c[j]) : c[j];
    }
  }
  PrefetchBytes(Upcoming, 16 * i, 16 * (Count - i));
  for (; i < Count; ++i) {
    const __m128i c = Load(Source + 16 * i);
    Store(Dest + 16 * i, _mm_xor_si128(Decrypt(k, c), f));
    f = Xor ? _mm_xor_si128(f, c) : c;
  }
  Store(Feedback, f);
}

const TImplementation cAesNiImplementation = {EncryptBlocks, DecryptBlocks, EncryptChain, DecryptChain,
                                              EncryptChains};

}  // namespace

const TImplementation* HardwareImplementation() { return &cAesNiImplementation; }

}  // namespace crypto::rijndael
