// Stream files inside an in-memory container, opened and read in full.
//
// Input byte 0 picks the form: even, the rest of the input is the whole file; odd, a sound stream
// file of the level named by byte 1 is taken and damaged by the rest: byte 2 cuts up to 255
// bytes off its end, then every three bytes (offset low, offset high, mask) flip bits in it.
// The sound files are made once per level, with 256-byte blocks so that a short file has many
// blocks and a chain worth breaking. Every failure must be a platform::Exception; anything else,
// a crash, a hang or an out-of-bounds access is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "platform/Stream.h"
#include "sfs/FileStream.h"
#include "sfs/SingleFileSystem.h"
#include "sfs/UserFileStream.h"

namespace {

using TBytes = std::vector<uint8_t>;

sfs::TSingleFileSystem& Container() {
  static auto* container = [] {
    auto* c = new sfs::TSingleFileSystem();
    c->CreateInMemory();
    return c;
  }();
  return *container;
}

void StoreRaw(const char* name, const TBytes& bytes) {
  sfs::TSFSUserFileStream raw(&Container(), name, platform::fmCreate, "", "", "");
  if (!bytes.empty()) raw.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

TBytes LoadRaw(const char* name) {
  sfs::TSFSUserFileStream raw(&Container(), name, platform::fmOpenRead, "", "", "");
  TBytes bytes(static_cast<size_t>(raw.GetSize()));
  if (!bytes.empty()) raw.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

const TBytes& SoundFile(sfs::TSFSCompressionLevel level) {
  static std::map<int, TBytes> files;
  auto it = files.find(static_cast<int>(level));
  if (it != files.end()) return it->second;
  {
    sfs::TSFSFileStream s(&Container(), "seed.bin", platform::fmCreate, "", "", "", level);
  }
  // Small blocks: patch the block size of the empty stream before the first block is written.
  TBytes header = LoadRaw("seed.bin");
  const int32_t blockSize = 256;
  std::memcpy(header.data() + 4, &blockSize, 4);
  StoreRaw("seed.bin", header);
  {
    sfs::TSFSFileStream s(&Container(), "seed.bin", platform::fmOpenReadWrite, "", "", "", sfs::sfsNone);
    TBytes content(1500);
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>("stream of blocks "[i % 17] + i / 256);
    s.WriteBuffer(content.data(), static_cast<int64_t>(content.size()));
  }
  return files.emplace(static_cast<int>(level), LoadRaw("seed.bin")).first->second;
}

// Bit 7 of the selector opens for writing too, so that the repair of a cut tail is stored.
void ReadFully(uint8_t chunkSelector) {
  const uint16_t mode = (chunkSelector & 0x80) ? platform::fmOpenReadWrite : platform::fmOpenRead | platform::fmShareDenyWrite;
  sfs::TSFSFileStream s(&Container(), "fuzz.bin", mode, "", "", "", sfs::sfsNone);
  const int32_t chunk = 1 + (chunkSelector & 0x7F) * 37;
  std::vector<uint8_t> buffer(static_cast<size_t>(chunk));
  const int64_t size = s.GetSize();
  int64_t total = 0;
  for (;;) {
    const int32_t got = s.Read(buffer.data(), chunk);
    if (got <= 0) break;
    total += got;
    if (total > size) __builtin_trap();  // more bytes than the stream claims
  }
  // Once more from the middle, where the block cache is cold for a different block.
  s.Seek(size / 2, platform::soBeginning);
  s.Read(buffer.data(), chunk);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  TBytes file;
  uint8_t chunkSelector = 0;
  if ((data[0] & 1) == 0) {
    file.assign(data + 1, data + size);
  } else {
    if (size < 4) return 0;
    // ppmMax needs a 50 MB model per block; the other PPM levels cover the same coder.
    int level = 1 + data[1] % 9;
    if (level == static_cast<int>(sfs::ppmMax)) level = static_cast<int>(sfs::ppmFastest);
    try {
      file = SoundFile(static_cast<sfs::TSFSCompressionLevel>(level));
    } catch (const platform::Exception&) {
      return 0;
    }
    file.resize(file.size() - std::min<size_t>(file.size(), data[2]));
    chunkSelector = data[3];
    for (size_t i = 4; i + 2 < size && !file.empty(); i += 3) {
      const size_t offset = (data[i] | (data[i + 1] << 8)) % file.size();
      file[offset] ^= data[i + 2];
    }
  }
  try {
    StoreRaw("fuzz.bin", file);
    ReadFully(chunkSelector);
  } catch (const platform::Exception&) {
  }
  return 0;
}
