// A MIDI system without devices: for work that must never start a MIDI client
// (the file check of korvane-flash, and tests of the load and the check).
#pragma once

#include "midi/midi_services.h"

namespace korvane {

class NoMidiServices final : public MidiServices {
 public:
  UINT midiInGetNumDevs() override { return 0; }
  UINT midiOutGetNumDevs() override { return 0; }
  MMRESULT midiInGetDevCapsA(UINT_PTR, MIDIINCAPSA*, UINT) override { return MMSYSERR_BADDEVICEID; }
  MMRESULT midiOutGetDevCapsA(UINT_PTR, MIDIOUTCAPSA*, UINT) override {
    return MMSYSERR_BADDEVICEID;
  }
  MMRESULT midiInOpen(HMIDIIN*, UINT, DWORD_PTR, DWORD_PTR, DWORD) override {
    return MMSYSERR_BADDEVICEID;
  }
  MMRESULT midiOutOpen(HMIDIOUT*, UINT, DWORD_PTR, DWORD_PTR, DWORD) override {
    return MMSYSERR_BADDEVICEID;
  }
  MMRESULT midiInClose(HMIDIIN) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT midiOutClose(HMIDIOUT) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT midiInStart(HMIDIIN) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT midiInStop(HMIDIIN) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT midiInReset(HMIDIIN) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT midiOutReset(HMIDIOUT) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT midiInPrepareHeader(HMIDIIN, MIDIHDR*, UINT) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT midiInUnprepareHeader(HMIDIIN, MIDIHDR*, UINT) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT midiInAddBuffer(HMIDIIN, MIDIHDR*, UINT) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT midiOutPrepareHeader(HMIDIOUT, MIDIHDR*, UINT) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT midiOutUnprepareHeader(HMIDIOUT, MIDIHDR*, UINT) override {
    return MMSYSERR_INVALHANDLE;
  }
  MMRESULT midiOutLongMsg(HMIDIOUT, MIDIHDR*, UINT) override { return MMSYSERR_INVALHANDLE; }
};

}  // namespace korvane
