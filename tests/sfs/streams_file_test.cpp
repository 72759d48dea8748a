// The file streams on an in-memory container: open modes, the read-only guard, the messages,
// compressed and plain files through the container's handle interface, and the handle's life.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sfs/FileStream.h"
#include "sfs/SingleFileSystem.h"
#include "sfs/UserFileStream.h"
#include "streams_support.h"

namespace sfs {
namespace {

using namespace sfs::testing;
using platform::fmCreate;
using platform::fmOpenRead;
using platform::fmOpenReadWrite;
using platform::fmOpenWrite;
using platform::fmShareDenyWrite;

std::unique_ptr<TSingleFileSystem> NewContainer(TSFSCompressionLevel defaultLevel = sfsNone) {
  auto sfs = std::make_unique<TSingleFileSystem>();
  TSFSCreateOptions options;
  options.CompressionLevel = defaultLevel;
  sfs->CreateInMemory(options);
  return sfs;
}

void Put(TSingleFileSystem& sfs, const std::string& name, const TBytes& data, TSFSCompressionLevel level) {
  if (!FolderOf(name).empty()) sfs.ForceDirectories(FolderOf(name));
  TSFSFileStream s(&sfs, name, fmCreate, "", "", "", level);
  s.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
}

TBytes Get(TSingleFileSystem& sfs, const std::string& name, int32_t chunk = 1 << 20) {
  TSFSFileStream s(&sfs, name, fmOpenRead | fmShareDenyWrite, "", "", "", sfsNone);
  return ReadAll(s, chunk);
}

// The bytes the container holds for a file, without the block stream in between.
TBytes RawBytes(TSingleFileSystem& sfs, const std::string& name) {
  TSFSUserFileStream s(&sfs, name, fmOpenRead, "", "", "");
  return ReadAll(s);
}

TEST(StreamsFile, ModesDecideTheReadOnlyGuard) {
  auto sfs = NewContainer();
  Put(*sfs, "a.txt", TextBytes(100, 1), zlibNormal);
  struct Case {
    uint16_t mode;
    bool readOnly;
  };
  const Case cases[] = {{fmOpenRead, true},
                        {fmOpenRead | fmShareDenyWrite, true},
                        {fmOpenWrite, false},
                        {fmOpenReadWrite, false},
                        {fmOpenReadWrite | fmShareDenyWrite, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    TSFSFileStream s(sfs.get(), "a.txt", c.mode, "", "", "", sfsNone);
    EXPECT_EQ(s.ReadOnly(), c.readOnly);
    EXPECT_EQ(s.Mode(), c.mode);
    EXPECT_EQ(s.Seek(10, platform::soBeginning), 10);
    uint8_t b[5];
    EXPECT_EQ(s.Read(b, 5), 5);
    if (c.readOnly) {
      EXPECT_EQ(MessageOf([&] { s.Write("x", 1); }), "TSFSFileStream.Write - file is in read only mode.");
      EXPECT_EQ(MessageOf([&] { s.SetSize(3); }), "TSFSFileStream.SetSize - file is in read only mode.");
    } else {
      EXPECT_EQ(s.Write("x", 1), 1);
    }
  }
  TSFSFileStream created(sfs.get(), "b.txt", fmCreate, "", "", "", sfsNone);
  EXPECT_FALSE(created.ReadOnly());
  EXPECT_EQ(created.Write("new", 3), 3);
}

TEST(StreamsFile, OpeningFailuresRaiseTheirMessagesAndLeaveNoHandle) {
  auto sfs = NewContainer();
  EXPECT_EQ(MessageOf([&] { TSFSFileStream(sfs.get(), "missing.bin", fmOpenRead, "", "", "", sfsNone); }),
            "TSFSUserFileStream.Create - unable to open file \"missing.bin\"");
  EXPECT_EQ(MessageOf([&] { TSFSFileStream(sfs.get(), "say \"hi\".txt", fmOpenRead, "", "", "", sfsNone); }),
            "TSFSUserFileStream.Create - unable to open file \"say \"\"hi\"\".txt\"");
  EXPECT_EQ(MessageOf([&] { TSFSUserFileStream(nullptr, "a", fmOpenRead, "", "", ""); }),
            "TSFSUserFileStream.Create - Single file system = nil!");
  EXPECT_EQ(MessageOf([&] { TSFSFileStream(nullptr, "a", fmOpenRead, "", "", "", sfsNone); }),
            "TSFSAdvancedFileStream.Create - SingleFileSystem = nil.");
  EXPECT_EQ(sfs->OpenHandleCount(), 0);

  // A stream header the block stream rejects: the handle opened for it is closed again.
  TBytes bad = TextBytes(300, 3);
  std::memcpy(bad.data(), "AACS", 4);
  PutI32(bad, 4, 0);
  Put(*sfs, "bad.bin", bad, sfsNone);
  EXPECT_EQ(MessageOf([&] { Get(*sfs, "bad.bin"); }), "TSFSAdvancedFileStream.LoadHeaders - invalid stream header.");
  EXPECT_EQ(sfs->OpenHandleCount(), 0);
  EXPECT_TRUE(sfs->DeleteFile("bad.bin"));  // not held open
}

TEST(StreamsFile, AWrongPasswordNobodyCorrectsFailsToOpen) {
  auto sfs = NewContainer();
  {
    TSFSFileStream withPassword(sfs.get(), "own.bin", fmCreate, "secret", "", "", zlibFastest);
    withPassword.Write("x", 1);
  }
  EXPECT_EQ(MessageOf([&] { TSFSFileStream(sfs.get(), "own.bin", fmOpenRead, "wrong", "", "", sfsNone); }),
            "TSFSUserFileStream.Create - unable to open file \"own.bin\"");
  EXPECT_EQ(sfs->OpenHandleCount(), 0);
  TSFSFileStream right(sfs.get(), "own.bin", fmOpenRead, "secret", "", "", sfsNone);
  EXPECT_EQ(ReadAll(right), (TBytes{'x'}));
}

TEST(StreamsFile, TheStreamClosesItsHandle) {
  auto sfs = NewContainer();
  {
    TSFSFileStream s(sfs.get(), "x.bin", fmCreate, "", "", "", zlibFastest);
    EXPECT_EQ(sfs->OpenHandleCount(), 1);
    EXPECT_FALSE(sfs->DeleteFile("x.bin"));
  }
  EXPECT_EQ(sfs->OpenHandleCount(), 0);
  EXPECT_TRUE(sfs->DeleteFile("x.bin"));
}

TEST(StreamsFile, LevelsAndTheContainerDefault) {
  struct Case {
    const char* name;
    TSFSCompressionLevel containerDefault;
    TSFSCompressionLevel given;
    TSFSCompressionLevel stored;  // sfsNone: plain bytes
  };
  const Case cases[] = {{"none on none", sfsNone, sfsNone, sfsNone},
                        {"none takes the default", zlibNormal, sfsNone, zlibNormal},
                        {"given level wins", bzipFastest, zlibFastest, zlibFastest},
                        {"given level on a plain container", sfsNone, zlibMax, zlibMax}};
  const TBytes data = TextBytes(3 * 512 * 1024 + 77, 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto sfs = NewContainer(c.containerDefault);
    Put(*sfs, "dir/f.bin", data, c.given);
    const TBytes raw = RawBytes(*sfs, "dir/f.bin");
    if (c.stored == sfsNone) {
      EXPECT_EQ(raw, data);
    } else {
      ASSERT_GE(raw.size(), 128u);
      EXPECT_EQ(std::string(raw.begin(), raw.begin() + 4), "AACS");
      EXPECT_EQ(raw[20], static_cast<uint8_t>(c.stored));
      EXPECT_LT(raw.size(), data.size());
    }
    TSFSFileStream s(sfs.get(), "dir/f.bin", fmOpenRead, "", "", "", sfsNone);
    EXPECT_EQ(s.Inner().CompressionLevel(), c.stored);
    EXPECT_EQ(s.GetSize(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(ReadAll(s, 4096), data);
  }
}

TEST(StreamsFile, EditsThroughTheContainerMatchAModel) {
  // Writes inside, across and beyond blocks, shrinking and growing, on a real container file.
  for (const TSFSCompressionLevel level : {sfsNone, zlibFastest, bzipFastest}) {
    SCOPED_TRACE(std::string(SFSCompressionLevelName(level)));
    auto sfs = NewContainer();
    TBytes model = TextBytes(600 * 1024, 5);
    Put(*sfs, "m.bin", model, level);
    {
      TSFSFileStream s(sfs.get(), "m.bin", fmOpenReadWrite, "", "", "", sfsNone);
      const TBytes noise = RandomBytes(70000, 6);
      WriteAt(s, 500000, noise);  // across the first block boundary, grows the packed size
      std::copy(noise.begin(), noise.end(), model.begin() + 500000);
      WriteAt(s, 1200000, {'z'});  // past the end
      model.resize(1200001, 0);
      model[1200000] = 'z';
      s.SetSize(900000);
      model.resize(900000);
      EXPECT_EQ(ReadAll(s, 10000), model);
    }
    EXPECT_EQ(Get(*sfs, "m.bin"), model);
  }
}

TEST(StreamsFile, TheProgressEventIsHandedOnBeforeEveryReadAndWrite) {
  auto sfs = NewContainer();
  TSFSFileStream s(sfs.get(), "p.bin", fmCreate, "", "", "", zlibFastest);
  std::vector<double> seen;
  void* sender = nullptr;
  s.OnProgress = [&](void* from, double percent) {
    sender = from;
    seen.push_back(percent);
  };
  WriteAt(s, 0, TextBytes(600 * 1024, 8));
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(sender, &s.Inner());
  EXPECT_EQ(seen.back(), 100);
  seen.clear();
  s.OnProgress = nullptr;
  s.Seek(0, platform::soBeginning);
  uint8_t b[10];
  s.Read(b, 10);
  EXPECT_TRUE(seen.empty());
}

TEST(StreamsFile, PositionsBeforeTheStartAreRefusedByTheUserStream) {
  auto sfs = NewContainer();
  Put(*sfs, "p.bin", TextBytes(100, 7), sfsNone);
  TSFSUserFileStream s(sfs.get(), "p.bin", fmOpenRead, "", "", "");
  s.Seek(40, platform::soBeginning);
  EXPECT_THROW(s.Seek(-50, platform::soCurrent), platform::EStreamError);
  EXPECT_EQ(s.Seek(0, platform::soCurrent), 40);
  EXPECT_EQ(s.Seek(-10, platform::soEnd), 90);
  EXPECT_EQ(s.GetSize(), 100);
}

}  // namespace
}  // namespace sfs
