// Opening one RtMidi port, input or output, with the results midiInOpen and
// midiOutOpen give.
#pragma once

#include <memory>
#include <string>

#include <rtmidi/RtMidi.h>

#include "midi/rtmidi/device_list.h"
#include "midi/rtmidi/error_slot.h"
#include "midi/rtmidi/port_names.h"
#include "midi/winmm.h"

namespace korvane::rtmidi_backend {

// Makes midi on entry's MIDI system, lets prepare set it up before the port
// opens (an input's callback), and connects our port ourPortName to entry's.
// MMSYSERR_NODRIVER when the system cannot start, MIDIERR_NODEVICE when the
// port is gone, MMSYSERR_ALLOCATED when it is there but will not have us.
template <typename Midi, typename Prepare>
MMRESULT OpenPort(const DeviceEntry& entry, const char* ourPortName, std::unique_ptr<Midi>& midi,
                  ErrorSlot& errors, Prepare prepare) {
  if (!ApiCanStart(entry.api))
    return MMSYSERR_NODRIVER;
  try {
    midi = std::make_unique<Midi>(entry.api, std::string(kClientName));
  } catch (...) {
    return MMSYSERR_NODRIVER;
  }
  try {
    errors.Attach(*midi);
    prepare(*midi);
    const int index = FindPort(*midi, errors, entry.portName);
    if (index < 0)
      return MIDIERR_NODEVICE;
    errors.Clear();
    midi->openPort(static_cast<unsigned>(index), ourPortName);
    if (!errors.Failed() && midi->isPortOpen())
      return MMSYSERR_NOERROR;
  } catch (...) {
  }
  const bool stillThere = FindPort(*midi, errors, entry.portName) >= 0;
  return stillThere ? MMSYSERR_ALLOCATED : MIDIERR_NODEVICE;
}

}  // namespace korvane::rtmidi_backend
