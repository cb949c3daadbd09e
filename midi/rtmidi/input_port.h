// One open input: the port (a port of our JACK client, or an RtMidi input on
// the other systems), the queue of headers waiting for SysEx and the
// WinMM-style callback.
//
// Locking: mutex_ guards the queue, the started/closed flags, the flags of
// queued headers and the count of callbacks under way. It is never held while
// the user's callback runs, so the callback may queue a header again from
// inside MIM_LONGDATA. The queue is linked through the headers' own lpNext, as
// WinMM does, so queueing never allocates.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <rtmidi/RtMidi.h>

#include "midi/header_queue.h"
#include "midi/rtmidi/device_list.h"
#include "midi/rtmidi/error_slot.h"
#include "midi/rtmidi/jack_client.h"
#include "midi/rtmidi/port_teardown.h"
#include "midi/winmm.h"

namespace korvane::rtmidi_backend {

class InputPort final : public JackReceiver, public std::enable_shared_from_this<InputPort> {
 public:
  InputPort(HMIDIIN handle, MidiInCallback callback, DWORD_PTR instance)
      : handle_(handle), callback_(callback), instance_(instance) {}
  ~InputPort();
  InputPort(const InputPort&) = delete;
  InputPort& operator=(const InputPort&) = delete;

  // Opens the port the entry names: MMSYSERR_NOERROR, MMSYSERR_NODRIVER when
  // the API will not start, MIDIERR_NODEVICE when the port is gone, or
  // MMSYSERR_ALLOCATED when it is there but refuses us. JACK's ports are
  // jack's; the port must be held by a shared_ptr.
  MMRESULT Open(const DeviceEntry& entry, JackClient& jack);

  MMRESULT Start();
  MMRESULT Stop();
  MMRESULT Reset();
  MMRESULT Prepare(MIDIHDR& header);
  MMRESULT Unprepare(MIDIHDR& header);
  MMRESULT AddBuffer(MIDIHDR& header);

  // Refuses while a header is queued; afterwards nothing calls back but the
  // MIM_CLOSE that CloseAndRelease sends.
  MMRESULT BeginClose();
  // Waits until no callback is under way, hands the end of the port to
  // teardown (waiting for it up to its bound), then sends MIM_CLOSE. Called on
  // a port held by a shared_ptr, which the end keeps until it is done.
  void CloseAndRelease(PortTeardown& teardown);

  void Notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) noexcept;

  // What arrived on a JACK port, on the client's reader thread.
  void Receive(const unsigned char* data, std::size_t size) noexcept override;

 private:
  static void OnMessage(double, std::vector<unsigned char>* message, void* self) noexcept;
  void Deliver(const unsigned char* data, std::size_t size) noexcept;
  // Waits, lock held, until no header is on its way to the callback, from
  // RtMidi's thread or from a reset, unless the caller is that callback itself.
  void WaitUntilIdle(std::unique_lock<std::mutex>& lock);

  const HMIDIIN handle_;
  const MidiInCallback callback_;
  const DWORD_PTR instance_;

  ErrorSlot errors_;  // before midi_: RtMidi reports into it until destroyed
  std::unique_ptr<RtMidiIn> midi_;
  JackClient* jack_ = nullptr;
  std::shared_ptr<JackPort> jackPort_;

  std::mutex mutex_;
  std::condition_variable idle_;
  HeaderQueue queue_;
  bool started_ = false;
  bool live_ = false;  // started once: the connection carries data
  bool closed_ = false;
  bool delivering_ = false;
  std::thread::id deliveringThread_;
  int returning_ = 0;  // resets handing headers back
  std::thread::id returningThread_;
  std::chrono::steady_clock::time_point startTime_;
};

}  // namespace korvane::rtmidi_backend
