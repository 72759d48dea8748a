#include "sfs/BlockedIndex.h"

#include <string>

#include "platform/Exception.h"

namespace sfs {

namespace {

[[noreturn]] void OutOfRange(int32_t Pos) {
  throw platform::Exception("TBlockedIndex - position " + std::to_string(Pos) + " out of range.");
}

}  // namespace

void TBlockedIndex::Clear() {
  FBlocks.clear();
  FStarts.clear();
  FCount = 0;
}

void TBlockedIndex::Assign(const std::vector<int32_t>& Entries) {
  Clear();
  // Blocks filled to half, so that the first inserts do not split them at once.
  const size_t step = static_cast<size_t>(FBlockSize / 2);
  for (size_t at = 0; at < Entries.size(); at += step) {
    const size_t end = std::min(Entries.size(), at + step);
    FStarts.push_back(static_cast<int32_t>(at));
    FBlocks.emplace_back(Entries.begin() + static_cast<std::ptrdiff_t>(at),
                         Entries.begin() + static_cast<std::ptrdiff_t>(end));
  }
  FCount = static_cast<int32_t>(Entries.size());
}

size_t TBlockedIndex::BlockOf(int32_t Pos) const {
  if (Pos < 0 || Pos > FCount || FBlocks.empty()) OutOfRange(Pos);
  // The last block starting at or before Pos.
  const auto after = std::upper_bound(FStarts.begin(), FStarts.end(), Pos);
  return static_cast<size_t>(after - FStarts.begin()) - 1;
}

void TBlockedIndex::Insert(int32_t Pos, int32_t Value) {
  if (FBlocks.empty()) {
    if (Pos != 0) OutOfRange(Pos);
    FBlocks.push_back({Value});
    FStarts.push_back(0);
    FCount = 1;
    return;
  }
  const size_t b = BlockOf(Pos);
  std::vector<int32_t>& block = FBlocks[b];
  block.insert(block.begin() + (Pos - FStarts[b]), Value);
  for (size_t i = b + 1; i < FStarts.size(); ++i) ++FStarts[i];
  ++FCount;
  if (static_cast<int32_t>(block.size()) > FBlockSize) {
    // Split in halves; the second half becomes a block of its own right after it.
    const size_t half = block.size() / 2;
    std::vector<int32_t> second(block.begin() + static_cast<std::ptrdiff_t>(half), block.end());
    block.resize(half);
    const int32_t start = FStarts[b] + static_cast<int32_t>(half);
    FBlocks.insert(FBlocks.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(second));
    FStarts.insert(FStarts.begin() + static_cast<std::ptrdiff_t>(b + 1), start);
  }
}

void TBlockedIndex::Delete(int32_t Pos) {
  if (Pos >= FCount) OutOfRange(Pos);
  const size_t b = BlockOf(Pos);
  std::vector<int32_t>& block = FBlocks[b];
  block.erase(block.begin() + (Pos - FStarts[b]));
  for (size_t i = b + 1; i < FStarts.size(); ++i) --FStarts[i];
  --FCount;
  if (block.empty()) {
    FBlocks.erase(FBlocks.begin() + static_cast<std::ptrdiff_t>(b));
    FStarts.erase(FStarts.begin() + static_cast<std::ptrdiff_t>(b));
  }
}

}  // namespace sfs
