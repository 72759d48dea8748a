// Shared helpers of the `sfs` commands: the conventions every command keeps (FILE arguments and
// `-`, reading input, writing output through a temporary file renamed on success, pass-phrase
// arguments and the terminal prompt, errors and exit codes, the progress bar).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sfstool {

// A failed operation: "sfs: <message>" on standard error, exit status 1.
class TToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A usage error found by a command: "sfs: <message>", the usage line, exit status 2.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True for "-" and the empty string: standard input or output.
bool IsStdStream(const std::string& File);

// The whole content of File ("-": standard input). TToolError "cannot read <file>: <reason>".
std::string ReadInput(const std::string& File);

// Writes output to a file atomically: the bytes go to a temporary file beside the target, which
// is renamed over the target by Commit(). Without Commit (an exception, an early return) the
// temporary file is removed and the target is untouched. "-" writes standard output directly.
class TOutputFile {
 public:
  explicit TOutputFile(const std::string& File);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  void Write(const void* Data, size_t Size);
  void Write(std::string_view Data) { Write(Data.data(), Data.size()); }
  // Flushes, syncs and renames into place; TToolError on failure.
  void Commit();

 private:
  std::string FTarget;
  std::string FTemp;
  int FFd = -1;
  bool FStdout = false;
  bool FCommitted = false;
};

// All of Data to File through TOutputFile.
void WriteOutput(const std::string& File, std::string_view Data);

// A pass phrase from an argument "pass:TEXT", "env:NAME" or "file:PATH" (first line, without its
// line end). TUsageError for another form; TToolError when the variable or file is missing.
std::string ParsePassArgument(const std::string& Arg);

// The pass phrase of an optional argument; without one, asks on the terminal without echo when
// standard input is a terminal ("<Prompt>: "), else TToolError "<What> needed: use <Option>".
std::string GetPassword(const std::optional<std::string>& Arg, const std::string& Option, const std::string& Prompt);

// Reads a line from the terminal with echo off; TToolError when there is no terminal.
std::string PromptNoEcho(const std::string& Prompt);

// Strict hexadecimal (an even number of hex digits, nothing else); TUsageError naming What.
std::string ParseHexArgument(const std::string& Text, const std::string& What);

// A progress bar on standard error, drawn only when standard error is a terminal. Update with
// (0, 0) or destruction clears the line.
class TProgressBar {
 public:
  explicit TProgressBar(std::string Label);
  ~TProgressBar();
  TProgressBar(const TProgressBar&) = delete;
  TProgressBar& operator=(const TProgressBar&) = delete;

  void Update(int64_t Current, int64_t Maximal);
  void Clear();
  bool Active() const { return FActive; }

 private:
  std::string FLabel;
  bool FActive = false;
  bool FDrawn = false;
  int FLastPermille = -1;
};

// While alive, the cipher and hash framework's progress events drive a TProgressBar.
class TCryptoProgress {
 public:
  explicit TCryptoProgress(const std::string& Label);
  ~TCryptoProgress();

 private:
  TProgressBar FBar;
};

// The tool's version text ("sfs <version>").
std::string VersionText();

}  // namespace sfstool
