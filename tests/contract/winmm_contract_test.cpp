// The contract on the platform's own WinMM. Under Wine on an ALSA sequencer
// (scripts/alsa-vm), Wine lists the kernel's VirMIDI ports, and the peer is
// the far end of "VirMIDI 0-0": its raw MIDI device, which Wine shows on
// drive Z:. Elsewhere the cases that need the peer skip, saying why.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "midi/winmm/native_winmm_services.h"
#include "tests/contract/midi_services_contract.h"

namespace korvane::contract {
namespace {

constexpr const char* kPort = "VirMIDI 0-0";
constexpr const char* kRawDevice = "Z:\\dev\\snd\\midiC0D0";

// The raw device, open for the whole process and read on a thread of its own,
// so that a message that never comes ends in a time-out, not a hang. Never
// freed: its thread is blocked in a read when the process ends.
class RawDevice {
 public:
  static RawDevice& Get() {
    static RawDevice* device = new RawDevice;
    return *device;
  }

  bool Opened() const { return read_ != INVALID_HANDLE_VALUE && write_ != INVALID_HANDLE_VALUE; }

  void Write(const Message& message) {
    DWORD written = 0;
    WriteFile(write_, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
  }

  // Forgets what an earlier case left unread.
  void Clear() {
    std::lock_guard lock(mutex_);
    bytes_.clear();
  }

  // The next whole SysEx read; empty when none ended in time.
  Message NextSysEx() {
    std::unique_lock lock(mutex_);
    Message message;
    const auto deadline = std::chrono::steady_clock::now() + testing::kArrival;
    while (true) {
      while (!bytes_.empty()) {
        const unsigned char byte = bytes_.front();
        bytes_.pop_front();
        if (byte == 0xF0)
          message.clear();
        message.push_back(byte);
        if (byte == 0xF7 && message.front() == 0xF0)
          return message;
      }
      if (!arrived_.wait_until(lock, deadline, [&] { return !bytes_.empty(); }))
        return {};
    }
  }

 private:
  RawDevice() {
    // One handle each way: a read blocked on a handle must not hold up a write.
    read_ = CreateFileA(kRawDevice, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    write_ = CreateFileA(kRawDevice, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    if (Opened())
      std::thread([this] { Read(); }).detach();
  }

  void Read() {
    char chunk[256];
    DWORD read = 0;
    while (ReadFile(read_, chunk, sizeof chunk, &read, nullptr) && read > 0) {
      {
        std::lock_guard lock(mutex_);
        bytes_.insert(bytes_.end(), chunk, chunk + read);
      }
      arrived_.notify_all();
    }
  }

  HANDLE read_ = INVALID_HANDLE_VALUE;
  HANDLE write_ = INVALID_HANDLE_VALUE;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<unsigned char> bytes_;
};

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
      raw_ = &RawDevice::Get();
      raw_->Clear();
    }
  }

  std::string NoPorts() override {
    if (input_.empty() || output_.empty()) {
      return std::string("no MIDI port named \"") + kPort +
             "\": Wine lists one where it reads an ALSA sequencer with VirMIDI ports "
             "(scripts/alsa-vm)";
    }
    if (!raw_->Opened())
      return std::string("the port's far end ") + kRawDevice + " does not open";
    return {};
  }
  MidiServices& Services() override { return services_; }
  std::string InputName() const override { return input_; }
  std::string OutputName() const override { return output_; }
  // The kernel's MIDI port passes a SysEx through its 4096-byte buffer.
  std::size_t Longest() const override { return 4096; }
  bool ReportsShortMessages() const override { return true; }
  // Wine's ALSA driver: its reset hands a header back with the count it holds.
  bool CountsInTheQueuedHeader() const override { return true; }

  void Inject(const Message& message) override { raw_->Write(message); }
  Message NextReceived() override { return raw_->NextSysEx(); }
  void Settle() override { Sleep(300); }

 private:
  NativeWinmmServices services_;
  std::string input_;
  std::string output_;
  RawDevice* raw_ = nullptr;
};

KORVANE_MIDI_SERVICES_CONTRACT(Winmm,
                               (RigMaker{"Winmm", [] { return std::make_unique<WinmmRig>(); }}));

}  // namespace
}  // namespace korvane::contract
