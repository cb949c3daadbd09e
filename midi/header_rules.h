// WinMM's rules for a long-message header, in one place for every MIDI
// system we emulate (the RtMidi back-end, the virtual MIDI system): what
// prepare, unprepare, queueing an input buffer and sending a long message
// require of the header, and how its flags change.
//
// The flags may change on a driver's thread while the header is queued
// (MHDR_DONE set, MHDR_INQUEUE cleared when it hands the buffer back): the
// driver stores them, and whoever looks at a header that may still be queued
// loads them, through LoadHeaderFlags and StoreHeaderFlags. One word, never
// torn, and the buffer's bytes written before the store are seen after the
// load.
#pragma once

#include <atomic>

#include "midi/winmm.h"

namespace korvane {

inline DWORD LoadHeaderFlags(MIDIHDR& header) {
  return std::atomic_ref<DWORD>(header.dwFlags).load(std::memory_order_acquire);
}

inline void StoreHeaderFlags(MIDIHDR& header, DWORD flags) {
  std::atomic_ref<DWORD>(header.dwFlags).store(flags, std::memory_order_release);
}

// A header given with the size of WinMM's MIDIHDR.
inline MMRESULT CheckHeaderArgument(const MIDIHDR* header, UINT headerSize) {
  return header != nullptr && headerSize >= sizeof(MIDIHDR) ? MMSYSERR_NOERROR
                                                            : MMSYSERR_INVALPARAM;
}

inline MMRESULT PrepareHeader(MIDIHDR& header) {
  if (header.lpData == nullptr)
    return MMSYSERR_INVALPARAM;
  header.dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

inline MMRESULT UnprepareHeader(MIDIHDR& header) {
  if (header.dwFlags & MHDR_INQUEUE)
    return MIDIERR_STILLPLAYING;
  header.dwFlags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

// What midiInAddBuffer and midiOutLongMsg require: prepared, not in a queue,
// with a buffer.
inline MMRESULT CheckReadyToQueue(const MIDIHDR& header) {
  if (!(header.dwFlags & MHDR_PREPARED))
    return MIDIERR_UNPREPARED;
  if (header.dwFlags & MHDR_INQUEUE)
    return MIDIERR_STILLPLAYING;
  if (header.lpData == nullptr || header.dwBufferLength == 0)
    return MMSYSERR_INVALPARAM;
  return MMSYSERR_NOERROR;
}

// Handed to the driver: in its queue, not done. Stored, as a callback may
// queue a buffer again on the driver's thread while the worker watches it.
inline void MarkQueued(MIDIHDR& header) {
  StoreHeaderFlags(header, (header.dwFlags | MHDR_INQUEUE) & ~MHDR_DONE);
}

// A long message sent whole: done, out of any queue.
inline void MarkSent(MIDIHDR& header) {
  StoreHeaderFlags(header, (header.dwFlags | MHDR_DONE) & ~MHDR_INQUEUE);
}

// Handed back by the driver's thread, with bytesRecorded bytes in it.
inline void MarkReturned(MIDIHDR& header, DWORD bytesRecorded) {
  header.dwBytesRecorded = bytesRecorded;
  StoreHeaderFlags(header, (header.dwFlags | MHDR_DONE) & ~MHDR_INQUEUE);
}

}  // namespace korvane
