#include "update/transfer.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <span>

#include "midi/clock.h"
#include "run/report_midi_result.h"
#include "run/steps.h"
#include "run/texts.h"
#include "run/update_state.h"
#include "update/connection_probe.h"
#include "update/device_messages.h"
#include "update/header_bytes.h"
#include "update/message_cutter.h"
#include "update/pacing.h"
#include "update/port_presence.h"
#include "update/transfer_texts.h"

namespace korvane {
namespace {

constexpr int kBlockMessages = static_cast<int>(korvane::kBlockMessages);
constexpr int kMaxRetries = 10;
constexpr int kProgressHigh = 15;
// A driver confirms a close within milliseconds; one that has not after two
// seconds will not, and the run cannot reopen the port.
constexpr std::uint32_t kCloseConfirmMs = 2000;

// One run of the transfer. Only the worker thread touches it; the input
// record's event and open count are the callback's way in.
class TransferRun {
 public:
  TransferRun(UpdateState& state, PortRecord& input, PortRecord& output)
      : state_(state),
        midi_(state.midi),
        input_(input),
        output_(output),
        image_(state.image ? std::span<const std::uint8_t>(*state.image)
                           : std::span<const std::uint8_t>()) {}

  void Run();

 private:
  bool ReopenInput();
  // Whether the run may send at all; when not, it says why and nothing goes out.
  bool ReadyToSend();
  void SendLoop();
  // False when the run cannot go on (no memory for the message).
  bool SendOne(const CutMessage& message);
  void LogBlockStart();
  void AwaitBlockReply(std::uint8_t sentCommand);
  void BlockFailed(const char* text);
  void Rearm();
  void Drain();
  // The last block, of fewer than 16 messages, is never acknowledged and
  // nothing may follow it (a controller asked anything then starts the block
  // again). What can be checked without sending: its ports are still there.
  void CheckAfterTail();
  void Finish(BusyScope& busy);

  MMRESULT Report(MMRESULT result, unsigned operation) {
    return ReportMidiResult(state_.log, result, operation);
  }

  UpdateState& state_;
  MidiServices& midi_;
  PortRecord& input_;
  PortRecord& output_;
  std::span<const std::uint8_t> image_;

  std::size_t position_ = 0;
  int messageCounter_ = 0;
  std::size_t blockStart_ = 0;
  std::optional<std::size_t> nextBlockStart_;
  int retryCounter_ = 0;
  bool connected_ = true;
  int totalBlocks_ = 0;
  // Our own endings: the run was asked to stop, or could not go on.
  bool stopped_ = false;
  bool broken_ = false;
  // Nothing was sent: the controller is as it was.
  bool nothingSent_ = false;
  // A block went unanswered in this run, and later an OK came that no wait
  // took: some attempt was taken and sent again.
  bool timedOut_ = false;
  bool answeredTwice_ = false;
  // Offsets of the messages whose latest sending failed: each is missing from
  // the device's firmware until an attempt of its block carries it, and the
  // run may not end in success while any is.
  std::set<std::size_t> dropped_;
};

void TransferRun::Run() {
  BusyScope busy(state_.busy);
  state_.log.AppendLog(kStartingUpdateText);
  state_.window.ProgressSetRange(0, kProgressHigh);
  state_.window.ProgressSetPosition(0);
  input_.event->Reset();

  if (!ReopenInput()) {
    // The port is in a state we cannot rely on: no input call is made on it.
    // Nothing was sent, so the controller is as it was: no danger message.
    state_.log.AppendLog(kInputNotClosedText);
    state_.Record(RunOutcome::kPortsUnusable);
    busy.Leave();
    state_.window.PostStep(STEP_RESET_PORTS);
    return;
  }
  Report(midi_.midiInStart(input_.inHandle), kMidiInStart);
  Report(midi_.midiInPrepareHeader(input_.inHandle, input_.header.get(), sizeof(MIDIHDR)),
         kMidiInPrepareHeader);
  state_.ports.RequeueInputBuffer(input_);

  totalBlocks_ = static_cast<int>(CountMessageStarts(image_) / kBlockMessages);
  if (!image_.empty()) {
    if (ReadyToSend())
      SendLoop();
    else
      nothingSent_ = true;
  }
  CheckAfterTail();
  Finish(busy);
}

bool TransferRun::ReadyToSend() {
  const std::size_t longest = LongestCutMessage(image_);
  const std::size_t carried = midi_.LongestMessage(output_.outHandle);
  if (longest > carried) {
    state_.log.AppendLog(MessageTooLongLine(longest, carried));
    return false;
  }
  // The pair was found a while ago (the user chose meanwhile): the controller
  // may have gone, or another may stand behind the same port names. It is
  // asked as the first block will be, with its first message's model byte.
  std::size_t first = 0;
  const std::optional<CutMessage> message = CutNextMessage(image_, first);
  const std::size_t modelAt = message ? message->offset + kModelIndex : image_.size();
  const std::uint8_t model = modelAt < image_.size() ? image_[modelAt] : 0;
  if (!ConfirmDevice(state_, input_, output_, model)) {
    state_.log.AppendLog(kDeviceSilentText);
    return false;
  }
  return true;
}

// Closes the input and opens it again, so that the run starts from a port
// with nothing queued. Results are not reported: a failure shows in the calls
// that follow.
bool TransferRun::ReopenInput() {
  if (input_.openCount.load(std::memory_order_acquire) != 0) {
    midi_.midiInClose(input_.inHandle);
    // MIM_CLOSE sets the port's event, whichever thread the driver calls it on.
    const std::uint32_t start = timeGetTime();
    while (input_.openCount.load(std::memory_order_acquire) != 0) {
      const std::uint32_t waited = timeGetTime() - start;
      if (waited >= kCloseConfirmMs)
        return false;
      WaitForEvent(*input_.event, kCloseConfirmMs - waited);
      input_.event->Reset();
    }
  }
  input_.event->Reset();
  midi_.midiInOpen(&input_.inHandle, input_.deviceNumber, reinterpret_cast<DWORD_PTR>(&MidiInProc),
                   reinterpret_cast<DWORD_PTR>(&input_), CALLBACK_FUNCTION);
  return true;
}

void TransferRun::SendLoop() {
  while (retryCounter_ <= kMaxRetries && connected_) {
    if (state_.stopRequested.load(std::memory_order_acquire)) {
      stopped_ = true;
      return;
    }
    const std::optional<CutMessage> message = CutNextMessage(image_, position_);
    // Bytes that belong to no message are never sent: the image is used up.
    if (!message) {
      position_ = image_.size();
      return;
    }
    if (!SendOne(*message)) {
      broken_ = true;
      return;
    }
    if (position_ >= image_.size())
      return;
  }
}

bool TransferRun::SendOne(const CutMessage& message) {
  // A block starts at its first message tried, not its first one sent: a
  // retry must carry a first message that the MIDI system refused.
  if (messageCounter_ % kBlockMessages == 0 && !nextBlockStart_)
    nextBlockStart_ = message.offset;
  MIDIHDR& header = *output_.header;
  if (header.dwBufferLength != message.length || output_.buffer.size() != message.length) {
    if (!output_.ResizeBuffer(message.length)) {
      state_.log.AppendLog(kMemoryErrorText);
      return false;
    }
  }
  std::memcpy(header.lpData, image_.data() + message.offset, message.length);
  header.dwBufferLength = static_cast<DWORD>(message.length);

  if (Report(midi_.midiOutPrepareHeader(output_.outHandle, &header, sizeof(MIDIHDR)),
             kMidiOutPrepareHeader) != MMSYSERR_NOERROR) {
    dropped_.insert(message.offset);  // not counted: the next message takes its place
    return true;
  }
  if (Report(midi_.midiOutLongMsg(output_.outHandle, &header, sizeof(MIDIHDR)), kMidiOutLongMsg) ==
      MMSYSERR_NOERROR) {
    // Sent again in this attempt: if the attempt is acknowledged, the device
    // holds it; if not, the block is sent again or the run fails anyway.
    dropped_.erase(message.offset);
    state_.firmwareSent.store(true, std::memory_order_release);
    if (messageCounter_ % kBlockMessages == 0) {
      blockStart_ = nextBlockStart_.value_or(message.offset);
      nextBlockStart_.reset();
      LogBlockStart();
    } else {
      state_.window.ProgressSetPosition(messageCounter_ % kBlockMessages);
    }
    ++messageCounter_;
    HoldMessage(message.length);
    if (messageCounter_ % kBlockMessages == 0) {
      // The reply answers the command of the block's last message.
      const std::uint8_t sent = message.length > kCommandIndex + 1
                                    ? image_[message.offset + kCommandIndex]
                                    : kCmdFirmwareBlock;
      AwaitBlockReply(sent);
    }
    Drain();
  } else {
    dropped_.insert(message.offset);
  }
  if (header.dwFlags & MHDR_PREPARED) {
    Report(midi_.midiOutUnprepareHeader(output_.outHandle, &header, sizeof(MIDIHDR)),
           kMidiOutUnprepareHeader);
  }
  return true;
}

void TransferRun::LogBlockStart() {
  const int block = messageCounter_ / kBlockMessages + 1;
  if (retryCounter_ == 0) {
    // The previous block's line (or "Starting Update") gives way to this one.
    state_.log.RemoveLastLogLine();
    state_.log.AppendLog(WritingBlockLine(block, totalBlocks_));
  } else {
    state_.log.AppendLog(RetryBlockLine(retryCounter_, block, totalBlocks_));
  }
}

// Only a block reply answers a block: anything else with the message header
// (an identity reply, another command, from the controller or another device
// on the input) is handed back unread and the wait goes on for the rest of
// its 300 ms. A later block's OK says nothing about this one.
void TransferRun::AwaitBlockReply(std::uint8_t sentCommand) {
  const std::size_t blockEnd = position_;
  const std::uint32_t start = timeGetTime();
  for (;;) {
    const std::uint32_t elapsed = timeGetTime() - start;
    const std::uint32_t waited =
        WaitForEvent(*input_.event, elapsed >= kReplyWaitMs ? 0 : kReplyWaitMs - elapsed);
    if (waited == WAIT_OBJECT_0) {
      const std::span<const std::uint8_t> reply = HeaderBytes(input_);
      if (!IsReplyTo(reply, sentCommand)) {
        Rearm();
        continue;
      }
      // Input buffers hold at least the longest reply, so the status is there;
      // a reply cut short is taken as an unknown status.
      const std::uint8_t status = BlockReplyStatus(reply).value_or(0xFF);
      if (status == 0) {
        state_.log.AppendLog(retryCounter_ == 0 ? kOkText : kOkAfterRetryText);
        retryCounter_ = 0;
        state_.bytesConfirmed.store(blockEnd, std::memory_order_release);
      } else {
        BlockFailed(BlockStatusText(status));
      }
      Rearm();
      return;
    }
    if (waited == WAIT_FAILED) {
      // No reply could be read: the block is not known to have arrived.
      BlockFailed(kWaitFailedText);
      return;
    }
    BlockFailed(kTimeoutText);
    timedOut_ = true;
    // A reply that came after the wait, now or while the probe asks, still
    // answers this block: taken, it must not be sent again, since a
    // controller that cannot place a block would store it twice.
    LateBlockReply late{sentCommand};
    if (input_.event->IsSet()) {
      const std::span<const std::uint8_t> reply = HeaderBytes(input_);
      if (IsReplyTo(reply, sentCommand))
        late.status = BlockReplyStatus(reply).value_or(0xFF);
      Rearm();
    }
    const std::size_t modelAt = blockStart_ + kModelIndex;
    const std::uint8_t model = modelAt < image_.size() ? image_[modelAt] : 0;
    connected_ = ProbeConnection(state_, input_, output_, model, &late);
    if (connected_ && late.status == 0) {
      state_.log.AppendLog(kLateOkText);
      messageCounter_ += kBlockMessages;
      retryCounter_ = 0;
      position_ = blockEnd;
      state_.bytesConfirmed.store(blockEnd, std::memory_order_release);
    }
    return;
  }
}

void TransferRun::BlockFailed(const char* text) {
  state_.log.AppendLog(text);
  messageCounter_ -= kBlockMessages;
  ++retryCounter_;
  position_ = blockStart_;
}

void TransferRun::Rearm() {
  input_.event->Reset();
  if (input_.header->dwFlags & MHDR_DONE)
    state_.ports.RequeueInputBuffer(input_);
}

// Whatever arrived while the block was being sent is thrown away. An OK
// among it, once a block went unanswered, answers an attempt that was sent
// again all the same: a controller that cannot place a block then holds it
// twice, and the run may not end in success.
void TransferRun::Drain() {
  if (!input_.event->IsSet())
    return;
  if (timedOut_) {
    const std::span<const std::uint8_t> reply = HeaderBytes(input_);
    if (HasMessageHeader(reply) && reply.size() > kCommandIndex &&
        reply[kCommandIndex] == kCmdBlockReply && BlockReplyStatus(reply) == std::uint8_t{0}) {
      answeredTwice_ = true;
    }
  }
  Rearm();
}

void TransferRun::CheckAfterTail() {
  const bool tailSent = !image_.empty() && position_ >= image_.size() && !stopped_ && !broken_ &&
                        !nothingSent_ && connected_ && messageCounter_ % kBlockMessages != 0;
  if (!tailSent)
    return;
  // A controller that left during the tail takes its ports with it, but the
  // MIDI system lists the departure only once its driver or client has gone:
  // given the time a reply would have, a departure on the wire shows.
  SleepUntil(PreciseClock::now() + std::chrono::milliseconds(kReplyWaitMs));
  if (!PairStillListed(midi_, input_, output_))
    connected_ = false;
}

void TransferRun::Finish(BusyScope& busy) {
  Report(midi_.midiInReset(input_.inHandle), kMidiInReset);
  Report(midi_.midiInUnprepareHeader(input_.inHandle, input_.header.get(), sizeof(MIDIHDR)),
         kMidiInUnprepareHeader);
  busy.Leave();
  Report(midi_.midiInStop(input_.inHandle), kMidiInStop);

  if (nothingSent_) {
    // Said why already; the controller is as it was, so no danger message.
    state_.Record(RunOutcome::kPortsUnusable);
  } else if (!connected_) {
    state_.log.AppendLog(kLostConnectionText);
    state_.log.AppendLog(kDangerText);
    state_.Record(RunOutcome::kLostConnection);
  } else if (retryCounter_ != 0 || stopped_ || broken_ || !dropped_.empty() || answeredTwice_) {
    if (answeredTwice_)
      state_.log.AppendLog(kAnsweredTwiceText);
    state_.log.AppendLog(kDangerText);
    state_.Record(stopped_ ? RunOutcome::kStopped : RunOutcome::kDanger);
  } else {
    state_.window.ProgressSetPosition(0);
    state_.window.ProgressEnable(false);
    state_.log.AppendLog(kSuccessText);
    state_.bytesConfirmed.store(image_.size(), std::memory_order_release);
    state_.Record(RunOutcome::kSuccess);
  }
  // Asked to stop: the window is going away and takes no more steps.
  if (!stopped_)
    state_.window.PostStep(STEP_RESET_PORTS);
}

}  // namespace

void TransferWorker(UpdateState& state) {
  PortRecord* output = nullptr;
  PortRecord* input = nullptr;
  if (const FoundDevice* chosen = state.ChosenDevice()) {
    output = state.ports.FindOutput(chosen->ports.output);
    input = state.ports.FindInput(chosen->ports.input);
  }
  if (output == nullptr || input == nullptr || !output->header || !input->header || !input->event) {
    // Nothing was sent: the ports are reset and the user may rescan.
    BusyScope busy(state.busy);
    state.log.AppendLog(kPairNotFoundText);
    state.Record(RunOutcome::kPortsUnusable);
    busy.Leave();
    state.window.PostStep(STEP_RESET_PORTS);
    return;
  }
  state.bytesConfirmed.store(0, std::memory_order_release);
  TransferRun(state, *input, *output).Run();
}

}  // namespace korvane
