// The MIDI seam: every WinMM operation that the port set, the discovery and the
// transfer call, under WinMM's names and with WinMM's contract. The engine
// touches MIDI through nothing else.
#pragma once

#include <cstddef>
#include <limits>

#include "midi/winmm.h"

namespace korvane {

class MidiServices {
 public:
  virtual ~MidiServices() = default;

  virtual UINT midiInGetNumDevs() = 0;
  virtual UINT midiOutGetNumDevs() = 0;
  virtual MMRESULT midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps, UINT capsSize) = 0;
  virtual MMRESULT midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps, UINT capsSize) = 0;

  // Open calls back MIM_OPEN/MOM_OPEN before it returns; close calls back
  // MIM_CLOSE/MOM_CLOSE. dwCallback is a MidiInCallback or MidiOutCallback.
  virtual MMRESULT midiInOpen(HMIDIIN* handle, UINT deviceId, DWORD_PTR callback,
                              DWORD_PTR instance, DWORD flags) = 0;
  virtual MMRESULT midiOutOpen(HMIDIOUT* handle, UINT deviceId, DWORD_PTR callback,
                               DWORD_PTR instance, DWORD flags) = 0;
  virtual MMRESULT midiInClose(HMIDIIN handle) = 0;
  virtual MMRESULT midiOutClose(HMIDIOUT handle) = 0;

  virtual MMRESULT midiInStart(HMIDIIN handle) = 0;
  virtual MMRESULT midiInStop(HMIDIIN handle) = 0;
  // Reset hands every queued input header back through MIM_LONGDATA.
  virtual MMRESULT midiInReset(HMIDIIN handle) = 0;
  virtual MMRESULT midiOutReset(HMIDIOUT handle) = 0;

  virtual MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) = 0;
  virtual MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) = 0;
  virtual MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT headerSize) = 0;

  virtual MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) = 0;
  virtual MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) = 0;
  // Sends the whole long message and reports MOM_DONE.
  virtual MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) = 0;

  // Not WinMM's: the longest long message the open output carries whole, so
  // that an update that could never arrive is refused before it begins.
  static constexpr std::size_t kNoKnownLimit = std::numeric_limits<std::size_t>::max();
  virtual std::size_t LongestMessage(HMIDIOUT /*handle*/) { return kNoKnownLimit; }
};

}  // namespace korvane
