#include "update/port_presence.h"

#include <cstring>

#include "midi/midi_services.h"
#include "run/port_record.h"

namespace korvane {
namespace {

template <typename Caps, typename GetCaps>
bool Listed(UINT count, GetCaps getCaps, const char* name) {
  for (UINT id = 0; id < count; ++id) {
    Caps caps{};
    if (getCaps(id, &caps) == MMSYSERR_NOERROR &&
        std::strncmp(caps.szPname, name, MAXPNAMELEN) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool PairStillListed(MidiServices& midi, const PortRecord& input, const PortRecord& output) {
  const bool inputListed = Listed<MIDIINCAPSA>(
      midi.midiInGetNumDevs(),
      [&](UINT id, MIDIINCAPSA* caps) { return midi.midiInGetDevCapsA(id, caps, sizeof *caps); },
      input.inCaps.szPname);
  return inputListed && Listed<MIDIOUTCAPSA>(
                            midi.midiOutGetNumDevs(),
                            [&](UINT id, MIDIOUTCAPSA* caps) {
                              return midi.midiOutGetDevCapsA(id, caps, sizeof *caps);
                            },
                            output.outCaps.szPname);
}

}  // namespace korvane
