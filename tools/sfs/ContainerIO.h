// Copying file contents into and out of a container for `sfs put` and `sfs get`, and the content
// check `sfs check` runs on every file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sfs/Compression.h"
#include "sfs/SingleFileSystem.h"

namespace sfstool {

// Writes Data as the new file Name (which must not exist or is replaced), with FilePassword as
// the file's own password when not empty. Level is the compression level asked for; plain
// content that begins with the stream signature is stored at zlibFastest instead, since as plain
// bytes it would read back as a compressed stream.
// TToolError on failure ("disk full" when the container cannot grow); a half-written file is
// deleted again.
void WriteContainerFile(sfs::TSingleFileSystem& Fs, const std::string& Name, std::string_view Data,
                        sfs::TSFSCompressionLevel Level, const std::string& FilePassword);

// The whole content of the file Name, opened with FilePassword when it has a password of its own.
// TToolError for a missing file, a wrong password or a read error.
std::string ReadContainerFile(sfs::TSingleFileSystem& Fs, const std::string& Name,
                              const std::string& FilePassword);

// Problems found in the content of the file Name beyond what the storage engine checks
// (for compressed files: the block chain and block checksums). One line per problem.
std::vector<std::string> CheckContainerFileContent(sfs::TSingleFileSystem& Fs,
                                                   const std::string& Name);

// The content size of a file stored in compressed blocks (what get writes), or nothing for a
// plain file, a folder, or a file with its own password (which cannot be looked into).
std::optional<int64_t> CompressedContentSize(sfs::TSingleFileSystem& Fs, const std::string& Name);

}  // namespace sfstool
