// Deterministic inputs for the codec tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sfs/Compression.h"

namespace sfs::testing {

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// English-like text: words from a small vocabulary with punctuation and line breaks, so that
// contexts of every order have something to learn.
inline std::vector<uint8_t> TextBytes(size_t n, uint32_t seed = 7) {
  static const char* const kWords[] = {
      "the",    "container", "stores",    "pages", "of",     "compressed", "blocks", "and",
      "a",      "directory", "with",      "files", "whose",  "names",      "are",    "kept",
      "sorted", "password",  "header",    "key",   "random", "model",      "order",  "context",
      "symbol", "escape",    "frequency", "range", "coder",  "memory",     "units",  "restart"};
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n + 16);
  while (s.size() < n) {
    s += kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))];
    uint32_t r = rng() % 20;
    s += r == 0   ? ".\n"
         : r == 1 ? ", "
         : r == 2 ? std::string(" ") + std::to_string(rng() % 1000) + " "
                  : " ";
  }
  s.resize(n);
  return std::vector<uint8_t>(s.begin(), s.end());
}

inline std::vector<uint8_t> RepeatedBytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>("abcabcabd"[i % 9]);
  return v;
}

// Text, runs of zeros and noise in turn: every model path at once.
inline std::vector<uint8_t> MixedBytes(size_t n) {
  std::vector<uint8_t> v;
  v.reserve(n);
  auto text = TextBytes(n, 3);
  auto noise = RandomBytes(n, 5);
  size_t i = 0;
  while (v.size() < n) {
    size_t part = std::min<size_t>(n - v.size(), 40000);
    switch (i++ % 3) {
      case 0:
        v.insert(v.end(), text.begin() + v.size(), text.begin() + v.size() + part);
        break;
      case 1:
        v.insert(v.end(), part, 0);
        break;
      default:
        v.insert(v.end(), noise.begin() + v.size(), noise.begin() + v.size() + part / 4);
        break;
    }
  }
  v.resize(n);
  return v;
}

// One PPM block of `in` at the given order and model memory; empty when the coder fails.
inline std::vector<uint8_t> PPMPack(const std::vector<uint8_t>& in, int order, int memoryMB) {
  std::vector<uint8_t> out(in.size() + in.size() / 20 + 50);
  const int32_t n = PPMCompressBuffer(in.data(), int32_t(in.size()), out.data(),
                                      int32_t(out.size()), order, memoryMB);
  out.resize(size_t(std::max(n, 0)));
  return out;
}

// The decoded block, at most `capacity` bytes; empty when the decoder refuses it.
inline std::vector<uint8_t> PPMUnpack(const std::vector<uint8_t>& in, size_t capacity) {
  std::vector<uint8_t> out(capacity);
  const int32_t n =
      PPMDecompressBuffer(in.data(), int32_t(in.size()), out.data(), int32_t(out.size()));
  out.resize(size_t(std::max(n, 0)));
  return out;
}

}  // namespace sfs::testing
