// What the engine needs of a MIDI system, as one suite that every
// MidiServices runs: the in-process virtual system, RtMidi on JACK and on
// ALSA, and WinMM. A back-end brings a rig (its services and a peer on the far
// side of one input and one output) and instantiates the suite with
// KORVANE_MIDI_SERVICES_CONTRACT, inside namespace korvane::contract.
//
// Where the systems may differ, the suite asks only what the engine relies
// on: MOM_DONE may come inside midiOutLongMsg or later on the driver's
// thread; a message longer than the input's buffer leaves its first bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "midi/midi_services.h"
#include "tests/contract/callback_recorder.h"

namespace korvane::contract {

using Message = std::vector<unsigned char>;

// One MIDI system with a peer: what the peer sends arrives on the input named
// InputName, what is sent on the output named OutputName reaches the peer.
class ContractRig {
 public:
  virtual ~ContractRig() = default;

  // Why the rig could not be set up although it should have been (a server
  // that did not start): the test fails with it. Empty when all is well.
  virtual std::string SetUpError() { return {}; }
  // Why the system has no ports to test here: the cases that need the peer
  // skip with it, the others run. Empty when it has them.
  virtual std::string NoPorts() { return {}; }

  virtual MidiServices& Services() = 0;
  virtual std::string InputName() const = 0;
  virtual std::string OutputName() const = 0;
  // What LongestMessage must report for the output: the longest message the
  // system carries whole, or MidiServices::kNoKnownLimit.
  virtual std::size_t Longest() const = 0;
  // True where an input reports short messages through MIM_DATA, as WinMM does.
  virtual bool ReportsShortMessages() const { return false; }
  // True where the driver keeps its count of recorded bytes in the queued
  // header itself, zeroing it as the header is queued (Wine's ALSA driver): a
  // count written into a header while it is queued is then the driver's own.
  virtual bool CountsInTheQueuedHeader() const { return false; }

  // The peer sends a message into the input.
  virtual void Inject(const Message& message) = 0;
  // The next message the peer received from the output; empty when none came
  // in time. Called only when one is due.
  virtual Message NextReceived() = 0;
  // Returns once what was injected so far had its time to arrive.
  virtual void Settle() = 0;
};

struct RigMaker {
  std::string name;
  std::function<std::unique_ptr<ContractRig>()> make;
};
inline void PrintTo(const RigMaker& maker, std::ostream* out) {
  *out << maker.name;
}

// Cases that need no port at all.
class MidiServicesBasics : public ::testing::TestWithParam<RigMaker> {
 protected:
  void SetUp() override;

  std::unique_ptr<ContractRig> rig_;
  MidiServices* services_ = nullptr;
};

// Cases on the peer's input and output; skipped where the system has none.
class MidiServicesContract : public MidiServicesBasics {
 protected:
  void SetUp() override;
  // Closes what a failed case left open, so that the next one finds it free.
  // Inputs only by close, which refuses while headers (perhaps gone) are queued.
  void TearDown() override;

  // The peer's port, or null with the failure recorded.
  HMIDIIN OpenInput(testing::CallbackRecorder& recorder, MMRESULT expected = MMSYSERR_NOERROR);
  HMIDIOUT OpenOutput(testing::CallbackRecorder& recorder, MMRESULT expected = MMSYSERR_NOERROR);
  // Prepares and queues the header on buffer, then starts the input.
  void Arm(HMIDIIN in, MIDIHDR& header, std::vector<char>& buffer);
  // Resets, unprepares and closes, as the port set does.
  void Disarm(HMIDIIN in, MIDIHDR& header);
  // Prepares a header on message and sends it; the header stays prepared.
  MMRESULT Send(HMIDIOUT out, Message& message, MIDIHDR& header);

 private:
  std::vector<HMIDIIN> openedIns_;
  std::vector<HMIDIOUT> openedOuts_;
};

}  // namespace korvane::contract

// Runs the whole suite on one back-end; maker is a RigMaker.
#define KORVANE_MIDI_SERVICES_CONTRACT(Name, maker)                              \
  INSTANTIATE_TEST_SUITE_P(Name, MidiServicesBasics, ::testing::Values(maker),   \
                           [](const auto& info) { return info.param.name; });    \
  INSTANTIATE_TEST_SUITE_P(Name, MidiServicesContract, ::testing::Values(maker), \
                           [](const auto& info) { return info.param.name; })
