// TBlockedIndex: an ordered list of item numbers, held in blocks of bounded size.
//
// The directory's indexes take an entry in the middle for every record added under a name that
// does not sort last. In one flat array that moves half the index each time, which grows with the
// directory; here it moves the entries of one block and shifts the block starts after it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace sfs {

class TBlockedIndex {
 public:
  // A block is split in two when it grows past BlockSize entries.
  explicit TBlockedIndex(int32_t BlockSize = 1024) : FBlockSize(std::max<int32_t>(BlockSize, 2)) {}

  int32_t Count() const { return FCount; }
  int32_t operator[](int32_t Pos) const {
    const size_t b = BlockOf(Pos);
    return FBlocks[b][static_cast<size_t>(Pos - FStarts[b])];
  }

  void Clear();
  // Replaces the whole list (already in order).
  void Assign(const std::vector<int32_t>& Entries);
  // Pos from 0 to Count(); Count() appends.
  void Insert(int32_t Pos, int32_t Value);
  void Delete(int32_t Pos);

  // The first position whose entry is not Before the key, for a Before that holds for a prefix
  // of the list (as for a list in order); Count() when it holds for every entry.
  template <typename TBefore>
  int32_t LowerBound(TBefore Before) const {
    // The first block whose last entry is not before the key holds the position.
    size_t lo = 0, hi = FBlocks.size();
    while (lo < hi) {
      const size_t mid = lo + (hi - lo) / 2;
      if (Before(FBlocks[mid].back())) lo = mid + 1; else hi = mid;
    }
    if (lo == FBlocks.size()) return FCount;
    const std::vector<int32_t>& block = FBlocks[lo];
    const auto in = std::partition_point(block.begin(), block.end(), Before);
    return FStarts[lo] + static_cast<int32_t>(in - block.begin());
  }

 private:
  // The block holding position Pos (for Pos == Count(), the last block).
  size_t BlockOf(int32_t Pos) const;

  int32_t FBlockSize;
  int32_t FCount = 0;
  std::vector<std::vector<int32_t>> FBlocks;  // never an empty one
  std::vector<int32_t> FStarts;               // the position of each block's first entry
};

}  // namespace sfs
