// The contract on the platform's own WinMM. Under Wine on an ALSA sequencer
// (scripts/alsa-vm), Wine lists the kernel's VirMIDI ports, and the peer is
// the far end of "VirMIDI 0-0": its raw MIDI device, which Wine shows on
// drive Z:. Elsewhere the cases that need the peer skip, saying why.
#include "midi/winmm/native_winmm_services.h"
#include "tests/contract/midi_services_contract.h"

namespace korvane::contract {
namespace {

constexpr const char* kPort = "VirMIDI 0-0";
constexpr const char* kRawDevice = "Z:\\dev\\snd\\midiC0D0";

class WinmmRig final : public ContractRig {
 public:
  WinmmRig() {
    for (UINT i = 0; i < services_.midiInGetNumDevs(); ++i) {
      MIDIINCAPSA caps{};
      if (services_.midiInGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR &&
          std::string(caps.szPname).find(kPort) != std::string::npos) {
        input_ = caps.szPname;
      }
    }
    for (UINT i = 0; i < services_.midiOutGetNumDevs(); ++i) {
      MIDIOUTCAPSA caps{};
      if (services_.midiOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR &&
          std::string(caps.szPname).find(kPort) != std::string::npos) {
        output_ = caps.szPname;
      }
    }
    if (!input_.empty() && !output_.empty()) {
      raw_ = CreateFileA(kRawDevice, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    }
  }
  ~WinmmRig() override {
    if (raw_ != INVALID_HANDLE_VALUE)
      CloseHandle(raw_);
  }
  WinmmRig(const WinmmRig&) = delete;
  WinmmRig& operator=(const WinmmRig&) = delete;

  std::string NoPorts() override {
    if (input_.empty() || output_.empty()) {
      return std::string("no MIDI port named \"") + kPort +
             "\": Wine lists one where it reads an ALSA sequencer with VirMIDI ports "
             "(scripts/alsa-vm)";
    }
    if (raw_ == INVALID_HANDLE_VALUE)
      return std::string("the port's far end ") + kRawDevice + " does not open";
    return {};
  }
  MidiServices& Services() override { return services_; }
  std::string InputName() const override { return input_; }
  std::string OutputName() const override { return output_; }
  // What NativeWinmmServices promises: WinMM's 64 KiB.
  std::size_t Longest() const override { return 65536; }
  bool ReportsShortMessages() const override { return true; }

  void Inject(const Message& message) override {
    DWORD written = 0;
    WriteFile(raw_, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
  }
  // The raw device blocks until bytes come; the suite asks only for a message
  // that is due, so a lost one ends in the test's time-out, never a pass.
  Message NextReceived() override {
    Message message;
    unsigned char byte = 0;
    DWORD read = 0;
    while (ReadFile(raw_, &byte, 1, &read, nullptr) && read == 1) {
      if (byte == 0xF0)
        message.clear();
      message.push_back(byte);
      if (byte == 0xF7 && message.front() == 0xF0)
        break;
    }
    return message;
  }
  void Settle() override { Sleep(300); }

 private:
  NativeWinmmServices services_;
  std::string input_;
  std::string output_;
  HANDLE raw_ = INVALID_HANDLE_VALUE;
};

KORVANE_MIDI_SERVICES_CONTRACT(Winmm,
                               (RigMaker{"Winmm", [] { return std::make_unique<WinmmRig>(); }}));

}  // namespace
}  // namespace korvane::contract
