// MidiServices on Windows: every operation goes straight to the platform's
// WinMM, with its own structures, flags, callbacks and result codes. The
// driver calls the engine's MidiInProc/MidiOutProc itself. An open also
// claims the port (port_claim.h), so a driver that lets two programs hold it
// still gives it to one updater only.
#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "midi/midi_services.h"
#include "midi/winmm/port_claim.h"

namespace korvane {

class NativeWinmmServices final : public MidiServices {
 public:
  // Asks for a 1 ms system timer for as long as the services live, so that the
  // transfer's 1 ms pacing sleeps are not stretched to the default tick.
  NativeWinmmServices();
  ~NativeWinmmServices() override;
  NativeWinmmServices(const NativeWinmmServices&) = delete;
  NativeWinmmServices& operator=(const NativeWinmmServices&) = delete;

  UINT midiInGetNumDevs() override;
  UINT midiOutGetNumDevs() override;
  MMRESULT midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps, UINT capsSize) override;
  MMRESULT midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps, UINT capsSize) override;

  MMRESULT midiInOpen(HMIDIIN* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                      DWORD flags) override;
  MMRESULT midiOutOpen(HMIDIOUT* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                       DWORD flags) override;
  // Refused while a header prepared on the input is still queued.
  MMRESULT midiInClose(HMIDIIN handle) override;
  MMRESULT midiOutClose(HMIDIOUT handle) override;

  MMRESULT midiInStart(HMIDIIN handle) override;
  MMRESULT midiInStop(HMIDIIN handle) override;
  // Stops the input too, whatever the driver's reset does.
  MMRESULT midiInReset(HMIDIIN handle) override;
  MMRESULT midiOutReset(HMIDIOUT handle) override;

  MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT headerSize) override;

  MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) override;
  // A message longer than LongestMessage is refused before the driver sees it.
  MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) override;
  std::size_t LongestMessage(HMIDIOUT) override { return kLongestMessage; }

  // WinMM itself takes 64 KiB in one long message, but the driver hands it on
  // to a port that may hold less, and no driver says how much: under Wine's
  // ALSA driver a kernel MIDI port (a USB interface's, VirMIDI) passes 4096
  // bytes and drops the rest without an error. 4096 bytes is what every path
  // we know carries whole, and many times a firmware message (a few hundred
  // bytes).
  static constexpr std::size_t kLongestMessage = 4096;

 private:
  struct OpenInput {
    winmm_backend::PortClaim claim;
    std::vector<MIDIHDR*> prepared;
  };

  bool timerPeriodSet_ = false;
  // Guards the tables below; never taken on the driver's thread.
  std::mutex mutex_;
  std::map<HMIDIIN, OpenInput> ins_;
  std::map<HMIDIOUT, winmm_backend::PortClaim> outClaims_;
};

}  // namespace korvane
