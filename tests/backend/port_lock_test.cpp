#include "midi/rtmidi/port_lock.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "midi/backend_notice.h"

namespace korvane::rtmidi_backend {
namespace {

namespace fs = std::filesystem;

// Ports of this test's own: the lock folder is the machine's, shared with any
// updater running meanwhile.
std::string TestPort(const std::string& tag) {
  return "Korvane Lock Test " + std::to_string(getpid()) + " " + tag;
}

std::string LockFilePath(const std::string& key) {
  return PortLockFolder() + "/" + PortLockFileName(key);
}

char OutcomeCode(PortLock::Outcome outcome) {
  switch (outcome) {
    case PortLock::Outcome::kHeld:
      return 'h';
    case PortLock::Outcome::kBusy:
      return 'b';
    case PortLock::Outcome::kFailed:
      break;
  }
  return 'f';
}

// A lock taker in a child process, driven one command at a time through
// pipes. prepare runs first in the child (its environment, its user).
class ChildTaker {
 public:
  ChildTaker(std::string key, const std::function<bool()>& prepare) {
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0)
      return;
    pid_ = fork();
    if (pid_ == 0) {
      close(toChild[1]);
      close(fromChild[0]);
      Serve(key, prepare, toChild[0], fromChild[1]);
      _exit(0);
    }
    close(toChild[0]);
    close(fromChild[1]);
    commands_ = toChild[1];
    replies_ = fromChild[0];
  }
  ~ChildTaker() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(commands_);
    close(replies_);
  }

  char Take() { return Ask('t'); }
  char Release() { return Ask('r'); }

 private:
  static void Serve(const std::string& key, const std::function<bool()>& prepare, int in, int out) {
    char reply = prepare() ? 'y' : 'n';
    if (write(out, &reply, 1) != 1 || reply == 'n')
      return;
    PortLock lock;
    char command = 0;
    while (read(in, &command, 1) == 1) {
      if (command == 't') {
        reply = OutcomeCode(lock.Take(key));
      } else {
        lock.Release();
        reply = 'r';
      }
      if (write(out, &reply, 1) != 1)
        return;
    }
  }

  char Ask(char command) {
    if (!started_) {
      started_ = true;
      if (Read() != 'y')
        return '!';
    }
    return write(commands_, &command, 1) == 1 ? Read() : '?';
  }
  char Read() {
    char reply = '?';
    return read(replies_, &reply, 1) == 1 ? reply : '?';
  }

  pid_t pid_ = -1;
  int commands_ = -1;
  int replies_ = -1;
  bool started_ = false;
};

TEST(PortLockTest, HeldByOneHolderAtATimeAndFreedWhenTheHolderDies) {
  const std::string key = PortLockKey("jack", false, TestPort("In"));
  auto child = std::make_unique<ChildTaker>(key, [] { return true; });
  ASSERT_EQ(child->Take(), 'h');

  PortLock mine;
  EXPECT_EQ(mine.Take(key), PortLock::Outcome::kBusy);
  // The same name on the other direction is another port.
  PortLock input;
  EXPECT_EQ(input.Take(PortLockKey("jack", true, TestPort("In"))), PortLock::Outcome::kHeld);

  child.reset();  // killed while it holds the lock
  EXPECT_EQ(mine.Take(key), PortLock::Outcome::kHeld);
  // A second holder in the same process is refused too.
  PortLock again;
  EXPECT_EQ(again.Take(key), PortLock::Outcome::kBusy);
  mine.Release();
  EXPECT_EQ(again.Take(key), PortLock::Outcome::kHeld);
}

// A desktop session beside ssh, sudo or cron: the lock must not depend on
// what the environment says.
TEST(PortLockTest, ProcessesWithDifferentEnvironmentsExcludeEachOther) {
  const std::string key = PortLockKey("alsa", false, TestPort("Env"));
  ChildTaker child(key, [] { return setenv("XDG_RUNTIME_DIR", "/nonexistent-korvane", 1) == 0; });
  unsetenv("XDG_RUNTIME_DIR");
  ASSERT_EQ(child.Take(), 'h');
  PortLock mine;
  EXPECT_EQ(mine.Take(key), PortLock::Outcome::kBusy);
  ASSERT_EQ(child.Release(), 'r');
  EXPECT_EQ(mine.Take(key), PortLock::Outcome::kHeld);
  EXPECT_EQ(child.Take(), 'b');
}

TEST(PortLockTest, UsersExcludeEachOther) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to run a second process as nobody";
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr)
    GTEST_SKIP() << "no user nobody";
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  const std::string key = PortLockKey("alsa", true, TestPort("Users"));
  ChildTaker child(key, [uid, gid] {
    return setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0 && geteuid() == uid;
  });

  PortLock mine;
  ASSERT_EQ(mine.Take(key), PortLock::Outcome::kHeld);
  EXPECT_EQ(child.Take(), 'b');
  mine.Release();
  EXPECT_EQ(child.Take(), 'h');
  EXPECT_EQ(mine.Take(key), PortLock::Outcome::kBusy);
  ASSERT_EQ(child.Release(), 'r');
  EXPECT_FALSE(fs::exists(LockFilePath(key)));  // its own file: removed by it
  EXPECT_EQ(mine.Take(key), PortLock::Outcome::kHeld);
  EXPECT_EQ(child.Take(), 'b');
}

TEST(PortLockTest, TheFileLastsAsLongAsTheLock) {
  const std::string key = PortLockKey("alsa", false, TestPort("File"));
  PortLock lock;
  ASSERT_EQ(lock.Take(key), PortLock::Outcome::kHeld);
  struct stat info {};
  ASSERT_EQ(stat(LockFilePath(key).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u);  // lockable by every user, whatever the umask
  lock.Release();
  EXPECT_FALSE(fs::exists(LockFilePath(key)));
}

// Release removes the file while holding it: whoever opened the old file
// before that must not count the lock on it as held. Processes take and
// release one key as fast as they can; a shared counter sees two holders.
TEST(PortLockTest, RemovingTheFileNeverLetsTwoHoldIt) {
  struct Shared {
    std::atomic<int> holders;
    std::atomic<int> overlaps;
    std::atomic<int> held;
    std::atomic<int> failed;
  };
  void* memory =
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  auto* shared = new (memory) Shared{};
  const std::string key = PortLockKey("alsa", false, TestPort("Race"));
  // The processes stop together once it was held this many times in all;
  // the attempts only bound a broken lock's run.
  constexpr int kProcesses = 4;
  constexpr int kHolds = 200;
  constexpr int kMaxAttempts = 1000000;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PortLock lock;
      for (int i = 0; shared->held.load() < kHolds && i < kMaxAttempts; ++i) {
        const PortLock::Outcome outcome = lock.Take(key);
        if (outcome == PortLock::Outcome::kFailed)
          shared->failed.fetch_add(1);
        if (outcome != PortLock::Outcome::kHeld)
          continue;
        shared->held.fetch_add(1);
        // Held across a reschedule, so the others run meanwhile.
        if (shared->holders.fetch_add(1) != 0)
          shared->overlaps.fetch_add(1);
        sched_yield();
        shared->holders.fetch_sub(1);
        lock.Release();
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(shared->overlaps.load(), 0);
  EXPECT_EQ(shared->failed.load(), 0);
  EXPECT_GE(shared->held.load(), kHolds);
  EXPECT_FALSE(fs::exists(LockFilePath(key)));
  munmap(memory, sizeof(Shared));
}

// Folders of the test's own, made unusable in one way each.
class PortLockFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("korvane-lock-test-" + std::to_string(getpid()));
    fs::create_directories(root_);
    SetBackendNoticeSink([this](const std::string& text) { notices_.push_back(text); });
  }
  void TearDown() override {
    SetBackendNoticeSink(nullptr);
    fs::remove_all(root_);
  }
  fs::path root_;
  std::vector<std::string> notices_;
};

TEST_F(PortLockFolderTest, AFolderWeMakeIsOpenToAllWithTheStickyBit) {
  const mode_t old = umask(077);
  PortLock lock((root_ / "made").string());
  EXPECT_EQ(lock.Take("alsa-out-Made"), PortLock::Outcome::kHeld);
  umask(old);
  struct stat info {};
  ASSERT_EQ(stat((root_ / "made").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 01777u);
}

// A port whose lock is held elsewhere is refused without a word.
TEST_F(PortLockFolderTest, AHeldPortIsRefusedSilently) {
  const std::string key = PortLockKey("alsa", false, TestPort("Held"));
  PortLock other((root_ / "locks").string());
  ASSERT_EQ(other.Take(key), PortLock::Outcome::kHeld);
  PortLock lock((root_ / "locks").string());
  EXPECT_EQ(LockForOpen(lock, key, TestPort("Held")), MMSYSERR_ALLOCATED);
  EXPECT_TRUE(notices_.empty());
  other.Release();
  EXPECT_EQ(LockForOpen(lock, key, TestPort("Held")), MMSYSERR_NOERROR);
  EXPECT_TRUE(lock.Held());
}

struct Unusable {
  const char* name;
  bool needsRoot;
  // Makes the folder under root unusable and returns its path.
  std::function<fs::path(const fs::path& root)> make;
};

class PortLockFailsClosed : public PortLockFolderTest,
                            public ::testing::WithParamInterface<Unusable> {};

TEST_P(PortLockFailsClosed, ThePortIsNotUsedAndTheReasonIsSaidOnce) {
  if (GetParam().needsRoot && geteuid() != 0)
    GTEST_SKIP() << "needs root to make a folder owned by another user";
  const fs::path folder = GetParam().make(root_);
  const std::string port = TestPort(GetParam().name);
  const std::string key = PortLockKey("alsa", true, port);
  PortLock lock(folder.string());
  EXPECT_EQ(LockForOpen(lock, key, port), MMSYSERR_ALLOCATED);
  EXPECT_FALSE(lock.Held());
  EXPECT_EQ(LockForOpen(lock, key, port), MMSYSERR_ALLOCATED);
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_NE(notices_[0].find("\"" + port + "\""), std::string::npos) << notices_[0];
  EXPECT_NE(notices_[0].find(folder.string()), std::string::npos) << notices_[0];
}

INSTANTIATE_TEST_SUITE_P(
    Folders, PortLockFailsClosed,
    ::testing::Values(Unusable{"Symlink", false,
                               [](const fs::path& root) {
                                 fs::create_directory(root / "real");
                                 fs::create_directory_symlink(root / "real", root / "link");
                                 return root / "link";
                               }},
                      Unusable{"UnderAFile", false,
                               [](const fs::path& root) {
                                 std::ofstream(root / "file") << "not a folder";
                                 return root / "file" / "locks";
                               }},
                      Unusable{"LockFileIsAFolder", false,
                               [](const fs::path& root) {
                                 const std::string port = TestPort("LockFileIsAFolder");
                                 fs::create_directories(
                                     root / "locks" /
                                     PortLockFileName(PortLockKey("alsa", true, port)));
                                 return root / "locks";
                               }},
                      Unusable{"OthersWriteWithoutSticky", true,
                               [](const fs::path& root) {
                                 fs::create_directory(root / "open");
                                 const passwd* nobody = getpwnam("nobody");
                                 if (nobody == nullptr ||
                                     chown((root / "open").c_str(), nobody->pw_uid, 0) != 0 ||
                                     chmod((root / "open").c_str(), 0777) != 0) {
                                   ADD_FAILURE() << "cannot give the folder to nobody";
                                 }
                                 return root / "open";
                               }}),
    [](const ::testing::TestParamInfo<Unusable>& info) { return std::string(info.param.name); });

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
