// Stream files inside an in-memory container, opened and read in full.
//
// Input byte 0 picks the form: even, the rest of the input is the whole file, opened read-only;
// odd, a sound stream file of the level named by byte 1 is taken and damaged by the rest: byte 2
// cuts up to 255 bytes off its end, byte 3 picks the read size and the edit (below), bytes 4 to 8
// are the edit's offset, length and new size, then every three bytes (offset low, offset high,
// mask) flip bits in the file.
//
// Edit: with bit 7 of byte 3 the file is opened for writing too (so that the repair of a cut tail
// is stored), and once it has been read in full some bytes are written at an offset (bit 6 also
// changes its size); when that succeeds the stream must read back exactly what a plain copy of
// its bytes says.
//
// The sound files are made once per level, with 256-byte blocks so that a short file has many
// blocks and a chain worth breaking. Every failure must be a platform::Exception; anything else,
// a crash, a hang, an out-of-bounds access or a wrong read-back is a finding.
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

struct TEdit {
  uint8_t selector = 0;   // bits 0-5: read size; bit 6: change the size; bit 7: writable
  uint16_t offset = 0;    // where the edit writes, modulo the stream size plus a little
  uint8_t length = 0;     // bytes written, plus one
  uint16_t newSize = 0;   // the size set afterwards, modulo twice the stream size plus one
};

TBytes ReadToEnd(platform::TStream& s, int32_t chunk, int64_t size) {
  TBytes out;
  std::vector<uint8_t> buffer(static_cast<size_t>(chunk));
  for (;;) {
    const int32_t got = s.Read(buffer.data(), chunk);
    if (got <= 0) break;
    out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    if (static_cast<int64_t>(out.size()) > size) __builtin_trap();  // more bytes than the stream claims
  }
  return out;
}

void ReadAndEdit(const TEdit& edit) {
  const bool writable = (edit.selector & 0x80) != 0;
  const uint16_t mode = writable ? platform::fmOpenReadWrite : platform::fmOpenRead | platform::fmShareDenyWrite;
  auto stream = std::make_unique<sfs::TSFSFileStream>(&Container(), "fuzz.bin", mode, "", "", "", sfs::sfsNone);
  sfs::TSFSFileStream& s = *stream;
  const int32_t chunk = 1 + (edit.selector & 0x3F) * 37;
  const int64_t size = s.GetSize();
  TBytes model = ReadToEnd(s, chunk, size);
  // Once more from the middle, where the block cache is cold for a different block.
  std::vector<uint8_t> buffer(static_cast<size_t>(chunk));
  s.Seek(size / 2, platform::soBeginning);
  s.Read(buffer.data(), chunk);
  // Only a stream that read in full has a known content to edit against.
  if (!writable || static_cast<int64_t>(model.size()) != size) return;

  const auto offset = static_cast<int64_t>(edit.offset % (size + 300));
  TBytes patch(static_cast<size_t>(edit.length) + 1);
  for (size_t i = 0; i < patch.size(); ++i) patch[i] = static_cast<uint8_t>(edit.offset + i * 7);
  s.Seek(offset, platform::soBeginning);
  if (s.Write(patch.data(), static_cast<int32_t>(patch.size())) != static_cast<int32_t>(patch.size()))
    __builtin_trap();  // a refused write must raise, not report a short count
  const auto end = static_cast<size_t>(offset) + patch.size();
  if (model.size() < end) model.resize(end, 0);
  std::copy(patch.begin(), patch.end(), model.begin() + offset);
  if (edit.selector & 0x40) {
    const auto newSize = static_cast<int64_t>(edit.newSize % (2 * model.size() + 1));
    s.SetSize(newSize);
    model.resize(static_cast<size_t>(newSize), 0);
  }
  s.Seek(0, platform::soBeginning);
  if (ReadToEnd(s, chunk, s.GetSize()) != model) __builtin_trap();
  stream.reset();
  sfs::TSFSFileStream again(&Container(), "fuzz.bin", platform::fmOpenRead, "", "", "", sfs::sfsNone);
  if (ReadToEnd(again, 4096, again.GetSize()) != model) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  TBytes file;
  TEdit edit;
  if ((data[0] & 1) == 0) {
    file.assign(data + 1, data + size);
  } else {
    if (size < 9) return 0;
    // ppmMax needs a 50 MB model per block; the other PPM levels cover the same coder.
    int level = 1 + data[1] % 9;
    if (level == static_cast<int>(sfs::ppmMax)) level = static_cast<int>(sfs::ppmFastest);
    try {
      file = SoundFile(static_cast<sfs::TSFSCompressionLevel>(level));
    } catch (const platform::Exception&) {
      return 0;
    }
    file.resize(file.size() - std::min<size_t>(file.size(), data[2]));
    edit.selector = data[3];
    edit.offset = static_cast<uint16_t>(data[4] | (data[5] << 8));
    edit.length = data[6];
    edit.newSize = static_cast<uint16_t>(data[7] | (data[8] << 8));
    for (size_t i = 9; i + 2 < size && !file.empty(); i += 3) {
      const size_t offset = (data[i] | (data[i + 1] << 8)) % file.size();
      file[offset] ^= data[i + 2];
    }
  }
  try {
    StoreRaw("fuzz.bin", file);
    ReadAndEdit(edit);
  } catch (const platform::Exception&) {
  }
  return 0;
}
