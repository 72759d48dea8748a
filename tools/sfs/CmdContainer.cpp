// The container commands: create, put, get, ls, rm, info, check.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "Command.h"
#include "ContainerIO.h"
#include "Tool.h"
#include "sfs/DIRManager.h"
#include "sfs/HugeFile.h"
#include "sfs/PageFileManager.h"
#include "sfs/SingleFileSystem.h"

namespace {

using sfs::TSingleFileSystem;

struct TContainerArgs {
  std::string Container;
  std::string Name;
  std::string File = "-";
  std::optional<std::string> Pass;
  std::optional<std::string> FilePass;
  std::optional<std::string> Level;
  int32_t PageSize = sfs::DEFAULT_PAGE_SIZE;
  int64_t PartSize = 0;
  bool Long = false;
} gArgs;

void AddPass(CLI::App& cmd) {
  cmd.add_option("--pass", gArgs.Pass, "container password: pass:TEXT, env:NAME or file:PATH");
}

sfs::TSFSCompressionLevel ParseLevel(const std::string& Name) {
  const auto level = sfs::SFSCompressionLevelFromName(Name);
  if (!level) throw sfstool::TUsageError("unknown compression level: " + Name);
  return *level;
}

// Opens the container, asking for its password only when it has one.
void OpenContainer(TSingleFileSystem& Fs, bool ReadOnly) {
  if (!std::filesystem::exists(gArgs.Container))
    throw sfstool::TToolError("no such container: " + gArgs.Container);
  std::string password = gArgs.Pass ? sfstool::ParsePassArgument(*gArgs.Pass) : std::string();
  try {
    Fs.OpenContainer(gArgs.Container, password, ReadOnly);
  } catch (const sfs::ESFSPasswordError&) {
    if (!password.empty() || gArgs.Pass) throw sfstool::TToolError("wrong container password");
    password = sfstool::GetPassword(std::nullopt, "--pass", "Container password");
    try {
      Fs.OpenContainer(gArgs.Container, password, ReadOnly);
    } catch (const sfs::ESFSPasswordError&) {
      throw sfstool::TToolError("wrong container password");
    }
  } catch (const platform::Exception& e) {
    throw sfstool::TToolError(gArgs.Container + " is not a readable container: " + e.what());
  }
  // A file with a password of its own that was given wrongly gets one more try on a terminal.
  Fs.FOnPassword = [](TSingleFileSystem&, const std::string& FileName, std::string& NewPassword,
                      bool& SkipFile) {
    static int tries = 0;
    if (!::isatty(STDIN_FILENO) || ++tries > 2) {
      SkipFile = true;
      return;
    }
    NewPassword = sfstool::PromptNoEcho("Password for \"" + FileName + "\": ");
  };
}

std::string FilePassword(TSingleFileSystem& Fs, bool ForReading) {
  if (gArgs.FilePass) return sfstool::ParsePassArgument(*gArgs.FilePass);
  if (!ForReading) return {};
  sfs::TDirectoryElement e;
  if (Fs.GetFileInfo(gArgs.Name, e) && e.EncMethod != 0)
    return sfstool::GetPassword(std::nullopt, "--file-pass", "File password");
  return {};
}

std::string IsoTime(uint64_t FileTime) {
  const int64_t secs = static_cast<int64_t>(FileTime / 10000000ULL) - 11644473600LL;
  const std::time_t t = static_cast<std::time_t>(secs);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

// --- create ---

int RunCreate() {
  if (std::filesystem::exists(gArgs.Container))
    throw sfstool::TToolError(gArgs.Container + " already exists");
  sfs::TSFSCreateOptions o;
  o.PageSize = gArgs.PageSize;
  o.PartSize = gArgs.PartSize;
  if (gArgs.Level) o.CompressionLevel = ParseLevel(*gArgs.Level);
  if (gArgs.Pass) o.Password = sfstool::ParsePassArgument(*gArgs.Pass);
  if (!sfs::IsValidGeometry(o.PageSize, o.ExtentPageCount))
    throw sfstool::TUsageError("the page size must be a power of two from 1024 to 65536");
  if (o.PartSize != 0 && o.PartSize < 2 * sfs::HFPHeaderSize)
    throw sfstool::TUsageError("the part size must be at least " +
                               std::to_string(2 * sfs::HFPHeaderSize));
  if (o.Password.size() > 32)
    throw sfstool::TToolError("the password is longer than 32 characters");
  TSingleFileSystem fs;
  try {
    fs.CreateContainer(gArgs.Container, o);
    fs.Close();
  } catch (const std::exception& e) {
    fs.Close();
    std::error_code ec;
    std::filesystem::remove(gArgs.Container, ec);
    throw sfstool::TToolError(std::string("cannot create the container: ") + e.what());
  }
  return 0;
}

sfstool::TRegisterCommand gCreate({
    .Name = "create",
    .Description = "Creates a new, empty container",
    .Usage =
        "sfs create CONTAINER [--pass ARG] [--level LEVEL] [--page-size N] [--part-size BYTES]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("CONTAINER", gArgs.Container, "container file")->required();
          AddPass(cmd);
          cmd.add_option("--level", gArgs.Level, "default compression level (default sfsNone)");
          cmd.add_option("--page-size", gArgs.PageSize, "bytes per page (default 4096)");
          cmd.add_option("--part-size", gArgs.PartSize,
                         "spread the container over part files of this size");
        },
    .Run = RunCreate,
});

// --- put ---

int RunPut() {
  const std::string data = sfstool::ReadInput(gArgs.File);
  TSingleFileSystem fs;
  OpenContainer(fs, false);
  const sfs::TSFSCompressionLevel level =
      gArgs.Level ? ParseLevel(*gArgs.Level) : fs.GetCompressionLevel();
  const std::string password = FilePassword(fs, false);
  if (password.size() > 32)
    throw sfstool::TToolError("the file password is longer than 32 characters");
  // Missing folders on the way are made first.
  std::string path, name;
  if (sfs::ExtractPathAndPattern(gArgs.Name, path, name)) {
    if (fs.ForceDirectories(path) < -1)
      throw sfstool::TToolError("cannot make the folders of " + gArgs.Name);
  }
  sfs::TDirectoryElement e;
  if (fs.GetFileInfo(gArgs.Name, e) && e.IsFolder)
    throw sfstool::TToolError(gArgs.Name + " is a folder");
  bool diskFull = false;
  fs.FOnDiskFull = [&diskFull](TSingleFileSystem&) { diskFull = true; };
  // The new content is complete under a temporary name before it takes the place of the old one.
  std::string temp = gArgs.Name;
  while (!temp.empty() && (temp.back() == '/' || temp.back() == '\\')) temp.pop_back();
  temp += ".~new";
  for (int i = 1; fs.FileExists(temp); ++i) temp = gArgs.Name + ".~new" + std::to_string(i);
  sfstool::WriteContainerFile(fs, temp, data, level, password);
  if (!fs.ReplaceFile(temp, gArgs.Name)) {
    fs.DeleteFile(temp);
    throw sfstool::TToolError("cannot replace " + gArgs.Name + " (is it open?)");
  }
  return 0;
}

sfstool::TRegisterCommand gPut({
    .Name = "put",
    .Description = "Stores the input as a file of the container",
    .Usage = "sfs put CONTAINER NAME [FILE] [--level LEVEL] [--file-pass ARG] [--pass ARG]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("CONTAINER", gArgs.Container, "container file")->required();
          cmd.add_option("NAME", gArgs.Name, "path inside the container")->required();
          cmd.add_option("FILE", gArgs.File, "input file, - for standard input (default)");
          cmd.add_option("--level", gArgs.Level, "compression level (default: the container's)");
          cmd.add_option("--file-pass", gArgs.FilePass, "the file's own password");
          AddPass(cmd);
        },
    .Run = RunPut,
});

// --- get ---

int RunGet() {
  TSingleFileSystem fs;
  OpenContainer(fs, true);
  const std::string content = sfstool::ReadContainerFile(fs, gArgs.Name, FilePassword(fs, true));
  sfstool::WriteOutput(gArgs.File, content);
  return 0;
}

sfstool::TRegisterCommand gGet({
    .Name = "get",
    .Description = "Writes the content of a file of the container",
    .Usage = "sfs get CONTAINER NAME [FILE] [--pass ARG] [--file-pass ARG]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("CONTAINER", gArgs.Container, "container file")->required();
          cmd.add_option("NAME", gArgs.Name, "path inside the container")->required();
          cmd.add_option("FILE", gArgs.File, "output file, - for standard output (default)");
          AddPass(cmd);
          cmd.add_option("--file-pass", gArgs.FilePass, "the file's own password");
        },
    .Run = RunGet,
});

// --- ls ---

int RunLs() {
  TSingleFileSystem fs;
  OpenContainer(fs, true);
  auto list = fs.ListFiles();
  for (auto& entry : list)
    if (entry.Element.IsFolder) entry.Path += '/';
  std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.Path < b.Path; });
  std::string out;
  for (const auto& entry : list) {
    if (gArgs.Long) {
      // A compressed file shows the size of its content, not of its packed blocks.
      const std::optional<int64_t> content = sfstool::CompressedContentSize(fs, entry.Path);
      const int64_t storedSize = entry.Element.FileSize;  // a copy: the record is packed
      std::string flags;
      flags += entry.Element.IsFolder ? 'd' : '-';
      flags += entry.Element.EncMethod ? 'p' : '-';
      flags += content ? 'c' : '-';
      char line[96];
      std::snprintf(line, sizeof line, "%12lld  %s  %s  ",
                    static_cast<long long>(content.value_or(storedSize)),
                    IsoTime(entry.Element.LastModifiedTime).c_str(), flags.c_str());
      out += line;
    }
    out += entry.Path + "\n";
  }
  sfstool::WriteOutput("-", out);
  return 0;
}

sfstool::TRegisterCommand gLs({
    .Name = "ls",
    .Description = "Lists the files and folders of a container",
    .Usage = "sfs ls CONTAINER [-l] [--pass ARG]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("CONTAINER", gArgs.Container, "container file")->required();
          cmd.add_flag(
              "-l", gArgs.Long,
              "size, modification time (UTC) and flags (d folder, p password, c compressed)");
          AddPass(cmd);
        },
    .Run = RunLs,
});

// --- rm ---

int RunRm() {
  TSingleFileSystem fs;
  OpenContainer(fs, false);
  if (!fs.FileExists(gArgs.Name))
    throw sfstool::TToolError("no such file in the container: " + gArgs.Name);
  if (!fs.DeleteFile(gArgs.Name))
    throw sfstool::TToolError("cannot delete " + gArgs.Name + " (a folder that is not empty?)");
  return 0;
}

sfstool::TRegisterCommand gRm({
    .Name = "rm",
    .Description = "Deletes a file (or an empty folder) of a container",
    .Usage = "sfs rm CONTAINER NAME [--pass ARG]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("CONTAINER", gArgs.Container, "container file")->required();
          cmd.add_option("NAME", gArgs.Name, "path inside the container")->required();
          AddPass(cmd);
        },
    .Run = RunRm,
});

// --- info ---

int RunInfo() {
  if (!std::filesystem::exists(gArgs.Container))
    throw sfstool::TToolError("no such container: " + gArgs.Container);
  // The header is never enciphered: no password is needed to describe the container.
  auto huge = std::make_unique<sfs::TSFSHugeFile>(gArgs.Container, true, false, false,
                                                  sfs::cUnsplitPartitionSize, 0);
  int32_t parts = 0;
  int64_t stub = 0, partSize = 0;
  sfs::TSingleFileHeader h{};
  try {
    huge->OpenFilesChain();
    parts = huge->PartCount();
    stub = huge->StubSize();
    partSize = huge->PartitionSize();
    sfs::TPageFileManager pfm(std::move(huge), gArgs.Container, true, false);
    pfm.LoadSFHeader();
    h = pfm.FHeader;
  } catch (const platform::Exception& e) {
    throw sfstool::TToolError(gArgs.Container + " is not a readable container: " + e.what());
  }
  char buf[1024];
  std::snprintf(
      buf, sizeof buf,
      "format version: %.1f\npage size: %d\npages per extent: %d\ntotal pages: %d\nheader pages: "
      "%d\n"
      "PFS pages: %d\nGAM pages: %d\ndirectory pages: %d\ndirectory records: %d\nencryption: %s\n"
      "default level: %s\nparts: %d\n",
      static_cast<double>(h.Version), h.PageSize, h.ExtentPageCount, h.TOTALPageCount,
      h.HDRPageCount, h.PFSPageCount, h.GAMPageCount, h.DIRPageCount, h.DIRElementsCount,
      h.EncMethod == sfs::encRijndael ? "rijndael" : "none",
      std::string(
          sfs::SFSCompressionLevelName(static_cast<sfs::TSFSCompressionLevel>(h.CompressionLevel)))
          .c_str(),
      parts);
  std::string out = buf;
  if (partSize != sfs::cUnsplitPartitionSize)
    out += "part size: " + std::to_string(partSize) + "\n";
  if (stub) out += "stub size: " + std::to_string(stub) + "\n";
  sfstool::WriteOutput("-", out);
  return 0;
}

sfstool::TRegisterCommand gInfo({
    .Name = "info",
    .Description = "Describes the container header",
    .Usage = "sfs info CONTAINER",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("CONTAINER", gArgs.Container, "container file")->required();
        },
    .Run = RunInfo,
});

// --- check ---

int RunCheck() {
  TSingleFileSystem fs;
  std::vector<std::string> problems;
  try {
    OpenContainer(fs, true);
  } catch (const sfstool::TToolError& e) {
    // Wrong passwords stay errors; a container that does not open is a finding.
    if (std::string(e.what()).find("password") != std::string::npos) throw;
    problems.push_back(e.what());
  }
  if (fs.IsOpen()) {
    try {
      problems = fs.CheckIntegrity();
      for (const auto& entry : fs.ListFiles()) {
        if (entry.Element.IsFolder || entry.Element.EncMethod) continue;
        for (auto& p : sfstool::CheckContainerFileContent(fs, entry.Path))
          problems.push_back(entry.Path + ": " + p);
      }
    } catch (const std::exception& e) {
      problems.push_back(e.what());
    }
  }
  std::string out;
  for (const auto& p : problems) out += p + "\n";
  if (problems.empty()) out = "ok\n";
  sfstool::WriteOutput("-", out);
  return problems.empty() ? 0 : 1;
}

sfstool::TRegisterCommand gCheck({
    .Name = "check",
    .Description = "Verifies the whole container; prints ok or one line per problem",
    .Usage = "sfs check CONTAINER [--pass ARG]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("CONTAINER", gArgs.Container, "container file")->required();
          AddPass(cmd);
        },
    .Run = RunCheck,
});

}  // namespace
