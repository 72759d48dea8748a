#include "crypto/Cipher.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "crypto/CryptUtil.h"
#include "crypto/Rijndael.h"

namespace crypto {

namespace {

// Blocks decoded per step of the generic chained decoder.
constexpr size_t cDecodeGroup = 64;

struct TCipherRegistry {
  std::vector<TCipherListEntry> Entries;
};

TCipherRegistry& CipherRegistry() {
  static TCipherRegistry registry = [] {
    TCipherRegistry r;
    r.Entries.push_back({"Rijndael", "", TCipher_Rijndael::StaticClass()});
    return r;
  }();
  return registry;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

}  // namespace

void RaiseCipherException(int32_t ErrorCode, const std::string& Msg) { throw ECipherException(ErrorCode, Msg); }

TCipher::TCipher(TCipherClass AClass, std::shared_ptr<TProtection> AProtection)
    : TProtection(std::move(AProtection)),
      FHashClass(DefaultHashClass()),
      FKeySize(AClass->KeySize),
      FBufSize(AClass->BufSize),
      FUserSize(AClass->UserSize),
      FBuffer(static_cast<size_t>(AClass->BufSize)),
      FVector(static_cast<size_t>(AClass->BufSize)),
      FFeedback(static_cast<size_t>(AClass->BufSize)),
      FUser(static_cast<size_t>(AClass->UserSize)) {
  TCipher::Protect();
}

TCipher::~TCipher() { TCipher::Protect(); }

void TCipher::Protect() {
  FFlags &= ~((1u << cfHasHashKey) | (1u << cfInitialized));
  ProtectBuffer(FVector.data(), FVector.size(), 0xFF);
  ProtectBuffer(FFeedback.data(), FFeedback.size(), 0xFF);
  ProtectBuffer(FBuffer.data(), FBuffer.size(), 0x00);
  ProtectBuffer(FUser.data(), FUser.size(), 0x00);
}

void TCipher::SetFlag(int32_t Index, bool Value) {
  if (Index < 0 || Index > 31) return;
  if (Value)
    FFlags |= 1u << Index;
  else
    FFlags &= ~(1u << Index);
}

void TCipher::SetHashClass(THashClass Value) {
  if (Value == nullptr) Value = DefaultHashClass();
  if (Value == FHashClass) return;
  FHash.reset();
  FHashClass = Value;
}

THash& TCipher::GetHash() {
  if (!FHash) FHash = FHashClass->New(nullptr);
  return *FHash;
}

void TCipher::InitKey(const std::string& Key, const void* IVector) {
  THash& h = GetHash();
  h.Init();
  h.Calc(Key.data(), static_cast<int32_t>(Key.size()));
  h.Done();
  const int32_t n = std::min(h.DigestKeySize(), FKeySize);
  Init(h.DigestKey(), n, IVector);
  // The hash object must not keep the raw key.
  EncodeBuffer(h.DigestKey(), h.DigestKey(), h.DigestKeySize());
  Done();
  SetFlag(cfHasHashKey, true);
}

void TCipher::InitBegin(int32_t& Size) {
  SetFlag(cfInitialized, false);
  Protect();
  Size = std::clamp(Size, 0, FKeySize);
}

void TCipher::InitEnd(const void* IVector) {
  if (IVector != nullptr)
    std::memcpy(FVector.data(), IVector, FVector.size());
  else
    Encode(FVector.data());
  FFeedback = FVector;
  SetFlag(cfInitialized, true);
}

void TCipher::Done() {
  if (FFeedback != FVector) {
    FBuffer = FFeedback;
    FFeedback = FVector;
  }
}

void TCipher::CheckInitialized() const {
  if (!Initialized())
    RaiseCipherException(errNotInitialized,
                         std::string(ClassName()) + " is not initialized call Init() or InitKey() before.");
}

void TCipher::EncodeBuffer(const void* Source, void* Dest, int32_t Size) {
  CheckInitialized();
  if (Size <= 0) return;
  const auto* s = static_cast<const uint8_t*>(Source);
  auto* d = static_cast<uint8_t*>(Dest);
  if (FMode == cmCFB || FMode == cmOFB || FMode == cmCFBMAC)
    CodeByteMode(s, d, Size, true);
  else
    CodeBlockMode(s, d, Size, true, nullptr);
}

void TCipher::EncodeBuffers(uint8_t* const* Buffers, int32_t Count, int32_t Size) {
  CheckInitialized();
  if (Count <= 0 || Size <= 0) return;
  if ((FMode == cmCTS || FMode == cmCBC) && Size % FBufSize == 0) {
    Done();
    EncodeChains(Buffers, static_cast<size_t>(Count), static_cast<size_t>(Size / FBufSize), FMode == cmCTS);
  } else {
    for (int32_t i = 0; i < Count; ++i) {
      Done();
      EncodeBuffer(Buffers[i], Buffers[i], Size);
    }
  }
  Done();
}

void TCipher::DecodeBuffer(const void* Source, void* Dest, int32_t Size, const void* Upcoming) {
  CheckInitialized();
  if (Size <= 0) return;
  const auto* s = static_cast<const uint8_t*>(Source);
  auto* d = static_cast<uint8_t*>(Dest);
  if (FMode == cmCFB || FMode == cmOFB || FMode == cmCFBMAC)
    CodeByteMode(s, d, Size, false);
  else
    CodeBlockMode(s, d, Size, false, static_cast<const uint8_t*>(Upcoming));
}

void TCipher::CodeBlockMode(const uint8_t* Source, uint8_t* Dest, int32_t Size, bool Encoding,
                            const uint8_t* Upcoming) {
  const auto B = static_cast<size_t>(FBufSize);
  const size_t blocks = static_cast<size_t>(Size) / B;
  const auto tail = static_cast<int32_t>(static_cast<size_t>(Size) % B);
  uint8_t* F = FFeedback.data();
  switch (FMode) {
    case cmCTS:
    case cmCBC:
      if (blocks > 0) {
        if (Encoding)
          EncodeChain(Source, Dest, blocks, FMode == cmCTS);
        else
          DecodeChain(Source, Dest, blocks, FMode == cmCTS, Upcoming);
      }
      if (tail > 0) CodeTail(Source + blocks * B, Dest + blocks * B, tail);
      break;
    case cmECB:
      if (blocks > 0) {
        if (Encoding)
          EncodeBlocks(Source, Dest, blocks);
        else
          DecodeBlocks(Source, Dest, blocks);
      }
      if (tail > 0) {
        // The tail goes to the front of the work block, which is encrypted in both directions.
        std::memcpy(FBuffer.data(), Source + blocks * B, static_cast<size_t>(tail));
        Encode(FBuffer.data());
        std::memcpy(Dest + blocks * B, FBuffer.data(), static_cast<size_t>(tail));
      }
      break;
    case cmCTSMAC:
    case cmCBCMAC:
      for (size_t i = 0; i < blocks; ++i) {
        XORBuffers(Source + i * B, F, FBufSize, FBuffer.data());
        Encode(FBuffer.data());
        if (FMode == cmCTSMAC)
          XORBuffers(F, FBuffer.data(), FBufSize, F);
        else
          std::memcpy(F, FBuffer.data(), B);
      }
      if (tail > 0) {
        // Only the key block enters the result; the tail's bytes do not.
        std::memcpy(FBuffer.data(), F, B);
        Encode(FBuffer.data());
        XORBuffers(F, FBuffer.data(), FBufSize, F);
      }
      break;
    default:
      break;
  }
}

void TCipher::CodeTail(const uint8_t* Source, uint8_t* Dest, int32_t Size) {
  uint8_t* F = FFeedback.data();
  std::memcpy(FBuffer.data(), F, FFeedback.size());
  Encode(FBuffer.data());
  XORBuffers(Source, FBuffer.data(), Size, Dest);
  XORBuffers(F, FBuffer.data(), FBufSize, F);
}

void TCipher::CodeByteMode(const uint8_t* Source, uint8_t* Dest, int32_t Size, bool Encoding) {
  const auto B = static_cast<size_t>(FBufSize);
  uint8_t* F = FFeedback.data();
  uint8_t* K = FBuffer.data();
  for (int32_t i = 0; i < Size; ++i) {
    std::memcpy(K, F, B);
    Encode(K);
    const uint8_t in = Source[i];
    const auto out = static_cast<uint8_t>(in ^ K[0]);
    std::memmove(F, F + 1, B - 1);
    switch (FMode) {
      case cmCFB:
        F[B - 1] = Encoding ? out : in;
        Dest[i] = out;
        break;
      case cmOFB:
        F[B - 1] = K[0];
        Dest[i] = out;
        break;
      default:  // cmCFBMAC: no output
        F[B - 1] = out;
        break;
    }
  }
}

void TCipher::EncodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Count) {
  const auto B = static_cast<size_t>(FBufSize);
  for (size_t i = 0; i < Count; ++i) {
    if (Dest != Source) std::memcpy(Dest + i * B, Source + i * B, B);
    Encode(Dest + i * B);
  }
}

void TCipher::DecodeBlocks(const uint8_t* Source, uint8_t* Dest, size_t Count) {
  const auto B = static_cast<size_t>(FBufSize);
  for (size_t i = 0; i < Count; ++i) {
    if (Dest != Source) std::memcpy(Dest + i * B, Source + i * B, B);
    Decode(Dest + i * B);
  }
}

void TCipher::EncodeChain(const uint8_t* Source, uint8_t* Dest, size_t Count, bool Xor) {
  const auto B = static_cast<size_t>(FBufSize);
  uint8_t* F = FFeedback.data();
  for (size_t i = 0; i < Count; ++i) {
    uint8_t* c = Dest + i * B;
    XORBuffers(Source + i * B, F, FBufSize, c);
    Encode(c);
    if (Xor)
      XORBuffers(F, c, FBufSize, F);
    else
      std::memcpy(F, c, B);
  }
}

void TCipher::EncodeChains(uint8_t* const* Buffers, size_t Count, size_t Blocks, bool Xor) {
  for (size_t i = 0; i < Count; ++i) {
    FFeedback = FVector;
    EncodeChain(Buffers[i], Buffers[i], Blocks, Xor);
  }
}

void TCipher::DecodeChain(const uint8_t* Source, uint8_t* Dest, size_t Count, bool Xor, const uint8_t* Upcoming) {
  const auto B = static_cast<size_t>(FBufSize);
  uint8_t* F = FFeedback.data();
  std::vector<uint8_t> cipher(std::min(Count, cDecodeGroup) * B);
  for (size_t done = 0; done < Count;) {
    const size_t n = std::min(Count - done, cDecodeGroup);
    PrefetchBytes(Upcoming, done * B, n * B);
    // Keep the cipher blocks: Dest may be Source.
    std::memcpy(cipher.data(), Source + done * B, n * B);
    DecodeBlocks(cipher.data(), Dest + done * B, n);
    for (size_t i = 0; i < n; ++i) {
      uint8_t* p = Dest + (done + i) * B;
      const uint8_t* c = cipher.data() + i * B;
      XORBuffers(p, F, FBufSize, p);
      if (Xor)
        XORBuffers(F, c, FBufSize, F);
      else
        std::memcpy(F, c, B);
    }
    done += n;
  }
  SecureFill(cipher.data(), cipher.size(), 0);
}

void TCipher::CodeInit(TPAction Action) {
  CheckInitialized();
  if (Action == paWipe)
    RndXORBuffer(RndTimeSeed(), FFeedback.data(), FBufSize);
  else if (Action != paCalc)
    Done();
  TProtection::CodeInit(Action);
}

void TCipher::CodeDone(TPAction Action) {
  TProtection::CodeDone(Action);
  CheckInitialized();
  if (Action == paWipe)
    RndXORBuffer(RndTimeSeed(), FFeedback.data(), FBufSize);
  else if (Action != paCalc)
    Done();
}

void TCipher::CodeBuf(void* Buffer, int32_t Size, TPAction Action) {
  if (Action == paDecode) {
    if (HasAction(paDecode)) DecodeBuffer(Buffer, Buffer, Size);
    TProtection::CodeBuf(Buffer, Size, Action);
  } else {
    TProtection::CodeBuf(Buffer, Size, Action);
    if (HasAction(Action)) EncodeBuffer(Buffer, Buffer, Size);
  }
}

bool RegisterCipher(TCipherClass ACipher, const std::string& AName, const std::string& ADescription) {
  if (ACipher == nullptr) return false;
  std::string name = Trim(AName);
  if (name.empty()) name = GetShortClassName(ACipher->ClassName);
  auto& entries = CipherRegistry().Entries;
  const auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.Class == ACipher; });
  if (it != entries.end())
    *it = {name, ADescription, ACipher};
  else
    entries.push_back({name, ADescription, ACipher});
  return true;
}

std::vector<TCipherListEntry> CipherList() { return CipherRegistry().Entries; }

TCipherClass CipherByName(const std::string& Name) {
  for (const auto& e : CipherRegistry().Entries)
    if (strcasecmp(e.Name.c_str(), Name.c_str()) == 0) return e.Class;
  return nullptr;
}

}  // namespace crypto
