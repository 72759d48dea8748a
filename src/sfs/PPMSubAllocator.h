// The unit sub-allocator of the PPM coder.
//
// The model lives in one block of memory handed out in units of 12 bytes. The low eighth of the
// block is the text area (the symbols seen, growing upwards from the start); the rest holds
// contexts (taken from the top downwards) and symbol tables (taken from the bottom of the unit
// area upwards), with free lists for 38 block sizes from 1 to 128 units. When both ends meet,
// free blocks are glued together and split again; when nothing is left, allocation fails and
// the model restarts. References inside the block are 32-bit offsets from its start (0 is
// none), so the memory use and the point where memory runs out do not depend on pointer size.
//
// Not thread-safe; the owner serialises use.
#pragma once

#include <cstdint>
#include <memory>

namespace sfs::ppm {

inline constexpr uint32_t cUnitSize = 12;
inline constexpr int cIndexCount = 38;

class TPPMSubAllocator {
 public:
  TPPMSubAllocator();
  TPPMSubAllocator(const TPPMSubAllocator&) = delete;
  TPPMSubAllocator& operator=(const TPPMSubAllocator&) = delete;

  // Makes sure a block of `size` bytes is held; keeps the current one when it has that size.
  // False when the memory cannot be had.
  bool Start(uint32_t size);
  void Stop();
  uint32_t Size() const { return FSize; }

  // Empties the block: text area at the start, all units free.
  void Init();

  uint8_t* Base() const { return FBase.get(); }
  template <class T>
  T* Ptr(uint32_t offset) const {
    return reinterpret_cast<T*>(FBase.get() + offset);
  }
  uint32_t Offset(const void* p) const {
    return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - FBase.get());
  }

  // Each returns the offset of the block, 0 when memory has run out.
  uint32_t AllocContext();
  uint32_t AllocUnits(int nu);
  uint32_t ExpandUnits(uint32_t oldPtr, int oldNU);  // one unit more; the content is moved
  uint32_t ShrinkUnits(uint32_t oldPtr, int oldNU, int newNU);
  void FreeUnits(uint32_t ptr, int nu);

  static int Units2Indx(int nu);  // free-list index of a block of nu units (1..128)
  static int Indx2Units(int indx);

  // The text area: Text is the next free byte, UnitsStart the end of the area.
  uint32_t Text = 0;
  uint32_t UnitsStart = 0;

 private:
  void InsertNode(uint32_t p, int indx);
  uint32_t RemoveNode(int indx);
  void SplitBlock(uint32_t p, int oldIndx, int newIndx);
  void GlueFreeBlocks();
  uint32_t AllocUnitsRare(int indx);

  struct TFree {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t[], TFree> FBase;
  uint32_t FSize = 0;
  uint32_t FLoUnit = 0;
  uint32_t FHiUnit = 0;
  uint32_t FGlueCount = 0;
  uint32_t FFreeList[cIndexCount] = {};
};

// Allocation of model memory; tests replace it to see how the coder behaves when the memory
// cannot be had. The block is released with std::free; nullptr restores the default (2 MiB
// aligned, asking the kernel for huge pages).
using TPPMAllocHook = uint8_t* (*)(size_t size);
void SetPPMAllocHook(TPPMAllocHook hook);

}  // namespace sfs::ppm
