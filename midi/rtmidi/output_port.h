// One open output: the port (a port of our JACK client, or an RtMidi output on
// the other systems) and the WinMM-style callback. Either takes a whole
// message in one call, so a long message is done when midiOutLongMsg returns
// and MOM_DONE is sent from inside it. A message longer
// than the MIDI system carries is refused with MMSYSERR_INVALPARAM rather than
// lost without a word.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include <rtmidi/RtMidi.h>

#include "midi/rtmidi/device_list.h"
#include "midi/rtmidi/error_slot.h"
#include "midi/rtmidi/jack_client.h"
#include "midi/rtmidi/port_teardown.h"
#include "midi/winmm.h"

namespace korvane::rtmidi_backend {

class OutputPort : public std::enable_shared_from_this<OutputPort> {
 public:
  OutputPort(HMIDIOUT handle, MidiOutCallback callback, DWORD_PTR instance)
      : handle_(handle), callback_(callback), instance_(instance) {}
  OutputPort(const OutputPort&) = delete;
  OutputPort& operator=(const OutputPort&) = delete;

  // Results as InputPort::Open.
  MMRESULT Open(const DeviceEntry& entry, JackClient& jack);

  MMRESULT Prepare(MIDIHDR& header);
  MMRESULT Unprepare(MIDIHDR& header);
  MMRESULT LongMsg(MIDIHDR& header);
  // The longest message LongMsg takes; set once by Open.
  std::size_t Longest() const { return longest_; }
  MMRESULT Reset();
  MMRESULT BeginClose();
  // Waits until no MOM_DONE is under way, hands the end of the port to
  // teardown (waiting for it up to its bound), then sends MOM_CLOSE. Called
  // on a port held by a shared_ptr, which the end keeps until it is done.
  void CloseAndRelease(PortTeardown& teardown);

  void Notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) noexcept;

 private:
  // Called under mutex_.
  MMRESULT Send(const unsigned char* data, std::size_t size);

  const HMIDIOUT handle_;
  const MidiOutCallback callback_;
  const DWORD_PTR instance_;

  ErrorSlot errors_;  // before midi_: RtMidi reports into it until destroyed
  std::unique_ptr<RtMidiOut> midi_;
  JackClient* jack_ = nullptr;
  std::shared_ptr<JackPort> jackPort_;
  // The longest message the MIDI system carries whole; longer ones are refused.
  std::size_t longest_ = 0;

  // Serialises sends (neither port takes two at once) and guards closed_ and
  // notifying_, the MOM_DONE callbacks under way.
  std::mutex mutex_;
  std::condition_variable notified_;
  bool closed_ = false;
  int notifying_ = 0;
};

}  // namespace korvane::rtmidi_backend
