// The password header: a random 32-byte data key kept enciphered with the password, with check
// values and an optional control question whose answer recovers the password.
//
// Layout (172 bytes, little-endian, packed):
//    0  32  Key       the data key, enciphered with the password
//   32  32  Pass      the password, zero-padded, enciphered with the answer (zero without question)
//   64   4  KeyCRC    CountCRC(crcFull) of the plain data key
//   68   4  PassCRC   CountCRC(crcFull) of the plain padded password (0 without question)
//   72 100  Question  the question, zero-padded, enciphered with QUESTION_MASK (zero when absent)
// Every enciphering uses a fresh Rijndael cipher made from the pass phrase (AES-256 keyed with
// RIPEMD-256 of the text, default mode and vector), in place and length-keeping.
//
// Any 172 bytes are a header that CheckPassword can be asked about safely.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sfs {

static_assert(std::endian::native == std::endian::little);

inline constexpr int32_t MAX_PASSWORD_LENGTH = 32;
inline constexpr int32_t MAX_QUESTION_LENGTH = 100;
// Pass phrase of the question field.
inline constexpr char QUESTION_MASK[] = "kR3:P.>!%W&*917hz";
inline constexpr int32_t cDataKeySize = 32;

#pragma pack(push, 1)
struct TPasswordHeader {
  uint8_t Key[32];
  uint8_t Pass[32];
  uint32_t KeyCRC;
  uint32_t PassCRC;
  uint8_t Question[100];
};
#pragma pack(pop)
static_assert(sizeof(TPasswordHeader) == 172);
static_assert(offsetof(TPasswordHeader, Key) == 0);
static_assert(offsetof(TPasswordHeader, Pass) == 32);
static_assert(offsetof(TPasswordHeader, KeyCRC) == 64);
static_assert(offsetof(TPasswordHeader, PassCRC) == 68);
static_assert(offsetof(TPasswordHeader, Question) == 72);

// Fills `size` bytes with output of an LFSR random source seeded from a 100-character text of
// the process's pseudo-random generator and re-seeded from the clock.
void GenerateRandomBuffer(void* buffer, int32_t size);

// A new header with a fresh data key for Password. The question and the recoverable password
// are stored only when both Question and Answer are non-empty. Raises platform::Exception
// "Password length should be shorter then 32" or "Question length should be shorter then 100"
// before anything is written to PasswordHeader.
void CreatePasswordHeader(TPasswordHeader& PasswordHeader, const std::string& Password, const std::string& Question,
                          const std::string& Answer);

// True when Password opens the header. key then holds the 32-byte data key followed by a zero
// byte (33 bytes); on a false result after deciphering it holds the 33 bytes that came out. An
// empty password is false at once and leaves key empty. A 16-bit check lets about one wrong
// password in 65,536 pass.
bool CheckPassword(const TPasswordHeader& PasswordHeader, const std::string& Password, std::string& key);

// Overwrites key material with $AA, then $55, then finalValue, in writes the compiler keeps.
void WipeKeyMaterial(void* buffer, size_t size, uint8_t finalValue = 0);

}  // namespace sfs
