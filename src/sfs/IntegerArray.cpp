#include "sfs/IntegerArray.h"

#include <algorithm>
#include <functional>

namespace sfs {

TIntegerArray::TIntegerArray(int32_t Size, int32_t DefaultAllocBy, int32_t DefaultMaxAllocBy)
    : Items(static_cast<size_t>(std::max(0, Size)), 0),
      AllocBy(std::max(1, DefaultAllocBy)),
      deAllocBy(std::max(1, DefaultAllocBy)),
      MaxAllocBy(std::max(1, DefaultMaxAllocBy)) {}

void TIntegerArray::SetSize(int32_t n) {
  if (n <= 0) {
    std::vector<int32_t>().swap(Items);
    return;
  }
  const size_t want = static_cast<size_t>(n);
  if (want > Items.capacity()) {
    AllocBy = std::min(AllocBy * 2, MaxAllocBy);
    Items.reserve(std::max(want, Items.capacity() + static_cast<size_t>(AllocBy)));
  } else if (Items.size() > want && Items.size() - want > static_cast<size_t>(deAllocBy)) {
    deAllocBy = std::min(deAllocBy * 2, MaxAllocBy);
  }
  Items.resize(want, 0);
}

void TIntegerArray::Append(int32_t v) {
  if (Items.size() == Items.capacity()) {
    AllocBy = std::min(AllocBy * 2, MaxAllocBy);
    Items.reserve(Items.capacity() + static_cast<size_t>(std::max<int32_t>(AllocBy, static_cast<int32_t>(Items.size() / 2))));
  }
  Items.push_back(v);
}

void TIntegerArray::Insert(int32_t Index, int32_t v) {
  if (Index < 0) Index = 0;
  if (Index >= ItemCount())
    Append(v);
  else
    Items.insert(Items.begin() + Index, v);
}

void TIntegerArray::Delete(int32_t Index) {
  if (Index < 0 || Index >= ItemCount()) return;
  Items.erase(Items.begin() + Index);
}

void TIntegerArray::MoveTo(int32_t From, int32_t To) {
  if (From < 0 || From >= ItemCount() || To < 0 || To > ItemCount() || From == To) return;
  const int32_t v = Items[static_cast<size_t>(From)];
  if (To > From) {
    // Shift the items between down by one; v lands before the item that was at To.
    std::move(Items.begin() + From + 1, Items.begin() + To, Items.begin() + From);
    Items[static_cast<size_t>(To - 1)] = v;
  } else {
    std::move_backward(Items.begin() + To, Items.begin() + From, Items.begin() + From + 1);
    Items[static_cast<size_t>(To)] = v;
  }
}

void TIntegerArray::Sort(bool Ascending) {
  if (Ascending)
    std::sort(Items.begin(), Items.end());
  else
    std::sort(Items.begin(), Items.end(), std::greater<int32_t>());
}

}  // namespace sfs
