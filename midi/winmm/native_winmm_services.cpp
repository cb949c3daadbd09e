#include "midi/winmm/native_winmm_services.h"

#include <utility>

namespace korvane {

namespace {
constexpr UINT kTimerPeriodMs = 1;
}  // namespace

// The member functions carry WinMM's names, so each call below names the
// global function explicitly.

NativeWinmmServices::NativeWinmmServices()
    : timerPeriodSet_(::timeBeginPeriod(kTimerPeriodMs) == TIMERR_NOERROR) {}

NativeWinmmServices::~NativeWinmmServices() {
  if (timerPeriodSet_)
    ::timeEndPeriod(kTimerPeriodMs);
}

UINT NativeWinmmServices::midiInGetNumDevs() {
  return ::midiInGetNumDevs();
}

UINT NativeWinmmServices::midiOutGetNumDevs() {
  return ::midiOutGetNumDevs();
}

MMRESULT NativeWinmmServices::midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps,
                                                UINT capsSize) {
  return ::midiInGetDevCapsA(deviceId, caps, capsSize);
}

MMRESULT NativeWinmmServices::midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps,
                                                 UINT capsSize) {
  return ::midiOutGetDevCapsA(deviceId, caps, capsSize);
}

MMRESULT NativeWinmmServices::midiInOpen(HMIDIIN* handle, UINT deviceId, DWORD_PTR callback,
                                         DWORD_PTR instance, DWORD flags) {
  MIDIINCAPSA caps{};
  if (const MMRESULT result = ::midiInGetDevCapsA(deviceId, &caps, sizeof caps);
      result != MMSYSERR_NOERROR)
    return result;
  winmm_backend::PortClaim claim;
  if (const MMRESULT result = winmm_backend::ClaimForOpen(claim, true, caps.szPname);
      result != MMSYSERR_NOERROR)
    return result;
  const MMRESULT result = ::midiInOpen(handle, deviceId, callback, instance, flags);
  if (result == MMSYSERR_NOERROR) {
    std::lock_guard lock(claimsMutex_);
    inClaims_[*handle] = std::move(claim);
  }
  return result;
}

MMRESULT NativeWinmmServices::midiOutOpen(HMIDIOUT* handle, UINT deviceId, DWORD_PTR callback,
                                          DWORD_PTR instance, DWORD flags) {
  MIDIOUTCAPSA caps{};
  if (const MMRESULT result = ::midiOutGetDevCapsA(deviceId, &caps, sizeof caps);
      result != MMSYSERR_NOERROR)
    return result;
  winmm_backend::PortClaim claim;
  if (const MMRESULT result = winmm_backend::ClaimForOpen(claim, false, caps.szPname);
      result != MMSYSERR_NOERROR)
    return result;
  const MMRESULT result = ::midiOutOpen(handle, deviceId, callback, instance, flags);
  if (result == MMSYSERR_NOERROR) {
    std::lock_guard lock(claimsMutex_);
    outClaims_[*handle] = std::move(claim);
  }
  return result;
}

// A port that did not close stays claimed: it is still open.
MMRESULT NativeWinmmServices::midiInClose(HMIDIIN handle) {
  const MMRESULT result = ::midiInClose(handle);
  if (result == MMSYSERR_NOERROR) {
    std::lock_guard lock(claimsMutex_);
    inClaims_.erase(handle);
  }
  return result;
}

MMRESULT NativeWinmmServices::midiOutClose(HMIDIOUT handle) {
  const MMRESULT result = ::midiOutClose(handle);
  if (result == MMSYSERR_NOERROR) {
    std::lock_guard lock(claimsMutex_);
    outClaims_.erase(handle);
  }
  return result;
}

MMRESULT NativeWinmmServices::midiInStart(HMIDIIN handle) {
  return ::midiInStart(handle);
}

MMRESULT NativeWinmmServices::midiInStop(HMIDIIN handle) {
  return ::midiInStop(handle);
}

MMRESULT NativeWinmmServices::midiInReset(HMIDIIN handle) {
  return ::midiInReset(handle);
}

MMRESULT NativeWinmmServices::midiOutReset(HMIDIOUT handle) {
  return ::midiOutReset(handle);
}

MMRESULT NativeWinmmServices::midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header,
                                                  UINT headerSize) {
  return ::midiInPrepareHeader(handle, header, headerSize);
}

MMRESULT NativeWinmmServices::midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header,
                                                    UINT headerSize) {
  return ::midiInUnprepareHeader(handle, header, headerSize);
}

MMRESULT NativeWinmmServices::midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT headerSize) {
  return ::midiInAddBuffer(handle, header, headerSize);
}

MMRESULT NativeWinmmServices::midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header,
                                                   UINT headerSize) {
  return ::midiOutPrepareHeader(handle, header, headerSize);
}

MMRESULT NativeWinmmServices::midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header,
                                                     UINT headerSize) {
  return ::midiOutUnprepareHeader(handle, header, headerSize);
}

MMRESULT NativeWinmmServices::midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) {
  return ::midiOutLongMsg(handle, header, headerSize);
}

}  // namespace korvane
