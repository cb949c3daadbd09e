// The whole update as a user runs it over a real MIDI system (JACK, or ALSA
// with KORVANE_TEST_MIDI=alsa): korvane-sim processes as the controllers and
// korvane-flash, compared by the exact final log, the exit status and the
// firmware each controller saved.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"
#include "update/transfer_texts.h"

namespace korvane::testing {
namespace {

const std::string kDanger = kDangerText;
const std::string kSuccess = kSuccessText;
const std::string kLost = kLostConnectionText;

std::string BlockLine(int block, int total) {
  return WritingBlockLine(block, total);
}

std::string RetryLine(int retry, int block, int total) {
  return RetryBlockLine(retry, block, total);
}

class UpdateOverMidi : public MidiEndToEnd {
 protected:
  std::string FirstMessages(std::size_t count, std::size_t length) const {
    return image_.substr(0, count * length);
  }
};

TEST_F(UpdateOverMidi, CleanUpdateEndsInSuccessAndTheControllerHoldsTheFile) {
  // 34 messages: two acknowledged blocks and a last one of two messages.
  const std::string image = MakeImage(34, 64);
  ChildProcess& sim = StartSim("Sim A");

  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 0) << flash.out << flash.err;
  EXPECT_EQ(ReadFile(LogPath()), LogHead(image) + BlockLine(3, 2) + kSuccess);
  EXPECT_NE(flash.out.find("Update successfully completed.\n"), std::string::npos) << flash.out;
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);
}

TEST_F(UpdateOverMidi, RefusedBlockIsLoggedWithItsErrorAndSentAgain) {
  const std::string image = MakeImage(34, 64);
  ChildProcess& sim = StartSim("Sim A", {"--refuse", "2:2"});

  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 0) << flash.out << flash.err;
  EXPECT_EQ(ReadFile(LogPath()), LogHead(image) + BlockLine(2, 2) + "Erase error" +
                                     RetryLine(1, 2, 2) + "OK" + BlockLine(3, 2) + kSuccess);
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);
}

TEST_F(UpdateOverMidi, UnpluggedControllerEndsInLostConnectionAndDanger) {
  const std::string image = MakeImage(34, 64);
  ChildProcess& sim = StartSim("Sim A", {"--unplug-after", "1"});

  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 1) << flash.out << flash.err;
  EXPECT_EQ(ReadFile(LogPath()),
            LogHead(image) + BlockLine(2, 2) + "timeout ERROR" + kLost + kDanger);
  // Only the acknowledged first block reached the controller's memory.
  EXPECT_EQ(StopSim(sim, "Sim A"), FirstMessages(16, 64));
}

TEST_F(UpdateOverMidi, ControllerDeafToBlocksGetsTenRetriesThenDanger) {
  const std::string image = MakeImage(32, 24);
  ChildProcess& sim = StartSim("Sim A", {"--ignore-blocks-after", "1"});

  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 1) << flash.out << flash.err;
  std::string expected = LogHead(image) + BlockLine(2, 2) + "timeout ERROR";
  for (int retry = 1; retry <= 10; ++retry)
    expected += RetryLine(retry, 2, 2) + "timeout ERROR";
  EXPECT_EQ(ReadFile(LogPath()), expected + kDanger);
  EXPECT_EQ(StopSim(sim, "Sim A"), FirstMessages(16, 24));
}

TEST_F(UpdateOverMidi, TwoControllersAreListedAndDeviceChoosesOne) {
  const std::string image = MakeImage(20, 32);
  ChildProcess& one = StartSim("Sim One", {"--name", "SIM-ONE"});
  ChildProcess& two = StartSim("Sim Two", {"--name", "SIM-TWO"});

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
  // The terminal says which controller it updates.
  EXPECT_NE(flash.err.find("korvane-flash: updating device " + std::to_string(twoIndex) +
                           ":      SIM-TWO (Sim Two In:Sim Two/Sim Two Out:Sim Two)\n"),
            std::string::npos)
      << flash.err;
  EXPECT_EQ(ReadFile(LogPath()), LogHead(image) + BlockLine(2, 1) + kSuccess);
  EXPECT_EQ(StopSim(two, "Sim Two"), image_);
  EXPECT_EQ(StopSim(one, "Sim One"), "");
}

TEST_F(UpdateOverMidi, ASecondControllerOfTheSameNameIsRefused) {
  // JACK would rename its client, ALSA would list two of one name, and
  // updaters could not tell the two apart.
  StartSim("Sim A");
  ChildProcess second;
  ASSERT_EQ(second.Start({KORVANE_SIM_PATH, "--api", midi_.ApiOption(), "--port", "Sim A"},
                         dir_ + "/second"),
            "");
  EXPECT_EQ(second.Wait(kEndDeadline), std::optional<int>(1));
  EXPECT_NE(second.Stderr().find("a MIDI client named \"Sim A In\" is already on " +
                                 std::string(midi_.Name())),
            std::string::npos)
      << second.Stderr();
}

TEST_F(UpdateOverMidi, NoiseAroundEveryReplyChangesNothing) {
  const std::string image = MakeImage(34, 64);
  ChildProcess& sim = StartSim("Sim A", {"--noise"});

  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 0) << flash.out << flash.err;
  EXPECT_EQ(ReadFile(LogPath()), LogHead(image) + BlockLine(3, 2) + kSuccess);
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);
}

TEST_F(UpdateOverMidi, NoControllerMeansNoDeviceAndExitThree) {
  const std::string image = MakeImage(16, 16);
  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 3) << flash.out << flash.err;
  const std::string log = ReadFile(LogPath());
  EXPECT_EQ(log.rfind(LogHead(image), 0), 0u) << log;
}

}  // namespace
}  // namespace korvane::testing
