// Opens a container image held in memory and reads every file in it, then runs the check; then
// opens it for writing and changes every file in it, then runs the check again.
//
// The input is taken two ways, chosen by its first byte: as a whole container image (odd), or
// (even) as a list of byte changes applied to a sound container with folders, files of several
// sizes, two map pages and a file with its own password, which reaches deep into the maps and
// records quickly. Failing with a platform::Exception is expected; anything else is a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Exception.h"
#include "platform/Stream.h"
#include "sfs/SingleFileSystem.h"

namespace {

constexpr char cPassword[] = "fuzz";

void Put(sfs::TSingleFileSystem& fs, const std::string& name, size_t size, const std::string& password = {}) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + size);
  const int32_t h = fs.FileOpen(name, platform::fmCreate, password);
  fs.FileWrite(h, data.data(), static_cast<int32_t>(size));
  fs.FileClose(h);
}

const std::vector<uint8_t>& BaseImage(bool enciphered) {
  static std::vector<uint8_t> images[2];
  std::vector<uint8_t>& image = images[enciphered ? 1 : 0];
  if (image.empty()) {
    sfs::TSingleFileSystem fs;
    sfs::TSFSCreateOptions o;
    o.PageSize = 1024;
    o.ExtentPageCount = 4;
    if (enciphered) o.Password = cPassword;
    fs.CreateInMemory(o);
    fs.ForceDirectories("a/b");
    Put(fs, "a/b/one", 1);
    Put(fs, "a/page", 992);
    Put(fs, "big", 260 * 992 + 5);
    Put(fs, "own", 3000, "secret");
    Put(fs, "gone", 100);
    fs.DeleteFile("gone");
    image = fs.SaveToImage();
  }
  return image;
}

void ReadEverything(sfs::TSingleFileSystem& fs) {
  std::vector<uint8_t> buf(70000);
  for (const auto& entry : fs.ListFiles()) {
    if (entry.Element.IsFolder) continue;
    const std::string password = entry.Element.EncMethod ? "secret" : "";
    const int32_t h = fs.FileOpen(entry.Path, platform::fmOpenRead, password);
    if (h <= 0) continue;
    // Bounded: a damaged record may claim any size.
    for (int i = 0; i < 64; ++i)
      if (fs.FileRead(h, buf.data(), static_cast<int32_t>(buf.size())) <= 0) break;
    fs.FileSeek(h, 0, 4000);
    fs.FileRead(h, buf.data(), 10);
    fs.FileClose(h);
  }
  fs.CheckIntegrity();
}

// Changes on top of whatever the image holds: growing, overwriting, shrinking, a new file in a
// new folder and a deletion, then the check again.
void ChangeEverything(sfs::TSingleFileSystem& fs) {
  std::vector<uint8_t> data(9000, 0x5A);
  const auto list = fs.ListFiles();
  for (const auto& entry : list) {
    if (entry.Element.IsFolder) continue;
    const std::string password = entry.Element.EncMethod ? "secret" : "";
    const int32_t h = fs.FileOpen(entry.Path, platform::fmOpenReadWrite, password);
    if (h <= 0) continue;
    fs.FileSeek(h, 0, 500);
    fs.FileWrite(h, data.data(), static_cast<int32_t>(data.size()));
    fs.FileSetSize(h, 700);
    fs.FileClose(h);
  }
  const int32_t h = fs.FileOpen("n/e/w", platform::fmCreate);
  if (h > 0) {
    fs.FileWrite(h, data.data(), static_cast<int32_t>(data.size()));
    fs.FileClose(h);
  }
  if (!list.empty()) fs.DeleteFile(list.front().Path);
  fs.CheckIntegrity();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> image;
  std::string password;
  if (data[0] & 1) {
    image.assign(data + 1, data + size);
    password = cPassword;
  } else {
    const bool enciphered = (data[0] & 2) != 0;
    image = BaseImage(enciphered);
    if (enciphered) password = cPassword;
    // Changes of four bytes each: a 24-bit offset and a value to XOR there.
    for (size_t i = 1; i + 4 <= size; i += 4) {
      const size_t off = (size_t{data[i]} | size_t{data[i + 1]} << 8 | size_t{data[i + 2]} << 16) % image.size();
      image[off] ^= data[i + 3];
    }
  }
  try {
    sfs::TSingleFileSystem fs;
    fs.OpenFromImage(image, password, true);
    ReadEverything(fs);
  } catch (const platform::Exception&) {
  }
  try {
    sfs::TSingleFileSystem fs;
    fs.OpenFromImage(std::move(image), password, false);
    ChangeEverything(fs);
  } catch (const platform::Exception&) {
  }
  return 0;
}
