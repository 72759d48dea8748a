// PPMCompressBuffer and PPMDecompressBuffer: the parameter word and the shared model memory.
#include <memory>
#include <mutex>

#include "sfs/Compression.h"
#include "sfs/PPMModel.h"

namespace sfs {
namespace {

constexpr uint32_t cVariantG = 'G' - 'A';

// The model memory is process-wide and kept for further blocks of the same size. One lock
// serialises every block that uses it.
struct TSharedModel {
  std::mutex Lock;
  ppm::TPPMSubAllocator Allocator;
  std::unique_ptr<ppm::TPPMModel> Model;
};

TSharedModel& Shared() {
  static TSharedModel shared;
  return shared;
}

// Gets the memory and a model on it, both under the caller's lock.
ppm::TPPMModel* Prepare(TSharedModel& shared, int memoryMB) {
  if (!shared.Allocator.Start(static_cast<uint32_t>(memoryMB) << 20)) return nullptr;
  if (!shared.Model) shared.Model = std::make_unique<ppm::TPPMModel>(shared.Allocator);
  return shared.Model.get();
}

}  // namespace

int32_t PPMCompressBuffer(const void* inBuf, int32_t inSize, void* outBuf, int32_t outCapacity, int order,
                          int memoryMB) {
  if (inSize < 0 || (inSize > 0 && inBuf == nullptr) || outBuf == nullptr || outCapacity < 4) return 0;
  if (order < ppm::cMinOrder || order > ppm::cMaxOrder || memoryMB < 1 || memoryMB > 256) return 0;
  const uint32_t word = uint32_t(order - 1) | uint32_t(memoryMB - 1) << 4 | cVariantG << 12;
  auto* out = static_cast<uint8_t*>(outBuf);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(word >> (8 * i));

  TSharedModel& shared = Shared();
  std::lock_guard<std::mutex> guard(shared.Lock);
  ppm::TPPMModel* model = Prepare(shared, memoryMB);
  if (model == nullptr) return 0;
  model->Start(order);
  ppm::TRangeEncoder coder(out + 4, out + outCapacity);
  if (!model->EncodeBlock(static_cast<const uint8_t*>(inBuf), static_cast<size_t>(inSize), coder)) return 0;
  return static_cast<int32_t>(coder.Position() - out);
}

int32_t PPMDecompressBuffer(const void* inBuf, int32_t inSize, void* outBuf, int32_t outCapacity) {
  if (inBuf == nullptr || inSize < 4 || outBuf == nullptr || outCapacity < 0) return 0;
  const auto* in = static_cast<const uint8_t*>(inBuf);
  const uint32_t word = uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
  const int order = static_cast<int>(word & 0x0F) + 1;
  const int memoryMB = static_cast<int>((word >> 4) & 0xFF) + 1;
  if (((word >> 12) & 0x0F) != cVariantG || order < ppm::cMinOrder) return 0;

  TSharedModel& shared = Shared();
  std::lock_guard<std::mutex> guard(shared.Lock);
  ppm::TPPMModel* model = Prepare(shared, memoryMB);
  if (model == nullptr) return 0;
  model->Start(order);
  ppm::TRangeDecoder coder(in + 4, in + inSize);
  int64_t n = model->DecodeBlock(static_cast<uint8_t*>(outBuf), static_cast<size_t>(outCapacity), coder);
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

}  // namespace sfs
