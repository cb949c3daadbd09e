// The transfer under the faults of real MIDI systems and real controllers: a
// controller that pauses, messages lost on the way, a reply that comes late, a
// send that fails once, an unplug during the last block. The verdict must be
// honest, and wherever the update could finish it must end in success with the
// controller holding the image byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "tests/update/procedure_rig.h"
#include "update/transfer.h"
#include "update/transfer_texts.h"

namespace korvane::testing {
namespace {

struct Rig : ProcedureRig {
  Rig(std::size_t messages, DeviceModelOptions options) {
    midi.AddInput("In A");
    midi.AddOutput("Out A");
    controller = midi.AttachController(0, {0}, std::move(options));
    state.image = MakeImage(messages, 24);
    state.inputBufferSize = 24;
    state.UsePair({0, 0});
    OpenPorts();
  }

  bool DeviceHoldsImage() const {
    return midi.Controller(controller).AcceptedFirmwareWithPartial() == *state.image;
  }

  int controller = 0;
};

struct StallCase {
  std::size_t message;
  bool queued;
};

class StalledController : public ::testing::TestWithParam<StallCase> {};

// Half a second is what a flash erasure or a busy host can take. Whether what
// arrives meanwhile is lost (JACK) or waits (USB, ALSA), and wherever in the
// block the pause falls, the update finishes.
TEST_P(StalledController, PauseOfHalfASecondEndsInSuccess) {
  for (const bool addressed : {true, false}) {
    // A plain controller can store a block twice when its reply comes late,
    // which no updater can see: it is tried only where that cannot happen.
    if (!addressed && (GetParam().queued || GetParam().message == 15))
      continue;
    DeviceModelOptions options{.addressed = addressed};
    options.stalls = {StallFault{
        .block = 1, .message = GetParam().message, .ms = 500, .queued = GetParam().queued}};
    Rig rig(40, options);
    TransferWorker(rig.state);
    EXPECT_TRUE(rig.state.log.Text().ends_with(kSuccessText))
        << (addressed ? "addressed: " : "plain: ") << rig.state.log.Text();
    EXPECT_TRUE(rig.DeviceHoldsImage()) << (addressed ? "addressed" : "plain");
  }
}

INSTANTIATE_TEST_SUITE_P(WhereverItFalls, StalledController,
                         ::testing::Values(StallCase{0, false}, StallCase{7, false},
                                           StallCase{15, false}, StallCase{0, true},
                                           StallCase{7, true}, StallCase{15, true}),
                         [](const auto& info) {
                           return "Message" + std::to_string(info.param.message) +
                                  (info.param.queued ? "Queued" : "Lost");
                         });

TEST(Recovery, LostMessagesAndALateReplyAreSentAgainAndEndInSuccess) {
  for (const bool addressed : {true, false}) {
    DeviceModelOptions options{.addressed = addressed};
    options.losses = {LossFault{.block = 0, .message = 4, .count = 3}};
    Rig rig(32, options);
    TransferWorker(rig.state);
    EXPECT_EQ(rig.state.log.Text(), std::string(kGreeting) +
                                        "\r\nWriting Block 1/2 ...timeout ERROR"
                                        "\r\n1st retry on Block 1/2 ...OK"
                                        "\r\nWriting Block 2/2 ...OK" +
                                        kSuccessText);
    EXPECT_TRUE(rig.DeviceHoldsImage());
  }

  // Every reply takes 100 ms; block 1's comes 350 ms after its last message,
  // while the probe waits for the identity reply. It is no answer to the
  // probe, which keeps waiting and needs no second attempt (its pair of
  // requests follows the pair asked before the first block); it is block 1's
  // OK, so block 1 is not sent again: a plain controller would store it twice.
  for (const bool addressed : {true, false}) {
    DeviceModelOptions late{.replyDelayMs = 100, .addressed = addressed};
    late.blockFaults = {BlockFault{.block = 0, .status = 0, .extraDelayMs = 250}};
    Rig rig(32, late);
    TransferWorker(rig.state);
    EXPECT_NE(rig.state.log.Text().find(std::string("timeout ERROR") + kLateOkText),
              std::string::npos)
        << rig.state.log.Text();
    EXPECT_TRUE(rig.state.log.Text().ends_with(kSuccessText)) << rig.state.log.Text();
    EXPECT_EQ(rig.midi.Controller(rig.controller).IdentityRequests(), 4u);
    EXPECT_EQ(rig.midi.Controller(rig.controller).BlocksReceived(), 2u);
    EXPECT_TRUE(rig.DeviceHoldsImage());
  }
}

// Block 1's OK comes 500 ms late, after the probe found the controller and
// once block 1 was sent again: a controller that cannot place a block stores
// it twice, and the OK that no wait took says so. No success.
TEST(Recovery, AnOkAfterTheBlockWasSentAgainForbidsSuccess) {
  DeviceModelOptions plain;
  plain.blockFaults = {BlockFault{.block = 0, .status = 0, .extraDelayMs = 500}};
  Rig rig(64, plain);
  TransferWorker(rig.state);
  const std::string log = rig.state.log.Text();
  EXPECT_FALSE(rig.DeviceHoldsImage());
  EXPECT_TRUE(log.ends_with(std::string(kAnsweredTwiceText) + kDangerText)) << log;
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kDanger);
}

TEST(Recovery, AMessageRefusedOnceIsForgivenWhenItsBlockIsAcknowledgedWithIt) {
  // The addressed controller refuses the block that lacks the message; the
  // retry carries it and is acknowledged. The first and third firmware
  // messages (after the pair of identity requests), the first of a block
  // included: the retry starts with it.
  for (const std::uint32_t nth : {3u, 5u}) {
    SCOPED_TRACE(nth);
    Rig rig(32, DeviceModelOptions{.addressed = true});
    rig.midi.AddCallFault(CallFault{.call = MidiCall::kOutLongMsg, .nth = nth});
    TransferWorker(rig.state);
    const std::string log = rig.state.log.Text();
    EXPECT_NE(log.find("Sequence error\r\n1st retry on Block 1/2 ...OK"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with(kSuccessText)) << log;
    EXPECT_TRUE(rig.DeviceHoldsImage());
  }
}

TEST(Recovery, NothingFollowsTheLastBlock) {
  // A controller asked anything inside a block starts it again: after the
  // last, unacknowledged block the run asks nothing.
  Rig whole(20, DeviceModelOptions{});
  TransferWorker(whole.state);
  EXPECT_TRUE(whole.state.log.Text().ends_with(kSuccessText));
  EXPECT_EQ(whole.midi.Controller(whole.controller).IdentityRequests(), 2u);  // before block 1
  EXPECT_TRUE(whole.DeviceHoldsImage());
  // Gone with its ports two messages before the end (a USB cable pulled):
  // the pair is no longer listed, and nobody acknowledged those messages.
  Rig vanished(20, DeviceModelOptions{.vanishAfterMessages = 18});
  TransferWorker(vanished.state);
  EXPECT_TRUE(vanished.state.log.Text().ends_with(std::string(kLostConnectionText) + kDangerText))
      << vanished.state.log.Text();
  EXPECT_EQ(vanished.state.Outcome(), RunOutcome::kLostConnection);
  EXPECT_FALSE(vanished.DeviceHoldsImage());
}

}  // namespace
}  // namespace korvane::testing
