// The shared PPM model under concurrent use (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sfs/Compression.h"
#include "sfs/codecs_testdata.h"

namespace sfs {
namespace {

using testing::PPMPack;
using testing::PPMUnpack;

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
