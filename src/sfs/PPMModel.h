// The PPM model (variant G) used by PPMCompressBuffer and PPMDecompressBuffer.
//
// Order-N context modelling with information inheritance for new contexts, binary contexts
// coded with adaptive bit estimates (BinSumm), escapes from contexts with masked symbols coded
// with secondary escape estimation (SEE), frequencies rescaled at 124, and a full restart of the
// model when its memory runs out. The end of the data is an escape out of the order-0 context.
//
// The model works inside the memory of a TPPMSubAllocator that must have been started; it is not
// thread-safe (the codec layer serialises all use of the shared memory).
#pragma once

#include <cstddef>
#include <cstdint>

#include "sfs/PPMSubAllocator.h"
#include "sfs/RangeCoder.h"

namespace sfs::ppm {

inline constexpr int cMinOrder = 2;
inline constexpr int cMaxOrder = 16;

#pragma pack(push, 1)
struct TState {
  uint8_t Symbol;
  uint8_t Freq;
  uint32_t Successor;  // context or text position, as an offset in the model memory
};
#pragma pack(pop)
static_assert(sizeof(TState) == 6);

// A context with NumStats == 1 keeps its single state in place of SummFreq and Stats.
struct TContext {
  uint16_t NumStats;
  uint16_t SummFreq;
  uint32_t Stats;
  uint32_t Suffix;
};
static_assert(sizeof(TContext) == cUnitSize);

// Secondary escape estimate: a mean kept as Summ >> Shift.
struct TSee {
  uint16_t Summ;
  uint8_t Shift;
  uint8_t Count;
};

// Restarts because the model memory ran out, counted over the whole process (for tests and
// benchmarks).
uint64_t PPMRestartCount();

class TPPMModel {
 public:
  explicit TPPMModel(TPPMSubAllocator& allocator);

  // A fresh model of the given maximal order (cMinOrder..cMaxOrder).
  void Start(int maxOrder);

  // Codes `size` bytes and the end-of-data symbol; false when the coder failed (output full).
  bool EncodeBlock(const uint8_t* in, size_t size, TRangeEncoder& coder);
  // Decodes up to the end-of-data symbol; the number of bytes, or -1 for corrupt data or more
  // than `capacity` bytes.
  int64_t DecodeBlock(uint8_t* out, size_t capacity, TRangeDecoder& coder);

 private:
  template <class T>
  T* At(uint32_t offset) const { return reinterpret_cast<T*>(FHeap + offset); }
  TContext* Ctx(uint32_t offset) const { return At<TContext>(offset); }
  TState* StatsOf(const TContext* c) const { return At<TState>(c->Stats); }
  static TState* OneState(TContext* c) { return reinterpret_cast<TState*>(&c->SummFreq); }
  uint32_t Ref(const void* p) const { return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - FHeap); }

  void RestartModel();
  void Restart();  // memory ran out
  void ClearMask();
  void Rescale();
  TContext* CreateSuccessors(bool skip);
  void UpdateModel();
  void NextContext();
  void PrefetchLikelySuccessor();
  uint16_t& BinSumm();
  TSee* MakeEscFreq(int numUnmasked, uint32_t& escFreq);
  void Update1(TState* p);
  void Update2(TState* p);

  void EncodeSymbol1(int symbol, TRangeEncoder& coder);
  void EncodeBinSymbol(int symbol, TRangeEncoder& coder);
  void EncodeSymbol2(int symbol, TRangeEncoder& coder);
  bool EncodeSymbols(const uint8_t* in, size_t size, TRangeEncoder& coder);
  bool DecodeSymbol1(TRangeDecoder& coder);
  bool DecodeBinSymbol(TRangeDecoder& coder);
  bool DecodeSymbol2(TRangeDecoder& coder);
  int64_t DecodeSymbols(uint8_t* out, size_t capacity, TRangeDecoder& coder);

  TPPMSubAllocator& FAlloc;
  uint8_t* FHeap = nullptr;  // FAlloc.Base(), kept at hand for the references
  TContext* FMinContext = nullptr;
  TContext* FMaxContext = nullptr;
  TState* FFoundState = nullptr;
  int FNumMasked = 0;
  int FInitEsc = 0;
  int FOrderFall = 0;
  int FMaxOrder = 0;
  int FRunLength = 0;
  int FInitRL = 0;
  uint8_t FEscCount = 0;
  uint8_t FPrevSuccess = 0;
  uint8_t FHiBitsFlag = 0;
  uint8_t FCharMask[256] = {};
  TSee FSee[25][16] = {};
  TSee FDummySee = {};
  uint16_t FBinSumm[128][64] = {};
};

}  // namespace sfs::ppm
