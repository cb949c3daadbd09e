// The real MIDI system failing under a running update, and the update file
// changing on disk after it was loaded: korvane-flash must end with the right
// verdict and exit status, neither crash nor hang, and never send anything but
// the image it loaded.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/support/jack_server.h"

namespace korvane::testing {
namespace {

// Deadlines only guard against a hang; the machine is shared and loaded.
constexpr std::chrono::seconds kPortsDeadline{120};
constexpr std::chrono::seconds kListDeadline{10};
constexpr std::chrono::seconds kEndDeadline{60};
constexpr std::chrono::seconds kFlashDeadline{300};

const std::string kSim = KORVANE_SIM_PATH;
const std::string kFlash = KORVANE_FLASH_PATH;

const std::string kDanger =
    "\r\n--------------------------------\r\nDANGER!!!\r\nDO NOT SWITCH OFF YOUR KORVANE NOW\r\n"
    "There were errors while flashing the OS.\r\nRetry it now!\r\nIf you do switch off now your "
    "Korvane is only refreshable with a standard MIDI Interface but not working with USB anymore";
const std::string kSuccess = "\r\nUpdate successfully completed.";
const std::string kLost = "\r\nThe hardware is not longer conected to your computer";

// Long enough that a kill lands well inside the transfer: 40 blocks of
// 64-byte messages, 21 ms each.
constexpr int kMessages = 640;
constexpr int kLength = 64;

class FailureUnderUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!JackServer::Installed())
      GTEST_SKIP() << "jackd and jack_wait are not installed (scripts/install-deps installs "
                      "jackd2); the end-to-end tests need a real MIDI server";
    const std::string error = server_.Start();
    ASSERT_TRUE(error.empty()) << "the private JACK server did not start: " << error;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // Parameterised names hold a '/'; repeated runs get a directory each.
    std::string name = info->name();
    std::replace(name.begin(), name.end(), '/', '-');
    static int run = 0;
    dir_ = std::string(KORVANE_BINARY_DIR) + "/e2e-work/failure-" + name + "-" +
           std::to_string(getpid()) + "-" + std::to_string(++run);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    imagePath_ = dir_ + "/update.syx";
    RunResult made =
        RunToEnd({kSim, "make-image", "--model", "TRW1000", "--messages", std::to_string(kMessages),
                  "--length", std::to_string(kLength), "--seed", "11", "--addressed", imagePath_},
                 dir_ + "/make-image", kEndDeadline);
    ASSERT_EQ(made.status, 0) << made.err;
    image_ = ReadFile(imagePath_);
    ASSERT_EQ(image_.size(), static_cast<std::size_t>(kMessages * kLength));
  }

  void TearDown() override {
    flash_.reset();  // killed if a test left it running
    sim_.reset();
    server_.Stop();
  }

  // Addressed, so that a block sent again after a reply lost to a loaded
  // machine replaces what the controller holds instead of adding to it.
  void StartSim() {
    sim_ = std::make_unique<ChildProcess>();
    const std::string error =
        sim_->Start({kSim, "--api", "jack", "--port", "Sim A", "--addressed", "--save", SavePath()},
                    dir_ + "/sim");
    ASSERT_TRUE(error.empty()) << error;
    const auto end = std::chrono::steady_clock::now() + kPortsDeadline;
    std::string listed;
    while (std::chrono::steady_clock::now() < end) {
      listed = RunToEnd({kFlash, "--list"}, dir_ + "/list", kListDeadline).out;
      if (listed.find("Sim A Out:Sim A") != std::string::npos &&
          listed.find("Sim A In:Sim A") != std::string::npos) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    FAIL() << "the controller's ports did not appear; korvane-flash --list printed:\n" << listed;
  }

  void StartFlash() {
    flash_ = std::make_unique<ChildProcess>();
    const std::string error =
        flash_->Start({kFlash, "--log", LogPath(), imagePath_}, dir_ + "/flash");
    ASSERT_TRUE(error.empty()) << error;
  }

  // The controller reports every block it takes; the transfer is under way
  // once it has taken a few.
  void WaitUntilBlocksTaken(int blocks) {
    const std::string line = "block " + std::to_string(blocks) + " (";
    const auto end = std::chrono::steady_clock::now() + kFlashDeadline;
    while (std::chrono::steady_clock::now() < end) {
      if (sim_->Stdout().find(line) != std::string::npos)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    FAIL() << "the transfer did not get under way; the controller printed:\n"
           << sim_->Stdout() << "\nkorvane-flash printed:\n"
           << flash_->Stdout() << flash_->Stderr();
  }

  // korvane-flash ends by itself (a crash or a hang gives no exit status).
  int FlashExit(std::chrono::seconds deadline) {
    const std::optional<int> status = flash_->Wait(deadline);
    EXPECT_TRUE(status.has_value()) << "korvane-flash crashed or did not end; it printed:\n"
                                    << flash_->Stdout() << flash_->Stderr();
    return status.value_or(-1);
  }

  std::string SavePath() const { return dir_ + "/Sim A.syx"; }
  std::string LogPath() const { return dir_ + "/update.log"; }

  JackServer server_;
  std::string dir_;
  std::string imagePath_;
  std::string image_;
  std::unique_ptr<ChildProcess> sim_;
  std::unique_ptr<ChildProcess> flash_;
};

TEST_F(FailureUnderUpdate, JackServerKilledMidTransferEndsInLostConnection) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  ASSERT_NO_FATAL_FAILURE(StartFlash());
  ASSERT_NO_FATAL_FAILURE(WaitUntilBlocksTaken(3));

  server_.Kill();
  EXPECT_EQ(FlashExit(kEndDeadline), 1);
  const std::string log = ReadFile(LogPath());
  EXPECT_TRUE(log.ends_with(kLost + kDanger)) << log;
  EXPECT_EQ(log.find(kSuccess), std::string::npos);
}

TEST_F(FailureUnderUpdate, ControllerKilledMidTransferEndsInLostConnection) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  ASSERT_NO_FATAL_FAILURE(StartFlash());
  ASSERT_NO_FATAL_FAILURE(WaitUntilBlocksTaken(3));

  sim_->Signal(SIGKILL);
  EXPECT_EQ(FlashExit(kEndDeadline), 1);
  const std::string log = ReadFile(LogPath());
  EXPECT_TRUE(log.ends_with(kLost + kDanger)) << log;
  EXPECT_EQ(log.find(kSuccess), std::string::npos);
}

// The file on disk changes once the transfer runs; the image in memory is
// what goes out.
void Truncate(const std::string& path) {
  std::filesystem::resize_file(path, 100);
}

void Replace(const std::string& path) {
  const std::string other = path + ".new";
  std::ofstream(other, std::ios::binary) << std::string(kLength * 4, '\x55');
  std::filesystem::rename(other, path);
}

class FileChangedAfterLoad : public FailureUnderUpdate,
                             public ::testing::WithParamInterface<void (*)(const std::string&)> {};

TEST_P(FileChangedAfterLoad, ControllerStillGetsTheLoadedImage) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  ASSERT_NO_FATAL_FAILURE(StartFlash());
  ASSERT_NO_FATAL_FAILURE(WaitUntilBlocksTaken(1));

  GetParam()(imagePath_);
  ASSERT_NE(ReadFile(imagePath_), image_);
  EXPECT_EQ(FlashExit(kFlashDeadline), 0);
  EXPECT_TRUE(ReadFile(LogPath()).ends_with(kSuccess));

  sim_->Signal(SIGTERM);
  ASSERT_EQ(sim_->Wait(kEndDeadline), std::optional<int>(0)) << sim_->Stderr();
  EXPECT_EQ(ReadFile(SavePath()), image_);
}

INSTANTIATE_TEST_SUITE_P(TruncatedOrReplaced, FileChangedAfterLoad,
                         ::testing::Values(&Truncate, &Replace), [](const auto& info) {
                           return std::string(info.index == 0 ? "Truncated" : "Replaced");
                         });

}  // namespace
}  // namespace korvane::testing
