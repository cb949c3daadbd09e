// MidiServices over the browser's Web MIDI, for the page in WebAssembly.
//
// Web MIDI exists only on the browser's main thread, and the engine calls
// from its own threads: each call that needs the browser is proxied to the
// main thread (webmidi.js), and an open, which waits for the port's lock and
// the port itself, waits on a slot the main thread fills. Received SysEx
// arrives on the main thread, which fills the queued header and calls
// MIM_LONGDATA there, as a driver's thread would.
//
// Device numbers index the connected ports as the last device count listed
// them, so numbers hold from a count to the opens and capability queries
// that follow it. A port another tab or window of the page holds (its Web
// Lock is taken) opens as MMSYSERR_ALLOCATED.
#pragma once

#include <memory>

#include "midi/midi_services.h"

namespace korvane {

class WebMidiServices final : public MidiServices {
 public:
  WebMidiServices();
  ~WebMidiServices() override;
  WebMidiServices(const WebMidiServices&) = delete;
  WebMidiServices& operator=(const WebMidiServices&) = delete;

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

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace korvane
