#include "midi/platform_midi.h"

#include "midi/rtmidi/api_probe.h"
#include "midi/rtmidi/rtmidi_services.h"

namespace korvane {

std::unique_ptr<MidiServices> MakePlatformMidiServices() {
  return std::make_unique<RtMidiServices>();
}

std::string SystemPortName(MidiServices& services, bool input, UINT id) {
  auto* rtmidi = dynamic_cast<RtMidiServices*>(&services);
  return rtmidi ? rtmidi->SystemName(input, id) : std::string();
}

std::vector<MidiSystemState> DescribeMidiSystems() {
  std::vector<MidiSystemState> systems;
  for (rtmidi_backend::ApiState& api : rtmidi_backend::ProbeApis())
    systems.push_back({std::move(api.name), std::move(api.whyNot)});
  return systems;
}

}  // namespace korvane
