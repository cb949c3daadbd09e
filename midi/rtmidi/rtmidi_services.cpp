#include "midi/rtmidi/rtmidi_services.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>

#include "midi/rtmidi/api_descriptor.h"
#include "midi/rtmidi/api_probe.h"
#include "midi/rtmidi/device_list.h"
#include "midi/rtmidi/input_port.h"
#include "midi/rtmidi/jack_client.h"
#include "midi/rtmidi/output_port.h"
#include "midi/rtmidi/port_lock.h"
#include "midi/rtmidi/port_names.h"
#include "midi/rtmidi/port_teardown.h"

namespace korvane {

using rtmidi_backend::DeviceEntry;
using rtmidi_backend::DeviceList;
using rtmidi_backend::InputPort;
using rtmidi_backend::JackClient;
using rtmidi_backend::OutputPort;
using rtmidi_backend::PortLock;

// Lock order: mutex before any port's own lock; mutex is never held while a
// user callback runs or while a port ends, because a callback on the driver's
// thread may itself call in (midiInAddBuffer) and need it.
struct RtMidiServices::Impl {
  std::mutex mutex;
  DeviceList inputs{true, jack};
  DeviceList outputs{false, jack};
  // Handles are numbers never used twice, so a stale handle is recognised.
  std::uintptr_t nextHandle = 1;
  std::map<std::uintptr_t, std::shared_ptr<InputPort>> openInputs;
  std::map<std::uintptr_t, std::shared_ptr<OutputPort>> openOutputs;
  // Each open port's lock, by handle; released once the port is closed.
  std::map<std::uintptr_t, PortLock> locks;
  // After the open ports: its client ends, and no process cycle or reader
  // uses them, before they go.
  JackClient jack;
  // Last: destroyed first, ending what is queued while what the ends use
  // (jack) still exists.
  rtmidi_backend::PortTeardown teardown;

  // Both directions' open: check, take a handle, open live outside the lock,
  // publish, then call back the open message inside the call.
  template <typename Port, typename Handle, typename Callback>
  MMRESULT Open(Handle* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance, DWORD flags,
                DeviceList& devices, std::map<std::uintptr_t, std::shared_ptr<Port>>& open,
                UINT openMessage) {
    if (handle == nullptr)
      return MMSYSERR_INVALPARAM;
    if (flags != CALLBACK_NULL && flags != CALLBACK_FUNCTION)
      return MMSYSERR_INVALFLAG;
    DeviceEntry entry;
    std::uintptr_t id = 0;
    {
      std::lock_guard lock(mutex);
      if (deviceId >= devices.Entries().size())
        return MMSYSERR_BADDEVICEID;
      entry = devices.Entries()[deviceId];
      id = nextHandle++;
    }
    // Another updater holding the port, or a lock that cannot be taken,
    // answers as WinMM does for a port held elsewhere. Taken before anything
    // is made, so a refused open leaves no trace in the MIDI system.
    PortLock lock;
    const bool input = std::is_same_v<Port, InputPort>;
    const std::string key =
        rtmidi_backend::PortLockKey(rtmidi_backend::Describe(entry.api).key, input, entry.portName);
    if (const MMRESULT locked = rtmidi_backend::LockForOpen(lock, key, entry.portName);
        locked != MMSYSERR_NOERROR) {
      return locked;
    }
    const auto h = reinterpret_cast<Handle>(id);
    const auto function =
        flags == CALLBACK_FUNCTION ? reinterpret_cast<Callback>(callback) : nullptr;
    std::shared_ptr<Port> port;
    try {
      port = std::make_shared<Port>(h, function, instance);
    } catch (...) {
      return MMSYSERR_NOMEM;
    }
    // Making a client can take a while: done outside the lock. A port that
    // did not open is dropped before anyone heard of it: no open or close message.
    const MMRESULT result = port->Open(entry, jack);
    if (result != MMSYSERR_NOERROR)
      return result;
    try {
      std::lock_guard guard(mutex);
      open.emplace(id, port);
      locks.emplace(id, std::move(lock));
    } catch (...) {
      return MMSYSERR_NOMEM;
    }
    *handle = h;
    port->Notify(openMessage, 0, 0);
    return MMSYSERR_NOERROR;
  }

  void ReleaseLock(std::uintptr_t id) {
    std::lock_guard guard(mutex);
    locks.erase(id);
  }

  std::shared_ptr<InputPort> Find(HMIDIIN handle) {
    std::lock_guard lock(mutex);
    auto it = openInputs.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == openInputs.end() ? nullptr : it->second;
  }
  std::shared_ptr<OutputPort> Find(HMIDIOUT handle) {
    std::lock_guard lock(mutex);
    auto it = openOutputs.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == openOutputs.end() ? nullptr : it->second;
  }
};

namespace {

bool ValidHeader(const MIDIHDR* header, UINT headerSize) {
  return header != nullptr && headerSize >= sizeof(MIDIHDR);
}

// WinMM copies as much of the capabilities as the caller's size holds.
template <typename Caps>
MMRESULT FillCaps(const std::vector<DeviceEntry>& entries, UINT_PTR id, Caps* caps, UINT size) {
  if (id >= entries.size())
    return MMSYSERR_BADDEVICEID;
  if (caps == nullptr)
    return MMSYSERR_INVALPARAM;
  Caps full{};
  full.wMid = 0xFFFF;  // no maker or product id to give: "unmapped"
  full.wPid = 0xFFFF;
  rtmidi_backend::CopyProductName(entries[id].deviceName, full.szPname, sizeof(full.szPname));
  std::memcpy(caps, &full, std::min<std::size_t>(size, sizeof(Caps)));
  return MMSYSERR_NOERROR;
}

}  // namespace

RtMidiServices::RtMidiServices() : impl_(std::make_unique<Impl>()) {
  rtmidi_backend::SilenceAlsa();
  rtmidi_backend::SilenceJack();
  std::lock_guard lock(impl_->mutex);
  impl_->inputs.Refresh();
  impl_->outputs.Refresh();
}

// Ports still open are dropped without callbacks: whoever would receive them is gone too.
RtMidiServices::~RtMidiServices() = default;

UINT RtMidiServices::midiInGetNumDevs() {
  std::lock_guard lock(impl_->mutex);
  impl_->inputs.Refresh();
  return static_cast<UINT>(impl_->inputs.Entries().size());
}

UINT RtMidiServices::midiOutGetNumDevs() {
  std::lock_guard lock(impl_->mutex);
  impl_->outputs.Refresh();
  return static_cast<UINT>(impl_->outputs.Entries().size());
}

MMRESULT RtMidiServices::midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps, UINT capsSize) {
  std::lock_guard lock(impl_->mutex);
  return FillCaps(impl_->inputs.Entries(), deviceId, caps, capsSize);
}

MMRESULT RtMidiServices::midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps, UINT capsSize) {
  std::lock_guard lock(impl_->mutex);
  return FillCaps(impl_->outputs.Entries(), deviceId, caps, capsSize);
}

std::string RtMidiServices::SystemName(bool input, UINT_PTR deviceId) {
  std::lock_guard lock(impl_->mutex);
  const auto& entries = input ? impl_->inputs.Entries() : impl_->outputs.Entries();
  if (deviceId >= entries.size())
    return {};
  return std::string(rtmidi_backend::ApiName(entries[deviceId].api)) + ": " +
         entries[deviceId].portName;
}

MMRESULT RtMidiServices::midiInOpen(HMIDIIN* handle, UINT deviceId, DWORD_PTR callback,
                                    DWORD_PTR instance, DWORD flags) {
  return impl_->Open<InputPort, HMIDIIN, MidiInCallback>(
      handle, deviceId, callback, instance, flags, impl_->inputs, impl_->openInputs, MIM_OPEN);
}

MMRESULT RtMidiServices::midiOutOpen(HMIDIOUT* handle, UINT deviceId, DWORD_PTR callback,
                                     DWORD_PTR instance, DWORD flags) {
  return impl_->Open<OutputPort, HMIDIOUT, MidiOutCallback>(
      handle, deviceId, callback, instance, flags, impl_->outputs, impl_->openOutputs, MOM_OPEN);
}

MMRESULT RtMidiServices::midiInClose(HMIDIIN handle) {
  std::shared_ptr<InputPort> port;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->openInputs.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == impl_->openInputs.end())
      return MMSYSERR_INVALHANDLE;
    const MMRESULT result = it->second->BeginClose();
    if (result != MMSYSERR_NOERROR)
      return result;
    port = std::move(it->second);
    impl_->openInputs.erase(it);
  }
  port->CloseAndRelease(impl_->teardown);
  impl_->ReleaseLock(reinterpret_cast<std::uintptr_t>(handle));
  return MMSYSERR_NOERROR;
}

MMRESULT RtMidiServices::midiOutClose(HMIDIOUT handle) {
  std::shared_ptr<OutputPort> port;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->openOutputs.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == impl_->openOutputs.end())
      return MMSYSERR_INVALHANDLE;
    const MMRESULT result = it->second->BeginClose();
    if (result != MMSYSERR_NOERROR)
      return result;
    port = std::move(it->second);
    impl_->openOutputs.erase(it);
  }
  port->CloseAndRelease(impl_->teardown);
  impl_->ReleaseLock(reinterpret_cast<std::uintptr_t>(handle));
  return MMSYSERR_NOERROR;
}

MMRESULT RtMidiServices::midiInStart(HMIDIIN handle) {
  auto port = impl_->Find(handle);
  return port ? port->Start() : MMSYSERR_INVALHANDLE;
}

MMRESULT RtMidiServices::midiInStop(HMIDIIN handle) {
  auto port = impl_->Find(handle);
  return port ? port->Stop() : MMSYSERR_INVALHANDLE;
}

MMRESULT RtMidiServices::midiInReset(HMIDIIN handle) {
  auto port = impl_->Find(handle);
  return port ? port->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT RtMidiServices::midiOutReset(HMIDIOUT handle) {
  auto port = impl_->Find(handle);
  return port ? port->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT RtMidiServices::midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) {
  auto port = impl_->Find(handle);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->Prepare(*header) : MMSYSERR_INVALPARAM;
}

MMRESULT RtMidiServices::midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) {
  auto port = impl_->Find(handle);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->Unprepare(*header) : MMSYSERR_INVALPARAM;
}

MMRESULT RtMidiServices::midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT headerSize) {
  auto port = impl_->Find(handle);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->AddBuffer(*header) : MMSYSERR_INVALPARAM;
}

MMRESULT RtMidiServices::midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) {
  auto port = impl_->Find(handle);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->Prepare(*header) : MMSYSERR_INVALPARAM;
}

MMRESULT RtMidiServices::midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) {
  auto port = impl_->Find(handle);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->Unprepare(*header) : MMSYSERR_INVALPARAM;
}

MMRESULT RtMidiServices::midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) {
  auto port = impl_->Find(handle);
  if (!port)
    return MMSYSERR_INVALHANDLE;
  return ValidHeader(header, headerSize) ? port->LongMsg(*header) : MMSYSERR_INVALPARAM;
}

std::size_t RtMidiServices::LongestMessage(HMIDIOUT handle) {
  auto port = impl_->Find(handle);
  return port ? port->Longest() : kNoKnownLimit;
}

}  // namespace korvane
