#include "midi/rtmidi/port_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace korvane::rtmidi_backend {
namespace {

class PortLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A runtime directory of the test's own, so no real updater is disturbed.
    dir_ =
        std::filesystem::temp_directory_path() / ("korvane-lock-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
};

TEST_F(PortLockTest, HeldByOneHolderAtATimeAndFreedWhenTheHolderDies) {
  const std::string key = PortLockKey("jack", false, "Korvane Sim In:Korvane Sim");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PortLock lock;
    const char held = lock.Take(key) == PortLock::Outcome::kHeld ? 'y' : 'n';
    if (write(ready[1], &held, 1) != 1)
      _exit(1);
    pause();  // killed by the parent while it holds the lock
    _exit(0);
  }
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  EXPECT_EQ(held, 'y');

  PortLock mine;
  EXPECT_EQ(mine.Take(key), PortLock::Outcome::kBusy);
  // The same name on the other direction is another port.
  PortLock input;
  EXPECT_EQ(input.Take(PortLockKey("jack", true, "Korvane Sim In:Korvane Sim")),
            PortLock::Outcome::kHeld);

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(mine.Take(key), PortLock::Outcome::kHeld);
  // A second holder in the same process is refused too.
  PortLock again;
  EXPECT_EQ(again.Take(key), PortLock::Outcome::kBusy);
  mine.Release();
  EXPECT_EQ(again.Take(key), PortLock::Outcome::kHeld);
  close(ready[0]);
  close(ready[1]);
}

TEST(PortLockFileName, SafeBoundedAndDistinct) {
  EXPECT_EQ(PortLockFileName("alsa-out-VirMIDI 1-0 20:0"), "alsa-out-VirMIDI%201-0%2020%3A0.lock");
  EXPECT_NE(PortLockFileName("a/b"), PortLockFileName("a%2Fb"));
  const std::string longA = PortLockFileName(std::string(300, 'x') + "A");
  const std::string longB = PortLockFileName(std::string(300, 'x') + "B");
  EXPECT_NE(longA, longB);
  EXPECT_LE(longA.size(), 170u);
  EXPECT_EQ(longA.find('/'), std::string::npos);
}

}  // namespace
}  // namespace korvane::rtmidi_backend
