#include "Tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "crypto/CryptUtil.h"

#ifndef BD_VERSION
#define BD_VERSION "0.0.0"
#endif

namespace sfstool {

namespace {

std::string Reason() { return std::strerror(errno); }

std::string Describe(const std::string& File) { return IsStdStream(File) ? "standard input" : File; }

bool WriteAll(int Fd, const void* Data, size_t Size) {
  const auto* p = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t n = ::write(Fd, p, Size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    Size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool IsStdStream(const std::string& File) { return File.empty() || File == "-"; }

std::string ReadInput(const std::string& File) {
  const bool std = IsStdStream(File);
  const int fd = std ? STDIN_FILENO : ::open(File.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw TToolError("cannot open " + File + ": " + Reason());
  std::string data;
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const std::string reason = Reason();
      if (!std) ::close(fd);
      throw TToolError("cannot read " + Describe(File) + ": " + reason);
    }
    data.append(buffer, static_cast<size_t>(n));
  }
  if (!std) ::close(fd);
  return data;
}

// --- TOutputFile ---

TOutputFile::TOutputFile(const std::string& File) : FTarget(File), FStdout(IsStdStream(File)) {
  if (FStdout) {
    FFd = STDOUT_FILENO;
    return;
  }
  const auto slash = File.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : File.substr(0, slash == 0 ? 1 : slash);
  const std::string base = slash == std::string::npos ? File : File.substr(slash + 1);
  std::string pattern = dir + "/." + base + ".sfs-XXXXXX";
  FFd = ::mkstemp(pattern.data());
  if (FFd < 0) throw TToolError("cannot create a temporary file beside " + File + ": " + Reason());
  FTemp = pattern;
  // Keep the permissions a newly created file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(FFd, 0666 & ~mask);
}

TOutputFile::~TOutputFile() {
  if (FStdout) return;
  if (FFd >= 0) ::close(FFd);
  if (!FCommitted && !FTemp.empty()) ::unlink(FTemp.c_str());
}

void TOutputFile::Write(const void* Data, size_t Size) {
  if (FCommitted) throw TToolError("output " + FTarget + " already complete");
  if (!WriteAll(FFd, Data, Size))
    throw TToolError("cannot write " + (FStdout ? std::string("standard output") : FTarget) + ": " + Reason());
}

void TOutputFile::Commit() {
  if (FCommitted) return;
  if (FStdout) {
    FCommitted = true;
    return;
  }
  if (::fsync(FFd) != 0 && errno != EINVAL) throw TToolError("cannot write " + FTarget + ": " + Reason());
  const int fd = FFd;
  FFd = -1;
  if (::close(fd) != 0) throw TToolError("cannot write " + FTarget + ": " + Reason());
  if (::rename(FTemp.c_str(), FTarget.c_str()) != 0) throw TToolError("cannot replace " + FTarget + ": " + Reason());
  FCommitted = true;
}

void WriteOutput(const std::string& File, std::string_view Data) {
  TOutputFile out(File);
  out.Write(Data);
  out.Commit();
}

// --- pass phrases ---

std::string ParsePassArgument(const std::string& Arg) {
  if (Arg.rfind("pass:", 0) == 0) return Arg.substr(5);
  if (Arg.rfind("env:", 0) == 0) {
    const std::string name = Arg.substr(4);
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value == nullptr) throw TToolError("environment variable " + name + " is not set");
    return value;
  }
  if (Arg.rfind("file:", 0) == 0) {
    const std::string path = Arg.substr(5);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TToolError("cannot read pass-phrase file " + path);
    std::string line;
    std::getline(in, line);
    if (in.bad()) throw TToolError("cannot read pass-phrase file " + path);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  throw TUsageError("invalid pass-phrase argument \"" + Arg + "\" (expected pass:TEXT, env:NAME or file:PATH)");
}

std::string PromptNoEcho(const std::string& Prompt) {
  const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) throw TToolError("cannot ask for a pass phrase: no terminal");
  termios saved{};
  const bool isTerminal = ::tcgetattr(fd, &saved) == 0;
  if (isTerminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  WriteAll(fd, Prompt.data(), Prompt.size());
  std::string line;
  char c;
  bool ok = true;
  while (true) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = !line.empty();
      break;
    }
    if (c == '\n') break;
    line += c;
  }
  if (isTerminal) ::tcsetattr(fd, TCSAFLUSH, &saved);
  ::close(fd);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!ok) throw TToolError("no pass phrase entered");
  return line;
}

std::string GetPassword(const std::optional<std::string>& Arg, const std::string& Option, const std::string& Prompt) {
  if (Arg) return ParsePassArgument(*Arg);
  if (::isatty(STDIN_FILENO)) return PromptNoEcho(Prompt + ": ");
  throw TToolError("a pass phrase is needed: give " + Option + " pass:TEXT, env:NAME or file:PATH");
}

std::string ParseHexArgument(const std::string& Text, const std::string& What) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (Text.size() % 2 != 0) throw TUsageError(What + " must have an even number of hexadecimal digits");
  std::string bytes;
  for (size_t i = 0; i < Text.size(); i += 2) {
    const int hi = digit(Text[i]), lo = digit(Text[i + 1]);
    if (hi < 0 || lo < 0) throw TUsageError(What + " must be hexadecimal digits only");
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return bytes;
}

// --- progress ---

TProgressBar::TProgressBar(std::string Label) : FLabel(std::move(Label)), FActive(::isatty(STDERR_FILENO) == 1) {}

TProgressBar::~TProgressBar() { Clear(); }

void TProgressBar::Update(int64_t Current, int64_t Maximal) {
  if (!FActive) return;
  if (Maximal <= 0) {
    Clear();
    return;
  }
  const int permille = static_cast<int>(std::min<int64_t>(1000, Current * 1000 / Maximal));
  if (permille == FLastPermille) return;
  FLastPermille = permille;
  constexpr int cWidth = 30;
  const int filled = permille * cWidth / 1000;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(cWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%%", FLabel.c_str(), bar.c_str(), permille / 10);
  std::fflush(stderr);
  FDrawn = true;
}

void TProgressBar::Clear() {
  if (!FActive || !FDrawn) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  FDrawn = false;
  FLastPermille = -1;
}

TCryptoProgress::TCryptoProgress(const std::string& Label) : FBar(Label) {
  if (FBar.Active())
    crypto::SetProgress([this](crypto::TProtection*, int64_t current, int64_t maximal) { FBar.Update(current, maximal); });
}

TCryptoProgress::~TCryptoProgress() {
  if (FBar.Active()) crypto::SetProgress(nullptr);
}

std::string VersionText() { return std::string("sfs ") + BD_VERSION; }

}  // namespace sfstool
