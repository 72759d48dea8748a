#include "sfs/PPMSubAllocator.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace sfs::ppm {
namespace {

// A free block while the free lists are glued: stamp, size in units, and a doubly linked list.
constexpr uint16_t cFreeStamp = 0xFFFF;
struct TMemBlock {
  uint16_t Stamp;
  uint16_t NU;
  uint32_t Next;
  uint32_t Prev;
};
static_assert(sizeof(TMemBlock) == cUnitSize);

constexpr std::array<uint8_t, cIndexCount> MakeIndx2Units() {
  std::array<uint8_t, cIndexCount> t{};
  int k = 0;
  for (int i = 0; i < cIndexCount; ++i) {
    int step = i < 4 ? 1 : i < 8 ? 2 : i < 12 ? 3 : 4;
    k += step;
    t[i] = static_cast<uint8_t>(k);
  }
  return t;
}
constexpr std::array<uint8_t, cIndexCount> cI2U = MakeIndx2Units();
static_assert(cI2U[cIndexCount - 1] == 128);

constexpr std::array<uint8_t, 128> MakeUnits2Indx() {
  std::array<uint8_t, 128> t{};
  int i = 0;
  for (int k = 0; k < 128; ++k) {
    if (cI2U[i] < k + 1) ++i;
    t[k] = static_cast<uint8_t>(i);
  }
  return t;
}
constexpr std::array<uint8_t, 128> cU2I = MakeUnits2Indx();

constexpr uint32_t U2B(int nu) { return static_cast<uint32_t>(nu) * cUnitSize; }

// The model is read at random all over its memory; on 2 MiB pages far fewer address
// translations miss.
constexpr size_t cHugePage = size_t(2) << 20;
uint8_t* DefaultAlloc(size_t size) {
  const size_t rounded = (size + cHugePage - 1) & ~(cHugePage - 1);
  void* p = std::aligned_alloc(cHugePage, rounded);
  if (p != nullptr) ::madvise(p, rounded, MADV_HUGEPAGE);
  return static_cast<uint8_t*>(p);
}
std::atomic<TPPMAllocHook> gAllocHook{nullptr};

}  // namespace

int TPPMSubAllocator::Units2Indx(int nu) { return cU2I[nu - 1]; }
int TPPMSubAllocator::Indx2Units(int indx) { return cI2U[indx]; }

void SetPPMAllocHook(TPPMAllocHook hook) { gAllocHook.store(hook); }

void TPPMSubAllocator::TFree::operator()(uint8_t* p) const { std::free(p); }

TPPMSubAllocator::TPPMSubAllocator() = default;

bool TPPMSubAllocator::Start(uint32_t size) {
  if (FBase && FSize == size) return true;
  Stop();
  TPPMAllocHook hook = gAllocHook.load();
  // One unit more than the model uses: the list head while free blocks are glued.
  uint8_t* p = (hook ? hook : DefaultAlloc)(size_t(size) + cUnitSize);
  if (p == nullptr) return false;
  FBase.reset(p);
  FSize = size;
  return true;
}

void TPPMSubAllocator::Stop() {
  FBase.reset();
  FSize = 0;
}

void TPPMSubAllocator::Init() {
  std::memset(FFreeList, 0, sizeof(FFreeList));
  Text = 0;
  FHiUnit = FSize;
  FLoUnit = UnitsStart = FHiUnit - FSize / 8 / cUnitSize * 7 * cUnitSize;
  FGlueCount = 0;
}

void TPPMSubAllocator::InsertNode(uint32_t p, int indx) {
  *Ptr<uint32_t>(p + 4) = FFreeList[indx];
  FFreeList[indx] = p;
}

uint32_t TPPMSubAllocator::RemoveNode(int indx) {
  uint32_t p = FFreeList[indx];
  FFreeList[indx] = *Ptr<uint32_t>(p + 4);
  return p;
}

void TPPMSubAllocator::SplitBlock(uint32_t p, int oldIndx, int newIndx) {
  int uDiff = cI2U[oldIndx] - cI2U[newIndx];
  p += U2B(cI2U[newIndx]);
  int i = cU2I[uDiff - 1];
  if (cI2U[i] != uDiff) {
    InsertNode(p, --i);
    p += U2B(cI2U[i]);
    uDiff -= cI2U[i];
  }
  InsertNode(p, cU2I[uDiff - 1]);
}

void TPPMSubAllocator::GlueFreeBlocks() {
  const uint32_t head = FSize;  // the spare unit past the model
  auto blk = [this](uint32_t p) { return Ptr<TMemBlock>(p); };
  auto unlink = [&](uint32_t p) {
    blk(blk(p)->Prev)->Next = blk(p)->Next;
    blk(blk(p)->Next)->Prev = blk(p)->Prev;
  };
  if (FLoUnit != FHiUnit) *Ptr<uint8_t>(FLoUnit) = 0;  // the gap is no free block
  blk(head)->Stamp = 0;
  blk(head)->Next = blk(head)->Prev = head;
  for (int i = 0; i < cIndexCount; ++i) {
    while (FFreeList[i] != 0) {
      uint32_t p = RemoveNode(i);
      // insert after the head
      blk(p)->Prev = head;
      blk(p)->Next = blk(head)->Next;
      blk(blk(head)->Next)->Prev = p;
      blk(head)->Next = p;
      blk(p)->Stamp = cFreeStamp;
      blk(p)->NU = cI2U[i];
    }
  }
  for (uint32_t p = blk(head)->Next; p != head; p = blk(p)->Next) {
    for (;;) {
      uint32_t p1 = p + U2B(blk(p)->NU);
      if (blk(p1)->Stamp != cFreeStamp || int(blk(p)->NU) + blk(p1)->NU >= 0x10000) break;
      unlink(p1);
      blk(p)->NU = static_cast<uint16_t>(blk(p)->NU + blk(p1)->NU);
    }
  }
  uint32_t p;
  while ((p = blk(head)->Next) != head) {
    unlink(p);
    int sz = blk(p)->NU;
    for (; sz > 128; sz -= 128, p += U2B(128)) InsertNode(p, cIndexCount - 1);
    int i = cU2I[sz - 1];
    if (cI2U[i] != sz) {
      int k = sz - cI2U[--i];
      InsertNode(p + U2B(sz - k), k - 1);
    }
    InsertNode(p, i);
  }
}

uint32_t TPPMSubAllocator::AllocUnitsRare(int indx) {
  if (FGlueCount == 0) {
    FGlueCount = 255;
    GlueFreeBlocks();
    if (FFreeList[indx] != 0) return RemoveNode(indx);
  }
  int i = indx;
  do {
    if (++i == cIndexCount) {
      --FGlueCount;
      uint32_t bytes = U2B(cI2U[indx]);
      if (UnitsStart - Text > bytes) {
        UnitsStart -= bytes;
        return UnitsStart;
      }
      return 0;
    }
  } while (FFreeList[i] == 0);
  uint32_t p = RemoveNode(i);
  SplitBlock(p, i, indx);
  return p;
}

uint32_t TPPMSubAllocator::AllocContext() {
  if (FHiUnit != FLoUnit) return FHiUnit -= cUnitSize;
  if (FFreeList[0] != 0) return RemoveNode(0);
  return AllocUnitsRare(0);
}

uint32_t TPPMSubAllocator::AllocUnits(int nu) {
  int indx = cU2I[nu - 1];
  if (FFreeList[indx] != 0) return RemoveNode(indx);
  uint32_t bytes = U2B(cI2U[indx]);
  if (FHiUnit - FLoUnit >= bytes) {
    uint32_t p = FLoUnit;
    FLoUnit += bytes;
    return p;
  }
  return AllocUnitsRare(indx);
}

uint32_t TPPMSubAllocator::ExpandUnits(uint32_t oldPtr, int oldNU) {
  int i0 = cU2I[oldNU - 1];
  int i1 = cU2I[oldNU];
  if (i0 == i1) return oldPtr;
  uint32_t p = AllocUnits(oldNU + 1);
  if (p != 0) {
    std::memcpy(Ptr<uint8_t>(p), Ptr<uint8_t>(oldPtr), U2B(oldNU));
    InsertNode(oldPtr, i0);
  }
  return p;
}

uint32_t TPPMSubAllocator::ShrinkUnits(uint32_t oldPtr, int oldNU, int newNU) {
  int i0 = cU2I[oldNU - 1];
  int i1 = cU2I[newNU - 1];
  if (i0 == i1) return oldPtr;
  if (FFreeList[i1] != 0) {
    uint32_t p = RemoveNode(i1);
    std::memcpy(Ptr<uint8_t>(p), Ptr<uint8_t>(oldPtr), U2B(newNU));
    InsertNode(oldPtr, i0);
    return p;
  }
  SplitBlock(oldPtr, i0, i1);
  return oldPtr;
}

void TPPMSubAllocator::FreeUnits(uint32_t ptr, int nu) { InsertNode(ptr, cU2I[nu - 1]); }

}  // namespace sfs::ppm
