// The container commands of the sfs tool, run as a program.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "storage_support.h"
#include "support/SfsToolRun.h"

using sfs_test::RandomBytes;
using sfs_test::TTempDir;

namespace {

// Runs the tool with Args (a shell fragment) and returns its exit status; output to Out.
int Sfs(const std::string& Args, const std::string& Out = "/dev/null") {
  const std::string cmd =
      bdtest::SfsToolPath().string() + " " + Args + " </dev/null >" + Out + " 2>>" + Out + ".err";
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

void Save(const std::string& name, const std::vector<uint8_t>& data) {
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> Load(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Text(const std::string& name) {
  const auto v = Load(name);
  return std::string(v.begin(), v.end());
}

}  // namespace

TEST(StorageTool, RoundTripsInPlainEncipheredAndMultiPartContainers) {
  struct Kind {
    const char* label;
    std::string createArgs, openArgs;
  } kinds[] = {
      {"plain", "", ""},
      {"enciphered", "--pass pass:secret", "--pass pass:secret"},
      {"multi-part", "--part-size 300000 --page-size 1024", ""},
  };
  const std::vector<size_t> sizes = {0, 1, 4063, 4064, 4065, 10 << 20};
  for (const auto& k : kinds) {
    TTempDir dir;
    const std::string c = dir / "c.sfs";
    ASSERT_EQ(Sfs("create " + c + " " + k.createArgs), 0) << k.label;
    for (size_t i = 0; i < sizes.size(); ++i) {
      Save(dir / ("in" + std::to_string(i)), RandomBytes(sizes[i], static_cast<uint32_t>(i)));
      ASSERT_EQ(Sfs("put " + c + " sub/dir/f" + std::to_string(i) + " " +
                    (dir / ("in" + std::to_string(i))) + " " + k.openArgs),
                0)
          << k.label << " size " << sizes[i] << " " << Text(dir / "x.err");
    }
    // Every command opens the container again.
    for (size_t i = 0; i < sizes.size(); ++i) {
      const std::string out = dir / ("out" + std::to_string(i));
      ASSERT_EQ(Sfs("get " + c + " SUB/dir/f" + std::to_string(i) + " " + out + " " + k.openArgs),
                0)
          << k.label;
      EXPECT_EQ(Load(out), RandomBytes(sizes[i], static_cast<uint32_t>(i)))
          << k.label << " size " << sizes[i];
    }
    EXPECT_EQ(Sfs("check " + c + " " + k.openArgs, dir / "check"), 0)
        << k.label << ": " << Text(dir / "check");
    EXPECT_EQ(Text(dir / "check"), "ok\n");
    if (std::string(k.label) == "multi-part") {
      EXPECT_TRUE(std::filesystem::exists(c + "30"));
      EXPECT_EQ(std::filesystem::file_size(c), 300000u);
    }
  }
}

TEST(StorageTool, ListingReplacingAndRemoving) {
  TTempDir dir;
  const std::string c = dir / "c.sfs";
  ASSERT_EQ(Sfs("create " + c), 0);
  Save(dir / "a", {1, 2, 3});
  Save(dir / "b", {4, 5});
  ASSERT_EQ(Sfs("put " + c + " x/y/a " + (dir / "a")), 0);
  ASSERT_EQ(Sfs("put " + c + " top " + (dir / "a")), 0);
  ASSERT_EQ(Sfs("put " + c + " top " + (dir / "b")), 0);  // replaced
  ASSERT_EQ(Sfs("put " + c + " own " + (dir / "b") + " --file-pass pass:fp"), 0);
  ASSERT_EQ(Sfs("ls " + c, dir / "ls"), 0);
  EXPECT_EQ(Text(dir / "ls"), "own\ntop\nx/\nx/y/\nx/y/a\n");
  ASSERT_EQ(Sfs("ls -l " + c, dir / "ll"), 0);
  const std::string ll = Text(dir / "ll");
  EXPECT_NE(ll.find("           2  "), std::string::npos) << ll;
  EXPECT_NE(ll.find("-p-  own"), std::string::npos) << ll;
  EXPECT_NE(ll.find("d--  x/"), std::string::npos) << ll;
  ASSERT_EQ(Sfs("get " + c + " top " + (dir / "t")), 0);
  EXPECT_EQ(Load(dir / "t"), std::vector<uint8_t>({4, 5}));
  // Passwords: the file's own, wrong or missing, is exit 1 with a message.
  EXPECT_EQ(Sfs("get " + c + " own " + (dir / "o") + " --file-pass pass:fp"), 0);
  EXPECT_EQ(Load(dir / "o"), std::vector<uint8_t>({4, 5}));
  EXPECT_EQ(Sfs("get " + c + " own " + (dir / "o2") + " --file-pass pass:no", dir / "wrong"), 1);
  EXPECT_NE(Text(dir / "wrong.err").find("sfs: wrong file password"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "o2"));
  EXPECT_EQ(Sfs("get " + c + " own " + (dir / "o3"), dir / "nopass"), 1);
  // Removing, and what cannot be removed.
  EXPECT_EQ(Sfs("rm " + c + " x"), 1);  // a folder that is not empty
  EXPECT_EQ(Sfs("rm " + c + " x/y/a"), 0);
  EXPECT_EQ(Sfs("rm " + c + " x/y/a"), 1);
  EXPECT_EQ(Sfs("get " + c + " x/y/a"), 1);
  EXPECT_EQ(Sfs("check " + c, dir / "check"), 0) << Text(dir / "check");
  ASSERT_EQ(Sfs("info " + c, dir / "info"), 0);
  const std::string info = Text(dir / "info");
  EXPECT_NE(info.find("format version: 1.0\npage size: 4096\npages per extent: 8\n"),
            std::string::npos)
      << info;
  EXPECT_NE(info.find("encryption: none"), std::string::npos);
  EXPECT_NE(info.find("default level: sfsNone"), std::string::npos);
}

TEST(StorageTool, FailuresExitWithOne) {
  TTempDir dir;
  const std::string c = dir / "c.sfs";
  ASSERT_EQ(Sfs("create " + c + " --pass pass:right"), 0);
  EXPECT_EQ(Sfs("create " + c), 1);  // exists
  EXPECT_EQ(Sfs("ls " + c + " --pass pass:wrong", dir / "w"), 1);
  EXPECT_NE(Text(dir / "w.err").find("sfs: wrong container password"), std::string::npos);
  EXPECT_EQ(Sfs("ls " + c, dir / "np"), 1);  // no terminal to ask on
  EXPECT_NE(Text(dir / "np.err").find("--pass"), std::string::npos);
  ASSERT_EQ(Sfs("info " + c, dir / "info"), 0);  // the header needs no password
  EXPECT_NE(Text(dir / "info").find("encryption: rijndael"), std::string::npos);
  EXPECT_EQ(Sfs("ls " + (dir / "missing.sfs")), 1);
  Save(dir / "junk", RandomBytes(10000, 1));
  EXPECT_EQ(Sfs("ls " + (dir / "junk")), 1);
  EXPECT_EQ(Sfs("check " + (dir / "junk"), dir / "jc"), 1);
  EXPECT_EQ(Sfs("create " + (dir / "p.sfs") + " --page-size 1000"), 2);
  EXPECT_EQ(Sfs("create " + (dir / "l.sfs") + " --level nonsense"), 2);
  // A damaged page is named by check.
  const std::string d = dir / "d.sfs";
  ASSERT_EQ(Sfs("create " + d), 0);
  Save(dir / "in", RandomBytes(50000, 2));
  ASSERT_EQ(Sfs("put " + d + " f " + (dir / "in")), 0);
  {
    std::fstream f(d, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(280 + 4096 * 10 + 100);
    f.put('\x55');
  }
  EXPECT_EQ(Sfs("check " + d, dir / "dc"), 1);
  EXPECT_NE(Text(dir / "dc").find("page 10"), std::string::npos) << Text(dir / "dc");
  EXPECT_EQ(Sfs("get " + d + " f " + (dir / "out")), 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

// A put that fills the disk (a small tmpfs; needs the right to mount, skipped without it) fails
// with exit 1 and "disk full", keeps what was stored before, and leaves a container that check
// finds sound.
TEST(StorageTool, PutOnAFullDiskFailsCleanly) {
  TTempDir dir;
  const std::string mnt = dir / "small";
  std::filesystem::create_directory(mnt);
  if (std::system(("mount -t tmpfs -o size=1m tmpfs " + mnt + " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string c = mnt + "/c.sfs";
  ASSERT_EQ(Sfs("create " + c), 0);
  Save(dir / "keep", RandomBytes(200000, 1));
  Save(dir / "big", RandomBytes(3 << 20, 2));
  ASSERT_EQ(Sfs("put " + c + " keep " + (dir / "keep")), 0);
  ASSERT_EQ(Sfs("put " + c + " keep " + (dir / "big"), dir / "full"), 1);
  EXPECT_NE(Text(dir / "full.err").find("disk full"), std::string::npos) << Text(dir / "full.err");
  EXPECT_EQ(Sfs("get " + c + " keep " + (dir / "back")), 0);
  EXPECT_EQ(Load(dir / "back"), RandomBytes(200000, 1));
  EXPECT_EQ(Sfs("check " + c, dir / "check"), 0) << Text(dir / "check");
  EXPECT_EQ(Sfs("ls " + c, dir / "ls"), 0);
  EXPECT_EQ(Text(dir / "ls"), "keep\n");
  std::system(("umount -l " + mnt).c_str());
}
