#include "sim/device_model.h"

#include <algorithm>

#include "update/device_messages.h"

namespace korvane {
namespace {

// What a busy MIDI cable also carries: a universal SysEx and another maker's.
const Bytes kUniversalNoise = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
const Bytes kForeignNoise = {0xF0, 0x01, 0x02, 0x03, 0x04, 0x05, 0xF7};
// The command byte of a stray message shaped as a block reply.
constexpr std::uint8_t kStrayCommand = kCmdBlockReply + 1;

bool IsOurs(std::span<const std::uint8_t> message) {
  return message.size() >= 8 && message.front() == kSysExStart && message.back() == kSysExEnd &&
         std::equal(kMessageHeader.begin(), kMessageHeader.end(), message.begin());
}

Bytes Frame(std::uint8_t model, std::uint8_t command, std::initializer_list<std::uint8_t> data) {
  // Built byte by byte: GCC 12 at -O2 warns falsely about inserting a list here.
  Bytes bytes;
  bytes.reserve(8 + data.size());
  for (std::uint8_t b : {kMessageHeader[0], kMessageHeader[1], kMessageHeader[2], kMessageHeader[3],
                         kBuiltIndex4, model, command}) {
    bytes.push_back(b);
  }
  for (std::uint8_t b : data)
    bytes.push_back(b);
  bytes.push_back(kSysExEnd);
  return bytes;
}

}  // namespace

std::optional<std::size_t> AddressedIndex(std::span<const std::uint8_t> message) {
  // Indexes 7 and 8 must be data bytes of the message, not its closing F7.
  if (message.size() < 10)
    return std::nullopt;
  return static_cast<std::size_t>(message[7] & 0x7F) |
         (static_cast<std::size_t>(message[8] & 0x7F) << 7);
}

DeviceModel::DeviceModel(DeviceModelOptions options)
    : options_(std::move(options)),
      faultUsed_(options_.blockFaults.size(), false),
      unplugged_(options_.unplugAfter == std::size_t{0} ||
                 options_.unplugAfterMessages == std::size_t{0} ||
                 options_.vanishAfterMessages == std::size_t{0}),
      vanished_(options_.vanishAfterMessages == std::size_t{0}),
      stallUsed_(options_.stalls.size(), false),
      lossUsed_(options_.losses.size(), false) {}

void DeviceModel::StartSession() {
  held_.clear();
  pending_.clear();
}

std::optional<Stall> DeviceModel::TakeStall() {
  std::optional<Stall> stall = stall_;
  stall_.reset();
  return stall;
}

void DeviceModel::AddReply(std::vector<DeviceReply>& replies, Bytes bytes,
                           std::uint32_t delayMs) const {
  if (options_.noise) {
    replies.push_back({kUniversalNoise, delayMs});
    replies.push_back({kForeignNoise, delayMs});
  }
  replies.push_back({std::move(bytes), delayMs});
}

Bytes DeviceModel::IdentityReply(std::uint8_t model) const {
  Bytes reply = Frame(model, kCmdIdentityReply, {});
  reply.pop_back();
  for (std::size_t i = 0; i < kDeviceNameLength; ++i)
    reply.push_back(i < options_.name.size() ? static_cast<std::uint8_t>(options_.name[i]) : 0);
  reply.push_back(kSysExEnd);
  return reply;
}

std::vector<DeviceReply> DeviceModel::Receive(std::span<const std::uint8_t> message) {
  std::vector<DeviceReply> replies;
  if (unplugged_ || !IsOurs(message))
    return replies;
  const std::uint8_t model = message[kModelIndex];
  switch (message[kCommandIndex]) {
    case kCmdIdentityRequest: {
      if (model != options_.model)
        return replies;
      // Lost on the way in: the controller never heard it.
      const std::size_t index = identityRequestsSeen_++;
      const auto& lost = options_.lostIdentityRequests;
      if (std::find(lost.begin(), lost.end(), index) != lost.end())
        return replies;
      ++identityRequests_;
      // "Start the block again": what arrived of an unfinished block is gone.
      pending_.clear();
      AddReply(replies, IdentityReply(model),
               options_.identityDelayMs.value_or(options_.replyDelayMs));
      return replies;
    }
    case kCmdFirmwareBlock: {
      const std::size_t place = PlaceOfArrival(message);
      if (Lost(place))
        return replies;
      ++firmwareMessages_;
      pending_.emplace_back(message.begin(), message.end());
      if (pending_.size() == kBlockMessages)
        replies = CompleteBlock();
      AfterArrival(place);
      return replies;
    }
    default:
      return replies;
  }
}

std::optional<BlockFault> DeviceModel::TakeFault(std::size_t block) {
  for (std::size_t i = 0; i < options_.blockFaults.size(); ++i) {
    if (!faultUsed_[i] && options_.blockFaults[i].block == block) {
      faultUsed_[i] = true;
      return options_.blockFaults[i];
    }
  }
  return std::nullopt;
}

std::size_t DeviceModel::PlaceOfArrival(std::span<const std::uint8_t> message) const {
  if (options_.addressed) {
    if (const auto index = AddressedIndex(message))
      return *index;
  }
  return held_.size() + pending_.size();
}

bool DeviceModel::Lost(std::size_t place) {
  for (std::size_t i = 0; i < options_.losses.size() && stillToLose_ == 0; ++i) {
    const LossFault& loss = options_.losses[i];
    if (!lossUsed_[i] && loss.block * kBlockMessages + loss.message == place) {
      lossUsed_[i] = true;
      stillToLose_ = loss.count;
    }
  }
  if (stillToLose_ == 0)
    return false;
  --stillToLose_;
  ++lostMessages_;
  return true;
}

void DeviceModel::AfterArrival(std::size_t place) {
  for (std::size_t i = 0; i < options_.stalls.size(); ++i) {
    const StallFault& stall = options_.stalls[i];
    if (!stallUsed_[i] && stall.block * kBlockMessages + stall.message == place) {
      stallUsed_[i] = true;
      stall_ = Stall{stall.ms, stall.queued};
    }
  }
  if (options_.unplugAfterMessages && place + 1 >= *options_.unplugAfterMessages)
    unplugged_ = true;
  if (options_.vanishAfterMessages && place + 1 >= *options_.vanishAfterMessages) {
    unplugged_ = true;
    vanished_ = true;
  }
}

std::optional<std::size_t> DeviceModel::PlaceOf(const std::vector<Bytes>& messages) const {
  if (messages.empty())
    return std::nullopt;
  if (!options_.addressed)
    return held_.size();
  const auto first = AddressedIndex(messages.front());
  // A block continues the held firmware or repeats part of it; a gap is refused.
  if (!first || *first > held_.size())
    return std::nullopt;
  for (std::size_t i = 1; i < messages.size(); ++i) {
    const auto index = AddressedIndex(messages[i]);
    if (!index || *index != *first + i)
      return std::nullopt;
  }
  return *first;
}

std::vector<DeviceReply> DeviceModel::CompleteBlock() {
  std::vector<DeviceReply> replies;
  Bytes last = pending_.back();
  std::vector<Bytes> block = std::move(pending_);
  pending_.clear();
  ++blocksReceived_;

  if (options_.ignoreBlocksAfter && blocksAccepted_ >= *options_.ignoreBlocksAfter)
    return replies;

  const std::optional<std::size_t> place = PlaceOf(block);

  // Non-addressed blocks are numbered by where they land; addressed ones by
  // the index of their first message.
  std::size_t number = blocksAccepted_;
  if (options_.addressed) {
    const auto first = AddressedIndex(block.front());
    number = first ? *first / kBlockMessages : 0;
  }
  const std::optional<BlockFault> fault = TakeFault(number);
  std::uint8_t status = fault ? fault->status : 0;
  if (!place)
    status = kSequenceError;

  if (status == 0) {
    const std::size_t at = *place;
    if (held_.size() < at + block.size())
      held_.resize(at + block.size());
    std::move(block.begin(), block.end(), held_.begin() + static_cast<std::ptrdiff_t>(at));
    ++blocksAccepted_;
  }
  // The reply to the last block it takes is still sent; then it falls silent.
  if (options_.unplugAfter && blocksAccepted_ >= *options_.unplugAfter)
    unplugged_ = true;
  std::uint32_t delayMs = options_.replyDelayMs + (fault ? fault->extraDelayMs : 0);
  if (fault && fault->strayBefore != StrayMessage::kNone) {
    delayMs = std::max(delayMs, fault->strayLeadMs);
    const std::uint8_t model = last[kModelIndex];
    replies.push_back({fault->strayBefore == StrayMessage::kIdentityReply
                           ? IdentityReply(model)
                           : Frame(model, kStrayCommand, {0x00, 0x00, 0x00}),
                       delayMs - fault->strayLeadMs});
  }
  if (fault && fault->dropReply)
    return replies;

  const std::uint8_t command = fault && fault->replyCommand
                                   ? *fault->replyCommand
                                   : static_cast<std::uint8_t>(last[kCommandIndex] + 1);
  ++blockReplies_;
  AddReply(replies, Frame(last[kModelIndex], command, {0x00, 0x00, status}), delayMs);
  return replies;
}

Bytes DeviceModel::AcceptedFirmware() const {
  Bytes firmware;
  for (const Bytes& message : held_)
    firmware.insert(firmware.end(), message.begin(), message.end());
  return firmware;
}

Bytes DeviceModel::AcceptedFirmwareWithPartial() const {
  std::vector<Bytes> messages = held_;
  if (const std::optional<std::size_t> place = PlaceOf(pending_)) {
    if (messages.size() < *place + pending_.size())
      messages.resize(*place + pending_.size());
    std::copy(pending_.begin(), pending_.end(),
              messages.begin() + static_cast<std::ptrdiff_t>(*place));
  }
  Bytes firmware;
  for (const Bytes& message : messages)
    firmware.insert(firmware.end(), message.begin(), message.end());
  return firmware;
}

}  // namespace korvane
