// The carry-less range coder of the PPM coder (32-bit low and range, bytes shifted out at the
// top). A symbol is an interval [lowCount, highCount) of a total `scale`, or of 2^shift for the
// binary contexts. Encoder and decoder normalise after every coded interval, so they read and
// write the same number of bytes: 4 at the start of decoding, 4 when the encoder is flushed.
#pragma once

#include <cstdint>

namespace sfs::ppm {

inline constexpr uint32_t cRangeTop = 1u << 24;
inline constexpr uint32_t cRangeBot = 1u << 15;

// Writes into a bounded buffer; Failed() once a byte did not fit or an interval was unusable.
class TRangeEncoder {
 public:
  TRangeEncoder(uint8_t* out, uint8_t* end) : FOut(out), FEnd(end) {}

  void Encode(uint32_t lowCount, uint32_t highCount, uint32_t scale) {
    FRange /= scale;
    if (FRange == 0) FFailed = true;
    FLow += lowCount * FRange;
    FRange *= highCount - lowCount;
  }
  void EncodeShift(uint32_t lowCount, uint32_t highCount, int shift) {
    FRange >>= shift;
    FLow += lowCount * FRange;
    FRange *= highCount - lowCount;
  }
  void Normalize() {
    for (;;) {
      if ((FLow ^ (FLow + FRange)) >= cRangeTop) {
        if (FRange >= cRangeBot) break;
        FRange = (0u - FLow) & (cRangeBot - 1);
      }
      Put(static_cast<uint8_t>(FLow >> 24));
      FRange <<= 8;
      FLow <<= 8;
    }
  }
  void Flush() {
    for (int i = 0; i < 4; ++i) {
      Put(static_cast<uint8_t>(FLow >> 24));
      FLow <<= 8;
    }
  }
  bool Failed() const { return FFailed; }
  uint8_t* Position() const { return FOut; }

 private:
  void Put(uint8_t b) {
    if (FOut == FEnd) {
      FFailed = true;
      return;
    }
    *FOut++ = b;
  }
  uint8_t* FOut;
  uint8_t* FEnd;
  uint32_t FLow = 0;
  uint32_t FRange = 0xFFFFFFFFu;
  bool FFailed = false;
};

// Reads from a bounded buffer; reading past its end or a count outside the scale marks the
// data as corrupt (Failed()), and the caller stops. The decoder keeps the code minus low, and
// finds a symbol by comparing that with a count times the range's share of one (SetScale):
// count < highCount exactly when the code lies below highCount * share, which saves the second
// division on the path of every symbol.
class TRangeDecoder {
 public:
  TRangeDecoder(const uint8_t* in, const uint8_t* end) : FIn(in), FEnd(end) {
    for (int i = 0; i < 4; ++i) FCode = (FCode << 8) | Get();
  }

  // Divides the range by `scale`; false (and Failed()) when the code lies at or past the scale,
  // which a scale larger than the range (a share of 0) always gives.
  bool SetScale(uint32_t scale) {
    FRange /= scale;
    if (!Below(scale)) FFailed = true;
    return !FFailed;
  }
  bool SetShift(int shift) {
    FRange >>= shift;
    if (!Below(1u << shift)) FFailed = true;
    return !FFailed;
  }
  // Whether the symbol's count within the scale is below `count` (count <= scale).
  bool Below(uint32_t count) const { return FCode < count * FRange; }
  void Decode(uint32_t lowCount, uint32_t highCount) {
    const uint32_t low = lowCount * FRange;
    FLow += low;
    FCode -= low;
    FRange *= highCount - lowCount;
  }
  void Normalize() {
    for (;;) {
      if ((FLow ^ (FLow + FRange)) >= cRangeTop) {
        if (FRange >= cRangeBot) break;
        FRange = (0u - FLow) & (cRangeBot - 1);
      }
      FCode = (FCode << 8) | Get();  // (code << 8 | byte) - (low << 8): the byte cannot borrow
      FRange <<= 8;
      FLow <<= 8;
    }
  }
  bool Failed() const { return FFailed; }

 private:
  uint8_t Get() {
    if (FIn == FEnd) {
      FFailed = true;
      return 0;
    }
    return *FIn++;
  }
  const uint8_t* FIn;
  const uint8_t* FEnd;
  uint32_t FLow = 0;
  uint32_t FCode = 0;  // the code minus FLow
  uint32_t FRange = 0xFFFFFFFFu;
  bool FFailed = false;
};

}  // namespace sfs::ppm
