#include "crypto/Protection.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "crypto/CryptUtil.h"

namespace crypto {

namespace {
constexpr int32_t cStreamChunk = 4096;

bool IsBlank(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](unsigned char c) { return c <= ' '; });
}
}  // namespace

TProtection::TProtection(std::shared_ptr<TProtection> AProtection) { SetProtection(std::move(AProtection)); }

TProtection::~TProtection() = default;

void TProtection::SetProtection(std::shared_ptr<TProtection> Value) {
  if (Value == FProtection) return;
  for (const TProtection* p = Value.get(); p != nullptr; p = p->FProtection.get())
    if (p == this) throw EProtection("Circular Protection detected, Protection Object is invalid.");
  FProtection = std::move(Value);
}

void TProtection::CodeInit(TPAction Action) {
  if (FProtection) FProtection->CodeInit(Action);
}

void TProtection::CodeDone(TPAction Action) {
  if (FProtection) FProtection->CodeDone(Action);
}

void TProtection::CodeBuf(void* Buffer, int32_t Size, TPAction Action) {
  if (FProtection) FProtection->CodeBuf(Buffer, Size, Action);
}

int32_t TProtection::CodeBuffer(void* Buffer, int32_t Size, TPAction Action) {
  CodeInit(Action);
  try {
    CodeBuf(Buffer, Size, Action);
  } catch (...) {
    CodeDone(Action);
    throw;
  }
  CodeDone(Action);
  return Size;
}

void TProtection::CodeStream(platform::TStream* Source, platform::TStream* Dest, int64_t Size, TPAction Action) {
  if (Source == nullptr) return;
  if (Dest == nullptr) Dest = Source;
  if (Size < 0) {
    Size = Source->GetSize();
    Source->SetPosition(0);
  }
  std::vector<uint8_t> chunk(cStreamChunk);
  CodeInit(Action);
  auto cleanUp = [&] {
    DoProgress(this, 0, 0);
    SecureFill(chunk.data(), chunk.size(), 0);
  };
  try {
    DoProgress(this, 0, Size);
    int64_t sourcePos = Source->Position();
    int64_t destPos = Action == paCalc ? 0 : Dest->Position();
    int64_t done = 0;
    while (done < Size) {
      const auto want = static_cast<int32_t>(std::min<int64_t>(cStreamChunk, Size - done));
      if (Action != paCalc) Source->SetPosition(sourcePos);
      const int32_t got = Source->Read(chunk.data(), want);
      if (got <= 0) break;
      CodeBuf(chunk.data(), got, Action);
      if (Action != paCalc) {
        Dest->SetPosition(destPos);
        Dest->WriteBuffer(chunk.data(), got);
        destPos += got;
      }
      sourcePos += got;
      done += got;
      DoProgress(this, done, Size);
    }
  } catch (...) {
    cleanUp();
    CodeDone(Action);
    throw;
  }
  cleanUp();
  CodeDone(Action);
}

void TProtection::CodeFile(const std::string& Source, const std::string& Dest, TPAction Action) {
  const bool separate = Action != paCalc && !IsBlank(Dest) && strcasecmp(Source.c_str(), Dest.c_str()) != 0;
  if (separate) {
    platform::TFileStream source(Source, platform::fmOpenRead | platform::fmShareDenyWrite);
    platform::TFileStream dest(Dest, platform::fmCreate);
    CodeStream(&source, &dest, -1, Action);
    dest.SetSize(dest.Position());
  } else {
    const uint16_t mode = Action == paCalc ? platform::fmOpenRead | platform::fmShareDenyWrite
                                           : platform::fmOpenReadWrite | platform::fmShareExclusive;
    platform::TFileStream source(Source, mode);
    CodeStream(&source, nullptr, -1, Action);
  }
}

std::string TProtection::CodeString(const std::string& Source, TPAction Action, int32_t Format) {
  if (Source.empty()) return {};
  std::string data = Action == paDecode ? FormatToStr(Source, Format) : Source;
  platform::TMemoryStream stream;
  stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  stream.SetPosition(0);
  CodeStream(&stream, &stream, static_cast<int64_t>(data.size()), Action);
  std::string result(reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.GetSize()));
  SecureFill(stream.Memory(), static_cast<size_t>(stream.GetSize()), 0);
  ProtectString(data);
  if (Action == paDecode) return result;
  std::string text = StrToFormat(result, Format);
  ProtectString(result);
  return text;
}

std::string GetShortClassName(const std::string& ClassName) {
  std::string name = ClassName;
  if (!name.empty() && (name[0] == 'T' || name[0] == 't')) name.erase(0, 1);
  const auto underscore = name.find('_');
  if (underscore != std::string::npos) name.erase(0, underscore + 1);
  return name;
}

}  // namespace crypto
