// The registry store under several processes: concurrent writers and a writer killed mid-write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "platform/Registry.h"

namespace {

namespace fs = std::filesystem;
using platform::TRegistry;

constexpr const char* cKey = "Software\\Brindel\\Config";

// Runs `body` in a child process that ends with _exit (no test teardown runs in the child).
template <typename F>
pid_t Spawn(F&& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    int code = 0;
    try {
      body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child %d: %s\n", getpid(), e.what());
      code = 1;
    }
    _exit(code);
  }
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

class RegistryProcessTest : public testutil::RegistryStoreTest {};

TEST_F(RegistryProcessTest, TwoConcurrentWritersLoseNoValue) {
  constexpr int cCount = 120;
  // Both start on a store that already holds a value, so every write is a read-modify-write.
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(cKey, true));
    reg.WriteInteger("Seed", 1);
  }
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  auto writer = [&](char prefix) {
    return Spawn([&, prefix] {
      close(go[1]);
      char c;
      if (read(go[0], &c, 1) < 0) _exit(2);  // start together
      TRegistry reg;
      if (!reg.OpenKey(cKey, false)) _exit(3);
      for (int i = 0; i < cCount; ++i) {
        reg.WriteInteger(std::string(1, prefix) + std::to_string(i), i);
        reg.WriteString("Last" + std::string(1, prefix), std::to_string(i));
      }
    });
  };
  const pid_t a = writer('A');
  const pid_t b = writer('B');
  close(go[0]);
  close(go[1]);  // end of file wakes both
  const int statusA = WaitExit(a);
  const int statusB = WaitExit(b);
  ASSERT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0) << statusA;
  ASSERT_TRUE(WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0) << statusB;

  TRegistry reg(platform::KEY_READ);
  ASSERT_TRUE(reg.OpenKey(cKey, false));
  EXPECT_EQ(reg.ReadInteger("Seed"), 1);
  for (int i = 0; i < cCount; ++i) {
    ASSERT_EQ(reg.ReadInteger("A" + std::to_string(i)), i);
    ASSERT_EQ(reg.ReadInteger("B" + std::to_string(i)), i);
  }
  EXPECT_EQ(reg.ReadString("LastA"), std::to_string(cCount - 1));
  EXPECT_EQ(reg.ReadString("LastB"), std::to_string(cCount - 1));
}

TEST_F(RegistryProcessTest, AKilledWriterLeavesTheOldOrTheNewStore) {
  // A writer in a loop reports each value after its write returned; it is killed at a random
  // moment, mostly in the middle of a write. Whatever it acknowledged must be there, and the
  // store must parse.
  std::mt19937 random(12345);
  const std::string bulk(4000, 'x');  // makes each write long enough to be hit
  std::vector<int> acknowledged;      // values reported done, over all rounds
  int next = 0;
  for (int round = 0; round < 12; ++round) {
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    const int first = next;
    const pid_t child = Spawn([&] {
      close(acks[0]);
      TRegistry reg;
      if (!reg.OpenKey(cKey, true)) _exit(3);
      for (int i = first;; ++i) {
        reg.WriteString("Bulk" + std::to_string(i % 7), bulk + std::to_string(i));
        reg.WriteInteger("V" + std::to_string(i), i);
        if (write(acks[1], &i, sizeof i) != sizeof i) _exit(4);
      }
    });
    close(acks[1]);
    // Let it acknowledge a few values, then kill it after a random short delay.
    const int wanted = 2 + static_cast<int>(random() % 5);
    int value = 0;
    for (int got = 0; got < wanted && read(acks[0], &value, sizeof value) == sizeof value; ++got)
      acknowledged.push_back(value);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    kill(child, SIGKILL);
    const int status = WaitExit(child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself: " << status;
    // Acknowledgements written before the kill still count.
    while (read(acks[0], &value, sizeof value) == sizeof value) acknowledged.push_back(value);
    close(acks[0]);

    TRegistry reg(platform::KEY_READ);
    ASSERT_TRUE(reg.OpenKey(cKey, false)) << "round " << round;  // throws if damaged
    for (const int i : acknowledged)
      ASSERT_EQ(reg.ReadInteger("V" + std::to_string(i)), i) << "round " << round;
    next = acknowledged.back() + 2;  // the value in flight may or may not be there
  }
  EXPECT_GE(acknowledged.size(), 24u);
  for (const auto& entry : fs::directory_iterator(platform::RegistryStoreFolder()))
    EXPECT_EQ(entry.path().filename().string().find("damaged"), std::string::npos) << entry.path();
}

}  // namespace
