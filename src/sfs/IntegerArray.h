// TIntegerArray: the growable array of 32-bit integers the managers keep page lists in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sfs {

class TIntegerArray {
 public:
  explicit TIntegerArray(int32_t Size = 0, int32_t DefaultAllocBy = 10, int32_t DefaultMaxAllocBy = 1000);

  int32_t ItemCount() const { return static_cast<int32_t>(Items.size()); }
  int32_t& operator[](int32_t i) { return Items[static_cast<size_t>(i)]; }
  int32_t operator[](int32_t i) const { return Items[static_cast<size_t>(i)]; }
  int32_t Last() const { return Items.back(); }
  const int32_t* Data() const { return Items.data(); }

  // Growing beyond the capacity doubles the growth step (up to MaxAllocBy); new items are 0.
  void SetSize(int32_t n);
  void Clear() { SetSize(0); }
  void Append(int32_t v);
  // An index at or above the item count appends.
  void Insert(int32_t Index, int32_t v);
  void Delete(int32_t Index);
  // Moves item From so that it ends up just before the item that was at To.
  void MoveTo(int32_t From, int32_t To);
  void Sort(bool Ascending);

  std::vector<int32_t> Items;

 private:
  int32_t AllocBy;
  int32_t deAllocBy;
  int32_t MaxAllocBy;
};

}  // namespace sfs
