// A MIDI system with no devices of its own whose every call answers a fixed
// result. With errors it stands in for MIDI where work must never reach it
// (the file check of korvane-flash, tests of the load and the check); with
// success it is the base of fakes that override only the calls they watch.
#pragma once

#include "midi/midi_services.h"

namespace korvane {

class FixedResultMidiServices : public MidiServices {
 public:
  // deviceResult answers calls that name a device, handleResult calls on a handle.
  FixedResultMidiServices(MMRESULT deviceResult, MMRESULT handleResult)
      : device_(deviceResult), handle_(handleResult) {}

  UINT midiInGetNumDevs() override { return 0; }
  UINT midiOutGetNumDevs() override { return 0; }
  MMRESULT midiInGetDevCapsA(UINT_PTR, MIDIINCAPSA*, UINT) override { return device_; }
  MMRESULT midiOutGetDevCapsA(UINT_PTR, MIDIOUTCAPSA*, UINT) override { return device_; }
  MMRESULT midiInOpen(HMIDIIN*, UINT, DWORD_PTR, DWORD_PTR, DWORD) override { return device_; }
  MMRESULT midiOutOpen(HMIDIOUT*, UINT, DWORD_PTR, DWORD_PTR, DWORD) override { return device_; }
  MMRESULT midiInClose(HMIDIIN) override { return handle_; }
  MMRESULT midiOutClose(HMIDIOUT) override { return handle_; }
  MMRESULT midiInStart(HMIDIIN) override { return handle_; }
  MMRESULT midiInStop(HMIDIIN) override { return handle_; }
  MMRESULT midiInReset(HMIDIIN) override { return handle_; }
  MMRESULT midiOutReset(HMIDIOUT) override { return handle_; }
  MMRESULT midiInPrepareHeader(HMIDIIN, MIDIHDR*, UINT) override { return handle_; }
  MMRESULT midiInUnprepareHeader(HMIDIIN, MIDIHDR*, UINT) override { return handle_; }
  MMRESULT midiInAddBuffer(HMIDIIN, MIDIHDR*, UINT) override { return handle_; }
  MMRESULT midiOutPrepareHeader(HMIDIOUT, MIDIHDR*, UINT) override { return handle_; }
  MMRESULT midiOutUnprepareHeader(HMIDIOUT, MIDIHDR*, UINT) override { return handle_; }
  MMRESULT midiOutLongMsg(HMIDIOUT, MIDIHDR*, UINT) override { return handle_; }

 private:
  MMRESULT device_;
  MMRESULT handle_;
};

// No device at all: every open is a bad device number, every handle invalid.
class NoMidiServices final : public FixedResultMidiServices {
 public:
  NoMidiServices() : FixedResultMidiServices(MMSYSERR_BADDEVICEID, MMSYSERR_INVALHANDLE) {}
};

}  // namespace korvane
