// The contract on RtMidi, on the MIDI system KORVANE_TEST_MIDI chooses: a
// private JACK server by default, ALSA's sequencer in scripts/alsa-vm.
#include "midi/rtmidi/rtmidi_services.h"
#include "tests/backend/rtmidi_peer.h"
#include "tests/contract/midi_services_contract.h"
#include "tests/support/test_midi_system.h"

namespace korvane::contract {
namespace {

using testing::TestMidiSystem;

// One system for the process: a JACK server takes a while to start.
struct System {
  System() {
    if (midi.Missing().empty())
      startError = midi.Start();
  }
  TestMidiSystem midi;
  std::string startError;
};

System& TheSystem() {
  static System system;
  return system;
}

class RtMidiRig final : public ContractRig {
 public:
  RtMidiRig() : system_(TheSystem()) {
    if (system_.midi.Missing().empty() && system_.startError.empty()) {
      peer_ = std::make_unique<testing::Peer>(system_.midi.IsJack() ? RtMidi::UNIX_JACK
                                                                    : RtMidi::LINUX_ALSA);
    }
    services_ = std::make_unique<RtMidiServices>();
  }

  std::string SetUpError() override { return system_.startError; }
  std::string NoPorts() override { return system_.midi.Missing(); }
  MidiServices& Services() override { return *services_; }
  std::string InputName() const override { return testing::kPeerSource; }
  std::string OutputName() const override { return testing::kPeerSink; }
  // JACK: RtMidi's ring buffer holds 16379 bytes of message. ALSA: a kernel
  // MIDI port passes 4096 bytes whole, whatever a program's client could take.
  std::size_t Longest() const override { return system_.midi.IsJack() ? 16379 : 4096; }
  void Inject(const Message& message) override { peer_->Send(message); }
  Message NextReceived() override { return peer_->NextReceived(); }
  // Real systems give no sign that nothing more is coming: a message sent
  // into them arrives within a few periods.
  void Settle() override { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

 private:
  System& system_;
  std::unique_ptr<testing::Peer> peer_;
  std::unique_ptr<RtMidiServices> services_;
};

KORVANE_MIDI_SERVICES_CONTRACT(RtMidi,
                               (RigMaker{"RtMidi", [] { return std::make_unique<RtMidiRig>(); }}));

}  // namespace
}  // namespace korvane::contract
