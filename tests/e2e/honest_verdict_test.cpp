// The verdict under the faults of real use, over a real MIDI system: a second
// updater started beside the first, a controller that pauses or leaves during
// the last block, stray messages before a block's reply, a late answer during
// the scan, a second update to the same controller, messages too long for the
// MIDI system. "Update successfully completed." must mean the
// controller holds the file; a pause must not end an update that can finish.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "tests/e2e/e2e_fixture.h"
#include "update/transfer_texts.h"

namespace korvane::testing {
namespace {

class HonestVerdict : public MidiEndToEnd {
 protected:
  void ExpectLongestMessageArrivesAndLongerIsRefused(int longest);
};

TEST_F(HonestVerdict, ASecondUpdaterFindsThePortsHeldAndSendsNothing) {
  const std::string image = MakeImage(128, 64);
  ChildProcess& sim = StartSim("Sim A");
  auto first = StartFlash(image, "first");
  WaitForEvent(sim, "block 1 (");

  const RunResult second = Flash({}, image, "second");
  EXPECT_EQ(second.status, 3) << second.out << second.err;
  const std::string log = ReadFile(LogPath("second"));
  EXPECT_NE(log.find("MIDIINOPEN -> MMSYSERR_ALLOCATED"), std::string::npos) << log;
  EXPECT_EQ(log.find("Writing Block"), std::string::npos) << log;

  EXPECT_EQ(first->Wait(kFlashDeadline), std::optional<int>(0)) << first->Stdout();
  EXPECT_TRUE(ReadFile(LogPath("first")).ends_with(kSuccessText));
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);
}

// The controller stops for half a second (kill -STOP), at three points of a
// block. JACK loses what it is sent meanwhile: the probe finds the controller
// again and the block is sent again whole. ALSA keeps it queued for the
// controller, whose reply comes late or after the block was sent again. Either
// way the update finishes, and the addressed controller holds the file.
class PausedController : public MidiEndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(PausedController, HalfASecondStopEndsInSuccess) {
  // 16 messages of 64 bytes take about 340 ms: the offsets fall at the start,
  // in the middle and at the end of block 3.
  const std::string image = MakeImage(96, 64, {"--addressed"});
  ChildProcess& sim = StartSim("Sim A", {"--addressed"});
  auto flash = StartFlash(image);
  WaitForEvent(sim, "block 2 (");
  std::this_thread::sleep_for(std::chrono::milliseconds(GetParam()));
  sim.Signal(SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  sim.Signal(SIGCONT);

  EXPECT_EQ(flash->Wait(kFlashDeadline), std::optional<int>(0)) << flash->Stdout();
  const std::string log = ReadFile(LogPath());
  EXPECT_TRUE(log.ends_with(kSuccessText)) << log;
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);
}

INSTANTIATE_TEST_SUITE_P(AtThreePointsOfABlock, PausedController, ::testing::Values(0, 150, 300),
                         [](const auto& info) {
                           return "After" + std::to_string(info.param) + "ms";
                         });

TEST_F(HonestVerdict, GoneWithItsPortsDuringTheLastBlockIsALostConnection) {
  // 40 messages: two acknowledged blocks and a last one of 8 that nobody
  // acknowledges; the controller and its ports go after 36, as a USB cable
  // pulled. Sending into the void succeeds; the pair missing from the MIDI
  // system is what shows it.
  const std::string image = MakeImage(40, 64);
  ChildProcess& sim = StartSim("Sim A", {"--vanish-after-messages", "36"});
  const RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 1) << flash.out << flash.err;
  EXPECT_EQ(ReadFile(LogPath()),
            LogHead(image) + WritingBlockLine(3, 2) + kLostConnectionText + kDangerText);
  EXPECT_NE(StopSim(sim, "Sim A"), image_);
}

// Only a block reply answers a block: the controller's own identity reply, or
// a message with another command byte, just before its reply is passed over.
TEST_F(HonestVerdict, StrayMessagesBeforeBlockRepliesArePassedOver) {
  const std::string image = MakeImage(48, 64, {"--addressed"});
  ChildProcess& sim = StartSim("Sim A", {"--addressed", "--stray-before-reply", "1:identity",
                                         "--stray-before-reply", "2:command"});
  const RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 0) << flash.out << flash.err;
  EXPECT_TRUE(ReadFile(LogPath()).ends_with(kSuccessText));
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);
}

// A TRW1000 that answers after the scan's wait, beside a TRV1000 that ignores
// the TRW1000 file's requests: when the late reply arrives while the
// TRV1000's output is asked, no pair is made of it, and nothing is sent
// anywhere. Both orders of the two on the MIDI system are tried.
TEST_F(HonestVerdict, ALateAnswerDuringTheScanPairsNothing) {
  const std::string image = MakeImage(32, 64);
  for (const bool lateFirst : {true, false}) {
    SCOPED_TRACE(lateFirst ? "late one started first" : "late one started last");
    const std::string latePort = lateFirst ? "Sim A" : "Sim D";
    const std::string otherPort = lateFirst ? "Sim B" : "Sim C";
    ChildProcess* late = nullptr;
    ChildProcess* other = nullptr;
    if (lateFirst)
      late = &StartSim(latePort, {"--identity-delay", "350"});
    other = &StartSim(otherPort, {"--model", "TRV1000"});
    if (!lateFirst)
      late = &StartSim(latePort, {"--identity-delay", "350"});
    const RunResult flash = Flash({}, image);
    EXPECT_EQ(flash.status, 3) << flash.out << flash.err;
    EXPECT_TRUE(ReadFile(LogPath()).ends_with(kNoDeviceText)) << ReadFile(LogPath());
    EXPECT_EQ(StopSim(*late, latePort), "");
    EXPECT_EQ(StopSim(*other, otherPort), "");
  }
}

TEST_F(HonestVerdict, ASecondUpdateToTheSameControllerSucceedsToo) {
  // The first ends in a last block of 8, which the controller must not carry
  // into the next update.
  const std::string image = MakeImage(40, 64);
  ChildProcess& sim = StartSim("Sim A");
  for (const char* name : {"first", "second"}) {
    const RunResult flash = Flash({}, image, name);
    EXPECT_EQ(flash.status, 0) << name << flash.out << flash.err;
    EXPECT_EQ(ReadFile(LogPath(name)), LogHead(image) + WritingBlockLine(3, 2) + kSuccessText);
  }
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);
}

// A message as long as the MIDI system carries whole arrives; one byte more
// would vanish or arrive cut, so a file holding one is refused before the
// first block, with nothing sent.
void HonestVerdict::ExpectLongestMessageArrivesAndLongerIsRefused(int longest) {
  std::string image = MakeImage(1, longest);
  ChildProcess& sim = StartSim("Sim A");
  RunResult flash = Flash({}, image);
  EXPECT_EQ(flash.status, 0) << flash.out << flash.err;
  EXPECT_EQ(StopSim(sim, "Sim A"), image_);

  image = MakeImage(1, longest + 1);
  ChildProcess& again = StartSim("Sim B");
  flash = Flash({}, image);
  EXPECT_EQ(flash.status, 3) << flash.out << flash.err;
  const std::string log = ReadFile(LogPath());
  EXPECT_TRUE(log.ends_with(MessageTooLongLine(longest + 1, longest))) << log;
  EXPECT_EQ(StopSim(again, "Sim B"), "");
}

TEST_F(HonestVerdict, AMessageAtJacksLimitArrivesAndOneByteLongerIsRefused) {
  if (!midi_.IsJack())
    GTEST_SKIP() << "JACK's limit; on " << midi_.Name() << " the test of its own limit runs";
  ExpectLongestMessageArrivesAndLongerIsRefused(16379);
}

TEST_F(HonestVerdict, AMessageAtAlsasLimitArrivesAndOneByteLongerIsRefused) {
  if (midi_.IsJack())
    GTEST_SKIP() << "ALSA's limit; on JACK the test of its own limit runs";
  ExpectLongestMessageArrivesAndLongerIsRefused(4096);
}

}  // namespace
}  // namespace korvane::testing
