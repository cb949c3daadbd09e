// The other side of the wire for the back-end tests: a client named "Test
// Peer" on the MIDI system under test (JACK or ALSA) with one port that sends
// to us, one named "Test Sink" that receives from us, and a recorder for the
// WinMM-style callbacks our ports make.
#pragma once

#include <rtmidi/RtMidi.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "midi/rtmidi/send_message.h"
#include "midi/winmm.h"

namespace korvane::testing {

// One client per RtMidi object, each under a name of its own so that JACK
// does not rename the second one.
inline constexpr const char* kPeerClient = "Test Peer";
inline constexpr const char* kSinkClient = "Test Sink";
inline constexpr const char* kPeerSource = "Test Peer:to korvane";
inline constexpr const char* kPeerSink = "Test Sink:from korvane";
// Generous: the machine is shared, JACK runs on its own clock, and the ALSA
// tests run in an emulated machine.
inline constexpr auto kArrival = std::chrono::seconds(5);

class Peer {
 public:
  explicit Peer(RtMidi::Api api)
      : out_(std::make_unique<RtMidiOut>(api, kPeerClient)), in_(api, kSinkClient) {
    in_.ignoreTypes(false, true, true);
    in_.setCallback(&Peer::OnMessage, this);
    out_->openVirtualPort("to korvane");
    in_.openVirtualPort("from korvane");
  }

  void Send(const std::vector<unsigned char>& message) {
    rtmidi_backend::SendMessage(*out_, message.data(), message.size());
  }
  // The source port goes away. Closing it is not enough: RtMidi keeps an
  // ALSA client's virtual port until the client goes.
  void CloseSource() { out_.reset(); }

  // Waits for the next message the peer received, or returns nothing.
  std::vector<unsigned char> NextReceived() {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, kArrival, [&] { return !received_.empty(); }))
      return {};
    auto message = received_.front();
    received_.erase(received_.begin());
    return message;
  }

 private:
  static void OnMessage(double, std::vector<unsigned char>* message, void* self) {
    auto* peer = static_cast<Peer*>(self);
    {
      std::lock_guard lock(peer->mutex_);
      peer->received_.push_back(*message);
    }
    peer->arrived_.notify_all();
  }

  // Before the RtMidi objects: JACK's thread may use them as soon as those exist.
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::vector<unsigned char>> received_;
  std::unique_ptr<RtMidiOut> out_;
  RtMidiIn in_;
};

struct Call {
  UINT message;
  DWORD_PTR param1;
  std::thread::id thread;
  DWORD bytesRecorded;  // of the header in param1, read inside the callback
};

// Collects callbacks; the instance value is the recorder itself.
class CallbackRecorder {
 public:
  template <typename Handle>
  static void CALLBACK Proc(Handle handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                            DWORD_PTR) {
    auto* self = reinterpret_cast<CallbackRecorder*>(instance);
    DWORD recorded = 0;
    if (message == MIM_LONGDATA || message == MOM_DONE) {
      recorded = reinterpret_cast<MIDIHDR*>(param1)->dwBytesRecorded;
    }
    {
      std::lock_guard lock(self->mutex_);
      self->calls_.push_back(Call{message, param1, std::this_thread::get_id(), recorded});
    }
    self->changed_.notify_all();
    if constexpr (std::is_same_v<Handle, HMIDIIN>) {
      if (message == MIM_LONGDATA && self->requeue_ != nullptr)
        self->requeue_(handle, param1);
    }
  }

  DWORD_PTR Instance() { return reinterpret_cast<DWORD_PTR>(this); }
  DWORD_PTR InProc() { return reinterpret_cast<DWORD_PTR>(&Proc<HMIDIIN>); }
  DWORD_PTR OutProc() { return reinterpret_cast<DWORD_PTR>(&Proc<HMIDIOUT>); }

  // Called from inside MIM_LONGDATA, as the engine's input callback does.
  void RequeueWith(void (*requeue)(HMIDIIN, DWORD_PTR)) { requeue_ = requeue; }

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
  void (*requeue_)(HMIDIIN, DWORD_PTR) = nullptr;
};

}  // namespace korvane::testing
