#include "update/connection_probe.h"

#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "midi/clock.h"
#include "midi/header_rules.h"
#include "run/report_midi_result.h"
#include "run/update_state.h"
#include "update/device_messages.h"
#include "update/header_bytes.h"

namespace korvane {
namespace {

enum class Attempt { kAnswered, kNoAnswer, kFailed };

// One probe on the chosen pair. The input header's flags may change on the
// driver's thread while the buffer is queued, so they are loaded as the
// driver stores them; its bytes are read only once the event shows that the
// callback has handed the buffer back.
class Probe {
 public:
  // With a name, only an identity reply that carries it answers. With late,
  // a reply to the block that the probe finds on its way is kept there.
  Probe(UpdateState& state, PortRecord& input, PortRecord& output, std::optional<std::string> name,
        LateBlockReply* late)
      : midi_(state.midi),
        log_(state.log),
        input_(input),
        output_(output),
        name_(std::move(name)),
        late_(late) {}

  // Sends the request twice and waits for its answer.
  Attempt SendPairAndWait();
  // Hands the input buffer back to the driver; only for a buffer it returned.
  bool Requeue();

 private:
  bool Ok(MMRESULT result, unsigned operation) {
    return ReportMidiResult(log_, result, operation) == MMSYSERR_NOERROR;
  }
  bool Send() {
    return Ok(midi_.midiOutLongMsg(output_.outHandle, output_.header.get(), sizeof(MIDIHDR)),
              kMidiOutLongMsg);
  }
  bool HoldsAnswer() {
    const std::span<const std::uint8_t> reply = HeaderBytes(input_);
    return IsReplyTo(reply, kCmdIdentityRequest) &&
           (!name_ || DeviceNameFromReply(reply) == *name_);
  }
  // Not in the driver's queue, and not in the callback's hands either: a
  // buffer the driver handed back (MHDR_DONE) is ours only once the callback
  // has looked at it and signalled; until then it may still read it, or queue
  // it again itself (another maker's message).
  bool NotQueuedAndOurs() {
    const DWORD flags = LoadHeaderFlags(*input_.header);
    if (flags & MHDR_INQUEUE)
      return false;
    return (flags & MHDR_DONE) ? input_.event->IsSet() : true;
  }
  Attempt AwaitAnswer();

  MidiServices& midi_;
  LogConsole& log_;
  PortRecord& input_;
  PortRecord& output_;
  const std::optional<std::string> name_;
  LateBlockReply* const late_;
};

Attempt Probe::SendPairAndWait() {
  // The request goes out twice: the answer to the first is lost when the
  // input buffer was not queued at the time.
  if (!Send())
    return Attempt::kFailed;
  // The input is armed between the two sendings: prepared if it is not, and
  // queued if it is not (a buffer handed back, even with the first answer in
  // it: the second sending asks again). A failing call ends the probe.
  if (!(LoadHeaderFlags(*input_.header) & MHDR_PREPARED) &&
      !Ok(midi_.midiInPrepareHeader(input_.inHandle, input_.header.get(), sizeof(MIDIHDR)),
          kMidiInPrepareHeader)) {
    return Attempt::kFailed;
  }
  if (NotQueuedAndOurs() && !Requeue())
    return Attempt::kFailed;
  if (!Send())
    return Attempt::kFailed;
  return AwaitAnswer();
}

// Waits up to 300 ms for the identity reply. Anything else with the message
// header (a block reply that came late) shows the controller alive but is no
// answer: it is handed back and the wait goes on within the same 300 ms.
Attempt Probe::AwaitAnswer() {
  const std::uint32_t start = timeGetTime();
  for (;;) {
    const std::uint32_t elapsed = timeGetTime() - start;
    if (elapsed >= kReplyWaitMs ||
        WaitForEvent(*input_.event, kReplyWaitMs - elapsed) != WAIT_OBJECT_0) {
      return Attempt::kNoAnswer;
    }
    if (HoldsAnswer())
      return Attempt::kAnswered;
    if (!Requeue())
      return Attempt::kFailed;
  }
}

bool Probe::Requeue() {
  MIDIHDR& in = *input_.header;
  if (late_ != nullptr && input_.event->IsSet()) {
    const std::span<const std::uint8_t> reply = HeaderBytes(input_);
    if (IsReplyTo(reply, late_->sentCommand))
      late_->status = BlockReplyStatus(reply).value_or(0xFF);
  }
  input_.event->Reset();
  in.dwBytesRecorded = 0;
  in.dwFlags &= ~MHDR_DONE;
  return Ok(midi_.midiInAddBuffer(input_.inHandle, &in, sizeof(MIDIHDR)), kMidiInAddBuffer);
}

}  // namespace

namespace {

// Asks for the identity on the pair, up to kProbeAttempts times; the output
// header holds the request and is left prepared.
bool AskIdentity(UpdateState& state, PortRecord& input, PortRecord& output, std::uint8_t modelByte,
                 std::optional<std::string> name, LateBlockReply* late) {
  MIDIHDR& out = *output.header;
  const DWORD keptLength = out.dwBufferLength;
  if (output.buffer.size() < kIdentityRequestLength &&
      !output.ResizeBuffer(kIdentityRequestLength)) {
    return false;
  }
  BuildIdentityRequest(
      modelByte,
      std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(out.lpData), kIdentityRequestLength));
  out.dwBufferLength = kIdentityRequestLength;

  Probe probe(state, input, output, std::move(name), late);
  Attempt attempt = Attempt::kFailed;
  if (ReportMidiResult(state.log,
                       state.midi.midiOutPrepareHeader(output.outHandle, &out, sizeof(MIDIHDR)),
                       kMidiOutPrepareHeader) == MMSYSERR_NOERROR) {
    attempt = Attempt::kNoAnswer;
    for (int i = 0; i < kProbeAttempts && attempt == Attempt::kNoAnswer; ++i)
      attempt = probe.SendPairAndWait();
  }

  if (input.event->IsSet())
    probe.Requeue();
  if (out.dwBufferLength != keptLength)
    out.dwBufferLength = keptLength;
  return attempt == Attempt::kAnswered;
}

}  // namespace

bool ProbeConnection(UpdateState& state, PortRecord& input, PortRecord& output,
                     std::uint8_t modelByte, LateBlockReply* late) {
  if (ReportMidiResult(
          state.log,
          state.midi.midiOutUnprepareHeader(output.outHandle, output.header.get(), sizeof(MIDIHDR)),
          kMidiOutUnprepareHeader) != MMSYSERR_NOERROR) {
    return false;
  }
  return AskIdentity(state, input, output, modelByte, std::nullopt, late);
}

bool ConfirmDevice(UpdateState& state, PortRecord& input, PortRecord& output,
                   std::uint8_t modelByte) {
  // The scan names every device it finds (the padded name is never empty); a
  // pair set up without a scan has no name to hold the answer to.
  std::optional<std::string> name;
  if (const FoundDevice* chosen = state.ChosenDevice(); chosen != nullptr && !chosen->name.empty())
    name = chosen->name;
  const bool answered = AskIdentity(state, input, output, modelByte, std::move(name), nullptr);
  MIDIHDR& out = *output.header;
  if (out.dwFlags & MHDR_PREPARED) {
    ReportMidiResult(state.log,
                     state.midi.midiOutUnprepareHeader(output.outHandle, &out, sizeof(MIDIHDR)),
                     kMidiOutUnprepareHeader);
  }
  return answered;
}

}  // namespace korvane
