// The commands of the codec layer: compress and decompress one whole buffer.
#include <cstdint>
#include <limits>
#include <string>

#include "Command.h"
#include "Tool.h"
#include "sfs/Compression.h"

namespace {

sfs::TSFSCompressionLevel ParseLevel(const std::string& Name) {
  auto level = sfs::SFSCompressionLevelFromName(Name);
  if (!level) throw sfstool::TUsageError("unknown compression level: " + Name);
  return *level;
}

// The layer works on 32-bit sizes.
int32_t InputSize(const std::string& Input) {
  if (Input.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw sfstool::TToolError("input too large for one buffer");
  return static_cast<int32_t>(Input.size());
}

// --- compress ---

struct TCompressArgs {
  std::string Level;
  std::string File = "-";
} gCompress;

int RunCompress() {
  const sfs::TSFSCompressionLevel level = ParseLevel(gCompress.Level);
  const std::string input = sfstool::ReadInput(gCompress.File);
  if (input.empty()) throw sfstool::TToolError("empty input: nothing to compress");
  sfs::TSFSBuffer packed;
  int32_t packedSize = 0;
  if (!sfs::SFSInternalCompressBuffer(input.data(), InputSize(input), packed, packedSize, level))
    throw sfstool::TToolError("compression with " + std::string(sfs::SFSCompressionLevelName(level)) + " failed");
  sfstool::WriteOutput("-", std::string_view(reinterpret_cast<const char*>(packed.data()), packed.size()));
  return 0;
}

sfstool::TRegisterCommand gCompressCommand({
    .Name = "compress",
    .Description = "Packs the whole input as one buffer through the codec layer",
    .Usage = "sfs compress LEVEL [FILE]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("LEVEL", gCompress.Level, "compression level name (sfsNone, zlibFastest, ... bzipMax)")
              ->required();
          cmd.add_option("FILE", gCompress.File, "input file, - for standard input (default)");
        },
    .Run = RunCompress,
});

// --- decompress ---

struct TDecompressArgs {
  std::string Level;
  int64_t Size = 0;
  std::string File = "-";
} gDecompress;

int RunDecompress() {
  const sfs::TSFSCompressionLevel level = ParseLevel(gDecompress.Level);
  if (gDecompress.Size < 1 || gDecompress.Size > std::numeric_limits<int32_t>::max())
    throw sfstool::TUsageError("--size must be from 1 to " + std::to_string(std::numeric_limits<int32_t>::max()));
  const std::string input = sfstool::ReadInput(gDecompress.File);
  sfs::TSFSBuffer unpacked;
  int32_t size = static_cast<int32_t>(gDecompress.Size);
  if (!sfs::SFSInternalDecompressBuffer(input.data(), InputSize(input), unpacked, size, level))
    throw sfstool::TToolError("decompression with " + std::string(sfs::SFSCompressionLevelName(level)) +
                              " failed: corrupt or truncated input");
  if (size != gDecompress.Size)
    throw sfstool::TToolError("decompression gave " + std::to_string(size) + " bytes, expected " +
                              std::to_string(gDecompress.Size));
  sfstool::WriteOutput("-", std::string_view(reinterpret_cast<const char*>(unpacked.data()), unpacked.size()));
  return 0;
}

sfstool::TRegisterCommand gDecompressCommand({
    .Name = "decompress",
    .Description = "Unpacks a buffer written by compress; N is the unpacked size",
    .Usage = "sfs decompress LEVEL --size N [FILE]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("LEVEL", gDecompress.Level, "compression level name")->required();
          cmd.add_option("--size", gDecompress.Size, "expected unpacked size in bytes")->required();
          cmd.add_option("FILE", gDecompress.File, "input file, - for standard input (default)");
        },
    .Run = RunDecompress,
});

}  // namespace
