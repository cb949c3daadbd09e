// The controller's side of the update protocol, as a plain class: it takes
// one received System Exclusive message (F0 to F7, both included) and returns
// the replies the controller sends for it, each with its delay. It keeps the
// firmware it accepted, so that a test can compare it with the update image.
//
// It knows no MIDI API and no thread; whoever owns it (the virtual MIDI
// system, the korvane-sim tool) serialises the calls and carries out the
// pauses it asks for (TakeStall).
//
// It resynchronises as a controller that takes an identity request, or a new
// session on its ports, as "start the block again": the messages of an
// unfinished block are dropped, whether or not more follow; it cannot know
// that none will. A last short block that nothing follows is kept, as a
// controller writes what it got when the update ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "midi/protocol.h"

namespace korvane {

using Bytes = std::vector<std::uint8_t>;

// A message on the controllers' own header that answers nothing: the
// controller's identity reply, or a message shaped as a block reply (status
// 0) whose command byte is not the block reply's.
enum class StrayMessage { kNone, kIdentityReply, kForeignCommand };

// A scripted fault for one attempt of one block. Several entries for the same
// block apply to its successive attempts, in the order given.
struct BlockFault {
  std::size_t block = 0;    // the block's number, from 0
  std::uint8_t status = 1;  // the status replied; 0 accepts the block
  bool dropReply = false;   // the block is taken as status says, but no reply is sent
  // The reply carries this command byte instead of 0x35; the block is still
  // taken as status says.
  std::optional<std::uint8_t> replyCommand = std::nullopt;
  // The reply comes this much later than the controller's other replies.
  std::uint32_t extraDelayMs = 0;
  // Sent strayLeadMs before the reply (or where it would come); the reply
  // waits for the lead when the controller would answer sooner. The default
  // lead leaves an updater on a loaded machine time to take its buffer back.
  StrayMessage strayBefore = StrayMessage::kNone;
  std::uint32_t strayLeadMs = 50;
};

// A pause of the controller (flash erasure, a busy host): once the message at
// this place of the firmware has arrived, it takes nothing in for ms.
struct StallFault {
  std::size_t block = 0;    // from 0
  std::size_t message = 0;  // within the block, from 0
  std::uint32_t ms = 500;
  // What arrives meanwhile waits and is taken afterwards, as a USB or ALSA
  // queue keeps it; otherwise it is lost, as on JACK.
  bool queued = false;
};

// Firmware messages lost on the way in: count messages, the first at this place.
struct LossFault {
  std::size_t block = 0;    // from 0
  std::size_t message = 0;  // within the block, from 0
  std::size_t count = 1;
};

// A pause that the owner carries out, as TakeStall hands it over.
struct Stall {
  std::uint32_t ms = 0;
  bool queued = false;
};

struct DeviceModelOptions {
  std::uint8_t model = 0x15;
  // Sent in the identity reply in 12 bytes: a shorter name is padded with zero
  // bytes, a longer one cut.
  std::string name = "TRW1000";
  std::vector<BlockFault> blockFaults = {};
  // After this many accepted blocks, blocks are neither answered nor kept;
  // identity requests are still answered.
  std::optional<std::size_t> ignoreBlocksAfter = std::nullopt;
  // After this many accepted blocks the controller answers nothing at all and
  // keeps nothing more, as if it had been unplugged.
  std::optional<std::size_t> unplugAfter = std::nullopt;
  // Silent once the firmware message at this place (counted from 0) has
  // arrived, so that it holds exactly this many: an unplug inside a block or
  // during the last, unacknowledged one.
  std::optional<std::size_t> unplugAfterMessages = std::nullopt;
  std::uint32_t replyDelayMs = 0;
  // Before each reply: a universal SysEx (F0 7E ...) and another maker's SysEx.
  bool noise = false;
  // Firmware messages carry their index in data bytes 7 and 8 (low 7 bits, then
  // high 7 bits) and are placed by it; a block that does not continue (or
  // repeat) the held firmware, or whose indexes are not consecutive, is
  // answered with status 1.
  bool addressed = false;
  // Each applies once, the first time its place is reached.
  std::vector<StallFault> stalls = {};
  std::vector<LossFault> losses = {};
  // Identity requests of its model lost on the way in, by their order of
  // arrival (from 0): they get no answer and do not count.
  std::vector<std::size_t> lostIdentityRequests = {};
  // Identity replies come this late instead of after replyDelayMs.
  std::optional<std::uint32_t> identityDelayMs = std::nullopt;
  // As unplugAfterMessages, and its ports leave the MIDI system too, as when
  // a USB cable is pulled: Vanished() tells the owner to remove them.
  std::optional<std::size_t> vanishAfterMessages = std::nullopt;
};

struct DeviceReply {
  Bytes bytes;
  std::uint32_t delayMs = 0;  // after the message that caused it arrived
};

class DeviceModel {
 public:
  static constexpr std::size_t kBlockMessages = korvane::kBlockMessages;
  static constexpr std::uint8_t kSequenceError = 1;

  explicit DeviceModel(DeviceModelOptions options = {});

  // Everything the controller answers to one received message, in order.
  std::vector<DeviceReply> Receive(std::span<const std::uint8_t> message);

  // A new session opened the ports: a new update begins. The firmware held
  // and any unfinished block are dropped.
  void StartSession();
  // The pause the last received message began, if any; handed over once.
  std::optional<Stall> TakeStall();

  // Silent from now on, as if unplugged.
  void Unplug() { unplugged_ = true; }
  bool Unplugged() const { return unplugged_; }
  // Its ports are to leave the MIDI system (vanishAfterMessages was reached);
  // it is silent too.
  bool Vanished() const { return vanished_; }

  // The messages of the blocks acknowledged with status 0, concatenated in
  // firmware order: comparable byte for byte with an update image.
  Bytes AcceptedFirmware() const;
  // The same, plus the trailing partial block (fewer than 16 messages), which
  // no reply acknowledges, once its messages have arrived and as long as no
  // identity request has dropped them.
  Bytes AcceptedFirmwareWithPartial() const;
  std::size_t AcceptedMessages() const { return held_.size(); }

  std::size_t IdentityRequests() const { return identityRequests_; }
  std::size_t BlockReplies() const { return blockReplies_; }  // replies sent
  std::size_t BlocksAccepted() const { return blocksAccepted_; }
  std::size_t BlocksReceived() const { return blocksReceived_; }
  std::size_t FirmwareMessages() const { return firmwareMessages_; }
  std::size_t LostMessages() const { return lostMessages_; }
  // Messages of the block that is arriving.
  std::size_t PendingMessages() const { return pending_.size(); }

  const DeviceModelOptions& Options() const { return options_; }

 private:
  std::vector<DeviceReply> CompleteBlock();
  std::optional<BlockFault> TakeFault(std::size_t block);
  // The place in the firmware of an arriving block message.
  std::size_t PlaceOfArrival(std::span<const std::uint8_t> message) const;
  // True when the message is lost on the way in (a loss fault applies).
  bool Lost(std::size_t place);
  void AfterArrival(std::size_t place);
  // Where a run of messages goes in held_, or nothing when it may not be placed.
  std::optional<std::size_t> PlaceOf(const std::vector<Bytes>& messages) const;
  void AddReply(std::vector<DeviceReply>& replies, Bytes bytes, std::uint32_t delayMs) const;
  Bytes IdentityReply(std::uint8_t model) const;

  DeviceModelOptions options_;
  std::vector<bool> faultUsed_;
  bool unplugged_ = false;
  bool vanished_ = false;
  // The accepted firmware, one message per entry, by index.
  std::vector<Bytes> held_;
  // The messages of the block that is arriving.
  std::vector<Bytes> pending_;
  std::vector<bool> stallUsed_;
  std::vector<bool> lossUsed_;
  std::size_t stillToLose_ = 0;
  std::optional<Stall> stall_;
  std::size_t lostMessages_ = 0;
  std::size_t identityRequests_ = 0;
  std::size_t identityRequestsSeen_ = 0;
  std::size_t blockReplies_ = 0;
  std::size_t blocksAccepted_ = 0;
  std::size_t blocksReceived_ = 0;
  std::size_t firmwareMessages_ = 0;
};

// The index an addressed firmware message carries, if it is long enough.
std::optional<std::size_t> AddressedIndex(std::span<const std::uint8_t> message);

}  // namespace korvane
