// Message digests: THash (the base), THash_MD4 (RFC 1320), THash_RipeMD256 (the default hash
// class, used by every cipher to make a key from a pass phrase), and TMAC, which keys a digest
// with a password.
//
// Use: Init, any number of Calc, Done; the digest is then readable at DigestKey until the next
// Init. A hash is a protection object: a chained cipher enciphers the finished digest, a chained
// TMAC keys it. Sizes <= 0 are ignored; nothing here throws.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "crypto/Protection.h"

namespace crypto {

class THash;

// A hash "class": its name, digest length and a factory. Compare by address.
struct THashClassInfo {
  const char* ClassName;
  int32_t DigestKeySize;
  std::shared_ptr<THash> (*New)(std::shared_ptr<TProtection> AProtection);
};
using THashClass = const THashClassInfo*;

class THash : public TProtection {
 public:
  explicit THash(std::shared_ptr<TProtection> AProtection = nullptr) : TProtection(std::move(AProtection)) {}
  ~THash() override;

  const char* ClassName() const override { return "THash"; }
  virtual THashClass Class() const { return nullptr; }

  // Known-answer digest of the class's self test, or empty.
  virtual std::string TestVector() const { return {}; }
  virtual void Init();
  virtual void Calc(const void* Data, int32_t Size);
  virtual void Done();
  // The digest bytes (DigestKeySize of them); writable so a chained protection can code them.
  virtual uint8_t* DigestKey() { return nullptr; }
  virtual int32_t DigestKeySize() const { return 0; }

  // The digest as text of a string format.
  std::string DigestString(int32_t Format = fmtHEXL);

  // Digest of Data with a fresh instance of AClass chained to Protection, as text of Format.
  static std::string CalcString(THashClass AClass, const std::string& Data,
                                std::shared_ptr<TProtection> Protection = nullptr, int32_t Format = fmtDEFAULT);

  void CodeInit(TPAction Action) override;
  void CodeDone(TPAction Action) override;
  void CodeBuf(void* Buffer, int32_t Size, TPAction Action) override;

 protected:
  // The protection step run at the end of Init (IsInit true) and of Done (IsInit false).
  void Protect(bool IsInit);
};

class THash_MD4 : public THash {
 public:
  explicit THash_MD4(std::shared_ptr<TProtection> AProtection = nullptr) : THash(std::move(AProtection)) {}
  ~THash_MD4() override;

  static const THashClassInfo ClassInfo;
  static THashClass StaticClass() { return &ClassInfo; }
  static std::string CalcString(const std::string& Data, std::shared_ptr<TProtection> Protection = nullptr,
                                int32_t Format = fmtDEFAULT) {
    return THash::CalcString(StaticClass(), Data, std::move(Protection), Format);
  }

  const char* ClassName() const override { return "THash_MD4"; }
  THashClass Class() const override { return &ClassInfo; }
  std::string TestVector() const override;
  void Init() override;
  void Calc(const void* Data, int32_t Size) override;
  void Done() override;
  uint8_t* DigestKey() override { return reinterpret_cast<uint8_t*>(FDigest.data()); }
  int32_t DigestKeySize() const override { return 16; }

 protected:
  // Compresses the 64-byte blocks at Block into FDigest.
  virtual void Transform(const uint8_t* Block, size_t Count);

  uint32_t FCount = 0;  // low 32 bits of the byte count
  uint32_t FCountHigh = 0;  // high bits, so inputs of 4 GiB and more hash correctly
  std::array<uint8_t, 64> FBuffer{};
  std::array<uint32_t, 10> FDigest{};
};

class THash_RipeMD256 : public THash_MD4 {
 public:
  explicit THash_RipeMD256(std::shared_ptr<TProtection> AProtection = nullptr) : THash_MD4(std::move(AProtection)) {}

  static const THashClassInfo ClassInfo;
  static THashClass StaticClass() { return &ClassInfo; }
  static std::string CalcString(const std::string& Data, std::shared_ptr<TProtection> Protection = nullptr,
                                int32_t Format = fmtDEFAULT) {
    return THash::CalcString(StaticClass(), Data, std::move(Protection), Format);
  }

  const char* ClassName() const override { return "THash_RipeMD256"; }
  THashClass Class() const override { return &ClassInfo; }
  std::string TestVector() const override;
  void Init() override;
  int32_t DigestKeySize() const override { return 32; }

 protected:
  void Transform(const uint8_t* Block, size_t Count) override;
};

// THash_RipeMD256.
THashClass DefaultHashClass();

// Keys a hash chained to it with FPassword (at Init) and codes the finished digest with its own
// chained protection (at Done).
class TMAC : public TProtection {
 public:
  explicit TMAC(const std::string& Password = {}, std::shared_ptr<TProtection> AProtection = nullptr)
      : TProtection(std::move(AProtection)), FPassword(Password) {}
  ~TMAC() override;

  const char* ClassName() const override { return "TMAC"; }
  virtual void Init(THash& Hash);
  virtual void Done(THash& Hash);

  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value);

 protected:
  std::string FPassword;
};

}  // namespace crypto
