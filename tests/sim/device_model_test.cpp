#include "sim/device_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace korvane {
namespace {

const Bytes kIdentityRequestW = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x01, 0xF7};

// A firmware block message whose payload makes it unique: F0 00 20 32 7F 15 34 <tag> <n> F7.
Bytes Message(std::size_t n) {
  return {0xF0,
          0x00,
          0x20,
          0x32,
          0x7F,
          0x15,
          0x34,
          static_cast<std::uint8_t>(n & 0x7F),
          static_cast<std::uint8_t>((n >> 7) & 0x7F),
          0x11,
          static_cast<std::uint8_t>(n % 3),
          0xF7};
}

Bytes BlockReply(std::uint8_t status) {
  return {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x35, 0x00, 0x00, status, 0xF7};
}

Bytes Concat(std::size_t from, std::size_t to) {
  Bytes all;
  for (std::size_t n = from; n < to; ++n) {
    const Bytes m = Message(n);
    all.insert(all.end(), m.begin(), m.end());
  }
  return all;
}

// Sends messages [from, to) and returns every reply's bytes.
std::vector<Bytes> Send(DeviceModel& model, std::size_t from, std::size_t to) {
  std::vector<Bytes> replies;
  for (std::size_t n = from; n < to; ++n) {
    for (DeviceReply& reply : model.Receive(Message(n)))
      replies.push_back(reply.bytes);
  }
  return replies;
}

TEST(DeviceModel, AnswersAnIdentityRequestForItsModelWithTheNameInTwelveBytes) {
  DeviceModel model({.model = 0x15, .name = "TRW1000"});
  const std::vector<DeviceReply> replies = model.Receive(kIdentityRequestW);
  ASSERT_EQ(replies.size(), 1u);
  const Bytes expected = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x02, 'T', 'R', 'W',
                          '1',  '0',  '0',  '0',  0,    0,    0,    0,   0,   0xF7};
  EXPECT_EQ(replies[0].bytes, expected);
  EXPECT_EQ(model.IdentityRequests(), 1u);

  // Another model's request goes unanswered and uncounted.
  const Bytes otherModel = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x14, 0x01, 0xF7};
  EXPECT_TRUE(model.Receive(otherModel).empty());
  EXPECT_EQ(model.IdentityRequests(), 1u);
}

TEST(DeviceModel, CutsANameLongerThanTwelveCharacters) {
  DeviceModel model({.name = "ABCDEFGHIJKLMNOP"});
  const std::vector<DeviceReply> replies = model.Receive(kIdentityRequestW);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes.size(), 20u);
  EXPECT_EQ(Bytes(replies[0].bytes.begin() + 7, replies[0].bytes.end() - 1),
            Bytes({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'}));
}

TEST(DeviceModel, RepliesAfterEverySixteenthMessageAndKeepsTheFirmware) {
  DeviceModel model;
  EXPECT_TRUE(Send(model, 0, 15).empty());
  EXPECT_EQ(Send(model, 15, 16), std::vector<Bytes>{BlockReply(0)});
  EXPECT_EQ(Send(model, 16, 32), std::vector<Bytes>{BlockReply(0)});
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 32));
  EXPECT_EQ(model.BlockReplies(), 2u);
  EXPECT_EQ(model.BlocksAccepted(), 2u);
}

TEST(DeviceModel, ReplyCarriesTheLastMessagesCommandPlusOneAndModel) {
  DeviceModel model;
  Bytes odd = Message(15);
  odd[5] = 0x14;
  Send(model, 0, 15);
  const std::vector<DeviceReply> replies = model.Receive(odd);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes[5], 0x14);
  EXPECT_EQ(replies[0].bytes[6], 0x35);
  EXPECT_EQ(replies[0].bytes[9], 0x00);
}

TEST(DeviceModel, RefusedAttemptsAreReplacedByTheAttemptThatIsAccepted) {
  DeviceModel model({.blockFaults = {{.block = 1, .status = 2}, {.block = 1, .status = 7}}});
  EXPECT_EQ(Send(model, 0, 16), std::vector<Bytes>{BlockReply(0)});
  EXPECT_EQ(Send(model, 16, 32), std::vector<Bytes>{BlockReply(2)});
  EXPECT_EQ(Send(model, 16, 32), std::vector<Bytes>{BlockReply(7)});
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 16));
  EXPECT_EQ(Send(model, 16, 32), std::vector<Bytes>{BlockReply(0)});
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 32));
  EXPECT_EQ(model.BlocksReceived(), 4u);
}

TEST(DeviceModel, TrailingPartialBlockCountsOnlyInTheFirmwareWithPartial) {
  DeviceModel model;
  Send(model, 0, 21);
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 16));
  EXPECT_EQ(model.AcceptedFirmwareWithPartial(), Concat(0, 21));
}

TEST(DeviceModel, IgnoresBlocksAfterALimitButStillAnswersIdentityRequests) {
  DeviceModel model({.ignoreBlocksAfter = 1});
  EXPECT_EQ(Send(model, 0, 16).size(), 1u);
  EXPECT_TRUE(Send(model, 16, 32).empty());
  EXPECT_EQ(model.Receive(kIdentityRequestW).size(), 1u);
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 16));
  EXPECT_EQ(model.BlocksReceived(), 2u);
}

TEST(DeviceModel, FallsSilentAfterALimitAsIfUnplugged) {
  DeviceModel model({.unplugAfter = 1});
  EXPECT_EQ(Send(model, 0, 16), std::vector<Bytes>{BlockReply(0)});
  EXPECT_TRUE(model.Unplugged());
  EXPECT_TRUE(model.Receive(kIdentityRequestW).empty());
  EXPECT_TRUE(Send(model, 16, 32).empty());
  EXPECT_EQ(model.AcceptedFirmwareWithPartial(), Concat(0, 16));

  DeviceModel unpluggedFromTheStart({.unplugAfter = 0});
  EXPECT_TRUE(unpluggedFromTheStart.Receive(kIdentityRequestW).empty());
}

TEST(DeviceModel, NoisePrecedesEachReplyAndEveryReplyCarriesTheDelay) {
  DeviceModel model({.replyDelayMs = 40, .noise = true});
  const std::vector<DeviceReply> replies = model.Receive(kIdentityRequestW);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0].bytes[1], 0x7E);
  EXPECT_NE(replies[1].bytes[1], 0x00);
  EXPECT_EQ(replies[1].bytes.front(), 0xF0);
  EXPECT_EQ(replies[1].bytes.back(), 0xF7);
  EXPECT_EQ(replies[2].bytes[6], 0x02);
  for (const DeviceReply& reply : replies)
    EXPECT_EQ(reply.delayMs, 40u);
}

TEST(DeviceModel, DroppedReplyAndForeignCommandStillTakeTheBlockAsTheirStatusSays) {
  DeviceModel model({.blockFaults = {{.block = 0, .status = 0, .dropReply = true},
                                     {.block = 1, .status = 0, .replyCommand = 0x36}}});
  EXPECT_TRUE(Send(model, 0, 16).empty());
  const std::vector<Bytes> replies = Send(model, 16, 32);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0][6], 0x36);
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 32));
  EXPECT_EQ(model.BlockReplies(), 1u);
}

TEST(DeviceModel, IgnoresMessagesOfOtherMakersAndUnknownCommands) {
  DeviceModel model;
  EXPECT_TRUE(model.Receive(Bytes{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}).empty());
  EXPECT_TRUE(model.Receive(Bytes{0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x03, 0xF7}).empty());
  EXPECT_TRUE(model.Receive(Bytes{}).empty());
  EXPECT_EQ(model.FirmwareMessages(), 0u);
}

TEST(DeviceModel, SixteenMessagesAfterALostMessageAreTakenAsOneBlock) {
  // A message lost on the way shifts the block boundary: a plain controller
  // cannot tell, which is why the truth check compares the firmware it holds.
  DeviceModel model;
  Send(model, 0, 7);
  Send(model, 8, 16);
  EXPECT_EQ(Send(model, 0, 1), std::vector<Bytes>{BlockReply(0)});
  EXPECT_NE(model.AcceptedFirmware(), Concat(0, 16));
}

TEST(DeviceModel, AnIdentityRequestDropsTheUnfinishedBlockEvenWhenNothingFollows) {
  DeviceModel model;
  Send(model, 0, 16);
  Send(model, 16, 23);
  model.Receive(kIdentityRequestW);
  // The block sent again from its first message is taken as one block.
  EXPECT_EQ(Send(model, 16, 32), std::vector<Bytes>{BlockReply(0)});
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 32));

  // The update's last short block is kept while nothing follows it...
  Send(model, 32, 36);
  EXPECT_EQ(model.AcceptedFirmwareWithPartial(), Concat(0, 36));
  // ...and an identity request after it drops it: the controller cannot know
  // that the block was to stay short.
  model.Receive(kIdentityRequestW);
  EXPECT_EQ(model.AcceptedFirmwareWithPartial(), Concat(0, 32));
  EXPECT_EQ(model.PendingMessages(), 0u);

  // A new session starts the firmware afresh.
  model.StartSession();
  EXPECT_TRUE(model.AcceptedFirmwareWithPartial().empty());
  EXPECT_EQ(Send(model, 0, 16), std::vector<Bytes>{BlockReply(0)});
}

TEST(DeviceModel, ScriptedLossesStallsAndUnplugApplyOnceAtTheirPlace) {
  DeviceModel model({.unplugAfterMessages = 40,
                     .stalls = {{.block = 1, .message = 3, .ms = 500, .queued = true}},
                     .losses = {{.block = 0, .message = 2, .count = 2}}});
  Send(model, 0, 16);
  EXPECT_EQ(model.LostMessages(), 2u);
  EXPECT_EQ(model.PendingMessages(), 14u);
  EXPECT_FALSE(model.TakeStall());
  model.Receive(kIdentityRequestW);
  EXPECT_EQ(Send(model, 0, 16), std::vector<Bytes>{BlockReply(0)});  // no second loss
  Send(model, 16, 20);
  const std::optional<Stall> stall = model.TakeStall();
  ASSERT_TRUE(stall);
  EXPECT_EQ(stall->ms, 500u);
  EXPECT_TRUE(stall->queued);
  EXPECT_FALSE(model.TakeStall());  // handed over once
  Send(model, 20, 40);
  EXPECT_TRUE(model.Unplugged());
  EXPECT_EQ(model.AcceptedFirmwareWithPartial(), Concat(0, 40));
}

TEST(DeviceModel, IdentityRepliesTakeTheirOwnDelayAndBlockRepliesTheReplyDelay) {
  DeviceModel model({.replyDelayMs = 10, .noise = true, .identityDelayMs = 350});
  const std::vector<DeviceReply> identity = model.Receive(kIdentityRequestW);
  ASSERT_EQ(identity.size(), 3u);  // the noise comes with its reply
  for (const DeviceReply& reply : identity)
    EXPECT_EQ(reply.delayMs, 350u);
  std::vector<DeviceReply> block;
  for (std::size_t n = 0; n < 16; ++n)
    block = model.Receive(Message(n));
  ASSERT_EQ(block.size(), 3u);
  EXPECT_EQ(block.back().delayMs, 10u);
}

// A stray message on the controller's header goes out the lead before the
// block's reply, which waits for the lead when it would come sooner.
struct StrayCase {
  StrayMessage kind;
  std::uint32_t replyDelayMs;
  Bytes stray;
};

class StrayBeforeReply : public ::testing::TestWithParam<StrayCase> {};

TEST_P(StrayBeforeReply, ComesTheLeadBeforeTheReplyOfItsBlockOnly) {
  const StrayCase& c = GetParam();
  DeviceModel model({.name = "TRW1000",
                     .blockFaults = {{.block = 1, .status = 0, .strayBefore = c.kind}},
                     .replyDelayMs = c.replyDelayMs});
  EXPECT_EQ(Send(model, 0, 16), std::vector<Bytes>{BlockReply(0)});
  std::vector<DeviceReply> replies;
  for (std::size_t n = 16; n < 32; ++n)
    replies = model.Receive(Message(n));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].bytes, c.stray);
  EXPECT_EQ(replies[1].bytes, BlockReply(0));
  const std::uint32_t replyAt = std::max<std::uint32_t>(c.replyDelayMs, 50);
  EXPECT_EQ(replies[0].delayMs, replyAt - 50);
  EXPECT_EQ(replies[1].delayMs, replyAt);
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 32));
}

INSTANTIATE_TEST_SUITE_P(IdentityReplyOrForeignCommand, StrayBeforeReply,
                         ::testing::Values(StrayCase{StrayMessage::kIdentityReply,
                                                     0,
                                                     {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x02,
                                                      'T',  'R',  'W',  '1',  '0',  '0',  '0',
                                                      0,    0,    0,    0,    0,    0xF7}},
                                           StrayCase{StrayMessage::kForeignCommand,
                                                     120,
                                                     {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x36,
                                                      0x00, 0x00, 0x00, 0xF7}}));

TEST(DeviceModel, VanishesOnceItHoldsTheGivenNumberOfMessages) {
  DeviceModel model({.vanishAfterMessages = 20});
  EXPECT_EQ(Send(model, 0, 16), std::vector<Bytes>{BlockReply(0)});
  Send(model, 16, 19);
  EXPECT_FALSE(model.Vanished());
  Send(model, 19, 20);
  EXPECT_TRUE(model.Vanished());
  EXPECT_TRUE(model.Unplugged());
  EXPECT_TRUE(model.Receive(kIdentityRequestW).empty());
  Send(model, 20, 32);
  EXPECT_EQ(model.AcceptedFirmwareWithPartial(), Concat(0, 20));

  EXPECT_TRUE(DeviceModel({.vanishAfterMessages = 0}).Vanished());
  EXPECT_FALSE(DeviceModel({.unplugAfterMessages = 0}).Vanished());
}

TEST(DeviceModelAddressed, PlacesMessagesByIndexAndRefusesAGapWithSequenceError) {
  DeviceModel model({.addressed = true});
  EXPECT_EQ(Send(model, 0, 16), std::vector<Bytes>{BlockReply(0)});
  // Block 2 before block 1: it does not continue the held firmware.
  EXPECT_EQ(Send(model, 32, 48), std::vector<Bytes>{BlockReply(1)});
  EXPECT_EQ(Send(model, 16, 32), std::vector<Bytes>{BlockReply(0)});
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 32));
}

TEST(DeviceModelAddressed, ABlockSentAgainReplacesWhatItHolds) {
  DeviceModel model({.addressed = true});
  Send(model, 0, 32);
  EXPECT_EQ(Send(model, 16, 32), std::vector<Bytes>{BlockReply(0)});
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 32));
  EXPECT_EQ(model.AcceptedMessages(), 32u);
}

TEST(DeviceModelAddressed, ALostMessageMakesTheBlockNonConsecutive) {
  DeviceModel model({.addressed = true});
  Send(model, 0, 7);
  Send(model, 8, 16);
  EXPECT_EQ(Send(model, 0, 1), std::vector<Bytes>{BlockReply(1)});
  EXPECT_TRUE(model.AcceptedFirmware().empty());
  // The whole block sent again from its first message is taken.
  EXPECT_EQ(Send(model, 0, 16), std::vector<Bytes>{BlockReply(0)});
  EXPECT_EQ(model.AcceptedFirmware(), Concat(0, 16));
}

TEST(DeviceModelAddressed, TrailingPartialBlockCountsOnlyWhenConsecutive) {
  DeviceModel model({.addressed = true});
  Send(model, 0, 16);
  Send(model, 16, 20);
  EXPECT_EQ(model.AcceptedFirmwareWithPartial(), Concat(0, 20));

  DeviceModel gap({.addressed = true});
  Send(gap, 0, 16);
  Send(gap, 17, 20);
  EXPECT_EQ(gap.AcceptedFirmwareWithPartial(), Concat(0, 16));
}

TEST(DeviceModelAddressed, RefusalsAreNumberedByTheFirstMessagesIndex) {
  DeviceModel model({.blockFaults = {{.block = 1, .status = 3}}, .addressed = true});
  Send(model, 0, 16);
  EXPECT_EQ(Send(model, 16, 32), std::vector<Bytes>{BlockReply(3)});
  EXPECT_EQ(Send(model, 16, 32), std::vector<Bytes>{BlockReply(0)});
}

TEST(DeviceModelAddressed, AMessageTooShortToCarryAnIndexIsASequenceError) {
  DeviceModel model({.addressed = true});
  Send(model, 0, 15);
  const Bytes shortMessage = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x34, 0x0F, 0xF7};
  const std::vector<DeviceReply> replies = model.Receive(shortMessage);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes, BlockReply(1));
}

}  // namespace
}  // namespace korvane
