#include "midi/rtmidi/api_descriptor.h"

#include <algorithm>
#include <limits>

#include "midi/rtmidi/api_probe.h"

namespace korvane::rtmidi_backend {
namespace {

constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

// What our JACK client's outputs take (jack_client.cpp): their ring, less a
// message's length, below the server's port buffer of 32720 bytes.
constexpr std::size_t kJackLongestMessage = 16379;

// ALSA's sequencer carries a SysEx as one event, and what arrives depends on
// the receiver: a program's client takes 5572 bytes (its input pool: 199
// cells of 28 bytes), a kernel MIDI port such as a USB interface's passes at
// most its 4096-byte buffer and cuts the rest. Longer messages are lost or cut
// without an error reaching the sender (RtMidi's time-stamped connection
// hides it), so 4096 bytes is what can be sent honestly.
constexpr std::size_t kAlsaLongestMessage = 4096;

std::string StartsAlways() {
  return {};
}
std::string NeverStarts() {
  return "not a MIDI system of ours";
}

constexpr ApiDescriptor kApis[] = {
    {.api = RtMidi::LINUX_ALSA,
     .name = "ALSA",
     .key = "alsa",
     .longestMessage = kAlsaLongestMessage,
     .numbersInPortName = true,
     .clientInPortName = true,
     .renamesClients = false,
     .ownClient = false,
     .simOwnClients = false,
     .announcesConnections = true,
     .whyNot = &AlsaWhyNot},
    {.api = RtMidi::UNIX_JACK,
     .name = "JACK",
     .key = "jack",
     .longestMessage = kJackLongestMessage,
     .numbersInPortName = false,
     .clientInPortName = true,
     .renamesClients = true,
     .ownClient = true,
     .simOwnClients = true,
     .announcesConnections = false,
     .whyNot = &JackWhyNot},
    {.api = RtMidi::MACOSX_CORE,
     .name = "CoreMIDI",
     .key = "core",
     .longestMessage = kNoLimit,
     .numbersInPortName = false,
     .clientInPortName = false,
     .renamesClients = false,
     .ownClient = false,
     .simOwnClients = false,
     .announcesConnections = false,
     .whyNot = &StartsAlways},
};

constexpr ApiDescriptor kUnknown = {.api = RtMidi::UNSPECIFIED,
                                    .name = "MIDI",
                                    .key = "other",
                                    .longestMessage = kNoLimit,
                                    .numbersInPortName = false,
                                    .clientInPortName = true,
                                    .renamesClients = false,
                                    .ownClient = false,
                                    .simOwnClients = false,
                                    .announcesConnections = false,
                                    .whyNot = &NeverStarts};

}  // namespace

std::span<const ApiDescriptor> ApiDescriptors() {
  return kApis;
}

const ApiDescriptor& Describe(RtMidi::Api api) {
  for (const ApiDescriptor& d : kApis) {
    if (d.api == api)
      return d;
  }
  return kUnknown;
}

const ApiDescriptor* FindDescriptor(std::string_view key) {
  for (const ApiDescriptor& d : kApis) {
    if (key == d.key)
      return &d;
  }
  return nullptr;
}

std::vector<RtMidi::Api> UsableApis() {
  std::vector<RtMidi::Api> compiled;
  RtMidi::getCompiledApi(compiled);
  std::vector<RtMidi::Api> usable;
  for (const ApiDescriptor& d : kApis) {
    if (std::find(compiled.begin(), compiled.end(), d.api) != compiled.end())
      usable.push_back(d.api);
  }
  return usable;
}

std::vector<ApiState> ProbeApis() {
  std::vector<ApiState> states;
  for (RtMidi::Api api : UsableApis())
    states.push_back({Describe(api).name, Describe(api).whyNot()});
  return states;
}

}  // namespace korvane::rtmidi_backend
