// TCipher: the base of block ciphers, with eight modes of operation written once for any block
// size, key set-up from a pass phrase (through a hash, RIPEMD-256 by default) or raw bytes, and
// the wiping of key material (Protect).
//
// Use: construct with a pass phrase (or call InitKey / Init), then EncodeBuffer / DecodeBuffer any
// number of times; the chaining state carries over between calls until Done. Without a key the
// coding calls throw ECipherException (errNotInitialized). Source and Dest may be the same memory.
// In the MAC modes Dest is not written and the result is Feedback().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/Hash.h"
#include "crypto/Protection.h"

namespace crypto {

enum TCipherMode : uint8_t {
  cmCTS = 0,
  cmCBC = 1,
  cmCFB = 2,
  cmOFB = 3,
  cmECB = 4,
  cmCTSMAC = 5,
  cmCBCMAC = 6,
  cmCFBMAC = 7,
};

// Error codes of ECipherException.
inline constexpr int32_t errGeneric = 0;
inline constexpr int32_t errInvalidKey = 1;
inline constexpr int32_t errInvalidKeySize = 2;
inline constexpr int32_t errNotInitialized = 3;
inline constexpr int32_t errInvalidMACMode = 4;
inline constexpr int32_t errCantCalc = 5;

class ECipherException : public platform::Exception {
 public:
  ECipherException(int32_t ErrorCode, const std::string& Message) : Exception(Message), FErrorCode(ErrorCode) {}
  int32_t ErrorCode() const { return FErrorCode; }

 private:
  int32_t FErrorCode;
};

[[noreturn]] void RaiseCipherException(int32_t ErrorCode, const std::string& Msg);

// Flag indices of GetFlag/SetFlag.
inline constexpr int32_t cfHasHashKey = 0;
inline constexpr int32_t cfInitialized = 1;

class TCipher;

// A cipher "class": name, context sizes and a factory (the object made has no key yet).
struct TCipherClassInfo {
  const char* ClassName;
  int32_t BufSize;
  int32_t KeySize;
  int32_t UserSize;
  std::shared_ptr<TCipher> (*New)(std::shared_ptr<TProtection> AProtection);
};
using TCipherClass = const TCipherClassInfo*;

class TCipher : public TProtection {
 public:
  ~TCipher() override;

  const char* ClassName() const override { return "TCipher"; }
  virtual TCipherClass Class() const = 0;
  // 32-byte known-answer vector of the class's self test (for Rijndael: a plaintext block and its
  // ciphertext under the key 00 01 .. 1F).
  virtual std::string TestVector() const = 0;

  // Key from a pass phrase: AES-256 from RIPEMD-256 of all bytes of Key with the default hash.
  // IVector: BufSize bytes, or null for the default vector (the encryption of a block of $FF).
  void InitKey(const std::string& Key, const void* IVector);
  // Key from Size raw bytes (cut to KeySize; Size < 0 counts as 0).
  virtual void Init(const void* Key, int32_t Size, const void* IVector) = 0;
  // Restarts the chain at the vector.
  virtual void Done();
  // Wipes key schedule, vector, chaining state and work block; the cipher is uninitialised.
  virtual void Protect();

  void EncodeBuffer(const void* Source, void* Dest, int32_t Size);
  // Upcoming, when not null, names Size bytes the caller will read next (the next buffer to
  // decode, say): cmCTS and cmCBC fetch them into the cache while they decode, spread over the
  // work, so that fetching and deciphering overlap. A hint only: it is never read as data and may
  // point at memory that cannot be read. The other modes ignore it.
  void DecodeBuffer(const void* Source, void* Dest, int32_t Size, const void* Upcoming = nullptr);
  // Count buffers of Size bytes each, every one encoded in place as Done() followed by
  // EncodeBuffer would; the chain ends restarted at the vector. In cmCTS and cmCBC with whole
  // blocks, a cipher that can runs the buffers' chains side by side.
  void EncodeBuffers(uint8_t* const* Buffers, int32_t Count, int32_t Size);

  // One block in place.
  virtual void Encode(void* Block) = 0;
  virtual void Decode(void* Block) = 0;

  void CodeInit(TPAction Action) override;
  void CodeDone(TPAction Action) override;
  void CodeBuf(void* Buffer, int32_t Size, TPAction Action) override;

  bool GetFlag(int32_t Index) const { return (FFlags >> Index) & 1u; }
  virtual void SetFlag(int32_t Index, bool Value);
  bool HasHashKey() const { return GetFlag(cfHasHashKey); }
  bool Initialized() const { return GetFlag(cfInitialized); }

  TCipherMode Mode() const { return FMode; }
  void SetMode(TCipherMode Value) { FMode = Value; }
  THashClass HashClass() const { return FHashClass; }
  // Sets the key-derivation hash class (null: the default); drops the current hash object.
  void SetHashClass(THashClass Value);
  // The key-derivation hash, created on first use.
  THash& GetHash();

  int32_t BufSize() const { return FBufSize; }
  int32_t KeySize() const { return FKeySize; }
  int32_t UserSize() const { return FUserSize; }
  // Initial vector and chaining state (BufSize bytes each); after a MAC mode the result.
  const uint8_t* Vector() const { return FVector.data(); }
  const uint8_t* Feedback() const { return FFeedback.data(); }

 protected:
  // Sizes come from the class info of the concrete cipher. Derived constructors finish with
  // `if (!Password.empty()) InitKey(Password, nullptr);`.
  TCipher(TCipherClass AClass, std::shared_ptr<TProtection> AProtection);

  // First step of every Init: clears Initialized, Protect, clamps Size to 0..KeySize.
  void InitBegin(int32_t& Size);
  // Last step of every Init: vector from IVector or the encryption of the $FF block; feedback
  // := vector; sets Initialized.
  virtual void InitEnd(const void* IVector);

  // Bulk block hooks; the defaults loop over Encode/Decode. Count whole blocks from Source to
  // Dest (which may be equal).
  virtual void EncodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Count);
  virtual void DecodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Count);
  // Chained encoding of Count whole blocks for cmCTS (Xor true: F := F xor C) or cmCBC (F := C).
  // The default loops over Encode.
  virtual void EncodeChain(const uint8_t* Source, uint8_t* Dest, size_t Count, bool Xor);
  // Count such chains of Blocks blocks, each buffer in place from the vector; the feedback is
  // left unspecified. The default runs EncodeChain on one after the other.
  virtual void EncodeChains(uint8_t* const* Buffers, size_t Count, size_t Blocks, bool Xor);
  // Chained decoding of Count whole blocks for cmCTS / cmCBC, fetching as many bytes from
  // Upcoming (may be null) as it decodes (see DecodeBuffer); the default decodes through
  // DecodeBlocks and applies the chain afterwards.
  virtual void DecodeChain(const uint8_t* Source, uint8_t* Dest, size_t Count, bool Xor, const uint8_t* Upcoming);

  uint8_t* User() { return FUser.data(); }
  const uint8_t* User() const { return FUser.data(); }

  TCipherMode FMode = cmCTS;
  std::shared_ptr<THash> FHash;
  THashClass FHashClass = nullptr;
  int32_t FKeySize = 0;
  int32_t FBufSize = 0;
  int32_t FUserSize = 0;
  std::vector<uint8_t> FBuffer;
  std::vector<uint8_t> FVector;
  std::vector<uint8_t> FFeedback;
  std::vector<uint8_t> FUser;
  uint32_t FFlags = 0;

 private:
  void CheckInitialized() const;
  void CodeBlockMode(const uint8_t* Source, uint8_t* Dest, int32_t Size, bool Encoding, const uint8_t* Upcoming);
  void CodeByteMode(const uint8_t* Source, uint8_t* Dest, int32_t Size, bool Encoding);
  void CodeTail(const uint8_t* Source, uint8_t* Dest, int32_t Size);
};

// The cipher registry: entries "Name=Description", each with its class.
struct TCipherListEntry {
  std::string Name;
  std::string Description;
  TCipherClass Class;
  std::string Text() const { return Name + "=" + Description; }
};
// Adds or replaces the entry of ACipher. Name: AName trimmed, or the short class name when blank.
// False when ACipher is null.
bool RegisterCipher(TCipherClass ACipher, const std::string& AName, const std::string& ADescription);
// The registered ciphers in order of registration (Rijndael is registered at start-up).
std::vector<TCipherListEntry> CipherList();
// The class registered under Name (without regard to case), or null.
TCipherClass CipherByName(const std::string& Name);

}  // namespace crypto
