// The device list from arbitrary identity replies, product names and pair
// lists: ports opened through the real port set (some refusing to open), the
// replies' names stored as the scan stores them, then BuildDeviceList and
// ApplyDeviceChoice. Nothing may read outside a name or a buffer, and the list
// must hold exactly one entry per pair whose two ports exist.
//
// Input layout: [inputs] [outputs] [open failures] [chosen index] then, per
// port, 32 bytes of product name (no terminator needed); then pairs of
// (output, input) bytes, each followed by one identity reply: [length] [bytes].
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// As the scan stores a reply's name: zero-filled, at most 39 characters.
void StoreName(PortRecord& record, const std::string& name) {
  std::memset(record.deviceName, 0, sizeof record.deviceName);
  std::memcpy(record.deviceName, name.data(), std::min(name.size(), sizeof record.deviceName - 1));
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
  const int chosen = static_cast<int>(in.Byte() % 8) - 1;
  for (std::size_t i = 0; i < inputs; ++i)
    midi.inNames.push_back(Name(in));
  for (std::size_t i = 0; i < outputs; ++i)
    midi.outNames.push_back(Name(in));

  NullWindow window;
  UpdateState state(midi, window);
  state.ports.OpenAllMidiIn(state.PortBufferSize());
  state.ports.OpenAllMidiOut(state.PortBufferSize());

  std::vector<PortPair> pairs;
  while (!in.Empty() && pairs.size() < 16) {
    // -1 to 6: device numbers that exist, that failed to open, and none.
    const PortPair pair{static_cast<std::int32_t>(in.Byte() % 8) - 1,
                        static_cast<std::int32_t>(in.Byte() % 8) - 1};
    // An identity reply of any length; its buffer is exactly that long.
    const auto replyBytes = in.Take(in.Byte());
    const std::vector<std::uint8_t> reply(replyBytes.begin(), replyBytes.end());
    PortRecord* output = state.ports.FindOutput(pair.output);
    PortRecord* input = state.ports.FindInput(pair.input);
    if (IsIdentityReply(reply) && output != nullptr && input != nullptr) {
      const std::string name = DeviceNameFromReply(reply);
      Check(name.size() == kDeviceNameLength);
      StoreName(*output, name);
      StoreName(*input, name);
    }
    pairs.push_back(pair);
  }
  pairs.push_back(kPairListEnd);
  state.portPairList = pairs;

  std::size_t expected = 0;
  for (const PortPair& pair : pairs) {
    if (pair == kPairListEnd)
      break;
    expected += state.ports.FindOutput(pair.output) != nullptr && state.ports.FindInput(pair.input);
  }

  const std::optional<std::string> list = BuildDeviceList(state);
  Check(list.has_value() == (expected > 0));
  if (list) {
    // Entries end with one zero byte each, and the text with one more.
    Check(list->size() >= 2 && list->back() == '\0' && (*list)[list->size() - 2] == '\0');
    std::size_t entries = 0;
    for (std::size_t at = 0; at + 1 < list->size();) {
      const std::size_t end = list->find('\0', at);
      Check(end != std::string::npos && end > at);
      Check((*list)[end - 1] == ')');
      ++entries;
      at = end + 1;
    }
    Check(entries == expected);
  }

  const std::vector<PortPair> before = *state.portPairList;
  ApplyDeviceChoice(state, chosen);
  const std::vector<PortPair>& after = *state.portPairList;
  // The pairs before the first end marker.
  const std::size_t count = static_cast<std::size_t>(
      std::find(before.begin(), before.end(), kPairListEnd) - before.begin());
  if (chosen >= 0 && static_cast<std::size_t>(chosen) < count) {
    Check(after.size() == 2 && after[0] == before[static_cast<std::size_t>(chosen)] &&
          after[1] == kPairListEnd);
  } else {
    Check(after == before);
  }
  return 0;
}
