// The shared PPM model under concurrent use (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sfs/Compression.h"
#include "sfs/codecs_testdata.h"

namespace sfs {
namespace {

std::vector<uint8_t> PPMPack(const std::vector<uint8_t>& in, int order, int memoryMB) {
  std::vector<uint8_t> out(in.size() + in.size() / 20 + 50);
  int32_t n = PPMCompressBuffer(in.data(), int32_t(in.size()), out.data(), int32_t(out.size()), order, memoryMB);
  out.resize(size_t(std::max(n, 0)));
  return out;
}

std::vector<uint8_t> PPMUnpack(const std::vector<uint8_t>& in, size_t capacity) {
  std::vector<uint8_t> out(capacity);
  int32_t n = PPMDecompressBuffer(in.data(), int32_t(in.size()), out.data(), int32_t(out.size()));
  out.resize(size_t(std::max(n, 0)));
  return out;
}

// Two threads coding with different model sizes at once: the shared model is taken in turn.
TEST(CodecsConcurrency, PPMBlocksFromTwoThreadsAreSerialised) {
  auto work = [](int seed, int order, int mb, bool* ok) {
    *ok = true;
    for (int i = 0; i < 4; ++i) {
      const auto in = testing::MixedBytes(60000 + seed * 1000 + i);
      auto packed = PPMPack(in, order, mb);
      *ok = *ok && !packed.empty() && PPMUnpack(packed, in.size()) == in;
    }
  };
  bool ok1 = false, ok2 = false;
  std::thread t1(work, 1, 4, 1, &ok1);
  std::thread t2(work, 2, 12, 2, &ok2);
  t1.join();
  t2.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
}

}  // namespace
}  // namespace sfs
