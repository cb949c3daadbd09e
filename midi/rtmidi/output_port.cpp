#include "midi/rtmidi/output_port.h"

#include "midi/header_rules.h"
#include "midi/rtmidi/open_port.h"
#include "midi/rtmidi/send_message.h"

namespace korvane::rtmidi_backend {
namespace {

// RtMidi's JACK output goes through a ring buffer of 16384 bytes, of which
// 16383 can be written, and puts a 4-byte length before every message; a
// message that does not fit is dropped without an error. The JACK server's
// own port buffer takes 32720 bytes in one event, so the ring buffer is the
// limit: 16383 - 4.
constexpr std::size_t kJackLongestMessage = 16379;

// ALSA's sequencer carries a SysEx as one event, and what arrives depends on
// the receiver: a program's client takes 5572 bytes (its input pool: 199
// cells of 28 bytes), a kernel MIDI port such as a USB interface's passes at
// most its 4096-byte buffer and cuts the rest. Longer messages are lost or cut
// without an error reaching the sender (RtMidi's time-stamped connection
// hides it), so 4096 bytes is what can be sent honestly.
constexpr std::size_t kAlsaLongestMessage = 4096;

std::size_t LongestMessage(RtMidi::Api api) {
  switch (api) {
    case RtMidi::UNIX_JACK:
      return kJackLongestMessage;
    case RtMidi::LINUX_ALSA:
      return kAlsaLongestMessage;
    default:
      return static_cast<std::size_t>(-1);
  }
}

}  // namespace

MMRESULT OutputPort::Open(const DeviceEntry& entry) {
  api_ = entry.api;
  longest_ = LongestMessage(entry.api);
  return OpenPort(entry, "out", midi_, errors_, [](RtMidiOut&) {});
}

MMRESULT OutputPort::Prepare(MIDIHDR& header) {
  std::lock_guard lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  return PrepareHeader(header);
}

MMRESULT OutputPort::Unprepare(MIDIHDR& header) {
  std::lock_guard lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  return UnprepareHeader(header);
}

MMRESULT OutputPort::LongMsg(MIDIHDR& header) {
  {
    std::lock_guard lock(mutex_);
    if (closed_)
      return MMSYSERR_INVALHANDLE;
    if (const MMRESULT ready = CheckReadyToQueue(header); ready != MMSYSERR_NOERROR)
      return ready;
    if (header.dwBufferLength > longest_)
      return MMSYSERR_INVALPARAM;
    MarkQueued(header);
    bool sent = false;
    try {
      errors_.Clear();
      SendMessage(*midi_, reinterpret_cast<const unsigned char*>(header.lpData),
                  header.dwBufferLength);
      sent = !errors_.Failed();
    } catch (...) {
    }
    if (!sent) {
      header.dwFlags &= ~MHDR_INQUEUE;
      return MIDIERR_NODEVICE;
    }
    MarkSent(header);
    ++notifying_;  // a close on another thread waits for this callback
  }
  Notify(MOM_DONE, reinterpret_cast<DWORD_PTR>(&header), 0);
  {
    std::lock_guard lock(mutex_);
    --notifying_;
  }
  notified_.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT OutputPort::Reset() {
  std::lock_guard lock(mutex_);
  // Sends are done when they return, so nothing is pending to be cut short.
  return closed_ ? MMSYSERR_INVALHANDLE : MMSYSERR_NOERROR;
}

MMRESULT OutputPort::BeginClose() {
  std::lock_guard lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  closed_ = true;
  return MMSYSERR_NOERROR;
}

void OutputPort::CloseAndRelease(PortTeardown& teardown, JackGraph& graph) {
  // Sends happen under mutex_, and BeginClose took it after the last one:
  // nothing of the caller's is in RtMidi's hands any more.
  {
    std::unique_lock lock(mutex_);
    notified_.wait(lock, [&] { return notifying_ == 0; });
  }
  teardown.Run([self = shared_from_this(), &graph] { EndMidi(self->midi_, self->api_, graph); },
               kCloseBound);
  Notify(MOM_CLOSE, 0, 0);
}

void OutputPort::Notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) noexcept {
  if (callback_ == nullptr)
    return;
  try {
    callback_(handle_, message, instance_, param1, param2);
  } catch (...) {
  }
}

}  // namespace korvane::rtmidi_backend
