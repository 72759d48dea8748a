#include <gtest/gtest.h>

#include "TempDir.h"
#include "platform/Stream.h"

namespace {

using namespace platform;

TEST(Stream, MemoryStreamReadsWritesAndSeeks) {
  TMemoryStream s;
  EXPECT_EQ(s.Write("abcdef", 6), 6);
  EXPECT_EQ(s.Position(), 6);
  EXPECT_EQ(s.GetSize(), 6);
  EXPECT_EQ(s.Seek(-2, soEnd), 4);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 2);  // short read at the end
  EXPECT_EQ(std::string(buf, 2), "ef");
  s.SetPosition(8);  // past the end: a write fills the gap with zeros
  s.Write("Z", 1);
  EXPECT_EQ(s.GetSize(), 9);
  EXPECT_EQ(s.Memory()[6], 0);
  EXPECT_THROW(s.Seek(-1, soBeginning), EStreamError);
  s.SetSize(3);
  EXPECT_EQ(s.Position(), 3);
  s.SetPosition(0);
  try {
    s.ReadBuffer(buf, 4);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
}

TEST(Stream, FileStreamAndCopies) {
  testutil::TTempDir dir;
  const std::string name = (dir.Path() / "f.bin").string();
  {
    TFileStream f(name, fmCreate);
    f.WriteBuffer("hello world", 11);
    EXPECT_EQ(f.GetSize(), 11);
    EXPECT_EQ(f.Position(), 11);
  }
  TMemoryStream m;
  m.LoadFromFile(name);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), 11), "hello world");
  TMemoryStream copy;
  m.SetPosition(5);
  EXPECT_EQ(copy.CopyFrom(m, 0), 11);  // 0 copies all, from the start
  EXPECT_EQ(copy.GetSize(), 11);
  m.SetPosition(6);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(m, 5), 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(part.Memory()), 5), "world");
  EXPECT_THROW(part.CopyFrom(m, 1), EReadError);  // nothing left in m
}

TEST(Stream, OpeningAMissingFileNamesIt) {
  testutil::TTempDir dir;
  const std::string name = (dir.Path() / "missing.bin").string();
  try {
    TFileStream f(name, fmOpenRead);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + name + "\". No such file or directory");
  }
}

}  // namespace
