#include "midi/webmidi/webmidi_services.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "midi/header_rules.h"
#include "midi/webmidi/webmidi_port.h"

// webmidi.js: run on the browser's main thread, the calling thread waiting.
extern "C" {
int korvane_webmidi_count(int input);
int korvane_webmidi_listed(int input);
void korvane_webmidi_name(int input, int index, char* name, int size);
int korvane_webmidi_open(int input, int index, std::uintptr_t handle, void* slot);
void korvane_webmidi_close(std::uintptr_t handle);
int korvane_webmidi_send(std::uintptr_t handle, const void* data, int length);
}

namespace korvane {

using webmidi::WebMidiPort;

namespace {

// Where the main thread leaves the outcome of an open that waited for a lock
// and a port.
struct OpenSlot {
  std::mutex mutex;
  std::condition_variable done;
  bool filled = false;
  MMRESULT result = MMSYSERR_ERROR;
};

}  // namespace

struct WebMidiServices::Impl {
  std::mutex mutex;
  std::uintptr_t nextHandle = 1;
  std::map<std::uintptr_t, std::shared_ptr<WebMidiPort>> ports;

  std::shared_ptr<WebMidiPort> Find(std::uintptr_t handle, bool input) {
    std::lock_guard lock(mutex);
    auto it = ports.find(handle * 2 + (input ? 1 : 0));
    return it == ports.end() ? nullptr : it->second;
  }

  MMRESULT Open(std::uintptr_t* handle, bool input, UINT deviceId, DWORD_PTR callback,
                DWORD_PTR instance, DWORD flags) {
    if (handle == nullptr)
      return MMSYSERR_INVALPARAM;
    if (flags != CALLBACK_NULL && flags != CALLBACK_FUNCTION)
      return MMSYSERR_INVALFLAG;
    std::uintptr_t id = 0;
    {
      std::lock_guard lock(mutex);
      id = nextHandle++;
    }
    auto port = std::make_shared<WebMidiPort>(id, input, flags == CALLBACK_FUNCTION ? callback : 0,
                                              instance);
    // Published before the browser opens it, so that the first message finds it.
    {
      std::lock_guard lock(mutex);
      ports.emplace(id * 2 + (input ? 1 : 0), port);
    }
    OpenSlot slot;
    MMRESULT result = static_cast<MMRESULT>(
        korvane_webmidi_open(input ? 1 : 0, static_cast<int>(deviceId), id, &slot));
    // A lock asked for with ifAvailable and a port's open both answer at once.
    if (result == MMSYSERR_NOERROR) {
      std::unique_lock lock(slot.mutex);
      slot.done.wait(lock, [&] { return slot.filled; });
      result = slot.result;
    }
    if (result != MMSYSERR_NOERROR) {
      std::lock_guard lock(mutex);
      ports.erase(id * 2 + (input ? 1 : 0));
      return result;
    }
    *handle = id;
    port->Notify(input ? MIM_OPEN : MOM_OPEN, 0, 0);
    return MMSYSERR_NOERROR;
  }

  MMRESULT Close(std::uintptr_t handle, bool input) {
    auto port = Find(handle, input);
    if (!port)
      return MMSYSERR_INVALHANDLE;
    if (const MMRESULT result = port->BeginClose(); result != MMSYSERR_NOERROR)
      return result;
    {
      std::lock_guard lock(mutex);
      ports.erase(handle * 2 + (input ? 1 : 0));
    }
    korvane_webmidi_close(handle);
    port->Notify(input ? MIM_CLOSE : MOM_CLOSE, 0, 0);
    return MMSYSERR_NOERROR;
  }
};

namespace {

template <typename Caps>
MMRESULT FillCaps(bool input, UINT_PTR id, Caps* caps, UINT size) {
  const int count = korvane_webmidi_listed(input ? 1 : 0);
  if (id >= static_cast<UINT_PTR>(count))
    return MMSYSERR_BADDEVICEID;
  if (caps == nullptr)
    return MMSYSERR_INVALPARAM;
  Caps full{};
  full.wMid = 0xFFFF;  // no maker or product id to give: "unmapped"
  full.wPid = 0xFFFF;
  korvane_webmidi_name(input ? 1 : 0, static_cast<int>(id), full.szPname, sizeof(full.szPname));
  std::memcpy(caps, &full, std::min<std::size_t>(size, sizeof(Caps)));
  return MMSYSERR_NOERROR;
}

bool ValidHeader(const MIDIHDR* header, UINT headerSize) {
  return header != nullptr && headerSize >= sizeof(MIDIHDR);
}

WebMidiServices::Impl* gServices = nullptr;

}  // namespace

WebMidiServices::WebMidiServices() : impl_(std::make_unique<Impl>()) {
  gServices = impl_.get();
}

// Ports still open are dropped without callbacks: whoever would receive them is gone too.
WebMidiServices::~WebMidiServices() {
  gServices = nullptr;
}

UINT WebMidiServices::midiInGetNumDevs() {
  return static_cast<UINT>(korvane_webmidi_count(1));
}
UINT WebMidiServices::midiOutGetNumDevs() {
  return static_cast<UINT>(korvane_webmidi_count(0));
}

MMRESULT WebMidiServices::midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps, UINT capsSize) {
  return FillCaps(true, deviceId, caps, capsSize);
}
MMRESULT WebMidiServices::midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps, UINT capsSize) {
  return FillCaps(false, deviceId, caps, capsSize);
}

MMRESULT WebMidiServices::midiInOpen(HMIDIIN* handle, UINT deviceId, DWORD_PTR callback,
                                     DWORD_PTR instance, DWORD flags) {
  std::uintptr_t id = 0;
  const MMRESULT result =
      impl_->Open(handle ? &id : nullptr, true, deviceId, callback, instance, flags);
  if (result == MMSYSERR_NOERROR)
    *handle = reinterpret_cast<HMIDIIN>(id);
  return result;
}

MMRESULT WebMidiServices::midiOutOpen(HMIDIOUT* handle, UINT deviceId, DWORD_PTR callback,
                                      DWORD_PTR instance, DWORD flags) {
  std::uintptr_t id = 0;
  const MMRESULT result =
      impl_->Open(handle ? &id : nullptr, false, deviceId, callback, instance, flags);
  if (result == MMSYSERR_NOERROR)
    *handle = reinterpret_cast<HMIDIOUT>(id);
  return result;
}

MMRESULT WebMidiServices::midiInClose(HMIDIIN handle) {
  return impl_->Close(reinterpret_cast<std::uintptr_t>(handle), true);
}
MMRESULT WebMidiServices::midiOutClose(HMIDIOUT handle) {
  return impl_->Close(reinterpret_cast<std::uintptr_t>(handle), false);
}

MMRESULT WebMidiServices::midiInStart(HMIDIIN handle) {
  auto port = impl_->Find(reinterpret_cast<std::uintptr_t>(handle), true);
  return port ? port->Start() : MMSYSERR_INVALHANDLE;
}
MMRESULT WebMidiServices::midiInStop(HMIDIIN handle) {
  auto port = impl_->Find(reinterpret_cast<std::uintptr_t>(handle), true);
  return port ? port->Stop() : MMSYSERR_INVALHANDLE;
}
MMRESULT WebMidiServices::midiInReset(HMIDIIN handle) {
  auto port = impl_->Find(reinterpret_cast<std::uintptr_t>(handle), true);
  return port ? port->Reset() : MMSYSERR_INVALHANDLE;
}
MMRESULT WebMidiServices::midiOutReset(HMIDIOUT handle) {
  // Sends are done when they return, so nothing is pending to be cut short.
  return impl_->Find(reinterpret_cast<std::uintptr_t>(handle), false) ? MMSYSERR_NOERROR
                                                                      : MMSYSERR_INVALHANDLE;
}

MMRESULT WebMidiServices::midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) {
  auto port = impl_->Find(reinterpret_cast<std::uintptr_t>(handle), true);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->Prepare(*header) : MMSYSERR_INVALPARAM;
}
MMRESULT WebMidiServices::midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) {
  auto port = impl_->Find(reinterpret_cast<std::uintptr_t>(handle), true);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->Unprepare(*header) : MMSYSERR_INVALPARAM;
}
MMRESULT WebMidiServices::midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT headerSize) {
  auto port = impl_->Find(reinterpret_cast<std::uintptr_t>(handle), true);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->AddBuffer(*header) : MMSYSERR_INVALPARAM;
}
MMRESULT WebMidiServices::midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) {
  auto port = impl_->Find(reinterpret_cast<std::uintptr_t>(handle), false);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->Prepare(*header) : MMSYSERR_INVALPARAM;
}
MMRESULT WebMidiServices::midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header,
                                                 UINT headerSize) {
  auto port = impl_->Find(reinterpret_cast<std::uintptr_t>(handle), false);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->Unprepare(*header) : MMSYSERR_INVALPARAM;
}

MMRESULT WebMidiServices::midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) {
  const auto id = reinterpret_cast<std::uintptr_t>(handle);
  auto port = impl_->Find(id, false);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  if (!ValidHeader(header, headerSize))
    return MMSYSERR_INVALPARAM;
  if (const MMRESULT ready = CheckReadyToQueue(*header); ready != MMSYSERR_NOERROR)
    return ready;
  MarkQueued(*header);
  // The browser copies the bytes before the call returns; a port that left
  // the system refuses them.
  if (korvane_webmidi_send(id, header->lpData, static_cast<int>(header->dwBufferLength)) != 0) {
    header->dwFlags &= ~MHDR_INQUEUE;
    return MIDIERR_NODEVICE;
  }
  port->Sent(*header);
  return MMSYSERR_NOERROR;
}

}  // namespace korvane

// Called by webmidi.js on the browser's main thread.
extern "C" {

void korvane_webmidi_opened(void* slot, int result) {
  auto* s = static_cast<korvane::OpenSlot*>(slot);
  {
    std::lock_guard lock(s->mutex);
    s->filled = true;
    s->result = static_cast<MMRESULT>(result);
  }
  s->done.notify_all();
}

void korvane_webmidi_receive(std::uintptr_t handle, const std::uint8_t* data, int length) {
  if (korvane::gServices == nullptr || length <= 0)
    return;
  if (auto port = korvane::gServices->Find(handle, true))
    port->Deliver(data, static_cast<std::size_t>(length));
}
}
