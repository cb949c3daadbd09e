// The device list from arbitrary identity replies and product names: ports
// opened through the real port set (some refusing to open), each reply's name
// read as the scan reads it, the devices described as the scan describes
// them, then --device arguments matched against them. Nothing may read
// outside a name or a buffer; each entry shows exactly its device's name and
// ports; a --device argument never names a device that is not in the list.
//
// Input layout: [inputs] [outputs] [open failures] then, per port, 32 bytes
// of product name (no terminator needed); then triples of (output, input,
// reply length) followed by the reply; what remains is the --device argument.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "cli/device_prompt.h"
#include "midi/fixed_result_midi_services.h"
#include "run/null_window.h"
#include "run/update_state.h"
#include "update/device_messages.h"
#include "update/port_scan.h"

namespace {

using namespace korvane;

constexpr std::size_t kMostPorts = 6;

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
  bool Empty() const { return at_ >= data_.size(); }
  std::uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
  std::span<const std::uint8_t> Take(std::size_t n) {
    n = std::min(n, data_.size() - std::min(at_, data_.size()));
    const auto taken = data_.subspan(at_, n);
    at_ += n;
    return taken;
  }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t at_ = 0;
};

// Ports whose product names come from the input; a set bit of the failure
// mask makes that device number refuse to open.
class NamedPortServices final : public FixedResultMidiServices {
 public:
  NamedPortServices() : FixedResultMidiServices(MMSYSERR_NOERROR, MMSYSERR_NOERROR) {}
  UINT midiInGetNumDevs() override { return static_cast<UINT>(inNames.size()); }
  UINT midiOutGetNumDevs() override { return static_cast<UINT>(outNames.size()); }
  MMRESULT midiInGetDevCapsA(UINT_PTR id, MIDIINCAPSA* caps, UINT) override {
    std::memcpy(caps->szPname, inNames.at(id).data(), MAXPNAMELEN);
    return MMSYSERR_NOERROR;
  }
  MMRESULT midiOutGetDevCapsA(UINT_PTR id, MIDIOUTCAPSA* caps, UINT) override {
    std::memcpy(caps->szPname, outNames.at(id).data(), MAXPNAMELEN);
    return MMSYSERR_NOERROR;
  }
  MMRESULT midiInOpen(HMIDIIN* handle, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                      DWORD) override {
    if (failMask & (1u << (id % 4)))
      return MMSYSERR_ALLOCATED;
    *handle = reinterpret_cast<HMIDIIN>(static_cast<std::uintptr_t>(id + 1));
    reinterpret_cast<MidiInCallback>(callback)(*handle, MIM_OPEN, instance, 0, 0);
    return MMSYSERR_NOERROR;
  }
  MMRESULT midiOutOpen(HMIDIOUT* handle, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                       DWORD) override {
    if (failMask & (1u << (4 + id % 4)))
      return MMSYSERR_ALLOCATED;
    *handle = reinterpret_cast<HMIDIOUT>(static_cast<std::uintptr_t>(id + 1));
    reinterpret_cast<MidiOutCallback>(callback)(*handle, MOM_OPEN, instance, 0, 0);
    return MMSYSERR_NOERROR;
  }
  std::vector<std::vector<char>> inNames;
  std::vector<std::vector<char>> outNames;
  unsigned failMask = 0;
};

void Check(bool condition) {
  if (!condition)
    std::abort();
}

std::vector<char> Name(Reader& in) {
  std::vector<char> name(MAXPNAMELEN, 0);
  const auto bytes = in.Take(MAXPNAMELEN);
  std::copy(bytes.begin(), bytes.end(), name.begin());
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in({data, size});
  NamedPortServices midi;
  const std::size_t inputs = in.Byte() % kMostPorts;
  const std::size_t outputs = in.Byte() % kMostPorts;
  midi.failMask = in.Byte();
  for (std::size_t i = 0; i < inputs; ++i)
    midi.inNames.push_back(Name(in));
  for (std::size_t i = 0; i < outputs; ++i)
    midi.outNames.push_back(Name(in));

  NullWindow window;
  UpdateState state(midi, window);
  state.ports.OpenAllMidiIn(state.PortBufferSize());
  state.ports.OpenAllMidiOut(state.PortBufferSize());

  for (int pairs = 0; pairs < 16 && !in.Empty(); ++pairs) {
    PortRecord* output = state.ports.FindOutput(static_cast<std::int32_t>(in.Byte() % 8) - 1);
    PortRecord* input = state.ports.FindInput(static_cast<std::int32_t>(in.Byte() % 8) - 1);
    // An identity reply of any length; its buffer is exactly that long.
    const auto replyBytes = in.Take(in.Byte());
    const std::vector<std::uint8_t> reply(replyBytes.begin(), replyBytes.end());
    if (!IsIdentityReply(reply) || output == nullptr || input == nullptr)
      continue;
    const std::string name = DeviceNameFromReply(reply);
    Check(name.size() == kDeviceNameLength);
    const FoundDevice device =
        DescribeDevice(*output, *input, reply.size() > kModelIndex ? reply[kModelIndex] : 0, name);
    Check(device.outputName.size() <= MAXPNAMELEN && device.inputName.size() <= MAXPNAMELEN);
    Check(device.outputName.find('\0') == std::string::npos);
    Check(std::string_view(output->outCaps.szPname, device.outputName.size()) == device.outputName);
    Check(DeviceEntry(device) == name + " (" + device.outputName + "/" + device.inputName + ")");
    state.foundDevices.push_back(device);
  }

  const auto rest = in.Take(size);
  DevicePromptSettings settings;
  settings.device = std::string(rest.begin(), rest.end());
  std::istringstream none;
  std::ostringstream out, err;
  for (const std::size_t named : DevicesNamedBy(state.foundDevices, *settings.device))
    Check(named < state.foundDevices.size());
  const DevicePromptAnswer answer = PromptForDevice(state.foundDevices, settings, none, out, err);
  Check(!answer.choice || *answer.choice < state.foundDevices.size());
  Check(answer.choice.has_value() != answer.deviceRefused || state.foundDevices.empty());
  return 0;
}
