// The real MIDI system on Linux and macOS: WinMM's contract on RtMidi (ALSA,
// CoreMIDI) and on one JACK client of our own for every JACK port
// (jack_client.h).
//
// Device numbers run over the ports of every compiled API that starts (ALSA,
// JACK, CoreMIDI), API by API and then in each API's port order; an API that
// cannot start is left out without a word. The list is taken at construction
// and again by each device count, so numbers hold from a count to the opens
// and capability queries that follow it. Our own ports are never listed.
//
// Callbacks: MIM_OPEN/MOM_OPEN and MIM_CLOSE/MOM_CLOSE run inside the open and
// close calls; MIM_LONGDATA runs on the driver's thread for received SysEx
// (RtMidi's, or our JACK client's reader) and on the caller's thread for the
// headers a reset hands back; MOM_DONE runs inside
// midiOutLongMsg. No callback runs after a close has returned. A callback may
// call back into the services (midiInAddBuffer from MIM_LONGDATA); close must
// not be called from a callback.
#pragma once

#include <memory>
#include <string>

#include "midi/midi_services.h"

namespace korvane {

class RtMidiServices final : public MidiServices {
 public:
  RtMidiServices();
  ~RtMidiServices() override;
  RtMidiServices(const RtMidiServices&) = delete;
  RtMidiServices& operator=(const RtMidiServices&) = delete;

  UINT midiInGetNumDevs() override;
  UINT midiOutGetNumDevs() override;
  MMRESULT midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps, UINT capsSize) override;
  MMRESULT midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps, UINT capsSize) override;

  MMRESULT midiInOpen(HMIDIIN* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                      DWORD flags) override;
  MMRESULT midiOutOpen(HMIDIOUT* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                       DWORD flags) override;
  MMRESULT midiInClose(HMIDIIN handle) override;
  MMRESULT midiOutClose(HMIDIOUT handle) override;

  MMRESULT midiInStart(HMIDIIN handle) override;
  MMRESULT midiInStop(HMIDIIN handle) override;
  MMRESULT midiInReset(HMIDIIN handle) override;
  MMRESULT midiOutReset(HMIDIOUT handle) override;

  MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT headerSize) override;

  MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) override;
  std::size_t LongestMessage(HMIDIOUT handle) override;

  // Not a WinMM call: the MIDI system's own name of a device, which its
  // 31-byte device name stands for, after the system's name ("ALSA: Virtual
  // Raw MIDI 0-0:VirMIDI 0-0 20:0"); empty for a number not in the last count.
  std::string SystemName(bool input, UINT_PTR deviceId);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace korvane
