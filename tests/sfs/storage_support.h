// Helpers shared by the storage tests: temporary folders and random bytes.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace sfs_test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "sfs-storage-XXXXXX").string();
    FPath = ::mkdtemp(tmpl.data());
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

}  // namespace sfs_test
