// The facade's archive side for containers: TSFSContainerArchive serves the files of one
// TSingleFileSystem to the file access facade, and SFSRegisterContainer registers a container
// for a folder.
//
// The facade calls an archive only while it holds its lock, so the container sees one thread at a
// time, as it must. Internal paths are container paths ("/data/sounds/a.wav").
#pragma once

#include <memory>
#include <string>

#include "platform/Stream.h"
#include "sfs/FileAccess.h"

namespace sfs {

class TSingleFileSystem;

class TSFSContainerArchive : public TSFSArchive {
 public:
  // Takes ownership of an open container.
  explicit TSFSContainerArchive(std::unique_ptr<TSingleFileSystem> container);
  ~TSFSContainerArchive() override;

  bool FileExists(const std::string& internalPath) override;
  // Opens the file read-only (deny write), without password, question or answer and at level 0,
  // and loads it whole. A file whose blocks cannot all be read throws; so does a short read.
  void LoadFile(const std::string& internalPath, platform::TMemoryStream& out) override;

  TSingleFileSystem& Container() { return *FContainer; }

 private:
  std::unique_ptr<TSingleFileSystem> FContainer;
};

// Registers `container` for `folderPath`; the registry owns it from now on. Removal is
// SFSUnregisterArchive(folderPath).
void SFSRegisterContainer(const std::string& folderPath, std::unique_ptr<TSingleFileSystem> container);

}  // namespace sfs
