// The real MIDI system failing under a running update, and the update file
// changing on disk after it was loaded: korvane-flash must end with the right
// verdict and exit status, neither crash nor hang, and never send anything but
// the image it loaded.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "update/transfer_texts.h"

namespace korvane::testing {
namespace {

const std::string kDanger = kDangerText;
const std::string kSuccess = kSuccessText;
const std::string kLost = kLostConnectionText;

// Long enough that a kill lands well inside the transfer: 40 blocks of
// 64-byte messages, 21 ms each.
constexpr int kMessages = 640;
constexpr int kLength = 64;

class FailureUnderUpdate : public MidiEndToEnd {
 protected:
  void SetUp() override {
    MidiEndToEnd::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    imagePath_ = MakeImage(kMessages, kLength, {"--addressed"});
  }

  void TearDown() override {
    flash_.reset();  // killed if a test left it running
    MidiEndToEnd::TearDown();
  }

  // Addressed, so that a block sent again after a reply lost to a loaded
  // machine replaces what the controller holds instead of adding to it.
  void StartSim() { sim_ = &MidiEndToEnd::StartSim("Sim A", {"--addressed"}); }
  void StartFlash() { flash_ = MidiEndToEnd::StartFlash(imagePath_); }

  // The controller reports every block it takes; the transfer is under way
  // once it has taken a few.
  void WaitUntilBlocksTaken(int blocks) {
    WaitForEvent(*sim_, "block " + std::to_string(blocks) + " (");
  }

  // korvane-flash ends by itself (a crash or a hang gives no exit status).
  int FlashExit(std::chrono::seconds deadline) {
    const std::optional<int> status = flash_->Wait(deadline);
    EXPECT_TRUE(status.has_value()) << "korvane-flash " << flash_->HowItEnded() << "; it printed:\n"
                                    << flash_->Stdout() << flash_->Stderr();
    return status.value_or(-1);
  }

  std::string imagePath_;
  ChildProcess* sim_ = nullptr;
  std::unique_ptr<ChildProcess> flash_;
};

TEST_F(FailureUnderUpdate, JackServerKilledMidTransferEndsInLostConnection) {
  if (!midi_.IsJack())
    GTEST_SKIP() << midi_.Name() << "'s sequencer is the kernel's: there is no server to kill";
  ASSERT_NO_FATAL_FAILURE(StartSim());
  ASSERT_NO_FATAL_FAILURE(StartFlash());
  ASSERT_NO_FATAL_FAILURE(WaitUntilBlocksTaken(3));

  midi_.Jack().Kill();
  EXPECT_EQ(FlashExit(kEndDeadline), 1);
  const std::string log = ReadFile(LogPath());
  EXPECT_TRUE(log.ends_with(kLost + kDanger)) << log;
  EXPECT_EQ(log.find(kSuccess), std::string::npos);
  // The controller does not run on without its server: it says so and ends.
  EXPECT_EQ(sim_->Wait(kEndDeadline), std::optional<int>(1));
  EXPECT_NE(sim_->Stderr().find("korvane-sim: the JACK server went away; the controller ends\n"),
            std::string::npos)
      << sim_->Stderr();
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

  EXPECT_EQ(StopSim(*sim_, "Sim A"), image_);
}

INSTANTIATE_TEST_SUITE_P(TruncatedOrReplaced, FileChangedAfterLoad,
                         ::testing::Values(&Truncate, &Replace), [](const auto& info) {
                           return std::string(info.index == 0 ? "Truncated" : "Replaced");
                         });

}  // namespace
}  // namespace korvane::testing
