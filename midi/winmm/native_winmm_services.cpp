#include "midi/winmm/native_winmm_services.h"

#include <algorithm>
#include <utility>

#include "midi/header_rules.h"

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
    std::lock_guard lock(mutex_);
    ins_[*handle] = OpenInput{std::move(claim), {}};
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
    std::lock_guard lock(mutex_);
    outClaims_[*handle] = std::move(claim);
  }
  return result;
}

// A port that did not close stays claimed: it is still open. Wine's winmm
// frees the handle even when its driver refuses the close for a queued
// header, and the driver keeps the port open and the header queued, out of
// reach: so the refusal is made here, before the driver is asked.
MMRESULT NativeWinmmServices::midiInClose(HMIDIIN handle) {
  {
    std::lock_guard lock(mutex_);
    if (const auto input = ins_.find(handle); input != ins_.end()) {
      for (MIDIHDR* header : input->second.prepared) {
        if (LoadHeaderFlags(*header) & MHDR_INQUEUE)
          return MIDIERR_STILLPLAYING;
      }
    }
  }
  const MMRESULT result = ::midiInClose(handle);
  if (result == MMSYSERR_NOERROR) {
    std::lock_guard lock(mutex_);
    ins_.erase(handle);
  }
  return result;
}

MMRESULT NativeWinmmServices::midiOutClose(HMIDIOUT handle) {
  const MMRESULT result = ::midiOutClose(handle);
  if (result == MMSYSERR_NOERROR) {
    std::lock_guard lock(mutex_);
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

// Windows' reset stops the input; Wine's ALSA driver hands the headers back
// but keeps it running, so a header queued after the reset would be filled.
// Stopping first gives the engine the same port on both.
MMRESULT NativeWinmmServices::midiInReset(HMIDIIN handle) {
  ::midiInStop(handle);
  return ::midiInReset(handle);
}

MMRESULT NativeWinmmServices::midiOutReset(HMIDIOUT handle) {
  return ::midiOutReset(handle);
}

MMRESULT NativeWinmmServices::midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header,
                                                  UINT headerSize) {
  const MMRESULT result = ::midiInPrepareHeader(handle, header, headerSize);
  if (result == MMSYSERR_NOERROR) {
    std::lock_guard lock(mutex_);
    if (const auto input = ins_.find(handle); input != ins_.end()) {
      std::vector<MIDIHDR*>& prepared = input->second.prepared;
      if (std::find(prepared.begin(), prepared.end(), header) == prepared.end())
        prepared.push_back(header);
    }
  }
  return result;
}

MMRESULT NativeWinmmServices::midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header,
                                                    UINT headerSize) {
  const MMRESULT result = ::midiInUnprepareHeader(handle, header, headerSize);
  if (result == MMSYSERR_NOERROR) {
    std::lock_guard lock(mutex_);
    if (const auto input = ins_.find(handle); input != ins_.end())
      std::erase(input->second.prepared, header);
  }
  return result;
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
  // Sent in part it would be worse than not at all: a cut firmware block.
  if (header != nullptr && header->dwBufferLength > kLongestMessage)
    return MMSYSERR_INVALPARAM;
  return ::midiOutLongMsg(handle, header, headerSize);
}

}  // namespace korvane
