// Running the sfs tool of this build from a test, as a program: standard input from a string,
// standard output and error captured.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace bdtest {

struct TToolRun {
  int Status = -1;  // exit status, -1 when the tool did not exit normally
  std::string Out;
  std::string Err;
};

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::filesystem::path& path, std::string_view data) {
  std::ofstream(path, std::ios::binary)
      .write(data.data(), static_cast<std::streamsize>(data.size()));
}

// The tool of the same build: BD_BINARY_DIR (set by ctest) or, for a test started by hand, the
// build folder the test executable lies in (<build>/tests/<area>/).
inline std::filesystem::path SfsToolPath() {
  if (const char* dir = std::getenv("BD_BINARY_DIR"); dir && *dir)
    return std::filesystem::path(dir) / "tools/sfs/sfs";
  const auto exe = std::filesystem::canonical("/proc/self/exe");
  return exe.parent_path().parent_path().parent_path() / "tools/sfs/sfs";
}

// Runs `sfs Args` (a shell fragment) with Input on standard input (a file, not a terminal); the
// capture files live in Dir.
inline TToolRun RunSfs(const std::string& Args, const std::filesystem::path& Dir,
                       std::string_view Input = "") {
  const auto in = Dir / "stdin", out = Dir / "stdout", err = Dir / "stderr";
  WriteFileBytes(in, Input);
  const std::string command = "'" + SfsToolPath().string() + "' " + Args + " <'" + in.string() +
                              "' >'" + out.string() + "' 2>'" + err.string() + "'";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileBytes(out), ReadFileBytes(err)};
}

}  // namespace bdtest
