#include "sim/tool/virtual_ports.h"

#include <algorithm>

#include "midi/rtmidi/api_probe.h"
#include "midi/rtmidi/device_list.h"
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

std::variant<std::unique_ptr<VirtualPorts>, std::string> VirtualPorts::Open(SimApi api,
                                                                            const std::string& name,
                                                                            Callbacks callbacks) {
  // ALSA's library prints when there is no sequencer; trying is not an error.
  rtmidi_backend::SilenceAlsa();
  std::vector<RtMidi::Api> candidates;
  switch (api) {
    case SimApi::kJack:
      candidates = {RtMidi::UNIX_JACK};
      break;
    case SimApi::kAlsa:
      candidates = {RtMidi::LINUX_ALSA};
      break;
    case SimApi::kCore:
      candidates = {RtMidi::MACOSX_CORE};
      break;
    case SimApi::kDefault:
      candidates = {RtMidi::UNIX_JACK, RtMidi::LINUX_ALSA, RtMidi::MACOSX_CORE};
      break;
  }

  std::string why;
  const std::vector<RtMidi::Api> usable = rtmidi_backend::UsableApis();
  for (RtMidi::Api candidate : candidates) {
    const std::string apiText = rtmidi_backend::ApiName(candidate);
    if (candidate == RtMidi::UNIX_JACK) {
      JackPorts::Opened opened = JackPorts::Open(name, callbacks);
      if (opened.ports)
        return std::move(opened.ports);
      if (opened.taken)
        return opened.why;
      why += "\n  JACK: " + opened.why;
      continue;
    }
    if (std::find(usable.begin(), usable.end(), candidate) == usable.end()) {
      why += "\n  " + apiText + ": not built into this RtMidi";
      continue;
    }
    // A client of the same name would make the system rename ours, and an
    // updater could not tell the two controllers apart.
    if (std::string taken = RtMidiPorts::TakenName(candidate, name); !taken.empty())
      return taken;
    auto opened = RtMidiPorts::Open(candidate, name, callbacks);
    if (auto* ports = std::get_if<std::unique_ptr<VirtualPorts>>(&opened))
      return std::move(*ports);
    why += "\n  " + std::get<std::string>(opened);
  }
  return "no MIDI system could carry the ports:" + why;
}

}  // namespace korvane
