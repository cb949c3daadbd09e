// MidiServices on Windows: every operation goes straight to the platform's
// WinMM, with its own structures, flags, callbacks and result codes. The
// driver calls the engine's MidiInProc/MidiOutProc itself. An open also
// claims the port (port_claim.h), so a driver that lets two programs hold it
// still gives it to one updater only.
#pragma once

#include <map>
#include <mutex>

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
  // WinMM takes a long message of up to 64 KiB.
  std::size_t LongestMessage(HMIDIOUT) override { return 65536; }

 private:
  bool timerPeriodSet_ = false;
  std::mutex claimsMutex_;
  std::map<HMIDIIN, winmm_backend::PortClaim> inClaims_;
  std::map<HMIDIOUT, winmm_backend::PortClaim> outClaims_;
};

}  // namespace korvane
