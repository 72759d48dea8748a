#include "crypto/CryptUtil.h"

#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <utility>

namespace crypto {

namespace {

constexpr std::array<uint16_t, 256> MakeCRC16Table() {
  std::array<uint16_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    table[i] = static_cast<uint16_t>(crc);
  }
  return table;
}

constexpr std::array<uint32_t, 256> MakeCRC32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    table[i] = crc;
  }
  return table;
}

constexpr auto cCRC16Table = MakeCRC16Table();
constexpr auto cCRC32Table = MakeCRC32Table();

TProgressEvent& ProgressEvent() {
  static TProgressEvent event;
  return event;
}

}  // namespace

void XORBuffers(const void* I1, const void* I2, int32_t Size, void* Dest) {
  const auto* a = static_cast<const uint8_t*>(I1);
  const auto* b = static_cast<const uint8_t*>(I2);
  auto* d = static_cast<uint8_t*>(Dest);
  for (int32_t i = 0; i < Size; ++i) d[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

int32_t MemCompare(const void* P1, const void* P2, int32_t Size) {
  const auto* a = static_cast<const uint8_t*>(P1);
  const auto* b = static_cast<const uint8_t*>(P2);
  for (int32_t i = 0; i < Size; ++i)
    if (a[i] != b[i]) return static_cast<int32_t>(a[i]) - static_cast<int32_t>(b[i]);
  return 0;
}

void SwapIntegerBuffer(const void* Source, void* Dest, int32_t Count) {
  const auto* s = static_cast<const uint8_t*>(Source);
  auto* d = static_cast<uint8_t*>(Dest);
  for (int32_t i = 0; i < Count; ++i) {
    uint32_t w;
    std::memcpy(&w, s + 4 * i, 4);
    w = SwapInteger(w);
    std::memcpy(d + 4 * i, &w, 4);
  }
}

uint16_t CRC16(uint16_t CRC, const void* Data, int32_t Size) {
  if (Data == nullptr) return CRC;
  const auto* p = static_cast<const uint8_t*>(Data);
  for (int32_t i = 0; i < Size; ++i) CRC = static_cast<uint16_t>((CRC >> 8) ^ cCRC16Table[(CRC ^ p[i]) & 0xFF]);
  return CRC;
}

uint32_t CRC32(uint32_t CRC, const void* Data, int32_t Size) {
  if (Data == nullptr) return CRC;
  const auto* p = static_cast<const uint8_t*>(Data);
  for (int32_t i = 0; i < Size; ++i) CRC = (CRC >> 8) ^ cCRC32Table[(CRC ^ p[i]) & 0xFF];
  return CRC;
}

uint32_t RndTimeSeed() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto sinceMidnight = now.time_since_epoch() % days(1);
  const auto ms = static_cast<uint32_t>(duration_cast<milliseconds>(sinceMidnight).count());
  const auto counter = static_cast<uint64_t>(steady_clock::now().time_since_epoch().count());
  return ms ^ static_cast<uint32_t>(counter) ^ static_cast<uint32_t>(counter >> 32);
}

uint32_t RndXORBuffer(uint32_t Seed, void* Buffer, int32_t Size) {
  auto* p = static_cast<uint8_t*>(Buffer);
  for (int32_t i = 0; i < Size; ++i) {
    Seed = (Seed & 0xFFFFFF00u) | ((Seed ^ p[i]) & 0xFFu);
    Seed = Seed * 134775813u + 1u;
    p[i] = static_cast<uint8_t>(Seed >> 24);
  }
  return Seed;
}

void SecureFill(void* Buffer, size_t Size, uint8_t Value) {
  volatile auto* p = static_cast<volatile uint8_t*>(Buffer);
  for (size_t i = 0; i < Size; ++i) p[i] = Value;
}

void ProtectBuffer(void* Buffer, size_t Size, uint8_t Final) {
  if (Buffer == nullptr || Size == 0) return;
  SecureFill(Buffer, Size, 0xAA);
  SecureFill(Buffer, Size, 0x55);
  SecureFill(Buffer, Size, Final);
}

void ProtectString(std::string& Value, uint8_t Final) { ProtectBuffer(Value.data(), Value.size(), Final); }

void SetProgress(TProgressEvent Event) { ProgressEvent() = std::move(Event); }

void DoProgress(TProtection* Sender, int64_t Current, int64_t Maximal) {
  auto& event = ProgressEvent();
  if (event) event(Sender, Current, Maximal);
}

}  // namespace crypto
