// TSortedPtrArray: a map from 32-bit keys to owned objects, kept sorted by key.
//
// Used for the page-map caches and for the open file handles. The array owns its values.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Exception.h"

namespace sfs {

template <typename T>
class TSortedPtrArray {
 public:
  int32_t ItemCount() const { return static_cast<int32_t>(KeyItems.size()); }
  const std::vector<int32_t>& Keys() const { return KeyItems; }

  T* Find(int32_t Key) const {
    const auto it = std::lower_bound(KeyItems.begin(), KeyItems.end(), Key);
    if (it == KeyItems.end() || *it != Key) return nullptr;
    return ValueItems[static_cast<size_t>(it - KeyItems.begin())].get();
  }

  T* Insert(int32_t Key, std::unique_ptr<T> Value) {
    const auto pos = static_cast<size_t>(std::upper_bound(KeyItems.begin(), KeyItems.end(), Key) - KeyItems.begin());
    KeyItems.insert(KeyItems.begin() + static_cast<std::ptrdiff_t>(pos), Key);
    T* raw = Value.get();
    ValueItems.insert(ValueItems.begin() + static_cast<std::ptrdiff_t>(pos), std::move(Value));
    return raw;
  }

  void Delete(int32_t Key) {
    if (KeyItems.empty()) throw platform::Exception("TSortedPtrArray.Delete - no elements in array!");
    const auto it = std::lower_bound(KeyItems.begin(), KeyItems.end(), Key);
    if (it == KeyItems.end() || *it != Key)
      throw platform::Exception("TSortedPtrArray.Delete - element not found, key = " + std::to_string(Key) +
                                ", itemCount = " + std::to_string(ItemCount()) + "!");
    const auto pos = it - KeyItems.begin();
    KeyItems.erase(it);
    ValueItems.erase(ValueItems.begin() + pos);
  }

  // Removes the entry of Key and hands its value to the caller (null when there is none).
  std::unique_ptr<T> Take(int32_t Key) {
    const auto it = std::lower_bound(KeyItems.begin(), KeyItems.end(), Key);
    if (it == KeyItems.end() || *it != Key) return nullptr;
    const auto pos = it - KeyItems.begin();
    std::unique_ptr<T> v = std::move(ValueItems[static_cast<size_t>(pos)]);
    KeyItems.erase(it);
    ValueItems.erase(ValueItems.begin() + pos);
    return v;
  }

  void Clear() {
    KeyItems.clear();
    ValueItems.clear();
  }

  int32_t GetNextKeyValue() { return ++uniqueKeyValue; }

 private:
  int32_t uniqueKeyValue = 0;
  std::vector<int32_t> KeyItems;
  std::vector<std::unique_ptr<T>> ValueItems;
};

}  // namespace sfs
