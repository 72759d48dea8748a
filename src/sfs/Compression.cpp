#include "sfs/Compression.h"

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <exception>
#include <string>

namespace sfs {
namespace {

struct TLevelInfo {
  std::string_view name;
  int32_t blockSize;
};

constexpr int32_t cKiB = 1024;
constexpr std::array<TLevelInfo, cSFSCompressionLevelCount> cLevels = {{
    {"sfsNone", 1024 * cKiB},
    {"zlibFastest", 512 * cKiB},
    {"zlibNormal", 1024 * cKiB},
    {"ppmNormal", 1024 * cKiB},
    {"ppmMax", 1536 * cKiB},
    {"zlibMax", 1536 * cKiB},
    {"ppmFastest", 512 * cKiB},
    {"bzipFastest", 512 * cKiB},
    {"bzipNormal", 1024 * cKiB},
    {"bzipMax", 1536 * cKiB},
}};

constexpr int32_t RoundUp256(int64_t n) { return static_cast<int32_t>((n + 255) & ~int64_t(255)); }

// Start size of a zlib or bzip2 output buffer: the input plus a tenth plus 12, rounded up to 256.
int32_t PackedEstimate(int32_t inBytes) { return RoundUp256(int64_t(inBytes) + inBytes / 10 + 12); }

[[noreturn]] void ThrowBZ(bool compressing, int code) {
  std::string message = "error " + std::to_string(code);
  if (compressing) throw EBZCompressionError(message);
  throw EBZDecompressionError(message);
}

struct TZLevel {
  bool isZlib;
  bool isBzip;
  bool isPPM;
  int parameter;  // zlib level, bzip2 block size in 100 kB, PPM order
  int memoryMB;   // PPM only
};

TZLevel Describe(TSFSCompressionLevel level) {
  switch (level) {
    case zlibFastest: return {true, false, false, 1, 0};
    case zlibNormal: return {true, false, false, 5, 0};
    case zlibMax: return {true, false, false, 9, 0};
    case bzipFastest: return {false, true, false, 2, 0};
    case bzipNormal: return {false, true, false, 6, 0};
    case bzipMax: return {false, true, false, 9, 0};
    case ppmFastest: return {false, false, true, 3, 10};
    case ppmNormal: return {false, false, true, 5, 25};
    case ppmMax: return {false, false, true, 13, 50};
    default: return {false, false, false, 0, 0};
  }
}

}  // namespace

std::string_view SFSCompressionLevelName(TSFSCompressionLevel level) {
  auto ordinal = static_cast<size_t>(level);
  return ordinal < cLevels.size() ? cLevels[ordinal].name : std::string_view();
}

std::optional<TSFSCompressionLevel> SFSCompressionLevelFromName(std::string_view name) {
  for (size_t i = 0; i < cLevels.size(); ++i) {
    std::string_view candidate = cLevels[i].name;
    if (candidate.size() == name.size() &&
        std::equal(candidate.begin(), candidate.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        })) {
      return static_cast<TSFSCompressionLevel>(i);
    }
  }
  return std::nullopt;
}

int32_t SFSInternalGetBlockSize(TSFSCompressionLevel level) {
  auto ordinal = static_cast<size_t>(level);
  return ordinal < cLevels.size() ? cLevels[ordinal].blockSize : 1024 * cKiB;
}

// ---------------------------------------------------------------------------------------------
// zlib

void ZLIBCompressBuf(const void* InBuf, int32_t InBytes, TSFSBuffer& OutBuf, int32_t& OutBytes, int compMode) {
  OutBuf.clear();
  OutBytes = 0;
  z_stream strm{};
  strm.next_in = static_cast<Bytef*>(const_cast<void*>(InBuf));
  strm.avail_in = static_cast<uInt>(std::max(InBytes, 0));
  TSFSBuffer out(static_cast<size_t>(PackedEstimate(std::max(InBytes, 0))));
  if (deflateInit(&strm, compMode) < 0) throw ECompressionError("error");
  strm.next_out = out.data();
  strm.avail_out = static_cast<uInt>(out.size());
  for (;;) {
    int rc = deflate(&strm, Z_FINISH);
    if (rc < 0) {
      deflateEnd(&strm);
      throw ECompressionError("error");
    }
    if (rc == Z_STREAM_END) break;
    size_t used = out.size() - strm.avail_out;
    out.resize(out.size() + 256);
    strm.next_out = out.data() + used;
    strm.avail_out = static_cast<uInt>(out.size() - used);
  }
  out.resize(strm.total_out);
  if (deflateEnd(&strm) < 0) throw ECompressionError("error");
  OutBytes = static_cast<int32_t>(out.size());
  OutBuf = std::move(out);
}

void ZLIBDecompressBuf(const void* InBuf, int32_t InBytes, int32_t OutEstimate, TSFSBuffer& OutBuf,
                       int32_t& OutBytes) {
  OutBuf.clear();
  OutBytes = 0;
  const int32_t bufInc = std::max(RoundUp256(std::max(InBytes, 0)), 256);
  TSFSBuffer out(static_cast<size_t>(OutEstimate > 0 ? OutEstimate : bufInc));
  z_stream strm{};
  strm.next_in = static_cast<Bytef*>(const_cast<void*>(InBuf));
  strm.avail_in = static_cast<uInt>(std::max(InBytes, 0));
  if (inflateInit(&strm) < 0) throw EDecompressionError("error");
  strm.next_out = out.data();
  strm.avail_out = static_cast<uInt>(out.size());
  auto fail = [&]() {
    inflateEnd(&strm);
    throw EDecompressionError("error");
  };
  for (;;) {
    int rc = inflate(&strm, Z_FINISH);
    if (rc == Z_STREAM_END) break;
    if (rc < 0 && !(rc == Z_BUF_ERROR && strm.avail_out == 0)) fail();
    if (rc == Z_NEED_DICT) fail();
    if (strm.avail_out != 0) fail();  // no input left before the end of the stream
    if (OutEstimate > 0) {
      // Never beyond the expected size: one probe byte shows whether the stream only has its
      // trailer left or would produce more.
      uint8_t probe = 0;
      strm.next_out = &probe;
      strm.avail_out = 1;
      rc = inflate(&strm, Z_FINISH);
      if (rc != Z_STREAM_END || strm.avail_out != 1) fail();
      break;
    }
    size_t used = out.size();
    out.resize(out.size() + static_cast<size_t>(bufInc));
    strm.next_out = out.data() + used;
    strm.avail_out = static_cast<uInt>(out.size() - used);
  }
  out.resize(strm.total_out);
  inflateEnd(&strm);
  OutBytes = static_cast<int32_t>(out.size());
  OutBuf = std::move(out);
}

// ---------------------------------------------------------------------------------------------
// bzip2

void BZCompressBuf(const void* InBuf, int32_t InBytes, TSFSBuffer& OutBuf, int32_t& OutBytes, int blockSize100k) {
  OutBuf.clear();
  OutBytes = 0;
  bz_stream strm{};
  int rc = BZ2_bzCompressInit(&strm, blockSize100k, 0, 0);
  if (rc < 0) ThrowBZ(true, rc);
  TSFSBuffer out(static_cast<size_t>(PackedEstimate(std::max(InBytes, 0))));
  strm.next_in = static_cast<char*>(const_cast<void*>(InBuf));
  strm.avail_in = static_cast<unsigned>(std::max(InBytes, 0));
  strm.next_out = reinterpret_cast<char*>(out.data());
  strm.avail_out = static_cast<unsigned>(out.size());
  for (;;) {
    rc = BZ2_bzCompress(&strm, BZ_FINISH);
    if (rc < 0) {
      BZ2_bzCompressEnd(&strm);
      ThrowBZ(true, rc);
    }
    if (rc == BZ_STREAM_END) break;
    size_t used = out.size() - strm.avail_out;
    out.resize(out.size() + 256);
    strm.next_out = reinterpret_cast<char*>(out.data() + used);
    strm.avail_out = static_cast<unsigned>(out.size() - used);
  }
  out.resize(out.size() - strm.avail_out);
  rc = BZ2_bzCompressEnd(&strm);
  if (rc < 0) ThrowBZ(true, rc);
  OutBytes = static_cast<int32_t>(out.size());
  OutBuf = std::move(out);
}

void BZDecompressBuf(const void* InBuf, int32_t InBytes, int32_t OutEstimate, TSFSBuffer& OutBuf,
                     int32_t& OutBytes) {
  OutBuf.clear();
  OutBytes = 0;
  const int32_t bufInc = std::max(RoundUp256(std::max(InBytes, 0)), 256);
  TSFSBuffer out(static_cast<size_t>(OutEstimate > 0 ? OutEstimate : bufInc));
  bz_stream strm{};
  int rc = BZ2_bzDecompressInit(&strm, 0, 0);
  if (rc < 0) ThrowBZ(false, rc);
  strm.next_in = static_cast<char*>(const_cast<void*>(InBuf));
  strm.avail_in = static_cast<unsigned>(std::max(InBytes, 0));
  strm.next_out = reinterpret_cast<char*>(out.data());
  strm.avail_out = static_cast<unsigned>(out.size());
  auto fail = [&](int code) {
    BZ2_bzDecompressEnd(&strm);
    ThrowBZ(false, code);
  };
  for (;;) {
    rc = BZ2_bzDecompress(&strm);
    if (rc < 0) fail(rc);
    if (rc == BZ_STREAM_END) break;
    // Input used up before the end of the stream: truncated.
    if (strm.avail_out != 0) fail(BZ_UNEXPECTED_EOF);
    if (OutEstimate > 0) {
      uint8_t probe = 0;
      strm.next_out = reinterpret_cast<char*>(&probe);
      strm.avail_out = 1;
      rc = BZ2_bzDecompress(&strm);
      if (rc < 0) fail(rc);
      if (rc != BZ_STREAM_END || strm.avail_out != 1) fail(BZ_DATA_ERROR);
      break;
    }
    size_t used = out.size();
    out.resize(out.size() + static_cast<size_t>(bufInc));
    strm.next_out = reinterpret_cast<char*>(out.data() + used);
    strm.avail_out = static_cast<unsigned>(out.size() - used);
  }
  uint64_t produced = (uint64_t(strm.total_out_hi32) << 32) | strm.total_out_lo32;
  out.resize(static_cast<size_t>(produced));
  BZ2_bzDecompressEnd(&strm);
  OutBytes = static_cast<int32_t>(out.size());
  OutBuf = std::move(out);
}

// ---------------------------------------------------------------------------------------------
// The layer

bool SFSInternalCompressBuffer(const void* inBuf, int32_t inSize, TSFSBuffer& outBuf, int32_t& outSize,
                               TSFSCompressionLevel compressionLevel) {
  outBuf.clear();
  outSize = 0;
  if (inSize <= 0 || inBuf == nullptr) return false;
  try {
    if (compressionLevel == sfsNone) {
      const auto* in = static_cast<const uint8_t*>(inBuf);
      outBuf.assign(in, in + inSize);
      outSize = inSize;
      return true;
    }
    TZLevel d = Describe(compressionLevel);
    if (d.isZlib) {
      ZLIBCompressBuf(inBuf, inSize, outBuf, outSize, d.parameter);
    } else if (d.isBzip) {
      BZCompressBuf(inBuf, inSize, outBuf, outSize, d.parameter);
    } else if (d.isPPM) {
      outBuf.resize(static_cast<size_t>(int64_t(inSize) + inSize / 20 + 50));
      outSize = PPMCompressBuffer(inBuf, inSize, outBuf.data(), static_cast<int32_t>(outBuf.size()), d.parameter,
                                  d.memoryMB);
      if (outSize == 0 && inSize < (1 << 29)) {
        // Data the model expands by more than a twentieth does not fit; it is packed again into
        // room for twice its size rather than refused.
        outBuf.resize(static_cast<size_t>(2 * int64_t(inSize) + 1024));
        outSize = PPMCompressBuffer(inBuf, inSize, outBuf.data(), static_cast<int32_t>(outBuf.size()), d.parameter,
                                    d.memoryMB);
      }
      outBuf.resize(static_cast<size_t>(std::max(outSize, 0)));
      outBuf.shrink_to_fit();
    } else {
      return false;
    }
  } catch (const std::exception&) {
    outBuf.clear();
    outSize = 0;
    return false;
  }
  if (outSize <= 0) {
    outBuf.clear();
    outSize = 0;
    return false;
  }
  return true;
}

bool SFSInternalDecompressBuffer(const void* inBuf, int32_t inSize, TSFSBuffer& outBuf, int32_t& outSize,
                                 TSFSCompressionLevel compressionLevel) {
  const int32_t expected = outSize;
  outBuf.clear();
  outSize = 0;
  if (expected < 1 || static_cast<int>(compressionLevel) >= cSFSCompressionLevelCount) return false;
  if (inSize <= 0 || inBuf == nullptr) return false;
  try {
    if (compressionLevel == sfsNone) {
      const auto* in = static_cast<const uint8_t*>(inBuf);
      outBuf.assign(in, in + inSize);
      outSize = inSize;
      return true;
    }
    TZLevel d = Describe(compressionLevel);
    if (d.isPPM) {
      outBuf.resize(static_cast<size_t>(expected));
      outSize = PPMDecompressBuffer(inBuf, inSize, outBuf.data(), expected);
      outBuf.resize(static_cast<size_t>(std::max(outSize, 0)));
    } else if (d.isBzip) {
      BZDecompressBuf(inBuf, inSize, expected, outBuf, outSize);
    } else {
      ZLIBDecompressBuf(inBuf, inSize, expected, outBuf, outSize);
    }
  } catch (const std::exception&) {
    outBuf.clear();
    outSize = 0;
    return false;
  }
  if (outSize <= 0) {
    outBuf.clear();
    outSize = 0;
    return false;
  }
  return true;
}

}  // namespace sfs
