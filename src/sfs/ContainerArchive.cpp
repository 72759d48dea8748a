#include "sfs/ContainerArchive.h"

#include "sfs/FileStream.h"
#include "sfs/SingleFileSystem.h"

namespace sfs {

TSFSContainerArchive::TSFSContainerArchive(std::unique_ptr<TSingleFileSystem> container)
    : FContainer(std::move(container)) {
  platform::BDAssert(FContainer != nullptr, "TSFSContainerArchive: container = nil");
}

TSFSContainerArchive::~TSFSContainerArchive() = default;

bool TSFSContainerArchive::FileExists(const std::string& internalPath) { return FContainer->FileExists(internalPath); }

void TSFSContainerArchive::LoadFile(const std::string& internalPath, platform::TMemoryStream& out) {
  TSFSFileStream stream(FContainer.get(), internalPath, platform::fmOpenRead | platform::fmShareDenyWrite,
                        std::string(), std::string(), std::string(), sfsNone);
  out.LoadFromStream(stream);
  out.SetPosition(0);
}

void SFSRegisterContainer(const std::string& folderPath, std::unique_ptr<TSingleFileSystem> container) {
  SFSRegisterArchive(folderPath, std::make_unique<TSFSContainerArchive>(std::move(container)));
}

}  // namespace sfs
