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
  void SendLoop();
  // False when the run cannot go on (no memory for the message).
  bool SendOne(const CutMessage& message);
  void LogBlockStart();
  void AwaitBlockReply(std::uint8_t sentCommand);
  void BlockFailed(const char* text);
  void Rearm();
  void Drain();
  // The last block, of fewer than 16 messages, is never acknowledged: the
  // controller must at least still be there once it has been sent.
  void ProbeAfterTail();
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
  int retryCounter_ = 0;
  bool connected_ = true;
  int totalBlocks_ = 0;
  // Our own endings: the run was asked to stop, or could not go on.
  bool stopped_ = false;
  bool broken_ = false;
  // Offsets of the messages whose latest sending failed: each is missing from
  // the device's firmware until an attempt of its block carries it, and the
  // run may not end in success while any is.
  std::set<std::size_t> dropped_;
  // A block was passed over (its reply unreadable, or the wait failed) and no
  // acknowledged block has followed it. The controller refuses a block that
  // does not continue its firmware, so only a later OK shows it took the
  // passed-over one; without that the run may not end in success.
  bool unconfirmed_ = false;
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
  if (!image_.empty())
    SendLoop();
  ProbeAfterTail();
  Finish(busy);
}

// Closes the input and opens it again, so that the run starts from a port
// with nothing queued. Results are not reported: a failure shows in the calls
// that follow.
bool TransferRun::ReopenInput() {
  if (input_.openCount.load(std::memory_order_acquire) != 0) {
    midi_.midiInClose(input_.inHandle);
    const std::uint32_t start = timeGetTime();
    while (input_.openCount.load(std::memory_order_acquire) != 0) {
      if (timeGetTime() - start >= kCloseConfirmMs)
        return false;
      SleepMs(1);
    }
  }
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
    if (messageCounter_ % kBlockMessages == 0) {
      blockStart_ = message.offset;
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

void TransferRun::AwaitBlockReply(std::uint8_t sentCommand) {
  const std::uint32_t waited = WaitForEvent(*input_.event, kReplyWaitMs);
  if (waited == WAIT_OBJECT_0) {
    const std::span<const std::uint8_t> reply = HeaderBytes(input_);
    if (IsReplyTo(reply, sentCommand)) {
      // Input buffers hold at least the longest reply, so the status is there;
      // a reply cut short is taken as an unknown status.
      const std::uint8_t status = BlockReplyStatus(reply).value_or(0xFF);
      if (status == 0) {
        state_.log.AppendLog(retryCounter_ == 0 ? kOkText : kOkAfterRetryText);
        retryCounter_ = 0;
        unconfirmed_ = false;
      } else {
        BlockFailed(BlockStatusText(status));
      }
    } else {
      unconfirmed_ = true;
    }
    Rearm();
  } else if (waited == WAIT_FAILED) {
    state_.log.AppendLog(kWaitFailedText);
    unconfirmed_ = true;
  } else {
    BlockFailed(kTimeoutText);
    // A reply that came after the time-out is not the probe's answer. An
    // event that is not set needs no reset, and leaving it alone cannot lose
    // a buffer handed back just now.
    if (input_.event->IsSet())
      Rearm();
    const std::size_t modelAt = blockStart_ + kModelIndex;
    const std::uint8_t model = modelAt < image_.size() ? image_[modelAt] : 0;
    connected_ = ProbeConnection(state_, input_, output_, model);
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

// Whatever arrived while the block was being sent is thrown away.
void TransferRun::Drain() {
  if (!input_.event->IsSet())
    return;
  Rearm();
}

void TransferRun::ProbeAfterTail() {
  const bool tailSent = !image_.empty() && position_ >= image_.size() && !stopped_ && !broken_ &&
                        connected_ && messageCounter_ % kBlockMessages != 0;
  if (!tailSent)
    return;
  // Whatever arrived during the tail is no answer to the probe.
  if (input_.event->IsSet())
    Rearm();
  const std::size_t modelAt = blockStart_ + kModelIndex;
  const std::uint8_t model = modelAt < image_.size() ? image_[modelAt] : 0;
  connected_ = ProbeConnection(state_, input_, output_, model);
  MIDIHDR& header = *output_.header;
  if (header.dwFlags & MHDR_PREPARED) {
    Report(midi_.midiOutUnprepareHeader(output_.outHandle, &header, sizeof(MIDIHDR)),
           kMidiOutUnprepareHeader);
  }
}

void TransferRun::Finish(BusyScope& busy) {
  Report(midi_.midiInReset(input_.inHandle), kMidiInReset);
  Report(midi_.midiInUnprepareHeader(input_.inHandle, input_.header.get(), sizeof(MIDIHDR)),
         kMidiInUnprepareHeader);
  busy.Leave();
  Report(midi_.midiInStop(input_.inHandle), kMidiInStop);

  if (!connected_) {
    state_.log.AppendLog(kLostConnectionText);
    state_.log.AppendLog(kDangerText);
    state_.Record(RunOutcome::kLostConnection);
  } else if (retryCounter_ != 0 || stopped_ || broken_ || !dropped_.empty() || unconfirmed_) {
    state_.log.AppendLog(kDangerText);
    state_.Record(stopped_ ? RunOutcome::kStopped : RunOutcome::kDanger);
  } else {
    state_.window.ProgressSetPosition(0);
    state_.window.ProgressEnable(false);
    state_.log.AppendLog(kSuccessText);
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
  if (state.portPairList && !state.portPairList->empty()) {
    output = state.ports.FindOutput(state.portPairList->front().output);
    input = state.ports.FindInput(state.portPairList->front().input);
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
  TransferRun(state, *input, *output).Run();
}

}  // namespace korvane
