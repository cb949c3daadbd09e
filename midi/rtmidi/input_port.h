// One open input: the RtMidi input, the queue of headers waiting for SysEx and
// the WinMM-style callback.
//
// Locking: mutex_ guards the queue, the started/closed flags and the flags of
// queued headers. It is never held while the user's callback runs, so the
// callback may queue a header again from inside MIM_LONGDATA. The queue is
// linked through the headers' own lpNext, as WinMM does, so queueing never
// allocates.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <rtmidi/RtMidi.h>

#include "midi/rtmidi/device_list.h"
#include "midi/rtmidi/error_slot.h"
#include "midi/winmm.h"

namespace korvane::rtmidi_backend {

class InputPort {
 public:
  InputPort(HMIDIIN handle, MidiInCallback callback, DWORD_PTR instance)
      : handle_(handle), callback_(callback), instance_(instance) {}
  ~InputPort();
  InputPort(const InputPort&) = delete;
  InputPort& operator=(const InputPort&) = delete;

  // Opens the port the entry names: MMSYSERR_NOERROR, MMSYSERR_NODRIVER when
  // the API will not start, MIDIERR_NODEVICE when the port is gone, or
  // MMSYSERR_ALLOCATED when it is there but refuses us.
  MMRESULT Open(const DeviceEntry& entry);

  MMRESULT Start();
  MMRESULT Stop();
  MMRESULT Reset();
  MMRESULT Prepare(MIDIHDR& header);
  MMRESULT Unprepare(MIDIHDR& header);
  MMRESULT AddBuffer(MIDIHDR& header);

  // Refuses while a header is queued; afterwards nothing calls back but the
  // MIM_CLOSE that CloseAndRelease sends.
  MMRESULT BeginClose();
  // Stops RtMidi (no RtMidi callback runs after this), then sends MIM_CLOSE.
  void CloseAndRelease();

  void Notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) noexcept;

 private:
  static void OnMessage(double, std::vector<unsigned char>* message, void* self) noexcept;
  void Deliver(const std::vector<unsigned char>& message) noexcept;
  // Waits, lock held, until no header is on its way to the callback, unless
  // the caller is that callback itself.
  void WaitUntilIdle(std::unique_lock<std::mutex>& lock);

  const HMIDIIN handle_;
  const MidiInCallback callback_;
  const DWORD_PTR instance_;

  ErrorSlot errors_;  // before midi_: RtMidi reports into it until destroyed
  std::unique_ptr<RtMidiIn> midi_;

  std::mutex mutex_;
  std::condition_variable idle_;
  MIDIHDR* head_ = nullptr;
  MIDIHDR* tail_ = nullptr;
  bool started_ = false;
  bool closed_ = false;
  bool delivering_ = false;
  std::thread::id deliveringThread_;
  std::chrono::steady_clock::time_point startTime_;
};

}  // namespace korvane::rtmidi_backend
