#include "sfs/PPMModel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <utility>

namespace sfs::ppm {
namespace {

constexpr int cIntBits = 7;
constexpr int cPeriodBits = 7;
constexpr int cTotBits = cIntBits + cPeriodBits;
constexpr uint32_t cInterval = 1u << cIntBits;
constexpr uint32_t cBinScale = 1u << cTotBits;
constexpr int cMaxFreq = 124;

constexpr uint16_t cInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};
// Initial escape of a context made from a binary one, by the binary estimate's top bits.
constexpr uint8_t cExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

struct TTables {
  uint8_t NS2Indx[256];    // SEE row by the number of unmasked symbols
  uint8_t NS2BSIndx[256];  // binary estimate column by the suffix's number of symbols
  uint8_t HB2Flag[256];    // 8 for symbols from 0x40 up
};

constexpr TTables MakeTables() {
  TTables t{};
  t.NS2BSIndx[0] = 0;
  t.NS2BSIndx[1] = 2;
  for (int i = 2; i < 11; ++i) t.NS2BSIndx[i] = 4;
  for (int i = 11; i < 256; ++i) t.NS2BSIndx[i] = 6;
  int i = 0;
  for (; i < 3; ++i) t.NS2Indx[i] = static_cast<uint8_t>(i);
  for (int m = i, k = 1, step = 1; i < 256; ++i) {
    t.NS2Indx[i] = static_cast<uint8_t>(m);
    if (--k == 0) {
      k = ++step;
      ++m;
    }
  }
  for (int s = 0; s < 256; ++s) t.HB2Flag[s] = s < 0x40 ? 0 : 0x08;
  return t;
}
constexpr TTables cTables = MakeTables();
static_assert(cTables.NS2Indx[255] == 24);

constexpr uint32_t GetMean(uint32_t summ) { return (summ + (1u << (cPeriodBits - 2))) >> cPeriodBits; }

uint32_t SeeMean(TSee& see) {
  uint32_t r = see.Summ >> see.Shift;
  see.Summ = static_cast<uint16_t>(see.Summ - r);
  return r + (r == 0);
}

void SeeUpdate(TSee& see) {
  if (see.Shift < cPeriodBits && --see.Count == 0) {
    see.Summ = static_cast<uint16_t>(see.Summ + see.Summ);
    see.Count = static_cast<uint8_t>(3 << see.Shift++);
  }
}

std::atomic<uint64_t> gRestarts{0};

}  // namespace

uint64_t PPMRestartCount() { return gRestarts.load(std::memory_order_relaxed); }

TPPMModel::TPPMModel(TPPMSubAllocator& allocator) : FAlloc(allocator) {}

void TPPMModel::ClearMask() {
  FEscCount = 1;
  std::memset(FCharMask, 0, sizeof(FCharMask));
}

void TPPMModel::RestartModel() {
  ClearMask();
  FAlloc.Init();
  FInitRL = -(FMaxOrder < 12 ? FMaxOrder : 12) - 1;
  FMinContext = FMaxContext = Ctx(FAlloc.AllocContext());
  FMinContext->Suffix = 0;
  FOrderFall = FMaxOrder;
  FMinContext->NumStats = 256;
  FMinContext->SummFreq = 256 + 1;
  FMinContext->Stats = FAlloc.AllocUnits(256 / 2);
  FFoundState = StatsOf(FMinContext);
  for (int i = 0; i < 256; ++i) {
    FFoundState[i].Symbol = static_cast<uint8_t>(i);
    FFoundState[i].Freq = 1;
    FFoundState[i].Successor = 0;
  }
  FRunLength = FInitRL;
  FPrevSuccess = 0;
  for (int i = 0; i < 128; ++i)
    for (int k = 0; k < 8; ++k)
      for (int m = 0; m < 64; m += 8) FBinSumm[i][k + m] = static_cast<uint16_t>(cBinScale - cInitBinEsc[k] / (i + 2));
  for (int i = 0; i < 25; ++i)
    for (auto& see : FSee[i]) {
      see.Shift = cPeriodBits - 4;
      see.Summ = static_cast<uint16_t>((5 * i + 10) << see.Shift);
      see.Count = 4;
    }
}

void TPPMModel::Restart() {
  gRestarts.fetch_add(1, std::memory_order_relaxed);
  RestartModel();
}

void TPPMModel::Start(int maxOrder) {
  FHeap = FAlloc.Base();
  FMaxOrder = maxOrder;
  FInitEsc = 0;
  FNumMasked = 0;
  FHiBitsFlag = 0;
  RestartModel();
  FDummySee.Shift = cPeriodBits;
  FDummySee.Summ = 0;
  FDummySee.Count = 64;
}

// Halves the frequencies of the current context (found symbol first), drops symbols that reach
// zero and keeps the table sorted by frequency.
void TPPMModel::Rescale() {
  TContext* mc = FMinContext;
  TState* stats = StatsOf(mc);
  TState* s = FFoundState;
  {
    TState tmp = *s;
    for (; s != stats; --s) s[0] = s[-1];
    *s = tmp;
  }
  int oldNS = mc->NumStats;
  uint32_t escFreq = mc->SummFreq - s->Freq;
  s->Freq = static_cast<uint8_t>(s->Freq + 4);
  const uint32_t adder = FOrderFall != 0;
  s->Freq = static_cast<uint8_t>((s->Freq + adder) >> 1);
  uint32_t sumFreq = s->Freq;
  int i = oldNS - 1;
  do {
    escFreq -= (++s)->Freq;
    s->Freq = static_cast<uint8_t>((s->Freq + adder) >> 1);
    sumFreq += s->Freq;
    if (s[0].Freq > s[-1].Freq) {
      TState* s1 = s;
      TState tmp = *s1;
      do s1[0] = s1[-1];
      while (--s1 != stats && tmp.Freq > s1[-1].Freq);
      *s1 = tmp;
    }
  } while (--i);
  if (s->Freq == 0) {
    do ++i;
    while ((--s)->Freq == 0);
    escFreq += static_cast<uint32_t>(i);
    mc->NumStats = static_cast<uint16_t>(mc->NumStats - i);
    if (mc->NumStats == 1) {
      TState tmp = *stats;
      do {
        tmp.Freq = static_cast<uint8_t>(tmp.Freq - (tmp.Freq >> 1));
        escFreq >>= 1;
      } while (escFreq > 1);
      FAlloc.FreeUnits(mc->Stats, (oldNS + 1) >> 1);
      *(FFoundState = OneState(mc)) = tmp;
      return;
    }
    int n0 = (oldNS + 1) >> 1, n1 = (mc->NumStats + 1) >> 1;
    if (n0 != n1) mc->Stats = FAlloc.ShrinkUnits(mc->Stats, n0, n1);
  }
  mc->SummFreq = static_cast<uint16_t>(sumFreq + escFreq - (escFreq >> 1));
  FFoundState = StatsOf(mc);
}

// Makes the contexts for the found symbol below the current one that do not exist yet, each
// started with one state whose frequency is inherited from the shorter context.
TContext* TPPMModel::CreateSuccessors(bool skip) {
  TContext* c = FMinContext;
  const uint32_t upBranch = FFoundState->Successor;
  TState* ps[64];  // one per order at most
  int numPs = 0;
  if (!skip) ps[numPs++] = FFoundState;
  while (c->Suffix != 0) {
    c = Ctx(c->Suffix);
    TState* s;
    if (c->NumStats != 1) {
      for (s = StatsOf(c); s->Symbol != FFoundState->Symbol; ++s) {
      }
    } else {
      s = OneState(c);
    }
    if (s->Successor != upBranch) {
      c = Ctx(s->Successor);
      if (numPs == 0) return c;
      break;
    }
    ps[numPs++] = s;
  }
  TState upState;
  upState.Symbol = *At<uint8_t>(upBranch);
  upState.Successor = upBranch + 1;
  if (c->NumStats == 1) {
    upState.Freq = OneState(c)->Freq;
  } else {
    TState* s;
    for (s = StatsOf(c); s->Symbol != upState.Symbol; ++s) {
    }
    uint32_t cf = s->Freq - 1u;
    uint32_t s0 = c->SummFreq - c->NumStats - cf;
    if (s0 == 0) s0 = 1;  // an escape count of at least 1 keeps s0 positive; never divide by 0
    upState.Freq = static_cast<uint8_t>(1 + ((2 * cf <= s0) ? (5 * cf > s0) : ((2 * cf + 3 * s0 - 1) / (2 * s0))));
  }
  do {
    uint32_t ref = FAlloc.AllocContext();
    if (ref == 0) return nullptr;
    TContext* c1 = Ctx(ref);
    c1->NumStats = 1;
    *OneState(c1) = upState;
    c1->Suffix = Ref(c);
    ps[--numPs]->Successor = ref;
    c = c1;
  } while (numPs != 0);
  return c;
}

void TPPMModel::UpdateModel() {
  TState* fs = FFoundState;
  const uint8_t fsSymbol = fs->Symbol;
  const uint32_t fsFreq = fs->Freq;
  uint32_t fSuccessor = fs->Successor;

  if (fsFreq < cMaxFreq / 4 && FMinContext->Suffix != 0) {
    TContext* c = Ctx(FMinContext->Suffix);
    if (c->NumStats == 1) {
      TState* s = OneState(c);
      if (s->Freq < 32) ++s->Freq;
    } else {
      TState* s = StatsOf(c);
      if (s->Symbol != fsSymbol) {
        do ++s;
        while (s->Symbol != fsSymbol);
        if (s[0].Freq >= s[-1].Freq) {
          std::swap(s[0], s[-1]);
          --s;
        }
      }
      if (s->Freq < cMaxFreq - 9) {
        s->Freq = static_cast<uint8_t>(s->Freq + 2);
        c->SummFreq = static_cast<uint16_t>(c->SummFreq + 2);
      }
    }
  }

  if (FOrderFall == 0) {
    FMinContext = FMaxContext = CreateSuccessors(true);
    if (FMinContext == nullptr) {
      Restart();
      return;
    }
    FFoundState->Successor = Ref(FMinContext);
    return;
  }

  *At<uint8_t>(FAlloc.Text++) = fsSymbol;
  uint32_t successor = FAlloc.Text;
  if (FAlloc.Text >= FAlloc.UnitsStart) {
    Restart();
    return;
  }

  if (fSuccessor != 0) {
    if (fSuccessor <= successor) {  // still a text position: make the context now
      TContext* cs = CreateSuccessors(false);
      if (cs == nullptr) {
        Restart();
        return;
      }
      fSuccessor = Ref(cs);
    }
    if (--FOrderFall == 0) {
      successor = fSuccessor;
      FAlloc.Text -= (FMaxContext != FMinContext);
    }
  } else {
    FFoundState->Successor = successor;
    fSuccessor = Ref(FMinContext);
  }

  const uint32_t ns = FMinContext->NumStats;
  const uint32_t s0 = FMinContext->SummFreq - ns - (fsFreq - 1);

  for (TContext* c = FMaxContext; c != FMinContext; c = Ctx(c->Suffix)) {
    uint32_t ns1 = c->NumStats;
    if (ns1 != 1) {
      if ((ns1 & 1) == 0) {
        uint32_t stats = FAlloc.ExpandUnits(c->Stats, static_cast<int>(ns1 >> 1));
        if (stats == 0) {
          Restart();
          return;
        }
        c->Stats = stats;
      }
      c->SummFreq = static_cast<uint16_t>(c->SummFreq + (2 * ns1 < ns) +
                                          2 * ((4 * ns1 <= ns) & (c->SummFreq <= 8 * ns1)));
    } else {
      uint32_t ref = FAlloc.AllocUnits(1);
      if (ref == 0) {
        Restart();
        return;
      }
      TState* s = At<TState>(ref);
      *s = *OneState(c);
      c->Stats = ref;
      if (s->Freq < cMaxFreq / 4 - 1)
        s->Freq = static_cast<uint8_t>(s->Freq * 2);
      else
        s->Freq = cMaxFreq - 4;
      c->SummFreq = static_cast<uint16_t>(s->Freq + FInitEsc + (ns > 3));
    }
    uint32_t cf = 2 * fsFreq * (c->SummFreq + 6u);
    uint32_t sf = s0 + c->SummFreq;
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      c->SummFreq = static_cast<uint16_t>(c->SummFreq + 3);
    } else {
      cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
      c->SummFreq = static_cast<uint16_t>(c->SummFreq + cf);
    }
    TState* s = StatsOf(c) + ns1;
    s->Successor = successor;
    s->Symbol = fsSymbol;
    s->Freq = static_cast<uint8_t>(cf);
    c->NumStats = static_cast<uint16_t>(ns1 + 1);
  }
  FMaxContext = FMinContext = Ctx(fSuccessor);
}

// The most probable symbol comes first in a context (or is its only one). Its successor, and
// the symbol table and suffix that successor will ask for next, are fetched while the coder
// divides, so the next context is at hand more often than not. The successor may still be a
// text position: its "fields" are then text bytes, read unaligned, and fetching whatever they
// point at is harmless.
inline void TPPMModel::PrefetchLikelySuccessor() {
  TContext* mc = FMinContext;
  const TState* likely = mc->NumStats != 1 ? StatsOf(mc) : OneState(mc);
  const uint32_t next = likely->Successor;
  auto word = [this](uint32_t offset) {
    uint32_t w;
    std::memcpy(&w, FHeap + offset, sizeof(w));
    return w;
  };
  auto prefetch = [this](uint32_t offset) {
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(FHeap) + offset));
  };
  prefetch(next);
  prefetch(word(next + offsetof(TContext, Stats)));
  prefetch(word(next + offsetof(TContext, Suffix)));
}

void TPPMModel::NextContext() {
  if (FOrderFall == 0 && FFoundState->Successor > FAlloc.Text) {
    FMinContext = FMaxContext = Ctx(FFoundState->Successor);
  } else {
    __builtin_prefetch(FHeap + FFoundState->Successor);  // the next context, while the model updates
    UpdateModel();
    if (FEscCount == 0) ClearMask();
  }
}

uint16_t& TPPMModel::BinSumm() {
  TState* rs = OneState(FMinContext);
  FHiBitsFlag = cTables.HB2Flag[FFoundState->Symbol];
  return FBinSumm[rs->Freq - 1][FPrevSuccess + cTables.NS2BSIndx[Ctx(FMinContext->Suffix)->NumStats - 1] +
                                FHiBitsFlag + 2 * cTables.HB2Flag[rs->Symbol] + ((FRunLength >> 26) & 0x20)];
}

TSee* TPPMModel::MakeEscFreq(int numUnmasked, uint32_t& escFreq) {
  TContext* mc = FMinContext;
  if (mc->NumStats != 256 && mc->Suffix != 0) {
    TSee* see = &FSee[cTables.NS2Indx[numUnmasked - 1]]
                     [(numUnmasked < int(Ctx(mc->Suffix)->NumStats) - int(mc->NumStats)) +
                      2 * (mc->SummFreq < 11 * mc->NumStats) + 4 * (FNumMasked > numUnmasked) + FHiBitsFlag];
    escFreq = SeeMean(*see);
    return see;
  }
  escFreq = 1;
  return &FDummySee;
}

void TPPMModel::Update1(TState* p) {
  FFoundState = p;
  p->Freq = static_cast<uint8_t>(p->Freq + 4);
  FMinContext->SummFreq = static_cast<uint16_t>(FMinContext->SummFreq + 4);
  if (p[0].Freq > p[-1].Freq) {
    std::swap(p[0], p[-1]);
    FFoundState = --p;
    if (p->Freq > cMaxFreq) Rescale();
  }
}

void TPPMModel::Update2(TState* p) {
  FFoundState = p;
  p->Freq = static_cast<uint8_t>(p->Freq + 4);
  FMinContext->SummFreq = static_cast<uint16_t>(FMinContext->SummFreq + 4);
  if (p->Freq > cMaxFreq) Rescale();
  ++FEscCount;
  FRunLength = FInitRL;
}

// ---------------------------------------------------------------------------------------------
// Encoding

[[gnu::always_inline]] inline void TPPMModel::EncodeSymbol1(int symbol, TRangeEncoder& coder) {
  TContext* mc = FMinContext;
  const uint32_t scale = mc->SummFreq;
  TState* p = StatsOf(mc);
  if (p->Symbol == symbol) {
    const uint32_t hi = p->Freq;
    coder.Encode(0, hi, scale);
    FPrevSuccess = 2 * hi > scale;
    FRunLength += FPrevSuccess;
    FFoundState = p;
    p->Freq = static_cast<uint8_t>(hi + 4);
    mc->SummFreq = static_cast<uint16_t>(mc->SummFreq + 4);
    if (p->Freq > cMaxFreq) Rescale();
    return;
  }
  FPrevSuccess = 0;
  uint32_t lo = p->Freq;
  for (int i = mc->NumStats - 1; i > 0; --i) {
    ++p;
    if (p->Symbol == symbol) {
      coder.Encode(lo, lo + p->Freq, scale);
      Update1(p);
      return;
    }
    lo += p->Freq;
  }
  FHiBitsFlag = cTables.HB2Flag[FFoundState->Symbol];
  coder.Encode(lo, scale, scale);
  for (int i = mc->NumStats; i > 0; --i, --p) FCharMask[p->Symbol] = FEscCount;
  FNumMasked = mc->NumStats;
  FFoundState = nullptr;
}

[[gnu::always_inline]] inline void TPPMModel::EncodeBinSymbol(int symbol, TRangeEncoder& coder) {
  TState* rs = OneState(FMinContext);
  uint16_t& bs = BinSumm();
  if (rs->Symbol == symbol) {
    coder.EncodeShift(0, bs, cTotBits);
    FFoundState = rs;
    rs->Freq = static_cast<uint8_t>(rs->Freq + (rs->Freq < 128));
    bs = static_cast<uint16_t>(bs + cInterval - GetMean(bs));
    FPrevSuccess = 1;
    ++FRunLength;
  } else {
    coder.EncodeShift(bs, cBinScale, cTotBits);
    bs = static_cast<uint16_t>(bs - GetMean(bs));
    FInitEsc = cExpEscape[bs >> 10];
    FNumMasked = 1;
    FCharMask[rs->Symbol] = FEscCount;
    FPrevSuccess = 0;
    FFoundState = nullptr;
  }
}

[[gnu::always_inline]] inline void TPPMModel::EncodeSymbol2(int symbol, TRangeEncoder& coder) {
  TContext* mc = FMinContext;
  const int numUnmasked = mc->NumStats - FNumMasked;
  uint32_t escFreq;
  TSee* see = MakeEscFreq(numUnmasked, escFreq);
  // The first numUnmasked states not masked take part. Masked states count 0 rather than being
  // skipped by a branch: which symbols are masked follows no pattern a predictor could learn.
  TState* p = StatsOf(mc);
  TState* found = nullptr;
  uint32_t lo = 0, total = 0;
  const uint8_t* const mask = FCharMask;
  const uint8_t escCount = FEscCount;
  for (int taken = 0; taken < numUnmasked; ++p) {
    const uint32_t take = mask[p->Symbol] != escCount;
    if (p->Symbol == symbol) {  // never a masked symbol: the coder escaped past those
      found = p;
      lo = total;
    }
    total += p->Freq & (0u - take);
    taken += int(take);
  }
  const uint32_t scale = escFreq + total;
  if (found != nullptr) {
    coder.Encode(lo, lo + found->Freq, scale);
    SeeUpdate(*see);
    Update2(found);
    return;
  }
  coder.Encode(total, scale, scale);
  see->Summ = static_cast<uint16_t>(see->Summ + scale);
  p = StatsOf(mc);
  for (int i = mc->NumStats; i > 0; --i, ++p) FCharMask[p->Symbol] = FEscCount;
  FNumMasked = mc->NumStats;
}

[[gnu::always_inline]] inline bool TPPMModel::EncodeSymbols(const uint8_t* in, size_t size, TRangeEncoder& coder) {
  for (size_t pos = 0;; ++pos) {
    const int symbol = pos < size ? in[pos] : -1;  // -1: the end-of-data symbol
    PrefetchLikelySuccessor();
    if (FMinContext->NumStats != 1)
      EncodeSymbol1(symbol, coder);
    else
      EncodeBinSymbol(symbol, coder);
    while (FFoundState == nullptr) {
      coder.Normalize();
      do {
        ++FOrderFall;
        if (FMinContext->Suffix == 0) {
          coder.Flush();
          return !coder.Failed();
        }
        FMinContext = Ctx(FMinContext->Suffix);
      } while (FMinContext->NumStats == FNumMasked);
      EncodeSymbol2(symbol, coder);
    }
    NextContext();
    coder.Normalize();
    if (coder.Failed()) return false;
  }
}

bool TPPMModel::EncodeBlock(const uint8_t* in, size_t size, TRangeEncoder& target) {
  // A local copy, as in DecodeBlock: its fields stay in registers.
  TRangeEncoder coder = target;
  const bool ok = EncodeSymbols(in, size, coder);
  target = coder;
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Decoding

[[gnu::always_inline]] inline bool TPPMModel::DecodeSymbol1(TRangeDecoder& coder) {
  TContext* mc = FMinContext;
  const uint32_t scale = mc->SummFreq;
  TState* p = StatsOf(mc);
  if (!coder.SetScale(scale)) return false;
  uint32_t hi = p->Freq;
  if (coder.Below(hi)) {
    coder.Decode(0, hi);
    FPrevSuccess = 2 * hi > scale;
    FRunLength += FPrevSuccess;
    FFoundState = p;
    p->Freq = static_cast<uint8_t>(hi + 4);
    mc->SummFreq = static_cast<uint16_t>(mc->SummFreq + 4);
    if (p->Freq > cMaxFreq) Rescale();
    return true;
  }
  FPrevSuccess = 0;
  for (int i = mc->NumStats - 1; i > 0; --i) {
    ++p;
    if (coder.Below(hi += p->Freq)) {
      coder.Decode(hi - p->Freq, hi);
      Update1(p);
      return true;
    }
  }
  FHiBitsFlag = cTables.HB2Flag[FFoundState->Symbol];
  coder.Decode(hi, scale);
  for (int i = mc->NumStats; i > 0; --i, --p) FCharMask[p->Symbol] = FEscCount;
  FNumMasked = mc->NumStats;
  FFoundState = nullptr;
  return true;
}

[[gnu::always_inline]] inline bool TPPMModel::DecodeBinSymbol(TRangeDecoder& coder) {
  TState* rs = OneState(FMinContext);
  uint16_t& bs = BinSumm();
  if (!coder.SetShift(cTotBits)) return false;
  if (coder.Below(bs)) {
    coder.Decode(0, bs);
    FFoundState = rs;
    rs->Freq = static_cast<uint8_t>(rs->Freq + (rs->Freq < 128));
    bs = static_cast<uint16_t>(bs + cInterval - GetMean(bs));
    FPrevSuccess = 1;
    ++FRunLength;
  } else {
    coder.Decode(bs, cBinScale);
    bs = static_cast<uint16_t>(bs - GetMean(bs));
    FInitEsc = cExpEscape[bs >> 10];
    FNumMasked = 1;
    FCharMask[rs->Symbol] = FEscCount;
    FPrevSuccess = 0;
    FFoundState = nullptr;
  }
  return true;
}

[[gnu::always_inline]] inline bool TPPMModel::DecodeSymbol2(TRangeDecoder& coder) {
  TContext* mc = FMinContext;
  const int numUnmasked = mc->NumStats - FNumMasked;
  uint32_t escFreq;
  TSee* see = MakeEscFreq(numUnmasked, escFreq);
  // Gathered without a branch on the mask (see EncodeSymbol2).
  TState* ps[256];
  TState* p = StatsOf(mc);
  uint32_t total = 0;
  const uint8_t* const mask = FCharMask;
  const uint8_t escCount = FEscCount;
  for (int taken = 0; taken < numUnmasked; ++p) {
    const uint32_t take = mask[p->Symbol] != escCount;
    ps[taken] = p;
    total += p->Freq & (0u - take);
    taken += int(take);
  }
  const uint32_t scale = escFreq + total;
  if (!coder.SetScale(scale)) return false;
  if (coder.Below(total)) {
    uint32_t hi = 0;
    int k = 0;
    while (!coder.Below(hi += ps[k]->Freq)) ++k;
    p = ps[k];
    coder.Decode(hi - p->Freq, hi);
    SeeUpdate(*see);
    Update2(p);
    return true;
  }
  coder.Decode(total, scale);
  see->Summ = static_cast<uint16_t>(see->Summ + scale);
  for (int i = 0; i < numUnmasked; ++i) FCharMask[ps[i]->Symbol] = FEscCount;
  FNumMasked = mc->NumStats;
  return true;
}

[[gnu::always_inline]] inline int64_t TPPMModel::DecodeSymbols(uint8_t* out, size_t capacity, TRangeDecoder& coder) {
  size_t produced = 0;
  for (;;) {
    PrefetchLikelySuccessor();
    bool ok = FMinContext->NumStats != 1 ? DecodeSymbol1(coder) : DecodeBinSymbol(coder);
    if (!ok) return -1;
    while (FFoundState == nullptr) {
      coder.Normalize();
      do {
        ++FOrderFall;
        if (FMinContext->Suffix == 0) return coder.Failed() ? -1 : static_cast<int64_t>(produced);
        FMinContext = Ctx(FMinContext->Suffix);
      } while (FMinContext->NumStats == FNumMasked);
      if (!DecodeSymbol2(coder)) return -1;
    }
    if (produced == capacity) return -1;
    out[produced++] = FFoundState->Symbol;
    NextContext();
    coder.Normalize();
    if (coder.Failed()) return -1;
  }
}

int64_t TPPMModel::DecodeBlock(uint8_t* out, size_t capacity, TRangeDecoder& source) {
  // A copy whose address stays here, so its fields can live in registers: the byte stores of
  // the model and the output could alias the caller's.
  TRangeDecoder coder = source;
  const int64_t produced = DecodeSymbols(out, capacity, coder);
  source = coder;
  return produced;
}

}  // namespace sfs::ppm
