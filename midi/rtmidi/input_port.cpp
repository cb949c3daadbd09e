#include "midi/rtmidi/input_port.h"

#include "midi/header_rules.h"
#include "midi/rtmidi/api_descriptor.h"
#include "midi/rtmidi/open_port.h"

namespace korvane::rtmidi_backend {

InputPort::~InputPort() {
  // RtMidi's thread is stopped before the queue and the slot go away.
  midi_.reset();
}

MMRESULT InputPort::Open(const DeviceEntry& entry, JackClient& jack) {
  if (Describe(entry.api).ownClient) {
    jack_ = &jack;
    return jack.Open(entry.portName, shared_from_this(), jackPort_);
  }
  return OpenPort(entry, "in", midi_, errors_, [this](RtMidiIn& midi) {
    midi.ignoreTypes(false, true, true);
    midi.setCallback(&InputPort::OnMessage, this);
  });
}

MMRESULT InputPort::Start() {
  std::unique_lock lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  if (!live_ && jackPort_) {
    // What is sent to us once this returns must arrive. Waited for outside
    // the lock, which the reader thread takes.
    lock.unlock();
    jack_->AwaitLive(*jackPort_);
    lock.lock();
    if (closed_)
      return MMSYSERR_INVALHANDLE;
  }
  live_ = true;
  if (!started_)
    startTime_ = std::chrono::steady_clock::now();
  started_ = true;
  return MMSYSERR_NOERROR;
}

MMRESULT InputPort::Stop() {
  std::lock_guard lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  started_ = false;
  return MMSYSERR_NOERROR;
}

MMRESULT InputPort::Reset() {
  MIDIHDR* returned = nullptr;
  {
    std::unique_lock lock(mutex_);
    if (closed_)
      return MMSYSERR_INVALHANDLE;
    WaitUntilIdle(lock);
    started_ = false;
    returned = queue_.TakeAll();
    // A close on another thread waits for these callbacks too.
    ++returning_;
    returningThread_ = std::this_thread::get_id();
  }
  HandBack(returned, [this](MIDIHDR& header) {
    Notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(&header), 0);
  });
  {
    std::lock_guard lock(mutex_);
    --returning_;
  }
  idle_.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT InputPort::Prepare(MIDIHDR& header) {
  std::lock_guard lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  return PrepareHeader(header);
}

MMRESULT InputPort::Unprepare(MIDIHDR& header) {
  std::lock_guard lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  return UnprepareHeader(header);
}

MMRESULT InputPort::AddBuffer(MIDIHDR& header) {
  std::lock_guard lock(mutex_);
  return closed_ ? MMSYSERR_INVALHANDLE : queue_.Add(header);
}

MMRESULT InputPort::BeginClose() {
  std::lock_guard lock(mutex_);
  if (closed_)
    return MMSYSERR_INVALHANDLE;
  if (!queue_.Empty())
    return MIDIERR_STILLPLAYING;
  closed_ = true;
  started_ = false;
  return MMSYSERR_NOERROR;
}

void InputPort::CloseAndRelease(PortTeardown& teardown) {
  {
    std::unique_lock lock(mutex_);
    WaitUntilIdle(lock);
  }
  // From here the driver's thread finds the port closed and calls back no
  // more, so the end may outlive this call.
  teardown.Run([self = shared_from_this()] { EndPort(self->jack_, self->jackPort_, self->midi_); },
               kCloseBound);
  Notify(MIM_CLOSE, 0, 0);
}

void InputPort::Notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) noexcept {
  if (callback_ == nullptr)
    return;
  try {
    callback_(handle_, message, instance_, param1, param2);
  } catch (...) {
    // A callback must not throw; if it does, the driver's thread survives it.
  }
}

void InputPort::OnMessage(double, std::vector<unsigned char>* message, void* self) noexcept {
  if (message == nullptr || self == nullptr)
    return;
  static_cast<InputPort*>(self)->Deliver(message->data(), message->size());
}

void InputPort::Receive(const unsigned char* data, std::size_t size) noexcept {
  Deliver(data, size);
}

void InputPort::Deliver(const unsigned char* data, std::size_t size) noexcept {
  // Only SysEx fills a header; short messages have no place in one.
  if (size == 0 || data[0] != 0xF0)
    return;
  MIDIHDR* header = nullptr;
  DWORD_PTR stamp = 0;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || !started_)
      return;
    header = queue_.Fill(data, size);
    if (header == nullptr)
      return;  // nowhere to put it: dropped
    stamp = static_cast<DWORD_PTR>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - startTime_)
                                       .count());
    delivering_ = true;
    deliveringThread_ = std::this_thread::get_id();
  }
  Notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), stamp);
  {
    std::lock_guard lock(mutex_);
    delivering_ = false;
  }
  idle_.notify_all();
}

void InputPort::WaitUntilIdle(std::unique_lock<std::mutex>& lock) {
  const auto self = std::this_thread::get_id();
  idle_.wait(lock, [&] {
    return (!delivering_ || deliveringThread_ == self) &&
           (returning_ == 0 || returningThread_ == self);
  });
}

}  // namespace korvane::rtmidi_backend
