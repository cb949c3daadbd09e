#include "update/port_scan.h"

#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>

#include "midi/clock.h"
#include "run/report_midi_result.h"
#include "run/steps.h"
#include "run/update_state.h"
#include "update/device_messages.h"
#include "update/header_bytes.h"
#include "update/transfer_texts.h"

namespace korvane {
namespace {

// The request buffer is tried again for about a minute before the scan gives up.
constexpr int kAllocationRetries = 999;
constexpr std::uint32_t kAllocationPauseMs = 60;

void ArmInputs(UpdateState& state) {
  MidiServices& midi = state.midi;
  for (PortRecord* in = state.ports.InputHead(); in != nullptr; in = in->next.get()) {
    ReportMidiResult(state.log, midi.midiInStart(in->inHandle), kMidiInStart);
    ReportMidiResult(state.log,
                     midi.midiInPrepareHeader(in->inHandle, in->header.get(), sizeof(MIDIHDR)),
                     kMidiInPrepareHeader);
    state.ports.RequeueInputBuffer(*in);
  }
}

void DisarmInputs(UpdateState& state) {
  MidiServices& midi = state.midi;
  for (PortRecord* in = state.ports.InputHead(); in != nullptr; in = in->next.get()) {
    ReportMidiResult(state.log, midi.midiInReset(in->inHandle), kMidiInReset);
    ReportMidiResult(state.log,
                     midi.midiInUnprepareHeader(in->inHandle, in->header.get(), sizeof(MIDIHDR)),
                     kMidiInUnprepareHeader);
  }
}

// A buffer the driver handed back goes to it again, emptied; one still queued
// stays where it is.
void DrainInput(UpdateState& state, PortRecord& input) {
  if (!input.event->IsSet())
    return;
  const std::span<std::uint8_t> buffer = HeaderBytes(input);
  std::memset(buffer.data(), 0, buffer.size());
  input.event->Reset();
  if (input.header->dwFlags & MHDR_DONE)
    state.ports.RequeueInputBuffer(input);
}

// An 8-byte request buffer, tried again while memory is short.
bool MakeRequestBuffer(PortRecord& output) {
  if (output.header->lpData != nullptr && output.header->dwBufferLength == kIdentityRequestLength &&
      output.buffer.size() >= kIdentityRequestLength) {
    return true;
  }
  if (output.ResizeBuffer(kIdentityRequestLength))
    return true;
  for (int attempt = 0; attempt < kAllocationRetries; ++attempt) {
    SleepMs(kAllocationPauseMs);
    if (output.ResizeBuffer(kIdentityRequestLength))
      return true;
  }
  return false;
}

bool RecordDevice(UpdateState& state, const PortRecord& output, const PortRecord& input,
                  std::uint8_t model, const std::string& name) {
  try {
    state.foundDevices.push_back(DescribeDevice(output, input, model, name));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Hands every input's buffer back: whatever arrived before a request (a late
// answer to an earlier one) is no answer to it.
void DrainInputs(UpdateState& state) {
  for (PortRecord* in = state.ports.InputHead(); in != nullptr; in = in->next.get())
    DrainInput(state, *in);
}

// The identity reply an input holds, read once its event is set.
struct Answer {
  std::uint8_t model = 0;
  std::string name;
  bool operator==(const Answer&) const = default;
};

std::optional<Answer> TakeAnswer(UpdateState& state, PortRecord& input) {
  const std::span<std::uint8_t> reply = HeaderBytes(input);
  std::optional<Answer> answer;
  if (IsIdentityReply(reply) && reply.size() > kModelIndex)
    answer = Answer{reply[kModelIndex], DeviceNameFromReply(reply)};
  std::memset(reply.data(), 0, reply.size());
  input.event->Reset();
  state.ports.RequeueInputBuffer(input);
  return answer;
}

bool SendRequest(UpdateState& state, PortRecord& output) {
  return ReportMidiResult(
             state.log,
             state.midi.midiOutLongMsg(output.outHandle, output.header.get(), sizeof(MIDIHDR)),
             kMidiOutLongMsg) == MMSYSERR_NOERROR;
}

std::uint32_t Remaining(std::uint32_t start) {
  const std::uint32_t elapsed = timeGetTime() - start;
  return elapsed >= kReplyWaitMs ? 0 : kReplyWaitMs - elapsed;
}

// A reply on an input may be a late answer to another output's request, or a
// reply that reached several inputs. The pair counts only when the controller
// answers a request sent on this output alone, on this input, within the
// wait, as the same model and name. A busy MIDI system may lose a request or
// its answer, so the request goes up to three times, as the connection
// probe's does; another answer ends the question at once.
constexpr int kConfirmAttempts = 3;

bool ConfirmPair(UpdateState& state, PortRecord& output, PortRecord& input, const Answer& first) {
  for (int attempt = 0; attempt < kConfirmAttempts; ++attempt) {
    if (state.stopRequested.load(std::memory_order_acquire))
      return false;
    DrainInput(state, input);
    if (!SendRequest(state, output))
      return false;
    const std::uint32_t start = timeGetTime();
    for (;;) {
      const std::uint32_t left = Remaining(start);
      if (WaitForEvent(*input.event, left) != WAIT_OBJECT_0)
        break;
      if (const std::optional<Answer> again = TakeAnswer(state, input))
        return *again == first;
      if (left == 0)
        break;
    }
  }
  return false;
}

// Sends the identity request on one output and pairs it with the input that
// answers. False when the request buffer cannot be had.
bool ScanOutput(UpdateState& state, PortRecord& output, std::uint8_t model) {
  MidiServices& midi = state.midi;
  if (!MakeRequestBuffer(output))
    return false;
  BuildIdentityRequest(model, HeaderBytes(output));
  output.header->dwBufferLength = kIdentityRequestLength;

  if (ReportMidiResult(
          state.log,
          midi.midiOutPrepareHeader(output.outHandle, output.header.get(), sizeof(MIDIHDR)),
          kMidiOutPrepareHeader) != MMSYSERR_NOERROR) {
    return true;  // nothing to unprepare
  }
  DrainInputs(state);
  if (SendRequest(state, output)) {
    const auto events = state.ports.InputEvents();
    const std::uint32_t start = timeGetTime();
    // Each turn takes one message off an input. A candidate that is not
    // confirmed leaves the others to be looked at, even when its
    // confirmation used up the wait: what had arrived by then is looked at
    // once more per input, so a flood cannot hold the scan.
    std::size_t looksAfterWait = events.size();
    for (;;) {
      const std::uint32_t left = Remaining(start);
      if (left == 0 && looksAfterWait-- == 0)
        break;
      const std::uint32_t waited = WaitForAnyEvent(events, left);
      if (waited == WAIT_TIMEOUT || waited == WAIT_FAILED ||
          waited - WAIT_OBJECT_0 >= events.size())
        break;
      // The lowest signalled index first.
      PortRecord* input = state.ports.InputHead();
      for (std::uint32_t i = WAIT_OBJECT_0; i < waited && input != nullptr; ++i)
        input = input->next.get();
      if (input == nullptr)
        break;
      const std::optional<Answer> answer = TakeAnswer(state, *input);
      if (!answer || !ConfirmPair(state, output, *input, *answer))
        continue;
      if (!RecordDevice(state, output, *input, answer->model, answer->name))
        state.log.AppendLog(kMemoryErrorText);
      break;
    }
  }
  ReportMidiResult(
      state.log,
      midi.midiOutUnprepareHeader(output.outHandle, output.header.get(), sizeof(MIDIHDR)),
      kMidiOutUnprepareHeader);
  return true;
}

}  // namespace

FoundDevice DescribeDevice(const PortRecord& output, const PortRecord& input, std::uint8_t model,
                           std::string name) {
  // A product name fills its field and need not end in NUL.
  return {
      .ports = {static_cast<std::int32_t>(output.deviceNumber),
                static_cast<std::int32_t>(input.deviceNumber)},
      .name = std::move(name),
      .model = model,
      .outputName =
          std::string(output.outCaps.szPname, strnlen(output.outCaps.szPname, MAXPNAMELEN)),
      .inputName = std::string(input.inCaps.szPname, strnlen(input.inCaps.szPname, MAXPNAMELEN))};
}

void PortScanWorker(UpdateState& state) {
  BusyScope busy(state.busy);
  const std::uint8_t model =
      state.image && state.image->size() > kModelIndex ? (*state.image)[kModelIndex] : 0;
  state.foundDevices.clear();
  state.chosenDevice.reset();
  ArmInputs(state);

  for (PortRecord* out = state.ports.OutputHead(); out != nullptr; out = out->next.get()) {
    if (state.stopRequested.load(std::memory_order_acquire)) {
      DisarmInputs(state);
      return;
    }
    if (!ScanOutput(state, *out, model)) {
      // Without memory the scan cannot go on. The inputs are disarmed and the
      // ports reset, so the user can try again instead of facing a program
      // that stays busy for good.
      state.log.AppendLog(kMemoryErrorText);
      DisarmInputs(state);
      busy.Leave();
      state.window.PostStep(STEP_RESET_PORTS);
      return;
    }
  }

  DisarmInputs(state);
  busy.Leave();
  state.window.PostStep(state.foundDevices.empty() ? STEP_NO_DEVICE : STEP_CHOOSE_DEVICE);
}

}  // namespace korvane
