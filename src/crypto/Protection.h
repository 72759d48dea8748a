// TProtection: the reference-counted, chainable base of ciphers, hashes, MACs and random sources.
//
// A protection object may chain another one (SetProtection); coding a buffer, stream, file or
// string through an object also passes it through the chained object, in an order each class
// decides in its CodeInit/CodeDone/CodeBuf hooks. Ownership is shared: the chain holds a
// std::shared_ptr to the chained object, so it lives as long as anything chains it. Objects may
// also live on the stack or in a member when nothing needs to chain them. Chains are acyclic
// (SetProtection refuses a cycle). One object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "crypto/StringFormat.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

namespace crypto {

enum TPAction : uint8_t { paEncode = 0, paDecode = 1, paScramble = 2, paCalc = 3, paWipe = 4 };

// Set of TPAction, one bit per ordinal.
using TPActions = uint8_t;
constexpr TPActions PAction(TPAction Action) { return static_cast<TPActions>(1u << Action); }
inline constexpr TPActions paAll = 0x1F;

class EProtection : public platform::Exception {
 public:
  using Exception::Exception;
};

class TProtection : public std::enable_shared_from_this<TProtection> {
 public:
  explicit TProtection(std::shared_ptr<TProtection> AProtection = nullptr);
  virtual ~TProtection();
  TProtection(const TProtection&) = delete;
  TProtection& operator=(const TProtection&) = delete;

  // Class name as the framework reports it ("TCipher_Rijndael", "THash_MD4", ...).
  virtual const char* ClassName() const { return "TProtection"; }

  // Chain hooks; the base versions only forward to the chained object.
  virtual void CodeInit(TPAction Action);
  virtual void CodeDone(TPAction Action);
  virtual void CodeBuf(void* Buffer, int32_t Size, TPAction Action);

  // Codes Size bytes of Source into Dest in chunks of 4096 bytes (Dest null: Source in place;
  // Size < 0: all of Source from its start). paCalc writes nothing.
  virtual void CodeStream(platform::TStream* Source, platform::TStream* Dest, int64_t Size, TPAction Action);
  // Codes a file into another file, or in place when Dest is blank or names Source (without
  // regard to case) or Action is paCalc.
  virtual void CodeFile(const std::string& Source, const std::string& Dest, TPAction Action);
  // paDecode: Source is text of Format, the result raw bytes; otherwise the reverse.
  virtual std::string CodeString(const std::string& Source, TPAction Action, int32_t Format);
  // CodeInit, CodeBuf, CodeDone (CodeDone also when CodeBuf throws). Returns Size.
  virtual int32_t CodeBuffer(void* Buffer, int32_t Size, TPAction Action);

  // Chained object; EProtection "Circular Protection detected, Protection Object is invalid."
  // when Value leads back to this object.
  void SetProtection(std::shared_ptr<TProtection> Value);
  const std::shared_ptr<TProtection>& GetProtection() const { return FProtection; }
  std::shared_ptr<TProtection> Protection() const { return FProtection; }

  TPActions Actions() const { return FActions; }
  void SetActions(TPActions Value) { FActions = Value; }
  bool HasAction(TPAction Action) const { return (FActions & PAction(Action)) != 0; }

 protected:
  std::shared_ptr<TProtection> FProtection;
  TPActions FActions = paAll;
};

// "TCipher_Rijndael" -> "Rijndael", "TRandom" -> "Random": without a leading T and everything up
// to and including the first "_".
std::string GetShortClassName(const std::string& ClassName);

}  // namespace crypto
