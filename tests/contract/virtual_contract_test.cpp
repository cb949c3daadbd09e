// The contract on the in-process virtual MIDI system, with the test as the
// peer: it injects what arrives and reads what the output sent.
#include "sim/virtual_midi_services.h"
#include "tests/contract/midi_services_contract.h"

namespace korvane::contract {
namespace {

class VirtualRig final : public ContractRig {
 public:
  VirtualRig() {
    input_ = services_.AddInput("Contract In");
    output_ = services_.AddOutput("Contract Out");
    services_.SetLongestMessage(kLongest);
  }

  MidiServices& Services() override { return services_; }
  std::string InputName() const override { return "Contract In"; }
  std::string OutputName() const override { return "Contract Out"; }
  std::size_t Longest() const override { return kLongest; }
  void Inject(const Message& message) override { services_.InjectInput(input_, message); }
  Message NextReceived() override {
    const std::vector<Bytes> sent = services_.SentMessages(output_);
    return read_ < sent.size() ? sent[read_++] : Message{};
  }
  void Settle() override { services_.WaitIdle(); }

 private:
  // Any limit will do: the system is told it, and must keep to it.
  static constexpr std::size_t kLongest = 4096;
  VirtualMidiServices services_;
  UINT input_ = 0;
  UINT output_ = 0;
  std::size_t read_ = 0;
};

KORVANE_MIDI_SERVICES_CONTRACT(Virtual, (RigMaker{"Virtual",
                                                  [] { return std::make_unique<VirtualRig>(); }}));

}  // namespace
}  // namespace korvane::contract
