// The whole update as a user runs it: a private JACK server, korvane-sim
// processes as the controllers and korvane-flash, compared by the exact final
// log, the exit status and the firmware each controller saved.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/support/jack_server.h"

namespace korvane::testing {
namespace {

// Generous: the machine is shared and loaded; none of these measures speed.
constexpr std::chrono::seconds kPortsDeadline{120};
// One look at the port list; a look that hangs is killed and the next one made.
constexpr std::chrono::seconds kListDeadline{10};
constexpr std::chrono::seconds kFlashDeadline{300};
constexpr std::chrono::seconds kQuickDeadline{60};

const std::string kSim = KORVANE_SIM_PATH;
const std::string kFlash = KORVANE_FLASH_PATH;

const std::string kDanger =
    "\r\n--------------------------------\r\nDANGER!!!\r\nDO NOT SWITCH OFF YOUR KORVANE NOW\r\n"
    "There were errors while flashing the OS.\r\nRetry it now!\r\nIf you do switch off now your "
    "Korvane is only refreshable with a standard MIDI Interface but not working with USB anymore";
const std::string kSuccess = "\r\nUpdate successfully completed.";
const std::string kLost = "\r\nThe hardware is not longer conected to your computer";

std::string BlockLine(int block, int total) {
  return "\r\nWriting Block " + std::to_string(block) + "/" + std::to_string(total) + " ...";
}

std::string RetryLine(const char* ordinal, int block, int total) {
  return std::string("\r\n") + ordinal + " retry on Block " + std::to_string(block) + "/" +
         std::to_string(total) + " ...";
}

class UpdateOverJack : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!JackServer::Installed())
      GTEST_SKIP() << "jackd and jack_wait are not installed (scripts/install-deps installs "
                      "jackd2); the end-to-end tests need a real MIDI server";
    const std::string error = server_.Start();
    ASSERT_TRUE(error.empty()) << "the private JACK server did not start: " << error;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::string(KORVANE_BINARY_DIR) + "/e2e-work/" + info->name() + "-" +
           std::to_string(getpid());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }

  void TearDown() override {
    sims_.clear();  // killed if a test left one running
    server_.Stop();
  }

  std::string MakeImage(int messages, int length) {
    const std::string path = dir_ + "/update.syx";
    RunResult made =
        RunToEnd({kSim, "make-image", "--model", "TRW1000", "--messages", std::to_string(messages),
                  "--length", std::to_string(length), "--seed", "7", path},
                 dir_ + "/make-image", kQuickDeadline);
    EXPECT_EQ(made.status, 0) << made.err;
    image_ = ReadFile(path);
    EXPECT_EQ(image_.size(), static_cast<std::size_t>(messages * length));
    return path;
  }

  // A controller on ports named port; its firmware is saved to port + ".syx".
  ChildProcess& StartSim(const std::string& port, std::vector<std::string> options) {
    std::vector<std::string> args = {kSim, "--api",  "jack",        "--port",
                                     port, "--save", SavePath(port)};
    args.insert(args.end(), options.begin(), options.end());
    sims_.push_back(std::make_unique<ChildProcess>());
    const std::string error = sims_.back()->Start(args, dir_ + "/sim-" + port);
    EXPECT_TRUE(error.empty()) << error;
    return *sims_.back();
  }

  std::string SavePath(const std::string& port) const { return dir_ + "/" + port + ".syx"; }

  // The ports appear once the controllers are up; korvane-flash --list is
  // what a user would look at.
  void WaitForPorts(const std::vector<std::string>& ports) {
    const auto end = std::chrono::steady_clock::now() + kPortsDeadline;
    std::string listed;
    for (;;) {
      RunResult list = RunToEnd({kFlash, "--list"}, dir_ + "/list", kListDeadline);
      listed = list.out;
      bool all = true;
      for (const auto& port : ports) {
        all = all && listed.find("in ") != std::string::npos &&
              listed.find(port + " Out:" + port) != std::string::npos &&
              listed.find(port + " In:" + port) != std::string::npos;
      }
      if (all)
        return;
      if (std::chrono::steady_clock::now() >= end)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    FAIL() << "the controllers' ports did not appear; korvane-flash --list printed:\n" << listed;
  }

  RunResult Flash(std::vector<std::string> options, const std::string& image) {
    std::vector<std::string> args = {kFlash, "--log", LogPath()};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(image);
    return RunToEnd(args, dir_ + "/flash", kFlashDeadline);
  }

  std::string LogPath() const { return dir_ + "/update.log"; }

  // Ends a controller as a user would and returns the firmware it saved.
  std::string StopSim(ChildProcess& sim, const std::string& port) {
    sim.Signal(SIGTERM);
    const auto status = sim.Wait(kQuickDeadline);
    EXPECT_EQ(status, std::optional<int>(0)) << sim.Stderr();
    return ReadFile(SavePath(port));
  }

  // Everything the log holds before the transfer.
  std::string LogHead(const std::string& image) const {
    return "Welcome to the Korvane-Update Utility.\r\nPlease select a file to upload."
           "\r\nChecking file: " +
           std::filesystem::absolute(image).lexically_normal().string() +
           "\r\nTRW1000 update file selected.\r\nChecking MidiPorts...";
  }

  std::string FirstMessages(std::size_t count, std::size_t length) const {
    return image_.substr(0, count * length);
  }

  JackServer server_;
  std::string dir_;
  std::string image_;
  std::vector<std::unique_ptr<ChildProcess>> sims_;
};

TEST_F(UpdateOverJack, CleanUpdateEndsInSuccessAndTheControllerHoldsTheFile) {
  // 34 messages: two acknowledged blocks and a last one of two messages.
  const std::string image = MakeImage(34, 64);
  ChildProcess& sim = StartSim("Sim A", {});
  ASSERT_NO_FATAL_FAILURE(WaitForPorts({"Sim A"}));

  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 0) << flash.out << flash.err;
  EXPECT_EQ(ReadFile(LogPath()), LogHead(image) + BlockLine(3, 2) + kSuccess);
  EXPECT_NE(flash.out.find("Update successfully completed.\n"), std::string::npos) << flash.out;
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);
}

TEST_F(UpdateOverJack, RefusedBlockIsLoggedWithItsErrorAndSentAgain) {
  const std::string image = MakeImage(34, 64);
  ChildProcess& sim = StartSim("Sim A", {"--refuse", "2:2"});
  ASSERT_NO_FATAL_FAILURE(WaitForPorts({"Sim A"}));

  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 0) << flash.out << flash.err;
  EXPECT_EQ(ReadFile(LogPath()), LogHead(image) + BlockLine(2, 2) + "Erase error" +
                                     RetryLine("1st", 2, 2) + "OK" + BlockLine(3, 2) + kSuccess);
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);
}

TEST_F(UpdateOverJack, UnpluggedControllerEndsInLostConnectionAndDanger) {
  const std::string image = MakeImage(34, 64);
  ChildProcess& sim = StartSim("Sim A", {"--unplug-after", "1"});
  ASSERT_NO_FATAL_FAILURE(WaitForPorts({"Sim A"}));

  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 1) << flash.out << flash.err;
  EXPECT_EQ(ReadFile(LogPath()),
            LogHead(image) + BlockLine(2, 2) + "timeout ERROR" + kLost + kDanger);
  // Only the acknowledged first block reached the controller's memory.
  EXPECT_EQ(StopSim(sim, "Sim A"), FirstMessages(16, 64));
}

TEST_F(UpdateOverJack, ControllerDeafToBlocksGetsTenRetriesThenDanger) {
  const std::string image = MakeImage(32, 24);
  ChildProcess& sim = StartSim("Sim A", {"--ignore-blocks-after", "1"});
  ASSERT_NO_FATAL_FAILURE(WaitForPorts({"Sim A"}));

  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 1) << flash.out << flash.err;
  std::string expected = LogHead(image) + BlockLine(2, 2) + "timeout ERROR";
  for (const char* ordinal :
       {"1st", "2nd", "3rd", "4th", "5th", "6th", "7th", "8th", "9th", "10th"})
    expected += RetryLine(ordinal, 2, 2) + "timeout ERROR";
  EXPECT_EQ(ReadFile(LogPath()), expected + kDanger);
  EXPECT_EQ(StopSim(sim, "Sim A"), FirstMessages(16, 24));
}

TEST_F(UpdateOverJack, TwoControllersAreListedAndDeviceChoosesOne) {
  const std::string image = MakeImage(20, 32);
  ChildProcess& one = StartSim("Sim One", {"--name", "SIM-ONE"});
  ChildProcess& two = StartSim("Sim Two", {"--name", "SIM-TWO"});
  ASSERT_NO_FATAL_FAILURE(WaitForPorts({"Sim One", "Sim Two"}));

  // Nobody to ask: the list is printed and nothing is chosen.
  RunResult unchosen = Flash({}, image);
  EXPECT_EQ(unchosen.status, 4) << unchosen.out << unchosen.err;
  const auto zero = unchosen.out.find("\n0: ");
  const auto one_ = unchosen.out.find("\n1: ");
  ASSERT_NE(zero, std::string::npos) << unchosen.out;
  ASSERT_NE(one_, std::string::npos) << unchosen.out;
  EXPECT_EQ(unchosen.out.find("\n2: "), std::string::npos) << unchosen.out;
  const std::string firstEntry = unchosen.out.substr(zero + 4, one_ - zero - 4);
  const int twoIndex = firstEntry.find("SIM-TWO") != std::string::npos ? 0 : 1;
  EXPECT_NE(unchosen.out.find("     SIM-TWO (Sim Two In:Sim Two/Sim Two Out:Sim Two)\n"),
            std::string::npos)
      << unchosen.out;

  RunResult flash = Flash({"--device", std::to_string(twoIndex)}, image);
  EXPECT_EQ(flash.status, 0) << flash.out << flash.err;
  EXPECT_EQ(ReadFile(LogPath()), LogHead(image) + BlockLine(2, 1) + kSuccess);
  EXPECT_EQ(StopSim(two, "Sim Two"), image_);
  EXPECT_EQ(StopSim(one, "Sim One"), "");
}

TEST_F(UpdateOverJack, NoiseAroundEveryReplyChangesNothing) {
  const std::string image = MakeImage(34, 64);
  ChildProcess& sim = StartSim("Sim A", {"--noise"});
  ASSERT_NO_FATAL_FAILURE(WaitForPorts({"Sim A"}));

  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 0) << flash.out << flash.err;
  EXPECT_EQ(ReadFile(LogPath()), LogHead(image) + BlockLine(3, 2) + kSuccess);
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);
}

TEST_F(UpdateOverJack, NoControllerMeansNoDeviceAndExitThree) {
  const std::string image = MakeImage(16, 16);
  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 3) << flash.out << flash.err;
  const std::string log = ReadFile(LogPath());
  EXPECT_EQ(log.rfind(LogHead(image), 0), 0u) << log;
}

}  // namespace
}  // namespace korvane::testing
