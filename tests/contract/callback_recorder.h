// Records the WinMM-style callbacks a port makes, for every MIDI system's
// tests: which message, on which thread, and what the header held then; and
// finds a port by the name it is listed under.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "midi/midi_services.h"

namespace korvane::testing {

// Generous: the machine is shared, JACK runs on its own clock, and the ALSA
// and Wine tests run in an emulated machine.
inline constexpr auto kArrival = std::chrono::seconds(5);

struct Call {
  UINT message;
  DWORD_PTR param1;
  std::thread::id thread;
  DWORD bytesRecorded;              // of the header in param1, read inside the callback
  std::vector<unsigned char> data;  // the bytes it recorded, read there too
};

// Collects callbacks; the instance value is the recorder itself.
class CallbackRecorder {
 public:
  template <typename Handle>
  static void CALLBACK Proc(Handle handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                            DWORD_PTR) {
    auto* self = reinterpret_cast<CallbackRecorder*>(instance);
    Call call{message, param1, std::this_thread::get_id(), 0, {}};
    // An output's header may be gone by its MOM_DONE: only an input's is read.
    if (message == MIM_LONGDATA) {
      const auto* header = reinterpret_cast<const MIDIHDR*>(param1);
      call.bytesRecorded = header->dwBytesRecorded;
      call.data.assign(header->lpData, header->lpData + header->dwBytesRecorded);
    }
    {
      std::lock_guard lock(self->mutex_);
      self->calls_.push_back(std::move(call));
    }
    self->changed_.notify_all();
    if constexpr (std::is_same_v<Handle, HMIDIIN>) {
      if (message == MIM_LONGDATA && self->requeue_)
        self->requeue_(handle, *reinterpret_cast<MIDIHDR*>(param1));
    }
  }

  DWORD_PTR Instance() { return reinterpret_cast<DWORD_PTR>(this); }
  DWORD_PTR InProc() { return reinterpret_cast<DWORD_PTR>(&Proc<HMIDIIN>); }
  DWORD_PTR OutProc() { return reinterpret_cast<DWORD_PTR>(&Proc<HMIDIOUT>); }

  // Called from inside MIM_LONGDATA, as the engine's input callback does.
  // Set before the port opens.
  void RequeueWith(std::function<void(HMIDIIN, MIDIHDR&)> requeue) {
    requeue_ = std::move(requeue);
  }

  // Waits until `count` calls of `message` were seen; false after the time-out.
  bool WaitFor(UINT message, std::size_t count = 1) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kArrival, [&] { return CountLocked(message) >= count; });
  }

  std::size_t Count(UINT message) {
    std::lock_guard lock(mutex_);
    return CountLocked(message);
  }

  std::vector<Call> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::size_t CountLocked(UINT message) const {
    std::size_t n = 0;
    for (const auto& c : calls_)
      n += c.message == message ? 1 : 0;
    return n;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Call> calls_;
  std::function<void(HMIDIIN, MIDIHDR&)> requeue_;
};

// The device number of the port listed as name, after a fresh count; -1 when unlisted.
inline int DeviceNumber(MidiServices& services, bool input, const std::string& name) {
  const UINT count = input ? services.midiInGetNumDevs() : services.midiOutGetNumDevs();
  for (UINT i = 0; i < count; ++i) {
    MIDIINCAPSA in{};
    MIDIOUTCAPSA out{};
    const MMRESULT result = input ? services.midiInGetDevCapsA(i, &in, sizeof in)
                                  : services.midiOutGetDevCapsA(i, &out, sizeof out);
    if (result == MMSYSERR_NOERROR && name == (input ? in.szPname : out.szPname))
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace korvane::testing
