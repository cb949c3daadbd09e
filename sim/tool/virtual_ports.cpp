#include "sim/tool/virtual_ports.h"

#include <algorithm>

#include "midi/rtmidi/api_descriptor.h"
#include "midi/rtmidi/api_probe.h"
#include "sim/tool/jack_ports.h"
#include "sim/tool/rtmidi_ports.h"

namespace korvane {

const Bytes& ProbeMessage() {
  static const Bytes probe = {0xF0, 0x7D, 'K', 'S', 'I', 'M', 0xF7};
  return probe;
}

bool IsProbeMessage(std::span<const std::uint8_t> message) {
  return std::equal(message.begin(), message.end(), ProbeMessage().begin(), ProbeMessage().end());
}

namespace {

// The systems --api names; by default those where korvane-sim's ports are
// clients of its own (JACK) come first, then the others in their order.
std::vector<const rtmidi_backend::ApiDescriptor*> Candidates(SimApi api) {
  const char* key = api == SimApi::kJack   ? "jack"
                    : api == SimApi::kAlsa ? "alsa"
                    : api == SimApi::kCore ? "core"
                                           : nullptr;
  if (key != nullptr)
    return {rtmidi_backend::FindDescriptor(key)};
  std::vector<const rtmidi_backend::ApiDescriptor*> all;
  for (bool own : {true, false}) {
    for (const rtmidi_backend::ApiDescriptor& d : rtmidi_backend::ApiDescriptors()) {
      if (d.simOwnClients == own)
        all.push_back(&d);
    }
  }
  return all;
}

}  // namespace

std::variant<std::unique_ptr<VirtualPorts>, std::string> VirtualPorts::Open(SimApi api,
                                                                            const std::string& name,
                                                                            Callbacks callbacks) {
  // ALSA's library prints when there is no sequencer; trying is not an error.
  rtmidi_backend::SilenceAlsa();
  std::string why;
  const std::vector<RtMidi::Api> usable = rtmidi_backend::UsableApis();
  for (const rtmidi_backend::ApiDescriptor* candidate : Candidates(api)) {
    const std::string apiText = candidate->name;
    if (candidate->simOwnClients) {
      JackPorts::Opened opened = JackPorts::Open(name, callbacks);
      if (opened.ports)
        return std::move(opened.ports);
      if (opened.taken)
        return opened.why;
      why += "\n  " + apiText + ": " + opened.why;
      continue;
    }
    if (std::find(usable.begin(), usable.end(), candidate->api) == usable.end()) {
      why += "\n  " + apiText + ": not built into this RtMidi";
      continue;
    }
    // A client of the same name would make the system rename ours, and an
    // updater could not tell the two controllers apart.
    if (std::string taken = RtMidiPorts::TakenName(candidate->api, name); !taken.empty())
      return taken;
    auto opened = RtMidiPorts::Open(candidate->api, name, callbacks);
    if (auto* ports = std::get_if<std::unique_ptr<VirtualPorts>>(&opened))
      return std::move(*ports);
    why += "\n  " + std::get<std::string>(opened);
  }
  return "no MIDI system could carry the ports:" + why;
}

}  // namespace korvane
