// Fuzz target: the string-format decoders and the random sources' state texts and streams.
// The first byte chooses the reader, the rest is its input. Rejections must be the framework's
// own exceptions; accepted input must survive a round trip.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crypto/Random.h"
#include "crypto/StringFormat.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void FuzzFormat(int32_t format, const std::string& text) {
  std::string bytes;
  try {
    bytes = crypto::FormatToStr(text, format);
  } catch (const crypto::EStringFormat&) {
    return;
  }
  // Whatever was accepted re-encodes to text that decodes to the same bytes.
  const std::string again = crypto::StrToFormat(bytes, format);
  Check(crypto::FormatToStr(again, format) == bytes);
}

template <typename TSource>
void FuzzState(const std::string& text) {
  TSource source("", 128, false);
  try {
    source.SetState(text);
  } catch (const crypto::ERandom&) {
    return;
  }
  // An accepted state is carried over exactly by the state text.
  TSource copy("", 32, false);
  copy.SetState(source.GetState());
  std::string a(64, '\0'), b(64, '\0');
  source.Buffer(a.data(), 64);
  copy.Buffer(b.data(), 64);
  Check(a == b);
}

template <typename TSource>
void FuzzStream(const std::string& data) {
  platform::TMemoryStream stream;
  stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  stream.SetPosition(0);
  TSource source("", 128, false);
  try {
    source.LoadFromStream(stream);
  } catch (const crypto::ERandom&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 10) {
    case 0: FuzzFormat(crypto::fmtHEX, input); break;
    case 1: FuzzFormat(crypto::fmtHEXL, input); break;
    case 2: FuzzFormat(crypto::fmtMIME64, input); break;
    case 3: FuzzFormat(crypto::fmtUU, input); break;
    case 4: FuzzFormat(crypto::fmtXX, input); break;
    case 5: FuzzFormat(crypto::fmtCOPY, input); break;
    case 6: FuzzState<crypto::TRandom>(input); break;
    case 7: FuzzState<crypto::TRandom_LFSR>(input); break;
    case 8: FuzzStream<crypto::TRandom_LFSR>(input); break;
    case 9: FuzzStream<crypto::TRandom>(input); break;
  }
  return 0;
}
