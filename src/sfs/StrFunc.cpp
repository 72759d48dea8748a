#include "sfs/StrFunc.h"

#include <array>

namespace sfs {

namespace {

constexpr std::array<uint8_t, 256> MakeUpperTable() {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[static_cast<size_t>(c)] = static_cast<uint8_t>(c);
  for (int c = 'a'; c <= 'z'; ++c) t[static_cast<size_t>(c)] = static_cast<uint8_t>(c - 32);
  // Latin-1 letters: U+00E0..U+00FE map to U+00C0..U+00DE, except the division sign U+00F7.
  for (int c = 0xE0; c <= 0xFE; ++c)
    if (c != 0xF7) t[static_cast<size_t>(c)] = static_cast<uint8_t>(c - 32);
  // Letters of the 0x80..0x9F block: s/z caron, oe ligature, y diaeresis.
  t[0x9A] = 0x8A;
  t[0x9C] = 0x8C;
  t[0x9E] = 0x8E;
  t[0xFF] = 0x9F;
  return t;
}

constexpr std::array<uint8_t, 256> cUpper = MakeUpperTable();

}  // namespace

uint8_t AnsiUpperChar(uint8_t c) { return cUpper[c]; }

int AnsiCompTextNoCase(std::string_view A, std::string_view B) {
  const size_t n = A.size() < B.size() ? A.size() : B.size();
  for (size_t i = 0; i < n; ++i) {
    const int a = cUpper[static_cast<uint8_t>(A[i])];
    const int b = cUpper[static_cast<uint8_t>(B[i])];
    if (a != b) return a - b;
  }
  if (A.size() == B.size()) return 0;
  return A.size() < B.size() ? -1 : 1;
}

}  // namespace sfs
