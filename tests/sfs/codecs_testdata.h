// Deterministic inputs for the codec tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

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
      "the",     "container", "stores",   "pages",  "of",      "compressed", "blocks", "and",
      "a",       "directory", "with",     "files",  "whose",   "names",      "are",    "kept",
      "sorted",  "password",  "header",   "key",    "random",  "model",      "order",  "context",
      "symbol",  "escape",    "frequency", "range", "coder",   "memory",     "units",  "restart"};
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n + 16);
  while (s.size() < n) {
    s += kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))];
    uint32_t r = rng() % 20;
    s += r == 0 ? ".\n" : r == 1 ? ", " : r == 2 ? std::string(" ") + std::to_string(rng() % 1000) + " " : " ";
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
      case 0: v.insert(v.end(), text.begin() + v.size(), text.begin() + v.size() + part); break;
      case 1: v.insert(v.end(), part, 0); break;
      default: v.insert(v.end(), noise.begin() + v.size(), noise.begin() + v.size() + part / 4); break;
    }
  }
  v.resize(n);
  return v;
}

}  // namespace sfs::testing
