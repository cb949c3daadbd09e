#include "update/device_messages.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(IdentityRequest, HoldsTheModelByteBetweenFixedBytes) {
  std::array<std::uint8_t, 8> out{};
  ASSERT_EQ(BuildIdentityRequest(kModelTrw1000, out), 8u);
  EXPECT_EQ(out, (std::array<std::uint8_t, 8>{0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x01, 0xF7}));
  ASSERT_EQ(BuildIdentityRequest(kModelTrv1000, out), 8u);
  EXPECT_EQ(out, (std::array<std::uint8_t, 8>{0xF0, 0x00, 0x20, 0x32, 0x7F, 0x14, 0x01, 0xF7}));
}

TEST(IdentityRequest, RefusesAShortBufferAndLeavesItAlone) {
  std::array<std::uint8_t, 7> out{};
  out.fill(0xAA);
  EXPECT_EQ(BuildIdentityRequest(kModelTrw1000, out), 0u);
  for (std::uint8_t b : out)
    EXPECT_EQ(b, 0xAA);
}

TEST(MessageHeader, NeedsAllFourBytesInsideTheBuffer) {
  EXPECT_TRUE(HasMessageHeader(Bytes{0xF0, 0x00, 0x20, 0x32}));
  EXPECT_FALSE(HasMessageHeader(Bytes{0xF0, 0x00, 0x20}));
  EXPECT_FALSE(HasMessageHeader(Bytes{}));
  EXPECT_FALSE(HasMessageHeader(Bytes{0xF0, 0x7E, 0x20, 0x32}));
  EXPECT_FALSE(HasMessageHeader(Bytes{0xF0, 0x00, 0x20, 0x33}));
  // Byte order matters: the value read the other way round is no header.
  EXPECT_FALSE(HasMessageHeader(Bytes{0x32, 0x20, 0x00, 0xF0}));
}

TEST(Replies, CommandByteDecidesTheKind) {
  const Bytes identity{0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02, 'N', 0xF7};
  const Bytes block{0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x35, 0x00, 0x00, 0x00, 0xF7};
  const Bytes other{0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x03, 0x00, 0x00, 0x00, 0xF7};
  EXPECT_TRUE(IsIdentityReply(identity));
  EXPECT_FALSE(IsIdentityReply(block));
  EXPECT_TRUE(IsReplyTo(block, kCmdFirmwareBlock));
  EXPECT_TRUE(IsReplyTo(identity, kCmdIdentityRequest));
  EXPECT_FALSE(IsReplyTo(identity, kCmdFirmwareBlock));
  EXPECT_FALSE(IsIdentityReply(other));
  EXPECT_FALSE(IsReplyTo(other, kCmdFirmwareBlock));
  EXPECT_FALSE(IsReplyTo(other, kCmdIdentityRequest));
}

TEST(Replies, ForeignOrTooShortBuffersAreNoReplies) {
  EXPECT_FALSE(IsIdentityReply(Bytes{0xF0, 0x7E, 0x20, 0x32, 0x00, 0x15, 0x02, 0xF7}));
  EXPECT_FALSE(IsIdentityReply(Bytes{0xF0, 0x00, 0x20, 0x32, 0x00, 0x15}));
  EXPECT_FALSE(IsReplyTo(Bytes{0xF0, 0x00, 0x20, 0x32, 0x00, 0x15}, kCmdFirmwareBlock));
}

TEST(DeviceName, FullTwelveCharactersAreTakenAsTheyAre) {
  Bytes reply{0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02};
  for (char c : std::string("ABCDEFGHIJKL"))
    reply.push_back(static_cast<std::uint8_t>(c));
  reply.push_back('M');  // a thirteenth character is cut off
  reply.push_back(0xF7);
  EXPECT_EQ(DeviceNameFromReply(reply), "ABCDEFGHIJKL");
}

TEST(DeviceName, ShortNameIsRightAlignedAndEndsAtZero) {
  const Bytes reply{0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02, 'T',
                    'R',  'W',  '1',  'K',  0x00, 'X',  0xF7};
  EXPECT_EQ(DeviceNameFromReply(reply), "       TRW1K");
}

TEST(DeviceName, EndOfBufferEndsTheName) {
  // No zero byte: the name stops at the buffer's end (the 0xF7 is part of it,
  // as the receiver hands over the whole message).
  const Bytes reply{0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02, 'A', 'B'};
  EXPECT_EQ(DeviceNameFromReply(reply), "          AB");
  EXPECT_EQ(DeviceNameFromReply(Bytes{0xF0, 0x00}), std::string(12, ' '));
}

TEST(BlockReply, StatusNeedsIndexNine) {
  Bytes reply{0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x35, 0x00, 0x00};
  EXPECT_FALSE(BlockReplyStatus(reply).has_value());
  reply.push_back(0x02);
  ASSERT_TRUE(BlockReplyStatus(reply).has_value());
  EXPECT_EQ(*BlockReplyStatus(reply), 0x02);
}

TEST(BlockReply, StatusTexts) {
  EXPECT_STREQ(BlockStatusText(0), "OK");
  EXPECT_STREQ(BlockStatusText(1), "Sequence error");
  EXPECT_STREQ(BlockStatusText(2), "Erase error");
  EXPECT_STREQ(BlockStatusText(3), "Reprogram error");
  EXPECT_STREQ(BlockStatusText(4), "Unknown error");
  EXPECT_STREQ(BlockStatusText(0x7F), "Unknown error");
}

TEST(ModelName, OnlyTheTwoKnownModels) {
  EXPECT_STREQ(ModelName(0x14), "TRV1000");
  EXPECT_STREQ(ModelName(0x15), "TRW1000");
  EXPECT_EQ(ModelName(0x13), nullptr);
  EXPECT_EQ(ModelName(0x16), nullptr);
}

}  // namespace
}  // namespace korvane
