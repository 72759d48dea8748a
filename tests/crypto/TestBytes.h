// Reproducible pseudo-random test data for the crypto tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace crypto::testdata {

// n bytes from a Mersenne twister seeded with `seed`: the same bytes on every run.
inline std::string Bytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

}  // namespace crypto::testdata
