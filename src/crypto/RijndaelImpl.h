// Internal to the Rijndael cipher: the two block implementations behind TCipher_Rijndael.
//
// Round keys are 16-byte blocks in FIPS 197 byte order: Enc holds rounds + 1 encryption round
// keys, Dec the decryption round keys of the equivalent inverse cipher (Dec[0] = Enc[0],
// Dec[rounds] = Enc[rounds], the others with inverse MixColumns applied), used from Dec[rounds]
// down to Dec[0]. Source and Dest may be equal.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crypto::rijndael {

struct TImplementation {
  void (*EncryptBlocks)(const uint8_t* Enc, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count);
  void (*DecryptBlocks)(const uint8_t* Dec, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count);
  // Xor: F := F xor C (cmCTS), else F := C (cmCBC). Feedback is 16 bytes, updated. Decrypting
  // also fetches 16 bytes from Upcoming (may be null) into the cache per block, spread over the
  // work (see TCipher::DecodeBuffer).
  void (*EncryptChain)(const uint8_t* Enc, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count,
                       uint8_t* Feedback, bool Xor);
  void (*DecryptChain)(const uint8_t* Dec, int Rounds, const uint8_t* Source, uint8_t* Dest, size_t Count,
                       uint8_t* Feedback, bool Xor, const uint8_t* Upcoming);
  // Count chains of Blocks blocks each, every buffer in place and every chain starting from
  // Vector (16 bytes).
  void (*EncryptChains)(const uint8_t* Enc, int Rounds, uint8_t* const* Buffers, size_t Count, size_t Blocks,
                        const uint8_t* Vector, bool Xor);
};

extern const TImplementation cTableImplementation;
// Null when the build has no hardware implementation.
const TImplementation* HardwareImplementation();
// The processor offers the AES instructions and SSE4.1.
bool CpuHasAes();

// Inverse MixColumns of one 16-byte round key, in place (table implementation's helper, used by
// the key schedule).
void InvMixColumns(uint8_t* Block);

}  // namespace crypto::rijndael
