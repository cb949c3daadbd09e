#include "midi/rtmidi/output_port.h"

#include "midi/header_rules.h"
#include "midi/rtmidi/api_descriptor.h"
#include "midi/rtmidi/open_port.h"
#include "midi/rtmidi/send_message.h"

namespace korvane::rtmidi_backend {
MMRESULT OutputPort::Open(const DeviceEntry& entry, JackClient& jack) {
  longest_ = Describe(entry.api).longestMessage;
  if (Describe(entry.api).ownClient) {
    jack_ = &jack;
    return jack.Open(entry.portName, nullptr, jackPort_);
  }
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
    const MMRESULT sent =
        Send(reinterpret_cast<const unsigned char*>(header.lpData), header.dwBufferLength);
    if (sent != MMSYSERR_NOERROR) {
      header.dwFlags &= ~MHDR_INQUEUE;
      return sent;
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

MMRESULT OutputPort::Send(const unsigned char* data, std::size_t size) {
  if (jackPort_)
    return jack_->Send(*jackPort_, data, size);
  try {
    errors_.Clear();
    SendMessage(*midi_, data, size);
    if (!errors_.Failed())
      return MMSYSERR_NOERROR;
  } catch (...) {
  }
  return MIDIERR_NODEVICE;
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

void OutputPort::CloseAndRelease(PortTeardown& teardown) {
  // Sends happen under mutex_, and BeginClose took it after the last one:
  // nothing of the caller's is in the port's hands any more.
  {
    std::unique_lock lock(mutex_);
    notified_.wait(lock, [&] { return notifying_ == 0; });
  }
  teardown.Run([self = shared_from_this()] { EndPort(self->jack_, self->jackPort_, self->midi_); },
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
