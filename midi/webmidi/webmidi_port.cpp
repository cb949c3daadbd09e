#include "midi/webmidi/webmidi_port.h"

#include "midi/clock.h"
#include "midi/header_rules.h"

namespace korvane::webmidi {

MMRESULT WebMidiPort::Start() {
  std::lock_guard lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  if (!started_)
    startMs_ = timeGetTime();
  started_ = true;
  return MMSYSERR_NOERROR;
}

MMRESULT WebMidiPort::Stop() {
  std::lock_guard lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  started_ = false;
  return MMSYSERR_NOERROR;
}

MMRESULT WebMidiPort::Reset() {
  MIDIHDR* returned = nullptr;
  {
    std::unique_lock lock(mutex_);
    if (closed_)
      return MMSYSERR_INVALHANDLE;
    idle_.wait(lock, [&] { return notifying_ == 0; });
    started_ = false;
    returned = queue_.TakeAll();
    ++notifying_;
  }
  HandBack(returned, [this](MIDIHDR& header) {
    Notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(&header), 0);
  });
  {
    std::lock_guard lock(mutex_);
    --notifying_;
  }
  idle_.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT WebMidiPort::Prepare(MIDIHDR& header) {
  std::lock_guard lock(mutex_);
  return closed_ ? MMSYSERR_INVALHANDLE : PrepareHeader(header);
}

MMRESULT WebMidiPort::Unprepare(MIDIHDR& header) {
  std::lock_guard lock(mutex_);
  return closed_ ? MMSYSERR_INVALHANDLE : UnprepareHeader(header);
}

MMRESULT WebMidiPort::AddBuffer(MIDIHDR& header) {
  std::lock_guard lock(mutex_);
  return closed_ ? MMSYSERR_INVALHANDLE : queue_.Add(header);
}

MMRESULT WebMidiPort::BeginClose() {
  std::unique_lock lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  if (!queue_.Empty())
    return MIDIERR_STILLPLAYING;
  closed_ = true;
  started_ = false;
  idle_.wait(lock, [&] { return notifying_ == 0; });
  return MMSYSERR_NOERROR;
}

void WebMidiPort::Deliver(const std::uint8_t* data, std::size_t length) noexcept {
  // Only SysEx fills a header; short messages have no place in one.
  if (length == 0 || data[0] != 0xF0)
    return;
  MIDIHDR* header = nullptr;
  DWORD_PTR stamp = 0;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || !started_)
      return;
    header = queue_.Fill(data, length);
    if (header == nullptr)
      return;  // nowhere to put it: dropped
    stamp = timeGetTime() - startMs_;
    ++notifying_;
  }
  Notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), stamp);
  {
    std::lock_guard lock(mutex_);
    --notifying_;
  }
  idle_.notify_all();
}

void WebMidiPort::Sent(MIDIHDR& header) noexcept {
  MarkSent(header);
  Notify(MOM_DONE, reinterpret_cast<DWORD_PTR>(&header), 0);
}

void WebMidiPort::Notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) noexcept {
  if (callback_ == 0)
    return;
  try {
    if (input_) {
      reinterpret_cast<MidiInCallback>(callback_)(reinterpret_cast<HMIDIIN>(handle_), message,
                                                  instance_, param1, param2);
    } else {
      reinterpret_cast<MidiOutCallback>(callback_)(reinterpret_cast<HMIDIOUT>(handle_), message,
                                                   instance_, param1, param2);
    }
  } catch (...) {
    // A callback must not throw; if it does, the page's thread survives it.
  }
}

}  // namespace korvane::webmidi
